// Script functions of hotspots: size, position, name, images, switches,
// the parent and child tree, handler bits, drawing, rectangles and removal.
// Every walk up or along the tree is bounded, so a cycle made by a script
// cannot hang the game.
extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/string_pool.h"
#include "media/resource_manager.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "scriptapi/rect_functions.h"
#include "scriptapi/script_args.h"

namespace {

using script_args::Int;
using script_args::PushHandleOrNil;

// The longest parent or child chain followed.
constexpr int kMaxHotspotChain = 4096;

HotSpot* HotspotArg(lua_State* L, int i) {
    EObject* o = ScriptArgObject(L, i);
    return o && o->descriptor == &HotSpot::s_descriptor ? static_cast<HotSpot*>(o) : nullptr;
}

// The hotspot a hotspot's chain link names: a child's next sibling, a top
// hotspot's first child.
HotSpot* ChainLink(const HotSpot* h) { return h->parent ? h->next_sibling : h->first_child; }

// Argument i as an image record: nil (or nothing) clears, a registered
// record sets, anything else is refused.
bool RecordArg(lua_State* L, int i, ResourceRecord** out) {
    if (lua_isnoneornil(L, i)) {
        *out = nullptr;
        return true;
    }
    *out = static_cast<ResourceRecord*>(ScriptArgHandle(L, i, ScriptHandleKind::kResource));
    return *out != nullptr;
}

int PushPair(lua_State* L, double a, double b) {
    lua_pushnumber(L, a);
    lua_pushnumber(L, b);
    return 2;
}

int Resize(lua_State* L) {
    if (HotSpot* h = HotspotArg(L, 1)) {
        h->rect[2] = Int(L, 2);
        h->rect[3] = Int(L, 3);
    }
    return 0;
}

// hs_moveto(h, x, y): the stored position is x, y less every ancestor's, so
// the unscaled absolute position becomes x, y.
int MoveTo(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    if (!h) return 0;
    int64_t x = Int(L, 2), y = Int(L, 3);
    int steps = 0;
    for (HotSpot* p = h->parent; p && p != h && steps < kMaxHotspotChain; p = p->parent, ++steps) {
        x -= p->rect[0];
        y -= p->rect[1];
    }
    h->rect[0] = SaturateToInt(double(x));
    h->rect[1] = SaturateToInt(double(y));
    return 0;
}

int Move(lua_State* L) {
    if (HotSpot* h = HotspotArg(L, 1)) {
        h->rect[0] = SaturateToInt(double(int64_t(h->rect[0]) + Int(L, 2)));
        h->rect[1] = SaturateToInt(double(int64_t(h->rect[1]) + Int(L, 3)));
    }
    return 0;
}

// Text arguments are read before the hotspot: turning a number into text may
// run a finaliser that frees it.
int SetName(lua_State* L) {
    const char* name = script_args::Text(L, 2);
    HotSpot* h = HotspotArg(L, 1);
    if (h && name) {
        h->name = CommonStrings().Intern(name);
        NoteListNamesChanged();
    }
    return 0;
}

int SetBgImage(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    ResourceRecord* r = nullptr;
    if (h && RecordArg(L, 2, &r)) h->bgimage = r;
    return 0;
}

int GetCursor(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    return PushHandleOrNil(L, h ? h->cursor : nullptr);
}

int SetCursor(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    ResourceRecord* r = nullptr;
    if (h && RecordArg(L, 2, &r)) h->cursor = r;
    return 0;
}

int SetEnable(lua_State* L) {
    if (HotSpot* h = HotspotArg(L, 1)) h->enabled = lua_toboolean(L, 2);
    return 0;
}

int SetVisible(lua_State* L) {
    if (HotSpot* h = HotspotArg(L, 1)) h->visible = lua_toboolean(L, 2);
    return 0;
}

// hs_getvisible(h): the hotspot's own flag; its ancestors are not asked.
int GetVisible(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    lua_pushboolean(L, h && h->visible);
    return 1;
}

int GetParent(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    return PushHandleOrNil(L, h && h->parent ? h->parent->Handle() : nullptr);
}

// hs_nextchild(h): for a child its next sibling, for a top hotspot its
// first child; nil at the end. No result for no hotspot.
int NextChild(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    if (!h) return 0;
    HotSpot* next = ChainLink(h);
    return PushHandleOrNil(L, next ? next->Handle() : nullptr);
}

// The hotspot after h in its list. A hotspot made by ge_newobject sits among
// the global objects, beside objects of every other class.
HotSpot* NextHotspot(HotSpot* h) {
    for (EObject* o = SceneListNext(h); o; o = SceneListNext(o))
        if (o->descriptor == &HotSpot::s_descriptor) return static_cast<HotSpot*>(o);
    return nullptr;
}

// hs_checkevents([h]): rebuilds the handler bits of the hotspot and every
// hotspot after it in its list; without one, of the global hotspots.
// Looking a handler up pushes its name and may run a script's __index on
// the globals, and either may free hotspots: the hotspots are taken first,
// and each is looked up again before its bits are stored.
int CheckEvents(lua_State* L) {
    HotSpot* first = HotspotArg(L, 1);
    if (!first && lua_isnoneornil(L, 1)) {
        Engine* e = CurrentEngine();
        first = e ? e->globalHotspots.head : nullptr;
    }
    HotSpot::RebuildHandlerBitsOfList(first, NextHotspot);
    return 0;
}

// hs_render(h, tint): the hotspot, then each hotspot of its chain (a
// parent's children, a child's later siblings).
int Render(lua_State* L) {
    const uint32_t tint = ScriptArgColor(L, 2, 0xFFFFFFFFu);  // first, as in SetName
    HotSpot* h = HotspotArg(L, 1);
    if (!h) return 0;
    h->Draw(tint);
    int steps = 0;
    for (HotSpot* c = ChainLink(h); c && c != h && steps < kMaxHotspotChain; c = c->next_sibling, ++steps)
        c->Draw(tint);
    return 0;
}

int GetSize(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    if (!h) return PushPair(L, 0, 0);
    float r[4];
    h->GetAbsoluteRect(r);
    return PushPair(L, r[2], r[3]);
}

int GetSize0(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    return h ? PushPair(L, h->rect[2], h->rect[3]) : PushPair(L, 0, 0);
}

int GetPosition(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    if (!h) return PushPair(L, 0, 0);
    float r[4];
    h->GetAbsoluteRect(r);
    return PushPair(L, r[0], r[1]);
}

// hs_getrect(h, dx, dy): the absolute rectangle of a screen hotspot, moved
// by dx, dy, in the shared rectangle slot 0.
int GetRect(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    Rect* slot = ScriptRectSlot(0);
    if (!h || h->hs_type != kHotspotRect || !slot) {
        lua_pushnil(L);
        return 1;
    }
    float r[4];
    h->GetAbsoluteRect(r);
    slot->x = SaturateToInt(double(int64_t(SaturateToInt(r[0])) + Int(L, 2)));
    slot->y = SaturateToInt(double(int64_t(SaturateToInt(r[1])) + Int(L, 3)));
    slot->w = SaturateToInt(r[2]);
    slot->h = SaturateToInt(r[3]);
    PushScriptRect(L, slot);
    return 1;
}

// The scene whose hotspot list holds the hotspot, or null.
GameScene* SceneHolding(Engine* e, const HotSpot* h) {
    if (e->currentScene && ListIndexOf(e->currentScene->hotspots, h) >= 0) return e->currentScene;
    for (GameScene* s = e->scenes.head; s; s = ListNext(s))
        if (h->owner == &s->hotspots && ListIndexOf(s->hotspots, h) >= 0) return s;
    return nullptr;
}

// hs_remove(h): takes the hotspot out of whichever list holds it (a
// scene's, where the hotspot map follows the places that change, the
// global hotspots, the global objects) and deletes it; deleting it clears
// every parent and child link into it.
int Remove(lua_State* L) {
    HotSpot* h = HotspotArg(L, 1);
    if (!h) return 0;
    if (Engine* e = CurrentEngine()) {
        if (GameScene* s = SceneHolding(e, h)) s->UnlinkObject(h);
        ListRemove(e->globalHotspots, h);
        ListRemove(e->objects, static_cast<EObject*>(h));
    }
    if (h->owner) ListRemove(*h->owner, h);
    // Clears the engine's pointers (hovered, picked, pressed, selected)
    // before it is freed.
    FreeSceneObject(h);
    return 0;
}

ScriptFunctionRecord r_resize("hs_resize", Resize);
ScriptFunctionRecord r_moveto("hs_moveto", MoveTo);
ScriptFunctionRecord r_move("hs_move", Move);
ScriptFunctionRecord r_setname("hs_setname", SetName);
ScriptFunctionRecord r_setbgimage("hs_setbgimage", SetBgImage);
ScriptFunctionRecord r_getcursor("hs_getcursor", GetCursor);
ScriptFunctionRecord r_setcursor("hs_setcursor", SetCursor);
ScriptFunctionRecord r_setenable("hs_setenable", SetEnable);
ScriptFunctionRecord r_setvisible("hs_setvisible", SetVisible);
ScriptFunctionRecord r_getvisible("hs_getvisible", GetVisible);
ScriptFunctionRecord r_getparent("hs_getparent", GetParent);
ScriptFunctionRecord r_nextchild("hs_nextchild", NextChild);
ScriptFunctionRecord r_checkevents("hs_checkevents", CheckEvents);
ScriptFunctionRecord r_render("hs_render", Render);
ScriptFunctionRecord r_getsize("hs_getsize", GetSize);
ScriptFunctionRecord r_getsize0("hs_getsize0", GetSize0);
ScriptFunctionRecord r_getposition("hs_getposition", GetPosition);
ScriptFunctionRecord r_getrect("hs_getrect", GetRect);
ScriptFunctionRecord r_remove("hs_remove", Remove);

}  // namespace
