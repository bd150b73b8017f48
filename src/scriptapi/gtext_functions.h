#pragma once
// The engine's game texts from scripts, and the text argument that drawing
// and layout functions share: a string or a game-text handle.
extern "C" {
#include <lua.h>
}

class GameText;

// The game text behind argument i, when it is a live game-text handle.
GameText* ScriptArgGameTextObject(lua_State* L, int i);
// The text of argument i: a string (a number counts) or the text of a live
// game-text handle; null otherwise (also for a game text without text).
const char* ScriptArgGameText(lua_State* L, int i);
