// Script functions of the keys, the mouse buttons and sensitivity, the
// scene-input switch, the frozen frame and the cursor image.
extern "C" {
#include <lua.h>
}

#include "app/app_window.h"
#include "app/engine.h"
#include "media/resource_manager.h"
#include "platform/window.h"
#include "scene/game_scene.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"

namespace {

using script_args::Float;
using script_args::Int;

// The motion-blur bit of the post-effect flags.
constexpr uint32_t kMotionBlurBit = 1;

// freezescene(on): true captures the next frame and keeps showing it;
// false lets the scene run again and restarts the motion blur.
int FreezeScene(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    if (lua_toboolean(L, 1)) {
        e->freezeState = 1;
    } else if (e->freezeState != 0) {
        e->freezeState = 0;
        e->postFxLast &= ~kMotionBlurBit;
    }
    return 0;
}

int IsSceneEnabled(lua_State* L) {
    Engine* e = CurrentEngine();
    lua_pushboolean(L, e && e->sceneInputEnabled);
    return 1;
}

// ge_getkey(vk): true while the key is down; codes outside 0..255 name no
// key.
int GetKey(lua_State* L) {
    const int vk = Int(L, 1);
    lua_pushboolean(L, vk >= 0 && vk <= 255 && (plat::GetKeyState(vk) & 0x80) != 0);
    return 1;
}

int GetMouseButton(lua_State* L) {
    Engine* e = CurrentEngine();
    lua_pushnumber(L, e ? e->buttonsDown : 0);
    return 1;
}

int SetMouseButton(lua_State* L) {
    if (Engine* e = CurrentEngine()) e->buttonsDown = static_cast<uint32_t>(Int(L, 1));
    return 0;
}

int SetMouseSense(lua_State* L) {
    g_mouseSensitivity = Float(L, 1);
    return 0;
}

// ge_getcursor(): the current scene's cursor image, else the main icon; a
// null handle when there is no such image.
int GetCursor(lua_State* L) {
    Engine* e = CurrentEngine();
    ResourceRecord* r = e && e->currentScene ? e->currentScene->cursor : nullptr;
    if (!r) r = Resources().DeclareImage("data/icons/main", 0);
    lua_pushlightuserdata(L, r);
    return 1;
}

ScriptFunctionRecord r_freezescene("freezescene", FreezeScene);
ScriptFunctionRecord r_issceneenabled("issceneenabled", IsSceneEnabled);
ScriptFunctionRecord r_getkey("ge_getkey", GetKey);
ScriptFunctionRecord r_getmousebutton("ge_getmousebutton", GetMouseButton);
ScriptFunctionRecord r_setmousebutton("ge_setmousebutton", SetMouseButton);
ScriptFunctionRecord r_setmousesense("ge_setmousesense", SetMouseSense);
ScriptFunctionRecord r_getcursor("ge_getcursor", GetCursor);

}  // namespace
