#pragma once
// The sound glide: at a node switch the 3-D sounds of the node being left
// move, over the fade of the transition, to their places in the node being
// entered, or off into the distance when that node does not use them.
#include <cstddef>

class GameScene;
struct ResourceRecord;

struct SoundGlideEntry {
    // The sound's resource record; the loaded sound is fetched from it at
    // every step, so an unload in between leaves nothing dangling. Null in
    // the terminating entry.
    ResourceRecord* record;
    float oldX, oldY, oldZ;  // position in the node being left
    float newX, newY, newZ;  // position in the node being entered, or far along the old direction
};

// Room for 16 entries including the terminating one.
constexpr size_t kSoundGlideEntries = 16;

// Fills the table at a node switch (either scene may be null).
void PrepareSoundGlide(GameScene* new_scene, GameScene* old_scene);
// Places every sound of the table at t (0..1) between its two positions,
// stopping one that has moved 9.9 units or more from the origin.
void UpdateSoundGlide(float t);

// The table as it stands (tests and the script binding).
const SoundGlideEntry* SoundGlideTable();
size_t SoundGlideCount();
