#include "scene/sound_glide.h"

#include <cmath>

#include "media/resource_manager.h"
#include "media/sound/sound.h"
#include "scene/game_scene.h"

namespace {

SoundGlideEntry g_glide[kSoundGlideEntries];
size_t g_glide_count = 0;

// The bits of a point object's x and snd_action properties: placing its
// sound at its own position and applying its action.
constexpr uint32_t kPointPlaceSound = 0x42;
// A glided sound this far from the listener (scene units / 1000) stops.
constexpr float kGlideStopDistance = 9.9f;
// A sound the new node does not use heads off this far along its direction.
constexpr float kGlideAwayDistance = 10000.0f;

struct PointSound {
    ResourceRecord* record = nullptr;
    plat::Vec3 position{};
    plat::Vec3 direction{};
};

bool ReadPointSound(const SceneKindOps* ops, EObject* point, PointSound* out) {
    return ops->sound(point, &out->record, &out->position, &out->direction) && out->record;
}

// The point object of the scene that plays the record, if any.
bool FindPointSound(const SceneKindOps* ops, const GameScene& scene, const ResourceRecord* record,
                    PointSound* out) {
    for (EObject* o = SceneKindFirst(scene, kSceneKindPoints); o; o = SceneListNext(o))
        if (ReadPointSound(ops, o, out) && out->record == record) return true;
    return false;
}

void Terminate() { g_glide[g_glide_count] = SoundGlideEntry{}; }

}  // namespace

void PrepareSoundGlide(GameScene* new_scene, GameScene* old_scene) {
    if (new_scene)
        for (EObject* o = SceneKindFirst(*new_scene, kSceneKindPoints); o; o = SceneListNext(o))
            o->OnChanged(kPointPlaceSound);
    g_glide_count = 0;
    Terminate();
    const SceneKindOps* ops = GetSceneKindOps(kSceneKindPoints);
    if (!old_scene || !ops || !ops->sound) return;
    for (EObject* o = SceneKindFirst(*old_scene, kSceneKindPoints); o; o = SceneListNext(o)) {
        // The last entry stays the terminating one: further sounds do not glide.
        if (g_glide_count + 1 >= kSoundGlideEntries) break;
        PointSound old_sound;
        if (!ReadPointSound(ops, o, &old_sound)) continue;
        PointSound new_sound;
        plat::Vec3 target;
        if (new_scene && FindPointSound(ops, *new_scene, old_sound.record, &new_sound)) {
            target = new_sound.position;
        } else if (old_sound.record->object) {
            const plat::Vec3& d = old_sound.direction;
            target = {d.x * kGlideAwayDistance, d.y * kGlideAwayDistance, d.z * kGlideAwayDistance};
        } else {
            continue;
        }
        // Acquired now, so a shared sound is loaded for the fade.
        if (!Resources().GetSound(old_sound.record)) continue;
        const plat::Vec3& p = old_sound.position;
        g_glide[g_glide_count++] = {old_sound.record, p.x, p.y, p.z, target.x, target.y, target.z};
    }
    Terminate();
}

void UpdateSoundGlide(float t) {
    for (size_t i = 0; i < g_glide_count; ++i) {
        const SoundGlideEntry& g = g_glide[i];
        // Only a sound that is still loaded: the record may have been
        // unloaded or removed since the table was filled.
        ResourceRecord* r = g.record;
        Sound* sound = r && r->type == kResourceSound ? static_cast<Sound*>(r->object) : nullptr;
        if (!sound) continue;
        const float u = 1.0f - t;
        const float x = (g.oldX * u + g.newX * t) / 1000.0f;
        const float y = (g.oldY * u + g.newY * t) / 1000.0f;
        const float z = (g.oldZ * u + g.newZ * t) / 1000.0f;
        sound->SetPosition(x, y, z);
        if (std::sqrt(x * x + y * y + z * z) >= kGlideStopDistance) sound->Stop();
    }
}

const SoundGlideEntry* SoundGlideTable() { return g_glide; }
size_t SoundGlideCount() { return g_glide_count; }
