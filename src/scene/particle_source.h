#pragma once
// A particle emitter placed like a point object (class word "psource"): a
// cloud of textured, camera-facing quads born in a box around the source,
// moving with random velocity and acceleration, spinning, fading and
// scaling along key curves over their life, and reborn when they die. The
// simulation advances one step per rendered frame.
#include <cstddef>
#include <cstdint>

#include "platform/gpu/d3dx/math_types.h"
#include "render/rand48.h"
#include "scene/point_object.h"

// Change-mask bits of the source's properties, in registration order.
enum ParticleSourceBits : uint32_t {
    kPsourceBitSourceSize = 0x40,
    kPsourceBitLifetime = 0x80,
    kPsourceBitRandSeed = 0x40000,
    kPsourceBitParticleCount = 0x80000,
    kPsourceBitAlphaKeys = 0x100000,
    kPsourceBitScaleKeys = 0x200000,
};

// flags (the point's action word).
enum ParticleFlags : int32_t {
    kParticlesContinuous = 0,  // warm-up, random starting ages, rebirth
    kParticlesOneShot = 1,     // each particle lives once
    kParticlesTogether = 2,    // all start at age 0, rebirth
};

// Bounds on what scene data may ask for.
constexpr int32_t kMaxParticles = 100000;
constexpr int64_t kMaxWarmUpWork = 20000000;  // particle steps
// The warm-up bound in force (kMaxWarmUpWork; tools that load many scene
// files, such as the fuzz targets, lower it).
extern int64_t g_particleWarmUpLimit;

struct Particle {
    Particle* link;
    size_t size;
    void* self;
    plat::Vec3 position;
    plat::Vec3 velocity;
    plat::Vec3 acceleration;
    float scaleU, scaleV;
    float alpha;
    float angle;  // radians
    float spin;   // radians per step
    int32_t lifetime;
    int32_t age;  // negative while waiting to be born
};

struct ParticleKey {
    ParticleKey* link;
    size_t size;
    void* self;
    float age;  // fraction of the life
    float value;
};

template <class T>
struct RecordChain {
    T* head = nullptr;
    T* tail = nullptr;
};

// The value of a key curve at t: 0 without keys; before the first key its
// value; between two keys linear; beyond the last the last's value. Keys
// are used in the order written. Two keys at the same age give the later.
float KeyCurveValue(const ParticleKey* first, float t);

class GameParticleSource : public PointSceneObject {
public:
    class GameParticleSource_Initializer : public EObject_Initializer {
    public:
        GameParticleSource_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    GameParticleSource();
    ~GameParticleSource() override;

    void SetDefaults() override;
    // Key lists parsed, particles rebuilt (with warm-up), the generator
    // reseeded, in that order.
    void OnChanged(uint32_t mask) override;
    // Steps and draws every particle in one batch.
    void Render() override;
    // The point's overlay and, when selected, the birth box.
    void DrawEditorOverlay() override;
    bool OnScreen() const override { return projection == 1; }

    // One birth, drawing from the generator in a fixed order.
    void Spawn(Particle* p);
    // One step; true when the particle is to be drawn.
    bool Step(Particle* p);
    // Empties the particle chain and builds particle_count new ones.
    void RebuildParticles();
    void FreeParticles();
    size_t ParticleCount() const;

    int32_t& flags() { return snd_action; }
    int32_t flags() const { return snd_action; }

    int32_t projection = 0;
    ResourceRecord* pimage = nullptr;
    plat::Vec3 source_size;
    int32_t particle_count = 0;
    float lifetime[2] = {};
    float velX[2] = {}, velY[2] = {}, velZ[2] = {};
    float accelX[2] = {}, accelY[2] = {}, accelZ[2] = {};
    float rotSpeed[2] = {};
    float scaleU[2] = {}, scaleV[2] = {};
    const char* sAlphaKeys = nullptr;  // interned
    const char* sScaleKeys = nullptr;  // interned
    bool projectU = false;
    bool projectV = false;
    bool visible = false;
    int32_t blendmode = 0;
    float alpha_power = 0;
    uint32_t rand_seed = 0;
    Rand48 generator;
    RecordChain<Particle> particles;
    RecordChain<ParticleKey> alphaKeys;
    RecordChain<ParticleKey> scaleKeys;
};

// Refills a key chain from "age,value,age,value,..."; an odd count of
// numbers leaves it empty.
void ParseParticleKeys(const char* text, RecordChain<ParticleKey>* chain);
void FreeParticleKeys(RecordChain<ParticleKey>* chain);
