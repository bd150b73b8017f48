#include "script/lua_host.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lualib.h>
}

#include "base/log.h"
#include "base/memory.h"
#include "base/string_pool.h"
#include "base/text.h"
#include "platform/files.h"
#include "script/engine_work.h"
#include "script/object_model.h"
#include "script/script_function.h"
#include "script/script_var.h"
#include "script/script_watch.h"

namespace {

lua_State* g_state = nullptr;
uint32_t g_game_handler_bits = 0;
lua_CFunction g_lookup_scene_object = nullptr;
lua_CFunction g_lookup_scene = nullptr;
int g_get_global_ref = LUA_NOREF;  // registry slot of the protected global getter

int NoResult(lua_State*) { return 0; }

// An error outside every protected call. The engine makes none, but should
// one come, the process ends here without the static destructors: the
// engine is live and they would tear its parts down in the wrong order.
// Every log line is on disk when LogPrintf returns.
int Panic(lua_State* L) {
    LogPrintf("[ERROR] - LUA PANIC : %s", ScriptErrorText(L, -1).c_str());
    std::_Exit(1);
}

// (name) -> _G[name], through any metatable of _G.
int GetGlobalProtected(lua_State* L) {
    lua_gettable(L, LUA_GLOBALSINDEX);
    return 1;
}

// Replaces the name on top of the stack by the global of that name; false
// (name popped, nothing pushed) when reading it raised an error. Without a
// metatable on _G a raw read is the same and cannot fail.
bool GlobalOnTop(lua_State* L) {
    if (!lua_getmetatable(L, LUA_GLOBALSINDEX)) {
        lua_rawget(L, LUA_GLOBALSINDEX);
        return true;
    }
    lua_pop(L, 1);
    lua_rawgeti(L, LUA_REGISTRYINDEX, g_get_global_ref);
    lua_insert(L, -2);
    if (ScriptPcall(L, 1, 1) != 0) {
        lua_pop(L, 1);
        return false;
    }
    return true;
}

bool PushGlobal(lua_State* L, const char* name, size_t length) {
    lua_pushlstring(L, name, length);
    return GlobalOnTop(L);
}

// Parsed signatures, by the address of the signature text and checked
// against a copy of it: the engine calls its handlers with the same literal
// every frame. The handler's name is kept as a Lua string in the registry.
struct CallSite {
    const char* key = nullptr;
    std::string text;
    int name_ref = LUA_NOREF;
    size_t name_length = 0;   // the function's name: the text before "("
    std::string conversions;  // one letter per argument taken: d f p s, or '-' (taken, not pushed)
    bool texts = false;       // an 's' among them
    int results = 0;
};
CallSite g_sites[64];

void ResetCallSites() {
    for (CallSite& c : g_sites) c = CallSite();
}

CallSite& SiteSlot(const char* signature) { return g_sites[(reinterpret_cast<uintptr_t>(signature) >> 3) & 63]; }

// The call site of a signature parsed before; null when it has not been.
const CallSite* CachedCallSite(const char* signature) {
    const CallSite& site = SiteSlot(signature);
    return site.key == signature && site.text == signature ? &site : nullptr;
}

const CallSite* FindCallSite(lua_State* L, const char* signature) {
    if (const CallSite* cached = CachedCallSite(signature)) return cached;
    CallSite& site = SiteSlot(signature);
    const char* paren = std::strchr(signature, '(');
    if (!paren) return nullptr;
    if (site.name_ref != LUA_NOREF) luaL_unref(L, LUA_REGISTRYINDEX, site.name_ref);
    site = CallSite();
    site.conversions.clear();
    for (const char* p = paren + 1; *p; ++p) {
        if (*p == ':') {
            site.results = std::max(0, std::atoi(p + 1));
        } else if (*p == '%' && p[1]) {
            char c = p[1];
            if (c == 'd' || c == 'f' || c == 'p' || c == 's') {
                site.conversions += c;
                ++p;
            } else {
                // Not a conversion: its argument is taken, nothing is pushed,
                // and the character after "%" is read normally.
                site.conversions += '-';
            }
        }
    }
    site.texts = site.conversions.find('s') != std::string::npos;
    site.name_length = size_t(paren - signature);
    lua_pushlstring(L, signature, site.name_length);
    site.name_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    site.key = signature;
    site.text = signature;
    return &site;
}

int PushGlobalNamed(lua_State* L, void* name) {
    const char* text = static_cast<const char*>(name);
    return PushGlobal(L, text, std::strlen(text)) ? 1 : 0;
}

bool GlobalIsNil(lua_State* L, const char* name) {
    const int base = lua_gettop(L);
    // A failed read leaves its error on top: the stack goes back either way.
    const bool nil = ScriptPushProtected(L, PushGlobalNamed, const_cast<char*>(name), nullptr) != 1 || lua_isnil(L, -1);
    lua_settop(L, base);
    return nil;
}

int g_push_ref = LUA_NOREF;  // registry slot of PushTrampoline's closure

struct PushCall {
    ScriptPushFunction push;
    void* context;
};

int PushTrampoline(lua_State* L) {
    const PushCall* call = static_cast<const PushCall*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    return call->push(L, call->context);
}


void LowerAscii(std::string& s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

}  // namespace

lua_State* ScriptState() { return g_state; }

bool ScriptPushGlobal(lua_State* L, const char* name) { return PushGlobal(L, name, std::strlen(name)); }

void SetSceneLookupFunctions(lua_CFunction lookup_scene_object, lua_CFunction lookup_scene) {
    g_lookup_scene_object = lookup_scene_object;
    g_lookup_scene = lookup_scene;
}

namespace {

constexpr size_t kDefaultScriptMemoryCeiling = size_t(2) << 30;
size_t g_lua_in_use = 0;  // bytes handed to Lua and not yet given back
size_t g_lua_ceiling = kDefaultScriptMemoryCeiling;
bool g_ceiling_reported = false;
// While the game is closing a script gets no block this large, so a long
// library call (string.rep, table.concat, a huge concatenation) ends at its
// next buffer. Lua's own tables grow too (the string table doubles as
// strings are made, also inside engine functions that push results while
// their C++ locals are alive): the limit lies far above what a game's
// string table reaches, so those are not refused.
constexpr size_t kClosingBlockLimit = size_t(4) << 20;

// Whether Lua may grow by `grow` bytes to a block of `new_size`. Between
// script calls the engine's own pushes get a headroom above the ceiling:
// a script that filled its memory leaves the engine able to call it again.
bool MayGrow(size_t grow, size_t new_size) {
    const bool in_script = ScriptCallRunning();
    if (in_script && new_size >= kClosingBlockLimit && ScriptStopPending()) return false;
    const size_t headroom = in_script ? 0 : g_lua_ceiling / 32;
    const size_t limit = g_lua_ceiling > SIZE_MAX - headroom ? SIZE_MAX : g_lua_ceiling + headroom;
    if (grow <= limit && g_lua_in_use <= limit - grow) return true;
    if (!g_ceiling_reported) {
        g_ceiling_reported = true;
        LogPrintf("[ERROR] - LUA : out of memory: %zu bytes asked for with %zu in use; the ceiling is %zu", new_size,
                  g_lua_in_use, g_lua_ceiling);
    }
    return false;
}

void Released(size_t bytes) {
    g_lua_in_use -= bytes;
    // Reported again once the scripts have let go of a good part.
    if (g_lua_in_use < g_lua_ceiling / 2) g_ceiling_reported = false;
}

}  // namespace

void SetScriptMemoryCeiling(size_t bytes) { g_lua_ceiling = bytes ? bytes : kDefaultScriptMemoryCeiling; }
size_t ScriptMemoryCeiling() { return g_lua_ceiling; }
size_t ScriptMemoryInUse() { return g_lua_in_use; }

// Every block handed to Lua follows a pool header {0, total size, header
// address}; the size Lua reports for an old block is checked against it.
// The bytes in use are counted against the ceiling: a request past it is
// refused, and Lua raises "not enough memory" in the script that asked.
void* ScriptAllocator(void*, void* block, size_t old_size, size_t new_size) {
    constexpr size_t kHeader = sizeof(PoolRecordHeader);
    PoolRecordHeader* old_header = block ? reinterpret_cast<PoolRecordHeader*>(static_cast<uint8_t*>(block) - kHeader) : nullptr;
    if (old_header && (old_header->self != old_header || old_header->size != old_size + kHeader)) {
        LogPrintf("Invalid Block Pointer from Lua: %p", static_cast<void*>(old_header));
        return nullptr;
    }
    if (!old_header) old_size = 0;
    if (new_size == 0) {
        if (old_header) {
            ObjectPool::Free(old_header, old_header->size);
            Released(old_size);
        }
        return nullptr;
    }
    if (new_size > old_size && !MayGrow(new_size - old_size, new_size)) return nullptr;
    auto* header = static_cast<PoolRecordHeader*>(ObjectPool::Alloc(new_size + kHeader));
    if (!header) return nullptr;
    header->link = nullptr;
    header->size = new_size + kHeader;
    header->self = header;
    void* user = reinterpret_cast<uint8_t*>(header) + kHeader;
    g_lua_in_use += new_size;
    if (old_header) {
        std::memcpy(user, block, old_size < new_size ? old_size : new_size);
        ObjectPool::Free(old_header, old_header->size);
        Released(old_size);
    }
    return user;
}

int CreateScriptState() {
    if (g_state) return 0;
    lua_State* L = lua_newstate(ScriptAllocator, nullptr);
    if (!L) {
        LogPrintf("[ERROR] - LUA : cannot create the state");
        return 0;
    }
    lua_atpanic(L, Panic);
    lua_pushcfunction(L, PushTrampoline);
    g_push_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    luaL_openlibs(L);
    RegisterScriptApi(L);
    InstallScriptWatch(L);
    lua_settop(L, 0);
    return 0;
}

int RegisterScriptApi(lua_State* L) {
    g_state = L;
    ResetCallSites();
    lua_pushcfunction(L, GetGlobalProtected);
    g_get_global_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    PrepareScriptVarKeys(L);

    // One closure per record, so every name is a Lua value of its own; an
    // alias is the very closure of its target, so the two compare equal.
    // Each is called through the dispatcher that counts engine work.
    for (ScriptFunctionRecord* r = ScriptFunctionListHead(); r; r = r->next) {
        PushScriptFunction(L, r->function);
        lua_setfield(L, LUA_GLOBALSINDEX, r->name);
    }
    for (ScriptFunctionAlias* a = ScriptFunctionAliasListHead(); a; a = a->next) {
        if (!ScriptAliasFunction(a)) continue;
        lua_getfield(L, LUA_GLOBALSINDEX, a->target);
        lua_setfield(L, LUA_GLOBALSINDEX, a->name);
    }

    lua_CFunction get_property = FindScriptFunction("ge_getproperty");
    lua_CFunction set_property = FindScriptFunction("ge_setproperty");
    luaL_newmetatable(L, "Object*");
    PushScriptFunction(L, get_property ? get_property : NoResult);
    lua_setfield(L, -2, "__index");
    PushScriptFunction(L, set_property ? set_property : NoResult);
    lua_setfield(L, -2, "__newindex");
    lua_pop(L, 1);

    // Scene: a pointer-sized full userdata holding a scene's handle, null for
    // the current scene. Scenes: its content is never read.
    void** scene = static_cast<void**>(lua_newuserdata(L, sizeof(void*)));
    *scene = nullptr;
    lua_pushvalue(L, -1);
    lua_setfield(L, LUA_GLOBALSINDEX, "Scene");
    luaL_newmetatable(L, "Scene*");
    PushScriptFunction(L, g_lookup_scene_object ? g_lookup_scene_object : NoResult);
    lua_setfield(L, -2, "__index");
    lua_setmetatable(L, -2);
    lua_pop(L, 1);

    void** scenes = static_cast<void**>(lua_newuserdata(L, sizeof(void*)));
    *scenes = nullptr;
    lua_pushvalue(L, -1);
    lua_setfield(L, LUA_GLOBALSINDEX, "Scenes");
    luaL_newmetatable(L, "Scenes*");
    PushScriptFunction(L, g_lookup_scene ? g_lookup_scene : NoResult);
    lua_setfield(L, -2, "__index");
    lua_setmetatable(L, -2);
    lua_pop(L, 1);
    return 0;
}

int ScriptShutdown() {
    UninstallScriptWatch();
    g_push_ref = LUA_NOREF;
    if (g_state) {
        // What the finalizers free goes once they have all run, with the
        // state gone.
        EngineWork closing;
        SetScriptStateClosing(true);
        lua_close(g_state);
        g_state = nullptr;
        SetScriptStateClosing(false);
    }
    PrepareScriptVarKeys(nullptr);
    g_get_global_ref = LUA_NOREF;
    g_game_handler_bits = 0;
    ResetCallSites();
    return 0;
}

int ScriptRun(const char* text) {
    lua_State* L = g_state;
    if (!L || !text) return 1;
    int base = lua_gettop(L);
    int status = luaL_loadstring(L, text);  // its collection step may fail
    if (status == 0) {
        ScriptCallWatch watch(text, std::strlen(text));
        status = ScriptPcall(L, 0, LUA_MULTRET);
    }
    if (status != 0 && ScriptErrorWorthLogging()) LogPrintf("[LUA EVAL ERROR] : %s ==> %s", text, ScriptErrorText(L, -1).c_str());
    lua_settop(L, base);
    return status != 0 ? 1 : 0;
}

int ScriptRunFormat(const char* format, ...) {
    if (!format) return 0;
    char text[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0 || size_t(n) >= sizeof text) {
        // A cut statement could run as something else: refuse it.
        LogPrintf("[ERROR] - LUA : statement longer than %zu characters not run", sizeof text - 1);
        return 1;
    }
    return ScriptRun(text);
}

namespace {

struct CallArgs {
    const char* signature;
    const ScriptArg* args;
    int count;
    const CallSite* site = nullptr;
};

// Pushes the handler of the call and its arguments; nothing when there is
// no such function.
int PushHandlerAndArgs(lua_State* L, void* context) {
    CallArgs& c = *static_cast<CallArgs*>(context);
    if (!c.site) c.site = FindCallSite(L, c.signature);
    if (!c.site) return 0;
    lua_rawgeti(L, LUA_REGISTRYINDEX, c.site->name_ref);
    if (!GlobalOnTop(L)) return 0;
    if (lua_type(L, -1) != LUA_TFUNCTION) return 0;
    int pushed = 0, used = 0;
    static const ScriptArg kMissing;
    for (char k : c.site->conversions) {
        const ScriptArg& arg = used < c.count ? c.args[used] : kMissing;
        ++used;
        switch (k) {
            case 'd':
                if (arg.kind == ScriptArg::kNumber)
                    lua_pushnumber(L, SaturateToInt(arg.d));
                else
                    lua_pushnumber(L, arg.kind == ScriptArg::kInt ? lua_Number(int32_t(arg.i)) : 0);
                break;
            case 'f':
                if (arg.kind == ScriptArg::kNumber)
                    lua_pushnumber(L, arg.d);
                else if (arg.kind == ScriptArg::kInt)
                    lua_pushnumber(L, lua_Number(arg.i));
                else
                    lua_pushnil(L);
                break;
            case 'p':
                if (arg.kind == ScriptArg::kPointer)
                    lua_pushlightuserdata(L, const_cast<void*>(arg.p));
                else
                    lua_pushnil(L);
                break;
            case 's':
                if (arg.kind == ScriptArg::kString && arg.p)
                    lua_pushstring(L, static_cast<const char*>(arg.p));
                else
                    lua_pushnil(L);
                break;
            default:
                continue;
        }
        ++pushed;
    }
    return pushed + 1;
}

}  // namespace

int ScriptCallArgs(const char* signature, const ScriptArg* args, int count) {
    lua_State* L = g_state;
    if (!L || !signature) return -1;
    int base = lua_gettop(L);
    // Reading the handler raw and pushing numbers allocates nothing, so it
    // can neither fail nor run a collection step: a signature seen before,
    // without texts, on a _G without a metatable, needs no protected push.
    const CallSite* cached = CachedCallSite(signature);
    const bool plain = cached && !cached->texts && !lua_getmetatable(L, LUA_GLOBALSINDEX);
    if (!plain) lua_settop(L, base);  // the metatable, if one was pushed
    CallArgs c{signature, args, count, cached};
    const int pushed = plain ? PushHandlerAndArgs(L, &c) : ScriptPushProtected(L, PushHandlerAndArgs, &c, signature);
    if (pushed < 0) return 0;
    if (pushed == 0) {
        lua_settop(L, base);
        return -1;
    }
    ScriptCallWatch watch(signature, c.site->name_length, "(...)");
    if (ScriptPcall(L, pushed - 1, c.site->results) != 0) {
        if (ScriptErrorWorthLogging())
            LogPrintf("[LUA RT ERROR in %s] : %s", signature, ScriptErrorText(L, -1).c_str());
        lua_settop(L, base);
    }
    return 0;
}

bool ScriptGlobalIsNil(const char* name) {
    lua_State* L = g_state;
    if (!L || !name) return true;
    return GlobalIsNil(L, name);
}

uint32_t GameHandlerBits() { return g_game_handler_bits; }

void UpdateGameHandlerBits() {
    static const struct {
        const char* name;
        uint32_t bit;
    } kHandlers[] = {{"OnGameKeyDown", kHandlerKeyDown},
                     {"OnGameKeyUp", kHandlerKeyUp},
                     {"OnGameMouseMove", kHandlerMouseMove},
                     {"OnGameMouseDown", kHandlerMouseDown},
                     {"OnGameMouseUp", kHandlerMouseUp}};
    uint32_t bits = 0;
    if (g_state)
        for (const auto& h : kHandlers)
            if (!GlobalIsNil(g_state, h.name)) bits |= h.bit;
    g_game_handler_bits = bits;
}

uint32_t HotspotHandlerBits(const char* hotspot_name) {
    static const struct {
        const char* event;
        uint32_t bit;
    } kEvents[] = {{"MouseMove", kHotspotMouseMove},   {"MouseDown", kHotspotMouseDown},
                   {"MouseUp", kHotspotMouseUp},       {"MouseClick", kHotspotMouseClick},
                   {"MouseEnter", kHotspotMouseEnter}, {"MouseLeave", kHotspotMouseLeave}};
    // A nameless hotspot has no handlers.
    if (!g_state || !hotspot_name || !*hotspot_name) return 0;
    uint32_t bits = 0;
    std::string name;
    for (const auto& e : kEvents) {
        name.assign(hotspot_name).append("_").append(e.event);
        if (!GlobalIsNil(g_state, name.c_str())) bits |= e.bit;
    }
    return bits;
}

void ScriptPushPointer(const void* pointer) {
    if (g_state) lua_pushlightuserdata(g_state, const_cast<void*>(pointer));
}

namespace {

struct Completion {
    StringPool* pool;
    const char* text;
};

int CompleteNamesProtected(lua_State* L) {
    const Completion* c = static_cast<const Completion*>(lua_touserdata(L, 1));
    // Plain buffers while Lua runs: a metamethod's error (or memory) jumps
    // out of this frame, past any destructor.
    constexpr size_t kMax = 255;
    const char* text = c->text;
    const size_t length = strnlen(text, kMax);
    char prefix[kMax + 1];
    size_t prefix_length = 0;
    lua_pushvalue(L, LUA_GLOBALSINDEX);
    size_t start = 0;
    for (const char* dot; (dot = static_cast<const char*>(std::memchr(text + start, '.', length - start)));
         start = size_t(dot - text) + 1) {
        const size_t component = size_t(dot - text) - start;
        lua_pushlstring(L, text + start, component);
        lua_gettable(L, -2);
        if (lua_istable(L, -1)) {
            if (prefix_length + component + 1 <= kMax) {
                std::memcpy(prefix + prefix_length, text + start, component);
                prefix_length += component;
                prefix[prefix_length++] = '.';
            }
        } else {
            lua_pop(L, 1);
        }
    }
    std::string name;  // nothing below raises
    lua_pushnil(L);
    while (lua_next(L, -2)) {
        if (lua_type(L, -2) == LUA_TSTRING) {
            size_t len = 0;
            const char* key = lua_tolstring(L, -2, &len);
            name.assign(prefix, prefix_length).append(key, len);
            c->pool->InternSorted(name.c_str());
        }
        lua_pop(L, 1);
    }
    return 0;
}

}  // namespace

int ScriptCompleteNames(StringPool* pool, const char* text) {
    lua_State* L = g_state;
    if (!pool) return L ? lua_gettop(L) : 0;
    pool->Clear();
    if (!L || !text) return L ? lua_gettop(L) : 0;
    Completion c{pool, text};
    ScriptProtected(CompleteNamesProtected, &c, "name completion");
    return lua_gettop(L);
}

void ScriptDumpStack() {
    lua_State* L = g_state;
    if (!L) return;
    DebugOutput("LUA STACK DUMP\n");
    char text[64];
    for (int i = 1, top = lua_gettop(L); i <= top; ++i) {
        switch (lua_type(L, i)) {
            case LUA_TBOOLEAN:
                DebugOutput(lua_toboolean(L, i) ? "true" : "false");
                break;
            case LUA_TNUMBER:
                std::snprintf(text, sizeof text, "%g", lua_tonumber(L, i));
                DebugOutput(text);
                break;
            case LUA_TSTRING: {
                std::string s = "'";
                s.append(lua_tostring(L, i)).append("'");
                DebugOutput(s.c_str());
                break;
            }
            default:
                DebugOutput(lua_typename(L, lua_type(L, i)));
                break;
        }
        DebugOutput("  ");
    }
    DebugOutput("\n");
}

const char* ScriptArgText(lua_State* L, int index) { return lua_isstring(L, index) ? lua_tostring(L, index) : nullptr; }

int ScriptArgInt(lua_State* L, int index) { return SaturateToInt(lua_tonumber(L, index)); }

float ScriptArgFloat(lua_State* L, int index) { return static_cast<float>(lua_tonumber(L, index)); }

int ScriptLastArg(lua_State* L) {
    int top = lua_gettop(L);
    return top > 0 ? top : 1;  // above an empty stack: reads as none
}

void* ScriptArgHandle(lua_State* L, int index, ScriptHandleKind kind) {
    if (lua_type(L, index) != LUA_TLIGHTUSERDATA) return nullptr;
    void* p = lua_touserdata(L, index);
    return IsScriptHandle(p, kind) ? p : nullptr;
}

EObject* ScriptArgObject(lua_State* L, int index, const char* class_word) {
    if (lua_type(L, index) != LUA_TLIGHTUSERDATA) return nullptr;
    EObject* object = ObjectFromHandle(lua_touserdata(L, index));
    if (object && class_word && !IsClass(object, class_word)) return nullptr;
    return object;
}

void ScriptPushObject(lua_State* L, EObject* object) {
    if (object)
        lua_pushlightuserdata(L, object->Handle());
    else
        lua_pushnil(L);
}

uint32_t ParseHexColor(const char* text, uint32_t fallback) {
    if (!text || !*text) return fallback;
    return HexToInt(text);
}

uint32_t ScriptArgColor(int index, uint32_t fallback) { return ScriptArgColor(g_state, index, fallback); }

uint32_t ScriptArgColor(lua_State* L, int index, uint32_t fallback) {
    if (!L || lua_type(L, index) == LUA_TNONE) return fallback;
    size_t len = 0;
    const char* text = lua_isstring(L, index) ? lua_tolstring(L, index, &len) : nullptr;
    if (!text || len == 0) return fallback;
    return ParseHexColor(text, fallback);
}

namespace {
// Pushes field key of the table now at -1 (which becomes -2).
void PushField(lua_State* L, const char* key) {
    lua_pushstring(L, key);
    lua_gettable(L, -2);
}
}  // namespace

int ScriptFieldInt(const char* key, int fallback) {
    lua_State* L = g_state;
    if (!L || !key || !lua_istable(L, -1)) return fallback;
    PushField(L, key);
    int v = lua_isnumber(L, -1) ? SaturateToInt(lua_tonumber(L, -1)) : fallback;
    lua_pop(L, 1);
    return v;
}

float ScriptFieldNumber(const char* key, float fallback) {
    lua_State* L = g_state;
    if (!L || !key || !lua_istable(L, -1)) return fallback;
    PushField(L, key);
    float v = lua_isnumber(L, -1) ? float(lua_tonumber(L, -1)) : fallback;
    lua_pop(L, 1);
    return v;
}

const char* ScriptFieldString(const char* key, const char* fallback, bool intern) {
    lua_State* L = g_state;
    if (!L || !key || !lua_istable(L, -1)) return fallback;
    PushField(L, key);
    const char* v = fallback;
    if (lua_isstring(L, -1)) {
        v = lua_tostring(L, -1);
        if (intern) v = CommonStrings().Intern(v);
    }
    lua_pop(L, 1);
    return v;
}

int ScriptFieldBool(const char* key) {
    lua_State* L = g_state;
    if (!L || !key || !lua_istable(L, -1)) return -1;
    PushField(L, key);
    int v = lua_type(L, -1) == LUA_TBOOLEAN ? (lua_toboolean(L, -1) ? 1 : 0) : -1;
    lua_pop(L, 1);
    return v;
}

uint32_t ScriptFieldColor(const char* key, uint32_t fallback) {
    lua_State* L = g_state;
    if (!L || !key || !lua_istable(L, -1)) return fallback;
    PushField(L, key);
    uint32_t v = fallback;
    if (lua_isstring(L, -1)) {
        // A number reads through its decimal text: 255 is the colour 0x255.
        char text[64];
        if (lua_type(L, -1) == LUA_TNUMBER) {
            lua_Number n = lua_tonumber(L, -1);
            std::snprintf(text, sizeof text, "%.14g", n);
            v = ParseHexColor(text, fallback);
        } else {
            v = ParseHexColor(lua_tostring(L, -1), fallback);
        }
    }
    lua_pop(L, 1);
    return v;
}

void* ScriptFieldUserdata(const char* key) {
    lua_State* L = g_state;
    if (!L || !key || !lua_istable(L, -1)) return nullptr;
    PushField(L, key);
    void* v = lua_type(L, -1) == LUA_TLIGHTUSERDATA ? lua_touserdata(L, -1) : nullptr;
    lua_pop(L, 1);
    return v;
}

bool ScriptProtected(lua_CFunction fn, void* context, const char* what) {
    lua_State* L = g_state;
    if (!L || !fn) return false;
    int base = lua_gettop(L);
    int status = lua_cpcall(L, fn, context);
    if (status != 0 && ScriptErrorWorthLogging()) LogPrintf("[ERROR] - LUA %s : %s", what ? what : "", ScriptErrorText(L, -1).c_str());
    lua_settop(L, base);
    return status == 0;
}

int ScriptPushProtected(lua_State* L, ScriptPushFunction push, void* context, const char* what) {
    if (!L || !push || g_push_ref == LUA_NOREF) return -1;
    const int base = lua_gettop(L);
    // Neither push allocates: the function is the registry's, the context a
    // light userdata.
    PushCall call{push, context};
    lua_rawgeti(L, LUA_REGISTRYINDEX, g_push_ref);
    lua_pushlightuserdata(L, &call);
    const int status = lua_pcall(L, 1, LUA_MULTRET, 0);
    if (status != 0) {
        if (!what) return -1;  // the error stays on top
        if (ScriptErrorWorthLogging()) LogPrintf("[LUA RT ERROR in %s] : %s", what, ScriptErrorText(L, -1).c_str());
        lua_settop(L, base);
        return -1;
    }
    return lua_gettop(L) - base;
}

std::string ScriptErrorText(lua_State* L, int index) {
    switch (lua_type(L, index)) {
        case LUA_TSTRING: {
            size_t length = 0;
            const char* text = lua_tolstring(L, index, &length);  // a string: nothing is made
            return std::string(text, length);
        }
        case LUA_TNUMBER: {
            char text[64];
            std::snprintf(text, sizeof text, LUA_NUMBER_FMT, lua_tonumber(L, index));
            return text;
        }
        default:
            return "(error object is not a string)";
    }
}

namespace {
int CollectProtected(lua_State* L) {
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}
}  // namespace

void ScriptCollectGarbage() { ScriptProtected(CollectProtected, nullptr, "collection"); }

namespace {

// 0 the folder cannot be listed, 1 walked, 2 stopped by the callback.
int Walk(const std::string& folder, const char* extensions, WalkCallback callback, void* context, bool recursive) {
    std::vector<plat::DirEntry> entries;
    if (!plat::ListDirectory(folder.c_str(), entries)) return 0;
    std::sort(entries.begin(), entries.end(), [](const plat::DirEntry& a, const plat::DirEntry& b) {
        int c = strcasecmp(a.name.c_str(), b.name.c_str());
        return c != 0 ? c < 0 : a.name < b.name;
    });
    for (plat::DirEntry& e : entries) {
        if (e.hidden) continue;
        if (e.is_folder) {
            LowerAscii(e.name);
            std::string path = folder + "/" + e.name;
            if (recursive) {
                if (Walk(path, extensions, callback, context, true) == 2) return 2;
            } else if (!callback(context, path.c_str(), "")) {
                return 2;
            }
            continue;
        }
        size_t dot = e.name.rfind('.');
        if (dot == std::string::npos || dot == 0) continue;
        std::string key = ";";  // built in steps: GCC 12 warns falsely on ";" + string&&
        key.append(e.name, dot + 1, std::string::npos);
        key += ';';
        if (!std::strstr(extensions, key.c_str())) continue;
        LowerAscii(e.name);
        std::string path = folder + "/" + e.name.substr(0, dot);
        std::string extension = e.name.substr(dot + 1);
        if (!callback(context, path.c_str(), extension.c_str())) return 2;
    }
    return 1;
}

}  // namespace

bool WalkDirectory(const char* folder, const char* extensions, WalkCallback callback, void* context,
                   bool recursive) {
    if (!folder || !extensions || !callback) return false;
    return Walk(folder, extensions, callback, context, recursive) != 0;
}
