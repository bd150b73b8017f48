#include "script/script_handles.h"

#include <unordered_map>

namespace {
std::unordered_map<const void*, ScriptHandleKind>& Handles() {
    // Never destroyed: objects may unregister during static destruction.
    static auto* handles = new std::unordered_map<const void*, ScriptHandleKind>;
    return *handles;
}
}  // namespace

void RegisterScriptHandle(const void* handle, ScriptHandleKind kind) {
    if (handle) Handles()[handle] = kind;
}

void UnregisterScriptHandle(const void* handle) {
    if (handle) Handles().erase(handle);
}

bool IsScriptHandle(const void* handle, ScriptHandleKind kind) {
    if (!handle) return false;
    auto it = Handles().find(handle);
    return it != Handles().end() && it->second == kind;
}

bool IsAnyScriptHandle(const void* handle) { return handle && Handles().count(handle) != 0; }
