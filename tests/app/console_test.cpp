#include "app/console.h"

#include <gtest/gtest.h>

#include <string>

#include "base/log.h"
#include "script/lua_host.h"
#include "script/script_var.h"

namespace {

// A console over the real Lua state, with print recording its argument in
// "printed".
class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ScriptShutdown();
        ASSERT_EQ(CreateScriptState(), 0);
        ASSERT_EQ(ScriptRun("printed = ''; print = function(s) printed = s end"), 0);
        c.Clear();  // what the state's creation logged
    }
    void TearDown() override { ScriptShutdown(); }
    void Type(const char* text) {
        for (; *text; ++text) c.OnChar(*text);
    }
    void Enter(const char* text) {
        Type(text);
        c.OnKey(13);
    }
    std::string Printed() {
        lua_getglobal(ScriptState(), "printed");
        std::string v = lua_tostring(ScriptState(), -1);
        lua_pop(ScriptState(), 1);
        return v;
    }
    std::string Entry(int i) { return c.History(i).text ? c.History(i).text : "(null)"; }

    Console c;
};

TEST_F(ConsoleTest, EnterRunsTheLineAndReloadsOnEquals) {
    Enter("? 1+1");
    EXPECT_EQ(Entry(0), "? 1+1");
    EXPECT_EQ(c.History(0).colour, Console::kInputColour);
    EXPECT_EQ(Printed(), "2");
    EXPECT_EQ(c.Length(), 0);
    // Without the blank the "1" is lost: print(tostring(+1)) fails, in red.
    Enter("?1+1");
    EXPECT_EQ(Printed(), "2");
    EXPECT_EQ(c.History(2).colour, kLogColourError);
    EXPECT_NE(Entry(2).find("[LUA EVAL ERROR]"), std::string::npos);
    // A lone "?" runs an empty expression, never bytes of an earlier line.
    Enter("?");
    EXPECT_EQ(Printed(), "2");

    ASSERT_EQ(ScriptRun("Display = {fov = 1}"), 0);
    g_display_fov.value = 0;
    Enter("rawset(Display, 'fov', 9)");
    EXPECT_EQ(g_display_fov.value, 0);
    Enter("x = 5");
    EXPECT_EQ(g_display_fov.value, 9);
    Enter("rawset(Display, 'fov', 3)");
    Enter("print(x == 5)");
    EXPECT_EQ(g_display_fov.value, 3);
}

TEST_F(ConsoleTest, PageKeysKeepHeightInRangeAndSetRectHides) {
    c.Toggle();
    c.SetRect(Rect(0, 0, 1024, 153), nullptr);
    EXPECT_FALSE(c.IsVisible());
    c.OnKey(33);
    EXPECT_EQ(c.GetRect().h, 137);
    for (int i = 0; i < 5; ++i) c.OnKey(33);
    EXPECT_EQ(c.GetRect().h, 120);
    for (int i = 0; i < 50; ++i) c.OnKey(34);
    EXPECT_EQ(c.GetRect().h, 600);
}

TEST_F(ConsoleTest, UpAndDownWalkTypedLinesOnly) {
    c.AddText("log line", kLogColourNormal);
    Type("abc");
    c.OnKey(38);
    EXPECT_STREQ(c.Line(), "abc");
    c.ClearLine();
    Enter("a=1");
    c.AddText("between", kLogColourNormal);
    Enter("b=2");
    std::string walk;
    for (int key : {38, 38, 38, 40}) walk += (c.OnKey(key), std::string(c.Line()) + ";");
    // Up moves on from the oldest entry, Down back, both wrapping; log
    // lines are passed over.
    EXPECT_EQ(walk, "a=1;b=2;a=1;b=2;");
    EXPECT_EQ(c.Cursor(), 3);
}

TEST_F(ConsoleTest, AddTextSplitsLinesAndWraps) {
    for (const char* t : {"a\r\nb", "x\ny\rz", "p\n", "", static_cast<const char*>(nullptr)})
        c.AddText(t, kLogColourNormal);
    ASSERT_EQ(c.WriteIndex(), 6);
    EXPECT_EQ(Entry(0) + Entry(1) + Entry(2) + Entry(3) + Entry(4) + Entry(5), "abxyzp");
    for (int i = 6; i < Console::kHistorySize; ++i) c.AddText(std::to_string(i).c_str(), 1);
    c.AddText("new", 1);
    EXPECT_EQ(c.WriteIndex(), 1);
    EXPECT_EQ(Entry(0) + Entry(1), "newb");
}

TEST_F(ConsoleTest, TabCompletesAndCycles) {
    ASSERT_EQ(ScriptRun("zzqalpha = 1; zzqbeta = 2; zzqTable = {kfirst = 1, ksecond = 2}"), 0);
    Type("zzq");
    std::string seen;
    for (int i = 0; i < 3; ++i) seen += (c.OnKey(9), std::string(c.Line()) + ";");
    EXPECT_EQ(seen, "zzqalpha;zzqbeta;zzqTable;");
    c.ClearLine();
    Type("x = zzqTable.kS");
    c.OnKey(9);
    EXPECT_STREQ(c.Line(), "x = zzqTable.ksecond");
    c.OnKey(9);  // after the last name: the first
    EXPECT_STREQ(c.Line(), "x = zzqTable.kfirst");
    c.ClearLine();
    Type("y = zzqTable.nomatch");  // nothing matches: the first name is offered
    c.OnKey(9);
    EXPECT_STREQ(c.Line(), "y = zzqTable.kfirst");
    c.OnKey(9);
    EXPECT_STREQ(c.Line(), "y = zzqTable.ksecond");
}

TEST_F(ConsoleTest, EditLineKeysAndLimit) {
    Type("abc");
    for (int key : {37, 37, 8, 46, 8, 35}) c.OnKey(key);
    Type(".d(");
    c.OnChar(10);
    EXPECT_STREQ(c.Line(), "c.d(");
    EXPECT_EQ(c.WordStart(), 4);
    c.OnKey(36);
    EXPECT_EQ(c.Cursor() + c.WordStart(), 0);
    for (int i = 0; i < 9; ++i) c.OnKey(39);
    EXPECT_EQ(c.Cursor(), 4);
    EXPECT_TRUE(c.OnKey('A'));
    EXPECT_FALSE(c.OnKey(16));
    c.ClearLine();
    for (int i = 0; i < 600; ++i) c.OnChar('x');
    EXPECT_EQ(std::string(c.Line()), std::string(511, 'x'));
}

TEST(ConsoleLog, LogLinesArriveInTheirColour) {
    {
        Console c;
        LogPrintf("[TEST] ERROR %d", 5);
        LogPrintf("[TEST] fine");
        ASSERT_EQ(c.WriteIndex(), 2);
        EXPECT_EQ(c.History(0).colour, kLogColourError);
        EXPECT_STREQ(c.History(1).text, "[TEST] fine");
        EXPECT_EQ(c.History(1).colour, kLogColourNormal);
    }
    EXPECT_EQ(g_console, nullptr);
    LogPrintf("[TEST] after the console");
}

}  // namespace
