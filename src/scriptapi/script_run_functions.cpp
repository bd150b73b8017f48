// Script functions that run and compile scripts: run, runscript, dumpscript,
// compilescript, flushscripts.
#include <cstring>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "base/byte_stream.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "platform/files.h"
#include "script/lua_host.h"
#include "script/script_cache.h"
#include "script/script_function.h"
#include "script/script_var.h"
#include "script/script_watch.h"

namespace {

// run(name): runs DIR_SCRIPTS/name (the last argument). While the game is
// closing, the stop that ended the script goes on to run's caller, as it
// does from runscript.
int Run(lua_State* L) {
    const char* name = ScriptArgText(L, ScriptLastArg(L));
    if (!name) return 0;
    {
        const std::string path = g_dir_scripts.Get() + "/" + name;
        if (RunScript(path.c_str()) <= 0 || !ScriptStopPending()) return 0;
    }
    return ScriptRaiseStop(L);
}

// runscript(name [, "FILE"]): through the cache, or a file run as it is.
int RunScriptFunction(lua_State* L) {
    if (!lua_isstring(L, 1)) return 0;
    const char* name = lua_tostring(L, 1);
    const char* mode = lua_isstring(L, 2) ? lua_tostring(L, 2) : nullptr;
    if (!mode || std::strcmp(mode, "FILE") != 0) {
        if (RunScript(name) > 0 && ScriptStopPending()) return ScriptRaiseStop(L);
        return 0;
    }
    {
        ByteStream bytes;
        if (!bytes.LoadFile(name)) return 0;
        int base = lua_gettop(L);
        if (LoadScriptText(L, bytes.Data(), bytes.Size(), name) == 0)
            ScriptPcall(L, 0, LUA_MULTRET);
        else
            LogPrintf("[ERROR] - SCRIPT %s: \r\n %s", name, lua_tostring(L, -1) ? lua_tostring(L, -1) : "");
        lua_settop(L, base);
        if (!ScriptStopPending()) return 0;
    }
    return ScriptRaiseStop(L);
}

// dumpscript(name): compiles into the cache without running.
int DumpScript(lua_State* L) {
    // Gated on the last argument, compiles the first.
    const char* text = ScriptArgText(L, 1);
    if (!ScriptArgText(L, ScriptLastArg(L)) || !text) return 0;
    std::string name = text;
    int base = lua_gettop(L);
    int result = LoadScript(name.c_str(), false);
    if (result < 0) {
        LogPrintf("[ERROR] - SCRIPT %s: \r\n %s", name.c_str(), "NOT FOUND");
    } else if (result > 0) {
        const char* message = lua_tostring(L, -1);
        LogPrintf("[ERROR] - SCRIPT %s: \r\n %s", name.c_str(), message ? message : "");
    }
    lua_settop(L, base);
    return 0;
}

// The default output of compilescript: the file name's first "." and all
// after it become ".bin".
std::string DefaultOutput(const std::string& source) {
    size_t name_start = source.find_last_of("/\\");
    name_start = name_start == std::string::npos ? 0 : name_start + 1;
    size_t dot = source.find('.', name_start);
    return (dot == std::string::npos ? source : source.substr(0, dot)) + ".bin";
}

// compilescript(source [, output]): writes the stripped chunk; pushes
// whether the output could be written (nil when there was no source).
int CompileScript(lua_State* L) {
    const char* source = lua_isstring(L, 1) ? lua_tostring(L, 1) : nullptr;
    if (!source || !*source) {
        lua_pushnil(L);
        return 1;
    }
    std::string output = lua_isstring(L, 2) ? lua_tostring(L, 2) : DefaultOutput(source);
    FILE* f = plat::OpenFile(source, "rb");
    std::string text;
    if (f) {
        char piece[4096];
        size_t got;
        while (text.size() <= kMaxWholeFileSize && (got = std::fread(piece, 1, sizeof piece, f)) > 0)
            text.append(piece, got);
        std::fclose(f);
        if (text.size() > kMaxWholeFileSize) {
            LogPrintf("[ERROR] - compilescript: %s is too large", source);
            return 0;
        }
    } else {
        lua_pushnil(L);
        return 1;
    }
    int base = lua_gettop(L);
    std::string chunk_name = std::string("@") + source;
    if (LoadScriptText(L, text.data(), text.size(), chunk_name.c_str()) != 0) {
        lua_settop(L, base);
        lua_pushnil(L);
        return 1;
    }
    bool ok = DumpStrippedFunction(L) &&
              WriteFileAtomic(output.c_str(), g_dump_buffer.data(), g_dump_buffer.size());
    lua_settop(L, base);
    lua_pushboolean(L, ok);
    return 1;
}

int FlushScripts(lua_State*) {
    SaveScriptCache();
    return 0;
}

ScriptFunctionRecord s_run("run", Run);
ScriptFunctionRecord s_runscript("runscript", RunScriptFunction);
ScriptFunctionRecord s_dumpscript("dumpscript", DumpScript);
ScriptFunctionRecord s_flushscripts("flushscripts", FlushScripts);
ScriptFunctionRecord s_compilescript("compilescript", CompileScript);

}  // namespace
