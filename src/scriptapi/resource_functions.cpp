// Script functions over scenes and resources as a whole: loading a scene
// ahead of time, releasing every scene and resource, deleting a script,
// the shader switch and converting a mesh into its cache file.
#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
#include <lua.h>
}

#include "app/console.h"
#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "media/mesh/mesh_data.h"
#include "media/resource_manager.h"
#include "scene/game_scene.h"
#include "script/lua_host.h"
#include "script/script_cache.h"
#include "script/script_function.h"
#include "script/script_var.h"
#include "scriptapi/script_args.h"

namespace {

bool InSceneList(const Engine* e, const GameScene* scene) {
    for (GameScene* s = e->scenes.head; s; s = ListNext(s))
        if (s == scene) return true;
    return false;
}

// scene_cache(name): runs the scene's data script and loads its resources
// without showing it; the scene is current only while that runs. Scripts
// run meanwhile may delete scenes: the previous one is made current again
// only when it still exists, and the cached one is touched only while it
// does.
int CacheScene(lua_State* L) {
    Engine* e = CurrentEngine();
    const char* name = lua_type(L, 1) == LUA_TSTRING ? lua_tostring(L, 1) : nullptr;
    if (!e || !name || !*name) return 0;
    GameScene* scene = ListFindGameSceneByName(e->scenes, name);
    if (!scene) {
        const char* interned = InternSceneName(name);
        if (!interned) return 0;
        scene = ListFindGameSceneByName(e->scenes, interned);
        if (!scene) {
            scene = ListAppendNewGameScene(e->scenes);
            scene->name = interned;
            NoteListNamesChanged();
            scene->AttachToNodeTree();
        }
    }
    GameScene* previous = e->currentScene;
    const char* previous_name = previous ? previous->name : nullptr;  // interned: outlives the scene
    e->currentScene = scene;
    if (!scene->dataLoaded) {
        char path[1024];
        SceneFilePath(path, sizeof path, scene->name, "data");
        const int status = RunScript(path);
        if (InSceneList(e, scene)) {
            scene->dataIncomplete = status > 0;
            if (!scene->currentPage) scene->currentPage = scene->pages.head;
            scene->nextPage = nullptr;
            ScriptCall("loadscene_initials(%s)", scene->name);
        }
        if (InSceneList(e, scene)) {
            scene->dataLoaded = true;
            scene->LoadResources();
        }
    }
    if (previous_name) ScriptCall("initnodetrigger(%s)", previous_name);
    e->currentScene = previous && InSceneList(e, previous) ? previous : nullptr;
    return 0;
}

// removeAllResources(): every scene with all its objects, then every
// loaded resource; the engine is left without a current scene. Refused
// under a node switch, a scene load or the scene's drawing, which go on
// using their scene once the script returns.
int RemoveAllResources(lua_State*) {
    Engine* e = CurrentEngine();
    if (!e || !e->currentScene) return 0;
    if (SceneChangeRunning()) {
        LogPrintf("[WARNING] : removeAllResources refused while a scene is switched, loaded or drawn");
        return 0;
    }
    for (GameScene* s = e->scenes.head; s; s = ListNext(s)) s->UnloadResources();
    DeleteAllScenes(e);
    Resources().UnloadByType(kResourceImage | kResourceSound | kResourceVideo | kResourceMesh);
    e->currentScene = nullptr;
    return 0;
}

// removescript(name): drops the cached chunk and deletes "<name>.lua"; only
// when the last argument is a string (a number is no script name).
int RemoveScript(lua_State* L) {
    if (lua_type(L, script_args::Last(L)) != LUA_TSTRING) return 0;
    const char* given = script_args::Text(L, 1);
    if (!given) return 0;
    std::string name = given;
    constexpr size_t kExtension = 4;
    if (name.size() >= kExtension && name.compare(name.size() - kExtension, kExtension, ".lua") == 0)
        name.resize(name.find(".lua"));
    g_compiled_scripts.Remove(name.c_str());
    const std::string file = name + ".lua";
    std::remove(file.c_str());
    if (g_console) {
        const std::string line = "[DELETED] " + file;
        g_console->AddText(line.c_str(), 0xFFFFFFFFu);
    }
    return 0;
}

// ge_enableshaders(on): a change, on a device with shaders, reruns the
// shader script.
int EnableShaders(lua_State* L) {
    Engine* e = CurrentEngine();
    const bool on = lua_toboolean(L, 1) != 0;
    if (!e || !e->shadersSupported || on == e->shadersOn) return 0;
    e->shadersOn = on;
    RunScript((g_dir_scripts.Get() + "/shaders").c_str());
    return 0;
}

// mesh_tomsh(name): reads "<name>.x" once, which writes its cache file.
int MeshToMsh(lua_State* L) {
    const char* name = script_args::Text(L, 1);
    if (!name) return 0;
    MeshData* mesh = MeshData::New();
    if (!mesh) return 0;
    mesh->Load((std::string(name) + ".x").c_str());
    MeshData::Delete(mesh);
    return 0;
}

ScriptFunctionRecord s_scene_cache("scene_cache", CacheScene);
ScriptFunctionRecord s_removeAllResources("removeAllResources", RemoveAllResources);
ScriptFunctionRecord s_removescript("removescript", RemoveScript);
ScriptFunctionRecord s_ge_enableshaders("ge_enableshaders", EnableShaders);
ScriptFunctionRecord s_mesh_tomsh("mesh_tomsh", MeshToMsh);

}  // namespace
