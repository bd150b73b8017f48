// Script functions that find scene objects by name and list what the
// engine and the current scene hold: objects of each kind by name, the
// names of scenes, meshes, patches and hotspots, a hotspot's children, the
// parent-less global hotspots and every object of a scene.
extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "app/scene_switch.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "script/lua_host.h"
#include "script/object_model.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"
#include "scriptapi/script_results.h"

namespace {

using script_args::PushHandleOrNil;
using script_results::PushNames;
using script_results::Texts;

GameScene* CurrentScene() {
    Engine* e = CurrentEngine();
    return e ? e->currentScene : nullptr;
}

// The object of that name (case ignored) among the scene's objects of one
// kind; null for a null name or scene.
EObject* FindInKind(const GameScene* s, SceneObjectKind kind, const char* name) {
    if (!s || !name) return nullptr;
    for (EObject* o = SceneKindFirst(*s, kind); o; o = SceneListNext(o))
        if (o->name && EqualsNoCase(o->name, name)) return o;
    return nullptr;
}

int PushObject(lua_State* L, EObject* o) { return PushHandleOrNil(L, o ? o->Handle() : nullptr); }

// pobject_get(name): a point object or particle source of the current scene.
int PobjectGet(lua_State* L) {
    return PushObject(L, FindInKind(CurrentScene(), kSceneKindPoints, ScriptArgText(L, 1)));
}

// point_get(name): the same search, refused at once without a name.
int PointGet(lua_State* L) {
    const char* name = ScriptArgText(L, 1);
    return PushObject(L, name ? FindInKind(CurrentScene(), kSceneKindPoints, name) : nullptr);
}

// mesh_get(name): a mesh of the current scene, else an engine object of
// that name whose class is "mesh".
int MeshGet(lua_State* L) {
    const char* name = ScriptArgText(L, 1);
    GameScene* s = CurrentScene();
    if (!name || !s) return PushObject(L, nullptr);
    EObject* found = FindInKind(s, kSceneKindMeshes, name);
    if (!found) {
        EObject* o = ListFindByName(CurrentEngine()->objects, name);
        if (o && IsClass(o, "mesh")) found = o;
    }
    return PushObject(L, found);
}

// patch_get, fx_get: the name is the last argument.
int PatchGet(lua_State* L) {
    return PushObject(L, FindInKind(CurrentScene(), kSceneKindPatches, script_args::LastText(L)));
}
int FxGet(lua_State* L) { return PushObject(L, FindInKind(CurrentScene(), kSceneKindFx, script_args::LastText(L))); }

// hs_get(name): a hotspot of the current scene; the name is the last
// argument.
int HotspotGet(lua_State* L) {
    GameScene* s = CurrentScene();
    return PushObject(L, s ? ListFindByName(s->hotspots, script_args::LastText(L)) : nullptr);
}

// ge_getsceneslist, ge_getmesheslist, ge_getpatcheslist: the names (nil
// when there are none), copied before anything is pushed (see
// script_results.h).
int ScenesList(lua_State* L) {
    Engine* e = CurrentEngine();
    return PushNames(L, Texts::kArrayOrNil, e ? e->scenes.head : nullptr);
}

int KindNames(lua_State* L, SceneObjectKind kind) {
    GameScene* s = CurrentScene();
    return PushNames(L, Texts::kArrayOrNil, s ? SceneKindFirst(*s, kind) : nullptr);
}
int MeshesList(lua_State* L) { return KindNames(L, kSceneKindMeshes); }
int PatchesList(lua_State* L) { return KindNames(L, kSceneKindPatches); }

HotSpot* HotspotArg(lua_State* L, int i) {
    EObject* o = ScriptArgObject(L, i);
    return o && o->descriptor == &HotSpot::s_descriptor ? static_cast<HotSpot*>(o) : nullptr;
}

// The hotspots of the hotspot's own list whose parent it is.
int CountChildren(const HotSpot* parent) {
    int n = 0;
    for (HotSpot* h = parent->owner ? parent->owner->head : nullptr; h; h = ListNext(h)) n += h->parent == parent;
    return n;
}

// ge_gethotspotslist([hotspot]): the hotspot's children in its own list
// (nil when it has none), or the names of the current scene's hotspots.
// Making the table may run a finaliser that frees the hotspot or its
// children: it is looked up again once the table is there, and nothing
// allocates while its list is walked (at most as many children as were
// counted are stored).
int HotspotsList(lua_State* L) {
    if (HotSpot* parent = HotspotArg(L, 1)) {
        const int n = CountChildren(parent);
        if (n == 0) {
            lua_pushnil(L);
            return 1;
        }
        lua_createtable(L, n, 0);
        int i = 0;
        if ((parent = HotspotArg(L, 1)))
            for (HotSpot* h = parent->owner ? parent->owner->head : nullptr; h && i < n; h = ListNext(h)) {
                if (h->parent != parent) continue;
                lua_pushlightuserdata(L, h->Handle());
                lua_rawseti(L, -2, ++i);
            }
        if (i == 0) {
            lua_pop(L, 1);
            lua_pushnil(L);
        }
        return 1;
    }
    GameScene* s = CurrentScene();
    return PushNames(L, Texts::kArray, s ? s->hotspots.head : nullptr);
}

// ge_getglobalhotspotslist(): the global hotspots without a parent. The
// list is walked only once the table is made (making it may run a
// finaliser that removes hotspots).
int GlobalHotspotsList(lua_State* L) {
    Engine* e = CurrentEngine();
    int n = 0;
    for (HotSpot* h = e ? e->globalHotspots.head : nullptr; h; h = ListNext(h)) n += h->parent == nullptr;
    lua_createtable(L, n, 0);
    int i = 0;
    for (HotSpot* h = e ? e->globalHotspots.head : nullptr; h; h = ListNext(h)) {
        if (h->parent) continue;
        lua_pushlightuserdata(L, h->Handle());
        lua_rawseti(L, -2, ++i);
    }
    return 1;
}

// The scene of ge_getsceneobjectslist's argument: a scene name, or the
// current scene without one.
GameScene* ListedScene(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return nullptr;
    return lua_type(L, 1) == LUA_TSTRING ? ListFindByName(e->scenes, lua_tostring(L, 1)) : e->currentScene;
}

// ge_getsceneobjectslist([scene name]): every object of the scene, in the
// order hotspots, points, fx, patches, meshes, surfaces, cube faces, pages.
// The table is made first, as big as the scene's objects were then; making
// it may run a finalizer that frees objects or the scene, so the scene is
// looked up again (without an argument the table stands in its place, and
// reads as no name as well) and its objects walked with no Lua call
// between. At most as many handles as the table was made for are stored,
// so storing them allocates nothing.
int SceneObjectsList(lua_State* L) {
    int n = 0;
    if (const GameScene* s = ListedScene(L))
        for (int k = 0; k < kSceneListCount; ++k)
            for (EObject* o = SceneListFirst(*s, static_cast<SceneList>(k)); o; o = SceneListNext(o)) ++n;
    lua_createtable(L, n, 0);
    int i = 0;
    if (const GameScene* s = ListedScene(L))
        for (int k = 0; k < kSceneListCount; ++k)
            for (EObject* o = SceneListFirst(*s, static_cast<SceneList>(k)); o && i < n; o = SceneListNext(o)) {
                lua_pushlightuserdata(L, o->Handle());
                lua_rawseti(L, -2, ++i);
            }
    return 1;
}

ScriptFunctionRecord r_pobject_get("pobject_get", PobjectGet);
ScriptFunctionRecord r_point_get("point_get", PointGet);
ScriptFunctionRecord r_mesh_get("mesh_get", MeshGet);
ScriptFunctionRecord r_patch_get("patch_get", PatchGet);
ScriptFunctionRecord r_fx_get("fx_get", FxGet);
ScriptFunctionRecord r_hs_get("hs_get", HotspotGet);
ScriptFunctionRecord r_sceneslist("ge_getsceneslist", ScenesList);
ScriptFunctionRecord r_mesheslist("ge_getmesheslist", MeshesList);
ScriptFunctionRecord r_patcheslist("ge_getpatcheslist", PatchesList);
ScriptFunctionRecord r_hotspotslist("ge_gethotspotslist", HotspotsList);
ScriptFunctionRecord r_globalhotspotslist("ge_getglobalhotspotslist", GlobalHotspotsList);
ScriptFunctionRecord r_sceneobjectslist("ge_getsceneobjectslist", SceneObjectsList);

}  // namespace
