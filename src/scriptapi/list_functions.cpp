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

namespace {

using script_args::PushHandleOrNil;

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

// Pushes an array of the names of the objects from first on; nil when
// there are none. A nameless object lists as "".
template <class T, class Next>
int PushNames(lua_State* L, T* first, Next next, bool nil_when_empty) {
    int n = 0;
    for (T* o = first; o; o = next(o)) ++n;
    if (n == 0 && nil_when_empty) {
        lua_pushnil(L);
        return 1;
    }
    lua_createtable(L, n, 0);
    int i = 0;
    for (T* o = first; o; o = next(o)) {
        lua_pushstring(L, o->name ? o->name : "");
        lua_rawseti(L, -2, ++i);
    }
    return 1;
}

int ScenesList(lua_State* L) {
    Engine* e = CurrentEngine();
    return PushNames(L, e ? e->scenes.head : nullptr, [](GameScene* s) { return ListNext(s); }, true);
}

int KindNames(lua_State* L, SceneObjectKind kind) {
    GameScene* s = CurrentScene();
    return PushNames(L, s ? SceneKindFirst(*s, kind) : nullptr, SceneListNext, true);
}
int MeshesList(lua_State* L) { return KindNames(L, kSceneKindMeshes); }
int PatchesList(lua_State* L) { return KindNames(L, kSceneKindPatches); }

HotSpot* HotspotArg(lua_State* L, int i) {
    EObject* o = ScriptArgObject(L, i);
    return o && o->descriptor == &HotSpot::s_descriptor ? static_cast<HotSpot*>(o) : nullptr;
}

// ge_gethotspotslist([hotspot]): the hotspot's children in its own list
// (nil when it has none), or the names of the current scene's hotspots.
int HotspotsList(lua_State* L) {
    if (HotSpot* parent = HotspotArg(L, 1)) {
        ObjectList<HotSpot>* list = parent->owner;
        int n = 0;
        for (HotSpot* h = list ? list->head : nullptr; h; h = ListNext(h)) n += h->parent == parent;
        if (n == 0) {
            lua_pushnil(L);
            return 1;
        }
        lua_createtable(L, n, 0);
        int i = 0;
        for (HotSpot* h = list->head; h; h = ListNext(h)) {
            if (h->parent != parent) continue;
            lua_pushlightuserdata(L, h->Handle());
            lua_rawseti(L, -2, ++i);
        }
        return 1;
    }
    GameScene* s = CurrentScene();
    return PushNames(L, s ? s->hotspots.head : nullptr, [](HotSpot* h) { return ListNext(h); }, false);
}

// ge_getglobalhotspotslist(): the global hotspots without a parent.
int GlobalHotspotsList(lua_State* L) {
    Engine* e = CurrentEngine();
    HotSpot* first = e ? e->globalHotspots.head : nullptr;
    int n = 0;
    for (HotSpot* h = first; h; h = ListNext(h)) n += h->parent == nullptr;
    lua_createtable(L, n, 0);
    int i = 0;
    for (HotSpot* h = first; h; h = ListNext(h)) {
        if (h->parent) continue;
        lua_pushlightuserdata(L, h->Handle());
        lua_rawseti(L, -2, ++i);
    }
    return 1;
}

// ge_getsceneobjectslist([scene name]): every object of the scene, in the
// order hotspots, points, fx, patches, meshes, surfaces, cube faces, pages.
int SceneObjectsList(lua_State* L) {
    Engine* e = CurrentEngine();
    GameScene* s = nullptr;
    if (e) s = lua_type(L, 1) == LUA_TSTRING ? ListFindByName(e->scenes, lua_tostring(L, 1)) : e->currentScene;
    SceneObjectChain chain;
    CollectSceneObjects(s, chain);
    int n = 0;
    for (SceneObjectRecord* r = chain.head; r; r = r->link) ++n;
    lua_createtable(L, n, 0);
    int i = 0;
    for (SceneObjectRecord* r = chain.head; r; r = r->link) {
        lua_pushlightuserdata(L, r->handle);
        lua_rawseti(L, -2, ++i);
    }
    FreeSceneObjectChain(chain);
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
