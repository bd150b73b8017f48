#include "scene/point_object.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "app/app_window.h"
#include "app/engine.h"
#include "media/resource_manager.h"
#include "media/sound/sound.h"
#include "media/image/texture.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/camera.h"
#include "render/geometry.h"
#include "scene/game_scene.h"
#include "scene/hotspot_map.h"

ClassDescriptor PointSceneObject::s_descriptor;

namespace {

PointSceneObject::PointSceneObject_Initializer g_point_initializer;

constexpr int kVkLeftShift = 160;

// The scene's resource steps and sound queries for points.
void LoadPointResources(EObject* o) { Resources().GetSound(static_cast<PointSceneObject*>(o)->sound); }

void UnloadPointResources(EObject* o) { Resources().Remove(static_cast<PointSceneObject*>(o)->sound, false); }

bool PointSound(EObject* o, ResourceRecord** record, plat::Vec3* position, plat::Vec3* direction) {
    auto* p = static_cast<PointSceneObject*>(o);
    if (!p->sound) return false;
    *record = p->sound;
    AnglesToDirection(direction, p->x, p->y);
    *position = {direction->x * p->distance, direction->y * p->distance, direction->z * p->distance};
    return true;
}

const SceneKindOps kPointKindOps = {LoadPointResources, UnloadPointResources, PointSound, nullptr};

const bool g_point_hooks = (SetSceneKindOps(kSceneKindPoints, &kPointKindOps), true);

// Moves the selected point to the pointer: a screen point when it is on
// screen, else the pointer's view angles.
void FollowPointer(Engine* e, PointSceneObject* p, bool on_screen) {
    if (on_screen) {
        int32_t mx = 0, my = 0;
        e->GetMousePos(&mx, &my);
        p->SetPosition(float(mx), float(my), p->distance);
    } else {
        p->SetPosition(g_pointerYaw, g_pointerPitch, p->distance);
    }
    e->sceneModified = true;
}

}  // namespace

PointSceneObject::PointSceneObject_Initializer::PointSceneObject_Initializer()
    : EObject_Initializer(&PointSceneObject::s_descriptor) {}

EObject* PointSceneObject::PointSceneObject_Initializer::Create() {
    void* block = PointSceneObject::operator new(sizeof(PointSceneObject));
    return block ? ::new (block) PointSceneObject() : nullptr;
}

void PointSceneObject::PointSceneObject_Initializer::RegisterProperties() {
    ClassDescriptor& d = PointSceneObject::s_descriptor;
    d.AddProperty("name", kPropertyString, ObjectFieldOffset(&PointSceneObject::name));
    d.AddProperty("x", kPropertyFloat, ObjectFieldOffset(&PointSceneObject::x));
    d.AddProperty("y", kPropertyFloat, ObjectFieldOffset(&PointSceneObject::y));
    d.AddProperty("distance", kPropertyFloat, ObjectFieldOffset(&PointSceneObject::distance));
    d.AddProperty("icon", kPropertyImage, ObjectFieldOffset(&PointSceneObject::icon));
    d.AddProperty("color", kPropertyColor, ObjectFieldOffset(&PointSceneObject::color));
    d.AddProperty("snd_action", kPropertyEnum, ObjectFieldOffset(&PointSceneObject::snd_action));
    d.AddProperty("sound", kPropertySound, ObjectFieldOffset(&PointSceneObject::sound));
    d.AddProperty("channel", kPropertyInt, ObjectFieldOffset(&PointSceneObject::channel));
    d.AddProperty("order", kPropertyInt, ObjectFieldOffset(&PointSceneObject::order));
    d.AddConstant("class", "point");
}

PointSceneObject::PointSceneObject() : EObject(&s_descriptor) {}

PointSceneObject::PointSceneObject(ClassDescriptor* descriptor) : EObject(descriptor) {}

void PointSceneObject::SetPosition(float nx, float ny, float ndistance) {
    x = nx;
    y = ny;
    distance = ndistance;
}

int32_t BoundedSoundChannel(int32_t channel) {
    return channel >= 0 && channel <= int32_t(kSoundChannels) ? channel : 0;
}

plat::Vec3 PointSoundPosition(float x, float y, float distance) {
    float d[3] = {0, 0, 0};
    if (const Engine* e = CurrentEngine()) {
        e->DirectionAt(d, x, y, false);
    } else {
        plat::Vec3 v;
        AnglesToDirection(&v, x, y);
        d[0] = v.x, d[1] = v.y, d[2] = v.z;
    }
    const float s = distance / 1000.0f;
    return {d[0] * s, d[1] * s, d[2] * s};
}

void PointSceneObject::OnChanged(uint32_t mask) {
    if ((mask & kPointBitsSoundPlacement) && sound && sound->type == kResourceSound) {
        // Moving the point only places its sound again: declaring it anew
        // would unload it, which silences a playing sound.
        const bool placed_only = !(mask & (kPointBitSound | kPointBitChannel)) && (sound->flags & kSound3D);
        if (Engine* e = CurrentEngine(); e && !placed_only)
            if (ResourceRecord* r = e->DeclareSound(sound->name, BoundedSoundChannel(channel), true)) sound = r;
        const plat::Vec3 p = PointSoundPosition(x, y, distance);
        if (Sound* s = Resources().GetSound(sound)) s->SetPosition(p.x, p.y, p.z);
    }
    if (!(mask & kPointBitSndAction) || !sound) return;
    if (snd_action == kPointSoundStop) {
        if (sound->type == kResourceSound && sound->object) static_cast<Sound*>(sound->object)->Stop();
    } else if (snd_action == kPointSoundLoop) {
        if (Sound* s = Resources().GetSound(sound)) s->Play(true, -1);
    }
}

void PointSceneObject::DrawEditorOverlay() {
    Engine* e = CurrentEngine();
    if (!e) return;
    const bool on_screen = OnScreen() || (e->currentScene && e->currentScene->viewtype != kViewCube);
    int sx = 0, sy = 0;
    bool projects = false;
    if (on_screen) {
        sx = SaturateToInt(std::trunc(x));
        sy = SaturateToInt(std::trunc(y));
        projects = true;
    } else if (e->activeCamera) {
        plat::Vec3 d;
        AnglesToDirection(&d, x, y);
        projects = e->activeCamera->Project(d, &sx, &sy);
    }
    // A point far to the side projects to a huge (saturated) position: keep
    // it far off screen but within reach of the arithmetic below.
    constexpr int kFarOff = 1 << 20;
    sx = std::clamp(sx, -kFarOff, kFarOff);
    sy = std::clamp(sy, -kFarOff, kFarOff);
    Texture* tex = icon ? Resources().GetImage(icon) : nullptr;
    const int w = tex ? tex->width : 0, h = tex ? tex->height : 0;
    const int left = sx - w / 2, top = sy - h / 2;
    const bool shift = g_keyTable[kVkLeftShift] != 0;
    if (!shift && projects) {
        if (tex) tex->DrawAt(left, top, 0xFFFFFFFFu, 0);
        const char* label = sound && sound->name ? sound->name : (name ? name : "");
        char text[300];
        std::snprintf(text, sizeof text, "%s[%d]", label, SaturateToInt(std::trunc(distance)));
        e->DrawText(text, tex ? left : sx, (tex ? top : sy) - 12, e->selectedObject == this ? 0xFFFF0000u : 0xFF808080u);
    }
    if (e->positionMode && e->selectedObject == this) {
        FollowPointer(e, this, on_screen);
        return;
    }
    if (!shift) return;
    int32_t mx = 0, my = 0;
    e->GetMousePos(&mx, &my);
    if ((e->buttonsDown & 1) && tex && projects && mx >= left && mx < left + w && my >= top && my < top + h)
        e->selectedObject = this;
    else if ((e->buttonsDown & 2) && e->selectedObject == this)
        FollowPointer(e, this, on_screen);
}

bool PointWheelStep(PointSceneObject* point, int wheel) {
    if (!point || wheel == 0) return false;
    point->SetPosition(point->x, point->y, point->distance + (wheel > 0 ? 100.0f : -100.0f));
    point->OnChanged(kPointBitDistance);
    if (Engine* e = CurrentEngine()) e->sceneModified = true;
    return true;
}

void PointSceneObject::EditorInput(int key, int wheel) {
    (void)key;
    PointWheelStep(this, wheel);
}
