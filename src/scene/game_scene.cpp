#include "scene/game_scene.h"

#include <strings.h>

#include <cstring>
#include <map>
#include <new>
#include <string>

#include "app/engine.h"
#include "base/log.h"
#include "base/stream.h"
#include "base/string_pool.h"
#include "media/resource_manager.h"
#include "render/camera.h"
#include "scene/cube_faces.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "scene/scene_page.h"
#include "script/script_var.h"

ClassDescriptor GameScene::s_descriptor;

namespace {
GameScene::GameScene_Initializer g_scene_initializer;

const SceneKindOps* g_kind_ops[kSceneKindCount] = {};

// A member of a scene list as an object: see SceneKindFirst.
template <class T>
EObject* AsObject(T* member) {
    return reinterpret_cast<EObject*>(member);
}

// Unlinks an object from a list of any member class; false when absent.
template <class T>
bool UnlinkMember(ObjectList<T>& list, EObject* object) {
    EObject* prev = nullptr;
    for (EObject* o = AsObject(list.head); o; prev = o, o = SceneListNext(o)) {
        if (o != object) continue;
        EObject* next = SceneListNext(o);
        if (prev)
            prev->list_next = next;
        else
            list.head = reinterpret_cast<T*>(next);
        if (AsObject(list.tail) == o) list.tail = reinterpret_cast<T*>(prev);
        o->list_next = nullptr;
        NoteListNamesChanged();
        return true;
    }
    return false;
}

// Deletes every member of a list (each after `forget`) and empties it.
template <class T>
void DeleteMembers(ObjectList<T>& list, void (*forget)(EObject*)) {
    EObject* o = AsObject(list.head);
    list.head = list.tail = nullptr;
    NoteListNamesChanged();
    while (o) {
        EObject* next = SceneListNext(o);
        o->list_next = nullptr;
        if (forget) forget(o);
        DeleteObjectWhenFree(o);
        o = next;
    }
}

// The resource step of one object kind: every object of the list through
// the kind's code, when it is linked in.
void VisitKindResources(const GameScene& scene, SceneObjectKind kind, bool load) {
    const SceneKindOps* ops = g_kind_ops[kind];
    auto step = ops ? (load ? ops->load_resources : ops->unload_resources) : nullptr;
    if (!step) return;
    for (EObject* o = SceneKindFirst(scene, kind); o; o = SceneListNext(o)) step(o);
}

void UnloadImage(ResourceRecord* record) {
    if (record) Resources().Remove(record, false);
}

const char* RecordName(const ResourceRecord* record) { return record ? record->name : nullptr; }

void AppendQuoted(std::string& out, const char* key, const char* value) {
    out.append(key).append("=\"").append(LuaEscaped(value ? value : "")).append("\",");
}

void WriteText(Stream* stream, const std::string& text) { stream->Write(text.data(), uint32_t(text.size())); }

std::string CubeFacesLine(const CubeFaces* set) {
    static const char* const kKeys[kCubeFaceCount] = {"front", "right", "back", "left", "top", "bottom"};
    std::string line = "cubefaces{";
    AppendQuoted(line, "name", set->name);
    line += set->mask ? "mask=true," : "mask=false,";
    for (int i = 0; i < kCubeFaceCount; ++i) AppendQuoted(line, kKeys[i], RecordName(set->faces[i]));
    line += "order=" + std::to_string(set->order) + "}\r\n";
    return line;
}
}  // namespace

GameScene::GameScene_Initializer::GameScene_Initializer() : EObject_Initializer(&GameScene::s_descriptor) {}

EObject* GameScene::GameScene_Initializer::Create() {
    void* block = GameScene::operator new(sizeof(GameScene));
    return block ? ::new (block) GameScene() : nullptr;
}

void GameScene::GameScene_Initializer::RegisterProperties() {
    ClassDescriptor& d = GameScene::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&GameScene::name));
    d.AddProperty("fullname", kPropertyString, ObjectFieldOffset(&GameScene::fullname));
    d.AddObjectReference("cubeFaces", "cubeface", ObjectFieldOffset(&GameScene::cubeFaces));
    d.AddObjectReference("cubeMasks", "cubeface", ObjectFieldOffset(&GameScene::cubeMasks));
    d.AddObjectReference("currentPage", "page", ObjectFieldOffset(&GameScene::currentPage));
    d.AddProperty("viewtype", kPropertyEnum, ObjectFieldOffset(&GameScene::viewtype));
    d.AddProperty("cached", kPropertyBool, ObjectFieldOffset(&GameScene::cached));
    d.AddProperty("nearDistance", kPropertyFloat, ObjectFieldOffset(&GameScene::nearDistance));
    d.AddProperty("farDistance", kPropertyFloat, ObjectFieldOffset(&GameScene::farDistance));
    d.AddProperty("snd_step", kPropertySound, ObjectFieldOffset(&GameScene::snd_step));
    d.AddProperty("snd_door", kPropertySound, ObjectFieldOffset(&GameScene::snd_door));
    d.AddConstant("class", "scene");
}

GameScene::GameScene() : EObject(&s_descriptor) {}

GameScene* SceneRootNode() {
    static GameScene root;
    return &root;
}

void GameScene::AddChildNode(GameScene* child) {
    if (!child || child == this || child == parent) return;
    child->parent = this;
}

void GameScene::AttachToNodeTree() {
    GameScene* root = SceneRootNode();
    if (parent || this == root) return;
    depth = 1;
    GameScene* prev = root;
    Engine* e = CurrentEngine();
    if (name && e && std::strchr(name, '/')) {
        // Every prefix before a "/" names an ancestor: a, then a/b for a/b/c.
        // One pass over the scenes finds the ancestors that exist already
        // (by prefix length, the first in the list as a lookup by name
        // would), so a name with many "/" costs no search per prefix.
        const size_t length = std::strlen(name);
        std::map<size_t, GameScene*> existing;
        for (GameScene* s = e->scenes.head; s; s = ListNext(s)) {
            if (!s->name || s == this) continue;
            const size_t n = strnlen(s->name, length);
            if (n < length && name[n] == '/' && strncasecmp(s->name, name, n) == 0) existing.emplace(n, s);
        }
        for (const char* slash = name; (slash = std::strchr(slash, '/')) != nullptr; ++slash) {
            const size_t n = size_t(slash - name);
            GameScene* node = nullptr;
            if (auto it = existing.find(n); it != existing.end()) {
                node = it->second;
            } else {
                node = ListAppendNew(e->scenes);
                if (!node) break;
                node->name = CommonStrings().Intern(std::string(name, n).c_str());
                NoteListNamesChanged();
            }
            node->depth = depth;
            prev->AddChildNode(node);
            ++depth;
            prev = node;
        }
    }
    prev->AddChildNode(this);
}

void GameScene::LoadResources() {
    ResourceManager& rm = Resources();
    if (cubeFaces)
        for (ResourceRecord* face : cubeFaces->faces) rm.GetImage(face);
    for (ScenePage* p = pages.head; p; p = ListNext(p)) rm.GetImage(p->image);
    VisitKindResources(*this, kSceneKindMeshes, true);
    VisitKindResources(*this, kSceneKindPoints, true);
    VisitKindResources(*this, kSceneKindFx, true);
    VisitKindResources(*this, kSceneKindPatches, true);
    VisitKindResources(*this, kSceneKindSurfaces, true);
    resourcesLoaded = true;
}

void GameScene::UnloadResources() {
    if (cubeFaces)
        for (ResourceRecord* face : cubeFaces->faces) UnloadImage(face);
    for (ScenePage* p = pages.head; p; p = ListNext(p)) UnloadImage(p->image);
    VisitKindResources(*this, kSceneKindMeshes, false);
    VisitKindResources(*this, kSceneKindPoints, false);
    VisitKindResources(*this, kSceneKindFx, false);
    VisitKindResources(*this, kSceneKindPatches, false);
    VisitKindResources(*this, kSceneKindSurfaces, false);
    resourcesLoaded = false;
}

void GameScene::OnChanged(uint32_t changed) {
    if (changed & kSceneBitCubeFaces) {
        cubeMasks = nullptr;
        if (cubeFaces)
            cubeFaces->ApplyMask(nullptr, -1);
        else if (!pages.head)
            viewtype = kViewNone;
    } else if (changed & kSceneBitCubeMasks) {
        if (cubeFaces) cubeFaces->ApplyMask(cubeMasks, -1);
    }
}

bool GameScene::ScenePath(const char* file, std::string* out) const {
    out->clear();
    if (!name || !*name || !file) return false;
    *out = g_dir_stages.Get();
    out->append("/").append(name).append("/").append(file);
    return true;
}

void GameScene::Save(Stream* stream) {
    if (!stream) return;
    WriteText(stream, "beginscene()\r\n");
    if (viewtype == kViewPage) {
        for (ScenePage* p = pages.head; p; p = ListNext(p)) p->Save(stream);
        if (camera) camera->Save(stream);
    } else if (viewtype == kViewCube) {
        for (CubeFaces* set = cubeFaceSets.head; set; set = ListNext(set)) WriteText(stream, CubeFacesLine(set));
        // The map in memory is the current scene's: another scene's file is
        // left as it is rather than overwritten with it.
        const Engine* e = CurrentEngine();
        std::string path;
        if (e && e->currentScene == this && ScenePath("hotspots.bin", &path)) {
            if (SaveHotspotMapFile(path.c_str())) ResetHotspotMapPlaces();
        }
        else if (name)
            LogPrintf("[WARNING] : hotspot map of %s not saved (not the current scene)", name);
    }
    for (HotSpot* h = hotspots.head; h; h = ListNext(h)) h->Save(stream);
    for (SceneObjectKind kind : {kSceneKindFx, kSceneKindPatches, kSceneKindPoints, kSceneKindMeshes,
                                 kSceneKindSurfaces})
        for (EObject* o = SceneKindFirst(*this, kind); o; o = SceneListNext(o)) o->Save(stream);
    WriteText(stream, "endscene()\r\n");

    std::string entry = "scene{";
    AppendQuoted(entry, "name", name);
    entry += "viewtype=" + std::to_string(viewtype) + ",";
    if (fullname) AppendQuoted(entry, "fullname", fullname);
    if (cubeFaces) AppendQuoted(entry, "cubeFaces", cubeFaces->name);
    if (cubeMasks) AppendQuoted(entry, "cubeMasks", cubeMasks->name);
    if (currentPage) AppendQuoted(entry, "currentPage", currentPage->name);
    if (cursor) AppendQuoted(entry, "cursor", RecordName(cursor));
    if (snd_step) AppendQuoted(entry, "snd_step", RecordName(snd_step));
    if (snd_door) AppendQuoted(entry, "snd_door", RecordName(snd_door));
    if (cached) entry += "cached=true,";
    entry += "}\r\n";
    WriteText(stream, entry);
}

bool GameScene::UnlinkObject(EObject* object) {
    if (!object) return false;
    if (IsClass(object, "hotspot")) {
        const int place = ListIndexOf(hotspots, static_cast<const HotSpot*>(object));
        if (place >= 0) HotspotLeftList(uint32_t(place) + 1);
    }
    bool found = false;
    for (int list = 0; list < kSceneListCount && !found; ++list) {
        switch (SceneList(list)) {
            case kSceneListHotspots: found = UnlinkMember(hotspots, object); break;
            case kSceneListPoints: found = UnlinkMember(points, object); break;
            case kSceneListFx: found = UnlinkMember(fx, object); break;
            case kSceneListPatches: found = UnlinkMember(patches, object); break;
            case kSceneListMeshes: found = UnlinkMember(meshes, object); break;
            case kSceneListSurfaces: found = UnlinkMember(surfaces, object); break;
            case kSceneListCubeFaces: found = UnlinkMember(cubeFaceSets, object); break;
            case kSceneListPages: found = UnlinkMember(pages, object); break;
            default: break;
        }
    }
    if (AsObject(cubeFaces) == object) cubeFaces = nullptr;
    if (AsObject(cubeMasks) == object) cubeMasks = nullptr;
    if (AsObject(currentPage) == object) currentPage = nullptr;
    if (AsObject(nextPage) == object) nextPage = nullptr;
    if (AsObject(transitionFaces) == object) transitionFaces = nullptr;
    if (AsObject(camera) == object) {
        camera = nullptr;
        found = true;
    }
    if (found && IsClass(object, "hotspot")) {
        HotSpot* h = static_cast<HotSpot*>(object);
        ForgetHotspotLinks(hotspots, h);
        if (Engine* e = CurrentEngine()) ForgetHotspotLinks(e->globalHotspots, h);
        h->owner = nullptr;
    }
    return found;
}

void GameScene::FreeObjects(void (*forget)(EObject*)) {
    // Global hotspots may hang under hotspots of this scene.
    if (Engine* e = CurrentEngine())
        for (HotSpot* h = hotspots.head; h; h = ListNext(h)) ForgetHotspotLinks(e->globalHotspots, h);
    cubeFaces = cubeMasks = nullptr;
    currentPage = nextPage = nullptr;
    transitionFaces = nullptr;
    ResetHotspotMapPlaces();
    DeleteMembers(hotspots, forget);
    DeleteMembers(points, forget);
    DeleteMembers(fx, forget);
    DeleteMembers(patches, forget);
    DeleteMembers(meshes, forget);
    DeleteMembers(surfaces, forget);
    DeleteMembers(cubeFaceSets, forget);
    DeleteMembers(pages, forget);
    if (camera) {
        if (forget) forget(camera);
        DeleteObjectWhenFree(camera);
        camera = nullptr;
    }
}

void SetSceneKindOps(SceneObjectKind kind, const SceneKindOps* ops) {
    if (kind >= 0 && kind < kSceneKindCount) g_kind_ops[kind] = ops;
}

const SceneKindOps* GetSceneKindOps(SceneObjectKind kind) {
    return kind >= 0 && kind < kSceneKindCount ? g_kind_ops[kind] : nullptr;
}

EObject* SceneKindFirst(const GameScene& scene, SceneObjectKind kind) {
    switch (kind) {
        case kSceneKindMeshes: return AsObject(scene.meshes.head);
        case kSceneKindPoints: return AsObject(scene.points.head);
        case kSceneKindFx: return AsObject(scene.fx.head);
        case kSceneKindPatches: return AsObject(scene.patches.head);
        case kSceneKindSurfaces: return AsObject(scene.surfaces.head);
        default: return nullptr;
    }
}

EObject* SceneListFirst(const GameScene& scene, SceneList list) {
    switch (list) {
        case kSceneListHotspots: return scene.hotspots.head;
        case kSceneListPoints: return SceneKindFirst(scene, kSceneKindPoints);
        case kSceneListFx: return SceneKindFirst(scene, kSceneKindFx);
        case kSceneListPatches: return SceneKindFirst(scene, kSceneKindPatches);
        case kSceneListMeshes: return SceneKindFirst(scene, kSceneKindMeshes);
        case kSceneListSurfaces: return SceneKindFirst(scene, kSceneKindSurfaces);
        case kSceneListCubeFaces: return scene.cubeFaceSets.head;
        case kSceneListPages: return scene.pages.head;
        default: return nullptr;
    }
}
