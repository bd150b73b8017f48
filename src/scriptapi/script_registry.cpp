// The registry's own entries: the name bound to the shared empty function,
// the second names of functions that have two, and the records shared by
// several script functions.
#include "script/script_function.h"
#include "script/script_handles.h"
#include "scriptapi/script_globals.h"

namespace {

ScriptFunctionRecord s_mesh_remove("mesh_remove", EmptyScriptFunction);

// Bound when the function they name is registered.
ScriptFunctionAlias s_hs_getname("hs_getname", "gtext_name");
ScriptFunctionAlias s_rotation_fromvec("rotation_fromvec", "matrix_fromvec");

struct SharedRecords {
    DialogLayout* layout = new DialogLayout;  // large: kept off the static image
    Rect rects[kScriptRectCount];
    Rand48 rand;

    SharedRecords() {
        RegisterScriptHandle(layout, ScriptHandleKind::kDialogLayout);
        for (Rect& r : rects) RegisterScriptHandle(&r, ScriptHandleKind::kRect);
    }
    ~SharedRecords() {
        for (Rect& r : rects) UnregisterScriptHandle(&r);
        UnregisterScriptHandle(layout);
        delete layout;
    }
};

SharedRecords& Shared() {
    static SharedRecords shared;
    return shared;
}

// Built with the records, before main.
[[maybe_unused]] SharedRecords& s_shared = Shared();

}  // namespace

DialogLayout& DrawTextLayout() { return *Shared().layout; }
Rect* ScriptRects() { return Shared().rects; }
Rand48& ScriptRand() { return Shared().rand; }
