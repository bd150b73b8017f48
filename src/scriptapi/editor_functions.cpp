// Script functions of the scene editor: its mode, the position mode, the
// edited and rotated flags, the selected object, selecting, deleting,
// resetting and exchanging objects, and editor keys for the selection.
extern "C" {
#include <lua.h>
}

#include <cstring>

#include "app/console.h"
#include "app/engine.h"
#include "base/log.h"
#include "media/text/game_text.h"
#include "scene/game_scene.h"
#include "scene/game_video.h"
#include "scene/hot_spot.h"
#include "script/lua_host.h"
#include "script/object_model.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"

namespace {

using script_args::Int;

// The largest objects ge_swap_object exchanges.
constexpr size_t kMaxSwapBytes = 1024;

// The live object of argument i when it belongs to one of the current
// scene's lists; else null.
EObject* CurrentSceneObjectArg(lua_State* L, int i) {
    EObject* o = ScriptArgObject(L, i);
    Engine* e = CurrentEngine();
    if (!o || !e || !e->currentScene) return nullptr;
    for (int list = 0; list < kSceneListCount; ++list)
        for (EObject* m = SceneListFirst(*e->currentScene, static_cast<SceneList>(list)); m; m = SceneListNext(m))
            if (m == o) return o;
    return nullptr;
}

int SetEditorMode(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    e->editorMode = static_cast<uint32_t>(Int(L, 1));
    e->hotspotViewRequest = e->editorMode != 0;
    if (e->editorMode == 0) e->selectedObject = nullptr;
    return 0;
}

int GetEditorMode(lua_State* L) {
    Engine* e = CurrentEngine();
    lua_pushnumber(L, e ? e->editorMode : 0);
    return 1;
}

// setpositionmode(on): also forgets a held left button, so a drag does not
// carry over into the new mode.
int SetPositionMode(lua_State* L) {
    if (Engine* e = CurrentEngine()) {
        e->positionMode = lua_toboolean(L, 1);
        e->buttonsDown &= ~1u;
    }
    return 0;
}

int GetPositionMode(lua_State* L) {
    Engine* e = CurrentEngine();
    lua_pushboolean(L, e && e->positionMode);
    return 1;
}

int SetSceneEdited(lua_State*) {
    if (Engine* e = CurrentEngine()) e->sceneModified = true;
    return 0;
}

int GetSceneEdited(lua_State* L) {
    Engine* e = CurrentEngine();
    lua_pushboolean(L, e && e->sceneModified);
    return 1;
}

int SetSceneRotated(lua_State* L) {
    Engine* e = CurrentEngine();
    if (e && e->currentScene) e->currentScene->rotated = lua_toboolean(L, 1);
    return script_args::GiveBackLastArgument(L);
}

int GetEditorObject(lua_State* L) {
    Engine* e = CurrentEngine();
    return script_args::PushHandleOrNil(L, e && e->selectedObject ? e->selectedObject->Handle() : nullptr);
}

// The live object of argument i when it is a global hotspot; else null.
EObject* GlobalHotspotArg(lua_State* L, int i) {
    EObject* o = ScriptArgObject(L, i);
    Engine* e = CurrentEngine();
    if (!o || !e) return nullptr;
    for (HotSpot* h = e->globalHotspots.head; h; h = ListNext(h))
        if (h == o) return o;
    return nullptr;
}

// ge_seteditorobject(object): selects an object of the current scene or a
// global hotspot (with or without a scene); nil and anything else leave the
// selection as it is.
int SetEditorObject(lua_State* L) {
    Engine* e = CurrentEngine();
    EObject* o = CurrentSceneObjectArg(L, 1);
    if (!o) o = GlobalHotspotArg(L, 1);
    if (o) e->selectedObject = o;
    return 0;
}

int SelectObject(lua_State* L) {
    if (Engine* e = CurrentEngine()) e->SelectObject(ScriptArgObject(L, 1) ? lua_touserdata(L, 1) : nullptr);
    return 0;
}

// ge_deleteobject(object): an object of the current scene is unlinked and
// freed; a stale handle or an object elsewhere is refused.
int DeleteObject(lua_State* L) {
    Engine* e = CurrentEngine();
    EObject* o = CurrentSceneObjectArg(L, 1);
    if (!o) return 0;
    e->DeleteObject(o);
    e->BuildRenderList();
    return 0;
}

int InitObject(lua_State* L) {
    EObject* o = ScriptArgObject(L, 1);
    if (o && o->descriptor) o->SetDefaults();
    return 0;
}

// The links that say where an object stands rather than what it is: its
// list and, for a hotspot, its list and its place in the hotspot tree.
struct Place {
    MObject* link;
    void* self;
    HotSpot* parent = nullptr;
    HotSpot* first_child = nullptr;
    HotSpot* next_sibling = nullptr;
    ObjectList<HotSpot>* owner = nullptr;
};

Place TakePlace(EObject* o) {
    Place p{o->list_next, o->self};
    if (o->descriptor == &HotSpot::s_descriptor) {
        auto* h = static_cast<HotSpot*>(o);
        p.parent = h->parent;
        p.first_child = h->first_child;
        p.next_sibling = h->next_sibling;
        p.owner = h->owner;
    }
    return p;
}

void PutPlace(EObject* o, const Place& p) {
    o->list_next = p.link;
    o->self = p.self;
    if (o->descriptor == &HotSpot::s_descriptor) {
        auto* h = static_cast<HotSpot*>(o);
        h->parent = p.parent;
        h->first_child = p.first_child;
        h->next_sibling = p.next_sibling;
        h->owner = p.owner;
    }
}

// ge_swap_object(a, b): two objects of one class exchange their properties;
// each keeps its pool header and its place (list, and a hotspot's parent and
// children), so no exchange can make a hotspot its own ancestor. References
// held as properties keep pointing at the place (a scene's current page, a
// hotspot's font and text, a mesh's source), as scripts' handles, the
// editor's selection and the hovered and pressed hotspots do. What stands
// for the contents follows them: the video playing (its player is what
// the engine stops), and the name a hotspot finds its text again by.
// Scenes are not exchanged: their objects, child nodes, the engine and
// the scene-file readers point back at them.
int SwapObject(lua_State* L) {
    EObject* a = ScriptArgObject(L, 1);
    EObject* b = ScriptArgObject(L, 2);
    if (!a || !b || a == b || a->descriptor != b->descriptor || a->size != b->size || a->size == 0 ||
        a->size > kMaxSwapBytes)
        return 0;
    if (a->descriptor == &GameScene::s_descriptor) {
        LogPrintf("[WARNING] : scenes %s and %s not swapped: what points at them would not follow",
                  a->name ? a->name : "", b->name ? b->name : "");
        return 0;
    }
    const size_t size = a->size;
    const Place place_a = TakePlace(a);
    const Place place_b = TakePlace(b);
    unsigned char buffer[kMaxSwapBytes];
    void* pa = static_cast<void*>(a);
    void* pb = static_cast<void*>(b);
    std::memcpy(buffer, pa, size);
    std::memcpy(pa, pb, size);
    std::memcpy(pb, buffer, size);
    PutPlace(a, place_a);
    PutPlace(b, place_b);
    NoteListNamesChanged();  // the two exchanged their names
    if (a->descriptor == &GameText::s_descriptor) {
        RememberHotspotTextName(static_cast<GameText*>(a));
        RememberHotspotTextName(static_cast<GameText*>(b));
    }
    if (Engine* e = CurrentEngine()) {
        if (e->currentVideo == a)
            e->currentVideo = static_cast<GameVideo*>(b);
        else if (e->currentVideo == b)
            e->currentVideo = static_cast<GameVideo*>(a);
    }
    return 0;
}

// ge_sendeditorinput(key, value): editor keys for the selected object while
// the console is closed.
int SendEditorInput(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e || !e->selectedObject || (g_console && g_console->IsVisible())) return 0;
    e->selectedObject->EditorInput(Int(L, 1), Int(L, 2));
    return 0;
}

ScriptFunctionRecord r_seteditormode("seteditormode", SetEditorMode);
ScriptFunctionRecord r_geteditormode("geteditormode", GetEditorMode);
ScriptFunctionRecord r_setpositionmode("setpositionmode", SetPositionMode);
ScriptFunctionRecord r_getpositionmode("getpositionmode", GetPositionMode);
ScriptFunctionRecord r_setsceneedited("setsceneedited", SetSceneEdited);
ScriptFunctionRecord r_getsceneedited("getsceneedited", GetSceneEdited);
ScriptFunctionRecord r_setscenerotated("setscenerotated", SetSceneRotated);
ScriptFunctionRecord r_geteditorobject("ge_geteditorobject", GetEditorObject);
ScriptFunctionRecord r_seteditorobject("ge_seteditorobject", SetEditorObject);
ScriptFunctionRecord r_selectobject("ge_selectobject", SelectObject);
ScriptFunctionRecord r_deleteobject("ge_deleteobject", DeleteObject);
ScriptFunctionRecord r_initobject("ge_initobject", InitObject);
ScriptFunctionRecord r_swap_object("ge_swap_object", SwapObject);
ScriptFunctionRecord r_sendeditorinput("ge_sendeditorinput", SendEditorInput);

}  // namespace
