// Files and folders from scripts, in a temporary data root.
#include <sys/stat.h>

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
