// Script functions on the engine's list of game texts: gtext_new,
// gtext_get, gtext_remove, gtext_sort, gtext_freeall, gtext_load, their
// names and strings, the walk over the list and saving it as a file.
#include "scriptapi/gtext_functions.h"

#include "app/engine.h"
#include "media/text/game_text.h"
#include "scene/hot_spot.h"
#include "script/lua_host.h"
#include "script/object_model.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"
#include "scriptapi/script_results.h"

namespace {

// gtext_new([name]): the text of that name, created when absent; without a
// name always a new unnamed text.
int New(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) {
        lua_pushlightuserdata(L, nullptr);
        return 1;
    }
    const char* name = script_args::Text(L, 1);
    GameText* text = name ? ListFindOrAdd(e->texts, GameTextStrings().Intern(name)) : ListAppendNew(e->texts);
    lua_pushlightuserdata(L, text ? text->Handle() : nullptr);
    return 1;
}

int Get(lua_State* L) {
    Engine* e = CurrentEngine();
    GameText* text = e ? ListFindByName(e->texts, script_args::Text(L, 1)) : nullptr;
    return script_args::PushHandleOrNil(L, text ? text->Handle() : nullptr);
}

// gtext_remove(text): only a text of the engine's list is unlinked and freed.
int Remove(lua_State* L) {
    Engine* e = CurrentEngine();
    GameText* text = ScriptArgGameTextObject(L, 1);
    if (!e || !text || ListIndexOf(e->texts, text) < 0) return 0;
    RemoveGameText(e->texts, text);
    ForgetFreedHotspotTexts();  // each finds its text again by name
    return 0;
}

int Sort(lua_State*) {
    if (Engine* e = CurrentEngine()) ListSortByName(e->texts);
    return 0;
}

int FreeAll(lua_State*) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    FreeAllGameTexts(e->texts);
    ForgetFreedHotspotTexts();  // each finds its text again by name
    return 0;
}

// gtext_load(file): a missing file changes nothing; the log names it.
int Load(lua_State* L) {
    Engine* e = CurrentEngine();
    if (const char* path = script_args::Text(L, 1); e && path) LoadGameTextFile(path, e->texts);
    return 0;
}

// gtext_name(handle), also hs_getname: the name of any live scene object;
// nil for anything else (a resource record, a stale or foreign pointer).
// A game text's name and text live in the text pool, which goes with the
// last text: they are copied before anything is pushed (see
// script_results.h).
int Name(lua_State* L) {
    EObject* object = ScriptArgObject(L, 1);
    return script_results::PushText(L, [object] { return object ? object->name : nullptr; });
}

// Text arguments are read before the text object: turning a number into
// text may run a finaliser that frees it.
int SetName(lua_State* L) {
    const char* name = script_args::Text(L, 2);
    GameText* text = ScriptArgGameTextObject(L, 1);
    if (text && name) {
        text->name = GameTextStrings().Intern(name);
        NoteListNamesChanged();
    }
    return 0;
}

int TextOf(lua_State* L) {
    GameText* text = ScriptArgGameTextObject(L, 1);
    return script_results::PushText(L, [text] { return text ? text->text : nullptr; });
}

// gtext_settext(text, string): any bytes of the string are kept.
int SetTextOf(lua_State* L) {
    size_t n = 0;
    const char* s = lua_isstring(L, 2) ? lua_tolstring(L, 2, &n) : nullptr;
    GameText* text = ScriptArgGameTextObject(L, 1);
    if (!text) return 0;
    text->text = s ? GameTextStrings().InternBytes(s, n) : nullptr;
    return 0;
}

// gtext_next([text]): the first text, or the one after the given text; nil
// at the end, and for a handle that is no text of the engine's list.
int Next(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return script_args::PushHandleOrNil(L, nullptr);
    GameText* next = nullptr;
    if (lua_isnoneornil(L, 1)) {
        next = e->texts.head;
    } else if (GameText* text = ScriptArgGameTextObject(L, 1); text && ListIndexOf(e->texts, text) >= 0) {
        next = ListNext(text);
    }
    return script_args::PushHandleOrNil(L, next ? next->Handle() : nullptr);
}

// gtext_save(path): every text of the list, replacing the file safely.
int Save(lua_State* L) {
    Engine* e = CurrentEngine();
    if (const char* path = script_args::Text(L, 1); e && path) SaveGameTextFile(path, e->texts);
    return 0;
}

ScriptFunctionRecord s_gtext_new("gtext_new", New);
ScriptFunctionRecord s_gtext_name("gtext_name", Name);
ScriptFunctionRecord s_gtext_setname("gtext_setname", SetName);
ScriptFunctionRecord s_gtext_text("gtext_text", TextOf);
ScriptFunctionRecord s_gtext_settext("gtext_settext", SetTextOf);
ScriptFunctionRecord s_gtext_next("gtext_next", Next);
ScriptFunctionRecord s_gtext_save("gtext_save", Save);
ScriptFunctionRecord s_gtext_remove("gtext_remove", Remove);
ScriptFunctionRecord s_gtext_get("gtext_get", Get);
ScriptFunctionRecord s_gtext_sort("gtext_sort", Sort);
ScriptFunctionRecord s_gtext_freeall("gtext_freeall", FreeAll);
ScriptFunctionRecord s_gtext_load("gtext_load", Load);

}  // namespace

GameText* ScriptArgGameTextObject(lua_State* L, int i) {
    EObject* object = ScriptArgObject(L, i);
    return object && object->descriptor == &GameText::s_descriptor ? static_cast<GameText*>(object) : nullptr;
}

const char* ScriptArgGameText(lua_State* L, int i) {
    if (lua_type(L, i) == LUA_TSTRING || lua_type(L, i) == LUA_TNUMBER) return lua_tostring(L, i);
    GameText* text = ScriptArgGameTextObject(L, i);
    return text ? text->text : nullptr;
}
