#include "app/engine_input.h"

#include <string>

extern "C" {
#include <lua.h>
}

#include "app/app_window.h"
#include "app/console.h"
#include "app/engine.h"
#include "base/log.h"
#include "base/text.h"
#include "media/resource_manager.h"
#include "render/camera.h"
#include "render/geometry.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "scene/scene_page.h"
#include "script/engine_work.h"
#include "script/lua_host.h"
#include "script/script_watch.h"

namespace {

constexpr int kVkTab = 9;

MeshRayTest g_mesh_ray_test = nullptr;

bool IsPageScene(const Engine* e) { return e->currentScene && e->currentScene->viewtype == kViewPage; }

// A hotspot handler "<name>_<event>", looked up by its full name through
// the API, so that a name holding "%" or "(" reaches the right global, and
// its arguments: the numbers, or the hotspot's name.
struct HotspotCall {
    const char* handler;
    const char* name;  // the one argument, or null for the three numbers
    double x, y;
    int32_t buttons;
};

int PushHotspotCall(lua_State* L, void* context) {
    const HotspotCall& c = *static_cast<const HotspotCall*>(context);
    if (!ScriptPushGlobal(L, c.handler) || lua_type(L, -1) != LUA_TFUNCTION) return 0;
    if (c.name) {
        lua_pushstring(L, c.name);
        return 2;
    }
    lua_pushnumber(L, c.x);
    lua_pushnumber(L, c.y);
    lua_pushnumber(L, c.buttons);
    return 4;
}

// A failed handler is logged with its whole call signature, as any other
// script call is: "door_MouseDown(%d,%d,%d)". The lookup and the pushes run
// protected: they may run a collection step. The hotspot is not read once
// Lua has run (its name is interned for good): a caller that holds it
// across the call holds it as engine work.
void CallHotspot(const HotSpot* h, const char* event, const char* arguments, HotspotCall call) {
    lua_State* L = ScriptState();
    if (!L || !h->name) return;
    const std::string handler = std::string(h->name) + "_" + event;
    const std::string signature = handler + arguments;
    call.handler = handler.c_str();
    const int pushed = ScriptPushProtected(L, PushHotspotCall, &call, signature.c_str());
    if (pushed <= 0) return;
    ScriptCallWatch watch(handler.c_str(), handler.size(), "(...)");
    if (ScriptPcall(L, pushed - 1, 0) != 0) {
        if (ScriptErrorWorthLogging())
            LogPrintf("[LUA RT ERROR in %s] : %s", signature.c_str(), ScriptErrorText(L, -1).c_str());
        lua_pop(L, 1);
    }
}

void CallHotspotXyb(const HotSpot* h, const char* event, const char* arguments, double x, double y,
                    int32_t buttons) {
    CallHotspot(h, event, arguments, HotspotCall{nullptr, nullptr, x, y, buttons});
}

void CallHotspotName(const HotSpot* h, const char* event) {
    CallHotspot(h, event, "(%s)", HotspotCall{nullptr, h->name, 0, 0, 0});
}

constexpr const char* kPointArguments = "(%d,%d,%d)";
constexpr const char* kAngleArguments = "(%f,%f,%d)";

// Set while the key that just made the console visible may still send its
// character: that character is not typed into the edit line.
bool g_consoleKeyCharPending = false;

// The hotspot's absolute origin, truncated.
void Origin(const HotSpot* h, int32_t* x, int32_t* y) {
    float r[4];
    h->GetAbsoluteRect(r);
    *x = SaturateToInt(r[0]);
    *y = SaturateToInt(r[1]);
}

// The rectangle placed after its ancestors (a child's rectangle is
// relative to its parent's), unscaled.
bool ScreenContains(const HotSpot* h, int32_t x, int32_t y) {
    int64_t r0 = h->rect[0], r1 = h->rect[1];
    int depth = 0;
    for (const HotSpot* p = h->parent; p && depth < 64; p = p->parent, ++depth) r0 += p->rect[0], r1 += p->rect[1];
    return x >= r0 && x < r0 + h->rect[2] && y >= r1 && y < r1 + h->rect[3];
}

// The pointer ray of a scene: from the origin along the pointer's view
// direction in a cube scene, else between its unprojections at depth 0
// and 1.
void PointerRay(const Engine* e, int32_t x, int32_t y, plat::Vec3* origin, plat::Vec3* dir) {
    if (e->currentScene && e->currentScene->viewtype == kViewCube) {
        *origin = {0, 0, 0};
        AnglesToDirection(dir, g_pointerYaw, g_pointerPitch);
        return;
    }
    *origin = {0, 0, 0};
    *dir = {0, 0, 1};
    if (const Camera* cam = e->activeCamera) {
        plat::Vec3 far_point;
        cam->Unproject(origin, x, y, 0.0f);
        cam->Unproject(&far_point, x, y, 1.0f);
        *dir = {far_point.x - origin->x, far_point.y - origin->y, far_point.z - origin->z};
    }
}

bool PageMatches(const GameScene* s, const HotSpot* h) {
    if (h->page == 0) return true;
    int32_t place = 1;
    for (const ScenePage* p = s->pages.head; p; p = ListNext(p), ++place)
        if (p == s->currentPage) return h->page == place;
    return false;
}

}  // namespace

void SetMeshRayTest(MeshRayTest fn) { g_mesh_ray_test = fn; }

void Engine::GetMousePos(int32_t* x, int32_t* y) const {
    int32_t mx = SaturateToInt(g_mouseX), my = SaturateToInt(g_mouseY);
    if (IsPageScene(this)) {
        ScreenToVirtual(&mx, &my);
        if (mx > virtualRect.w) mx = virtualRect.w;
        if (my > virtualRect.h) my = virtualRect.h;
    }
    if (x) *x = mx;
    if (y) *y = my;
}

void Engine::OnKeyDown(int key) {
    g_consoleKeyCharPending = false;
    if (currentVideo && !videoNotSkippable) {
        StopVideo();
        return;
    }
    const bool console_was_visible = g_console && g_console->IsVisible();
    if (console_was_visible && g_console->OnKey(key)) return;
    if (GameHandlerBits() & 0x01) ScriptCall("OnGameKeyDown(%d)", key);
    if (currentScene && (currentScene->handlerBits & 0x01)) ScriptCall("OnSceneKeyDown(%d)", key);
    // A handler that opened the console with this key: the key's own
    // character, which follows, is not typed into it.
    g_consoleKeyCharPending = !console_was_visible && g_console && g_console->IsVisible();
}

void Engine::OnKeyUp(int key) {
    g_consoleKeyCharPending = false;
    if (GameHandlerBits() & 0x02) ScriptCall("OnGameKeyUp(%d)", key);
    if (currentScene && (currentScene->handlerBits & 0x02)) ScriptCall("OnSceneKeyUp(%d)", key);
}

void Engine::OnChar(int code) {
    if (g_console && g_console->IsVisible()) {
        if (!g_consoleKeyCharPending) g_console->OnChar(code);
        g_consoleKeyCharPending = false;
        return;
    }
    ScriptCall("OnGameCharTyped(%d)", code & 0xFF);
}

void Engine::OnMouseWheel(int delta) { ScriptCall("OnGameMouseWheel(%d)", delta); }

void Engine::OnMouseDown(int x, int y, int button) {
    buttonsDown |= uint32_t(button);
    if (currentVideo && !videoNotSkippable) {
        StopVideo();
        return;
    }
    if (editorMode != 0) {
        if (positionMode) {
            positionMode = 0;
            return;
        }
        if (!g_keyTable[kVkTab]) return;
    }
    int32_t vx = x, vy = y;
    if (IsPageScene(this)) ScreenToVirtual(&vx, &vy);
    if (GameHandlerBits() & 0x08) ScriptCall("OnGameMouseDown(%d,%d,%d)", vx, vy, button);
    if (!currentScene || sequenceRunning) return;
    if ((currentScene->handlerBits & 0x08) && sceneInputEnabled)
        ScriptCall("OnSceneMouseDown(%d,%d,%d)", vx, vy, button);
    // A handler may have switched the scene away.
    if (!currentScene) return;
    pressedHotspot = PickHotspot(SaturateToInt(g_mouseX), SaturateToInt(g_mouseY));
    if (HotSpot* h = pressedHotspot; h && (h->event_flags & kHotspotMouseDown)) {
        int32_t ox, oy;
        Origin(h, &ox, &oy);
        CallHotspotXyb(h, "MouseDown", kPointArguments, double(int64_t(vx) - ox), double(int64_t(vy) - oy), button);
    }
}

void Engine::OnMouseUp(int x, int y, int button) {
    buttonsDown &= ~uint32_t(button);
    if (editorMode != 0 && !g_keyTable[kVkTab]) return;
    int32_t vx = x, vy = y;
    if (IsPageScene(this)) ScreenToVirtual(&vx, &vy);
    if (GameHandlerBits() & 0x10) ScriptCall("OnGameMouseUp(%d,%d,%d)", vx, vy, button);
    if (!currentScene || sequenceRunning) return;
    if ((currentScene->handlerBits & 0x10) && sceneInputEnabled)
        ScriptCall("OnSceneMouseUp(%d,%d,%d)", vx, vy, button);
    if (HotSpot* h = hoveredHotspot; h && (h->event_flags & kHotspotMouseUp)) {
        int32_t ox, oy;
        Origin(h, &ox, &oy);
        CallHotspotXyb(h, "MouseUp", kPointArguments, double(int64_t(vx) - ox), double(int64_t(vy) - oy), button);
    }
    // The handlers above may have deleted either hotspot: the engine's
    // pointers are cleared then, so this compares live objects only.
    // Only the left button's release ends the press: another button
    // pressed and released meanwhile leaves the click to come.
    if (button != 1) return;
    HotSpot* pressed = pressedHotspot;
    pressedHotspot = nullptr;
    if (pressed && pressed == hoveredHotspot) ScriptCall("OnGameHotspotClick(%p)", pressed->Handle());
}

void Engine::UpdateHover() {
    if (sequenceRunning || !currentScene) return;
    // The hotspots below are held across the handlers: what those free is
    // released when this ends, and a hotspot is found again by its handle.
    EngineWork work;
    int32_t x = 0, y = 0;
    GetMousePos(&x, &y);
    HotSpot* const previous = hoveredHotspot;
    const HeldObject held_previous(previous);
    hoveredHotspot = PickHotspot(SaturateToInt(g_mouseX), SaturateToInt(g_mouseY));
    if (HotSpot* h = hoveredHotspot; h && (h->event_flags & kHotspotMouseMove)) {
        if (h->hs_type == kHotspotRect) {
            int32_t ox, oy;
            Origin(h, &ox, &oy);
            CallHotspotXyb(h, "MouseMove", kPointArguments, double(int64_t(x) - ox), double(int64_t(y) - oy), int32_t(buttonsDown));
        } else {
            CallHotspotXyb(h, "MouseMove", kAngleArguments, g_pointerYaw, g_pointerPitch, int32_t(buttonsDown));
        }
    }
    if (hoveredHotspot != previous) {
        HotSpot* const now = hoveredHotspot;
        const HeldObject held_now(now);
        if (previous) {
            ScriptCall("OnGameMouseLeave(%p)", previous->Handle());
            // The handlers may have deleted it, and made others.
            if (held_previous.Get() && IsListedHotspot(previous) && (previous->event_flags & kHotspotMouseLeave))
                CallHotspotName(previous, "MouseLeave");
        }
        if (now && held_now.Get() && now == hoveredHotspot) {
            if (now->snd_enter) PlaySound(now->snd_enter, false, 0);
            ScriptCall("OnGameMouseEnter(%p)", now->Handle());
            if (held_now.Get() && now == hoveredHotspot && (now->event_flags & kHotspotMouseEnter))
                CallHotspotName(now, "MouseEnter");
        }
    }
    if (currentScene && (currentScene->handlerBits & 0x04) && sceneInputEnabled)
        ScriptCall("OnSceneMouseMove(%d,%d,%d)", x, y, int32_t(buttonsDown));
}

HotSpot* Engine::PickHotspot(int32_t x, int32_t y) {
    GameScene* s = currentScene;
    const uint32_t cell = s ? s->HotspotAtView() : 0;
    rawPickedHotspot = nullptr;
    for (HotSpot* g = globalHotspots.head; g; g = ListNext(g))
        if (!g->parent)
            if (HotSpot* hit = g->HitTest(x, y)) rawPickedHotspot = hit;
    if (rawPickedHotspot) return rawPickedHotspot;
    if (!sceneInputEnabled || !s) return nullptr;
    if (cell != 0) {
        HotSpot* h = s->hotspots.head;
        for (uint32_t i = 1; h && i < cell; ++i) h = ListNext(h);
        if (h && h->hs_type != kHotspotMap) return nullptr;
        if (h && h->enabled) rawPickedHotspot = h;
    }
    if (pageTurn != 0) return nullptr;
    int32_t vx = x, vy = y;
    if (s->viewtype == kViewPage) ScreenToVirtual(&vx, &vy);
    for (EObject** p = renderList; p && *p; ++p) {
        if ((*p)->descriptor != &HotSpot::s_descriptor) continue;
        auto* h = static_cast<HotSpot*>(*p);
        if (!HotSpot::IsVisible(h) || !HotSpot::IsEnabled(h) || !PageMatches(s, h)) continue;
        if (!h->object) {
            if (h->hs_type != kHotspotRect) continue;
            const bool cube = s->viewtype == kViewCube;
            if (ScreenContains(h, cube ? x : vx, cube ? y : vy)) rawPickedHotspot = h;
        } else if (g_mesh_ray_test) {
            EObject* mesh = nullptr;
            for (EObject* m = SceneListFirst(*s, kSceneListMeshes); m; m = SceneListNext(m))
                if (m->name && EqualsNoCase(m->name, h->object)) {
                    mesh = m;
                    break;
                }
            if (!mesh) continue;
            plat::Vec3 origin, dir;
            PointerRay(this, x, y, &origin, &dir);
            if (g_mesh_ray_test(mesh, origin, dir)) rawPickedHotspot = h;
        }
    }
    return hotspotEventsEnabled ? rawPickedHotspot : nullptr;
}

bool IsListedHotspot(const HotSpot* hotspot) {
    Engine* e = CurrentEngine();
    if (!e || !hotspot) return false;
    for (HotSpot* h = e->globalHotspots.head; h; h = ListNext(h))
        if (h == hotspot) return true;
    if (e->currentScene)
        for (HotSpot* h = e->currentScene->hotspots.head; h; h = ListNext(h))
            if (h == hotspot) return true;
    return false;
}

// The window's callbacks.
void EngineOnKeyDown(int key) {
    if (Engine* e = CurrentEngine()) e->OnKeyDown(key);
}
void EngineOnKeyUp(int key) {
    if (Engine* e = CurrentEngine()) e->OnKeyUp(key);
}
void EngineOnChar(int code) {
    if (Engine* e = CurrentEngine()) e->OnChar(code);
}
void EngineOnMouseWheel(int delta) {
    if (Engine* e = CurrentEngine()) e->OnMouseWheel(delta);
}
void EngineOnMouseDown(int x, int y, int button) {
    if (Engine* e = CurrentEngine()) e->OnMouseDown(x, y, button);
}
void EngineOnMouseUp(int x, int y, int button) {
    if (Engine* e = CurrentEngine()) e->OnMouseUp(x, y, button);
}

void InstallEngineInputCallbacks() {
    g_inputCallbacks.keyDown = EngineOnKeyDown;
    g_inputCallbacks.keyUp = EngineOnKeyUp;
    g_inputCallbacks.character = EngineOnChar;
    g_inputCallbacks.mouseDown = EngineOnMouseDown;
    g_inputCallbacks.mouseUp = EngineOnMouseUp;
    g_inputCallbacks.mouseMove = [](int, int, int) {};
    g_inputCallbacks.wheel = EngineOnMouseWheel;
}
