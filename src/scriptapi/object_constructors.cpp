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
#include "scriptapi/scene_constructors.h"

namespace {

int PatchConstructor(lua_State* L) {
    GameScene* s = SceneBeingLoaded();
    if (!s || !lua_istable(L, -1)) return 0;
    Patch* p = FindOrAppend(s->patches, ScriptFieldString("name", "", true));
    if (!p) return 0;
    p->image = DeclareImageField("image", 0, true);
    p->x = ScriptFieldNumber("x", 0);
    p->y = ScriptFieldNumber("y", 0);
    p->face = ScriptFieldInt("face", 0);
    p->ptc_action = ScriptFieldInt("flags", 0);
    p->color = ScriptFieldColor("color", 0xFFFFFFFF);
    p->size = ScriptFieldNumber("size", 1.0f);
    p->rotation = ScriptFieldInt("rotation", 0);
    p->format = ScriptFieldString("format", nullptr, true);
    p->interval = ScriptFieldNumber("interval", 50.0f);
    p->numOfFrames = ScriptFieldInt("frame_count", 1);
    p->frame = nullptr;
    p->missingFrame = -1;
    p->ptc_type = ScriptFieldInt("type", 0);
    p->distance = ScriptFieldNumber("distance", 500.0f);
    p->visible = ScriptFieldBool("visible") != 0;
    p->currentTime = ScriptFieldNumber("currentTime", 0);
    if (p->format) {
        p->lastFrame = 0;
        p->looping = ScriptFieldBool("looping") == 1;
        p->buffered = ScriptFieldBool("buffered") == 1;
        p->snd_forwards = DeclareSceneSound(ScriptFieldString("snd_forwards", nullptr, true));
        p->snd_backwards = DeclareSceneSound(ScriptFieldString("snd_backwards", nullptr, true));
        const std::string first = ExpandPathVariables(SequenceFrameName(p->format, 0).c_str());
        p->frame = Resources().DeclareImage(first.c_str(), 0);
    }
    PushHandle(L, p);
    return 1;
}

int FxConstructor(lua_State* L) {
    GameScene* s = SceneBeingLoaded();
    if (!s || !lua_istable(L, -1)) return 0;
    GameFx* fx = FindOrAppend(s->fx, ScriptFieldString("name", "", true));
    if (!fx) return 0;
    fx->lens_format = ScriptFieldString("lens_format", nullptr, true);
    if (!fx->lens_format) fx->himage = DeclareImageField("file", 0, false);
    fx->format = ScriptFieldString("format", nullptr, true);
    fx->lens_count = ScriptFieldInt("lens_count", 0);
    // Without a format the flare keeps the image its file named.
    if (fx->format) {
        fx->himage = Resources().DeclareImage(SequenceFrameName(fx->format, 0).c_str(), 0);
        for (int32_t n = 1; n < FramesToDeclare(fx->lens_count); ++n)
            Resources().DeclareImage(SequenceFrameName(fx->format, n).c_str(), 0);
    }
    fx->x = ScriptFieldNumber("x", 0);
    fx->y = ScriptFieldNumber("y", 0);
    fx->power = ScriptFieldNumber("power", 4.0f);
    fx->scale = ScriptFieldNumber("scale", 1.0f);
    fx->opacity = float(ScriptFieldInt("opacity", 255));
    fx->baseopacity = float(ScriptFieldInt("baseopacity", 255));
    fx->currentOpacity = fx->opacity;
    fx->OnChanged(0xFFFFFFFFu);
    PushHandle(L, fx);
    return 1;
}

int SurfaceConstructor(lua_State* L) {
    GameScene* s = SceneBeingLoaded();
    if (!s || !lua_istable(L, -1)) return 0;
    SurfaceEffect* fx = FindOrAppend(s->surfaces, ScriptFieldString("name", "", true));
    if (!fx) return 0;
    fx->width = ScriptFieldNumber("width", 1024.0f);
    fx->height = ScriptFieldNumber("height", 1024.0f);
    fx->distance = ScriptFieldNumber("distance", 1024.0f);
    fx->face = ScriptFieldInt("face", 4);
    fx->htexture = DeclareImageField("texture", 0, false);
    fx->tiling1 = ScriptFieldNumber("tiling1", 1.0f);
    fx->tiling2 = ScriptFieldNumber("tiling2", 1.0f);
    fx->order = ScriptFieldInt("order", 0);
    fx->alpha = ScriptFieldInt("alpha", 255);
    fx->scroll_speed = ScriptFieldNumber("scroll_speed", 0);
    fx->scrollOffset = 0;
    fx->scroll_direction = ScriptFieldInt("scroll_direction", 0);
    ReadVectorField("position", "0,0,0", fx->position);
    ReadVectorField("rotation", "0,0,0", fx->rotation);
    fx->anim_seq = ScriptFieldString("anim_seq", nullptr, true);
    fx->anim_count = ScriptFieldInt("anim_count", 1);
    fx->anim_freq = ScriptFieldInt("anim_freq", 5);
    fx->frameCounter = 0;
    fx->shader = ScriptFieldString("shader", nullptr, true);
    ReadVectorField("ambient", "0.0,0.0,0.0", fx->ambient);
    ReadVectorField("diffuse", "1.0,1.0,1.0", fx->diffuse);
    ReadVectorField("specular", "1.0,1.0,1.0", fx->specular);
    fx->specular_power = ScriptFieldNumber("specular_power", 10.0f);
    fx->mask = FindNamed(s->cubeFaceSets, ScriptFieldString("mask", "", false));
    PushHandle(L, fx);
    return 1;
}

ScriptFunctionRecord r_patch("patch", PatchConstructor);
ScriptFunctionRecord r_fx("fx", FxConstructor);
ScriptFunctionRecord r_surffx("surffx", SurfaceConstructor);

}  // namespace
