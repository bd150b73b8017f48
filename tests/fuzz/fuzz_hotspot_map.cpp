// Feeds arbitrary bytes to the hotspot-map reader as a scene's
// "hotspots.bin", then asks for the centre of every hotspot the map may
// name and renumbers it, as the engine and scripts would.
#include <cstddef>
#include <cstdint>

#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static GameScene* scene = nullptr;
    if (!scene) {
        PrepareHotspotMap();
        scene = new GameScene();
        scene->viewtype = kViewCube;
        for (int i = 0; i < 4; ++i) ListAppendNew(scene->hotspots);
    }
    ClearHotspotMap();
    if (!DecompressHotspotMap(data, size)) return 0;
    volatile float sink = 0;
    float yaw = 0, pitch = 0;
    for (HotSpot* h = scene->hotspots.head; h; h = ListNext(h)) {
        scene->GetHotspotDirection(h, &yaw, &pitch);
        sink = sink + yaw + pitch;
    }
    for (int y = -1; y <= 360; y += 19)
        for (int p = -91; p <= 90; p += 13) sink = sink + float(HotspotMapCell(y, p));
    RenumberHotspotMap(size > 0 ? data[0] : 1);
    return 0;
}
