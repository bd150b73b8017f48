// The utility functions through the Lua state: the scanner, running text,
// colours and the console and log messages.
#include "scriptapi/engine_script_test.h"
#include "script/lua_host.h"

using script_test::Logged;
using script_test::ScriptTest;
using scriptapi_test::EngineScriptTest;

namespace {

using UtilityFunctions = ScriptTest;

TEST_F(UtilityFunctions, ScannerResults) {
    Lua(R"(
        local function pack(...) return select('#', ...), {...} end
        local n, v = pack(sscanf('12,abc', '%d,%s'))
        assert(n == 2 and v[1] == 12 and v[2] == 'abc')
        n, v = pack(sscanf('5%', '%d%%'))
        assert(n == 1 and v[1] == 5)
        assert(select('#', sscanf('x', 'y')) == 0)
        assert(sscanf('ff', '%x') == 255 and sscanf('10', '%x') == 1 and sscanf('1f', '%x') == 241)
        -- no integer conversion; numbers are single precision
        assert(sscanf('2.5', '%d') == 2.5)
        assert(math.abs(sscanf('-0.1', '%f') + 0.1) < 1e-7 and sscanf('-0.1', '%f') ~= -0.1)
        -- a '-' with no digits reads 0 and consumes only the '-'
        n, v = pack(sscanf('-x', '%d%c'))
        assert(n == 2 and v[1] == 0 and v[2] == string.byte('x'))
        -- %c at the end of the input stops; an unknown conversion skips one
        assert(select('#', sscanf('a', '%c%c')) == 1)
        n, v = pack(sscanf('a7', '%q%d'))
        assert(n == 1 and v[1] == 7)
        -- %c is a signed byte
        assert(sscanf('\200', '%c') == -56)
        -- %s stops before the format's next character, or takes the rest
        n, v = pack(sscanf('key=value;x', '%s=%s;'))
        assert(n == 2 and v[1] == 'key' and v[2] == 'value')
        -- a trailing '%' ends the scan
        assert(select('#', sscanf('1', '%d%')) == 1)
        -- missing texts push nothing
        assert(select('#', sscanf('1')) == 0 and select('#', sscanf(nil, '%d')) == 0)
    )");
}

TEST_F(UtilityFunctions, ScannerBoundsOnLongAndHostileTexts) {
    Lua(R"(
        local digits = string.rep('7', 100000)
        assert(sscanf(digits, '%d') == math.huge)
        assert(sscanf(digits .. '.5,1', '%d,%d') == math.huge and select(2, sscanf(digits .. '.5,1', '%d,%d')) == 1)
        assert(sscanf(string.rep('f', 40), '%x') == 0xffffffff)
        assert(#sscanf(string.rep('s', 5000), '%s') == 1023)
        -- more values than a Lua stack holds end the scan instead of overflowing it
        local n = select('#', sscanf(string.rep('1,', 20000), string.rep('%d,', 20000)))
        assert(n > 0 and n < 20000)
        -- numbers of any length read as their digits say
        local zeros = string.rep('0', 1000)
        assert(sscanf(zeros .. '12.5', '%f') == 12.5 and sscanf('-' .. zeros .. '3', '%d') == -3)
        assert(sscanf('00', '%d') == 0 and sscanf('00.5', '%f') == 0.5 and sscanf('0', '%d') == 0)
        n = {sscanf('007x', '%d%c')} assert(n[1] == 7 and n[2] == string.byte('x'))
        assert(sscanf('1.' .. string.rep('5', 3000) .. ',2', '%f,%d') == sscanf('1.55555555555', '%f'))
        assert(select(2, sscanf('1.' .. string.rep('5', 3000) .. ',2', '%f,%d')) == 2)
        assert(sscanf('0.' .. zeros .. '1', '%f') == 0 and sscanf('1' .. zeros, '%d') == math.huge)
    )");
}

// With Lua's memory full, a result the engine made fails to push: the
// script gets Lua's error, and nothing the function made is left behind
// (the engine's heap is as it was). The texts are long enough to live on
// the heap.
TEST_F(UtilityFunctions, ResultsThatFailToPushLeaveNothingBehind) {
    RegisterCeilingFunctions();
    Lua(R"(
        local function at_ceiling(f, ...)
            collectgarbage() collectgarbage('stop')
            fill(true)
            local before = heap()
            local ok, e = pcall(f, ...)
            local grown = heap() - before
            fill(false)
            collectgarbage('restart')
            assert(not ok and e == 'not enough memory', e)
            assert(grown == 0, grown .. ' bytes left behind')
        end
        local dir = 'some/folder/' .. string.rep('n', 40)
        at_ceiling(extractfilename, dir .. '.ext')
        at_ceiling(sscanf, 'value=' .. string.rep('v', 40), 'value=%s')
        at_ceiling(sscanf, string.rep('9', 40) .. ',' .. string.rep('5', 40), '%d,%s')
        at_ceiling(ge_genospath, string.rep('p', 40) .. '.sav')
        assert(#extractfilename(dir .. '.ext') == 40)
    )");
}

TEST_F(UtilityFunctions, EvalAndExec) {
    Lua(R"(
        assert(eval('1 + 1') == 2)
        assert(eval('1 +') == nil)
        assert(eval() == nil)
        -- the last argument is the expression
        assert(eval('ignored', '"b"') == 'b')
        -- too long for the statement text: refused, not cut into another expression
        assert(eval('1' .. string.rep(' ', 4090) .. '+ 1') == nil)
        assert(eval('1' .. string.rep(' ', 4000) .. '+ 1') == 2)
        exec('x = 40 + 2')
        assert(x == 42)
        assert(select('#', exec('return 1, 2')) == 0)
    )");
    Lua("exec('error(\"boom\")')");
    EXPECT_TRUE(Logged("[LUA EXEC ERROR] : [string \"error(\"boom\")\"]:1: boom"));
    Lua("exec('error({})')");
    EXPECT_TRUE(Logged("[LUA EXEC ERROR] : (error object is not a string)"));
    Lua("exec('x = ')");
    EXPECT_TRUE(Logged("[LUA EXEC ERROR] : [string \"x = \"]:1: unexpected symbol near '<eof>'"));
}

TEST_F(UtilityFunctions, Colours) {
    Lua(R"(
        assert(make_color(255, 0, 0, 255) == 'ffff0000')
        assert(make_color(1, 2, 3, 4) == '4010203')
        -- components are not masked: they spill into their neighbours
        assert(make_color(0, 0, 256, 0) == '100')
        assert(make_color(0, 0, 0, -1) == 'ff000000')
        local r, g, b, a = get_rgba('ffff0000')
        assert(r == 255 and g == 0 and b == 0 and a == 255)
        r, g, b, a = get_rgba()
        assert(r == 255 and g == 255 and b == 255 and a == 255)
        assert(mulcolor('ff808080', '80ffffff') == '80808080')
        assert(mulcolor('ff102030') == 'ff102030')
        -- a number is read through its decimal text as hexadecimal
        assert(select(3, get_rgba(10)) == 16)
    )");
}

TEST_F(UtilityFunctions, ExtractFileName) {
    Lua(R"(
        assert(extractfilename('C:\\games\\docs\\readme.txt') == 'readme')
        assert(extractfilename('a/b.c.d') == 'b')
        assert(extractfilename('dir/') == '')
        assert(extractfilename('plain') == 'plain')
        assert(extractfilename('x', 'y/z.lua') == 'z')
        assert(extractfilename() == nil)
        local long = string.rep('d', 300) .. '/' .. string.rep('n', 300) .. '.ext'
        assert(extractfilename(long) == string.rep('n', 300))
    )");
}

TEST_F(UtilityFunctions, MessagesNeedTheEngineAndConsole) {
    Lua("_ALERT('early'); print('early'); cls()");
    EXPECT_FALSE(Logged("early"));
}

using UtilityWithConsole = EngineScriptTest;

TEST_F(UtilityWithConsole, PrintAlertAndClear) {
    // Only the last value reaches the console, and only a string or a
    // number: no metamethod and no global tostring is consulted, and
    // nothing raises an error.
    Lua("print('a', 'b')");
    EXPECT_EQ(ConsoleLine(0), "b");
    Lua("print(12)");
    EXPECT_EQ(ConsoleLine(0), "12");
    Lua("print('x', 1.5)");
    EXPECT_EQ(ConsoleLine(0), "1.5");
    Lua("print({}); print(true); print('y', nil); print()");
    EXPECT_EQ(ConsoleLine(0), "1.5");
    Lua("PRINTED = pcall(print, setmetatable({}, {__tostring = function() return {} end}))");
    Lua("local t = tostring; tostring = nil; PRINTED = PRINTED and pcall(print, 'z'); tostring = t");
    Lua("assert(PRINTED == true)");
    EXPECT_EQ(ConsoleLine(0), "z");
    // A value as long as the buffers the console reads through arrives whole.
    for (int n : {BUFSIZ - 1, BUFSIZ, BUFSIZ + 1}) {
        Lua(("print('b', string.rep('a', " + std::to_string(n) + "))").c_str());
        EXPECT_EQ(ConsoleLine(0), std::string(size_t(n), 'a')) << n;
    }
    Lua("_ALERT('100%s%n done')");
    EXPECT_TRUE(Logged("100%s%n done"));
    Lua("cls()");
    EXPECT_EQ(console->WriteIndex(), 0);
    // The standard print is replaced.
    Lua("assert(print ~= nil and select('#', print('x')) == 0)");
}

}  // namespace
