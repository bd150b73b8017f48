// The scene-file constructors of the scene's drawn objects: patch, fx and
// surffx. Each takes a table of keys (read without raising script errors),
// finds the named object in the list of the scene being loaded or appends
// a new one, stores every key it knows in order and returns the handle.
#include <cstdio>
#include <string>

extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "base/object_list.h"
#include "media/resource_manager.h"
#include "scene/cube_faces.h"
#include "scene/game_fx.h"
#include "scene/game_scene.h"
#include "scene/patch.h"
#include "scene/surface_effect.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_var.h"
#include "scriptapi/constructor_fields.h"
#include "scriptapi/scene_constructors.h"

namespace {

int PatchConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "image", "x", "y", "face", "flags", "color", "size", "rotation", "format",
                                      "interval", "frame_count", "type", "distance", "visible", "currentTime",
                                      "looping", "buffered", "snd_forwards", "snd_backwards"});
    if (t.Cut()) return 0;
    GameScene* s = SceneBeingLoaded();
    if (!s) return 0;
    Patch* p = FindOrAppend(s->patches, t.String("name", "", true));
    if (!p) return 0;
    p->image = DeclareImageField(t, "image", 0, true);
    p->x = t.Number("x", 0);
    p->y = t.Number("y", 0);
    p->face = t.Int("face", 0);
    p->ptc_action = t.Int("flags", 0);
    p->color = t.Color("color", 0xFFFFFFFF);
    p->size = t.Number("size", 1.0f);
    p->rotation = t.Int("rotation", 0);
    p->format = t.String("format", nullptr, true);
    p->interval = t.Number("interval", 50.0f);
    p->numOfFrames = t.Int("frame_count", 1);
    p->frame = nullptr;
    p->missingFrame = -1;
    p->ptc_type = t.Int("type", 0);
    p->distance = t.Number("distance", 500.0f);
    p->visible = t.Bool("visible") != 0;
    p->currentTime = t.Number("currentTime", 0);
    if (p->format) {
        p->lastFrame = 0;
        p->looping = t.Bool("looping") == 1;
        p->buffered = t.Bool("buffered") == 1;
        p->snd_forwards = DeclareSceneSound(t.String("snd_forwards", nullptr, true));
        p->snd_backwards = DeclareSceneSound(t.String("snd_backwards", nullptr, true));
        const std::string first = ExpandPathVariables(SequenceFrameName(p->format, 0).c_str());
        p->frame = Resources().DeclareImage(first.c_str(), 0);
    }
    PushHandle(L, p);
    return 1;
}

int FxConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "lens_format", "file", "format", "lens_count", "x", "y", "power", "scale",
                                      "opacity", "baseopacity"});
    if (t.Cut()) return 0;
    GameScene* s = SceneBeingLoaded();
    if (!s) return 0;
    GameFx* fx = FindOrAppend(s->fx, t.String("name", "", true));
    if (!fx) return 0;
    fx->lens_format = t.String("lens_format", nullptr, true);
    if (!fx->lens_format) fx->himage = DeclareImageField(t, "file", 0, false);
    fx->format = t.String("format", nullptr, true);
    fx->lens_count = t.Int("lens_count", 0);
    // Without a format the flare keeps the image its file named.
    if (fx->format) {
        fx->himage = Resources().DeclareImage(SequenceFrameName(fx->format, 0).c_str(), 0);
        for (int32_t n = 1; n < FramesToDeclare(fx->lens_count); ++n)
            Resources().DeclareImage(SequenceFrameName(fx->format, n).c_str(), 0);
    }
    fx->x = t.Number("x", 0);
    fx->y = t.Number("y", 0);
    fx->power = t.Number("power", 4.0f);
    fx->scale = t.Number("scale", 1.0f);
    fx->opacity = float(t.Int("opacity", 255));
    fx->baseopacity = float(t.Int("baseopacity", 255));
    fx->currentOpacity = fx->opacity;
    fx->OnChanged(0xFFFFFFFFu);
    PushHandle(L, fx);
    return 1;
}

int SurfaceConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "width", "height", "distance", "face", "texture", "tiling1", "tiling2",
                                      "order", "alpha", "scroll_speed", "scroll_direction", "position", "rotation",
                                      "anim_seq", "anim_count", "anim_freq", "shader", "ambient", "diffuse",
                                      "specular", "specular_power", "mask"});
    if (t.Cut()) return 0;
    GameScene* s = SceneBeingLoaded();
    if (!s) return 0;
    SurfaceEffect* fx = FindOrAppend(s->surfaces, t.String("name", "", true));
    if (!fx) return 0;
    fx->width = t.Number("width", 1024.0f);
    fx->height = t.Number("height", 1024.0f);
    fx->distance = t.Number("distance", 1024.0f);
    fx->face = t.Int("face", 4);
    fx->htexture = DeclareImageField(t, "texture", 0, false);
    fx->tiling1 = t.Number("tiling1", 1.0f);
    fx->tiling2 = t.Number("tiling2", 1.0f);
    fx->order = t.Int("order", 0);
    fx->alpha = t.Int("alpha", 255);
    fx->scroll_speed = t.Number("scroll_speed", 0);
    fx->scrollOffset = 0;
    fx->scroll_direction = t.Int("scroll_direction", 0);
    ReadVectorField(t, "position", "0,0,0", fx->position);
    ReadVectorField(t, "rotation", "0,0,0", fx->rotation);
    fx->anim_seq = t.String("anim_seq", nullptr, true);
    fx->anim_count = t.Int("anim_count", 1);
    fx->anim_freq = t.Int("anim_freq", 5);
    fx->frameCounter = 0;
    fx->shader = t.String("shader", nullptr, true);
    ReadVectorField(t, "ambient", "0.0,0.0,0.0", fx->ambient);
    ReadVectorField(t, "diffuse", "1.0,1.0,1.0", fx->diffuse);
    ReadVectorField(t, "specular", "1.0,1.0,1.0", fx->specular);
    fx->specular_power = t.Number("specular_power", 10.0f);
    fx->mask = FindNamed(s->cubeFaceSets, t.String("mask", "", false));
    PushHandle(L, fx);
    return 1;
}

ScriptFunctionRecord r_patch("patch", PatchConstructor);
ScriptFunctionRecord r_fx("fx", FxConstructor);
ScriptFunctionRecord r_surffx("surffx", SurfaceConstructor);

}  // namespace
