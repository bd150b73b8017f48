#pragma once
// Dialog layouts made for scripts by dlg_new: registered as script handles
// of their own kind, so the dlg_ functions take only layouts made here.
extern "C" {
#include <lua.h>
}

class DialogLayout;

// The layout of argument i, or null when it is none made by dlg_new.
DialogLayout* ScriptArgDialogLayout(lua_State* L, int i);
