// Script functions of scene nodes: addressing (scene_get, scene_create),
// their cube-face sets, resetting and unloading scenes, the scene's name
// and kind, the script scope, reloading and the walk offset.
extern "C" {
#include <lua.h>
}

#include <cstring>

#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "base/string_pool.h"
#include "scene/cube_faces.h"
#include "scene/game_scene.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "scriptapi/scene_constructors.h"
#include "scriptapi/script_args.h"

namespace {

// Scenes are not deleted or reloaded under a node switch, a scene load or
// the scene's drawing, which go on using the scene after the script
// returns.
bool RefusedDuringSceneChange(const char* function) {
    if (!SceneChangeRunning()) return false;
    LogPrintf("[WARNING] : %s refused while a scene is switched, loaded or drawn", function);
    return true;
}

using script_args::Float;
using script_args::Int;

GameScene* CurrentScene() {
    Engine* e = CurrentEngine();
    return e ? e->currentScene : nullptr;
}

GameScene* SceneArg(lua_State* L, int i) {
    EObject* o = ScriptArgObject(L, i);
    return o && o->descriptor == &GameScene::s_descriptor ? static_cast<GameScene*>(o) : nullptr;
}

// scene_get(name | n): the scene of that name (nil when absent), or for
// n <= 0 the current scene's (-n)-th ancestor, the tree's root node above a
// top-level scene; a null handle when the chain runs out, for n > 0 and
// without a current scene.
int Get(lua_State* L) {
    Engine* e = CurrentEngine();
    if (lua_type(L, 1) == LUA_TSTRING) {
        GameScene* s = e ? ListFindByName(e->scenes, lua_tostring(L, 1)) : nullptr;
        return script_args::PushHandleOrNil(L, s ? s->Handle() : nullptr);
    }
    const int n = Int(L, 1);
    GameScene* s = n <= 0 ? CurrentScene() : nullptr;
    // The tree is no deeper than a scene name has components; a longer walk
    // has run out.
    int steps = 0;
    for (int64_t up = -int64_t(n); s && up > 0; --up)
        s = ++steps <= static_cast<int>(kSceneNameBuffer) ? s->parent : nullptr;
    lua_pushlightuserdata(L, s ? s->Handle() : nullptr);
    return 1;
}

// The scene name of a script: lower case, "/" for every "\", interned; null
// for no name or one longer than a scene name may be.
const char* SceneNameArg(lua_State* L, int i) {
    const char* name = script_args::Text(L, i);
    if (!name || !*name) return nullptr;
    const size_t n = std::strlen(name);
    if (n >= kSceneNameBuffer) return nullptr;
    char copy[kSceneNameBuffer];
    for (size_t k = 0; k < n; ++k) {
        char c = name[k];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        copy[k] = c == '\\' ? '/' : c;
    }
    return CommonStrings().InternBytes(copy, n);
}

// scene_create(name): finds or appends the scene and hangs it in the node
// tree.
int Create(lua_State* L) {
    Engine* e = CurrentEngine();
    const char* name = SceneNameArg(L, 1);
    if (!e || !name) return 0;
    if (GameScene* s = ListFindOrAddGameScene(e->scenes, name)) s->AttachToNodeTree();
    return 0;
}

// The name is read before the scene is taken: turning a number into text may
// run a finaliser that frees scenes.
int SetCubeFace(lua_State* L) {
    const char* name = script_args::Text(L, 1);
    GameScene* s = CurrentScene();
    if (!s) return 0;
    if (CubeFaces* set = ListFindByName(s->cubeFaceSets, name)) s->cubeFaces = set;
    return 0;
}

int SetCubeTransition(lua_State* L) {
    const char* name = script_args::Text(L, 1);
    GameScene* s = CurrentScene();
    if (!s) return 0;
    if (CubeFaces* set = ListFindByName(s->cubeFaceSets, name)) {
        s->transitionFaces = set;
        s->transitionValue = Float(L, 2);
    }
    return 0;
}

// scene_reset(): the current scene is destroyed and made again, empty,
// under the same name, then loaded afresh.
int Reset(lua_State*) {
    Engine* e = CurrentEngine();
    GameScene* old = e ? e->currentScene : nullptr;
    if (!old || RefusedDuringSceneChange("scene_reset")) return 0;
    const char* name = old->name;
    DestroyScene(e->scenes, old);
    GameScene* s = ListAppendNewGameScene(e->scenes);
    if (!s) return 0;
    s->name = name;
    NoteListNamesChanged();
    e->currentScene = s;
    s->AttachToNodeTree();
    LoadScene();
    RebuildRenderList(e);
    return 0;
}

int UnloadAll(lua_State*) {
    if (RefusedDuringSceneChange("scene_unloadall")) return 0;
    if (Engine* e = CurrentEngine()) {
        DeleteAllScenes(e);
        RebuildRenderList(e);
    }
    return 0;
}

// The scene being described by a scene file, else the current scene.
const char* ScenePathName() {
    if (GameScene* s = SceneBeingLoaded(); s && s->name) return s->name;
    GameScene* s = CurrentScene();
    return s && s->name ? s->name : "";
}

// scene_name(n): the path, its first n components (n > 0) or the path less
// its last -n components (n < 0).
int Name(lua_State* L) {
    const char* path = ScenePathName();
    int n = Int(L, 1);
    const size_t len = std::strlen(path);
    if (n == 0 || len == 0) {
        lua_pushstring(L, path);
        return 1;
    }
    if (n > 0) {
        for (size_t i = 0; i < len; ++i) {
            if (path[i] != '/') continue;
            if (n == 1) {
                lua_pushlstring(L, path, i);
                return 1;
            }
            --n;
        }
        lua_pushstring(L, path);
        return 1;
    }
    for (size_t i = len; i-- > 0;) {
        if (path[i] != '/') continue;
        if (++n == 0) {
            lua_pushlstring(L, path, i);
            return 1;
        }
    }
    lua_pushstring(L, "");
    return 1;
}

// scene_fullname([scene]): the display name, else the last component of
// the name; for a name without "/" and without a scene the caller gets its
// own last argument back.
int FullName(lua_State* L) {
    GameScene* s = lua_type(L, 1) == LUA_TLIGHTUSERDATA ? SceneArg(L, 1) : CurrentScene();
    if (s && s->fullname) {
        lua_pushstring(L, s->fullname);
        return 1;
    }
    const char* slash = s && s->name ? std::strrchr(s->name, '/') : nullptr;
    if (slash) {
        lua_pushstring(L, slash + 1);
        return 1;
    }
    return script_args::GiveBackLastArgument(L);
}

int ViewType(lua_State* L) {
    GameScene* s = CurrentScene();
    if (!s) return script_args::PushTextOrNil(L, nullptr);
    lua_pushstring(L, s->viewtype == kViewPage ? "2d" : "3d");
    return 1;
}

// ge_scriptscope(): the node whose script runs, else the current scene.
int ScriptScope(lua_State* L) {
    Engine* e = CurrentEngine();
    const char* scope = e ? e->runningScriptScene : nullptr;
    if (!scope && e && e->currentScene) scope = e->currentScene->name;
    return script_args::PushTextOrNil(L, scope);
}

// scene_reload(): the current scene's files are read again into a scene
// emptied first, so what its data file makes is not made twice.
int Reload(lua_State*) {
    GameScene* s = CurrentScene();
    if (!s || !s->name || RefusedDuringSceneChange("scene_reload")) return 0;
    ClearSceneObjects(s);
    s->dataLoaded = false;
    NodeSwitch(s->name, false);
    return 0;
}

int SetCenter(lua_State* L) {
    g_walkOffset[0] = Float(L, 1);
    g_walkOffset[1] = Float(L, 2);
    g_walkOffset[2] = Float(L, 3);
    return 0;
}

ScriptFunctionRecord r_get("scene_get", Get);
ScriptFunctionRecord r_create("scene_create", Create);
ScriptFunctionRecord r_setcubeface("scene_setcubeface", SetCubeFace);
ScriptFunctionRecord r_setcubetransition("scene_setcubetransition", SetCubeTransition);
ScriptFunctionRecord r_reset("scene_reset", Reset);
ScriptFunctionRecord r_unloadall("scene_unloadall", UnloadAll);
ScriptFunctionRecord r_name("scene_name", Name);
ScriptFunctionRecord r_fullname("scene_fullname", FullName);
ScriptFunctionRecord r_viewtype("scene_viewtype", ViewType);
ScriptFunctionRecord r_scriptscope("ge_scriptscope", ScriptScope);
ScriptFunctionRecord r_reload("scene_reload", Reload);
ScriptFunctionRecord r_setcenter("scene_setcenter", SetCenter);

}  // namespace
