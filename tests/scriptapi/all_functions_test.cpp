// Every registered script function, called in one state with hostile
// arguments: nothing may crash, hang or leak (the sanitizers watch), and a
// function must push every result it reports. The list comes from the
// registry, so families added later are covered too.
#include <chrono>
#include <cstring>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app/engine.h"
#include "base/package.h"
#include "base/package_builder.h"
#include "media/text/game_font.h"
#include "media/text/game_text.h"
#include "media/resource_manager.h"
#include "scene/game_scene.h"
#include "scene/game_video.h"
#include "scene/hot_spot.h"
#include "scene/scene_page.h"
#include "script/object_model.h"
#include "script/script_function.h"
#include "script/script_handles.h"
#include "script/script_test_support.h"

using script_test::DeleteAll;
using script_test::ScriptTest;

namespace {

// Left out, and why: they change the process as a whole rather than answer
// their arguments.
const std::set<std::string> kSkipped = {
    "ge_resetdisplay",  // opens a window and a device, and reruns "main"
    "errorbox",         // a message box waits for the user when there is a display
};

struct Violation {
    std::string function;
    std::string what;
};
std::vector<Violation> g_violations;
const char* g_current = "";

// Calls the function of upvalue 1 with the arguments as given and checks
// that every result it reports is one it pushed: a reported result may not
// be the function's own slot, nor an argument slot still holding the
// caller's argument (what a function that forgot to push hands back).
int CheckedCall(lua_State* L) {
    auto fn = reinterpret_cast<lua_CFunction>(lua_touserdata(L, lua_upvalueindex(1)));
    const int args = lua_gettop(L);
    lua_createtable(L, args, 0);
    for (int i = 1; i <= args; ++i) {
        lua_pushvalue(L, i);
        lua_rawseti(L, -2, i);
    }
    const int saved = luaL_ref(L, LUA_REGISTRYINDEX);
    const int n = fn(L);
    const int top = lua_gettop(L);
    if (n < 0 || n > top) {
        g_violations.push_back({g_current, "reports " + std::to_string(n) + " results with " +
                                               std::to_string(top) + " values on the stack"});
        luaL_unref(L, LUA_REGISTRYINDEX, saved);
        return 0;
    }
    // Results that lie in argument slots untouched since the call.
    int untouched = 0, overlapping = 0;
    lua_rawgeti(L, LUA_REGISTRYINDEX, saved);
    for (int i = top - n + 1; i <= top && i <= args; ++i) {
        ++overlapping;
        lua_rawgeti(L, -1, i);
        untouched += lua_rawequal(L, -1, i) ? 1 : 0;
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    luaL_unref(L, LUA_REGISTRYINDEX, saved);
    if (overlapping > 0 && untouched == overlapping && top - args < n)
        g_violations.push_back({g_current, "reports " + std::to_string(n) + " results but pushed " +
                                               std::to_string(top - args) + " over " + std::to_string(args) +
                                               " arguments"});
    return n;
}

class AllFunctionsTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        // Relative paths, "../" included, stay inside the temporary tree.
        quild_test::WriteFile(Path("a/b/c/file.txt"), "text");
        quild_test::WriteFile(Path("a/b/x"), "one level up");
        quild_test::WriteFile(Path("a/img.tga"), "not an image");
        ASSERT_EQ(chdir(Path("a/b/c").c_str()), 0);
        // Functions that go back to the folder the program started in go
        // back to this one.
        std::memcpy(saved_start_folder_, g_current_directory, sizeof saved_start_folder_);
        std::snprintf(g_current_directory, sizeof g_current_directory, "%s", Path("a/b/c").c_str());
        RegisterAllClassProperties();
        engine_ = new Engine;
        SetCurrentEngine(engine_);
        GameScene* room = ListFindOrAdd(engine_->scenes, CommonStrings().Intern("room"));
        engine_->currentScene = room;
        // Folders that functions put in front of names stay relative.
        Lua("DIR_ROOT = '.'; DIR_STAGES = 'stages'; DIR_SCRIPTS = 'scripts'; _LOCAL = 'local/'");
        Lua("hs = ge_newsceneobject('hotspot', 'Door', 'room'); pg = ge_newsceneobject('page', 'p', 'room');"
            "cam = ge_newsceneobject('view', 'v', 'room'); fnt = ge_newsceneobject('font', 'f')");
    }
    void TearDown() override {
        g_package_builder.Close();
        FreeAllPackages();
        ScriptShutdown();  // nothing holds objects any longer
        for (GameScene* s = engine_->scenes.head; s; s = ListNext(s)) s->FreeObjects();
        DeleteAll(engine_->scenes);
        DeleteAll(engine_->fonts);
        DeleteAll(engine_->videos);
        DeleteAll(engine_->texts);
        DeleteAll(engine_->globalHotspots);
        DeleteAll(engine_->objects);
        SetCurrentEngine(nullptr);
        delete engine_;
        Resources().Clear();
        SetBuildMode("final");
        std::memcpy(g_current_directory, saved_start_folder_, sizeof saved_start_folder_);
        ScriptTest::TearDown();
    }
    Engine* engine_ = nullptr;
    char saved_start_folder_[sizeof g_current_directory] = {};
};

TEST_F(AllFunctionsTest, HostileArgumentsNeitherCrashNorMisreport) {
    std::string big(100 * 1024, 'A');
    big[50] = '%';
    big[51] = 's';
    lua_pushlstring(L, big.data(), big.size());
    lua_setglobal(L, "big");
    lua_pushstring(L, Path("abs/file.txt").c_str());
    lua_setglobal(L, "abs");
    // Absolute paths name places inside the tree only: the test may run as
    // root, and a function may put the name in front of others.
    lua_pushstring(L, (dir_.path() + "/").c_str());
    lua_setglobal(L, "absdir");
    int foreign[4] = {};
    lua_pushlightuserdata(L, foreign);
    lua_setglobal(L, "foreign");
    lua_pushlightuserdata(L, reinterpret_cast<void*>(uintptr_t(8)));
    lua_setglobal(L, "wild");
    // A handle of a freed object.
    Lua("local gone = ge_newsceneobject('page', 'gone', 'room'); stale = gone");
    GameScene* room = engine_->scenes.head;
    EObject* gone = ListFindByName(room->pages, "gone");
    ASSERT_NE(gone, nullptr);
    room->UnlinkObject(gone);
    delete gone;

    // Handles of other kinds: a rectangle, and a stream that was closed.
    Lua("rect = rect_const and rect_const(1, 2, 3, 4, 0) or foreign;"
        "closed = fopenRead and fopenRead('file.txt'); if closed then fclose(closed) end; closed = closed or wild");
    Lua(R"(
        local f = function() end
        arg_sets = {
            {}, {nil}, {nil, nil, nil, nil},
            {{}, f, true, coroutine.create(f), Scene, Scenes},
            {1e300, -1e300, 2^31, -2^31 - 1, 2^53, -1, 2^64},
            {0/0, 0/0, 0/0, 0/0, 0/0, 0/0},
            {big, big, big, big},
            {'%s%n%s%n', '%s%n', '%x%x%x%x%n', '%99999999d'},
            {'../x', abs, '../../x', absdir, '..', ''},
            {foreign, wild, stale, closed, rect, foreign},
            {rect, closed, hs, rect, fnt, stale},
            {hs, 'name', 'x'}, {cam, 'fov', 1e300}, {pg, big, big},
            {'view', 'room', 'Door'}, {'hotspot', 'Door', 'room'},
            {'room', -2147483648, 2147483647, 0/0, big},
            {fnt, hs, cam, pg, 0, ''},
        }
    )");
    lua_getglobal(L, "arg_sets");
    const int sets = lua_gettop(L);
    const int set_count = int(lua_objlen(L, sets));

    std::vector<std::pair<std::string, lua_CFunction>> functions;
    for (ScriptFunctionRecord* r = ScriptFunctionListHead(); r; r = r->next) functions.emplace_back(r->name, r->function);
    for (ScriptFunctionAlias* a = ScriptFunctionAliasListHead(); a; a = a->next)
        if (lua_CFunction f = ScriptAliasFunction(a)) functions.emplace_back(a->name, f);

    lua_CFunction fclose_fn = FindScriptFunction("fclose");
    char start[4096];
    ASSERT_NE(getcwd(start, sizeof start), nullptr);
    const std::string here = start;
    std::vector<std::string> slow;
    size_t calls = 0;
    for (const auto& [name, fn] : functions) {
        if (kSkipped.count(name)) continue;
        g_current = name.c_str();
        auto start = std::chrono::steady_clock::now();
        for (int s = 1; s <= set_count; ++s) {
            int base = lua_gettop(L);
            lua_pushlightuserdata(L, reinterpret_cast<void*>(fn));
            lua_pushcclosure(L, CheckedCall, 1);
            lua_rawgeti(L, sets, s);
            const int args = int(lua_objlen(L, -1));
            const int table = lua_gettop(L);
            // Nil holes count: {nil, nil} is four nils in its set.
            int count = s == 2 ? 1 : s == 3 ? 4 : args;
            for (int i = 1; i <= count; ++i) lua_rawgeti(L, table, i);
            lua_remove(L, table);
            lua_pcall(L, count, LUA_MULTRET, 0);  // a raised error is allowed here; a crash is not
            // Streams a function opened are closed again.
            for (int i = base + 1; fclose_fn && i <= lua_gettop(L); ++i) {
                if (!IsScriptHandle(lua_touserdata(L, i), ScriptHandleKind::kFileStream)) continue;
                lua_pushcfunction(L, fclose_fn);
                lua_pushvalue(L, i);
                lua_pcall(L, 1, 0, 0);
            }
            lua_settop(L, base);
            ++calls;
            char cwd[4096];
            if (!getcwd(cwd, sizeof cwd) || cwd != here) {
                g_violations.push_back({g_current, "left the current folder"});
                ASSERT_EQ(chdir(here.c_str()), 0);
            }
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(2)) slow.push_back(name);
    }
    std::printf("called %zu functions %zu times; skipped:", functions.size(), calls);
    for (const std::string& s : kSkipped) std::printf(" %s", s.c_str());
    std::printf("\n");
    for (const Violation& v : g_violations) ADD_FAILURE() << v.function << ": " << v.what;
    EXPECT_TRUE(slow.empty()) << "took over 2 s: " << slow.front();
    EXPECT_EQ(lua_gettop(L), sets);
}

}  // namespace
