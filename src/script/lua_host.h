#pragma once
// The program's one Lua state and what the engine needs to talk to it:
// creation with registration of the script functions and metatables, running
// Lua text, calling script handlers by signature, the handler bit masks,
// argument and table-field readers, and the folder walk of the file tools.
//
// Engine-side entry points leave the Lua stack as they found it (ScriptCall
// leaves only the results its signature asks for), and engine-side reads of
// globals run protected, so a script's metatable on _G cannot end the
// program.
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
#include <lua.h>
}

#include "script/script_handles.h"

class EObject;

// The state; null before CreateScriptState and after ScriptShutdown.
lua_State* ScriptState();

int CreateScriptState();
int RegisterScriptApi(lua_State* state);
int ScriptShutdown();
void* ScriptAllocator(void* user, void* block, size_t old_size, size_t new_size);

// The ceiling on Lua's memory (the bytes its blocks hold): a request past
// it fails, so the script that asked gets Lua's "not enough memory" error
// and the game goes on. 2 GiB by default, what the scripts had on a 32-bit
// engine; 0 sets the default again.
void SetScriptMemoryCeiling(size_t bytes);
size_t ScriptMemoryCeiling();
size_t ScriptMemoryInUse();

// __index functions of the "Scene*" and "Scenes*" metatables; the script
// object functions set them before the state is created. Unset, lookups
// give nothing.
void SetSceneLookupFunctions(lua_CFunction lookup_scene_object, lua_CFunction lookup_scene);

// Runs Lua text protected: 0 success, 1 failure (logged). The stack is left
// as it was.
int ScriptRun(const char* text);
int ScriptRunFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One argument of a script call; built from the call's typed arguments.
struct ScriptArg {
    enum Kind : uint8_t { kNone, kInt, kNumber, kPointer, kString } kind = kNone;
    int64_t i = 0;
    double d = 0;
    const void* p = nullptr;

    ScriptArg() = default;
    ScriptArg(int v) : kind(kInt), i(v) {}
    ScriptArg(unsigned v) : kind(kInt), i(v) {}
    ScriptArg(long v) : kind(kInt), i(v) {}
    ScriptArg(unsigned long v) : kind(kInt), i(static_cast<int64_t>(v)) {}
    ScriptArg(bool v) : kind(kInt), i(v) {}
    ScriptArg(float v) : kind(kNumber), d(v) {}
    ScriptArg(double v) : kind(kNumber), d(v) {}
    ScriptArg(const char* v) : kind(kString), p(v) {}
    ScriptArg(char* v) : kind(kString), p(v) {}
    ScriptArg(const void* v) : kind(kPointer), p(v) {}
    ScriptArg(void* v) : kind(kPointer), p(v) {}
    ScriptArg(std::nullptr_t) : kind(kPointer), p(nullptr) {}
};

// Calls the global named before "(" in the signature. Conversions: %d int,
// %f number, %p light userdata, %s string (null gives nil); any other
// "%c" takes one argument and pushes nothing; ":n" asks for n results, which
// stay on the stack after a successful call. -1 when the signature has no
// "(" or the global is not a function (nothing logged); else 0, also when
// the call failed (the error is logged and popped).
int ScriptCallArgs(const char* signature, const ScriptArg* args, int count);
template <class... Args>
int ScriptCall(const char* signature, Args... args) {
    const ScriptArg list[] = {ScriptArg(args)..., ScriptArg()};
    return ScriptCallArgs(signature, list, static_cast<int>(sizeof...(Args)));
}

bool ScriptGlobalIsNil(const char* name);

// Game-handler mask: 1 OnGameKeyDown, 2 OnGameKeyUp, 4 OnGameMouseMove,
// 8 OnGameMouseDown, 16 OnGameMouseUp. Rebuilt after each script run.
enum : uint32_t {
    kHandlerKeyDown = 1,
    kHandlerKeyUp = 2,
    kHandlerMouseMove = 4,
    kHandlerMouseDown = 8,
    kHandlerMouseUp = 16,
};
uint32_t GameHandlerBits();
void UpdateGameHandlerBits();

// Hotspot event bits owned by the Lua host (the low 10 bits of a hotspot's
// event flags): the bits of the "<name>_Mouse..." globals that are set.
enum : uint32_t {
    kHotspotMouseMove = 4,
    kHotspotMouseDown = 8,
    kHotspotMouseUp = 16,
    kHotspotMouseClick = 32,
    kHotspotMouseEnter = 256,
    kHotspotMouseLeave = 512,
    kHotspotHandlerMask = 0x3FF,
};
uint32_t HotspotHandlerBits(const char* hotspot_name);

void ScriptPushPointer(const void* pointer);

class StringPool;
// Name completion: clears the pool and fills it, sorted ignoring case, with
// prefix + key for every string key of the table that the text's dotted
// components lead to ("Display.f" lists "Display." + the keys of Display).
// Texts are cut at 255 characters. Returns the stack height (unchanged).
int ScriptCompleteNames(StringPool* pool, const char* text);
void ScriptDumpStack();

// Argument and table-field readers. The field readers read the table on top
// of the stack and leave the stack as they found it.
// Arguments read without raising script errors: a missing or non-text
// argument reads as null, a missing number as 0.
const char* ScriptArgText(lua_State* L, int index);
// Saturating: NaN reads as 0, numbers beyond the int range clamp to it.
int ScriptArgInt(lua_State* L, int index);
float ScriptArgFloat(lua_State* L, int index);
// The index of the last argument, for the functions that read it: in an
// empty call it is an index that reads as missing, never the function's own
// slot or a slot left over from an earlier call.
int ScriptLastArg(lua_State* L);
// A light userdata registered as live under that kind; anything else
// (another kind, a stale or foreign pointer, a full userdata) is null.
void* ScriptArgHandle(lua_State* L, int index, ScriptHandleKind kind);
// The live object of a handle argument; with a class word, only an object of
// that class.
EObject* ScriptArgObject(lua_State* L, int index, const char* class_word = nullptr);
// Pushes the object's handle, or nil for null.
void ScriptPushObject(lua_State* L, EObject* object);
uint32_t ParseHexColor(const char* text, uint32_t fallback);
// A colour argument of the call running on L (which may be a coroutine);
// the form without L reads the main state's stack.
uint32_t ScriptArgColor(lua_State* L, int index, uint32_t fallback);
uint32_t ScriptArgColor(int index, uint32_t fallback);
int ScriptFieldInt(const char* key, int fallback);
float ScriptFieldNumber(const char* key, float fallback);
const char* ScriptFieldString(const char* key, const char* fallback, bool intern);
int ScriptFieldBool(const char* key);  // 1, 0, or -1 when absent or not a boolean
uint32_t ScriptFieldColor(const char* key, uint32_t fallback);
void* ScriptFieldUserdata(const char* key);

// Runs fn(state) protected with context as a light userdata argument; the
// stack is left as it was. False (and the error logged under what) when it
// raised an error or there is no state.
bool ScriptProtected(lua_CFunction fn, void* context, const char* what);

// Pushes the global of that name, read through any metatable of _G; false
// (nothing pushed) when reading it raised an error. Allocates: for a
// ScriptPushFunction.
bool ScriptPushGlobal(lua_State* L, const char* name);

// Runs push(state, context) protected, allocating nothing before it: the
// values it pushes stay on the stack and their number is returned. When it
// raised an error (a collection step's finalizer, memory at the ceiling)
// -1 is returned and the error is logged as "[LUA RT ERROR in <what>] :
// <message>", nothing staying on the stack; with what null it is not
// logged but left on top, for a script function to raise again once its
// own objects are gone. For pushes that may run a collection step. No
// object with a destructor may live in push's frame.
using ScriptPushFunction = int (*)(lua_State* L, void* context);
int ScriptPushProtected(lua_State* L, ScriptPushFunction push, void* context, const char* what);

// The text of the error value at index for a log line, made without Lua
// (converting it in Lua could fail, or run a collection): a string, a
// number as Lua writes it, or "(error object is not a string)".
std::string ScriptErrorText(lua_State* L, int index);

// A full collection, protected: a finalizer's error is logged.
void ScriptCollectGarbage();

// Walks a folder (never changing the current directory). Files whose
// extension appears as ";ext;" in the list (exact case) are reported as
// (folder/lower-cased name without extension, lower-cased extension); a
// visible sub-folder is entered when recursive, otherwise reported with an
// empty extension. Links and dot-files are skipped. The callback returns
// false to stop the walk. False when the folder cannot be listed.
using WalkCallback = bool (*)(void* context, const char* path, const char* extension);
bool WalkDirectory(const char* folder, const char* extensions, WalkCallback callback, void* context,
                   bool recursive);
