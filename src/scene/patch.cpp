#include "scene/patch.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "app/app_window.h"
#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/log.h"
#include "base/text.h"
#include "media/image/draw2d.h"
#include "media/image/image_data.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/camera.h"
#include "render/color.h"
#include "render/d3d_render_device.h"
#include "render/geometry.h"
#include "render/render_device.h"
#include "render/vector_math.h"
#include "scene/cube_faces.h"
#include "scene/game_scene.h"
#include "scene/hotspot_map.h"

ClassDescriptor Patch::s_descriptor;

const FaceLayout kFaceLayouts[6] = {
    {2, 1, 0, 1, -1, 1, 1, -1},    // front
    {0, 1, 2, 1, 1, 1, -1, -1},    // right
    {2, -1, 0, 1, 1, 1, -1, -1},   // back
    {0, -1, 2, 1, -1, 1, 1, -1},   // left
    {1, 1, 0, 2, -1, -1, 1, 1},    // top
    {1, -1, 0, 2, -1, 1, 1, -1},   // bottom
};

namespace {

Patch::Patch_Initializer g_patch_initializer;

constexpr int kVkLeft = 37, kVkUp = 38, kVkRight = 39, kVkDown = 40, kVkLeftShift = 160;
constexpr int kFacePixels = 1024;
constexpr uint32_t kBlendAdditive = 0x100;
constexpr uint32_t kMode3DStrip = 0x1001;
constexpr uint32_t kLabelSelected = 0xFFFF0000u, kLabelOther = 0xFF808080u;

struct PatchVertex {
    float x, y, z, u, v;
};
static_assert(sizeof(PatchVertex) == 20, "position and texture coordinates, 20 bytes");

float& Axis(plat::Vec3& v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

bool LeftShiftDown() { return g_keyTable[kVkLeftShift] != 0; }

void MarkSceneModified(Engine* e) {
    if (e) e->sceneModified = true;
}

int32_t ViewType(const Engine* e) { return e && e->currentScene ? e->currentScene->viewtype : kViewNone; }

float RefreshDelta() {
    auto* device = static_cast<D3DRenderDevice*>(g_renderDevice);
    return FrameDeltaMs(device ? device->refreshRate : 0);
}

// The file of frame n beside the frame record's file: the same extension.
std::string FramePath(const ResourceRecord* shown, const char* format, int32_t n) {
    std::string path = SequenceFrameName(format, n);
    if (!shown || !shown->path) return path;
    const char* slash = std::strrchr(shown->path, '/');
    const char* dot = std::strrchr(slash ? slash : shown->path, '.');
    if (dot) path += dot;
    return path;
}

// The scene's resource steps: image, both sounds and, for a buffered
// sequence, every frame.
template <class Step>
void VisitPatchResources(Patch* p, Step step) {
    step(p->image);
    step(p->snd_forwards);
    step(p->snd_backwards);
    if (p->format && p->buffered && p->numOfFrames > 0)
        for (int32_t n = 0; n < FramesToDeclare(p->numOfFrames); ++n)
            step(Resources().DeclareImage(SequenceFrameName(p->format, n).c_str(), 0));
}

void LoadPatchResources(EObject* o) {
    VisitPatchResources(static_cast<Patch*>(o), [](ResourceRecord* r) {
        if (!r) return;
        if (r->type == kResourceSound) Resources().GetSound(r);
        else Resources().GetImage(r);
    });
}

void UnloadPatchResources(EObject* o) {
    VisitPatchResources(static_cast<Patch*>(o), [](ResourceRecord* r) {
        if (r) Resources().Remove(r, false);
    });
}

const SceneKindOps kPatchKindOps = {LoadPatchResources, UnloadPatchResources, nullptr, nullptr};
const bool g_patch_hooks = (SetSceneKindOps(kSceneKindPatches, &kPatchKindOps), true);

// Rotation about one axis (0 pitch about x, 1 yaw about y, 2 roll about z).
plat::Matrix AxisRotation(int axis, float radians) {
    plat::Matrix m;
    plat::D3DXMatrixRotationYawPitchRoll(&m, axis == 1 ? radians : 0.0f, axis == 0 ? radians : 0.0f,
                                         axis == 2 ? radians : 0.0f);
    return m;
}

// The view fade: (c . L)^power x 255 as a colour that modulates the patch.
uint32_t FadeColour(const plat::Vec3& c, float power, int32_t blendmode) {
    plat::Vec3 look;
    AnglesToDirection(&look, g_lookYaw, g_lookPitch);
    const double f = std::pow(double(Vec3Dot(c, look)), double(power));
    // Away from the view the dot is negative: no light rather than a NaN.
    const uint32_t a = std::isfinite(f) && f > 0 ? uint32_t(std::trunc(std::fmin(f, 1.0) * 255.0)) : 0u;
    return blendmode == 0 ? (a << 24) | 0xFFFFFFu : 0xFF000000u | a * 0x010101u;
}

void DrawStrip(RenderDevice* device, Texture* t, uint32_t mode, uint32_t colour, const PatchVertex v[4]) {
    device->SetRenderMode(mode, colour);
    device->SetVertexArray(&v[0].x, sizeof(PatchVertex));
    device->SetTexCoordArray(&v[0].u, sizeof(PatchVertex));
    device->SetTexture(0, t->device_texture);
    device->DrawImmediate(4);
}

// The pointer on a face of 1024 pixels.
void PointerFacePixel(int* face, int* px, int* py) {
    AnglesToFacePixel(g_pointerYaw, g_pointerPitch, kFacePixels, face, px, py);
}

}  // namespace

const FaceLayout* FaceLayoutOf(int32_t face) { return face >= 0 && face < 6 ? &kFaceLayouts[face] : nullptr; }

float CubeHalfEdge() {
    const float s = std::fabs(g_cubeVertices[0].z);
    return s > 0 ? s : (kFacePixels - 2) / 2.0f;
}

bool FacePixelToCube(int32_t face, float px, float py, float s, plat::Vec3* out) {
    const FaceLayout* f = FaceLayoutOf(face);
    if (!f) return false;
    *out = {0, 0, 0};
    Axis(*out, f->a) = float(f->sa) * s + float(f->da) * px;
    Axis(*out, f->b) = float(f->sb) * s + float(f->db) * py;
    // The normal coordinate: the face's side of the unit cube.
    static const float kNormalSign[6] = {1, 1, -1, -1, 1, -1};
    Axis(*out, f->n) = kNormalSign[face] * s;
    return true;
}

std::string SequenceFrameName(const char* prefix, int32_t n) {
    return std::string(prefix ? prefix : "") + "/" + std::to_string(n);
}

int32_t PatchFrameAt(float currentTime, float interval) {
    if (interval == 0) return -1;
    const double q = std::trunc(double(currentTime) / double(interval));
    if (!std::isfinite(q) || q < -1.0 || q > 2147483647.0) return -1;
    return int32_t(q);
}

Patch::Patch_Initializer::Patch_Initializer() : EObject_Initializer(&Patch::s_descriptor) {}

EObject* Patch::Patch_Initializer::Create() {
    void* block = Patch::operator new(sizeof(Patch));
    return block ? ::new (block) Patch() : nullptr;
}

void Patch::Patch_Initializer::RegisterProperties() {
    ClassDescriptor& d = Patch::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&Patch::name));
    d.AddProperty("ptc_type", kPropertyEnum, ObjectFieldOffset(&Patch::ptc_type));
    d.AddProperty("x", kPropertyFloat, ObjectFieldOffset(&Patch::x));
    d.AddProperty("y", kPropertyFloat, ObjectFieldOffset(&Patch::y));
    d.AddProperty("face", kPropertyInt, ObjectFieldOffset(&Patch::face));
    d.AddProperty("ptc_action", kPropertyEnum, ObjectFieldOffset(&Patch::ptc_action));
    d.AddProperty("size", kPropertyFloat, ObjectFieldOffset(&Patch::size));
    d.AddProperty("rotation", kPropertyInt, ObjectFieldOffset(&Patch::rotation));
    d.AddProperty("color", kPropertyColor, ObjectFieldOffset(&Patch::color));
    d.AddProperty("distance", kPropertyFloat, ObjectFieldOffset(&Patch::distance));
    d.AddProperty("image", kPropertyImage, ObjectFieldOffset(&Patch::image));
    d.AddProperty("format", kPropertyName, ObjectFieldOffset(&Patch::format));
    d.AddProperty("numOfFrames", kPropertyInt, ObjectFieldOffset(&Patch::numOfFrames));
    d.AddProperty("interval", kPropertyFloat, ObjectFieldOffset(&Patch::interval));
    d.AddProperty("looping", kPropertyBool, ObjectFieldOffset(&Patch::looping));
    d.AddProperty("buffered", kPropertyBool, ObjectFieldOffset(&Patch::buffered));
    d.AddProperty("snd_forwards", kPropertySound, ObjectFieldOffset(&Patch::snd_forwards));
    d.AddProperty("snd_backwards", kPropertySound, ObjectFieldOffset(&Patch::snd_backwards));
    d.AddProperty("visible", kPropertyBool, ObjectFieldOffset(&Patch::visible));
    d.AddProperty("currentTime", kPropertyFloat, ObjectFieldOffset(&Patch::currentTime));
    d.AddProperty("power", kPropertyFloat, ObjectFieldOffset(&Patch::power));
    d.AddProperty("blendmode", kPropertyEnum, ObjectFieldOffset(&Patch::blendmode));
    d.AddProperty("order", kPropertyInt, ObjectFieldOffset(&Patch::order));
    d.AddConstant("class", "patch");
}

Patch::Patch() : EObject(&s_descriptor) { SetDefaults(); }

void Patch::SetDefaults() { visible = true; }

void Patch::OnChanged(uint32_t mask) {
    Engine* e = CurrentEngine();
    if (mask & kPatchBitAction) {
        ResourceRecord* sound = nullptr;
        if (ptc_action == kPatchForwards || ptc_action == kPatchForwardsSignal) sound = snd_forwards;
        else if (ptc_action == kPatchBackwards || ptc_action == kPatchBackwardsSignal) sound = snd_backwards;
        if (sound && e) e->PlaySound(sound, false, 0);
        return;
    }
    if (mask & kPatchBitType) {
        if (ptc_type == kPatchBillboard) {
            x = g_lookYaw;
            y = g_lookPitch;
        } else {
            int f = 0, px = 0, py = 0;
            AnglesToFacePixel(g_lookYaw, g_lookPitch, kFacePixels, &f, &px, &py);
            face = f;
            x = float(px);
            y = float(py);
        }
        return;
    }
    if (mask & kPatchBitFormat) {
        if (frame) Resources().Remove(frame, false);
        frame = nullptr;
        missingFrame = -1;
    }
}

void Patch::AdvanceTime(float dt) {
    const float end = float(numOfFrames) * interval;
    currentTime += dt;
    bool signal = false;
    if (currentTime > end - 1) {
        currentTime = looping ? 0.0f : end - 1;
        if (ptc_action == kPatchForwards && !looping) ptc_action = kPatchStopped;
        if (ptc_action == kPatchForwardsSignal) {
            if (!looping) ptc_action = kPatchStopped;
            signal = true;
        }
    } else if (currentTime < 0) {
        currentTime = looping ? end - 1 : 0.0f;
        if (ptc_action == kPatchBackwards && !looping) ptc_action = kPatchStopped;
        if (ptc_action == kPatchBackwardsSignal) {
            if (!looping) ptc_action = kPatchStopped;
            signal = true;
        }
    }
    if (signal)
        if (Engine* e = CurrentEngine()) e->statementReady = true;
}

ResourceRecord* Patch::ShownImage() const { return format ? frame : image; }

void Patch::UpdateFrameImage() {
    if (!format) return;
    const int32_t n = PatchFrameAt(currentTime, interval);
    if (n < 0 || n >= numOfFrames) return;
    Texture* shown = frame ? Resources().GetImage(frame) : nullptr;
    const bool has_texture = shown && shown->device_texture;
    if (n == lastFrame && has_texture) return;
    if (n == missingFrame) return;
    if (buffered || !has_texture) {
        ResourceRecord* r = Resources().DeclareImage(SequenceFrameName(format, n).c_str(), 0);
        if (!r) {
            missingFrame = n;
            return;
        }
        frame = r;
    } else {
        // One texture rewritten per frame, while the frames keep its size.
        ImageData pixels;
        const std::string path = FramePath(frame, format, n);
        if (!LoadImage(path.c_str(), pixels) || !pixels.pixels) {
            LogPrintf("[NOT FOUND] - IMAGE : %s", path.c_str());
            missingFrame = n;
            return;
        }
        if (int32_t(pixels.width) == shown->width && int32_t(pixels.height) == shown->height) {
            shown->CreateFromImage(pixels, shown->flags);
        } else if (ResourceRecord* r = Resources().DeclareImage(SequenceFrameName(format, n).c_str(), 0)) {
            frame = r;  // another size: a record of its own
        }
    }
    missingFrame = -1;
    lastFrame = n;
}

void Patch::Render() {
    Engine* e = CurrentEngine();
    RenderDevice* device = g_renderDevice;
    if (!e) return;
    const uint32_t blend = blendmode != 0 ? kBlendAdditive : 0;
    UpdateFrameImage();
    ResourceRecord* shown = ShownImage();
    Texture* t = shown ? Resources().GetImage(shown) : nullptr;
    // A warm-up draw leaves the play position where it is.
    const bool play = !SceneWarmUpDraw();
    if (play && (ptc_action == kPatchForwards || ptc_action == kPatchForwardsSignal)) AdvanceTime(RefreshDelta());
    else if (play && (ptc_action == kPatchBackwards || ptc_action == kPatchBackwardsSignal))
        AdvanceTime(-RefreshDelta());
    if (!t || !t->device_texture || !device) return;

    uint32_t colour = ModulateColor(color, e->ambientColor);
    int32_t w = SaturateToInt(std::trunc(double(t->width) * size));
    int32_t h = SaturateToInt(std::trunc(double(t->height) * size));
    const int32_t view = ViewType(e);

    if (ptc_type == kPatchOnScreen || view == kViewPage) {
        if (!visible) return;
        int32_t rx = SaturateToInt(std::trunc(x)), ry = SaturateToInt(std::trunc(y));
        if (view == kViewCube) {
            e->VirtualToScreen(&rx, &ry);
            e->VirtualToScreen(&w, &h);
        }
        if (rotation == 0) {
            t->DrawInRect(Rect(rx, ry, w, h), colour, t->flags | blend);
            return;
        }
        device->SetTexture(0, t->device_texture);
        device->SetRenderMode(t->flags | blend | 0x1009, colour);
        DrawRotatedQuad(float(rx), float(ry), float(w), float(h), float(rotation));
        return;
    }

    PatchVertex v[4];
    plat::Vec3 facing;
    if (ptc_type == kPatchBillboard) {
        plat::Vec3 p;
        AnglesToDirection(&p, x, y);
        p = {p.x * distance, p.y * distance, p.z * distance};
        const plat::Vec3 eye = e->activeCamera ? e->activeCamera->eye : plat::Vec3{0, 0, 0};
        plat::Vec3 d{p.x - eye.x, p.y - eye.y, p.z - eye.z};
        Vec3Normalize(d);
        facing = d;
        plat::Matrix m, step;
        plat::D3DXMatrixScaling(&m, float(w), float(h), 1.0f);
        if (rotation != 0) {
            step = AxisRotation(2, DegToRad(float(rotation)));
            plat::D3DXMatrixMultiply(&m, &m, &step);
        }
        plat::D3DXMatrixRotationYawPitchRoll(&step, std::atan2(d.x, d.z),
                                             std::atan2(-d.y, std::sqrt(d.x * d.x + d.z * d.z)), 0.0f);
        plat::D3DXMatrixMultiply(&m, &m, &step);
        plat::D3DXMatrixTranslation(&step, p.x, p.y, p.z);
        plat::D3DXMatrixMultiply(&m, &m, &step);
        for (int i = 0; i < 4; ++i) {
            const CubeVertex& c = g_cubeVertices[i];
            const float half = std::fabs(c.x) > 0 ? 2.0f * std::fabs(c.x) : 0.0f;
            plat::Vec3 corner = half > 0 ? plat::Vec3{c.x / half, c.y / half, c.z / half}
                                         : plat::Vec3{i < 2 ? -0.5f : 0.5f, i % 2 ? 0.5f : -0.5f, 0.5f};
            plat::D3DXVec3TransformCoord(&corner, &corner, &m);
            v[i] = {corner.x, corner.y, corner.z, half > 0 ? c.u : float(i / 2), half > 0 ? c.v : float(1 - i % 2)};
        }
    } else {
        const FaceLayout* f = FaceLayoutOf(face);
        if (!f || t->width <= 0 || t->height <= 0) return;  // no such face: nothing drawn
        const float s = CubeHalfEdge();
        const float W = float(t->width), H = float(t->height);
        const float px[4] = {x, x, x + float(w), x + float(w)};
        const float py[4] = {y + float(h), y, y + float(h), y};
        const float u[4] = {1 / W, 1 / W, 1 - 1 / W, 1 - 1 / W};
        const float tv[4] = {1 - 1 / H, 1 / H, 1 - 1 / H, 1 / H};
        plat::Vec3 centre{0, 0, 0};
        plat::Matrix turn;
        if (rotation != 0) {
            FacePixelToCube(face, x + float(w) / 2, y + float(h) / 2, s, &centre);
            turn = AxisRotation(f->n, float(f->rs) * DegToRad(float(rotation)));
        }
        facing = {0, 0, 0};
        for (int i = 0; i < 4; ++i) {
            plat::Vec3 c;
            FacePixelToCube(face, px[i], py[i], s, &c);
            if (rotation != 0) {
                plat::Vec3 r{c.x - centre.x, c.y - centre.y, c.z - centre.z};
                plat::D3DXVec3TransformCoord(&r, &r, &turn);
                c = {r.x + centre.x, r.y + centre.y, r.z + centre.z};
            }
            facing = {facing.x + c.x, facing.y + c.y, facing.z + c.z};
            v[i] = {c.x, c.y, c.z, u[i], tv[i]};
        }
        Vec3Normalize(facing);
    }
    if (power > 0) colour = ModulateColor(colour, FadeColour(facing, power, blendmode));
    if (visible) DrawStrip(device, t, t->flags | blend | kMode3DStrip, colour, v);
}

void Patch::DrawEditorOverlay() {
    Engine* e = CurrentEngine();
    if (!e) return;
    Texture* t = ShownImage() ? Resources().GetImage(ShownImage()) : nullptr;
    const int32_t w = t ? SaturateToInt(std::trunc(double(t->width) * size)) : 0;
    const int32_t h = t ? SaturateToInt(std::trunc(double(t->height) * size)) : 0;
    const bool shift = LeftShiftDown();
    const bool selected = e->selectedObject == this;
    const uint32_t label = selected ? kLabelSelected : kLabelOther;
    const bool left = (e->buttonsDown & 1) != 0, drag = (e->buttonsDown & 2) != 0 && selected;
    const int32_t view = ViewType(e);
    const char* text = name ? name : "";

    if (ptc_type == kPatchOnScreen || view == kViewPage) {
        int32_t mx = 0, my = 0;
        e->GetMousePos(&mx, &my);  // virtual in a page scene
        int32_t vx = mx, vy = my;
        if (view == kViewCube) e->ScreenToVirtual(&vx, &vy);
        const auto follow = [&] {
            x = float(vx - w / 2);
            y = float(vy - h / 2);
            MarkSceneModified(e);
        };
        if (e->positionMode && selected) follow();
        else if (shift && left && vx >= x && vx <= x + float(w) && vy >= y && vy <= y + float(h))
            e->selectedObject = this;
        else if (shift && drag) follow();
        if (!shift) {
            int32_t cx = SaturateToInt(int64_t(SaturateToInt(std::trunc(x))) + w / 2);
            int32_t cy = SaturateToInt(int64_t(SaturateToInt(std::trunc(y))) + h / 2);
            if (view == kViewCube) e->VirtualToScreen(&cx, &cy);
            e->DrawText(text, cx, cy, label);
        }
        return;
    }

    if (ptc_type == kPatchBillboard) {
        const auto follow = [&] {
            x = g_pointerYaw;
            y = g_pointerPitch;
            MarkSceneModified(e);
        };
        plat::Vec3 d;
        AnglesToDirection(&d, x, y);
        d = {d.x * distance, d.y * distance, d.z * distance};
        int sx = 0, sy = 0;
        const bool projects = e->activeCamera && e->activeCamera->Project(d, &sx, &sy);
        int32_t mx = 0, my = 0;
        e->GetMousePos(&mx, &my);
        if (e->positionMode && selected) follow();
        else if (shift && left && projects && std::abs(int64_t(mx) - sx) <= 32 && std::abs(int64_t(my) - sy) <= 32)
            e->selectedObject = this;
        else if (shift && drag) follow();
        if (!shift && projects) {
            char buffer[kSceneNameBuffer + 16];
            std::snprintf(buffer, sizeof buffer, "%s[%d]", text, SaturateToInt(std::trunc(distance)));
            e->DrawText(buffer, sx, sy, label);
        }
        return;
    }

    int pf = 0, ppx = 0, ppy = 0;
    PointerFacePixel(&pf, &ppx, &ppy);
    const auto follow = [&] {
        face = pf;
        x = float(ppx - w / 2);
        y = float(ppy - h / 2);
        MarkSceneModified(e);
    };
    if (e->positionMode && selected) follow();
    else if (shift && left && pf == face && ppx >= x && ppx <= x + float(w) && ppy >= y && ppy <= y + float(h))
        e->selectedObject = this;
    else if (shift && drag) follow();
    if (shift || !FaceLayoutOf(face) || !e->activeCamera) return;
    plat::Vec3 d;
    FacePixelToDirection(&d, face, SaturateToInt(std::trunc(x)), SaturateToInt(std::trunc(y)), kFacePixels,
                         kFacePixels);
    int sx = 0, sy = 0;
    if (e->activeCamera->Project(d, &sx, &sy)) e->DrawText(text, sx, SaturateToInt(int64_t(sy) - 20), label);
}

void Patch::EditorInput(int key, int wheel) {
    Engine* e = CurrentEngine();
    bool changed = true;
    switch (key) {
        case kVkLeft: x -= 1; break;
        case kVkRight: x += 1; break;
        case kVkUp: y -= 1; break;
        case kVkDown: y += 1; break;
        default: changed = false; break;
    }
    if (wheel != 0) {
        const float step = LeftShiftDown() ? 10.0f : 100.0f;
        distance += wheel < 0 ? -step : step;
        changed = true;
    }
    if (changed) MarkSceneModified(e);
}
