// Script functions on files: fopenRead, fclose, ge_copyfile.
#include <vector>

extern "C" {
#include <lua.h>
}

#include "base/file_stream.h"
#include "base/log.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_handles.h"

namespace {

// fopenRead(path): a stream handle (packages first), or nil.
int OpenRead(lua_State* L) {
    FileStream* stream = new FileStream;
    const char* path = ScriptArgText(L, 1);
    if (!path || !stream->OpenRead(path)) {
        delete stream;
        lua_pushnil(L);
        return 1;
    }
    RegisterScriptHandle(stream, ScriptHandleKind::kFileStream);
    lua_pushlightuserdata(L, stream);
    return 1;
}

// fclose(stream): closes and frees a stream handed out by fopenRead or
// fopenWrite; anything else is refused.
int Close(lua_State* L) {
    void* handle = lua_touserdata(L, 1);
    if (!handle) return 0;
    if (lua_type(L, 1) != LUA_TLIGHTUSERDATA || !IsScriptHandle(handle, ScriptHandleKind::kFileStream)) {
        LogPrintf("[WARNING] : fclose: not an open stream");
        return 0;
    }
    UnregisterScriptHandle(handle);
    FileStream* stream = static_cast<FileStream*>(handle);
    stream->Close();
    delete stream;
    return 0;
}

// ge_copyfile(source, destination): copies a file (source from packages
// first); nothing when the source cannot be opened.
int CopyFile(lua_State* L) {
    const char* source = ScriptArgText(L, 1);
    const char* destination = ScriptArgText(L, 2);
    if (!source || !destination) return 0;
    FileStream in;
    if (!in.OpenRead(source)) return 0;
    if (in.Size() > kMaxWholeFileSize) {
        LogPrintf("[ERROR] - ge_copyfile: %s is too large", source);
        return 0;
    }
    std::vector<uint8_t> bytes(in.Size());
    uint32_t got = bytes.empty() ? 0 : in.Read(bytes.data(), static_cast<uint32_t>(bytes.size()));
    in.Close();
    if (got != bytes.size()) {
        LogPrintf("[ERROR] - ge_copyfile: %s could not be read", source);
        return 0;
    }
    if (!WriteFileAtomic(destination, bytes.data(), bytes.size()))
        LogPrintf("[ERROR] - ge_copyfile: %s could not be written", destination);
    return 0;
}

ScriptFunctionRecord s_fopenRead("fopenRead", OpenRead);
ScriptFunctionRecord s_fclose("fclose", Close);
ScriptFunctionRecord s_ge_copyfile("ge_copyfile", CopyFile);

}  // namespace
