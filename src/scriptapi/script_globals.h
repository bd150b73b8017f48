#pragma once
// Records shared by several script functions, built with the function
// registry: the dialog layout that ge_drawtext lays its text out in, the
// four rectangles that rect_const hands out, and the generator behind
// ge_rand and ge_rand_seed. The rectangles and the layout are registered
// script handles of their kinds. (The package builder's state is
// g_package_builder, base/package_builder.h.)
#include "base/text.h"
#include "media/text/dialog_layout.h"
#include "render/rand48.h"

constexpr int kScriptRectCount = 4;

DialogLayout& DrawTextLayout();
Rect* ScriptRects();  // kScriptRectCount rectangles, zeroed at start
Rand48& ScriptRand();
