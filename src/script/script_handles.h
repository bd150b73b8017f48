#pragma once
// Registry of the things handed to scripts as light userdata. A handle coming
// back from a script is used only when it is registered as live and of the
// expected kind, so stale or foreign pointers are refused without touching
// the memory they point at. Whoever hands a record to scripts registers it
// when it is made and unregisters it before it is freed.
#include <cstdint>

enum class ScriptHandleKind : uint8_t {
    kObject,        // an EObject, by the address of its pool header
    kFileStream,    // a FileStream opened by fopenRead / fopenWrite
    kResource,      // a ResourceRecord
    kRect,          // a Rect of four ints
    kMatrix,        // 16 floats
    kQuaternion,    // 4 floats
    kDialogLayout,  // a DialogLayout
    kEditBox,       // a script text-edit box
    kOther,         // other records handed to scripts
};

void RegisterScriptHandle(const void* handle, ScriptHandleKind kind);
void UnregisterScriptHandle(const void* handle);
bool IsScriptHandle(const void* handle, ScriptHandleKind kind);
// Whether the handle is registered under any kind.
bool IsAnyScriptHandle(const void* handle);
