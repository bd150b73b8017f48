#include "scene/scene_page.h"

#include <cmath>
#include <new>

#include "app/app_window.h"
#include "app/engine.h"
#include "media/image/draw2d.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "render/color.h"
#include "scene/game_scene.h"
#include "script/script_var.h"

ClassDescriptor ScenePage::s_descriptor;

namespace {
ScenePage::ScenePage_Initializer g_page_initializer;

constexpr int kVkLeft = 37, kVkUp = 38, kVkRight = 39, kVkDown = 40, kVkLeftShift = 160;
}  // namespace

ScenePage::ScenePage_Initializer::ScenePage_Initializer() : EObject_Initializer(&ScenePage::s_descriptor) {}

EObject* ScenePage::ScenePage_Initializer::Create() {
    void* block = ScenePage::operator new(sizeof(ScenePage));
    return block ? ::new (block) ScenePage() : nullptr;
}

void ScenePage::ScenePage_Initializer::RegisterProperties() {
    ClassDescriptor& d = ScenePage::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&ScenePage::name));
    d.AddProperty("image", kPropertyImage, ObjectFieldOffset(&ScenePage::image));
    d.AddProperty("x", kPropertyInt, ObjectFieldOffset(&ScenePage::x));
    d.AddProperty("y", kPropertyInt, ObjectFieldOffset(&ScenePage::y));
    d.AddConstant("class", "page");
    d.AddProperty("bgcolor", kPropertyColor, ObjectFieldOffset(&ScenePage::bgcolor));
    d.AddProperty("order", kPropertyInt, ObjectFieldOffset(&ScenePage::order));
}

ScenePage::ScenePage() : EObject(&s_descriptor) {}

uint32_t PageTurnAlpha(int32_t elapsed_ms, float fade_ms) {
    // Truncated as the fade time always was; NaN and 0 or less end the fade.
    const double fade = std::isnan(fade_ms) ? 0.0 : std::trunc(double(fade_ms));
    if (!(fade >= 1.0)) return 255;
    int64_t a = int64_t(elapsed_ms) * 255 / int64_t(std::fmin(fade, 9.0e18));
    return uint32_t(a < 0 ? 0 : a > 255 ? 255 : a);
}

void ScenePage::Render() {
    Engine* e = CurrentEngine();
    GameScene* scene = e ? e->currentScene : nullptr;
    if (!scene || scene->currentPage != this) return;
    const uint32_t ambient = e->ambientColor;
    const Rect& screen = e->virtualRect;
    if (Texture* t = Resources().GetImage(image))
        t->DrawAt(x, y, ambient, 0);
    else
        FillRect(0, 0, screen.w, screen.h, bgcolor);

    ScenePage* next = scene->nextPage;
    if (e->pageTurn == 0 || !next) return;
    const uint32_t alpha = PageTurnAlpha(e->pageTurnTime, g_page_fx_time.Get());
    if (Texture* t = Resources().GetImage(next->image))
        t->DrawAt(next->x, next->y, ModulateColor(alpha << 24 | 0xFFFFFFu, ambient), 0);
    else
        FillRect(0, 0, screen.w, screen.h, (next->bgcolor & 0xFFFFFFu) | alpha << 24);
}

void ScenePage::EditorInput(int key, int wheel) {
    (void)wheel;
    const int step = g_keyTable[kVkLeftShift] ? 16 : 1;
    switch (key) {
        case kVkLeft: x -= step; break;
        case kVkRight: x += step; break;
        case kVkUp: y -= step; break;
        case kVkDown: y += step; break;
        default: return;
    }
    if (Engine* e = CurrentEngine()) e->sceneModified = true;
}
