// Game texts, edit boxes and achievements from scripts, through the real
// Lua state.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/app_window.h"
#include "media/text/game_text.h"
#include "platform/store.h"
#include "scriptapi/engine_script_test.h"
#include "scriptapi/store_achievements.h"

using scriptapi_test::EngineScriptTest;

namespace {

using TextFunctions = EngineScriptTest;

TEST_F(TextFunctions, GameTextNamesStringsWalkAndSave) {
    Lua(R"(
        assert(gtext_next() == nil)  -- a walk over no texts ends at once
        local a, b, c = gtext_new('alpha'), gtext_new(), gtext_new('gamma')
        gtext_settext(a, 'one\ntwo')
        assert(gtext_text(a) == 'one\ntwo' and gtext_text(b) == nil)
        assert(gtext_name(a) == 'alpha' and gtext_name(b) == nil)
        gtext_setname(c, 'Gamma2')
        assert(gtext_get('GAMMA2') == c and gtext_name(c) == 'Gamma2')
        assert(select('#', gtext_setname(nil, 'x')) == 0 and select('#', gtext_settext(nil, 'x')) == 0)
        local names = {}
        local t = gtext_next()
        while t do
            names[#names + 1] = gtext_name(t) or '-'
            t = gtext_next(t)
        end
        assert(table.concat(names, ',') == 'alpha,-,Gamma2')
        -- the name of anything that is no live object is nil
        assert(gtext_name(dlg_new()) == nil and gtext_name(rect_const(0, 0, 0, 0, 0)) == nil)
        assert(gtext_name('alpha') == nil and select('#', gtext_name()) == 1)
        assert(gtext_name == hs_getname)
        -- a removed text's handle is stale: nil, never the freed memory
        gtext_remove(c)
        assert(gtext_name(c) == nil and gtext_text(c) == nil and gtext_next(c) == nil)
        gtext_save('out.txt')
        gtext_save()
    )");
    EXPECT_EQ(quild_test::ReadFile(Path("out.txt")), "<alpha>\r\none\ntwo\r\n\r\n<>\r\n\r\n\r\n");
    // What gtext_save wrote loads back (the unnamed text's "<>" is no
    // header, so it reads as a line of the text before it).
    Lua(R"(
        gtext_freeall()
        gtext_load('out.txt')
        assert(gtext_text(gtext_get('alpha')) == 'one\ntwo\n<>')
        gtext_load('data/texts/nosuch.txt')  -- changes nothing, but is named in the log
        assert(gtext_text(gtext_get('alpha')) == 'one\ntwo\n<>')
    )");
    EXPECT_TRUE(script_test::Logged("[NOT FOUND] - GAME TEXT : data/texts/nosuch.txt"));
}

TEST_F(TextFunctions, EditBoxesFromScripts) {
    // Held Ctrl changes nothing: Home and End keep to the caret's line.
    g_keyTable[17] = 1;
    Lua(R"(
        local e = edit_create(rect_const(0, 0, 320, 100, 0), nil, 1, 'ff00ff00')
        edit_settext(e, 'one\ntwo\nsix')
        edit_keydown(e, 40)
        edit_keydown(e, 35)
        edit_sendchar(e, 33)
        edit_keydown(e, 36)
        edit_sendchar(e, 35)
        assert(edit_gettext(e) == 'one\n#two!\nsix', edit_gettext(e))
        edit_destroy(e)
    )");
    g_keyTable[17] = 0;
    quild_test::WriteFile(Path("in.lua"), "x = 1\r\ny = 2\r\n");
    Lua(R"(
        assert(select('#', edit_create()) == 0 and select('#', edit_create(dlg_new())) == 0)
        local e = edit_create(rect_const(0, 0, 320, 100, 0), nil, 1, 'ff00ff00')
        assert(type(e) == 'userdata' and edit_gettext(e) == '' and not edit_ismodified(e))
        for _, c in ipairs({97, 98, 99}) do edit_sendchar(e, c) end
        assert(edit_gettext(e) == 'abc' and edit_ismodified(e))
        edit_keydown(e, 36)
        edit_keydown(e, 16)
        edit_keydown(e, 39)
        edit_keydown(e, 39)
        edit_keyup(e, 16)
        assert(edit_getseltext(e) == 'ab')
        -- edit_setseltext and edit_cmd hand back the caller's last argument
        assert(edit_setseltext(e, 'X') == 'X')
        assert(edit_gettext(e) == 'Xc' and edit_getseltext(e) == '')
        assert(edit_cmd(e, 'Undo') == 'Undo' and edit_gettext(e) == 'Xc', 'commands are compared exactly')
        edit_cmd(e, 'undo')
        assert(edit_cmd(e, 'undo', 7) == 7)
        assert(edit_gettext(e) == 'abc')
        edit_cmd(e, 'redo')
        assert(edit_gettext(e) == 'c')
        edit_inserttext(e, 'p\r\nq')
        assert(edit_gettext(e) == 'p\nqc')
        edit_settext(e, 'line\n')
        edit_markline(e, 2)
        edit_mousewheel(e, -1)
        edit_mousedown(e, 20, 5)
        edit_mouseup(e, 20, 5)
        edit_move(e, rect_const(10, 10, 100, 50, 1))
        edit_setfocus(e)
        edit_lostfocus(e)
        edit_render(e)
        -- a box bound to an imported file reads back as ''
        edit_settext(e, '')
        edit_importfile(e, 'in.lua')
        assert(edit_gettext(e) == '' and not edit_ismodified(e))
        edit_sendchar(e, 35)
        edit_savetofile(e, 'out.lua')
        assert(not edit_ismodified(e))
        -- destroyed: every function treats the box as missing
        edit_destroy(e)
        edit_destroy(e)
        assert(edit_gettext(e) == e and edit_ismodified(e) == false and edit_getseltext(e, 'sel') == 'sel')
        assert(edit_cmd(e, 'undo') == 'undo' and edit_setseltext(e, 'x') == 'x')
        assert(select('#', edit_settext(e, 'x')) == 0 and edit_gettext(nil) == nil)
        -- a single-line box with a font name that matches no font
        local s = edit_create(rect_const(0, 0, 100, 10, 2), 'nofont', 0)
        edit_sendchar(s, 13)
        edit_sendchar(s, 65)
        assert(edit_gettext(s) == 'A')
        edit_destroy(s)
    )");
    EXPECT_EQ(quild_test::ReadFile(Path("out.lua")), "#x = 1\r\ny = 2\r\n");
}

// Texts come back byte for byte whatever their length (short ones are
// copied in the function's frame, long ones elsewhere): empty, long, cut at
// a zero as a game text always was, nil or the caller's argument for none.
TEST_F(TextFunctions, TextResultsOfEveryLength) {
    Lua(R"(
        local long = string.rep('0123456789', 500) .. 'end'
        local t = gtext_new('t')
        for _, s in ipairs({'', 'a', long, string.rep('x', 2048), string.rep('y', 2049)}) do
            gtext_settext(t, s)
            assert(gtext_text(t) == s, #s)
        end
        gtext_settext(t, 'a\0b')
        assert(gtext_text(t) == 'a', 'a game text ends at its first zero')
        gtext_setname(t, long)
        assert(gtext_name(t) == long and gtext_get(long) == t)
        assert(gtext_text(nil) == nil and gtext_name(false) == nil and select('#', gtext_text({})) == 1)
        gtext_remove(t)
        assert(gtext_text(t) == nil and gtext_name(t) == nil)

        local e = edit_create(rect_const(0, 0, 320, 100, 0))
        assert(edit_gettext(e) == '' and edit_getseltext(e) == '')
        for _, s in ipairs({'b', string.rep('z', 2048), long}) do
            edit_settext(e, s)
            edit_keydown(e, 36) edit_keydown(e, 16) edit_keydown(e, 35) edit_keyup(e, 16)
            assert(edit_gettext(e) == s and edit_getseltext(e) == s, #s)
        end
        edit_destroy(e)
        assert(edit_gettext(e, 'mine') == 'mine' and edit_getseltext(e, 7) == 7)
    )");
}

TEST_F(TextFunctions, EveryEditFunctionTakesHostileArgumentsOnALiveBox) {
    Lua(R"(
        local names = {'edit_settext', 'edit_inserttext', 'edit_getseltext', 'edit_setseltext', 'edit_cmd',
            'edit_setfocus', 'edit_lostfocus', 'edit_move', 'edit_keydown', 'edit_keyup', 'edit_sendchar',
            'edit_importfile', 'edit_savetofile', 'edit_mousewheel', 'edit_mousedown', 'edit_mouseup',
            'edit_markline', 'edit_render', 'edit_ismodified', 'edit_gettext'}
        local big = string.rep('x\r\n\t\200', 20000)
        local values = {0/0, 1e300, -1e300, 2^31, -2^31 - 1, 2^53, -1, 0, 13, 8, 46, 'undo', 'redo', 'symbol',
            big, '', {}, true, rect_const(-5, -5, 2^31, 2^31, 3), dlg_new()}
        for _, flags in ipairs({0, 1, 3, -1, 2^31}) do
            local e = edit_create(rect_const(0, 0, 0, 0, 0), nil, flags)
            edit_settext(e, 'if x then\n  -- c\n "s" [[l]] 12.5\nend')
            for _, name in ipairs(names) do
                for _, a in ipairs(values) do
                    for _, b in ipairs({0/0, 2^31, -7, 'x'}) do
                        local ok = pcall(_G[name], e, a, b)
                        assert(ok, name)
                    end
                end
            end
            local text = edit_gettext(e)
            assert(type(text) == 'string')
            edit_destroy(e)
        end
    )");
}

class Achievements : public EngineScriptTest {
protected:
    void SetUp() override {
        EngineScriptTest::SetUp();
        plat::store::SetDataFolderForTesting(Path("store").c_str());
        ASSERT_TRUE(plat::store::Init());
    }
    void TearDown() override {
        FreeAllAchievements();
        plat::store::Shutdown();
        plat::store::SetDataFolderForTesting(nullptr);
        unsetenv("QUILD_LANGUAGE");
        EngineScriptTest::TearDown();
    }
    // The store and the scripts start again; the set is made anew.
    void Restart() {
        FreeAllAchievements();
        plat::store::Shutdown();
        ASSERT_TRUE(plat::store::Init());
        ScriptShutdown();
        CreateScriptState();
        L = ScriptState();
        Lua("achieve_init('ACH_', 12)");
        plat::store::RunCallbacks();
    }
    bool Achieved(int i) {
        const StoreAchievements* set = CurrentAchievements();
        return set && set->At(i) && set->At(i)->achieved;
    }
};

TEST_F(Achievements, SetReadBackAfterARestartAndCleared) {
    Lua(R"(
        assert(achieve_get(0) == nil)  -- before achieve_init
        achieve_init('ACH_', 12)
        achieve_set('ACH_01')  -- the statistics have not arrived: nothing
    )");
    // Dropped, but not in silence.
    ASSERT_EQ(script_test::LogLines().size(), 1u);
    EXPECT_NE(script_test::LogLines()[0].find("ACHIEVEMENT ACH_01 is not set"), std::string::npos)
        << script_test::LogLines()[0];
    plat::store::RunCallbacks();
    Lua(R"(
        local name, desc = achieve_get(1)
        assert(name == 'ACH_01' and desc == '')
        assert(achieve_get(11) == 'ACH_11' and achieve_get(9) == 'ACH_09')
        assert(achieve_get(12) == nil and achieve_get(-1) == nil and select('#', achieve_get(2^40)) == 2)
        achieve_set('ACH_02')
        achieve_set('ACH_10')
    )");
    EXPECT_EQ(script_test::LogLines().size(), 1u);  // set: nothing more to say
    plat::store::RunCallbacks();
    Restart();
    EXPECT_FALSE(Achieved(1));
    EXPECT_TRUE(Achieved(2));
    EXPECT_TRUE(Achieved(10));
    Lua("achieve_clear('ACH_02')");
    Restart();
    EXPECT_FALSE(Achieved(2));
    EXPECT_TRUE(Achieved(10));
    Lua("achieve_resetall()");
    Restart();
    EXPECT_FALSE(Achieved(10));

    // A file that cannot be written (a folder in its place) is logged by
    // each write, and stays as it was.
    const std::string file = plat::store::AchievementsFile();
    std::filesystem::remove(file);
    std::filesystem::create_directories(file + "/kept");
    script_test::LogLines().clear();
    Lua("achieve_set('ACH_03') achieve_clear('ACH_10') achieve_resetall()");
    size_t logged = 0;
    for (const std::string& line : script_test::LogLines())
        logged += line.find("[ERROR] - ACHIEVEMENTS : can't write " + file + "; the file keeps what it had") !=
                  std::string::npos;
    EXPECT_EQ(logged, 3u);
    EXPECT_TRUE(std::filesystem::exists(file + "/kept"));
}

// The debugger traces keep their texts: the set made, the statistics
// received, and a store that does not run.
TEST_F(Achievements, TracesForTheDebugger) {
    testing::internal::CaptureStderr();
    Lua("achieve_init('ACH_', 3)");
    plat::store::RunCallbacks();
    const std::string id = std::to_string(int32_t(plat::store::GetAppID()));
    std::string traced = testing::internal::GetCapturedStderr();
    EXPECT_NE(traced.find("[" + id + "] Generated 3 Achievements 'ACH_'\n"), std::string::npos) << traced;
    EXPECT_NE(traced.find("Received received for GameID: " + id + "\n"), std::string::npos) << traced;
    EXPECT_NE(traced.find("Received stats and achievements from Steam\n"), std::string::npos) << traced;
    plat::store::Shutdown();
    testing::internal::CaptureStderr();
    Lua("achieve_init('ACH_', 3)");
    traced = testing::internal::GetCapturedStderr();
    EXPECT_NE(traced.find("NULL User(0) or UserStats(0)\n"), std::string::npos) << traced;
    ASSERT_TRUE(plat::store::Init());
}

// The store keeps one name a line: a name with a line break, a NUL inside
// or more than 127 characters is refused with one log line, and never read
// back as another achievement.
TEST_F(Achievements, NamesTheFileCannotHoldAreRefused) {
    Lua("achieve_init('ACH_', 12)");
    plat::store::RunCallbacks();
    script_test::LogLines().clear();
    Lua(R"(
        achieve_set('ACH_00\nACH_FAKE')
        achieve_set('ACH_01\r\nACH_FAKE')
        achieve_set('ACH_02\0ACH_FAKE')  -- not ACH_02
        achieve_set('ACH_03\r')
        achieve_set('')
        achieve_set(string.rep('L', 128))
        achieve_set('ACH_10')
        achieve_set(string.rep('K', 127))
        achieve_set(' ACH 11\t(kept) ')
        achieve_clear('ACH_10\0')  -- not ACH_10
    )");
    const auto& lines = script_test::LogLines();
    ASSERT_EQ(lines.size(), 7u);
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find_first_of(std::string("\r\n\0", 3)), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find(i < 6 ? "is not set" : "is not cleared"), std::string::npos) << lines[i];
    }
    EXPECT_NE(lines[0].find("ACHIEVEMENT ACH_00?ACH_FAKE is not set"), std::string::npos) << lines[0];
    Restart();
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(Achieved(i)) << i;
    EXPECT_TRUE(Achieved(10));
    std::ifstream in(plat::store::AchievementsFile(), std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(file, " ACH 11\t(kept) \nACH_10\n" + std::string(127, 'K') + "\n");
}

TEST_F(Achievements, HostileCountsNamesAndLanguages) {
    Lua(R"(
        achieve_init('A', 3)
        achieve_init('B', 2^31)  -- too many: no set
        assert(achieve_get(0) == nil)
        achieve_set('B00')
        achieve_init('C', -5)
        assert(achieve_get(0) == nil)
        achieve_init(string.rep('N', 100000), 3)
    )");
    plat::store::RunCallbacks();
    Lua(R"(
        local name = achieve_get(2)
        assert(#name == 127 and name:sub(1, 3) == 'NNN')  -- display names keep 127 characters
        assert(ge_getgamelang() == 'english')
    )");
    setenv("QUILD_LANGUAGE", ("GerMAN" + std::string(5000, 'X')).c_str(), 1);
    Lua(R"(
        local lang = ge_getgamelang()
        assert(#lang == 5006 and lang:sub(1, 7) == 'germanx')
    )");
}

}  // namespace
