// Script functions that give texts the engine holds (a game text, an object's
// name, an edit box's text and selection, name lists, a rectangle property)
// and the rebuild of hotspot handler bits, each beside a copy of the same
// function as it was before its results were made safe against finalizers
// (pushed straight from the engine's memory, handler globals read by pushing
// their names): that is the cost the safety may add. At 1,000 objects of
// each kind. The copies run in a Lua state of their own, holding what a
// bare host holds (the standard libraries, the copies, the same handler
// globals and handles) and a ballast that makes its heap as large as the
// engine's state's before any case runs, so the collector paces both alike
// and nothing the engine keeps in its state while the cases run (kept
// keys, parked texts) or its dispatcher weighs on the copies: those are
// the engine's side's own cost.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "app/engine.h"
#include "base/string_pool.h"
#include "kept.h"
#include "media/text/game_font.h"
#include "media/text/game_text.h"
#include "scene/game_mesh.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/patch.h"
#include "script/lua_host.h"
#include "script/object_model.h"
#include "script/script_handles.h"
#include "scriptapi/gtext_functions.h"
#include "scriptapi/script_edit_box.h"
#include "timed.h"

namespace {

constexpr int kObjects = 1000;
constexpr int kCallsPerRun = 100;

// ---- the functions as they were, pushing from the engine's memory

int PushTextOrNil(lua_State* L, const char* text) {
    if (text)
        lua_pushstring(L, text);
    else
        lua_pushnil(L);
    return 1;
}

int OldGtextText(lua_State* L) {
    GameText* text = ScriptArgGameTextObject(L, 1);
    return PushTextOrNil(L, text ? text->text : nullptr);
}

int OldGtextName(lua_State* L) {
    EObject* object = ScriptArgObject(L, 1);
    return PushTextOrNil(L, object ? object->name : nullptr);
}

ScriptEditBox* Box(lua_State* L) {
    return static_cast<ScriptEditBox*>(ScriptArgHandle(L, 1, ScriptHandleKind::kEditBox));
}

int OldEditGetText(lua_State* L) {
    ScriptEditBox* box = Box(L);
    if (!box) return 0;
    if (box->FileName().empty())
        lua_pushlstring(L, box->Text().data(), box->Text().size());
    else
        lua_pushliteral(L, "");
    return 1;
}

int OldEditGetSelText(lua_State* L) {
    ScriptEditBox* box = Box(L);
    if (!box) return 0;
    const std::string_view selection = box->GetSelection();
    lua_pushlstring(L, selection.data(), selection.size());
    return 1;
}

HotSpot* HotspotArg(lua_State* L, int i) {
    EObject* o = ScriptArgObject(L, i);
    return o && o->descriptor == &HotSpot::s_descriptor ? static_cast<HotSpot*>(o) : nullptr;
}

HotSpot* NextHotspot(HotSpot* h) {
    for (EObject* o = SceneListNext(h); o; o = SceneListNext(o))
        if (o->descriptor == &HotSpot::s_descriptor) return static_cast<HotSpot*>(o);
    return nullptr;
}

uint32_t OldHandlerBits(lua_State* L, const char* hotspot_name) {
    static const struct {
        const char* event;
        uint32_t bit;
    } kEvents[] = {{"MouseMove", kHotspotMouseMove},   {"MouseDown", kHotspotMouseDown},
                   {"MouseUp", kHotspotMouseUp},       {"MouseClick", kHotspotMouseClick},
                   {"MouseEnter", kHotspotMouseEnter}, {"MouseLeave", kHotspotMouseLeave}};
    if (!hotspot_name || !*hotspot_name) return 0;
    uint32_t bits = 0;
    std::string name;
    for (const auto& e : kEvents) {
        name.assign(hotspot_name).append("_").append(e.event);
        lua_pushlstring(L, name.c_str(), name.size());
        if (lua_getmetatable(L, LUA_GLOBALSINDEX)) std::abort();  // the bench's _G has none
        lua_rawget(L, LUA_GLOBALSINDEX);
        if (!lua_isnil(L, -1)) bits |= e.bit;
        lua_pop(L, 1);
    }
    return bits;
}

int OldCheckEvents(lua_State* L) {
    for (HotSpot* h = HotspotArg(L, 1); h; h = NextHotspot(h))
        h->event_flags = (h->event_flags & ~kHotspotHandlerMask) | OldHandlerBits(L, h->name);
    return 0;
}

template <class T>
int OldNames(lua_State* L, T* first) {
    int n = 0;
    for (T* o = first; o; o = ListNext(o)) ++n;
    lua_createtable(L, n, 0);
    int i = 0;
    for (T* o = first; o; o = ListNext(o)) {
        lua_pushstring(L, o->name ? o->name : "");
        lua_rawseti(L, -2, ++i);
    }
    return 1;
}

int OldHotspotsList(lua_State* L) { return OldNames(L, CurrentEngine()->currentScene->hotspots.head); }
int OldMeshesList(lua_State* L) { return OldNames(L, CurrentEngine()->currentScene->meshes.head); }
int OldPatchesList(lua_State* L) { return OldNames(L, CurrentEngine()->currentScene->patches.head); }
int OldScenesList(lua_State* L) { return OldNames(L, CurrentEngine()->scenes.head); }
int OldFontsList(lua_State* L) { return OldNames(L, CurrentEngine()->fonts.head); }

int OldGetPropertyRect(lua_State* L) {
    EObject* object = ScriptArgObject(L, 1);
    if (!object || !object->descriptor) return 0;
    const char* key = ScriptArgText(L, 2);
    PropertyInfo* p = key ? ChainFindByName(object->descriptor->first, key) : nullptr;
    if (!p || p->type != kPropertyRect) return 0;
    const void* field = object->Field(p);
    std::string text = PropertyFieldText(field, p->type);
    lua_pushlstring(L, text.data(), text.size());
    const int32_t* r = static_cast<const int32_t*>(field);
    for (int i = 0; i < 4; ++i) lua_pushnumber(L, r[i]);
    return 5;
}

// ---- the set-up

template <class T>
T* Named(ObjectList<T>& list, const std::string& name) {
    T* o = ListAppendNew(list);
    o->name = CommonStrings().Intern(name.c_str());
    return o;
}

// An engine with a current scene of kObjects hotspots (every tenth with a
// MouseDown handler), meshes and patches, kObjects scenes, fonts and game
// texts, and two edit boxes; the calls are global Lua functions.
struct TextWorld {
    Engine engine;
    lua_State* bare = luaL_newstate();  // the copies' own state

    TextWorld() {
        SetCurrentEngine(&engine);
        if (!ScriptState()) CreateScriptState();
        if (!bare) std::abort();
        luaL_openlibs(bare);
        RegisterAllClassProperties();
        GameScene* scene = nullptr;
        for (int i = 0; i < kObjects; ++i) {
            const std::string n = std::to_string(i);
            GameScene* s = Named(engine.scenes, "scene_" + n);
            if (!scene) scene = s;
            HotSpot* h = Named(scene->hotspots, "hotspot_" + n);
            h->SetDefaults();
            h->owner = &scene->hotspots;
            h->rect[0] = i, h->rect[1] = 2 * i, h->rect[2] = 100, h->rect[3] = 40;
            Named(scene->meshes, "mesh_" + n);
            Named(scene->patches, "patch_" + n);
            Named(engine.fonts, "font_" + n);
            GameText* t = ListFindOrAdd(engine.texts, GameTextStrings().Intern(("text_" + n).c_str()));
            t->text = GameTextStrings().Intern(("A line of a game text, about as long as most of them are. " + n).c_str());
        }
        engine.currentScene = scene;
        lua_State* L = ScriptState();
        lua_pushlightuserdata(L, engine.texts.head->Handle());
        lua_setglobal(L, "bench_gtext");
        lua_pushlightuserdata(L, scene->hotspots.head->Handle());
        lua_setglobal(L, "bench_hotspot");
        const struct {
            const char* name;
            lua_CFunction f;
        } kOld[] = {{"old_gtext_text", OldGtextText},         {"old_gtext_name", OldGtextName},
                    {"old_edit_gettext", OldEditGetText},     {"old_edit_getseltext", OldEditGetSelText},
                    {"old_hs_checkevents", OldCheckEvents},   {"old_ge_gethotspotslist", OldHotspotsList},
                    {"old_ge_getmesheslist", OldMeshesList},  {"old_ge_getpatcheslist", OldPatchesList},
                    {"old_ge_getsceneslist", OldScenesList},  {"old_ge_getfontslist", OldFontsList},
                    {"old_ge_getproperty", OldGetPropertyRect}};
        for (const auto& f : kOld) lua_register(bare, f.name, f.f);
        const char* kHandlers = "for i = 0, 999, 10 do _G['hotspot_' .. i .. '_MouseDown'] = function() end end";
        if (luaL_dostring(bare, kHandlers) != 0) std::abort();
        ScriptRun(kHandlers);
        ScriptRun(R"(
            bench_box = edit_create(rect_const(0, 0, 400, 300, 0))
            edit_settext(bench_box, string.rep('local x = 1 -- a line of a script in an edit box ', 4))
            edit_keydown(bench_box, 36) edit_keydown(bench_box, 16) edit_keydown(bench_box, 35)
            bench_long_box = edit_create(rect_const(0, 0, 400, 300, 0))
            edit_settext(bench_long_box, string.rep('local x = 1 -- a line of a script in an edit box ', 1300))
        )");
        for (const char* name : {"bench_gtext", "bench_hotspot", "bench_box", "bench_long_box"}) {
            lua_getglobal(L, name);
            lua_pushlightuserdata(bare, lua_touserdata(L, -1));
            lua_setglobal(bare, name);
            lua_pop(L, 1);
        }
        // The same heap to walk as the engine's state holds now (before any
        // case has run): the collector paces its cycles by the heap, so a
        // smaller one would collect more often for the same garbage.
        lua_gc(L, LUA_GCCOLLECT, 0);
        lua_pushinteger(bare, lua_gc(L, LUA_GCCOUNT, 0));
        lua_setglobal(bare, "bench_heap_kib");
        const char* kBallast = R"(
            collectgarbage('collect')
            bench_ballast = {}
            while collectgarbage('count') < bench_heap_kib do
              bench_ballast[#bench_ballast + 1] = string.rep('b', 40) .. #bench_ballast
            end
            collectgarbage('collect')
        )";
        if (luaL_dostring(bare, kBallast) != 0) std::abort();
    }
    TextWorld(const TextWorld&) = delete;
    TextWorld& operator=(const TextWorld&) = delete;
    ~TextWorld() {
        ScriptRun("edit_destroy(bench_box) edit_destroy(bench_long_box) bench_box, bench_long_box = nil, nil");
        FreeAllGameTexts(engine.texts);
        if (CurrentEngine() == &engine) SetCurrentEngine(nullptr);
        lua_close(bare);
    }
};

const struct {
    const char* label;
    const char* call;  // the function's name, then its arguments
} kCases[] = {
    {"gtext_text", "gtext_text', bench_gtext"},
    {"gtext_name", "gtext_name', bench_gtext"},
    {"edit_gettext 204 B", "edit_gettext', bench_box"},
    {"edit_gettext 66 KB", "edit_gettext', bench_long_box"},
    {"edit_getseltext 204 B", "edit_getseltext', bench_box"},
    {"hs_checkevents(first) 1000", "hs_checkevents', bench_hotspot"},
    {"ge_gethotspotslist 1000", "ge_gethotspotslist'"},
    {"ge_getmesheslist 1000", "ge_getmesheslist'"},
    {"ge_getpatcheslist 1000", "ge_getpatcheslist'"},
    {"ge_getsceneslist 1000", "ge_getsceneslist'"},
    {"ge_getfontslist 1000", "ge_getfontslist'"},
    {"ge_getproperty rect", "ge_getproperty', bench_hotspot, 'rect'"},
};

// One run of the chunk; a function of its own, so that a profiler can count
// the instructions of the runs alone (valgrind --toggle-collect=*RunChunk*).
[[gnu::noinline]] bool RunChunk(lua_State* L, int ref) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
    return lua_pcall(L, 0, 0, 0) == 0;
}

// kCallsPerRun calls of the case's function, or of its old copy.
void RunCase(benchmark::State& state, bool old) {
    TextWorld& world = bench::Kept<TextWorld>();
    lua_State* L = old ? world.bare : ScriptState();
    const auto& c = kCases[state.range(0)];
    const std::string chunk = "local f, a, b = (function(name, ...) return _G[name], ... end)('" +
                              std::string(old ? "old_" : "") + c.call + ") for i = 1, " +
                              std::to_string(kCallsPerRun) + " do f(a, b) end";
    if (luaL_loadstring(L, chunk.c_str()) != 0) std::abort();
    const int ref = luaL_ref(L, LUA_REGISTRYINDEX);
    bench::Timed(state, [&] {
        if (!RunChunk(L, ref)) {
            state.SkipWithError(lua_tostring(L, -1));
            lua_pop(L, 1);
        }
    });
    luaL_unref(L, LUA_REGISTRYINDEX, ref);
    state.SetLabel(c.label);
    state.SetItemsProcessed(state.iterations() * kCallsPerRun);
}

void CaseArguments(benchmark::internal::Benchmark* b) {
    for (int i = 0; i < int(sizeof kCases / sizeof kCases[0]); ++i) b->Arg(i);
}

void BM_TextResult(benchmark::State& state) { RunCase(state, false); }
BENCHMARK(BM_TextResult)->Apply(CaseArguments);

void BM_TextResultUnsafeBaseline(benchmark::State& state) { RunCase(state, true); }
BENCHMARK(BM_TextResultUnsafeBaseline)->Apply(CaseArguments);

}  // namespace
