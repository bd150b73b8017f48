// Script functions that walk what the current scene draws and holds: the
// render list and its order range, the next flare, point or mesh after a
// handle, the next resource record, and a point object's position.
extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "media/resource_manager.h"
#include "render/geometry.h"
#include "scene/game_scene.h"
#include "scene/particle_source.h"
#include "scene/point_object.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"

namespace {

using script_args::PushHandleOrNil;

// point_getposition(point): direction of its view angles times its
// distance; no result for anything but a point object or particle source.
int PointGetPosition(lua_State* L) {
    EObject* o = ScriptArgObject(L, 1);
    if (!o || (o->descriptor != &PointSceneObject::s_descriptor && o->descriptor != &GameParticleSource::s_descriptor))
        return 0;
    const auto* p = static_cast<PointSceneObject*>(o);
    plat::Vec3 d;
    AnglesToDirection(&d, p->x, p->y);
    lua_pushnumber(L, d.x * p->distance);
    lua_pushnumber(L, d.y * p->distance);
    lua_pushnumber(L, d.z * p->distance);
    return 3;
}

// The current scene with its render list rebuilt, or null.
Engine* EngineWithRenderList() {
    Engine* e = CurrentEngine();
    if (!e || !e->currentScene) return nullptr;
    e->BuildRenderList();
    return e;
}

// The table is made before the render list is built: making it may run a
// finaliser that frees what the list would hold.
int GetDrawList(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e || !e->currentScene) return 0;
    lua_createtable(L, static_cast<int>(e->renderListCount), 0);
    e = EngineWithRenderList();
    if (!e) return 0;
    for (uint32_t i = 0; e->renderList && i < e->renderListCount && e->renderList[i]; ++i) {
        lua_pushlightuserdata(L, e->renderList[i]->Handle());
        lua_rawseti(L, -2, static_cast<int>(i + 1));
    }
    return 1;
}

int PushOrder(lua_State* L, bool last) {
    Engine* e = EngineWithRenderList();
    if (!e) return 0;
    const uint32_t n = e->renderList ? e->renderListCount : 0;
    lua_pushnumber(L, n ? e->renderList[last ? n - 1 : 0]->order : 0);
    return 1;
}
int GetOrderMin(lua_State* L) { return PushOrder(L, false); }
int GetOrderMax(lua_State* L) { return PushOrder(L, true); }

// With a live object: the next object of its list. Without an argument:
// the first object of that kind in the current scene. A stale or foreign
// handle gives nil.
int NextOfKind(lua_State* L, SceneObjectKind kind) {
    EObject* next = nullptr;
    if (lua_isnoneornil(L, 1)) {
        Engine* e = CurrentEngine();
        if (e && e->currentScene) next = SceneKindFirst(*e->currentScene, kind);
    } else if (EObject* o = ScriptArgObject(L, 1)) {
        next = SceneListNext(o);
    }
    return PushHandleOrNil(L, next ? next->Handle() : nullptr);
}
int GetNextFx(lua_State* L) { return NextOfKind(L, kSceneKindFx); }
int GetNextPoint(lua_State* L) { return NextOfKind(L, kSceneKindPoints); }
int GetNextMesh(lua_State* L) { return NextOfKind(L, kSceneKindMeshes); }

// ge_getnextresource([record]): the record after a live one, or the first.
int GetNextResource(lua_State* L) {
    ResourceRecord* next = nullptr;
    if (lua_isnoneornil(L, 1))
        next = Resources().First();
    else if (auto* r = static_cast<ResourceRecord*>(ScriptArgHandle(L, 1, ScriptHandleKind::kResource)))
        next = r->next;
    return PushHandleOrNil(L, next);
}

ScriptFunctionRecord r_point_getposition("point_getposition", PointGetPosition);
ScriptFunctionRecord r_getdrawlist("ge_getdrawlist", GetDrawList);
ScriptFunctionRecord r_getordermin("ge_getordermin", GetOrderMin);
ScriptFunctionRecord r_getordermax("ge_getordermax", GetOrderMax);
ScriptFunctionRecord r_getnextfx("ge_getnextfx", GetNextFx);
ScriptFunctionRecord r_getnextpoint("ge_getnextpoint", GetNextPoint);
ScriptFunctionRecord r_getnextmesh("ge_getnextmesh", GetNextMesh);
ScriptFunctionRecord r_getnextresource("ge_getnextresource", GetNextResource);

}  // namespace
