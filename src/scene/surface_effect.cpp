#include "scene/surface_effect.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include "app/app_window.h"
#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/text.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/camera.h"
#include "render/color.h"
#include "render/d3d_render_device.h"
#include "render/geometry.h"
#include "render/render_device.h"
#include "render/shader_program.h"
#include "scene/game_mesh.h"
#include "scene/game_scene.h"
#include "scene/patch.h"

ClassDescriptor SurfaceEffect::s_descriptor;

namespace {

SurfaceEffect::SurfaceEffect_Initializer g_surface_initializer;

constexpr int kVkHome = 36, kVkLeft = 37, kVkUp = 38, kVkRight = 39, kVkDown = 40;
constexpr int kVkA = 65, kVkD = 68, kVkF = 70, kVkS = 83, kVkV = 86, kVkW = 87, kVkLeftShift = 160;
constexpr uint32_t kMode3DStrip = 0x1001;
constexpr uint32_t kTextureAlphaFlag = 0x10;

// Corner i of a face of the unit cube, in strip order.
plat::Vec3 UnitCorner(int face, int i) {
    static CubeVertex cube[24];
    static const bool built = (BuildCubeVertices(cube, 1.0f, 0, 0, 1, 1), true);
    (void)built;
    const CubeVertex& v = cube[face * 4 + i];
    return {v.x, v.y, v.z};
}

float& Axis(plat::Vec3& v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }
float AxisOf(const plat::Vec3& v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

// The centre without rotation: position moved along the face normal.
plat::Vec3 SurfaceCentre(const SurfaceEffect& s) {
    plat::Vec3 c = s.position;
    const FaceLayout* f = FaceLayoutOf(s.face);
    if (f) Axis(c, f->n) += s.distance * AxisOf(UnitCorner(s.face, 0), f->n);
    return c;
}

// The scene's resource steps: the texture and every animation frame.
template <class Step>
void VisitSurfaceResources(SurfaceEffect* s, Step step) {
    step(s->htexture);
    if (s->anim_seq && s->anim_count > 0)
        for (int32_t n = 0; n < FramesToDeclare(s->anim_count); ++n)
            step(Resources().DeclareImage(SequenceFrameName(s->anim_seq, n).c_str(), 0));
}

void LoadSurfaceResources(EObject* o) {
    VisitSurfaceResources(static_cast<SurfaceEffect*>(o), [](ResourceRecord* r) { Resources().GetImage(r); });
}

void UnloadSurfaceResources(EObject* o) {
    VisitSurfaceResources(static_cast<SurfaceEffect*>(o), [](ResourceRecord* r) {
        if (r) Resources().Remove(r, false);
    });
}

const SceneKindOps kSurfaceKindOps = {LoadSurfaceResources, UnloadSurfaceResources, nullptr, nullptr};
const bool g_surface_hooks = (SetSceneKindOps(kSceneKindSurfaces, &kSurfaceKindOps), true);

void SetVector(ShaderProgram* p, bool pixel, const char* name, float a, float b, float c, float d) {
    const float v[4] = {a, b, c, d};
    if (pixel) p->SetPixelConstantByName(name, v, SHADER_VECTOR);
    else p->SetVertexConstantByName(name, v, SHADER_VECTOR);
}

void SetShaderConstants(Engine* e, const SurfaceEffect& s, const FaceLayout& f, ShaderProgram* p) {
    plat::Vec3 view;
    if (e->currentScene && e->currentScene->viewtype == kViewPage) {
        float d[3];
        e->DirectionAt(d, float(e->screenRect.w / 2), float(e->screenRect.h / 2), false);
        view = {d[0], d[1], d[2]};
    } else {
        AnglesToDirection(&view, g_lookYaw, g_lookPitch);
    }
    plat::Vec3 light, light_pos;
    GetLightDirection(e, &light, &light_pos);
    const float a = float(uint32_t(s.alpha)) / 255.0f;
    SetVector(p, true, "fParams", s.tiling1 != 0 ? s.tiling2 / s.tiling1 : 0.0f, 0.1f, a, s.specular_power);
    SetVector(p, true, "fvLightDirection", -AxisOf(light, f.a) * float(f.da), -AxisOf(light, f.b) * float(f.db),
              -AxisOf(light, f.n) * float(f.rs), 0.0f);
    SetVector(p, true, "fvViewDirection", AxisOf(view, f.a) * float(f.da), AxisOf(view, f.b) * float(f.db),
              AxisOf(view, f.n) * float(f.rs), 0.0f);
    if (const Camera* cam = e->activeCamera) {
        plat::Matrix vp;
        plat::D3DXMatrixMultiply(&vp, &cam->view, &cam->projection);
        p->SetVertexConstantByName("matViewProjection", &vp.m[0][0], SHADER_MATRIX);
    }
    SetVector(p, true, "fvAmbient", s.ambient.x, s.ambient.y, s.ambient.z, 1.0f);
    SetVector(p, true, "fvDiffuse", s.diffuse.x, s.diffuse.y, s.diffuse.z, 1.0f);
    SetVector(p, true, "fvSpecular", s.specular.x, s.specular.y, s.specular.z, 1.0f);
    SetVector(p, false, "fvLightPosition", light_pos.x, light_pos.y, light_pos.z, 1.0f);
    SetVector(p, false, "fvEyePosition", 0, 0, 0, 1.0f);
}

}  // namespace

SurfaceEffect::SurfaceEffect_Initializer::SurfaceEffect_Initializer()
    : EObject_Initializer(&SurfaceEffect::s_descriptor) {}

EObject* SurfaceEffect::SurfaceEffect_Initializer::Create() {
    void* block = SurfaceEffect::operator new(sizeof(SurfaceEffect));
    return block ? ::new (block) SurfaceEffect() : nullptr;
}

void SurfaceEffect::SurfaceEffect_Initializer::RegisterProperties() {
    ClassDescriptor& d = SurfaceEffect::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&SurfaceEffect::name));
    d.AddProperty("position", kPropertyVector, ObjectFieldOffset(&SurfaceEffect::position));
    d.AddProperty("rotation", kPropertyVector, ObjectFieldOffset(&SurfaceEffect::rotation));
    d.AddProperty("order", kPropertyInt, ObjectFieldOffset(&SurfaceEffect::order));
    d.AddProperty("ambient", kPropertyColor3, ObjectFieldOffset(&SurfaceEffect::ambient));
    d.AddProperty("diffuse", kPropertyColor3, ObjectFieldOffset(&SurfaceEffect::diffuse));
    d.AddProperty("specular", kPropertyColor3, ObjectFieldOffset(&SurfaceEffect::specular));
    d.AddProperty("specular_power", kPropertyFloat, ObjectFieldOffset(&SurfaceEffect::specular_power));
    d.AddProperty("alpha", kPropertyInt, ObjectFieldOffset(&SurfaceEffect::alpha));
    d.AddProperty("face", kPropertyEnum, ObjectFieldOffset(&SurfaceEffect::face));
    d.AddProperty("width", kPropertyFloat, ObjectFieldOffset(&SurfaceEffect::width));
    d.AddProperty("height", kPropertyFloat, ObjectFieldOffset(&SurfaceEffect::height));
    d.AddProperty("distance", kPropertyFloat, ObjectFieldOffset(&SurfaceEffect::distance));
    d.AddProperty("tiling1", kPropertyFloat, ObjectFieldOffset(&SurfaceEffect::tiling1));
    d.AddProperty("tiling2", kPropertyFloat, ObjectFieldOffset(&SurfaceEffect::tiling2));
    d.AddProperty("scroll_speed", kPropertyFloat, ObjectFieldOffset(&SurfaceEffect::scroll_speed));
    d.AddProperty("scroll_direction", kPropertyInt, ObjectFieldOffset(&SurfaceEffect::scroll_direction));
    d.AddProperty("anim_seq", kPropertyName, ObjectFieldOffset(&SurfaceEffect::anim_seq));
    d.AddProperty("anim_count", kPropertyInt, ObjectFieldOffset(&SurfaceEffect::anim_count));
    d.AddProperty("anim_freq", kPropertyInt, ObjectFieldOffset(&SurfaceEffect::anim_freq));
    d.AddProperty("shader", kPropertyString, ObjectFieldOffset(&SurfaceEffect::shader));
    d.AddProperty("htexture", kPropertyImage, ObjectFieldOffset(&SurfaceEffect::htexture));
    d.AddProperty("visible", kPropertyBool, ObjectFieldOffset(&SurfaceEffect::visible));
    d.AddConstant("class", "surface");
}

SurfaceEffect::SurfaceEffect() : EObject(&s_descriptor) { SetDefaults(); }

void SurfaceEffect::SetDefaults() { visible = true; }

void SurfaceEffect::AdvanceScroll(int32_t refresh_rate) {
    if (scroll_speed == 0) {
        scrollOffset = 0;
        return;
    }
    scrollOffset += scroll_speed / (1000.0f / FrameDeltaMs(refresh_rate));
}

int32_t SurfaceEffect::AnimationFrame() const {
    if (anim_freq <= 0 || anim_count <= 0 || frameCounter < 0) return -1;
    return (frameCounter / anim_freq) % anim_count;
}

bool SurfaceEffect::BuildCorners(float out[4][5]) const {
    const FaceLayout* f = FaceLayoutOf(face);
    if (!f) return false;
    plat::Vec3 extent{0, 0, 0};
    Axis(extent, f->a) = width;
    Axis(extent, f->b) = height;
    const float d = scrollOffset * tiling1;
    const float angle = float(scroll_direction) * 3.1415925f / 180.0f;
    // A tiling of 0 leaves nothing to wrap by.
    const float ua = tiling1 != 0 ? std::fmod(std::cos(angle) * d, tiling1) : 0.0f;
    const float va = tiling1 != 0 ? std::fmod(std::sin(angle) * d, tiling1) : 0.0f;
    const float ub = ua + tiling1, vb = va + tiling1;
    const float uv[4][2] = {{ua, vb}, {ua, va}, {ub, vb}, {ub, va}};
    plat::Matrix turn;
    plat::D3DXMatrixRotationYawPitchRoll(&turn, rotation.x * 3.1415925f / 180.0f, rotation.y * 3.1415925f / 180.0f,
                                         rotation.z * 3.1415925f / 180.0f);
    const plat::Vec3 centre = SurfaceCentre(*this);
    for (int i = 0; i < 4; ++i) {
        const plat::Vec3 sign = UnitCorner(face, i);
        plat::Vec3 c{sign.x * extent.x, sign.y * extent.y, sign.z * extent.z};
        plat::D3DXVec3TransformCoord(&c, &c, &turn);
        out[i][0] = c.x + centre.x;
        out[i][1] = c.y + centre.y;
        out[i][2] = c.z + centre.z;
        out[i][3] = uv[i][0];
        out[i][4] = uv[i][1];
    }
    return true;
}

void SurfaceEffect::Render() {
    Engine* e = CurrentEngine();
    RenderDevice* device = g_renderDevice;
    if (!visible || !e || !device) return;
    const FaceLayout* f = FaceLayoutOf(face);
    if (!f) return;  // no such face: not drawn
    // A warm-up draw neither scrolls nor counts a frame.
    const bool rehearsal = SceneWarmUpDraw();
    if (!rehearsal) AdvanceScroll(static_cast<D3DRenderDevice*>(device)->refreshRate);
    float corners[4][5];
    BuildCorners(corners);
    Texture* base = Resources().GetImage(htexture);
    if (base && base->device_texture) device->SetTexture(0, base->device_texture);
    const bool named = shader && *shader;
    bool stage1 = false;
    if (anim_seq && (e->shadersOn || !named)) {
        const int32_t n = AnimationFrame();
        if (n >= 0) {
            ResourceRecord* r = Resources().DeclareImage(SequenceFrameName(anim_seq, n).c_str(), 0);
            if (Texture* t = Resources().GetImage(r); t && t->device_texture) {
                device->SetTexture(1, t->device_texture);
                stage1 = true;
            }
            if (!rehearsal) frameCounter = frameCounter == INT32_MAX ? 0 : frameCounter + 1;
        }
    }
    const uint32_t mode = (base ? base->flags & kTextureAlphaFlag : 0) | kMode3DStrip;
    const float a = float(uint32_t(alpha)) / 255.0f;
    device->SetRenderMode(mode, PackColor(diffuse.x, diffuse.y, diffuse.z, a));
    device->SetVertexArray(&corners[0][0], sizeof corners[0]);
    device->SetTexCoordArray(&corners[0][3], sizeof corners[0]);
    if (!named) {
        device->DrawImmediate(4);
    } else if (e->shadersOn) {
        // A name that is no program: not drawn.
        if (ShaderProgram* p = device->FindShaderProgram(shader)) {
            SetShaderConstants(e, *this, *f, p);
            device->BindShaderProgram(p);
            device->DrawImmediate(4);
            device->BindShaderProgram(nullptr);
        }
    }
    if (stage1) device->SetTexture(1, nullptr);
}

void SurfaceEffect::DrawEditorOverlay() {
    Engine* e = CurrentEngine();
    if (!e || !e->activeCamera) return;
    int sx = 0, sy = 0;
    if (!e->activeCamera->Project(SurfaceCentre(*this), &sx, &sy)) return;
    const bool shift = g_keyTable[kVkLeftShift] != 0;
    if (!shift) {
        e->DrawText(name ? name : "", sx, sy, e->selectedObject == this ? 0xFFFF0000u : 0xFF808080u);
        return;
    }
    if (!(e->buttonsDown & 1)) return;
    int32_t mx = 0, my = 0;
    e->GetMousePos(&mx, &my);
    const int64_t dx = int64_t(mx) - sx, dy = int64_t(my) - sy;
    if (dx * dx + dy * dy < 1024) e->selectedObject = this;
}

void SurfaceEffect::EditorInput(int key, int wheel) {
    (void)wheel;
    const FaceLayout* f = FaceLayoutOf(face);
    const bool shift = g_keyTable[kVkLeftShift] != 0;
    const float s = shift ? 10.0f : 100.0f;
    // Without a face there are no face axes: A/D/W/S do nothing then.
    const auto move = [&](bool horizontal, float by) {
        if (f) Axis(position, horizontal ? f->a : f->b) += by;
    };
    switch (key) {
        case kVkHome:
            position = {0, 0, 0};
            rotation = {0, 0, 0};
            break;
        case kVkA: move(true, -s); break;
        case kVkD: move(true, s); break;
        case kVkW: move(false, s); break;
        case kVkS: move(false, -s); break;
        case kVkLeft: (shift ? rotation.z : rotation.x) -= 2; break;
        case kVkRight: (shift ? rotation.z : rotation.x) += 2; break;
        case kVkUp:
            if (shift) return;
            rotation.y -= 2;
            break;
        case kVkDown:
            if (shift) return;
            rotation.y += 2;
            break;
        case kVkF: distance += s; break;
        case kVkV: distance -= s; break;
        default: return;
    }
    if (Engine* e = CurrentEngine()) e->sceneModified = true;
}
