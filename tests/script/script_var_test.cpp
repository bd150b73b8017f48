#include "script/script_var.h"
#include "script_test_support.h"

using script_test::ScriptTest;

namespace {

class ScriptVarTest : public ScriptTest {};

TEST_F(ScriptVarTest, ValuesFollowTheScripts) {
    EXPECT_EQ(g_display_fov.Get(), 0.0f);  // no table yet: no value, no error
    EXPECT_EQ(g_dir_root.Get(), "");
    EXPECT_FALSE(g_display_useshaders.Get());
    EXPECT_TRUE(script_test::LogLines().empty());

    Lua("Display = {fov = 60, aspect = 1.5, useshaders = true}; DIR_ROOT = 'data'; Gameplay = {fadefxtime = 250}");
    EXPECT_EQ(g_display_fov.Get(), 60.0f);
    EXPECT_EQ(g_display_aspect.Get(), 1.5f);
    EXPECT_TRUE(g_display_useshaders.Get());
    EXPECT_EQ(g_dir_root.Get(), "data");
    EXPECT_EQ(g_fade_fx_time.Get(), 250.0f);

    Lua("Display.fov = 75");  // seen by the next read without any call
    EXPECT_EQ(g_display_fov.Get(), 75.0f);
    g_display_fov.Set(42);
    Lua("assert(Display.fov == 42)");

    // The string's text is a copy: it stays when Lua lets the value go.
    const std::string& root = g_dir_root.Get();
    Lua("DIR_ROOT = nil; collectgarbage()");
    EXPECT_EQ(root, "data");
    ReloadAllScriptVars();
    EXPECT_EQ(g_dir_root.value, "");
    EXPECT_EQ(g_display_fov.value, 42.0f);
}

// The engine reads its variables in the middle of its own work: a read
// runs no Lua (no metamethod, no collection step), so it cannot free what
// that work holds, and a failing metamethod cannot end the program.
TEST_F(ScriptVarTest, ReadsAndWritesAreRawAndRunNoLua) {
    Lua("calls = 0; Display = setmetatable({}, {__index = function() calls = calls + 1 error('no field') end, "
        "__newindex = function() calls = calls + 1 error('read only') end})");
    Lua("DIR_STAGES = nil; setmetatable(_G, {__index = function(t, k) calls = calls + 1 "
        "if k == 'DIR_STAGES' then return 'meta' end end})");
    int top = lua_gettop(L);
    EXPECT_EQ(g_display_fov.Get(), 0.0f);
    EXPECT_EQ(g_dir_stages.Get(), "");
    g_display_fov.Set(3);
    EXPECT_EQ(g_display_fov.Get(), 3.0f);
    Lua("assert(rawget(Display, 'fov') == 3 and calls == 0, calls)");
    Lua("Gameplay = 7");  // not a table
    EXPECT_EQ(g_walk_fx_time.Get(), 0.0f);
    g_walk_fx_time.Set(1);
    Lua("Gameplay = newproxy(true); getmetatable(Gameplay).__index = function() return 9 end");
    EXPECT_EQ(g_walk_fx_time.Get(), 0.0f);  // a userdata is no plain table
    EXPECT_EQ(lua_gettop(L), top);
    EXPECT_TRUE(script_test::LogLines().empty());

    // A number where a text is wanted reads as Lua writes it; the field is
    // left a number (Lua would have turned it into a string in place).
    Lua("setmetatable(_G, nil); DIR_ROOT = 12.5; _LOCAL = 1e100");
    EXPECT_EQ(g_dir_root.Get(), "12.5");
    EXPECT_EQ(g_local_path.Get(), "1e+100");
    Lua("assert(type(DIR_ROOT) == 'number')");

    // Nothing is allocated in Lua, so no collection step can run.
    Lua("DIR_STAGES = 'stages'; Display = {fov = 60}");
    const size_t in_use = ScriptMemoryInUse();
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(g_dir_stages.Get(), "stages");
        EXPECT_EQ(g_display_fov.Get(), 60.0f);
        EXPECT_EQ(ExpandPathVariables("_LOCAL/a"), "1e+100/a");
    }
    EXPECT_EQ(ScriptMemoryInUse(), in_use);
}

TEST_F(ScriptVarTest, PathVariables) {
    Lua("_LOCAL = 'data/local/'");
    EXPECT_EQ(ExpandPathVariables("_LOCAL/img/a"), "data/local/img/a");
    EXPECT_EQ(ContractPathVariables("data/local/img/a"), "_LOCAL/img/a");
    EXPECT_EQ(ContractPathVariables("x/data/local"), "x/_LOCAL");
    EXPECT_EQ(ExpandPathVariables(nullptr), "");
    EXPECT_EQ(ExpandPathVariables(""), "");
    Lua("_LOCAL = 'data\\\\'");
    EXPECT_EQ(ExpandPathVariables("_LOCAL\\a"), "data\\a");

    // A value that is nil, empty or only a separator never matches.
    for (const char* value : {"nil", "''", "'/'", "'\\\\'"}) {
        ScriptRunFormat("_LOCAL = %s", value);
        EXPECT_EQ(ContractPathVariables("/a/b"), "/a/b") << value;
        EXPECT_EQ(ExpandPathVariables("_LOCAL/a"), "/a") << value;
    }
    std::string longer(5000, 'x');
    Lua("_LOCAL = 'xx'");
    EXPECT_EQ(ContractPathVariables(longer.c_str()), std::string(2500 * 6, ' ').replace(0, 15000, [] {
                  std::string s;
                  for (int i = 0; i < 2500; ++i) s += "_LOCAL";
                  return s;
              }()));
}

}  // namespace
