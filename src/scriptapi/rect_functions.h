#pragma once
// Rectangles handed to scripts (four int32 x, y, w, h, passed as light
// userdata): the four shared slots of rect_const, the virtual-screen and the
// screen rectangle. Every one is registered as a script handle of its kind,
// so drawing functions accept only rectangles made here.
extern "C" {
#include <lua.h>
}

struct Rect;

// The rectangle of argument i, or null when it is no registered rectangle.
const Rect* ScriptArgRect(lua_State* L, int i);
// Slot 0..3 of the shared rectangle table (null outside); hs_getrect
// writes slot 0.
Rect* ScriptRectSlot(int slot);
// Registers a rectangle's storage as a rectangle handle and pushes it.
void PushScriptRect(lua_State* L, Rect* rect);
