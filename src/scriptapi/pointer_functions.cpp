// Script functions of the pointer and the hotspots under it, of the scene's
// input switches and of the full-screen video.
extern "C" {
#include <lua.h>
}

#include "app/app_window.h"
#include "app/engine.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "script/object_model.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"

namespace {

using script_args::Float;
using script_args::Int;
using script_args::PushHandleOrNil;

HotSpot* HotspotArg(lua_State* L, int i) {
    if (lua_type(L, i) != LUA_TLIGHTUSERDATA) return nullptr;
    EObject* o = ObjectFromHandle(lua_touserdata(L, i));
    return o && o->descriptor == &HotSpot::s_descriptor ? static_cast<HotSpot*>(o) : nullptr;
}

// The last argument as a boolean (nothing given reads as false).
bool LastBool(lua_State* L) { return lua_gettop(L) > 0 && lua_toboolean(L, lua_gettop(L)); }

int GetMouse(lua_State* L) {
    lua_pushnumber(L, g_mouseX);
    lua_pushnumber(L, g_mouseY);
    return 2;
}

int SetMouse(lua_State* L) {
    g_mouseX = Float(L, 1);
    g_mouseY = Float(L, 2);
    return 0;
}

int GetHotspot(lua_State* L) {
    Engine* e = CurrentEngine();
    return PushHandleOrNil(L, e && e->hoveredHotspot ? e->hoveredHotspot->Handle() : nullptr);
}

int GetRealHotspot(lua_State* L) {
    Engine* e = CurrentEngine();
    return PushHandleOrNil(L, e && e->rawPickedHotspot ? e->rawPickedHotspot->Handle() : nullptr);
}

// ge_gethotspotcenter([hotspot]): the centre of its region in the map, or
// of the picked hotspot's; 0, -90 when there is none.
int GetHotspotCenter(lua_State* L) {
    Engine* e = CurrentEngine();
    HotSpot* h = HotspotArg(L, 1);
    if (!h && e && (lua_isnoneornil(L, 1) || (lua_type(L, 1) == LUA_TLIGHTUSERDATA && !lua_touserdata(L, 1))))
        h = e->rawPickedHotspot;
    float yaw = 0, pitch = -90;
    if (h && e && e->currentScene) e->currentScene->GetHotspotDirection(h, &yaw, &pitch);
    lua_pushnumber(L, yaw);
    lua_pushnumber(L, pitch);
    return 2;
}

// ge_gethotspotat(yaw, pitch): the hotspot whose value the map holds there;
// a null handle when the scene has fewer hotspots, nil for an empty cell.
int GetHotspotAt(lua_State* L) {
    Engine* e = CurrentEngine();
    const uint8_t value = e && e->currentScene ? HotspotMapCell(Int(L, 1), Int(L, 2)) : 0;
    if (value == 0) {
        lua_pushnil(L);
        return 1;
    }
    HotSpot* h = e->currentScene->hotspots.head;
    for (uint32_t i = 1; h && i < value; ++i) h = ListNext(h);
    lua_pushlightuserdata(L, h ? h->Handle() : nullptr);
    return 1;
}

int EnableScene(lua_State* L) {
    if (Engine* e = CurrentEngine()) e->sceneInputEnabled = LastBool(L);
    return 0;
}

int EnableHotspotEvents(lua_State* L) {
    if (Engine* e = CurrentEngine()) e->hotspotEventsEnabled = LastBool(L);
    return 0;
}

// ge_playvideo(name, not skippable).
int PlayVideo(lua_State* L) {
    if (Engine* e = CurrentEngine()) e->PlayVideo(script_args::Text(L, 1), lua_toboolean(L, 2) != 0);
    return 0;
}

int StopVideo(lua_State*) {
    if (Engine* e = CurrentEngine()) e->StopVideo();
    return 0;
}

ScriptFunctionRecord s_ge_getmouse("ge_getmouse", GetMouse);
ScriptFunctionRecord s_ge_setmouse("ge_setmouse", SetMouse);
ScriptFunctionRecord s_ge_gethotspot("ge_gethotspot", GetHotspot);
ScriptFunctionRecord s_ge_getrealhotspot("ge_getrealhotspot", GetRealHotspot);
ScriptFunctionRecord s_ge_gethotspotcenter("ge_gethotspotcenter", GetHotspotCenter);
ScriptFunctionRecord s_ge_gethotspotat("ge_gethotspotat", GetHotspotAt);
ScriptFunctionRecord s_enablescene("enablescene", EnableScene);
ScriptFunctionRecord s_enablehotspotevents("enablehotspotevents", EnableHotspotEvents);
ScriptFunctionRecord s_ge_playvideo("ge_playvideo", PlayVideo);
ScriptFunctionRecord s_ge_stopvideo("ge_stopvideo", StopVideo);

}  // namespace
