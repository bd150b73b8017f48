// Script functions for the pages of 2-D scenes and for saving scenes:
// turning, setting, counting, naming and listing pages, and scene_save.
extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/object_list.h"
#include "scene/game_scene.h"
#include "scene/scene_page.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"

namespace {

// The scene of a handle argument, when it is a live scene; else null.
GameScene* SceneArg(lua_State* L, int index) {
    EObject* o = ObjectFromHandle(lua_touserdata(L, index));
    return o && o->descriptor == &GameScene::s_descriptor ? static_cast<GameScene*>(o) : nullptr;
}

// ge_pagein(p): turns the current scene to page p (1-based), to the page
// of that name, or p pages on from the current page when p is negative
// (0 turns to no page). Only a page scene turns (its drawing moves the
// turn on); outside one, before the first page or past the last, nothing
// turns and a waiting sequence goes on at once.
int PageIn(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    auto turn_nothing = [e] {
        if (e->executingStatement) e->statementReady = true;
        return 0;
    };
    GameScene* s = e->currentScene;
    if (!s || s->viewtype != kViewPage) return turn_nothing();
    const int p = ScriptArgInt(L, 1);
    const int count = static_cast<int>(ListCount(s->pages));
    int64_t index;
    if (p >= 1 && p <= count) {
        index = p - 1;
    } else if (const char* name = lua_type(L, 1) == LUA_TSTRING ? lua_tostring(L, 1) : nullptr;
               name && ListFindByName(s->pages, name)) {
        index = ListIndexOf(s->pages, ListFindByName(s->pages, name));
    } else if (p >= 0) {
        index = static_cast<int64_t>(p) - 1;
    } else {
        const int current = s->currentPage ? ListIndexOf(s->pages, s->currentPage) : -1;
        index = static_cast<int64_t>(current) + p;
        if (index < 0) return turn_nothing();
    }
    if (index >= count) return turn_nothing();
    e->TurnToPage(static_cast<int32_t>(index));
    if (e->executingStatement) e->transitionByStatement = true;
    return 0;
}

// ge_getpageno([scene]): the 1-based place of the scene's current page, 0
// when it has none.
int GetPageNumber(lua_State* L) {
    Engine* e = CurrentEngine();
    GameScene* s = lua_type(L, 1) == LUA_TLIGHTUSERDATA ? SceneArg(L, 1) : (e ? e->currentScene : nullptr);
    int n = 0;
    if (s && s->currentPage) n = ListIndexOf(s->pages, s->currentPage) + 1;
    lua_pushnumber(L, n);
    return 1;
}

// The scene of argument 1 when it is a light userdata (a stale or foreign
// one reads as no scene), else the current scene.
GameScene* SceneArgOrCurrent(lua_State* L) {
    if (lua_type(L, 1) == LUA_TLIGHTUSERDATA) return SceneArg(L, 1);
    Engine* e = CurrentEngine();
    return e ? e->currentScene : nullptr;
}

GameScene* CurrentScene() {
    Engine* e = CurrentEngine();
    return e ? e->currentScene : nullptr;
}

// ge_setpage(p): page p (1-based) or the page of that name becomes current
// without a turn; no page when neither names one.
int SetPage(lua_State* L) {
    GameScene* s = CurrentScene();
    if (!s) return 0;
    const int p = ScriptArgInt(L, 1);
    const int count = static_cast<int>(ListCount(s->pages));
    if (p >= 1 && p <= count)
        s->currentPage = ListAt(s->pages, p - 1);
    else
        s->currentPage = lua_type(L, 1) == LUA_TSTRING ? ListFindByName(s->pages, lua_tostring(L, 1)) : nullptr;
    return 0;
}

int GetPageCount(lua_State* L) {
    GameScene* s = SceneArgOrCurrent(L);
    lua_pushnumber(L, s ? static_cast<lua_Number>(ListCount(s->pages)) : 0);
    return 1;
}

// ge_setprevpage(): the page before the current one, wrapping to the last.
int SetPrevPage(lua_State*) {
    GameScene* s = CurrentScene();
    if (!s || !s->pages.head) return 0;
    const int current = s->currentPage ? ListIndexOf(s->pages, s->currentPage) : -1;
    s->currentPage = current > 0 ? ListAt(s->pages, current - 1) : s->pages.tail;
    return 0;
}

// ge_setnextpage(): the page after the current one, wrapping to the first.
int SetNextPage(lua_State*) {
    GameScene* s = CurrentScene();
    if (!s || !s->pages.head) return 0;
    // A current page that is not one of the scene's pages starts again.
    ScenePage* next = s->currentPage && ListIndexOf(s->pages, s->currentPage) >= 0 ? ListNext(s->currentPage) : nullptr;
    s->currentPage = next ? next : s->pages.head;
    return 0;
}

int SetLastPage(lua_State*) {
    GameScene* s = CurrentScene();
    if (s && s->pages.tail) s->currentPage = s->pages.tail;
    return 0;
}

// ge_getpagename([scene]): the name of the scene's current page; nil
// without a scene or a current page.
int GetPageName(lua_State* L) {
    GameScene* s = SceneArgOrCurrent(L);
    return script_args::PushTextOrNil(L, s && s->currentPage ? s->currentPage->name : nullptr);
}

// ge_getpagelist(): the page handles of the current scene; no result
// without a scene or pages. The scene is taken again once the table is
// made: making it may run a finaliser that frees scenes.
int GetPageList(lua_State* L) {
    GameScene* s = CurrentScene();
    if (!s || !s->pages.head) return 0;
    lua_createtable(L, static_cast<int>(ListCount(s->pages)), 0);
    s = CurrentScene();
    if (!s || !s->pages.head) return 0;
    int i = 0;
    for (ScenePage* p = s->pages.head; p; p = ListNext(p)) {
        lua_pushlightuserdata(L, p->Handle());
        lua_rawseti(L, -2, ++i);
    }
    return 1;
}

// scene_save([name]): the current scene, or the scene of that name.
int SceneSave(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    GameScene* s = lua_type(L, 1) == LUA_TSTRING ? ListFindByName(e->scenes, lua_tostring(L, 1)) : e->currentScene;
    if (s) e->SaveScene(s);
    return 0;
}

ScriptFunctionRecord r_pagein("ge_pagein", PageIn);
ScriptFunctionRecord r_getpageno("ge_getpageno", GetPageNumber);
ScriptFunctionRecord r_scene_save("scene_save", SceneSave);
ScriptFunctionRecord r_setpage("ge_setpage", SetPage);
ScriptFunctionRecord r_getpagecount("ge_getpagecount", GetPageCount);
ScriptFunctionRecord r_setprevpage("ge_setprevpage", SetPrevPage);
ScriptFunctionRecord r_setnextpage("ge_setnextpage", SetNextPage);
ScriptFunctionRecord r_setlastpage("ge_setlastpage", SetLastPage);
ScriptFunctionRecord r_getpagename("ge_getpagename", GetPageName);
ScriptFunctionRecord r_getpagelist("ge_getpagelist", GetPageList);

}  // namespace
