#include "scene/game_fx.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "app/app_window.h"
#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/text.h"
#include "media/resource_manager.h"
#include "media/image/texture.h"
#include "render/camera.h"
#include "render/geometry.h"
#include "render/render_device.h"
#include "render/vector_math.h"
#include "scene/game_scene.h"
#include "scene/hotspot_map.h"
#include "scene/patch.h"

ClassDescriptor GameFx::s_descriptor;

namespace {

GameFx::GameFx_Initializer g_fx_initializer;

constexpr int kVkLeftShift = 160;
constexpr float kFlareDistance = 1024.0f;
// A glow drawn more often than this adds nothing but time.
constexpr int32_t kMaxPasses = 256;

// A point far to the side (on the camera plane, or behind a far-off eye)
// projects to a saturated position, and an image scaled without bound has a
// saturated size: both are kept far off screen but within reach of the
// arithmetic that centres the image on the point.
constexpr int32_t kFarOff = 1 << 20;
int32_t FarOffClamped(int32_t v) { return std::clamp(v, -kFarOff, kFarOff); }

// The scene's resource steps: the image and, with a format, the lens frames.
template <class Step>
void VisitFxResources(GameFx* fx, Step step) {
    step(fx->himage);
    if (fx->format && fx->lens_count > 0)
        for (int32_t n = 0; n < FramesToDeclare(fx->lens_count); ++n)
            step(Resources().DeclareImage(SequenceFrameName(fx->format, n).c_str(), 0));
}

void LoadFxResources(EObject* o) {
    VisitFxResources(static_cast<GameFx*>(o), [](ResourceRecord* r) { Resources().GetImage(r); });
}

void UnloadFxResources(EObject* o) {
    VisitFxResources(static_cast<GameFx*>(o), [](ResourceRecord* r) {
        if (r) Resources().Remove(r, false);
    });
}

const SceneKindOps kFxKindOps = {LoadFxResources, UnloadFxResources, nullptr, nullptr};
const bool g_fx_hooks = (SetSceneKindOps(kSceneKindFx, &kFxKindOps), true);

// The declared image of that name (lower case, images only), never
// declared here.
ResourceRecord* DeclaredImage(const char* format, int32_t n) {
    std::string name = SequenceFrameName(format, n);
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    return Resources().FindByNameAndType(name.c_str(), kResourceImage);
}

bool OnScreenPoint(const Engine* e, const GameFx& fx) {
    return fx.projection == 1 || (e->currentScene && e->currentScene->viewtype == kViewPage);
}

// (L . P)^power, or 1 without a power; 0 where it is not a number.
double ViewFade(const plat::Vec3& look, const plat::Vec3& point, float power) {
    if (power == 0) return 1.0;
    const double f = std::pow(double(Vec3Dot(look, point)), double(power));
    return std::isfinite(f) ? f : 0.0;
}

void DrawLensElements(const Engine* e, const GameFx& fx, int32_t sx, int32_t sy, float fu, float fv, uint32_t b) {
    if (!fx.format) return;  // no element images
    const int32_t ox = e->screenRect.w / 2, oy = e->screenRect.h / 2;
    const double dx = double(sx) - ox, dy = double(sy) - oy;
    const double len = std::sqrt(dx * dx + dy * dy);
    // At the exact centre every element sits on the centre.
    const double ux = len > 0 ? dx / len : 0.0, uy = len > 0 ? dy / len : 0.0;
    for (size_t i = 0; i + 2 < kLensTableCapacity && g_lensTable[i] >= 0; i += 3) {
        const double t = g_lensTable[i + 1], s = g_lensTable[i + 2];
        ResourceRecord* r = DeclaredImage(fx.format, SaturateToInt(std::trunc(g_lensTable[i])));
        Texture* tex = r ? Resources().GetImage(r) : nullptr;
        if (!tex || !tex->device_texture) continue;
        const int32_t w = FarOffClamped(SaturateToInt(std::trunc(tex->width * double(fu) * s)));
        const int32_t h = FarOffClamped(SaturateToInt(std::trunc(tex->height * double(fv) * s)));
        const int32_t cx = FarOffClamped(SaturateToInt(std::trunc(len * t * ux + ox)));
        const int32_t cy = FarOffClamped(SaturateToInt(std::trunc(len * t * uy + oy)));
        tex->DrawInRect(Rect(cx - w / 2, cy - h / 2, w, h), b * 0x010101u, 0x100);
    }
}

}  // namespace

// The table starts closed: no elements until a list is parsed.
float g_lensTable[kLensTableCapacity] = {-1.0f, -1.0f, -1.0f};

uint32_t ClampByte(double value) {
    if (!(value > 0)) return 0;
    return value >= 255 ? 255u : uint32_t(value);
}

size_t ParseLensTable(const char* list) {
    size_t n = 0;
    const size_t room = kLensTableCapacity - 3;
    for (const char* p = list; p && n < room;) {
        const char* comma = std::strchr(p, ',');
        std::string token = comma ? std::string(p, size_t(comma - p)) : std::string(p);
        g_lensTable[n++] = float(std::atof(token.c_str()));
        if (!comma) break;
        p = comma + 1;
    }
    for (size_t i = 0; i < 3; ++i) g_lensTable[n + i] = -1.0f;
    return n;
}

GameFx::GameFx_Initializer::GameFx_Initializer() : EObject_Initializer(&GameFx::s_descriptor) {}

EObject* GameFx::GameFx_Initializer::Create() {
    void* block = GameFx::operator new(sizeof(GameFx));
    return block ? ::new (block) GameFx() : nullptr;
}

void GameFx::GameFx_Initializer::RegisterProperties() {
    ClassDescriptor& d = GameFx::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&GameFx::name));
    d.AddProperty("baseopacity", kPropertyFloat, ObjectFieldOffset(&GameFx::baseopacity));
    d.AddProperty("opacity", kPropertyFloat, ObjectFieldOffset(&GameFx::opacity));
    d.AddProperty("scale", kPropertyFloat, ObjectFieldOffset(&GameFx::scale));
    d.AddProperty("power", kPropertyFloat, ObjectFieldOffset(&GameFx::power));
    d.AddProperty("x", kPropertyFloat, ObjectFieldOffset(&GameFx::x));
    d.AddProperty("y", kPropertyFloat, ObjectFieldOffset(&GameFx::y));
    d.AddProperty("himage", kPropertyImage, ObjectFieldOffset(&GameFx::himage));
    d.AddProperty("format", kPropertyName, ObjectFieldOffset(&GameFx::format));
    d.AddProperty("lens_format", kPropertyString, ObjectFieldOffset(&GameFx::lens_format));
    d.AddProperty("lens_count", kPropertyInt, ObjectFieldOffset(&GameFx::lens_count));
    d.AddProperty("passes", kPropertyInt, ObjectFieldOffset(&GameFx::passes));
    d.AddProperty("fx_blendmode", kPropertyEnum, ObjectFieldOffset(&GameFx::fx_blendmode));
    d.AddProperty("projection", kPropertyEnum, ObjectFieldOffset(&GameFx::projection));
    d.AddProperty("visible", kPropertyBool, ObjectFieldOffset(&GameFx::visible));
    d.AddProperty("order", kPropertyInt, ObjectFieldOffset(&GameFx::order));
    d.AddConstant("class", "fx");
}

GameFx::GameFx() : EObject(&s_descriptor) { SetDefaults(); }

void GameFx::SetDefaults() { visible = true; }

void GameFx::OnChanged(uint32_t mask) {
    if ((mask & kFxBitFormat) && lens_format) ParseLensTable(lens_format);
}

float GameFx::EaseOpacity(bool in_view) {
    const float eased = in_view ? currentOpacity + (opacity - currentOpacity) * 0.25f : currentOpacity * 0.9f;
    // A warm-up draw shows the next opacity without keeping it.
    if (!SceneWarmUpDraw()) currentOpacity = eased;
    return eased;
}

void GameFx::Render() {
    Engine* e = CurrentEngine();
    RenderDevice* device = g_renderDevice;
    if (!visible || !e || !device) return;
    const bool cube = e->currentScene && e->currentScene->viewtype == kViewCube;
    float fu = 1, fv = 1;
    if (cube && projection != 1 && e->virtualRect.w > 0 && e->virtualRect.h > 0) {
        fu = float(e->screenRect.w) / float(e->virtualRect.w);
        fv = float(e->screenRect.h) / float(e->virtualRect.h);
    }
    const bool on_screen = OnScreenPoint(e, *this);
    plat::Vec3 look{0, 0, 1}, point{0, 0, 1};
    int32_t sx = 0, sy = 0;
    if (on_screen) {
        sx = SaturateToInt(std::trunc(x));
        sy = SaturateToInt(std::trunc(y));
    } else {
        AnglesToDirection(&look, g_lookYaw, g_lookPitch);
        AnglesToDirection(&point, x, y);
        const plat::Vec3 far_point{point.x * kFlareDistance, point.y * kFlareDistance, point.z * kFlareDistance};
        int px = 0, py = 0;
        if (!e->activeCamera || !e->activeCamera->Project(far_point, &px, &py)) return;
        sx = px, sy = py;
    }
    sx = FarOffClamped(sx);
    sy = FarOffClamped(sy);
    const Rect& r = e->screenRect;
    const bool in_view = sx >= r.x && sx < r.x + r.w && sy >= r.y && sy < r.y + r.h;

    if (lens_format && *lens_format) {
        const float current = EaseOpacity(in_view);
        if (std::trunc(current) == 0) return;
        const double f = on_screen ? 1.0 : ViewFade(look, point, power);
        DrawLensElements(e, *this, sx, sy, fu, fv, ClampByte(current * f));
        return;
    }

    uint32_t a;
    if (!on_screen) {
        const float current = EaseOpacity(in_view);
        if (current == 0) return;
        const double v = std::trunc(current * ViewFade(look, point, power));
        if (v < 0) return;
        a = ClampByte(v);
    } else {
        a = ClampByte(std::trunc(opacity));
    }
    Texture* t = Resources().GetImage(himage);
    if (!t || !t->device_texture) return;
    int32_t w = FarOffClamped(SaturateToInt(std::trunc(t->width * double(fu) * scale)));
    int32_t h = FarOffClamped(SaturateToInt(std::trunc(t->height * double(fv) * scale)));
    int32_t left = sx - w / 2, top = sy - h / 2;
    if (on_screen && cube) {
        e->VirtualToScreen(&left, &top);
        e->VirtualToScreen(&w, &h);
    }
    device->SetTexture(0, t->device_texture);
    switch (fx_blendmode) {
        case 0: device->SetRenderMode(0x1109, a * 0x010101u); break;
        case 1: device->SetRenderMode(0x1009, (a << 24) + 0xFFFFFFu); break;
        case 2: device->SetRenderMode(0x1209, 0xFFFFFFFFu); break;
        default: break;
    }
    const int32_t n = passes <= 0 ? 1 : (passes > kMaxPasses ? kMaxPasses : passes);
    for (int32_t i = 0; i < n; ++i) device->DrawRect(left, top, w, h, 0.0f, 0.0f, 1.0f, 1.0f);
}

void GameFx::DrawEditorOverlay() {
    Engine* e = CurrentEngine();
    if (!e) return;
    const bool on_screen = OnScreenPoint(e, *this);
    const bool selected = e->selectedObject == this;
    const auto follow = [&] {
        if (on_screen) {
            int32_t mx = 0, my = 0;
            e->GetMousePos(&mx, &my);
            x = float(mx);
            y = float(my);
        } else {
            x = g_pointerYaw;
            y = g_pointerPitch;
        }
        e->sceneModified = true;
    };
    if (e->positionMode && selected) follow();
    if (e->editorMode < 2) return;
    int sx = 0, sy = 0;
    if (on_screen) {
        sx = SaturateToInt(std::trunc(x));
        sy = SaturateToInt(std::trunc(y));
    } else {
        plat::Vec3 d;
        AnglesToDirection(&d, x, y);
        d = {d.x * kFlareDistance, d.y * kFlareDistance, d.z * kFlareDistance};
        if (!e->activeCamera || !e->activeCamera->Project(d, &sx, &sy)) return;
    }
    sx = FarOffClamped(sx);
    sy = FarOffClamped(sy);
    if (g_keyTable[kVkLeftShift]) {
        int32_t mx = 0, my = 0;
        e->GetMousePos(&mx, &my);
        const int64_t dx = int64_t(mx) - sx, dy = int64_t(my) - sy;
        if ((e->buttonsDown & 1) && dx * dx + dy * dy < 1024) e->selectedObject = this;
        else if ((e->buttonsDown & 2) && selected) follow();
        return;
    }
    e->DrawText(name ? name : "", sx, sy, selected ? 0xFFFF0000u : 0xFF808080u);
}
