#include "scene/particle_source.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "base/memory.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/camera.h"
#include "render/color.h"
#include "render/geometry.h"
#include "render/render_device.h"

ClassDescriptor GameParticleSource::s_descriptor;

namespace {

GameParticleSource::GameParticleSource_Initializer g_psource_initializer;

constexpr float kTwoPi = 6.2831855f;
constexpr float kVirtualWidth = 1024.0f, kVirtualHeight = 768.0f;

float InRange(const float range[2], float r) { return range[0] + r * (range[1] - range[0]); }

template <class T>
T* NewRecord() {
    return static_cast<T*>(ObjectPool::NewRecord(sizeof(T)));
}

template <class T>
void Append(RecordChain<T>* chain, T* record) {
    if (chain->tail)
        chain->tail->link = record;
    else
        chain->head = record;
    chain->tail = record;
}

template <class T>
void FreeChain(RecordChain<T>* chain) {
    for (T* r = chain->head; r;) {
        T* next = static_cast<T*>(r->link);
        ObjectPool::DeleteRecord(r);
        r = next;
    }
    chain->head = chain->tail = nullptr;
}

// Age over lifetime; a life of 0 or less counts as over once begun.
float LifeFraction(const Particle& p) {
    if (p.lifetime > 0) return float(p.age) / float(p.lifetime);
    return p.age > 0 ? 1.0f : 0.0f;
}

struct ParticleVertex {
    float x, y, z;
    uint32_t colour;
    float u, v;
};
static_assert(sizeof(ParticleVertex) == 24);

// The corners of the unit square as two triangles, with their texture
// coordinates.
constexpr float kCorners[6][4] = {{-0.5f, 0.5f, 0, 0},  {0.5f, 0.5f, 1, 0},   {-0.5f, -0.5f, 0, 1},
                                  {-0.5f, -0.5f, 0, 1}, {0.5f, 0.5f, 1, 0},   {0.5f, -0.5f, 1, 1}};

}  // namespace

GameParticleSource::GameParticleSource_Initializer::GameParticleSource_Initializer()
    : EObject_Initializer(&GameParticleSource::s_descriptor) {}

EObject* GameParticleSource::GameParticleSource_Initializer::Create() {
    void* block = GameParticleSource::operator new(sizeof(GameParticleSource));
    return block ? ::new (block) GameParticleSource() : nullptr;
}

void GameParticleSource::GameParticleSource_Initializer::RegisterProperties() {
    using S = GameParticleSource;
    ClassDescriptor& d = S::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&S::name));
    d.AddProperty("x", kPropertyFloat, ObjectFieldOffset(&S::x));
    d.AddProperty("y", kPropertyFloat, ObjectFieldOffset(&S::y));
    d.AddProperty("distance", kPropertyFloat, ObjectFieldOffset(&S::distance));
    d.AddProperty("icon", kPropertyImage, ObjectFieldOffset(&S::icon));
    d.AddProperty("color", kPropertyColor, ObjectFieldOffset(&S::color));
    d.AddProperty("source_size", kPropertyVector, ObjectFieldOffset(&S::source_size));
    d.AddProperty("lifetime", kPropertyFloat2, ObjectFieldOffset(&S::lifetime));
    d.AddProperty("projectU", kPropertyBool, ObjectFieldOffset(&S::projectU));
    d.AddProperty("projectV", kPropertyBool, ObjectFieldOffset(&S::projectV));
    d.AddProperty("velX", kPropertyFloat2, ObjectFieldOffset(&S::velX));
    d.AddProperty("velY", kPropertyFloat2, ObjectFieldOffset(&S::velY));
    d.AddProperty("velZ", kPropertyFloat2, ObjectFieldOffset(&S::velZ));
    d.AddProperty("accelX", kPropertyFloat2, ObjectFieldOffset(&S::accelX));
    d.AddProperty("accelY", kPropertyFloat2, ObjectFieldOffset(&S::accelY));
    d.AddProperty("accelZ", kPropertyFloat2, ObjectFieldOffset(&S::accelZ));
    d.AddProperty("scaleU", kPropertyFloat2, ObjectFieldOffset(&S::scaleU));
    d.AddProperty("scaleV", kPropertyFloat2, ObjectFieldOffset(&S::scaleV));
    d.AddProperty("rand_seed", kPropertyHex, ObjectFieldOffset(&S::rand_seed));
    d.AddProperty("particle_count", kPropertyInt, ObjectFieldOffset(&S::particle_count));
    d.AddProperty("sAlphaKeys", kPropertyString, ObjectFieldOffset(&S::sAlphaKeys));
    d.AddProperty("sScaleKeys", kPropertyString, ObjectFieldOffset(&S::sScaleKeys));
    d.AddProperty("rotSpeed", kPropertyFloat2, ObjectFieldOffset(&S::rotSpeed));
    d.AddProperty("pimage", kPropertyImage, ObjectFieldOffset(&S::pimage));
    d.AddProperty("blendmode", kPropertyEnum, ObjectFieldOffset(&S::blendmode));
    d.AddProperty("alpha_power", kPropertyFloat, ObjectFieldOffset(&S::alpha_power));
    d.AddProperty("projection", kPropertyEnum, ObjectFieldOffset(&S::projection));
    d.AddProperty("flags", kPropertyInt, ObjectFieldOffset(&S::snd_action));
    d.AddProperty("visible", kPropertyBool, ObjectFieldOffset(&S::visible));
    d.AddProperty("order", kPropertyInt, ObjectFieldOffset(&S::order));
    d.AddConstant("class", "psource");
}

GameParticleSource::GameParticleSource() : PointSceneObject(&s_descriptor) { SetDefaults(); }

GameParticleSource::~GameParticleSource() {
    FreeParticles();
    FreeParticleKeys(&alphaKeys);
    FreeParticleKeys(&scaleKeys);
}

void GameParticleSource::SetDefaults() { visible = true; }

void FreeParticleKeys(RecordChain<ParticleKey>* chain) { FreeChain(chain); }

void ParseParticleKeys(const char* text, RecordChain<ParticleKey>* chain) {
    FreeChain(chain);
    if (!text) return;
    size_t count = 0;
    float pending = 0;
    const char* p = text;
    while (true) {
        const float value = float(std::atof(p));
        if (count % 2 == 0) {
            pending = value;
        } else {
            ParticleKey* k = NewRecord<ParticleKey>();
            if (!k) break;
            k->age = pending;
            k->value = value;
            Append(chain, k);
        }
        ++count;
        const char* comma = std::strchr(p, ',');
        if (!comma) break;
        p = comma + 1;
    }
    if (count % 2) FreeChain(chain);
}

float KeyCurveValue(const ParticleKey* first, float t) {
    if (!first) return 0.0f;
    const ParticleKey* prev = nullptr;
    for (const ParticleKey* n = first; n; prev = n, n = static_cast<const ParticleKey*>(n->link)) {
        if (!(n->age >= t)) continue;
        if (!prev) return n->value;
        const float span = n->age - prev->age;
        if (span == 0.0f) return n->value;
        const float f = (t - prev->age) / span;
        return f * n->value + (1.0f - f) * prev->value;
    }
    return prev->value;
}

void GameParticleSource::Spawn(Particle* p) {
    float fu = 1.0f, fv = 1.0f;
    float d[3] = {0, 0, 0};
    Engine* e = CurrentEngine();
    if (projection == 1) {
        int32_t sx = SaturateToInt(std::trunc(x)), sy = SaturateToInt(std::trunc(y));
        if (e) {
            e->VirtualToScreen(&sx, &sy);
            e->DirectionAt(d, float(sx), float(sy), true);
            if (e->screenRect.w > 0 && e->screenRect.h > 0) {
                fu = float(e->screenRect.w) / kVirtualWidth;
                fv = float(e->screenRect.h) / kVirtualHeight;
            }
        }
    } else if (e) {
        e->DirectionAt(d, x, y, false);
    } else {
        plat::Vec3 v;
        AnglesToDirection(&v, x, y);
        d[0] = v.x, d[1] = v.y, d[2] = v.z;
    }
    Rand48& r = generator;
    p->position.x = (2 * r.NextFloat() - 1) * source_size.x + d[0] * distance;
    p->position.y = (2 * r.NextFloat() - 1) * source_size.y + d[1] * distance;
    p->position.z = (2 * r.NextFloat() - 1) * source_size.z + d[2] * distance;
    p->velocity.x = InRange(velX, r.NextFloat());
    p->velocity.y = InRange(velY, r.NextFloat());
    p->velocity.z = InRange(velZ, r.NextFloat());
    p->acceleration.x = InRange(accelX, r.NextFloat());
    p->acceleration.y = InRange(accelY, r.NextFloat());
    p->acceleration.z = InRange(accelZ, r.NextFloat());
    // One step short of the int range: the age passes the life and stays in
    // range (a life asked beyond it lasts some 400 days of frames).
    p->lifetime = std::min(SaturateToInt(std::trunc(InRange(lifetime, r.NextFloat()))), INT32_MAX - 1);
    p->scaleU = InRange(scaleU, r.NextFloat()) * fu;
    p->scaleV = InRange(scaleV, r.NextFloat()) * fv;
    p->age = 0;
    p->alpha = 1.0f;
    if (rotSpeed[0] == 0 && rotSpeed[1] == 0) {
        p->angle = 0;
        p->spin = 0;
        return;
    }
    p->angle = r.NextFloat() * kTwoPi;
    p->spin = InRange(rotSpeed, r.NextFloat()) * kPi / 180.0f;
}

bool GameParticleSource::Step(Particle* p) {
    if (p->age < 0) {
        ++p->age;
        return false;
    }
    if (p->age <= p->lifetime) {
        p->position = {p->position.x + p->velocity.x, p->position.y + p->velocity.y, p->position.z + p->velocity.z};
        p->velocity = {p->velocity.x + p->acceleration.x, p->velocity.y + p->acceleration.y,
                       p->velocity.z + p->acceleration.z};
        if (p->spin != 0) {
            p->angle += p->spin;
            if (p->angle > kTwoPi)
                p->angle -= kTwoPi;
            else if (p->angle < 0)
                p->angle += kTwoPi;
        }
        ++p->age;
        return true;
    }
    if (flags() == kParticlesOneShot) return false;
    Spawn(p);
    return true;
}

void GameParticleSource::FreeParticles() { FreeChain(&particles); }

size_t GameParticleSource::ParticleCount() const {
    size_t n = 0;
    for (const Particle* p = particles.head; p; p = static_cast<const Particle*>(p->link)) ++n;
    return n;
}

int64_t g_particleWarmUpLimit = kMaxWarmUpWork;

void GameParticleSource::RebuildParticles() {
    FreeParticles();
    int32_t count = particle_count;
    if (count > kMaxParticles) {
        LogPrintf("[PARTICLES] %s: %d particles asked for, %d made\n", name ? name : "", count, kMaxParticles);
        count = kMaxParticles;
    }
    const float life_max = lifetime[1];
    int32_t longest = 0;
    for (int32_t i = 0; i < count; ++i) {
        Particle* p = NewRecord<Particle>();
        if (!p) break;
        Spawn(p);
        p->age = flags() == kParticlesTogether ? 0 : SaturateToInt(std::trunc(generator.NextFloat() * life_max));
        longest = std::max(longest, p->lifetime);
        Append(&particles, p);
    }
    if (flags() != kParticlesContinuous || count <= 0) return;
    int64_t steps = SaturateToInt(std::trunc(life_max));
    // Particles that all die at once (a lifetime range giving 0, NaN or
    // less) are born again at every step: one step shows what any number
    // would, and a long warm-up only spawned them again and again (tens of
    // seconds for a range such as "1e308,1e10").
    if (longest <= 0 && steps > 1) steps = 1;
    if (steps > 0 && steps * count > g_particleWarmUpLimit) {
        LogPrintf("[PARTICLES] %s: warm-up of %lld steps cut to %lld\n", name ? name : "", (long long)steps,
                  (long long)(g_particleWarmUpLimit / count));
        steps = g_particleWarmUpLimit / count;
    }
    for (int64_t s = 0; s < steps; ++s)
        for (Particle* p = particles.head; p; p = static_cast<Particle*>(p->link)) Step(p);
}

void GameParticleSource::OnChanged(uint32_t mask) {
    if ((mask & kPsourceBitAlphaKeys) && sAlphaKeys) ParseParticleKeys(sAlphaKeys, &alphaKeys);
    if ((mask & kPsourceBitScaleKeys) && sScaleKeys) ParseParticleKeys(sScaleKeys, &scaleKeys);
    if (mask & kPsourceBitParticleCount) RebuildParticles();
    if ((mask & kPsourceBitRandSeed) && rand_seed != 0)
        generator.SetSeed(rand_seed, int32_t(rand_seed) < 0 ? 0xFFFFFFFFu : 0u);
}

void GameParticleSource::Render() {
    Engine* e = CurrentEngine();
    RenderDevice* device = g_renderDevice;
    if (!e || !device || !pimage || particle_count == 0 || !visible) return;
    Texture* tex = Resources().GetImage(pimage);
    const Camera* cam = e->activeCamera;
    if (!tex || !cam) return;
    device->SetTexture(0, tex->device_texture);
    device->SetRenderMode(blendmode == 0 ? 0x13 : 0x103, 0xFFFFFFFFu);
    device->EnableDepth(false);
    ParticleVertex quad[6];
    device->SetVertexArray(&quad[0].x, sizeof(ParticleVertex));
    device->SetVertexArray4(&quad[0].colour, sizeof(ParticleVertex));
    device->SetTexCoordArray(&quad[0].u, sizeof(ParticleVertex));

    // The camera's orientation and, in its fourth row, the eye: particles
    // are placed from the eye, as they were spawned along its rays.
    plat::Matrix b;
    plat::D3DXMatrixInverse(&b, nullptr, &cam->view);
    plat::Vec3 axis_u{b.m[0][0], b.m[0][1], b.m[0][2]}, axis_v{b.m[1][0], b.m[1][1], b.m[1][2]};
    const plat::Vec3 eye{b.m[3][0], b.m[3][1], b.m[3][2]};
    if (!projectU) axis_u = {1, 0, 0};
    if (!projectV) axis_v = {0, 1, 0};

    float fade = 1.0f;
    if (alpha_power > 0) {
        plat::Vec3 look, here;
        AnglesToDirection(&look, g_lookYaw, g_lookPitch);
        AnglesToDirection(&here, x, y);
        fade = std::pow(look.x * here.x + look.y * here.y + look.z * here.z, alpha_power);
    }
    const float tw = float(tex->width), th = float(tex->height);
    // A warm-up draw shows the particles where they are, stepping none (and
    // drawing no random number for a rebirth).
    const bool rehearsal = SceneWarmUpDraw();
    for (Particle* p = particles.head; p; p = static_cast<Particle*>(p->link)) {
        if (rehearsal ? p->age < 0 || (p->age > p->lifetime && flags() == kParticlesOneShot) : !Step(p)) continue;
        const float t = LifeFraction(*p);
        const float s = sScaleKeys ? KeyCurveValue(scaleKeys.head, t) : 1.0f;
        float a = p->alpha * fade;
        if (sAlphaKeys) a *= KeyCurveValue(alphaKeys.head, t);
        uint32_t colour = color;
        if (!(a >= 1.0f)) {
            const uint32_t level = uint32_t(std::clamp(SaturateToInt(std::trunc(a * 255.0f)), 0, 255));
            colour = blendmode == 0 ? (color & 0xFFFFFFu) | level << 24
                                    : ModulateColor(color, 0xFF000000u | level * 0x010101u);
        }
        const float su = tw * p->scaleU * s, sv = th * p->scaleV * s;
        const float c = p->angle != 0 ? std::cos(p->angle) : 1.0f;
        const float sn = p->angle != 0 ? std::sin(p->angle) : 0.0f;
        for (int i = 0; i < 6; ++i) {
            const float cx = kCorners[i][0] * su, cy = kCorners[i][1] * sv;
            const float ru = cx * c - cy * sn, rv = cx * sn + cy * c;
            quad[i] = {eye.x + p->position.x + ru * axis_u.x + rv * axis_v.x,
                       eye.y + p->position.y + ru * axis_u.y + rv * axis_v.y,
                       eye.z + p->position.z + ru * axis_u.z + rv * axis_v.z, colour, kCorners[i][2], kCorners[i][3]};
        }
        device->DrawImmediate(6);
    }
    device->FlushBatch();
}

void GameParticleSource::DrawEditorOverlay() {
    PointSceneObject::DrawEditorOverlay();
    Engine* e = CurrentEngine();
    if (!e || e->selectedObject != this) return;
    plat::Vec3 d;
    AnglesToDirection(&d, x, y);
    DrawWireBox({d.x * distance, d.y * distance, d.z * distance}, source_size.x, source_size.y, source_size.z, color);
}
