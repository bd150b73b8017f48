// Script functions of dialog layouts: dlg_new, laying a text out with the
// current font, its lines, pages and named elements, and drawing chosen
// lines. Lines, pages and elements outside their ranges read and write
// nothing.
#include "scriptapi/dialog_functions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/engine.h"
#include "base/text.h"
#include "media/text/dialog_layout.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_handles.h"
#include "scriptapi/gtext_functions.h"
#include "scriptapi/rect_functions.h"
#include "scriptapi/script_args.h"
#include "scriptapi/script_results.h"

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

using script_args::Int;

GameFont* CurrentFont() {
    Engine* e = CurrentEngine();
    return e ? e->currentFont : nullptr;
}

// dlg_parse(layout, text, width, height, size): the line count; no result
// without a text or without a current font.
int Parse(lua_State* L) {
    DialogLayout* layout = ScriptArgDialogLayout(L, 1);
    const char* text = ScriptArgGameText(L, 2);
    GameFont* font = CurrentFont();
    if (!layout || !text || !font) return 0;
    lua_pushnumber(L, layout->Parse(font, text, Int(L, 3), Int(L, 4), Int(L, 5)));
    return 1;
}

int GetLineCount(lua_State* L) {
    DialogLayout* layout = ScriptArgDialogLayout(L, 1);
    if (!layout) return 0;
    lua_pushnumber(L, layout->LineCount());
    return 1;
}

// A layout's lines and elements are made anew by each parse, which a
// finaliser run by a push may start: their texts are copied before anything
// is pushed (see script_results.h).
int PushLayoutText(lua_State* L, const char* (*read)(const DialogLayout&, int)) {
    if (!ScriptArgDialogLayout(L, 1)) return 0;
    return script_results::PushText(L, [L, read] {
        const DialogLayout* layout = ScriptArgDialogLayout(L, 1);
        return layout ? read(*layout, Int(L, 2)) : nullptr;
    });
}

// dlg_getline(layout, line), counted from 1.
int GetLine(lua_State* L) {
    return PushLayoutText(L, [](const DialogLayout& layout, int line) -> const char* {
        return line >= 1 && line <= layout.LineCount() ? layout.GetLine(line - 1).text : nullptr;
    });
}

// dlg_getcharcount(layout, first, count): the bytes of those lines, the
// lines that exist of them.
int GetCharCount(lua_State* L) {
    DialogLayout* layout = ScriptArgDialogLayout(L, 1);
    if (!layout) return 0;
    const int64_t first = std::max<int64_t>(Int(L, 2), 1);
    const int64_t last = std::min<int64_t>(int64_t(Int(L, 2)) + Int(L, 3) - 1, layout->LineCount());
    double total = 0;
    for (int64_t i = first; i <= last; ++i) total += double(std::strlen(layout->GetLine(int(i - 1)).text));
    lua_pushnumber(L, total);
    return 1;
}

int GetElementCount(lua_State* L) {
    DialogLayout* layout = ScriptArgDialogLayout(L, 1);
    if (!layout) return 0;
    lua_pushnumber(L, layout->ElementCount());
    return 1;
}

// dlg_getelementname(layout, element), counted from 1.
int GetElementName(lua_State* L) {
    return PushLayoutText(L, [](const DialogLayout& layout, int i) -> const char* {
        return i >= 1 && i <= layout.ElementCount() ? layout.GetElement(i - 1).name : nullptr;
    });
}

// The element of argument 2: an index from 0, or a name.
const DialogLayout::Element* ElementArg(lua_State* L, const DialogLayout& layout) {
    if (lua_type(L, 2) != LUA_TNUMBER) return layout.FindElement(script_args::Text(L, 2));
    const int i = Int(L, 2);
    return i >= 0 && i < layout.ElementCount() ? &layout.GetElement(i) : nullptr;
}

// dlg_getelement(layout, index from 0 or name): text, start column, end
// column, start line, end line; nil when there is no such element. The
// numbers are taken with the text, as in PushLayoutText.
int GetElement(lua_State* L) {
    if (!ScriptArgDialogLayout(L, 1)) return 0;
    bool found = false;
    double numbers[4] = {};
    script_results::PushTexts(L, script_results::Texts::kSingle, [&](std::vector<std::string>& out) {
        const DialogLayout* layout = ScriptArgDialogLayout(L, 1);
        const DialogLayout::Element* e = layout ? ElementArg(L, *layout) : nullptr;
        if (!e) return;
        found = true;
        numbers[0] = e->start_offset;
        numbers[1] = e->end_offset;
        numbers[2] = e->start_line;
        numbers[3] = e->end_line;
        if (e->text) out.emplace_back(e->text);
    });
    if (!found) return 1;
    for (double n : numbers) lua_pushnumber(L, n);
    return 5;
}

// dlg_setpagesize(layout, page, width, height): page 0 or below clears
// every page.
int SetPageSize(lua_State* L) {
    DialogLayout* layout = ScriptArgDialogLayout(L, 1);
    if (!layout) return 0;
    const int page = Int(L, 2);
    if (page <= 0)
        layout->ClearPageSizes();
    else if (page <= DialogLayout::kMaxPages)
        layout->SetPageSize(page - 1, Int(L, 3), Int(L, 4));
    return 0;
}

// dlg_draw(layout, rect, flags, size, colour, first, count): lines first ..
// first + count - 1 of the text laid out before (a negative count: all that
// remain), in a rectangle the drawing offset does not move.
int Draw(lua_State* L) {
    DialogLayout* layout = ScriptArgDialogLayout(L, 1);
    const Rect* rect = ScriptArgRect(L, 2);
    GameFont* font = CurrentFont();
    if (!layout || !rect || !font) return 0;
    int64_t first = int64_t(Int(L, 6)) - 1;
    int64_t count = Int(L, 7);
    if (first < 0) {  // lines before the first are no lines
        if (count > 0) count = std::max<int64_t>(count + first, 0);
        if (count == 0) return 0;
        first = 0;
    }
    layout->Draw(font, nullptr, *rect, uint32_t(Int(L, 3)), ScriptArgColor(L, 5, 0xFFFFFFFFu), Int(L, 4), int(first),
                 int(count));
    return 0;
}

ScriptFunctionRecord s_dlg_new("dlg_new", New);
ScriptFunctionRecord s_dlg_parse("dlg_parse", Parse);
ScriptFunctionRecord s_dlg_getcharcount("dlg_getcharcount", GetCharCount);
ScriptFunctionRecord s_dlg_getlinecount("dlg_getlinecount", GetLineCount);
ScriptFunctionRecord s_dlg_getelementcount("dlg_getelementcount", GetElementCount);
ScriptFunctionRecord s_dlg_getelementname("dlg_getelementname", GetElementName);
ScriptFunctionRecord s_dlg_getelement("dlg_getelement", GetElement);
ScriptFunctionRecord s_dlg_getline("dlg_getline", GetLine);
ScriptFunctionRecord s_dlg_setpagesize("dlg_setpagesize", SetPageSize);
ScriptFunctionRecord s_dlg_draw("dlg_draw", Draw);

}  // namespace

DialogLayout* ScriptArgDialogLayout(lua_State* L, int i) {
    return static_cast<DialogLayout*>(ScriptArgHandle(L, i, ScriptHandleKind::kDialogLayout));
}
