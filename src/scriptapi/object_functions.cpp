// Script functions on objects and their properties: ge_getproperty,
// ge_setproperty, ge_getpropertytype, ge_getpropertylist, ge_newobject,
// ge_getobjectslist, ge_getsceneobjectlist, ge_getsceneobject,
// ge_newsceneobject, and the lookups behind the "Scene*" and "Scenes*"
// metatables.
//
// Every handle is checked against the registry of live objects before it
// is used; a refused handle or an unknown key gives no result.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "base/object_list.h"
#include "base/string_pool.h"
#include "media/text/game_font.h"
#include "media/text/game_text.h"
#include "media/resource_manager.h"
#include "render/camera.h"
#include "scene/game_scene.h"
#include "scene/game_video.h"
#include "scene/hot_spot.h"
#include "script/lua_host.h"
#include "script/object_model.h"
#include "script/script_function.h"
#include "script/script_handles.h"
#include "script/script_var.h"
#include "scriptapi/list_name_index.h"
#include "scriptapi/script_args.h"
#include "scriptapi/script_results.h"

namespace {

// Scene lists hold members of classes that derive from EObject alone, so a
// member and its EObject share one address; these walk and grow a list of
// any member class without needing the class itself.
template <class T>
EObject* First(const ObjectList<T>& list) {
    return reinterpret_cast<EObject*>(list.head);
}

template <class T>
void Append(ObjectList<T>& list, EObject* object) {
    NoteListNamesChanged();
    object->list_next = nullptr;
    if (list.tail)
        reinterpret_cast<EObject*>(list.tail)->list_next = object;
    else
        list.head = reinterpret_cast<T*>(object);
    list.tail = reinterpret_cast<T*>(object);
}

// Any case (the scripts' lookups), or exactly (references by name).
EObject* FindNamed(EObject* first, const char* name, bool exact = false) {
    if (!name) return nullptr;
    uint64_t looked = 0;
    for (EObject* o = first; o; o = SceneListNext(o)) {
        ++looked;
        if (o->name && (exact ? std::strcmp(o->name, name) == 0 : EqualsNoCase(o->name, name))) {
            g_list_names_compared += looked;
            return o;
        }
    }
    g_list_names_compared += looked;
    return nullptr;
}

// The member of that name, or a new object of the class appended under the
// name; null when the class is not linked in.
template <class T>
EObject* FindOrAdd(ObjectList<T>& list, const char* name, const char* class_word) {
    const auto tail = [&list] { return reinterpret_cast<EObject*>(list.tail); };
    if (EObject* found = ListNameIndexFind(&list, First(list), tail(), name, nullptr)) return found;
    EObject* object = CreateObjectByClass(class_word);
    if (!object) return nullptr;
    const uint64_t version = ListNamesVersion();
    const ListEnds before{First(list), tail()};
    object->name = name;
    Append(list, object);
    ListNameIndexAppended(&list, before, {First(list), tail()}, object, version);
    return object;
}

// The scene argument at index: a scene name (null when it names none), or,
// without one, the current scene.
GameScene* SceneArg(lua_State* L, int index) {
    Engine* e = CurrentEngine();
    if (!e) return nullptr;
    if (!lua_isstring(L, index)) return e->currentScene;
    return ListFindByName(e->scenes, lua_tostring(L, index));
}

// Kinds of scene objects, by the words scripts use.
enum Kind { kHotspot, kMesh, kPatch, kFx, kPoint, kPSource, kSurface, kCubeFace, kPage, kView, kFont, kVideo, kNone };

Kind KindOf(const char* word) {
    static const char* const kWords[] = {"hotspot", "mesh",     "patch", "fx",   "point", "psource",
                                         "surface", "cubeface", "page",  "view", "font",  "video"};
    if (word)
        for (int i = 0; i < kNone; ++i)
            if (std::strcmp(kWords[i], word) == 0) return Kind(i);
    return kNone;
}

// The first object of a kind's list in the scene (fonts: the engine's).
EObject* KindFirst(Engine* e, GameScene* scene, Kind kind) {
    if (kind == kFont) return e ? First(e->fonts) : nullptr;
    if (!scene) return nullptr;
    switch (kind) {
        case kHotspot: return First(scene->hotspots);
        case kMesh: return First(scene->meshes);
        case kPatch: return First(scene->patches);
        case kFx: return First(scene->fx);
        case kPoint:
        case kPSource: return First(scene->points);
        case kSurface: return First(scene->surfaces);
        case kCubeFace: return First(scene->cubeFaceSets);
        case kPage: return First(scene->pages);
        default: return nullptr;
    }
}

// An object named in a reference property: exact name, in the engine's
// objects, its fonts, then the current scene's hotspots, points, fx,
// patches, meshes and surfaces.
EObject* FindObjectForReference(const char* name) {
    Engine* e = CurrentEngine();
    if (!e || !name) return nullptr;
    if (EObject* o = FindNamed(e->objects.head, name, true)) return o;
    if (EObject* o = FindNamed(First(e->fonts), name, true)) return o;
    if (GameScene* scene = e->currentScene) {
        static const SceneList kOrder[] = {kSceneListHotspots, kSceneListPoints, kSceneListFx,
                                           kSceneListPatches,  kSceneListMeshes, kSceneListSurfaces};
        for (SceneList list : kOrder)
            if (EObject* o = FindNamed(SceneListFirst(*scene, list), name, true)) return o;
    }
    return nullptr;
}

// The scene of that (interned) name in the engine's scene list, made and
// hung in the node tree when there is none.
EObject* FindOrAddScene(const char* name) {
    Engine* e = CurrentEngine();
    if (!e || !name) return nullptr;
    GameScene* scene = ListFindOrAdd(e->scenes, name);
    if (scene) scene->AttachToNodeTree();
    return scene;
}

// Frees an object that scripts may still hold: the engine's pointers to it
// are cleared first, and its handle goes with it.
void DeleteScriptObject(EObject* object) { FreeSceneObject(object); }

void AppendGlobalObject(Engine* e, EObject* object, const char* word) {
    if (std::strcmp(word, "font") == 0 && IsClass(object, "font"))
        ListAppend(e->fonts, static_cast<GameFont*>(object));
    else if (std::strcmp(word, "video") == 0 && IsClass(object, "video"))
        ListAppend(e->videos, static_cast<GameVideo*>(object));
    else
        ListAppend(e->objects, object);
}

// Fills the table on top of the stack with the handles of the lists' objects.
// Nothing here allocates: the table is made first, and the lists are read
// only then, since making it may run a finaliser that frees their objects.
void FillHandleArray(lua_State* L, std::initializer_list<EObject*> firsts) {
    int i = 0;
    for (EObject* first : firsts)
        for (EObject* o = first; o; o = SceneListNext(o)) {
            ScriptPushObject(L, o);
            lua_rawseti(L, -2, ++i);
        }
}

// The object and property named by arguments 1 and 2; false when either is
// refused. The key is read first: a number turned into text may run a
// finaliser, which must not find the object already in hand.
bool ObjectAndProperty(lua_State* L, EObject** object, PropertyInfo** property) {
    const char* key = ScriptArgText(L, 2);
    *object = ScriptArgObject(L, 1);
    if (!*object || !(*object)->descriptor) return false;
    *property = key ? ChainFindByName((*object)->descriptor->first, key) : nullptr;
    return *property != nullptr;
}

// A resource property's value as text: the declared name, nil for none.
// Copied in a frame of its own (the name it makes ends with it) and pushed
// from the copy (see script_results.h).
void CopyResourceName(const void* field, script_results::TextCopies& copies) {
    if (const char* name = ResourceRecordName(*static_cast<const void* const*>(field))) {
        const std::string text = ContractPathVariables(name);
        copies.Add(text.data(), text.size());
    }
}

// The value of a property as text. The numbers' forms (vectors, rectangles,
// colours) are far shorter than the buffer: the text is made in a block of
// its own and pushed from the buffer once it is gone.
int PushFieldText(lua_State* L, const void* field, int type) {
    if (type == kPropertyImage || type == kPropertySound || type == kPropertyMesh) {
        script_results::TextCopies copies;
        CopyResourceName(field, copies);
        return copies.Push(L, script_results::Texts::kSingle);
    }
    char text[256];
    size_t length;
    {
        const std::string made = PropertyFieldText(field, type);
        length = std::min(made.size(), sizeof text);
        std::memcpy(text, made.data(), length);
    }
    lua_pushlstring(L, text, length);
    return 1;
}

// The text, then the numbers. The numbers are read before the text is
// pushed: pushing may run a finaliser that frees the object.
template <class T>
int PushTextAndNumbers(lua_State* L, const void* field, int type, int count) {
    T v[4];
    std::memcpy(v, field, sizeof(T) * size_t(count));
    PushFieldText(L, field, type);
    for (int i = 0; i < count; ++i) lua_pushnumber(L, v[i]);
    return count + 1;
}

// ge_getproperty(handle, key)
int GetProperty(lua_State* L) {
    EObject* object;
    PropertyInfo* p;
    if (!ObjectAndProperty(L, &object, &p)) return 0;
    const void* field = object->Field(p);
    switch (p->type) {
        case kPropertyInt:
        case kPropertyEnum:
            lua_pushnumber(L, *static_cast<const int32_t*>(field));
            return 1;
        case kPropertyBool:
            lua_pushboolean(L, *static_cast<const bool*>(field));
            return 1;
        case kPropertyFloat:
            lua_pushnumber(L, *static_cast<const float*>(field));
            return 1;
        case kPropertyString:
        case kPropertyName:
        case kPropertyList: {
            const char* s = *static_cast<const char* const*>(field);
            lua_pushstring(L, s ? s : "");
            return 1;
        }
        case kPropertyVector:
        case kPropertyColor3:
            return PushTextAndNumbers<float>(L, field, p->type, 3);
        case kPropertyFloat2:
            return PushTextAndNumbers<float>(L, field, p->type, 2);
        case kPropertyRect:
            return PushTextAndNumbers<int32_t>(L, field, p->type, 4);
        case kPropertyColor:
        case kPropertyHex:
        case kPropertyImage:
        case kPropertySound:
        case kPropertyMesh:
            return PushFieldText(L, field, p->type);
        case kPropertyScene: {
            const EObject* scene = ReferencedObject(object, p);
            script_args::PushTextOrNil(L, scene ? scene->name : nullptr);
            return 1;
        }
        case kPropertyText:
            // Game texts live in a pool that goes when the last text does: the
            // text is copied before anything is pushed.
            return script_results::PushText(L, [field] { return *static_cast<const char* const*>(field); });
        case kPropertyDialog:
            // A hotspot's text is the one it draws and saves: after the texts
            // were made anew, the one of the name it held.
            if (object->descriptor == &HotSpot::s_descriptor) {
                ScriptPushObject(L, static_cast<HotSpot*>(object)->ShownText());
                return 1;
            }
            [[fallthrough]];
        case kPropertyObject:
            ScriptPushObject(L, ReferencedObject(object, p));
            return 1;
        case kPropertyConstant:
            script_args::PushTextOrNil(L, p->constant);
            return 1;
        default:
            return 0;
    }
}

// Reads up to n floats from "%f,%f,..." text into v; fields not matched keep
// their values.
void ScanFloats(const char* text, float* v, int n) {
    float f[4] = {v[0], v[1], n > 2 ? v[2] : 0.0f, n > 3 ? v[3] : 0.0f};
    static const char* const kFormats[] = {nullptr, nullptr, "%f,%f", "%f,%f,%f", "%f,%f,%f,%f"};
    std::sscanf(text, kFormats[n], &f[0], &f[1], &f[2], &f[3]);
    for (int i = 0; i < n; ++i) v[i] = f[i];
}

// A resource given by its path (path variables expanded) or by a record
// handle of the property's kind.
void* ResourceValue(lua_State* L, const char* value_text, int type) {
    static const uint32_t kKinds[] = {kResourceImage, kResourceSound, kResourceMesh};
    const uint32_t kind = kKinds[type - kPropertyImage];
    if (value_text) {
        std::string path = ExpandPathVariables(value_text);
        ResourceManager& m = Resources();
        if (type == kPropertyImage) return m.DeclareImage(path.c_str(), 0);
        if (type == kPropertySound) return m.DeclareSound(path.c_str(), 0);
        return m.DeclareMesh(path.c_str(), 0);
    }
    auto* record = static_cast<ResourceRecord*>(ScriptArgHandle(L, 3, ScriptHandleKind::kResource));
    return record && (record->type & kind) ? record : nullptr;
}

// An object given by name (first match, see FindObjectForReference) or by
// handle, kept only when it is of the class named.
EObject* ReferenceValue(lua_State* L, const char* class_word) {
    EObject* object = lua_type(L, 3) == LUA_TSTRING ? FindObjectForReference(lua_tostring(L, 3))
                                                     : ScriptArgObject(L, 3);
    return object && IsClass(object, class_word) ? object : nullptr;
}

// The property types ge_setproperty reads from the value as a number.
bool TakesNumber(int type) {
    return type == kPropertyInt || type == kPropertyEnum || type == kPropertyBool || type == kPropertyFloat;
}

// ge_setproperty(handle, key, value)
int SetProperty(lua_State* L) {
    EObject* object;
    PropertyInfo* p;
    if (lua_type(L, 3) == LUA_TNONE || !ObjectAndProperty(L, &object, &p)) return 0;
    // The value as text. A number is turned into text on a copy (the value
    // keeps its type), and only for a property read as text: that may run a
    // finaliser that frees the object, which is looked up again.
    const char* value_text = lua_type(L, 3) == LUA_TSTRING ? lua_tostring(L, 3) : nullptr;
    if (lua_type(L, 3) == LUA_TNUMBER && !TakesNumber(p->type)) {
        lua_pushvalue(L, 3);
        value_text = lua_tostring(L, -1);
        if (!ObjectAndProperty(L, &object, &p)) return 0;
    }
    void* field = object->Field(p);
    switch (p->type) {
        case kPropertyInt:
        case kPropertyEnum:
            *static_cast<int32_t*>(field) = ScriptArgInt(L, 3);
            break;
        case kPropertyBool:
            *static_cast<bool*>(field) =
                lua_type(L, 3) == LUA_TNUMBER ? ScriptArgInt(L, 3) != 0 : lua_toboolean(L, 3) != 0;
            break;
        case kPropertyFloat:
            *static_cast<float*>(field) = ScriptArgFloat(L, 3);
            break;
        case kPropertyString:
        case kPropertyName:
        case kPropertyList: {
            const char* s = lua_type(L, 3) == LUA_TSTRING ? lua_tostring(L, 3) : nullptr;
            *static_cast<const char**>(field) = s && *s ? CommonStrings().Intern(s) : nullptr;
            if (field == &object->name) NoteListNamesChanged();
            break;
        }
        case kPropertyVector:
        case kPropertyColor3:
            if (value_text) ScanFloats(value_text, static_cast<float*>(field), 3);
            break;
        case kPropertyFloat2:
            if (value_text) ScanFloats(value_text, static_cast<float*>(field), 2);
            break;
        case kPropertyColor:
        case kPropertyHex:
            *static_cast<uint32_t*>(field) = ParseHexColor(value_text, 0);
            break;
        case kPropertyRect:
            // Components the text does not give keep their values.
            if (value_text) {
                auto* r = static_cast<int32_t*>(field);
                float v[4] = {float(r[0]), float(r[1]), float(r[2]), float(r[3])};
                ScanFloats(value_text, v, 4);
                for (int i = 0; i < 4; ++i) r[i] = SaturateToInt(v[i]);
            }
            break;
        case kPropertyImage:
        case kPropertySound:
        case kPropertyMesh:
            *static_cast<void**>(field) = ResourceValue(L, value_text, p->type);
            break;
        case kPropertyScene:
            *static_cast<EObject**>(field) =
                value_text && *value_text ? FindOrAddScene(CommonStrings().Intern(value_text)) : nullptr;
            break;
        case kPropertyText:
            *static_cast<const char**>(field) = value_text ? GameTextStrings().Intern(value_text) : nullptr;
            break;
        case kPropertyDialog: {
            EObject* text = nullptr;
            if (lua_type(L, 3) == LUA_TSTRING) {
                Engine* e = CurrentEngine();
                text = e ? ListFindByName(e->texts, lua_tostring(L, 3)) : nullptr;
            } else {
                text = ScriptArgObject(L, 3, "text");
            }
            *static_cast<EObject**>(field) = text;
            break;
        }
        case kPropertyObject:
            *static_cast<EObject**>(field) = ReferenceValue(L, p->class_name);
            break;
        default:
            break;
    }
    NotifyPropertyChanged(object, p);
    return 0;
}

// ge_getpropertytype(handle, key)
int GetPropertyType(lua_State* L) {
    EObject* object;
    PropertyInfo* p;
    if (!ObjectAndProperty(L, &object, &p)) return 0;
    script_args::PushTextOrNil(L, PropertyTypeName(p));
    return 1;
}

// ge_getpropertylist(handle)
int GetPropertyList(lua_State* L) {
    EObject* object = ScriptArgObject(L, 1);
    if (!object || !object->descriptor) return 0;
    // The class's properties outlive its objects; the object may not outlive
    // the pushes.
    const ClassDescriptor* d = object->descriptor;
    int count = 0;
    for (const PropertyInfo* p = d->first; p; p = p->next) ++count;
    lua_createtable(L, count, 0);
    int i = 0;
    for (const PropertyInfo* p = d->first; p; p = p->next) {
        if (p->type == kPropertyConstant) continue;
        lua_pushstring(L, p->name ? p->name : "");
        lua_rawseti(L, -2, ++i);
    }
    return 1;
}

// ge_newobject(class word, name): a new global object; one of that name
// already there is replaced. No result for a missing or unknown class.
int NewObject(lua_State* L) {
    const char* word = ScriptArgText(L, 1);
    const char* name = ScriptArgText(L, 2);
    if (!word || !name || !*name) name = "NewObject";
    Engine* e = CurrentEngine();
    EObject* object = e ? CreateObjectByClass(word) : nullptr;
    if (!object) return 0;
    object->name = CommonStrings().Intern(name);
    if (EObject* old = ListFindByName(e->objects, object->name)) {
        const ClassDescriptor* d = old->descriptor;
        const char* old_word = d ? d->ClassWord() : nullptr;
        if (old_word && std::strcmp(old_word, word) == 0)
            LogPrintf("[WARNING] : OBJECT[%s] RECREATED", object->name);
        else
            LogPrintf("[WARNING] : OBJECT[%s] TYPE CHANGED FROM %s to %s", object->name, old_word ? old_word : "",
                      word);
        ListRemove(e->objects, old);
        DeleteScriptObject(old);
    }
    AppendGlobalObject(e, object, word);
    ScriptPushObject(L, object);
    return 1;
}

// ge_getobjectslist(globals only): the engine's global objects, then (unless
// the flag is true) its fonts and videos.
int GetObjectsList(lua_State* L) {
    const bool globals_only = lua_toboolean(L, 1);  // before the table takes the place of a missing flag
    lua_newtable(L);
    Engine* e = CurrentEngine();
    if (!e) return 1;
    if (globals_only)
        FillHandleArray(L, {e->objects.head});
    else
        FillHandleArray(L, {e->objects.head, First(e->fonts), First(e->videos)});
    return 1;
}

// ge_getsceneobjectlist(kind, scene)
int GetSceneObjectList(lua_State* L) {
    Kind kind = KindOf(ScriptArgText(L, 1));
    GameScene* scene = SceneArg(L, 2);
    if (kind > kPage && kind != kFont) {
        lua_pushnil(L);
        return 1;
    }
    if (kind != kFont && !scene) {
        lua_pushnil(L);
        return 1;
    }
    lua_newtable(L);
    // Again: making the table may have freed it. (Without a second argument
    // the table stands in its place, and reads as no name as well.)
    scene = SceneArg(L, 2);
    if (kind != kFont && !scene) {
        lua_pushnil(L);
        return 1;
    }
    FillHandleArray(L, {KindFirst(CurrentEngine(), scene, kind)});
    return 1;
}

// ge_getsceneobject(kind, name, scene)
int GetSceneObject(lua_State* L) {
    Kind kind = KindOf(ScriptArgText(L, 1));
    const char* name = ScriptArgText(L, 2);
    GameScene* scene = SceneArg(L, 3);
    EObject* found = nullptr;
    if (scene && name && *name) {
        if (kind == kView)
            found = scene->camera;
        else if (kind <= kPage)
            found = FindNamed(KindFirst(CurrentEngine(), scene, kind), name);
    }
    ScriptPushObject(L, found);
    return 1;
}

// A scene's camera, made with the virtual screen as its viewport when the
// scene has none.
EObject* SceneCamera(Engine* e, GameScene* scene) {
    if (scene->camera) return scene->camera;
    EObject* object = CreateObjectByClass("view");
    if (!object || !IsClass(object, "view")) {
        delete object;
        return nullptr;
    }
    auto* camera = static_cast<Camera*>(object);
    const Rect& v = e->virtualRect;
    camera->SetViewport(0, 0, uint32_t(v.w > 0 ? v.w : 1024), uint32_t(v.h > 0 ? v.h : 768));
    scene->camera = camera;
    return camera;
}

// ge_newsceneobject(kind, name, scene): the object of that name, made when
// there is none.
int NewSceneObject(lua_State* L) {
    Engine* e = CurrentEngine();
    Kind kind = KindOf(ScriptArgText(L, 1));
    const char* text = ScriptArgText(L, 2);
    const char* name = CommonStrings().Intern(text && *text ? text : "NewObject");
    const bool named_scene = lua_isstring(L, 3);
    GameScene* scene = SceneArg(L, 3);
    EObject* object = nullptr;
    if (!e) {
        lua_pushnil(L);
        return 1;
    }
    if (kind == kNone) {
        lua_pushlightuserdata(L, nullptr);
        return 1;
    }
    if (kind == kFont) {
        object = FindOrAdd(e->fonts, name, "font");
    } else if (kind == kVideo) {
        object = FindOrAdd(e->videos, name, "video");
    } else if (kind == kMesh && !scene && !named_scene) {
        object = CreateObjectByClass("mesh");
        if (object) {
            object->name = name;
            ListAppend(e->objects, object);
        }
    } else if (scene) {
        switch (kind) {
            case kHotspot:
                object = FindOrAdd(scene->hotspots, name, "hotspot");
                if (object) static_cast<HotSpot*>(object)->owner = &scene->hotspots;
                break;
            case kMesh: object = FindOrAdd(scene->meshes, name, "mesh"); break;
            case kPatch: object = FindOrAdd(scene->patches, name, "patch"); break;
            case kFx: object = FindOrAdd(scene->fx, name, "fx"); break;
            case kPoint: object = FindOrAdd(scene->points, name, "point"); break;
            case kPSource: object = FindOrAdd(scene->points, name, "psource"); break;
            case kSurface: object = FindOrAdd(scene->surfaces, name, "surface"); break;
            case kCubeFace: object = FindOrAdd(scene->cubeFaceSets, name, "cubeface"); break;
            case kPage: object = FindOrAdd(scene->pages, name, "page"); break;
            case kView: object = SceneCamera(e, scene); break;
            default: break;
        }
    }
    ScriptPushObject(L, object);
    return 1;
}

// A "Scene*" userdata at index: its scene (the current one for null); null
// for anything else or a scene that is gone.
GameScene* SceneOfUserdata(lua_State* L, int index) {
    if (lua_type(L, index) != LUA_TUSERDATA || lua_objlen(L, index) < sizeof(void*)) return nullptr;
    if (!lua_getmetatable(L, index)) return nullptr;
    luaL_getmetatable(L, "Scene*");
    bool is_scene = lua_rawequal(L, -1, -2) != 0;
    lua_pop(L, 2);
    if (!is_scene) return nullptr;
    void* handle;
    std::memcpy(&handle, lua_touserdata(L, index), sizeof handle);
    if (!handle) {
        Engine* e = CurrentEngine();
        return e ? e->currentScene : nullptr;
    }
    EObject* object = ObjectFromHandle(handle);
    return object && IsClass(object, "scene") ? static_cast<GameScene*>(object) : nullptr;
}

// __index of "Scene*": the scene's object of that name.
int LookUpSceneObject(lua_State* L) {
    const char* key = ScriptArgText(L, 2);  // first: turning a number into text may free the scene
    GameScene* scene = SceneOfUserdata(L, 1);
    if (!scene || !key) {
        lua_pushnil(L);
        return 1;
    }
    static const SceneList kOrder[] = {kSceneListHotspots, kSceneListPatches, kSceneListMeshes, kSceneListFx,
                                       kSceneListSurfaces, kSceneListPoints,  kSceneListPages};
    for (SceneList list : kOrder) {
        if (EObject* o = FindNamed(SceneListFirst(*scene, list), key)) {
            ScriptPushObject(L, o);
            luaL_getmetatable(L, "Object*");
            lua_setmetatable(L, -2);
            return 1;
        }
    }
    lua_pushnil(L);
    return 1;
}

// __index of "Scenes*": a "Scene*" userdata for the scene of that name.
int LookUpScene(lua_State* L) {
    Engine* e = CurrentEngine();
    const char* name = ScriptArgText(L, 2);
    GameScene* scene = e && name ? ListFindByName(e->scenes, name) : nullptr;
    if (!scene) {
        lua_pushnil(L);
        return 1;
    }
    void* handle = scene->Handle();
    std::memcpy(lua_newuserdata(L, sizeof handle), &handle, sizeof handle);
    luaL_getmetatable(L, "Scene*");
    lua_setmetatable(L, -2);
    return 1;
}

// The lookups are in place before the state exists. (Resource names come
// from the resource manager, SetResourceNameFunction.)
[[maybe_unused]] const bool s_installed = [] {
    SetSceneLookupFunctions(LookUpSceneObject, LookUpScene);
    return true;
}();

ScriptFunctionRecord s_ge_getpropertylist("ge_getpropertylist", GetPropertyList);
ScriptFunctionRecord s_ge_getpropertytype("ge_getpropertytype", GetPropertyType);
ScriptFunctionRecord s_ge_getproperty("ge_getproperty", GetProperty);
ScriptFunctionRecord s_ge_setproperty("ge_setproperty", SetProperty);
ScriptFunctionRecord s_ge_getsceneobjectlist("ge_getsceneobjectlist", GetSceneObjectList);
ScriptFunctionRecord s_ge_newobject("ge_newobject", NewObject);
ScriptFunctionRecord s_ge_getobjectslist("ge_getobjectslist", GetObjectsList);
ScriptFunctionRecord s_ge_newsceneobject("ge_newsceneobject", NewSceneObject);
ScriptFunctionRecord s_ge_getsceneobject("ge_getsceneobject", GetSceneObject);

}  // namespace
