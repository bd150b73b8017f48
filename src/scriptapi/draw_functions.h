#pragma once
// The 2-D drawing offset that ge_translate sets: added to the positions of
// the script drawing functions (text, rectangles, lines and images), never
// to the clip rectangle or a source-rectangle image draw.
#include <cstdint>

struct ScriptDrawOffset {
    int32_t x = 0;
    int32_t y = 0;
};

ScriptDrawOffset& DrawOffset();
