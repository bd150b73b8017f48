// Hostile scene files: the bytes run as a scene's "data" script while the
// scene is being loaded, with the scene-file constructors and a small safe
// part of Lua (tables, metatables, strings without patterns, coroutines).
// Afterwards every scene and global hotspot is saved to memory and walked,
// which touches every reference the constructors left. The script is cut
// off after a fixed number of instructions and a fixed amount of memory, so
// loops and runaway strings end; nothing is written to disk per input.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/memory_writer.h"
#include "media/resource_manager.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "script/lua_host.h"
#include "script/object_model.h"
#include "scriptapi/scene_constructors.h"
#include "fuzz_support.h"

namespace {

constexpr int kInstructionBudget = 50000;
constexpr int kHookStep = 100;
constexpr size_t kMemoryBudget = 32u << 20;

int g_instructions = 0;
size_t g_lua_bytes = 0;
lua_Alloc g_inner_alloc = nullptr;
void* g_inner_ud = nullptr;

void CountInstructions(lua_State* L, lua_Debug*) {
    g_instructions += kHookStep;
    if (g_instructions < kInstructionBudget) return;
    // From now on every step fails, so that no pcall can keep a loop going.
    lua_sethook(L, CountInstructions, LUA_MASKCOUNT, 1);
    luaL_error(L, "instruction budget spent");
}

void* BudgetAlloc(void* ud, void* block, size_t old_size, size_t new_size) {
    if (new_size > old_size && g_lua_bytes + (new_size - old_size) > kMemoryBudget) return nullptr;
    void* out = g_inner_alloc(ud, block, old_size, new_size);
    if (new_size == 0 || out) g_lua_bytes = g_lua_bytes - old_size + new_size;
    return out;
}

// The globals a scene file may use; everything else is removed.
constexpr const char* kKept[] = {
    "beginscene", "endscene", "scene", "page", "cubefaces", "hotspot", "video", "font", "view", "shader",
    "mesh", "particlesource", "lightsource", "sound3D", "patch", "fx", "surffx",
    "assert", "error", "ipairs", "pairs", "next", "pcall", "xpcall", "rawequal", "rawget", "rawset", "select",
    "setmetatable", "getmetatable", "tonumber", "tostring", "type", "unpack", "newproxy", "loadstring",
    "coroutine", "string", "table", "math", "_G", "_VERSION", "DIR_STAGES"};
// String functions that could run long on their own, without Lua steps.
constexpr const char* kStringDropped[] = {"rep", "find", "match", "gmatch", "gsub", "dump"};

// A globals table with only the names a scene file may use.
void KeepOnlySafeGlobals(lua_State* L) {
    lua_pushstring(L, "stages");
    lua_setglobal(L, "DIR_STAGES");
    lua_newtable(L);
    for (const char* name : kKept) {
        lua_getglobal(L, name);
        lua_setfield(L, -2, name);
    }
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "_G");
    lua_getfield(L, -1, "string");
    for (const char* name : kStringDropped) {
        lua_pushnil(L);
        lua_setfield(L, -2, name);
    }
    lua_pop(L, 1);
    lua_replace(L, LUA_GLOBALSINDEX);
}

// A folder with a few small images, so that face sets, patches and fonts
// find files; made once and removed at exit.
const std::string& ImageFolder() {
    // Never destroyed: the exit handler below, registered while it is
    // made, runs after the destructor of a static string would.
    static const std::string& folder = *new std::string([] {
        std::error_code ec;
        std::filesystem::path dir = std::filesystem::temp_directory_path(ec) / "quild-fuzz-scene-XXXXXX";
        std::string name = dir.string();
        if (!mkdtemp(name.data())) return std::string();
        // A 1 x 1 uncompressed true-colour TGA.
        static const uint8_t kTga[] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 0x80, 0x80, 0x80};
        for (const char* file : {"img.tga", "stages/fz/01.tga", "stages/fz/a_01.tga", "fx/0.tga", "anim/0.tga"}) {
            const std::filesystem::path path = std::filesystem::path(name) / file;
            std::filesystem::create_directories(path.parent_path(), ec);
            fuzz::WriteScratch(path.string(), kTga, sizeof kTga);
        }
        std::atexit([] { std::filesystem::remove_all(ImageFolder()); });
        return name;
    }());
    return folder;
}

void Walk(HotSpot* h) {
    float r[4];
    h->GetAbsoluteRect(r);
    (void)HotSpot::IsVisible(h);
    (void)HotSpot::IsEnabled(h);
    (void)h->HitTest(int32_t(r[0]), int32_t(r[1]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        fuzz::QuietLog();
        const std::string& folder = ImageFolder();
        if (!folder.empty() && chdir(folder.c_str()) != 0) return false;
        RegisterAllClassProperties();
        return true;
    }();
    (void)ready;

    auto engine = std::make_unique<Engine>();
    engine->screenRect.Set(0, 0, 1024, 768);
    engine->virtualRect.Set(0, 0, 1024, 768);
    SetCurrentEngine(engine.get());
    CreateScriptState();
    lua_State* L = ScriptState();
    g_inner_alloc = lua_getallocf(L, &g_inner_ud);
    g_lua_bytes = size_t(lua_gc(L, LUA_GCCOUNT, 0)) * 1024;
    lua_setallocf(L, BudgetAlloc, g_inner_ud);
    KeepOnlySafeGlobals(L);

    // As a scene load runs a scene's data script.
    GameScene* scene = ListFindOrAddGameScene(engine->scenes, "fz");
    engine->currentScene = scene;
    SetSceneBeingLoaded(scene);
    g_instructions = 0;
    lua_sethook(L, CountInstructions, LUA_MASKCOUNT, kHookStep);
    if (luaL_loadbuffer(L, reinterpret_cast<const char*>(data), size, "data") == 0) lua_pcall(L, 0, 0, 0);
    lua_settop(L, 0);
    SetSceneBeingLoaded(nullptr);

    // Everything the constructors left, touched: saved (not as the current
    // scene, so no map file is written) and walked.
    engine->currentScene = nullptr;
    MemoryWriter out;
    for (GameScene* s = engine->scenes.head; s; s = ListNext(s)) {
        s->Save(&out);
        for (HotSpot* h = s->hotspots.head; h; h = ListNext(h)) Walk(h);
    }
    for (HotSpot* h = engine->globalHotspots.head; h; h = ListNext(h)) {
        h->Save(&out);
        Walk(h);
    }

    ScriptShutdown();
    engine.reset();
    SetCurrentEngine(nullptr);
    Resources().Clear();
    return 0;
}
