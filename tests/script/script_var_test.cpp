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

TEST_F(ScriptVarTest, FailingTablesDoNotEndTheProgram) {
    Lua("Display = setmetatable({}, {__index = function() error('no field') end, "
        "__newindex = function() error('read only') end})");
    int top = lua_gettop(L);
    EXPECT_EQ(g_display_fov.Get(), 0.0f);
    g_display_fov.Set(3);
    Lua("Gameplay = 7");  // not a table
    EXPECT_EQ(g_walk_fx_time.Get(), 0.0f);
    g_walk_fx_time.Set(1);
    EXPECT_EQ(lua_gettop(L), top);
    EXPECT_TRUE(script_test::Logged("no field"));
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
