// The scene-file constructors: beginscene, endscene, scene, page, cubefaces,
// hotspot, video, font, view and shader. Each takes a table of keys, creates
// the named object or updates the one that exists, and stores every key it
// knows in order. The keys are all read first (ConstructorFields), before
// the scene being loaded or any object is looked at: the table's
// metamethods may run any script code, which must not find half-built
// objects nor free the ones a constructor holds.
#include "scriptapi/scene_constructors.h"

#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "app/post_effects.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "base/object_list.h"
#include "base/string_pool.h"
#include "base/text.h"
#include "media/text/game_font.h"
#include "media/text/game_text.h"
#include "media/resource_manager.h"
#include "render/camera.h"
#include "render/d3d_render_device.h"
#include "render/render_device.h"
#include "render/vector_math.h"
#include "scene/cube_faces.h"
#include "scene/game_scene.h"
#include "scene/game_video.h"
#include "scene/hot_spot.h"
#include "scene/scene_page.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_var.h"
#include "scriptapi/constructor_fields.h"

namespace {

GameScene* g_scene_being_loaded = nullptr;

constexpr const char* kFaceKeys[kCubeFaceCount] = {"front", "right", "back", "left", "top", "bottom"};

const char* NameOf(const EObject* o) { return o && o->name ? o->name : ""; }

// ---------------------------------------------------------------------------

int BeginScene(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    if (lua_type(L, 1) == LUA_TSTRING) g_scene_being_loaded = ListFindByName(e->scenes, lua_tostring(L, 1));
    else g_scene_being_loaded = e->currentScene;
    return 0;
}

int EndScene(lua_State*) {
    g_scene_being_loaded = nullptr;
    DropListNameIndexes();
    return 0;
}

int SceneConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"scene", "name", "fullname", "viewtype", "cubeFaces", "cubeMasks", "currentPage", "cursor"});
    if (t.Cut()) return 0;
    Engine* e = CurrentEngine();
    if (!e) return 0;
    GameScene* tmpl = ListFindByName(e->scenes, t.String("scene", nullptr, false));
    if (!tmpl) tmpl = g_scene_being_loaded;
    GameScene* target = ListFindOrAddGameScene(e->scenes, t.String("name", "", true));
    if (!target) return 0;
    target->AttachToNodeTree();
    if (!tmpl) tmpl = target;

    target->fullname = t.String("fullname", tmpl->fullname, true);
    target->viewtype = t.Int("viewtype", tmpl->viewtype);
    // The template's references are read before any of them is replaced:
    // the template may be the target itself.
    const char* faces = t.String("cubeFaces", NameOf(tmpl->cubeFaces), false);
    const char* masks = t.String("cubeMasks", NameOf(tmpl->cubeMasks), false);
    const char* page = t.String("currentPage", NameOf(tmpl->currentPage), false);
    const char* cursor = t.String("cursor", tmpl->cursor ? tmpl->cursor->name : "", true);
    CubeFaces* new_faces = ListFindByName(tmpl->cubeFaceSets, faces);
    CubeFaces* new_masks = ListFindByName(tmpl->cubeFaceSets, masks);
    ScenePage* new_page = ListFindByName(tmpl->pages, page);
    target->cubeFaces = new_faces;
    target->cubeMasks = new_masks;
    target->currentPage = new_page;
    target->cursor = cursor && *cursor ? Resources().DeclareImage(cursor, 0) : nullptr;
    PushHandle(L, target);
    return 1;
}

int PageConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "image"});
    if (t.Cut()) return 0;
    GameScene* s = g_scene_being_loaded;
    if (!s) return 0;
    const char* name = t.String("name", nullptr, true);
    if (!name) {
        // Named by the place it takes.
        char generated[32];
        std::snprintf(generated, sizeof generated, "Page%zu", ListCount(s->pages) + 1);
        name = CommonStrings().Intern(generated);
    }
    auto* page = AppendNewNamed(s->pages, name);
    page->image = DeclareImageField(t, "image", 0, true);
    page->bgcolor = 0xFFFF00FF;
    s->viewtype = kViewPage;
    if (!s->currentPage) s->currentPage = page;
    PushHandle(L, page);
    return 1;
}

// Removes a face set that got no image from the scene being loaded.
void RemoveFaceSet(GameScene* s, CubeFaces* set) {
    ListRemove(s->cubeFaceSets, set);
    FreeSceneObject(set);
    if (s->cubeFaceSets.head) return;
    s->viewtype = s->pages.head ? kViewPage : kViewNone;
    s->cubeFaces = nullptr;
    s->cubeMasks = nullptr;
}

int CubeFacesConstructor(lua_State* L) {
    const bool table = lua_istable(L, 1);
    const ConstructorFields t(L, 1, {"mask", "name", "front", "right", "back", "left", "top", "bottom", "order"});
    if (t.Cut()) return 0;
    Engine* e = CurrentEngine();
    GameScene* s = g_scene_being_loaded;
    if (!e || !s) return 0;
    if (!table && s->cubeFaceSets.head) return 0;  // nothing to read the keys from
    bool mask = false;
    const char* name = nullptr;
    if (table) {
        mask = t.Bool("mask") != 0;
        name = t.String("name", nullptr, true);
    }
    s->viewtype = kViewCube;
    if (!name) name = CommonStrings().Intern("base");
    CubeFaces* set = FindOrAppend(s->cubeFaceSets, name);

    const std::string stages = g_dir_stages.Get();
    bool any = false;
    for (int n = 0; n < kCubeFaceCount; ++n) {
        char path[1024];
        std::snprintf(path, sizeof path, "%s/%s/0%d", stages.c_str(), NameOf(s), n + 1);
        const char* image = table ? t.String(kFaceKeys[n], path, true) : path;
        set->faces[n] = Resources().DeclareImage(image, mask ? kMaskImageFlags : kFaceImageFlags);
        any = any || set->faces[n];
    }
    if (!any) {
        RemoveFaceSet(s, set);
        return 0;
    }
    if (std::strcmp(name, "base") == 0 || !s->cubeFaces) s->cubeFaces = set;
    if (table) {
        set->mask = mask;
        set->order = t.Int("order", 0);
        return 0;
    }
    set->mask = false;
    set->order = 0;
    ResourceRecord* masks[kCubeFaceCount] = {};
    bool any_mask = false;
    for (int n = 0; n < kCubeFaceCount; ++n) {
        char path[1024];
        std::snprintf(path, sizeof path, "%s/%s/a_0%d", stages.c_str(), NameOf(s), n + 1);
        masks[n] = Resources().DeclareImage(path, kMaskImageFlags);
        any_mask = any_mask || masks[n];
    }
    GameScene* current = e->currentScene;
    if (!current) return 0;
    if (!any_mask) {
        current->cubeMasks = nullptr;
        return 0;
    }
    CubeFaces* mask_set = FindOrAppend(current->cubeFaceSets, CommonStrings().Intern("mask"));
    for (int n = 0; n < kCubeFaceCount; ++n) mask_set->faces[n] = masks[n];
    mask_set->mask = true;
    current->cubeMasks = mask_set;
    set->ApplyMask(mask_set, -1);
    return 0;
}

// A hotspot's parent: a hotspot handle, overridden by a name in its list.
// Only a hotspot of the same list is taken: the lists are freed apart (a
// scene's with the scene, the global one with the engine), and links
// between them would be left dangling.
HotSpot* ReadParent(const ConstructorFields& t, ObjectList<HotSpot>* owner) {
    HotSpot* parent = nullptr;
    EObject* o = ObjectFromHandle(t.Userdata("parent"));
    if (o && o->descriptor == &HotSpot::s_descriptor && static_cast<HotSpot*>(o)->owner == owner)
        parent = static_cast<HotSpot*>(o);
    if (const char* name = t.String("parent", nullptr, false); name && owner)
        parent = IndexedFindByName(*owner, name);
    return parent;
}

int HotspotConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "cursor", "parent", "rect", "dest_scene", "snd_step", "dest_look",
                                      "action", "bgimage", "mouse_down", "mouse_over", "object", "snd_enter",
                                      "snd_click", "color", "order", "visible", "itemusable", "goback", "scalable",
                                      "page", "font", "text", "anchor"});
    if (t.Cut()) return 0;
    Engine* e = CurrentEngine();
    if (!e) return 0;
    GameScene* s = g_scene_being_loaded;
    const char* name = t.String("name", "", true);
    HotSpot* h;
    if (s) {
        h = FindOrAppend(s->hotspots, name);
        h->owner = &s->hotspots;
        h->scalable = false;
    } else {
        h = AppendNewNamed(e->globalHotspots, name);
        h->owner = &e->globalHotspots;
        h->scalable = true;
    }

    if (const char* cursor = t.String("cursor", nullptr, false)) {
        std::string path = std::strchr(cursor, '/') ? std::string(cursor) : std::string("data/icons/") + cursor;
        h->cursor = Resources().DeclareImage(path.c_str(), 0);
    } else {
        h->cursor = nullptr;
    }
    if (HotSpot* parent = ReadParent(t, h->owner); parent && parent != h) {
        if (h->parent) h->parent->RemoveChild(h);
        h->parent = parent;
        parent->AddChild(h);
    }
    Rect r;
    if (const char* text = t.String("rect", nullptr, false); text && r.Parse(text)) {
        h->hs_type = kHotspotRect;
    } else {
        r = Rect();
        h->hs_type = s && s->viewtype != kViewPage ? kHotspotMap : kHotspotRect;
    }
    h->rect[0] = r.x, h->rect[1] = r.y, h->rect[2] = r.w, h->rect[3] = r.h;
    h->dest_scene = nullptr;
    if (const char* dest = t.String("dest_scene", nullptr, true)) {
        h->dest_scene = IndexedFindByName(e->scenes, dest);
        if (!h->dest_scene) h->dest_scene = AppendNewNamed(e->scenes, dest);
        if (h->dest_scene) h->dest_scene->AttachToNodeTree();
    }
    h->snd_step = DeclareSceneSound(t.String("snd_step", nullptr, true));
    h->dest_look = t.String("dest_look", nullptr, true);
    h->transition = t.String("action", nullptr, true);
    h->bgimage = DeclareImageField(t, "bgimage", 0, true);
    h->mouse_down = DeclareImageField(t, "mouse_down", 0, false);
    h->mouse_over = DeclareImageField(t, "mouse_over", 0, false);
    h->object = t.String("object", nullptr, true);
    if (h->bgimage || h->mouse_down || h->mouse_over) h->hs_type = kHotspotRect;
    h->snd_enter = DeclareSceneSound(t.String("snd_enter", nullptr, true));
    h->snd_click = DeclareSceneSound(t.String("snd_click", nullptr, true));
    h->color = t.Color("color", 0xFFFFFFFF);
    h->order = t.Int("order", 0);
    h->visible = t.Bool("visible") != 0;
    h->itemusable = t.Bool("itemusable") == 1;
    h->goback = t.Bool("goback") == 1;
    h->enabled = true;
    if (int v = t.Bool("scalable"); v >= 0) h->scalable = v == 1;
    int page = t.Int("page", -1);
    if (page < 0) {
        page = 0;
        if (s && s->pages.head && ListNext(s->pages.head)) page = ListIndexOf(s->pages, s->currentPage) + 1;
    }
    h->page = page;
    h->font = FindNamed(e->fonts, t.String("font", "", false));
    h->text = FindNamed(e->texts, t.String("text", "", false));
    h->OnChanged(kHotspotBitText);  // remembers the text's name
    h->anchor = t.Int("anchor", 0);
    PushHandle(L, h);
    return 1;
}

int VideoConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "rect", "buffered", "video", "sound"});
    if (t.Cut()) return 0;
    Engine* e = CurrentEngine();
    if (!e) return 0;
    GameVideo* v = FindOrAppend(e->videos, t.String("name", "", true));
    Rect r;
    v->fixedRect = r.Parse(t.String("rect", "", false));
    v->rect[0] = r.x, v->rect[1] = r.y, v->rect[2] = r.w, v->rect[3] = r.h;
    const bool buffered = t.Bool("buffered") == 1;
    const char* video = t.String("video", "", false);
    v->hvideo = video && *video ? Resources().DeclareVideo(video, buffered ? 0 : 1) : nullptr;
    const char* sound = t.String("sound", "", false);
    v->hstream = sound && *sound ? Resources().DeclareSound(sound, kSoundStreamed) : nullptr;
    return 0;
}

int FontConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "file", "charset", "tilew", "tileh", "borderw", "borderh", "fontw", "fonth"});
    if (t.Cut()) return 0;
    Engine* e = CurrentEngine();
    if (!e) return 0;
    GameFont* font = FindOrAppend(e->fonts, t.String("name", "", true));
    ResourceRecord* image = DeclareImageField(t, "file", 0, true);
    if (!image) {
        // Its text would be drawn as nothing at all: say which font it is.
        const char* file = t.String("file", "", false);
        LogPrintf("[ERROR] - FONT %s : %s%s (its text is not drawn)", font && font->name ? font->name : "",
                  file && *file ? "no image " : "no file given", file ? file : "");
    }
    const char* charset = t.String("charset", nullptr, true);
    const int tile_w = t.Int("tilew", 16), tile_h = t.Int("tileh", 16);
    const int border_w = t.Int("borderw", 0), border_h = t.Int("borderh", 0);
    const int font_w = t.Int("fontw", 0);
    if (font_w > 0)
        font->Setup(image, charset, tile_w, tile_h, font_w, t.Int("fonth", 32), border_w, border_h);
    else
        font->SetImage(image, charset, tile_w, tile_h, border_w, border_h);
    if (!e->currentFont) e->currentFont = font;
    return 0;
}

int ViewConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"ortho", "fov", "znear", "zfar", "aspect", "eye", "lookat"});
    if (t.Cut()) return 0;
    Engine* e = CurrentEngine();
    GameScene* s = g_scene_being_loaded;
    if (!e || !s) return 0;
    if (!s->camera) s->camera = new Camera();
    Camera* cam = s->camera;
    cam->SetDefaults();
    cam->ortho = t.Bool("ortho") == 1;
    cam->fov = t.Number("fov", 60.0f);
    cam->znear = t.Number("znear", 1.0f);
    cam->zfar = t.Number("zfar", 10000.0f);
    cam->aspect = t.Number("aspect", 1.3333f);
    cam->SetViewport(0, 0, static_cast<uint32_t>(e->virtualRect.w), static_cast<uint32_t>(e->virtualRect.h));
    cam->eye = {};
    ReadVectorField(t, "eye", "0,0,0", cam->eye);
    cam->lookAt = {0, 0, 1};
    ReadVectorField(t, "lookat", "0,0,1", cam->lookAt);
    Vec3Normalize(cam->lookAt);
    cam->OnChanged(0xFFFFFFFFu);
    PushHandle(L, cam);
    return 1;
}

int ShaderConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "vs", "ps"});
    if (t.Cut()) return 0;
    Engine* e = CurrentEngine();
    RenderDevice* device = g_renderDevice;
    if (!e || !device) return 0;
    auto* d3d = static_cast<D3DRenderDevice*>(device);
    const uint32_t saved_ps = d3d->pixelShaderVersion;
    if (!e->shadersOn) d3d->pixelShaderVersion = 0x100;
    const char* name = t.String("name", "", true);
    ShaderProgram* old = device->FindShaderProgram(name);
    PostEffects& fx = GetPostEffects();
    const bool chain_held_it = old && fx.shader == old;
    if (chain_held_it) fx.shader = nullptr;
    if (old) device->DeleteShaderProgram(old);
    ShaderProgram* created =
        device->CreateShaderProgram(name, t.String("vs", "", false), t.String("ps", "", false));
    // The chain keeps using the program of that name.
    if (chain_held_it) fx.shader = created;
    d3d->pixelShaderVersion = saved_ps;
    return 0;
}

ScriptFunctionRecord r_beginscene("beginscene", BeginScene);
ScriptFunctionRecord r_endscene("endscene", EndScene);
ScriptFunctionRecord r_scene("scene", SceneConstructor);
ScriptFunctionRecord r_page("page", PageConstructor);
ScriptFunctionRecord r_cubefaces("cubefaces", CubeFacesConstructor);
ScriptFunctionRecord r_hotspot("hotspot", HotspotConstructor);
ScriptFunctionRecord r_video("video", VideoConstructor);
ScriptFunctionRecord r_font("font", FontConstructor);
ScriptFunctionRecord r_view("view", ViewConstructor);
ScriptFunctionRecord r_shader("shader", ShaderConstructor);

}  // namespace

GameScene* SceneBeingLoaded() { return g_scene_being_loaded; }
void SetSceneBeingLoaded(GameScene* scene) {
    g_scene_being_loaded = scene;
    if (!scene) DropListNameIndexes();
}

ResourceRecord* DeclareImageField(const ConstructorFields& t, const char* key, uint32_t flags, bool expand) {
    const char* value = t.String(key, "", true);
    if (!value || !*value) return nullptr;
    if (!expand) return Resources().DeclareImage(value, flags);
    std::string path = ExpandPathVariables(value);
    return Resources().DeclareImage(path.c_str(), flags);
}

void ReadVectorField(const ConstructorFields& t, const char* key, const char* fallback, plat::Vec3& v) {
    const char* text = t.String(key, fallback, false);
    if (text) std::sscanf(text, "%f,%f,%f", &v.x, &v.y, &v.z);
}

void ReadRangeField(const ConstructorFields& t, const char* key, const char* fallback, float range[2]) {
    const char* text = t.String(key, fallback, false);
    if (text) std::sscanf(text, "%f,%f", &range[0], &range[1]);
}

void PushHandle(lua_State* L, EObject* object) { lua_pushlightuserdata(L, object->Handle()); }

ResourceRecord* DeclareSceneSound(const char* name) {
    if (!name || !*name) return nullptr;
    ResourceRecord* r = Resources().FindByName(name);
    if (r && r->type == kResourceSound && !(r->flags & kSound3D)) return r;
    return Resources().DeclareSound(name, 0);
}
