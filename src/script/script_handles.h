#pragma once
// Registry of the things handed to scripts as light userdata. A handle coming
// back from a script is used only when it is registered as live and of the
// expected kind, so stale or foreign pointers are refused without touching
// the memory they point at.
#include <cstdint>

enum class ScriptHandleKind : uint8_t {
    kObject,      // an EObject, by the address of its pool header
    kFileStream,  // a FileStream opened by fopenRead / fopenWrite
    kResource,    // a resource record
    kOther,       // other records handed to scripts
    kRect,        // a rectangle of four int32 (rect_const, rect_screen2d, ge_screenrect)
    kDialogLayout,  // a DialogLayout made by dlg_new
};

void RegisterScriptHandle(const void* handle, ScriptHandleKind kind);
void UnregisterScriptHandle(const void* handle);
bool IsScriptHandle(const void* handle, ScriptHandleKind kind);
