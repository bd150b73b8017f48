// Script functions of dialog layouts: dlg_new.
#include "scriptapi/dialog_functions.h"

#include <memory>
#include <new>
#include <vector>

#include "media/dialog_layout.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_handles.h"

namespace {

// Layouts live as long as the program: scripts never free them (kept
// reachable, never destroyed, so handles stay valid to the end).
std::vector<std::unique_ptr<DialogLayout>>& Layouts() {
    static auto* layouts = new std::vector<std::unique_ptr<DialogLayout>>;
    return *layouts;
}

// dlg_new(): a new empty layout; a null handle when memory runs out.
int New(lua_State* L) {
    DialogLayout* layout = new (std::nothrow) DialogLayout();
    if (layout) {
        Layouts().emplace_back(layout);
        RegisterScriptHandle(layout, ScriptHandleKind::kDialogLayout);
    }
    lua_pushlightuserdata(L, layout);
    return 1;
}

ScriptFunctionRecord s_dlg_new("dlg_new", New);

}  // namespace

DialogLayout* ScriptArgDialogLayout(lua_State* L, int i) {
    return static_cast<DialogLayout*>(ScriptArgHandle(L, i, ScriptHandleKind::kDialogLayout));
}
