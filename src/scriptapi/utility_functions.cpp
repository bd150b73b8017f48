// The plainly named utility functions: messages to the user, the log, the
// console and the debugger; running Lua text; a small scanner of formatted
// text; colour arithmetic; clearing the hotspot map.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "app/console.h"
#include "app/engine.h"
#include "base/log.h"
#include "platform/system.h"
#include "render/color.h"
#include "scene/hotspot_map.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_watch.h"
#include "scriptapi/script_args.h"

namespace {

using script_args::LastText;

bool HaveConsole() { return CurrentEngine() && g_console; }

int PushHex(lua_State* L, uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    lua_pushstring(L, text);
    return 1;
}

// ------------------------------------------------ messages, log, console

int ErrorBox(lua_State* L) {
    const char* text = script_args::Text(L, 1);
    const char* caption = script_args::Text(L, 2);
    plat::MessageBox(caption ? caption : "", text ? text : "");
    return 0;
}

// _ALERT(text): the last argument, a string or number, as one log line.
int Alert(lua_State* L) {
    const char* text = LastText(L);
    if (text && HaveConsole()) LogPrintf("%s", text);
    return 0;
}

// print(text): only the last argument reaches the console, and only when it
// is a string or a number (nothing else is converted, so no metamethod or
// global runs and nothing can fail).
int Print(lua_State* L) {
    const char* text = LastText(L);
    if (text && HaveConsole()) g_console->AddText(text, 0xFFFFFFFFu);
    return 0;
}

int Debug(lua_State* L) {
    if (const char* text = LastText(L)) {
        DebugOutput(text);
        DebugOutput("\n");
    }
    return 0;
}

int Cls(lua_State*) {
    if (HaveConsole()) g_console->Clear();
    return 0;
}

int DumpStack(lua_State*) {
    ScriptDumpStack();
    return 0;
}

// ------------------------------------------------------- running Lua text

// Loads and runs the text with all its results dropped; the error message
// (or a fixed text for an error object that is no string) when it fails.
bool RunChunk(lua_State* L, const char* text, std::string* error) {
    const int base = lua_gettop(L);
    int status = luaL_loadstring(L, text);  // its collection step may fail
    if (status == 0) status = ScriptPcall(L, 0, LUA_MULTRET);
    if (status != 0 && error) {
        const char* message = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : nullptr;
        *error = message ? message : "(error object is not a string)";
    }
    lua_settop(L, base);
    return status == 0;
}

// exec(text): the last argument. While the game is closing, the stop that
// ended the text goes on to exec's caller.
int Exec(lua_State* L) {
    const char* text = LastText(L);
    if (!text) return 0;
    {
        std::string error;
        if (RunChunk(L, text, &error)) return 0;
        if (!ScriptStopPending()) {
            LogPrintf("[LUA EXEC ERROR] : %s", error.c_str());
            return 0;
        }
    }
    return ScriptRaiseStop(L);
}

// eval(expression): the last argument's value, nil when it does not run.
// An expression too long for the statement text is refused, never cut into
// a different one.
int Eval(lua_State* L) {
    constexpr size_t kStatementSize = 4096;
    const char* expression = LastText(L);
    bool ran = false;
    if (expression) {
        const std::string statement = std::string("__eval_result = ") + expression;
        ran = statement.size() < kStatementSize && RunChunk(L, statement.c_str(), nullptr);
    }
    if (!ran) {
        if (ScriptStopPending()) return ScriptRaiseStop(L);
        lua_pushnil(L);
        return 1;
    }
    lua_getfield(L, LUA_GLOBALSINDEX, "__eval_result");
    return 1;
}

// ------------------------------------------------------------- scanning

bool IsHexDigit(char c, uint32_t* value) {
    if (c >= '0' && c <= '9') *value = uint32_t(c - '0');
    else if (c >= 'a' && c <= 'f') *value = uint32_t(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') *value = uint32_t(c - 'A' + 10);
    else return false;
    return true;
}

// sscanf(input, format): the scanner of the scripts; pushes one value per
// conversion and returns how many. Nothing is read past either text's end.
int Scan(lua_State* L) {
    size_t input_length = 0, format_length = 0;
    const char* input = lua_isstring(L, 1) ? lua_tolstring(L, 1, &input_length) : nullptr;
    const char* format = lua_isstring(L, 2) ? lua_tolstring(L, 2, &format_length) : nullptr;
    if (!input || !format) return 0;
    // The texts stay where they are while the arguments hold them; nothing
    // here has a destructor, since a push may raise (memory) past this frame.
    const std::string_view in(input, input_length), fmt(format, format_length);
    size_t i = 0, f = 0;
    int pushed = 0;
    // A number's characters; leading zeros are dropped, and a float has
    // nothing left to take from characters beyond these.
    char piece[512];
    while (f < fmt.size()) {
        const char c = fmt[f];
        if (c != '%') {
            if (i >= in.size() || in[i] != c) break;
            ++i, ++f;
            continue;
        }
        if (f + 1 >= fmt.size()) break;  // a '%' that ends the format
        const char conversion = fmt[f + 1];
        f += 2;
        if (!lua_checkstack(L, 2)) return pushed;  // more values than a Lua stack holds
        switch (conversion) {
            case '%':
                if (i >= in.size() || in[i] != '%') return pushed;
                ++i;
                break;
            case 'd':
            case 'f': {
                size_t n = 0;
                if (i < in.size() && in[i] == '-') piece[n++] = in[i++];
                const auto digit = [&in](size_t k) { return k < in.size() && in[k] >= '0' && in[k] <= '9'; };
                while (i < in.size() && in[i] == '0' && digit(i + 1)) ++i;
                for (; digit(i) || (i < in.size() && in[i] == '.'); ++i)
                    if (n < sizeof piece - 1) piece[n++] = in[i];
                piece[n] = 0;
                lua_pushnumber(L, static_cast<float>(std::atof(piece)));
                ++pushed;
                break;
            }
            case 'c':
                if (i >= in.size()) return pushed;
                lua_pushnumber(L, static_cast<signed char>(in[i++]));
                ++pushed;
                break;
            case 's': {
                constexpr size_t kMaxCopy = 1023;
                const bool has_stop = f < fmt.size();
                const char stop = has_stop ? fmt[f] : 0;
                const size_t start = i;
                while (i < in.size() && i - start < kMaxCopy && !(has_stop && in[i] == stop)) ++i;
                lua_pushlstring(L, in.data() + start, i - start);
                ++pushed;
                break;
            }
            case 'x': {
                // The first digit counts lowest: "1f" is 1 + 15 * 16. Digits
                // beyond the eighth add nothing to a 32-bit value.
                uint32_t value = 0, weight = 1, digit = 0;
                for (int k = 0; i < in.size() && IsHexDigit(in[i], &digit); ++i, ++k) {
                    if (k < 8) value += digit * weight;
                    weight <<= 4;
                }
                lua_pushnumber(L, value);
                ++pushed;
                break;
            }
            default:
                // An unknown conversion skips one input character.
                if (i < in.size()) ++i;
                break;
        }
    }
    return pushed;
}

// ----------------------------------------------------------- hotspot map

int ClearHotspots(lua_State*) {
    ClearHotspotMap();
    return 0;
}

// --------------------------------------------------------------- colours

int MulColor(lua_State* L) { return PushHex(L, ModulateColor(ScriptArgColor(L, 1, 0xFFFFFFFFu), ScriptArgColor(L, 2, 0xFFFFFFFFu))); }

// make_color(r, g, b, a): the components are not held to 8 bits; the word
// is packed in unsigned 32 bits.
int MakeColor(lua_State* L) {
    const uint32_t r = uint32_t(script_args::Int(L, 1)), g = uint32_t(script_args::Int(L, 2));
    const uint32_t b = uint32_t(script_args::Int(L, 3)), a = uint32_t(script_args::Int(L, 4));
    return PushHex(L, (a << 24) | (r << 16) | (g << 8) | b);
}

int GetRgba(lua_State* L) {
    const uint32_t c = ScriptArgColor(L, 1, 0xFFFFFFFFu);
    lua_pushnumber(L, (c >> 16) & 0xFF);
    lua_pushnumber(L, (c >> 8) & 0xFF);
    lua_pushnumber(L, c & 0xFF);
    lua_pushnumber(L, c >> 24);
    return 4;
}

ScriptFunctionRecord s_errorbox("errorbox", ErrorBox);
ScriptFunctionRecord s_alert("_ALERT", Alert);
ScriptFunctionRecord s_print("print", Print);
ScriptFunctionRecord s_debug("debug", Debug);
ScriptFunctionRecord s_cls("cls", Cls);
ScriptFunctionRecord s_exec("exec", Exec);
ScriptFunctionRecord s_eval("eval", Eval);
ScriptFunctionRecord s_dumpstack("dumpstack", DumpStack);
ScriptFunctionRecord s_sscanf("sscanf", Scan);
ScriptFunctionRecord s_clearHotspots("clearHotspots", ClearHotspots);
ScriptFunctionRecord s_mulcolor("mulcolor", MulColor);
ScriptFunctionRecord s_make_color("make_color", MakeColor);
ScriptFunctionRecord s_get_rgba("get_rgba", GetRgba);

}  // namespace
