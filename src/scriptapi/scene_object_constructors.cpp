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
#include "media/resource_manager.h"
#include "scene/game_mesh.h"
#include "scene/game_scene.h"
#include "scene/particle_source.h"
#include "scene/point_object.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "scriptapi/scene_constructors.h"

namespace {

ResourceRecord* ImageField(const char* key, const char* fallback) {
    const char* name = ScriptFieldString(key, fallback, true);
    return name && *name ? Resources().DeclareImage(name, 0) : nullptr;
}

// "%f,%f,%f" into v; false (v untouched) unless three numbers are given.
bool VectorField(const char* key, plat::Vec3* v) {
    const char* text = ScriptFieldString(key, nullptr, false);
    plat::Vec3 r;
    if (!text || std::sscanf(text, "%f,%f,%f", &r.x, &r.y, &r.z) != 3) return false;
    *v = r;
    return true;
}

// "%f,%f,%f" or "%f,%f" from the field, or else from the default text.
void NumbersField(const char* key, const char* fallback, float* out, int count) {
    float v[3] = {};
    const char* format = count == 3 ? "%f,%f,%f" : "%f,%f";
    const char* text = ScriptFieldString(key, fallback, false);
    if (!text || std::sscanf(text, format, &v[0], &v[1], &v[2]) != count) std::sscanf(fallback, format, &v[0], &v[1], &v[2]);
    for (int i = 0; i < count; ++i) out[i] = v[i];
}

// The point object of that name in the list, or a new one appended. A
// particle source is only found as one (class_word "psource"): a plain
// point of its name is not taken for it.
template <class T>
T* FindOrAppendPoint(ObjectList<PointSceneObject>& list, const char* name, const char* class_word) {
    if (!name) return nullptr;
    for (PointSceneObject* p = list.head; p; p = ListNext(p))
        if (p->name && EqualsNoCase(p->name, name) && (!class_word || IsClass(p, class_word))) return static_cast<T*>(p);
    T* o = new T();
    o->SetDefaults();
    o->name = name;
    ListAppend(list, static_cast<PointSceneObject*>(o));
    return o;
}

int MeshConstructor(lua_State* L) {
    GameScene* s = SceneBeingLoaded();
    if (!s || !lua_istable(L, -1)) return 0;
    const char* name = ScriptFieldString("name", "", true);
    GameMesh* m = name ? ListFindByName(s->meshes, name) : nullptr;
    if (!m) {
        m = ListAppendNew(s->meshes);
        m->SetDefaults();
        m->name = name;
    }
    m->htexture = ImageField("htexture", "");
    m->hnormal = ImageField("hnormal", "");
    m->world = plat::Matrix{};
    const char* file = ScriptFieldString("file", "", false);
    m->hmesh = file && *file ? Resources().DeclareMesh(file, m->hnormal ? 1 : 0) : nullptr;
    m->world = plat::Matrix{};
    plat::Vec3 p;
    m->position = {};
    m->distance = 0;
    if (VectorField("position", &p)) m->SetWorldPosition(p);
    m->rotation = {};
    VectorField("rotation", &m->rotation);
    m->scaling = {1, 1, 1};
    VectorField("scaling", &m->scaling);
    m->projected = ScriptFieldBool("projected") == 1;
    m->visible = ScriptFieldBool("visible") != 0;
    m->order = ScriptFieldInt("order", 0);
    m->ambient = ScriptFieldColor("ambient", 0xFF000000u);
    m->diffuse = ScriptFieldColor("diffuse", 0xFFFFFFFFu);
    m->specular = ScriptFieldColor("specular", 0xFFFFFFFFu);
    m->specularPow = ScriptFieldNumber("specularpow", 100.0f);
    m->blendmode = ScriptFieldInt("renderstyle", 0);
    m->OnChanged(0x3C);
    m->castShadow = ScriptFieldBool("castshadow") == 1;
    lua_pushlightuserdata(L, m->Handle());
    return 1;
}

int ParticleSourceConstructor(lua_State* L) {
    Engine* e = CurrentEngine();
    GameScene* s = e ? e->currentScene : nullptr;
    if (!s || !lua_istable(L, -1)) return 0;
    auto* p = FindOrAppendPoint<GameParticleSource>(s->points, ScriptFieldString("name", "", true), "psource");
    if (!p) return 0;
    p->icon = ImageField("icon", "data/misc/editor_icons/water");
    p->x = ScriptFieldNumber("x", 0);
    p->y = ScriptFieldNumber("y", 0);
    p->distance = float(ScriptFieldInt("distance", 1024));
    p->color = ScriptFieldColor("color", 0xFFFFFFFFu);
    NumbersField("source_size", "100,100,100", &p->source_size.x, 3);
    p->particle_count = ScriptFieldInt("particle_count", 100);
    NumbersField("lifetime", "100,100", p->lifetime, 2);
    p->projectU = ScriptFieldBool("projectU") != 0;
    p->projectV = ScriptFieldBool("projectV") != 0;
    NumbersField("velX", "-10,10", p->velX, 2);
    NumbersField("velY", "-10,10", p->velY, 2);
    NumbersField("velZ", "-10,10", p->velZ, 2);
    NumbersField("accelX", "-1,1", p->accelX, 2);
    NumbersField("accelY", "-1,1", p->accelY, 2);
    NumbersField("accelZ", "-1,1", p->accelZ, 2);
    NumbersField("scaleU", "1,1", p->scaleU, 2);
    NumbersField("scaleV", "1,1", p->scaleV, 2);
    p->sAlphaKeys = ScriptFieldString("alphaKeys", nullptr, true);
    p->sScaleKeys = ScriptFieldString("scaleKeys", nullptr, true);
    p->pimage = ImageField("image", "");
    p->blendmode = ScriptFieldInt("blendmode", 1);
    p->visible = true;
    p->OnChanged(0xFFFFFFFFu);
    return 0;
}

int LightSourceConstructor(lua_State* L) {
    Engine* e = CurrentEngine();
    GameScene* s = e ? e->currentScene : nullptr;
    if (!s || !lua_istable(L, -1)) return 0;
    auto* p = FindOrAppendPoint<PointSceneObject>(s->points, ScriptFieldString("name", "Light", true), nullptr);
    if (!p) return 0;
    p->icon = ImageField("icon", "data/misc/editor_icons/light");
    p->x = ScriptFieldNumber("x", 0);
    p->y = ScriptFieldNumber("y", 0);
    p->distance = float(ScriptFieldInt("distance", 1000));
    return 0;
}

int Sound3DConstructor(lua_State* L) {
    Engine* e = CurrentEngine();
    GameScene* s = e ? e->currentScene : nullptr;
    if (!s || !lua_istable(L, -1)) return 0;
    const char* name = ScriptFieldString("name", "", true);
    const int32_t channel = BoundedSoundChannel(ScriptFieldInt("channel", 0));
    ResourceRecord* sound = ScriptArgSound(L, "sound", -1, channel, true);
    const float x = ScriptFieldNumber("x", -1.0f);
    const float y = ScriptFieldNumber("y", -1.0f);
    const float distance = ScriptFieldNumber("distance", 1000.0f);
    auto* p = FindOrAppendPoint<PointSceneObject>(s->points, name, nullptr);
    if (p) {
        p->icon = ImageField("icon", "data/misc/editor_icons/sound");
        p->snd_action = ScriptFieldInt("flags", 0);
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
