// Script functions of the package builder and package mounting:
// package_open, package_add, package_check, package_addfile, package_read,
// package_close (ge_addpackage is among the system functions).
#include <cstring>
#include <string>

extern "C" {
#include <lua.h>
}

#include "base/package.h"
#include "base/package_builder.h"
#include "script/lua_host.h"
#include "script/script_function.h"

namespace {

int PackageOpen(lua_State* L) {
    if (const char* path = ScriptArgText(L, 1)) g_package_builder.Open(path);
    return 0;
}

bool AddCallback(void* builder, const char* path, const char* extension) {
    static_cast<PackageBuilder*>(builder)->AddFile(path, extension);
    return true;
}

bool CheckCallback(void* builder, const char* path, const char* extension) {
    static_cast<PackageBuilder*>(builder)->AddFileUnlessUnchanged(path, extension);
    return true;
}

int Walk(lua_State* L, WalkCallback callback) {
    const char* folder = ScriptArgText(L, 1);
    const char* extensions = ScriptArgText(L, 2);
    if (!folder || !extensions || !g_package_builder.IsOpen()) return 0;
    bool recursive = lua_type(L, 3) == LUA_TBOOLEAN && lua_toboolean(L, 3);
    WalkDirectory(folder, extensions, callback, &g_package_builder, recursive);
    return 0;
}

int PackageAdd(lua_State* L) { return Walk(L, AddCallback); }
int PackageCheck(lua_State* L) { return Walk(L, CheckCallback); }

int PackageAddFile(lua_State* L) {
    const char* path = ScriptArgText(L, 1);
    if (!path) return 0;
    const char* dot = std::strchr(path, '.');
    if (!dot) return 0;
    std::string name(path, size_t(dot - path));
    g_package_builder.AddFile(name.c_str(), dot + 1);
    return 0;
}

int PackageRead(lua_State* L) {
    g_package_builder.ReadReference(ScriptArgText(L, 1));
    return 0;
}

int PackageClose(lua_State*) {
    g_package_builder.Close();
    return 0;
}

ScriptFunctionRecord s_package_open("package_open", PackageOpen);
ScriptFunctionRecord s_package_read("package_read", PackageRead);
ScriptFunctionRecord s_package_check("package_check", PackageCheck);
ScriptFunctionRecord s_package_add("package_add", PackageAdd);
ScriptFunctionRecord s_package_addfile("package_addfile", PackageAddFile);
ScriptFunctionRecord s_package_close("package_close", PackageClose);

}  // namespace
