// Script functions of fonts and 2-D drawing on top of the frame: the
// current and system font, text metrics, text in a line or word-wrapped,
// rectangles, lines, the drawing offset and the clip rectangle.
#include "scriptapi/draw_functions.h"

#include <cstdint>

extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "base/text.h"
#include "media/text/dialog_layout.h"
#include "media/image/draw2d.h"
#include "media/text/game_font.h"
#include "render/render_device.h"
#include "scene/game_video.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "scriptapi/gtext_functions.h"
#include "scriptapi/rect_functions.h"
#include "scriptapi/script_args.h"
#include "scriptapi/script_globals.h"
#include "scriptapi/script_results.h"

namespace {

using script_args::Int;

ScriptDrawOffset g_offset;

GameFont* CurrentFont() {
    Engine* e = CurrentEngine();
    return e ? e->currentFont : nullptr;
}

// ---------------------------------------------------------------- fonts

int GetFont(lua_State* L) {
    GameFont* font = CurrentFont();
    return script_args::PushHandleOrNil(L, font ? font->Handle() : nullptr);
}

// ge_setfont(name): a name that matches no font selects the first font.
int SetFont(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    GameFont* font = ListFindByName(e->fonts, script_args::Text(L, 1));
    e->currentFont = font ? font : e->fonts.head;
    return 0;
}

// ge_setsysfont(name): unchanged when no font has that name.
int SetSysFont(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    if (GameFont* font = ListFindByName(e->fonts, script_args::Text(L, 1))) e->systemFont = font;
    return 0;
}

// An array of the names of one of the engine's lists (empty without an
// engine), copied before anything is pushed (see script_results.h).
template <class T>
int PushNames(lua_State* L, ObjectList<T> Engine::*list) {
    Engine* e = CurrentEngine();
    return script_results::PushNames(L, script_results::Texts::kArray, e ? (e->*list).head : nullptr);
}

int GetFontsList(lua_State* L) { return PushNames(L, &Engine::fonts); }

// ge_getvideoslist(): the names of the engine's videos.
int GetVideosList(lua_State* L) { return PushNames(L, &Engine::videos); }

int FontHeight(lua_State* L) {
    GameFont* font = CurrentFont();
    lua_pushnumber(L, font ? double(uint32_t(font->fontH)) : 0.0);
    return 1;
}

int GetFontWidth(lua_State* L) {
    GameFont* font = CurrentFont();
    lua_pushnumber(L, font ? font->fontW : 0);
    return 1;
}

// A measure at a drawing size: scaled by size / character width (never by a
// zero width).
double AtSize(const GameFont* font, double value, double size) {
    return size != 0 && font->fontW != 0 ? value * size / font->fontW : value;
}

// ge_getfontheight([size]): the line height; nothing without a font.
int GetFontHeight(lua_State* L) {
    GameFont* font = CurrentFont();
    if (!font) return 0;
    const double height = font->LineHeight();
    lua_pushnumber(L, lua_type(L, 1) == LUA_TNUMBER ? AtSize(font, height, lua_tonumber(L, 1)) : height);
    return 1;
}

// ge_getstringwidth(text, size): nothing without a font.
int GetStringWidth(lua_State* L) {
    GameFont* font = CurrentFont();
    if (!font) return 0;
    lua_pushnumber(L, AtSize(font, font->GetStringWidth(ScriptArgGameText(L, 1)), lua_tonumber(L, 2)));
    return 1;
}

// ---------------------------------------------------------------- text

// The box, colour, alignment and size of the two text forms: (text, x, y,
// colour, size) in a screen-sized box, or (text, rect, colour, flags, size);
// both moved by the drawing offset.
struct TextBox {
    Rect rect;
    uint32_t colour = 0xFFFFFFFFu;
    uint32_t flags = 0;
    int32_t size = 0;
};

TextBox ReadTextBox(lua_State* L) {
    TextBox box;
    if (const Rect* r = ScriptArgRect(L, 2)) {
        box.rect = *r;
        box.colour = ScriptArgColor(L, 3, 0xFFFFFFFFu);
        box.flags = uint32_t(Int(L, 4));
    } else {
        Engine* e = CurrentEngine();
        box.rect.Set(Int(L, 2), Int(L, 3), e ? e->screenRect.w : 0, e ? e->screenRect.h : 0);
        box.colour = ScriptArgColor(L, 4, 0xFFFFFFFFu);
    }
    box.rect.x = SaturateToInt(double(box.rect.x) + g_offset.x);
    box.rect.y = SaturateToInt(double(box.rect.y) + g_offset.y);
    box.size = Int(L, 5);
    return box;
}

// The box is read before the text: turning a number into text may run a
// finaliser that frees a game text given as the text.
int DrawString(lua_State* L) {
    GameFont* font = CurrentFont();
    if (!font || !ScriptArgGameText(L, 1)) return 0;
    const TextBox box = ReadTextBox(L);
    const char* text = ScriptArgGameText(L, 1);
    if (!text) return 0;
    font->DrawString(text, box.rect.x, box.rect.y, box.rect.w, box.rect.h, box.flags, box.colour, box.size);
    return 0;
}

// ge_drawtext: laid out afresh on one shared layout at every call; pushes
// the number of lines.
int DrawText(lua_State* L) {
    GameFont* font = CurrentFont();
    if (!font) return 0;
    DialogLayout* layout = &DrawTextLayout();
    const TextBox box = ReadTextBox(L);  // first, as in DrawString
    const char* text = ScriptArgGameText(L, 1);
    layout->Draw(font, text ? text : "", box.rect, box.flags, box.colour, box.size, 0, -1);
    lua_pushnumber(L, layout->LineCount());
    return 1;
}

// ----------------------------------------------------- shapes, offset, clip

float OffsetX(lua_State* L, int i) { return float(lua_tonumber(L, i)) + float(g_offset.x); }
float OffsetY(lua_State* L, int i) { return float(lua_tonumber(L, i)) + float(g_offset.y); }

int DrawRect(lua_State* L) {
    DrawRectOutline(OffsetX(L, 1), OffsetY(L, 2), float(Int(L, 3)), float(Int(L, 4)), ScriptArgColor(L, 5, 0xFFFFFFFFu));
    return 0;
}

int FillRectFn(lua_State* L) {
    FillRect(SaturateToInt(double(Int(L, 1)) + g_offset.x), SaturateToInt(double(Int(L, 2)) + g_offset.y), Int(L, 3),
             Int(L, 4), ScriptArgColor(L, 5, 0xFFFFFFFFu));
    return 0;
}

int DrawLineFn(lua_State* L) {
    DrawLine(OffsetX(L, 1), OffsetY(L, 2), OffsetX(L, 3), OffsetY(L, 4), ScriptArgColor(L, 5, 0xFFFFFFFFu));
    return 0;
}

int Translate(lua_State* L) {
    g_offset.x = Int(L, 1);
    g_offset.y = Int(L, 2);
    return 0;
}

// ge_setclip(x, y, w, h) turns the scissor on (not moved by the offset);
// any other number of arguments turns it off.
int SetClip(lua_State* L) {
    RenderDevice* device = g_renderDevice;
    if (!device) return 0;
    device->FlushBatch();
    if (lua_gettop(L) == 4)
        device->SetScissor(true, Int(L, 1), Int(L, 2), Int(L, 3), Int(L, 4));
    else
        device->SetScissor(false, 0, 0, 0, 0);
    return 0;
}

ScriptFunctionRecord s_ge_getfont("ge_getfont", GetFont);
ScriptFunctionRecord s_ge_setfont("ge_setfont", SetFont);
ScriptFunctionRecord s_ge_setsysfont("ge_setsysfont", SetSysFont);
ScriptFunctionRecord s_ge_getfontslist("ge_getfontslist", GetFontsList);
ScriptFunctionRecord s_ge_getvideoslist("ge_getvideoslist", GetVideosList);
ScriptFunctionRecord s_ge_fontheight("ge_fontheight", FontHeight);
ScriptFunctionRecord s_ge_drawstring("ge_drawstring", DrawString);
ScriptFunctionRecord s_ge_drawtext("ge_drawtext", DrawText);
ScriptFunctionRecord s_ge_getstringwidth("ge_getstringwidth", GetStringWidth);
ScriptFunctionRecord s_ge_getfontwidth("ge_getfontwidth", GetFontWidth);
ScriptFunctionRecord s_ge_getfontheight("ge_getfontheight", GetFontHeight);
ScriptFunctionRecord s_ge_drawrect("ge_drawrect", DrawRect);
ScriptFunctionRecord s_ge_fillrect("ge_fillrect", FillRectFn);
ScriptFunctionRecord s_ge_drawline("ge_drawline", DrawLineFn);
ScriptFunctionRecord s_ge_translate("ge_translate", Translate);
ScriptFunctionRecord s_ge_setclip("ge_setclip", SetClip);

}  // namespace

ScriptDrawOffset& DrawOffset() { return g_offset; }
