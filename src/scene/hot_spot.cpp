#include "scene/hot_spot.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <lua.h>
}

#include "app/app_window.h"
#include "app/engine.h"
#include "base/log.h"
#include "base/stream.h"
#include "base/string_pool.h"
#include "base/text.h"
#include "media/text/dialog_layout.h"
#include "media/image/draw2d.h"
#include "media/text/game_font.h"
#include "media/text/game_text.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "render/color.h"
#include "scene/game_scene.h"
#include "scene/hotspot_handler_keys.h"
#include "scene/hotspot_map.h"
#include "script/lua_host.h"

ClassDescriptor HotSpot::s_descriptor;

const char* const kHotspotEventNames[7] = {"MouseClick", "MouseEnter", "MouseLeave", "MouseDown",
                                           "MouseUp",    "MouseMove",  "OnRender"};

namespace {
HotSpot::HotSpot_Initializer g_hotspot_initializer;

// Parent chains are walked at most this deep; a longer one is a loop.
constexpr int kMaxHotspotDepth = 64;

// Virtual keys of the editor.
constexpr int kVkControl = 17, kVkPageUp = 33, kVkPageDown = 34, kVkLeft = 37, kVkUp = 38, kVkRight = 39,
              kVkDown = 40, kVkLeftShift = 160;

bool Contains(const int32_t r[4], int64_t x, int64_t y) {
    return x >= r[0] && x < int64_t(r[0]) + r[2] && y >= r[1] && y < int64_t(r[1]) + r[3];
}

// 1-based place in its owner list; 0 when it is not there.
uint32_t PlaceInOwner(const HotSpot* h) {
    if (!h->owner) return 0;
    uint32_t i = 1;
    for (const HotSpot* o = h->owner->head; o; o = ListNext(o), ++i)
        if (o == h) return i;
    return 0;
}

bool IsHotspot(const EObject* o) { return o && o->descriptor == &HotSpot::s_descriptor; }

// Appends key="value" with the value escaped as a Lua string body.
void AppendQuoted(std::string& out, const char* key, const char* value, const char* separator) {
    out.append(key).append("=\"").append(LuaEscaped(value ? value : "")).append("\"").append(separator);
}

const char* RecordName(const ResourceRecord* record) { return record ? record->name : nullptr; }

// True when making `parent` the parent of `child` would close a loop.
bool WouldLoop(const HotSpot* child, const HotSpot* parent) {
    int depth = 0;
    for (const HotSpot* p = parent; p; p = p->parent)
        if (p == child || ++depth > kMaxHotspotDepth) return true;
    return false;
}

}  // namespace

HotSpot::HotSpot_Initializer::HotSpot_Initializer() : EObject_Initializer(&HotSpot::s_descriptor) {}

EObject* HotSpot::HotSpot_Initializer::Create() {
    void* block = HotSpot::operator new(sizeof(HotSpot));
    return block ? ::new (block) HotSpot() : nullptr;
}

void HotSpot::HotSpot_Initializer::RegisterProperties() {
    ClassDescriptor& d = HotSpot::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&HotSpot::name));
    d.AddProperty("dest_scene", kPropertyScene, ObjectFieldOffset(&HotSpot::dest_scene));
    d.AddProperty("dest_look", kPropertyString, ObjectFieldOffset(&HotSpot::dest_look));
    d.AddProperty("transition", kPropertyList, ObjectFieldOffset(&HotSpot::transition));
    d.AddProperty("snd_step", kPropertySound, ObjectFieldOffset(&HotSpot::snd_step));
    d.AddProperty("rect", kPropertyRect, ObjectFieldOffset(&HotSpot::rect));
    d.AddProperty("itemusable", kPropertyBool, ObjectFieldOffset(&HotSpot::itemusable));
    d.AddProperty("enabled", kPropertyBool, ObjectFieldOffset(&HotSpot::enabled));
    d.AddProperty("visible", kPropertyBool, ObjectFieldOffset(&HotSpot::visible));
    d.AddProperty("goback", kPropertyBool, ObjectFieldOffset(&HotSpot::goback));
    d.AddProperty("cursor", kPropertyImage, ObjectFieldOffset(&HotSpot::cursor));
    d.AddProperty("color", kPropertyColor, ObjectFieldOffset(&HotSpot::color));
    d.AddProperty("bgimage", kPropertyImage, ObjectFieldOffset(&HotSpot::bgimage));
    d.AddProperty("mouse_over", kPropertyImage, ObjectFieldOffset(&HotSpot::mouse_over));
    d.AddProperty("mouse_down", kPropertyImage, ObjectFieldOffset(&HotSpot::mouse_down));
    d.AddProperty("snd_enter", kPropertySound, ObjectFieldOffset(&HotSpot::snd_enter));
    d.AddProperty("snd_click", kPropertySound, ObjectFieldOffset(&HotSpot::snd_click));
    d.AddProperty("page", kPropertyInt, ObjectFieldOffset(&HotSpot::page));
    d.AddObjectReference("parent", "hotspot", ObjectFieldOffset(&HotSpot::parent));
    d.AddProperty("object", kPropertyString, ObjectFieldOffset(&HotSpot::object));
    d.AddProperty("hs_type", kPropertyEnum, ObjectFieldOffset(&HotSpot::hs_type));
    d.AddObjectReference("font", "font", ObjectFieldOffset(&HotSpot::font));
    d.AddProperty("text", kPropertyDialog, ObjectFieldOffset(&HotSpot::text));
    d.AddProperty("anchor", kPropertyEnum, ObjectFieldOffset(&HotSpot::anchor));
    d.AddProperty("scalable", kPropertyBool, ObjectFieldOffset(&HotSpot::scalable));
    d.AddProperty("order", kPropertyInt, ObjectFieldOffset(&HotSpot::order));
    d.AddConstant("class", "hotspot");
}

HotSpot::HotSpot() : EObject(&s_descriptor) { SetDefaults(); }

void HotSpot::SetDefaults() {
    visible = true;
    enabled = true;
    itemusable = false;
}

void HotSpot::OnChanged(uint32_t changed) {
    if (changed & kHotspotBitBgImage) {
        if (Texture* t = Resources().GetImage(bgimage)) {
            rect[2] = t->width;
            rect[3] = t->height;
        }
    } else if ((changed & kHotspotBitMouseOver) && !bgimage) {
        if (Texture* t = Resources().GetImage(mouse_over)) {
            rect[2] = t->width;
            rect[3] = t->height;
        }
    } else if (changed & kHotspotBitParent) {
        RelinkToParent();
    }
    if (changed & kHotspotBitText) text_name = text && text->name ? CommonStrings().Intern(text->name) : nullptr;
}

void HotSpot::Save(Stream* stream) {
    if (!stream) return;
    std::string out = "hotspot { ";
    AppendQuoted(out, "name", name, ", ");
    if (cursor) AppendQuoted(out, "cursor", RecordName(cursor), ", ");
    if (transition && *transition) AppendQuoted(out, "action", transition, ", ");
    if (IsLiveObject(dest_scene)) AppendQuoted(out, "dest_scene", dest_scene->name, ", ");
    if (dest_look) AppendQuoted(out, "dest_look", dest_look, ", ");
    if (snd_step) AppendQuoted(out, "snd_step", RecordName(snd_step), ", ");
    if (hs_type == kHotspotRect) {
        out += "rect=\"" + std::to_string(rect[0]) + "," + std::to_string(rect[1]) + "," + std::to_string(rect[2]) +
               "," + std::to_string(rect[3]) + "\", ";
        if (bgimage) AppendQuoted(out, "bgimage", RecordName(bgimage), ", ");
        if (mouse_over) AppendQuoted(out, "mouse_over", RecordName(mouse_over), ", ");
        if (mouse_down) AppendQuoted(out, "mouse_down", RecordName(mouse_down), ", ");
        out += "page=" + std::to_string(page) + ",";
    }
    if (snd_click) AppendQuoted(out, "snd_click", RecordName(snd_click), ", ");
    if (snd_enter) AppendQuoted(out, "snd_enter", RecordName(snd_enter), ", ");
    if (!visible) out += "visible=false,";
    if (parent) AppendQuoted(out, "parent", parent->name, ",");
    if (object) AppendQuoted(out, "object", object, ",");
    if (itemusable) out += "itemusable=true,";
    if (goback) out += "goback=true,";
    if (order != 0) out += "order=" + std::to_string(order) + ",";
    if (color != 0xFFFFFFFFu) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", color);
        out += std::string("color=\"") + hex + "\",";
    }
    if (font) AppendQuoted(out, "font", font->name, ",");
    if (GameText* t = ShownText()) AppendQuoted(out, "text", t->name, ",");
    if (anchor != 0) out += "anchor=" + std::to_string(anchor) + ",";
    if (scalable) out += "scalable=true,";
    out += "}\r\n";
    stream->Write(out.data(), uint32_t(out.size()));
}

float* HotSpot::GetAbsoluteRect(float out[4]) const {
    int64_t x = rect[0], y = rect[1];
    bool scaled = scalable;
    int depth = 0;
    for (const HotSpot* p = parent; p && depth < kMaxHotspotDepth; p = p->parent, ++depth) {
        x += p->rect[0];
        y += p->rect[1];
        scaled = scaled || p->scalable;
    }
    out[0] = float(x);
    out[1] = float(y);
    out[2] = float(rect[2]);
    out[3] = float(rect[3]);
    const Engine* e = CurrentEngine();
    if (scaled && e && e->virtualRect.w > 0 && e->virtualRect.h > 0) {
        const float sx = float(e->screenRect.w) / float(e->virtualRect.w);
        const float sy = float(e->screenRect.h) / float(e->virtualRect.h);
        out[0] *= sx;
        out[2] *= sx;
        out[1] *= sy;
        out[3] *= sy;
    }
    return out;
}

void HotSpot::SetAbsoluteRect(int32_t x, int32_t y, int32_t w, int32_t h) {
    int64_t rx = x, ry = y;
    int depth = 0;
    for (const HotSpot* p = parent; p && depth < kMaxHotspotDepth; p = p->parent, ++depth) {
        rx -= p->rect[0];
        ry -= p->rect[1];
    }
    rect[0] = SaturateToInt(rx);
    rect[1] = SaturateToInt(ry);
    rect[2] = w;
    rect[3] = h;
}

bool HotSpot::IsVisible(const HotSpot* hotspot) {
    int depth = 0;
    for (const HotSpot* p = hotspot; p && depth < kMaxHotspotDepth; p = p->parent, ++depth)
        if (!p->visible) return false;
    return true;
}

bool HotSpot::IsEnabled(const HotSpot* hotspot) {
    int depth = 0;
    for (const HotSpot* p = hotspot; p && depth < kMaxHotspotDepth; p = p->parent, ++depth)
        if (!p->enabled) return false;
    return true;
}

void HotSpot::AddChild(HotSpot* child) {
    if (!child || child == this) return;
    HotSpot** link = &first_child;
    while (*link) {
        if (*link == child) return;
        link = &(*link)->next_sibling;
    }
    child->next_sibling = nullptr;
    *link = child;
}

void HotSpot::RemoveChild(HotSpot* child) {
    if (!child) return;
    for (HotSpot** link = &first_child; *link; link = &(*link)->next_sibling) {
        if (*link == child) {
            *link = child->next_sibling;
            child->next_sibling = nullptr;
            return;
        }
    }
}

namespace {

// Calls fn for every hotspot the engine holds: the global hotspots, the
// hotspots among the global objects (ge_newobject), the hotspots of every
// scene and of the current one, and those of the hotspot's own list (when a
// hotspot is given). A hotspot may come twice; what fn does must not care.
template <class Fn>
void ForEachKnownHotspot(const HotSpot* self, Fn fn) {
    if (Engine* e = CurrentEngine()) {
        for (HotSpot* h = e->globalHotspots.head; h; h = ListNext(h)) fn(h);
        for (EObject* o = e->objects.head; o; o = SceneListNext(o))
            if (IsHotspot(o)) fn(static_cast<HotSpot*>(o));
        for (GameScene* s = e->scenes.head; s; s = ListNext(s))
            for (HotSpot* h = s->hotspots.head; h; h = ListNext(h)) fn(h);
        if (e->currentScene)
            for (HotSpot* h = e->currentScene->hotspots.head; h; h = ListNext(h)) fn(h);
    }
    if (self && self->owner)
        for (HotSpot* h = self->owner->head; h; h = ListNext(h)) fn(h);
}

// The hotspot whose children include this one.
HotSpot* ChainHolder(const HotSpot* child) {
    HotSpot* holder = nullptr;
    ForEachKnownHotspot(child, [&](HotSpot* h) {
        for (HotSpot* c = h->first_child; c && !holder; c = c->next_sibling)
            if (c == child) holder = h;
    });
    return holder;
}

}  // namespace

HotSpot::~HotSpot() {
    for (HotSpot* c = first_child; c;) {
        HotSpot* next = c->next_sibling;
        c->next_sibling = nullptr;
        if (c->parent == this) c->parent = nullptr;
        c = next;
    }
    first_child = nullptr;
    // The parent may sit in a list already let go of (a scene freeing all
    // its objects), where the walk below does not reach.
    if (parent && IsLiveObject(parent)) parent->RemoveChild(this);
    parent = nullptr;
    ForEachKnownHotspot(this, [this](HotSpot* h) {
        if (h->parent == this) h->parent = nullptr;
        h->RemoveChild(this);
    });
}

void HotSpot::RelinkToParent() {
    if (parent && WouldLoop(this, parent)) {
        // Refused: the hotspot stays with the parent whose chain holds it.
        LogPrintf("[WARNING] : hotspot %s cannot be a child of %s (a loop)", name ? name : "",
                  parent->name ? parent->name : "");
        parent = ChainHolder(this);
        return;
    }
    ForEachKnownHotspot(this, [this](HotSpot* h) { h->RemoveChild(this); });
    if (parent) parent->AddChild(this);
}

namespace {
constexpr size_t kEventCount = sizeof kHotspotEventNames / sizeof kHotspotEventNames[0];

int ClearGlobals(lua_State* L, void* keys) {
    for (size_t i = 0; i < kEventCount; ++i) {
        lua_pushnil(L);
        lua_setfield(L, LUA_GLOBALSINDEX, static_cast<const std::string*>(keys)[i].c_str());
    }
    return 0;
}

// The hotspot behind a handle taken earlier, while it is live and still the
// hotspot of that (interned) name; null otherwise.
HotSpot* FoundAgain(void* handle, const char* name) {
    EObject* o = ObjectFromHandle(handle);
    return IsHotspot(o) && o->name == name ? static_cast<HotSpot*>(o) : nullptr;
}
}  // namespace

void HotSpot::ClearEventHandlers() {
    lua_State* L = ScriptState();
    if (name && L) {
        // Each global is set through the API: a name that is not a Lua
        // identifier can neither fail nor run as code. Protected: setting a
        // global may run a metamethod or a collection step.
        std::string keys[kEventCount];
        for (size_t i = 0; i < kEventCount; ++i) keys[i] = std::string(name) + "_" + kHotspotEventNames[i];
        void* const handle = Handle();
        const char* const was = name;
        ScriptPushProtected(L, ClearGlobals, keys, "hotspot handlers");
        if (!FoundAgain(handle, was)) return;  // freed by what the globals ran
    }
    event_flags &= ~kHotspotHandlerMask;
}

namespace {

std::vector<std::pair<void*, const char*>> TakeList(HotSpot* first, HotSpot* (*next)(HotSpot*)) {
    std::vector<std::pair<void*, const char*>> hotspots;  // handle, interned name
    for (HotSpot* h = first; h; h = next(h)) hotspots.emplace_back(h->Handle(), h->name);
    return hotspots;
}

}  // namespace

void HotSpot::ClearEventHandlersOfList(HotSpot* first, HotSpot* (*next)(HotSpot*)) {
    for (const auto& [handle, name] : TakeList(first, next))
        if (HotSpot* h = FoundAgain(handle, name)) h->ClearEventHandlers();
}

namespace {

// The handler bits of the list read with no Lua call, so nothing can free
// the hotspots while it is walked; false at the first name that cannot be
// read so (the hotspots before it have their bits already).
bool RebuildHandlerBitsRaw(lua_State* L, HotSpot* first, HotSpot* (*next)(HotSpot*)) {
    for (HotSpot* h = first; h; h = next(h)) {
        uint32_t bits;
        if (!ReadHandlerBitsRaw(L, h->name, &bits)) return false;
        h->event_flags = (h->event_flags & ~kHotspotHandlerMask) | bits;
    }
    return true;
}

}  // namespace

void HotSpot::RebuildHandlerBitsOfList(HotSpot* first, HotSpot* (*next)(HotSpot*)) {
    lua_State* L = ScriptState();
    if (L && RebuildHandlerBitsRaw(L, first, next)) return;
    const auto hotspots = TakeList(first, next);
    std::vector<const char*> names(hotspots.size());
    for (size_t i = 0; i < hotspots.size(); ++i) names[i] = hotspots[i].second;
    std::vector<uint32_t> bits(hotspots.size());
    ReadHandlerBitsOfNames(L, names.data(), names.size(), bits.data());
    for (size_t i = 0; i < hotspots.size(); ++i)
        if (HotSpot* h = FoundAgain(hotspots[i].first, hotspots[i].second))
            h->event_flags = (h->event_flags & ~kHotspotHandlerMask) | bits[i];
}

void HotSpot::Render() {
    const Engine* e = CurrentEngine();
    Draw(e ? e->ambientColor : 0xFFFFFFFFu);
}

void HotSpot::Draw(uint32_t tint) {
    if (!IsVisible(this)) return;
    const uint32_t colour = ModulateColor(tint, color);
    const Engine* e = CurrentEngine();
    ResourceRecord* image = bgimage;
    if (mouse_down && e && e->pressedHotspot == this)
        image = mouse_down;
    else if (mouse_over && e && e->hoveredHotspot == this)
        image = mouse_over;
    float r[4];
    GetAbsoluteRect(r);
    if (Texture* t = Resources().GetImage(image)) DrawTextureRect(t, r[0], r[1], r[2], r[3], colour, 0);
    GameText* shown = ShownText();
    if (shown && font && shown->text) {
        const Rect target{SaturateToInt(r[0]), SaturateToInt(r[1]), SaturateToInt(r[2]), SaturateToInt(r[3])};
        DialogLayout layout;
        layout.Draw(font, shown->text, target, uint32_t(anchor), colour, 0, 0, -1);
    }
}

GameText* HotSpot::ShownText() {
    if (text && !(IsLiveObject(text) && text->descriptor == &GameText::s_descriptor)) text = nullptr;
    if (!text && text_name) {
        const Engine* e = CurrentEngine();
        text = e ? ListFindByName(e->texts, text_name) : nullptr;
    }
    return text;
}

void ForgetFreedHotspotTexts() {
    ForEachKnownHotspot(nullptr, [](HotSpot* h) {
        if (h->text && !IsLiveObject(h->text)) h->text = nullptr;
    });
}

void RememberHotspotTextName(const GameText* text) {
    if (!text) return;
    ForEachKnownHotspot(nullptr, [text](HotSpot* h) {
        if (h->text == text) h->OnChanged(kHotspotBitText);
    });
}

HotSpot* HotSpot::HitTest(int32_t x, int32_t y) {
    if (!visible || !enabled || hs_type != kHotspotRect) return nullptr;
    int64_t px = x, py = y;
    const Engine* e = CurrentEngine();
    if (scalable && e && e->screenRect.w > 0 && e->screenRect.h > 0) {
        px = px * e->virtualRect.w / e->screenRect.w;
        py = py * e->virtualRect.h / e->screenRect.h;
    }
    for (HotSpot* c = first_child; c; c = c->next_sibling)
        if (c->visible && c->enabled && Contains(c->rect, px - rect[0], py - rect[1])) return c;
    return Contains(rect, px, py) ? this : nullptr;
}

void HotSpot::DrawEditorOverlay() {
    Engine* e = CurrentEngine();
    if (!e) return;
    const bool selected = e->selectedObject == this;
    if (selected && hs_type == kHotspotMap) {
        HotspotMapEditorFrame();
        return;
    }
    if (hs_type != kHotspotRect) return;
    const uint32_t place = PlaceInOwner(this);
    const uint32_t colour = place ? (HotspotPaletteColour(place) | 0xFF000000u) : 0xFFFFFF00u;
    const bool ctrl = g_keyTable[kVkControl] != 0;
    const char* label = name ? name : "";
    float r[4];
    if (!selected) {
        if (!ctrl || !IsHotspot(e->selectedObject)) return;
        GetAbsoluteRect(r);
        DrawRectOutline(float(SaturateToInt(r[0])), float(SaturateToInt(r[1])), float(SaturateToInt(r[2])),
                        float(SaturateToInt(r[3])), colour);
        e->DrawText(label, SaturateToInt(r[0]), SaturateToInt(r[1]), colour);
        return;
    }
    int32_t mx = 0, my = 0;
    e->GetMousePos(&mx, &my);
    HotspotBrush& brush = GetHotspotBrush();
    if (ctrl && (g_mouseButtons & 2)) {
        // The rectangle moves by the pointer's way since the drag began.
        if (brush.moving != this) {
            brush.moving = this;
            brush.grab[0] = mx, brush.grab[1] = my, brush.grab[2] = rect[0], brush.grab[3] = rect[1];
        }
        const int32_t x = SaturateToInt(double(brush.grab[2]) + mx - brush.grab[0]);
        const int32_t y = SaturateToInt(double(brush.grab[3]) + my - brush.grab[1]);
        if (x != rect[0] || y != rect[1]) e->sceneModified = true;
        rect[0] = x, rect[1] = y;
        return;
    }
    brush.moving = nullptr;
    int32_t box[4];
    if (brush.dragging) {
        box[0] = brush.drag[0], box[1] = brush.drag[1];
        box[2] = brush.drag[2] - brush.drag[0], box[3] = brush.drag[3] - brush.drag[1];
    } else {
        GetAbsoluteRect(r);
        for (int i = 0; i < 4; ++i) box[i] = SaturateToInt(r[i]);
    }
    DrawRectOutline(float(box[0]), float(box[1]), float(box[2]), float(box[3]), colour);
    e->DrawText(label, box[0], box[1], colour);
    if (ctrl && (g_mouseButtons & 1)) {
        if (!brush.dragging) {
            brush.dragging = true;
            brush.drag[0] = mx, brush.drag[1] = my;
        }
        brush.drag[2] = mx, brush.drag[3] = my;
    } else if (brush.dragging) {
        brush.dragging = false;
        e->sceneModified = true;
        // Ordered as unsigned values, as the editor always did.
        uint32_t x0 = uint32_t(brush.drag[0]), y0 = uint32_t(brush.drag[1]);
        uint32_t x1 = uint32_t(brush.drag[2]), y1 = uint32_t(brush.drag[3]);
        if (x1 < x0) std::swap(x0, x1);
        if (y1 < y0) std::swap(y0, y1);
        SetAbsoluteRect(int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0));
        hs_type = kHotspotRect;
    }
}

void HotSpot::EditorInput(int key, int wheel) {
    Engine* e = CurrentEngine();
    GameScene* s = e ? e->currentScene : nullptr;
    if (hs_type == kHotspotMap) {
        uint32_t count = 0;
        if (s)
            for (HotSpot* h = s->hotspots.head; h; h = ListNext(h)) ++count;
        HotspotBrushInput(key, wheel, count, s ? s->HotspotAtView() : 0, g_keyTable[kVkLeftShift] != 0);
        return;
    }
    if (hs_type != kHotspotRect || !e) return;
    const int32_t step = g_keyTable[kVkLeftShift] ? 16 : 1;
    switch (key) {
        case kVkLeft: rect[0] -= step; break;
        case kVkRight: rect[0] += step; break;
        case kVkUp: rect[1] -= step; break;
        case kVkDown: rect[1] += step; break;
        case kVkPageUp:
        case kVkPageDown: {
            const uint32_t place = PlaceInOwner(this);
            uint32_t n = 0;
            if (s)
                for (HotSpot* h = s->hotspots.head; h; h = ListNext(h)) ++n;
            if (!place || n == 0) return;
            const uint32_t i = place - 1;
            const uint32_t next = key == kVkPageUp ? (i + 1) % n : (n + i - 1) % n;
            HotSpot* h = s->hotspots.head;
            for (uint32_t k = 0; h && k < next; ++k) h = ListNext(h);
            e->selectedObject = h;
            return;
        }
        default: return;
    }
    e->sceneModified = true;
}

void ForgetHotspotLinks(ObjectList<HotSpot>& list, const HotSpot* hotspot) {
    if (!hotspot) return;
    HotSpot* target = const_cast<HotSpot*>(hotspot);
    for (HotSpot* h = list.head; h; h = ListNext(h)) {
        if (h->parent == hotspot) h->parent = nullptr;
        h->RemoveChild(target);
    }
    // Its children's sibling links belong to the chain it headed.
    for (HotSpot* c = target->first_child; c;) {
        HotSpot* next = c->next_sibling;
        c->next_sibling = nullptr;
        c = next;
    }
    target->first_child = nullptr;
}
