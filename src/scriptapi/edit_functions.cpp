// Script functions of the text-edit boxes: edit_create and edit_destroy,
// and the edit_ functions that forward one event or request to a box.
// Boxes are script handles of their own kind; a stale, foreign or destroyed
// box is treated as missing.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <lua.h>
}

#include "app/app_window.h"
#include "app/engine.h"
#include "media/text/game_font.h"
#include "script/engine_work.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_handles.h"
#include "scriptapi/rect_functions.h"
#include "scriptapi/script_args.h"
#include "scriptapi/script_edit_box.h"
#include "scriptapi/script_results.h"

namespace {

using script_args::Int;
using script_args::Text;

// Boxes live until a script destroys them (kept reachable until then).
std::vector<std::unique_ptr<ScriptEditBox>>& Boxes() {
    static auto* boxes = new std::vector<std::unique_ptr<ScriptEditBox>>;
    return *boxes;
}

// A text longer than a copy in the frame takes is pushed from the box
// itself, in one protected push. A collection step that push runs may call
// edit_ functions from a finaliser: a box whose text a push in progress is
// reading parks that text before it is changed or destroyed (and goes on
// with a copy), so the text being pushed stays. A parked text goes when no
// push in progress reads it any more; there are never more of them than
// pushes in progress.
std::vector<const char*>& Pushing() {  // where each push in progress reads, innermost last
    static auto* reads = new std::vector<const char*>;
    return *reads;
}

std::vector<std::string>& ParkedTexts() {
    static auto* texts = new std::vector<std::string>;
    return *texts;
}

// Whether a push in progress reads the text.
bool BeingPushed(const std::string& text) {
    const auto first = reinterpret_cast<uintptr_t>(text.data());
    for (const char* at : Pushing())
        if (const auto a = reinterpret_cast<uintptr_t>(at); a >= first && a - first <= text.size()) return true;
    return false;
}

ScriptEditBox* BoxToRead(lua_State* L) {
    return static_cast<ScriptEditBox*>(ScriptArgHandle(L, 1, ScriptHandleKind::kEditBox));
}

// The box of a function that may change or destroy it.
ScriptEditBox* Box(lua_State* L) {
    ScriptEditBox* box = BoxToRead(L);
    if (box && !Pushing().empty() && BeingPushed(box->Text())) box->ParkText(ParkedTexts());
    return box;
}

// Frees what was parked for pushes that are over.
void FreeParked() {
    auto& texts = ParkedTexts();
    for (size_t i = texts.size(); i-- > 0;)
        if (!BeingPushed(texts[i])) texts.erase(texts.begin() + std::ptrdiff_t(i));
}

// Text the box holds (or "") as one result.
int PushBoxText(lua_State* L, std::string_view text) {
    if (text.size() <= script_results::TextCopies::kInline)
        return script_results::PushTextCopy(L, text.data(), text.size());
    Pushing().push_back(text.data());
    const int pushed = script_results::PushBytesProtected(L, text.data(), text.size());
    Pushing().pop_back();
    FreeParked();
    return pushed >= 0 ? pushed : script_results::detail::RaiseAgain(L);
}

// edit_create(rect, [font name], flags, colour): no result without a
// rectangle; a font name that matches no font leaves the box without one.
int Create(lua_State* L) {
    const Rect* rect = ScriptArgRect(L, 1);
    if (!rect) return 0;
    Engine* e = CurrentEngine();
    GameFont* font = nullptr;
    if (e) font = lua_isnoneornil(L, 2) ? e->currentFont : ListFindByName(e->fonts, Text(L, 2));
    auto* box = new (std::nothrow) ScriptEditBox(font, Int(L, 3), ScriptArgColor(L, 4, 0xFFFFFFFFu), *rect);
    if (!box) return script_args::PushHandleOrNil(L, nullptr);
    Boxes().emplace_back(box);
    RegisterScriptHandle(box, ScriptHandleKind::kEditBox);
    lua_pushlightuserdata(L, box);
    return 1;
}

int Destroy(lua_State* L) {
    ScriptEditBox* box = Box(L);
    if (!box) return 0;  // a box destroyed before is no box
    UnregisterScriptHandle(box);
    auto& boxes = Boxes();
    for (size_t i = 0; i < boxes.size(); ++i) {
        if (boxes[i].get() != box) continue;
        // A box that engine work below this call reads stays until it ends.
        ReleaseWhenFree([](void* b) { delete static_cast<ScriptEditBox*>(b); }, boxes[i].release());
        boxes[i] = std::move(boxes.back());
        boxes.pop_back();
        break;
    }
    return 0;
}

// The whole text; "" for a box bound to an imported file. Without a box the
// caller gets its own last argument back, as from edit_getseltext,
// edit_setseltext and edit_cmd.
int GetText(lua_State* L) {
    ScriptEditBox* box = BoxToRead(L);
    if (!box) return script_args::GiveBackLastArgument(L);
    return PushBoxText(L, box->FileName().empty() ? std::string_view(box->Text()) : std::string_view());
}

// Text arguments are read before the box is looked up: turning a number
// into text may run a finaliser that destroys the box.
int SetText(lua_State* L) {
    const char* text = Text(L, 2);
    if (ScriptEditBox* box = Box(L)) box->SetText(text);
    return 0;
}

int InsertText(lua_State* L) {
    const char* text = Text(L, 2);
    ScriptEditBox* box = Box(L);
    if (box && text) box->Paste(text);
    return 0;
}

int GetSelText(lua_State* L) {
    ScriptEditBox* box = BoxToRead(L);
    if (!box) return script_args::GiveBackLastArgument(L);
    return PushBoxText(L, box->GetSelection());
}

// These give the caller its last argument back, as it was given unless a
// box took it as text.
int SetSelText(lua_State* L) {
    if (!Box(L)) return script_args::GiveBackLastArgument(L);
    const char* text = Text(L, 2);
    ScriptEditBox* box = Box(L);
    if (box && text) box->ReplaceSelection(text);
    return script_args::GiveBackLastArgument(L);
}

int Cmd(lua_State* L) {
    ScriptEditBox* box = Box(L);
    if (!box) return script_args::GiveBackLastArgument(L);
    // A command given as a number is made a string, which may run a
    // finaliser that destroys the box: it is found again then.
    const bool made = lua_type(L, 2) != LUA_TSTRING;
    const char* command = Text(L, 2);
    if (made) box = Box(L);
    if (box) box->RunCommand(command);
    return script_args::GiveBackLastArgument(L);
}

int SetFocus(lua_State* L) {
    if (ScriptEditBox* box = Box(L)) box->SetFocus(true);
    return 0;
}

int LostFocus(lua_State* L) {
    if (ScriptEditBox* box = Box(L)) box->SetFocus(false);
    return 0;
}

int Move(lua_State* L) {
    ScriptEditBox* box = Box(L);
    if (const Rect* rect = ScriptArgRect(L, 2); box && rect) box->SetRect(*rect);
    return 0;
}

int KeyDown(lua_State* L) {
    if (ScriptEditBox* box = Box(L)) box->OnKeyDown(Int(L, 2));
    return 0;
}

int KeyUp(lua_State* L) {
    if (ScriptEditBox* box = Box(L)) box->OnKeyUp(Int(L, 2));
    return 0;
}

int SendChar(lua_State* L) {
    if (ScriptEditBox* box = Box(L)) box->OnChar(Int(L, 2));
    return 0;
}

int ImportFile(lua_State* L) {
    const char* path = Text(L, 2);
    if (ScriptEditBox* box = Box(L)) box->ImportFile(path);
    return 0;
}

int SaveToFile(lua_State* L) {
    const char* path = Text(L, 2);
    if (ScriptEditBox* box = Box(L)) box->SaveToFile(path);
    return 0;
}

int MouseWheel(lua_State* L) {
    if (ScriptEditBox* box = Box(L)) box->Scroll(Int(L, 2));
    return 0;
}

int MouseDown(lua_State* L) {
    if (ScriptEditBox* box = Box(L)) box->OnMouseDown(Int(L, 2), Int(L, 3));
    return 0;
}

int MouseUp(lua_State* L) {
    if (ScriptEditBox* box = Box(L)) box->OnMouseUp(Int(L, 2), Int(L, 3), g_appWindow ? g_appWindow->GetTimeMs() : 0);
    return 0;
}

int MarkLine(lua_State* L) {
    if (ScriptEditBox* box = Box(L)) box->HighlightLine(Int(L, 2));
    return 0;
}

int Render(lua_State* L) {
    if (ScriptEditBox* box = Box(L)) box->Render(g_appWindow ? g_appWindow->GetFrameCount() : 0);
    return 0;
}

int IsModified(lua_State* L) {
    ScriptEditBox* box = BoxToRead(L);
    lua_pushboolean(L, box && box->Modified());
    return 1;
}

ScriptFunctionRecord s_edit_create("edit_create", Create);
ScriptFunctionRecord s_edit_destroy("edit_destroy", Destroy);
ScriptFunctionRecord s_edit_gettext("edit_gettext", GetText);
ScriptFunctionRecord s_edit_settext("edit_settext", SetText);
ScriptFunctionRecord s_edit_inserttext("edit_inserttext", InsertText);
ScriptFunctionRecord s_edit_getseltext("edit_getseltext", GetSelText);
ScriptFunctionRecord s_edit_setseltext("edit_setseltext", SetSelText);
ScriptFunctionRecord s_edit_cmd("edit_cmd", Cmd);
ScriptFunctionRecord s_edit_setfocus("edit_setfocus", SetFocus);
ScriptFunctionRecord s_edit_lostfocus("edit_lostfocus", LostFocus);
ScriptFunctionRecord s_edit_move("edit_move", Move);
ScriptFunctionRecord s_edit_keydown("edit_keydown", KeyDown);
ScriptFunctionRecord s_edit_keyup("edit_keyup", KeyUp);
ScriptFunctionRecord s_edit_sendchar("edit_sendchar", SendChar);
ScriptFunctionRecord s_edit_importfile("edit_importfile", ImportFile);
ScriptFunctionRecord s_edit_savetofile("edit_savetofile", SaveToFile);
ScriptFunctionRecord s_edit_mousewheel("edit_mousewheel", MouseWheel);
ScriptFunctionRecord s_edit_mousedown("edit_mousedown", MouseDown);
ScriptFunctionRecord s_edit_mouseup("edit_mouseup", MouseUp);
ScriptFunctionRecord s_edit_markline("edit_markline", MarkLine);
ScriptFunctionRecord s_edit_render("edit_render", Render);
ScriptFunctionRecord s_edit_ismodified("edit_ismodified", IsModified);

}  // namespace
