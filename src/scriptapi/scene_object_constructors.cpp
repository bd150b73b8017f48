// The scene-file constructors of meshes, particle sources, lights and
// positioned sounds: mesh, particlesource, lightsource and sound3D. Each
// takes a table of keys (read without raising script errors), finds the
// named object in its list or appends a new one, and stores every key it
// knows in order.
#include <cstdio>

extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "app/engine_media.h"
#include "base/object_list.h"
#include "base/string_pool.h"
#include "media/resource_manager.h"
#include "scene/game_mesh.h"
#include "scene/game_scene.h"
#include "scene/particle_source.h"
#include "scene/point_object.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "scriptapi/constructor_fields.h"
#include "scriptapi/scene_constructors.h"

namespace {

ResourceRecord* ImageField(const ConstructorFields& t, const char* key, const char* fallback) {
    const char* name = t.String(key, fallback, true);
    return name && *name ? Resources().DeclareImage(name, 0) : nullptr;
}

// "%f,%f,%f" into v; false (v untouched) unless three numbers are given.
bool VectorField(const ConstructorFields& t, const char* key, plat::Vec3* v) {
    const char* text = t.String(key, nullptr, false);
    plat::Vec3 r;
    if (!text || std::sscanf(text, "%f,%f,%f", &r.x, &r.y, &r.z) != 3) return false;
    *v = r;
    return true;
}

// The point object of that name in the list, or a new one appended. A
// particle source is only found as one (class_word "psource"): a plain
// point of its name is not taken for it.
template <class T>
T* FindOrAppendPoint(ObjectList<PointSceneObject>& list, const char* name, const char* class_word) {
    if (!name) return nullptr;
    if (PointSceneObject* found = IndexedFindByName(list, name, class_word)) return static_cast<T*>(found);
    T* o = new T();
    o->SetDefaults();
    IndexedAppend(list, static_cast<PointSceneObject*>(o), name);
    return o;
}

int MeshConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "htexture", "hnormal", "file", "position", "rotation", "scaling",
                                      "projected", "visible", "order", "ambient", "diffuse", "specular",
                                      "specularpow", "renderstyle", "castshadow"});
    if (t.Cut()) return 0;
    GameScene* s = SceneBeingLoaded();
    if (!s) return 0;
    const char* name = t.String("name", "", true);
    GameMesh* m = name ? IndexedFindByName(s->meshes, name) : nullptr;
    if (!m) m = AppendNewNamed(s->meshes, name);
    m->htexture = ImageField(t, "htexture", "");
    m->hnormal = ImageField(t, "hnormal", "");
    m->world = plat::Matrix{};
    const char* file = t.String("file", "", false);
    m->hmesh = file && *file ? Resources().DeclareMesh(file, m->hnormal ? 1 : 0) : nullptr;
    m->world = plat::Matrix{};
    plat::Vec3 p;
    m->position = {};
    m->distance = 0;
    if (VectorField(t, "position", &p)) m->SetWorldPosition(p);
    m->rotation = {};
    VectorField(t, "rotation", &m->rotation);
    m->scaling = {1, 1, 1};
    VectorField(t, "scaling", &m->scaling);
    m->projected = t.Bool("projected") == 1;
    m->visible = t.Bool("visible") != 0;
    m->order = t.Int("order", 0);
    m->ambient = t.Color("ambient", 0xFF000000u);
    m->diffuse = t.Color("diffuse", 0xFFFFFFFFu);
    m->specular = t.Color("specular", 0xFFFFFFFFu);
    m->specularPow = t.Number("specularpow", 100.0f);
    m->blendmode = t.Int("renderstyle", 0);
    m->OnChanged(0x3C);
    m->castShadow = t.Bool("castshadow") == 1;
    lua_pushlightuserdata(L, m->Handle());
    return 1;
}

int ParticleSourceConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "icon", "x", "y", "distance", "color", "source_size", "particle_count",
                                      "lifetime", "projectU", "projectV", "velX", "velY", "velZ", "accelX", "accelY",
                                      "accelZ", "scaleU", "scaleV", "alphaKeys", "scaleKeys", "image", "blendmode"});
    if (t.Cut()) return 0;
    Engine* e = CurrentEngine();
    GameScene* s = e ? e->currentScene : nullptr;
    if (!s) return 0;
    auto* p = FindOrAppendPoint<GameParticleSource>(s->points, t.String("name", "", true), "psource");
    if (!p) return 0;
    p->icon = ImageField(t, "icon", "data/misc/editor_icons/water");
    p->x = t.Number("x", 0);
    p->y = t.Number("y", 0);
    p->distance = float(t.Int("distance", 1024));
    p->color = t.Color("color", 0xFFFFFFFFu);
    ReadVectorField(t, "source_size", "100,100,100", p->source_size);
    p->particle_count = t.Int("particle_count", 100);
    ReadRangeField(t, "lifetime", "100,100", p->lifetime);
    p->projectU = t.Bool("projectU") != 0;
    p->projectV = t.Bool("projectV") != 0;
    ReadRangeField(t, "velX", "-10,10", p->velX);
    ReadRangeField(t, "velY", "-10,10", p->velY);
    ReadRangeField(t, "velZ", "-10,10", p->velZ);
    ReadRangeField(t, "accelX", "-1,1", p->accelX);
    ReadRangeField(t, "accelY", "-1,1", p->accelY);
    ReadRangeField(t, "accelZ", "-1,1", p->accelZ);
    ReadRangeField(t, "scaleU", "1,1", p->scaleU);
    ReadRangeField(t, "scaleV", "1,1", p->scaleV);
    p->sAlphaKeys = t.String("alphaKeys", nullptr, true);
    p->sScaleKeys = t.String("scaleKeys", nullptr, true);
    p->pimage = ImageField(t, "image", "");
    p->blendmode = t.Int("blendmode", 1);
    p->visible = true;
    p->OnChanged(0xFFFFFFFFu);
    return 0;
}

int LightSourceConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "icon", "x", "y", "distance"});
    if (t.Cut()) return 0;
    Engine* e = CurrentEngine();
    GameScene* s = e ? e->currentScene : nullptr;
    if (!s) return 0;
    auto* p = FindOrAppendPoint<PointSceneObject>(s->points, t.String("name", "Light", true), nullptr);
    if (!p) return 0;
    p->icon = ImageField(t, "icon", "data/misc/editor_icons/light");
    p->x = t.Number("x", 0);
    p->y = t.Number("y", 0);
    p->distance = float(t.Int("distance", 1000));
    return 0;
}

int Sound3DConstructor(lua_State* L) {
    if (!lua_istable(L, -1)) return 0;
    const ConstructorFields t(L, -1, {"name", "channel", "sound", "x", "y", "distance", "icon", "flags"});
    if (t.Cut()) return 0;
    Engine* e = CurrentEngine();
    GameScene* s = e ? e->currentScene : nullptr;
    if (!s) return 0;
    const char* name = t.String("name", "", true);
    const int32_t channel = BoundedSoundChannel(t.Int("channel", 0));
    // Only a name gives a sound here: the value below the key is the table.
    const char* sound_name = t.StringOnly("sound");
    ResourceRecord* sound = sound_name && *sound_name ? e->DeclareSound(CommonStrings().Intern(sound_name), channel, true) : nullptr;
    const float x = t.Number("x", -1.0f);
    const float y = t.Number("y", -1.0f);
    const float distance = t.Number("distance", 1000.0f);
    auto* p = FindOrAppendPoint<PointSceneObject>(s->points, name, nullptr);
    if (p) {
        p->icon = ImageField(t, "icon", "data/misc/editor_icons/sound");
        p->snd_action = t.Int("flags", 0);
        if (sound) {
            p->sound = sound;
            p->SetPosition(x, y, distance);
        }
    }
    lua_pushlightuserdata(L, sound);
    return 1;
}

ScriptFunctionRecord r_mesh("mesh", MeshConstructor);
ScriptFunctionRecord r_particlesource("particlesource", ParticleSourceConstructor);
ScriptFunctionRecord r_lightsource("lightsource", LightSourceConstructor);
ScriptFunctionRecord r_sound3d("sound3D", Sound3DConstructor);

}  // namespace
