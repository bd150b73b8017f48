// Script functions on files and folders: file streams (fopenRead,
// fopenWrite, fclose, fobjectPrint), existence, folders, listing, the
// per-user folder, file names and ge_copyfile.
#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "base/file_stream.h"
#include "base/log.h"
#include "script/engine_work.h"
#include "platform/files.h"
#include "script/lua_host.h"
#include "script/object_model.h"
#include "script/script_function.h"
#include "script/script_handles.h"
#include "script/script_watch.h"
#include "scriptapi/script_args.h"
#include "scriptapi/script_results.h"

namespace {

// Opens a stream on the path with the given opener and pushes it as a
// registered stream handle, or nil.
int PushOpenedStream(lua_State* L, bool (FileStream::*open)(const char*)) {
    const char* path = ScriptArgText(L, 1);
    FileStream* stream = new FileStream;
    if (!path || !(stream->*open)(path)) {
        delete stream;
        lua_pushnil(L);
        return 1;
    }
    RegisterScriptHandle(stream, ScriptHandleKind::kFileStream);
    lua_pushlightuserdata(L, stream);
    return 1;
}

// fopenRead(path): a stream handle (packages first), or nil.
int OpenRead(lua_State* L) { return PushOpenedStream(L, &FileStream::OpenRead); }

// fopenWrite(path): a new file to write, as a stream handle, or nil.
int OpenWrite(lua_State* L) { return PushOpenedStream(L, &FileStream::Create); }

FileStream* ArgStream(lua_State* L, int i) {
    return static_cast<FileStream*>(ScriptArgHandle(L, i, ScriptHandleKind::kFileStream));
}

// fobjectPrint(stream, object): the object's scene-file entry.
int ObjectPrint(lua_State* L) {
    FileStream* stream = ArgStream(L, 1);
    EObject* object = ScriptArgObject(L, 2);
    if (stream && object) object->Save(stream);
    return 0;
}

// fclose(stream): closes and frees a stream handed out by fopenRead or
// fopenWrite; anything else is refused.
int Close(lua_State* L) {
    if (!lua_touserdata(L, 1)) return 0;
    FileStream* stream = ArgStream(L, 1);
    if (!stream) {
        LogPrintf("[WARNING] : fclose: not an open stream");
        return 0;
    }
    UnregisterScriptHandle(stream);
    // The file is flushed and closed now, so that the script can read it back
    // or copy it at once; engine work below this call that holds the stream
    // finds it closed (its reads and writes do nothing), and only the memory
    // waits for that work to end.
    stream->Close();
    ReleaseWhenFree([](void* s) { delete static_cast<FileStream*>(s); }, stream);
    return 0;
}

// ge_copyfile(source, destination): copies a file (source from packages
// first); nothing when the source cannot be opened.
int CopyFile(lua_State* L) {
    const char* source = ScriptArgText(L, 1);
    const char* destination = ScriptArgText(L, 2);
    // A folder opens for reading on this system, with a meaningless size.
    if (!source || !destination || plat::IsFolder(source)) return 0;
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

// fileexists(path): a file in a mounted package or on the disk; a folder
// is no file.
int Exists(lua_State* L) {
    const char* path = ScriptArgText(L, 1);
    lua_pushboolean(L, path && *path && !plat::IsFolder(path) && FileExists(path));
    return 1;
}

// mkdir(path): true when the folder was made; false when it could not be
// (also when it exists); without a path the caller gets its own last
// argument back.
int MakeFolder(lua_State* L) {
    const char* path = ScriptArgText(L, 1);
    if (!path) return script_args::GiveBackLastArgument(L);
    const std::string target = plat::ResolveForWrite(path);
    lua_pushboolean(L, !target.empty() && ::mkdir(target.c_str(), 0777) == 0);
    return 1;
}

// ge_genospath(name): the name's path in the per-user folder, or the name.
int UserPath(lua_State* L) {
    const char* name = ScriptArgText(L, 1);
    return script_results::PushTextsAsFound(L, script_results::Texts::kSingle, [name](std::vector<std::string>& out) {
        if (!name) return;
        std::string path;
        out.push_back(GetUserFilePath(name, path) ? std::move(path) : std::string(name));
    });
}

// extractfilename(path): the last argument's file name without any
// extension (cut at its first '.').
int ExtractFileName(lua_State* L) {
    const char* text = script_args::LastText(L);
    if (!text) {
        lua_pushnil(L);
        return 1;
    }
    size_t length = 0;
    text = lua_tolstring(L, lua_gettop(L), &length);
    return script_results::PushTextsAsFound(L, script_results::Texts::kSingle, [&](std::vector<std::string>& out) {
        std::string_view name(text, length);
        if (const size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos) name.remove_prefix(slash + 1);
        out.emplace_back(name.substr(0, name.find('.')));
    });
}

struct FileWalk {
    lua_State* L;
    int function;  // registry reference of the function called for each file
    const char* path = nullptr;
    const char* extension = nullptr;
    int status = 0;
};

// Calls the walk's function for one file. Everything it pushes is pushed
// inside the protected call: the walk's C++ frames lie below, and an error
// raised while pushing (a collection step running a finaliser at the limit
// of nested C calls) would otherwise jump over them.
int CallForFileProtected(lua_State* L) {
    const auto* walk = static_cast<const FileWalk*>(lua_touserdata(L, 1));
    lua_rawgeti(L, LUA_REGISTRYINDEX, walk->function);
    lua_pushstring(L, walk->path);
    lua_pushstring(L, walk->extension);
    lua_call(L, 2, 0);
    return 0;
}

bool CallForFile(void* context, const char* path, const char* extension) {
    auto* walk = static_cast<FileWalk*>(context);
    if (ScriptStopPending()) return false;  // the walk ends; the stop is raised after it
    walk->path = path;
    walk->extension = extension;
    walk->status = lua_cpcall(walk->L, CallForFileProtected, walk);
    return walk->status == 0;  // an error stays on the stack
}

// findallfiles(folder, filter, function, recursive): calls the function for
// each file whose extension is in the filter (";lua;txt;") and each folder
// not entered. An error in the function ends the walk; it is raised again
// once the walk has unwound, and so is a closing game's stop.
int FindAllFiles(lua_State* L) {
    if (lua_type(L, 3) != LUA_TFUNCTION || lua_type(L, 4) != LUA_TBOOLEAN) return 0;
    const char* folder = ScriptArgText(L, 1);
    const char* filter = ScriptArgText(L, 2);
    if (!folder || !filter) return 0;
    const bool recursive = lua_toboolean(L, 4) != 0;
    lua_settop(L, 3);
    FileWalk walk{L, luaL_ref(L, LUA_REGISTRYINDEX)};
    WalkDirectory(folder, filter, CallForFile, &walk, recursive);
    luaL_unref(L, LUA_REGISTRYINDEX, walk.function);
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    if (walk.status != 0) return lua_error(L);
    return 0;
}

ScriptFunctionRecord s_fileexists("fileexists", Exists);
ScriptFunctionRecord s_extractfilename("extractfilename", ExtractFileName);
ScriptFunctionRecord s_findallfiles("findallfiles", FindAllFiles);
ScriptFunctionRecord s_mkdir("mkdir", MakeFolder);
ScriptFunctionRecord s_ge_genospath("ge_genospath", UserPath);
ScriptFunctionRecord s_fopenWrite("fopenWrite", OpenWrite);
ScriptFunctionRecord s_fobjectPrint("fobjectPrint", ObjectPrint);
ScriptFunctionRecord s_fopenRead("fopenRead", OpenRead);
ScriptFunctionRecord s_fclose("fclose", Close);
ScriptFunctionRecord s_ge_copyfile("ge_copyfile", CopyFile);

}  // namespace
