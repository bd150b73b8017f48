// Script functions for the pages of 2-D scenes and for saving scenes:
// ge_pagein, ge_getpageno and scene_save.
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

namespace {

// The scene of a handle argument, when it is a live scene; else null.
GameScene* SceneArg(lua_State* L, int index) {
    EObject* o = ObjectFromHandle(lua_touserdata(L, index));
    return o && o->descriptor == &GameScene::s_descriptor ? static_cast<GameScene*>(o) : nullptr;
}

// ge_pagein(p): turns the current scene to page p (1-based), to the page
// of that name, or p pages on from the current page when p is negative.
int PageIn(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e || !e->currentScene) return 0;
    GameScene* s = e->currentScene;
    const int p = ScriptArgInt(L, 1);
    const int count = static_cast<int>(ListCount(s->pages));
    int index;
    if (p >= 1 && p <= count) {
        index = p - 1;
    } else if (const char* name = lua_type(L, 1) == LUA_TSTRING ? lua_tostring(L, 1) : nullptr;
               name && ListFindByName(s->pages, name)) {
        index = ListIndexOf(s->pages, ListFindByName(s->pages, name));
    } else if (p >= 0) {
        index = p - 1;
    } else {
        const int current = s->currentPage ? ListIndexOf(s->pages, s->currentPage) : -1;
        index = current + p;
        if (index < 0) {
            // Nothing turns: a waiting sequence goes on at once.
            if (e->executingStatement) e->statementReady = true;
            return 0;
        }
    }
    e->TurnToPage(index);
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

}  // namespace
