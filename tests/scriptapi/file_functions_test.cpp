// Files and folders from scripts, in a temporary data root.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>

#include "base/memory.h"
#include "script/object_model.h"
#include "scriptapi/engine_script_test.h"

using script_test::Logged;
using script_test::ScriptTest;
using scriptapi_test::EngineScriptTest;

namespace {

class FileFunctions : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        quild_test::WriteFile(Path("data/a.lua"), "-- a");
        quild_test::WriteFile(Path("data/B.TXT"), "b");
        quild_test::WriteFile(Path("data/skip.png"), "png");
        quild_test::WriteFile(Path("data/sub/c.lua"), "-- c");
        quild_test::WriteFile(Path("data/.hidden/d.lua"), "-- d");
    }
};

TEST_F(FileFunctions, ExistenceAndFolders) {
    Lua(R"(
        assert(fileexists('data/a.lua') == true)
        assert(fileexists('DATA/b.txt') == true)
        assert(fileexists('data/none.lua') == false)
        assert(fileexists('data/sub') == false)  -- a folder is no file
        assert(fileexists() == false)
        ge_copyfile('data/sub', 'copied')  -- a folder is not copied
        assert(fileexists('copied') == false)
        assert(mkdir('made') == true)
        assert(mkdir('made') == false)  -- exists already
        assert(mkdir('no/such/parent') == false)
        -- without a path one result still comes back: nil, never an argument handed back
        local x = mkdir()
        assert(x == nil and select('#', mkdir()) == 1)
        local t = {}
        assert(mkdir(t) == t, 'no path: the caller gets its own argument back')
    )");
    struct stat st;
    EXPECT_EQ(stat(Path("made").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    Lua("p = ge_genospath('save1.dat')");
    EXPECT_NE(Text("p").find("/Quorvane/save1.dat"), std::string::npos) << Text("p");
}

TEST_F(FileFunctions, FindAllFiles) {
    Lua(R"(
        found = {}
        local function add(path, ext) found[#found + 1] = path .. '|' .. ext end
        findallfiles('data', ';lua;TXT;', add, true)
        assert(table.concat(found, ' ') == 'data/b|txt data/sub/c|lua data/a|lua' or
               table.concat(found, ' ') == 'data/a|lua data/b|txt data/sub/c|lua', table.concat(found, ' '))
        found = {}
        findallfiles('data', ';lua;', add, false)
        assert(table.concat(found, ' ') == 'data/a|lua data/sub|', table.concat(found, ' '))
        -- a third argument that is no function, or a fourth that is no boolean: nothing
        found = {}
        findallfiles('data', ';lua;', 'add', true)
        findallfiles('data', ';lua;', add)
        assert(#found == 0)
        -- an error in the callback reaches the caller after the walk has unwound
        local calls = 0
        local ok, message = pcall(findallfiles, 'data', ';lua;', function() calls = calls + 1 error('stop here') end, true)
        assert(not ok and message:find('stop here') and calls == 1)
        findallfiles('nowhere', ';lua;', add, true)
    )");
}

// Lua's memory reaching its ceiling between two files: the push that fails
// ends the walk, which unwinds before the error goes on to the caller, so
// nothing the walk held stays allocated (counted by the engine's allocator;
// in the sanitized build, by the leak checker at exit).
TEST_F(FileFunctions, AFailedPushBetweenFilesLeavesNothingOfTheWalk) {
    auto walk = [this] {
        lua_gc(L, LUA_GCCOLLECT, 0);
        lua_gc(L, LUA_GCSTOP, 0);
        lua_getglobal(L, "findallfiles");
        lua_pushstring(L, "data");
        lua_pushstring(L, ";lua;TXT;");
        lua_pushcfunction(L, [](lua_State*) {  // the first file leaves no room for the next
            SetScriptMemoryCeiling(ScriptMemoryInUse() / 2);
            return 0;
        });
        lua_pushboolean(L, 1);
        const int status = lua_pcall(L, 4, 0, 0);
        SetScriptMemoryCeiling(0);
        lua_gc(L, LUA_GCRESTART, 0);
        std::string message;
        if (status != 0) {
            message = lua_isstring(L, -1) ? lua_tostring(L, -1) : "";
            lua_pop(L, 1);
        }
        script_test::LogLines().clear();
        return message;
    };
    for (int i = 0; i < 16; ++i) ASSERT_EQ(walk(), "not enough memory");
    // The least growth over a few rounds: containers of the engine and of Lua
    // grow now and then, a walk that leaves its memory behind grows in every
    // round.
    int64_t least = INT64_MAX;
    for (int round = 0; round < 4; ++round) {
        const int64_t before = int64_t(MemTotalAllocated());
        for (int i = 0; i < 16; ++i) walk();
        least = std::min(least, int64_t(MemTotalAllocated()) - before);
    }
    EXPECT_LT(least, 1024);
}

using FileStreams = EngineScriptTest;

TEST_F(FileStreams, WriteObjectsAndClose) {
    RegisterAllClassProperties();
    Lua(R"(
        local f = fopenWrite('out.lua')
        assert(type(f) == 'userdata')
        local t = gtext_new('greeting')
        fobjectPrint(f, t)
        fobjectPrint(f, nil)
        fobjectPrint(nil, t)
        fobjectPrint(t, t)  -- a text is no stream
        fclose(f)
        fclose(f)
        assert(fopenWrite('no/such/folder/x') == nil)
        -- a rectangle handle is no stream either
        fobjectPrint(rect_const(1, 2, 3, 4, 0), t)
        fclose(rect_const(1, 2, 3, 4, 0))
    )");
    const std::string written = quild_test::ReadFile(Path("out.lua"));
    EXPECT_NE(written.find("greeting"), std::string::npos) << written;
    EXPECT_TRUE(Logged("fclose: not an open stream"));
}

}  // namespace
