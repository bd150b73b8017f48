// Script functions that hand out rectangles: rect_const, rect_get,
// rect_screen2d and ge_screenrect.
#include "scriptapi/rect_functions.h"

#include "app/engine.h"
#include "base/text.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_handles.h"
#include "scriptapi/script_args.h"
#include "scriptapi/script_globals.h"

namespace {

// The four slots of rect_const (ScriptRects, scriptapi/script_globals.h): a
// pushed pointer points into its slot, so a later rect_const of the same
// slot changes every copy a script holds.
// The virtual screen and the screen, refreshed from the engine whenever a
// script asks for them.
Rect g_screen2d_rect(0, 0, 1024, 768);
Rect g_screen_rect;

// rect_const(x, y, w, h, slot): a slot outside 0..3 gives nil.
int RectConst(lua_State* L) {
    const int32_t slot = script_args::Int(L, 5);
    if (slot < 0 || slot > 3) {
        lua_pushnil(L);
        return 1;
    }
    Rect& r = ScriptRects()[slot];
    r.Set(script_args::Int(L, 1), script_args::Int(L, 2), script_args::Int(L, 3), script_args::Int(L, 4));
    PushScriptRect(L, &r);
    return 1;
}

// rect_get(rect): x, y, w, h; nil for anything that is no rectangle.
int RectGet(lua_State* L) {
    const Rect* r = ScriptArgRect(L, 1);
    if (!r) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushnumber(L, r->x);
    lua_pushnumber(L, r->y);
    lua_pushnumber(L, r->w);
    lua_pushnumber(L, r->h);
    return 4;
}

int RectScreen2d(lua_State* L) {
    if (Engine* e = CurrentEngine(); e && e->virtualRect.w > 0 && e->virtualRect.h > 0) g_screen2d_rect = e->virtualRect;
    PushScriptRect(L, &g_screen2d_rect);
    return 1;
}

int ScreenRect(lua_State* L) {
    if (Engine* e = CurrentEngine()) g_screen_rect = e->screenRect;
    PushScriptRect(L, &g_screen_rect);
    return 1;
}

ScriptFunctionRecord s_ge_screenrect("ge_screenrect", ScreenRect);
ScriptFunctionRecord s_rect_const("rect_const", RectConst);
ScriptFunctionRecord s_rect_screen2d("rect_screen2d", RectScreen2d);
ScriptFunctionRecord s_rect_get("rect_get", RectGet);

}  // namespace

Rect* ScriptRectSlot(int slot) { return slot >= 0 && slot < kScriptRectCount ? &ScriptRects()[slot] : nullptr; }

const Rect* ScriptArgRect(lua_State* L, int i) {
    return static_cast<const Rect*>(ScriptArgHandle(L, i, ScriptHandleKind::kRect));
}

void PushScriptRect(lua_State* L, Rect* rect) {
    RegisterScriptHandle(rect, ScriptHandleKind::kRect);
    lua_pushlightuserdata(L, rect);
}
