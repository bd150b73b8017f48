#include "scene/hotspot_map.h"

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "app/app_window.h"
#include "app/engine.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/text.h"
#include "media/image/draw2d.h"
#include "media/text/game_font.h"
#include "media/image/image_data.h"
#include "media/image/texture.h"
#include "render/d3d_render_device.h"
#include "render/geometry.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"

float g_pointerYaw = 0;
float g_pointerPitch = 0;

namespace {

ImageData* g_map = nullptr;
Texture* g_preview = nullptr;
HotspotBrush g_brush;

constexpr int kVkSpace = 32, kVkLeft = 37, kVkUp = 38, kVkRight = 39, kVkDown = 40;
constexpr int kVkControl = 17;
constexpr int32_t kLabelMs = 2000;

bool ColumnHolds(const uint8_t* cells, int32_t column, uint8_t value) {
    for (int32_t row = 0; row < kHotspotMapHeight; ++row)
        if (cells[size_t(row) * kHotspotMapWidth + column] == value) return true;
    return false;
}

// The palette of the map, from the palette file (a short file leaves the
// rest black).
void ReadPalette(uint8_t* palette) {
    FileStream file;
    if (!file.OpenRead(kHotspotPalettePath)) return;
    file.Read(palette, uint32_t(kPaletteBytes));
    file.Close();
}

}  // namespace

ImageData* HotspotMapImage() { return g_map; }

bool PrepareHotspotMap() {
    if (g_map) {
        ClearHotspotMap();
        return true;
    }
    auto* map = new (std::nothrow) ImageData();
    if (!map) return false;
    map->pixels = static_cast<uint8_t*>(MemAlloc(kHotspotMapBytes));
    map->palette = static_cast<uint8_t*>(MemAlloc(kPaletteBytes));
    if (!map->pixels || !map->palette) {
        delete map;
        LogPrintf("[ERROR] - hotspot map : out of memory");
        return false;
    }
    map->width = kHotspotMapWidth;
    map->height = kHotspotMapHeight;
    map->bits = kImagePalette;
    ReadPalette(map->palette);
    g_map = map;
    return true;
}

void ClearHotspotMap() {
    if (g_map && g_map->pixels) std::memset(g_map->pixels, 0, kHotspotMapBytes);
}

void FreeHotspotMap() {
    FreeHotspotPreview();
    delete g_map;
    g_map = nullptr;
}

uint8_t HotspotMapCell(int32_t yaw, int32_t pitch) {
    if (!g_map || !g_map->pixels) return 0;
    if (yaw < 0 || yaw >= kHotspotMapWidth || pitch < -90 || pitch >= kHotspotMapHeight - 90) return 0;
    return g_map->pixels[size_t(pitch + 90) * kHotspotMapWidth + size_t(yaw)];
}

uint32_t HotspotPaletteColour(uint32_t value) {
    if (!g_map || !g_map->palette) return 0xFF000000u;
    const uint8_t* e = g_map->palette + size_t(value & 0xFF) * 3;
    return 0xFF000000u | uint32_t(e[0]) << 16 | uint32_t(e[1]) << 8 | e[2];
}

bool DecompressHotspotMap(const uint8_t* data, size_t size) {
    if (!g_map || !g_map->pixels) return false;
    // Inflated straight into the map, never past it: on a damaged or
    // oversize stream the map keeps what was inflated before the fault.
    static const uint8_t kNothing = 0;
    uLongf length = kHotspotMapBytes;
    const int rc = uncompress(g_map->pixels, &length, data ? data : &kNothing, uLong(data ? size : 0));
    if (rc != Z_OK) {
        LogPrintf("[ERROR] ZLIB - Can't decompress hotspot data (%d)", rc);
        return false;
    }
    // A whole stream shorter than the map: the cells past it are empty.
    std::memset(g_map->pixels + length, 0, kHotspotMapBytes - length);
    return true;
}

bool LoadHotspotMapFile(const char* path, const GameScene* scene) {
    if (!path || !g_map) return false;
    FileStream file;
    if (!file.OpenRead(path)) return false;
    const uint32_t size = file.Size();
    if (size > kMaxHotspotFileBytes) {
        LogPrintf("[ERROR] - hotspot map %s : %u bytes, more than a map can be", path, size);
        return false;
    }
    std::vector<uint8_t> bytes(size);
    if (size && file.Read(bytes.data(), size) != size) {
        LogPrintf("[ERROR] - hotspot map %s : short read", path);
        return false;
    }
    file.Close();
    const bool whole = DecompressHotspotMap(bytes.data(), bytes.size());
    if (scene) scene->RenumberLoadedHotspotMap();
    return whole;
}

bool SaveHotspotMapFile(const char* path) {
    if (!path) return false;
    if (!g_map || !g_map->pixels) {
        LogPrintf("[ERROR] - hotspot map %s not written : there is no map", path);
        return false;
    }
    uLongf length = compressBound(kHotspotMapBytes);
    std::vector<uint8_t> packed(length);
    const int rc = compress(packed.data(), &length, g_map->pixels, kHotspotMapBytes);
    if (rc != Z_OK) {
        LogPrintf("[ERROR] ZLIB - Can't compress hotspot data (%d), %s kept", rc, path);
        return false;
    }
    if (!WriteFileAtomic(path, packed.data(), length)) {
        LogPrintf("[ERROR] - hotspot map %s could not be written; the old file is kept", path);
        return false;
    }
    return true;
}

void RenumberHotspotMap(uint32_t removed_value) {
    if (!g_map || !g_map->pixels || removed_value == 0 || removed_value > 255) return;
    for (size_t i = 0; i < kHotspotMapBytes; ++i) {
        uint8_t& c = g_map->pixels[i];
        if (c == removed_value)
            c = 0;
        else if (c > removed_value)
            --c;
    }
}

void GameScene::HotspotLeftList(uint32_t place) {
    if (place == 0 || place > 255) return;
    if (!hotspotMapRenumbered) {
        for (int v = 0; v < 256; ++v) hotspotMapPlaces[v] = uint8_t(v);
        hotspotMapRenumbered = true;
    }
    for (uint8_t& p : hotspotMapPlaces) {
        if (p == place)
            p = 0;
        else if (p > place)
            --p;
    }
    const Engine* e = CurrentEngine();
    if (e && e->currentScene == this && viewtype != kViewPage) {
        RenumberHotspotMap(place);
        g_brush.mapChanged = true;
    }
}

void GameScene::RenumberLoadedHotspotMap() const {
    if (!hotspotMapRenumbered || !g_map || !g_map->pixels) return;
    for (size_t i = 0; i < kHotspotMapBytes; ++i) g_map->pixels[i] = hotspotMapPlaces[g_map->pixels[i]];
}

Texture* HotspotPreviewTexture() { return g_preview; }

bool RebuildHotspotPreview() {
    if (!g_map || !g_map->pixels) return false;
    if (!g_preview) g_preview = Texture::New();
    if (!g_preview) return false;
    if (!g_preview->CreateFromImage(*g_map, 0)) {
        FreeHotspotPreview();
        return false;
    }
    return true;
}

void FreeHotspotPreview() {
    Texture::Delete(g_preview);
    g_preview = nullptr;
}

HotspotBrush& GetHotspotBrush() { return g_brush; }

uint32_t GameScene::HotspotAtView() const {
    if (viewtype == kViewPage) return 0;
    return HotspotMapCell(SaturateToInt(std::trunc(g_pointerYaw)), SaturateToInt(std::trunc(g_pointerPitch)));
}

int32_t GameScene::GetHotspotDirection(const HotSpot* hotspot, float* yaw, float* pitch) const {
    const int index = ListIndexOf(hotspots, hotspot);
    if (index < 0) return 0;
    const int32_t v = index + 1;
    if (hotspot->object) {
        const SceneKindOps* ops = GetSceneKindOps(kSceneKindMeshes);
        for (EObject* m = SceneKindFirst(*this, kSceneKindMeshes); m; m = SceneListNext(m)) {
            if (!m->name || !EqualsNoCase(m->name, hotspot->object)) continue;
            plat::Vec3 position;
            if (ops && ops->position && ops->position(m, &position)) DirectionToAngles(position, yaw, pitch);
            break;
        }
        return v;
    }
    if (!g_map || !g_map->pixels || v > 255) return 0;
    const uint8_t* cells = g_map->pixels;
    const uint8_t value = uint8_t(v);

    // A region crossing yaw 0: the columns after the gap count as negative.
    int32_t start = 0, end = 0;
    if (ColumnHolds(cells, 0, value)) {
        int32_t c = 1;
        while (c < kHotspotMapWidth && ColumnHolds(cells, c, value)) ++c;
        if (c < kHotspotMapWidth) {
            start = c;
            for (++c; c < kHotspotMapWidth; ++c)
                if (ColumnHolds(cells, c, value)) {
                    end = c;
                    break;
                }
        }
    }
    *yaw = 0;
    *pitch = 0;
    int64_t count = 0, yaw_sum = 0, pitch_sum = 0;
    for (int32_t r = 0; r < kHotspotMapHeight; ++r)
        for (int32_t c = 0; c < kHotspotMapWidth; ++c) {
            if (cells[size_t(r) * kHotspotMapWidth + c] != value) continue;
            ++count;
            pitch_sum += r;
            if (start == 0 || c <= start)
                yaw_sum += c;
            else if (c >= end)
                yaw_sum += c - 360;
        }
    if (count == 0) return 0;
    *yaw = float(yaw_sum) / float(count);
    *pitch = float(pitch_sum) / float(count);
    if (*yaw < 0) *yaw += 360.0f;
    *pitch -= 90.0f;
    return v;
}

void PaintHotspotMap(bool paint, float yaw, float pitch, uint32_t frame_counter) {
    HotspotBrush& b = g_brush;
    if (!paint || !g_map || !g_map->pixels) {
        if (b.mapChanged) {
            RebuildHotspotPreview();
            b.mapChanged = false;
        }
        return;
    }
    const float size = float(b.size);
    const uint8_t value = uint8_t(b.value & 0xFF);
    for (int32_t row = SaturateToInt(std::trunc(pitch - size + 90.0f)); float(row) <= pitch + size + 90.0f; ++row) {
        if (row >= kHotspotMapHeight) break;
        if (row < 0) continue;
        for (int32_t col = SaturateToInt(std::trunc(yaw - size)); float(col) <= yaw + size; ++col) {
            if (col >= kHotspotMapWidth) break;
            if (col >= 0) g_map->pixels[size_t(row) * kHotspotMapWidth + size_t(col)] = value;
        }
    }
    b.mapChanged = true;
    if (Engine* e = CurrentEngine()) e->sceneModified = true;
    if (frame_counter % 8 == 0) {
        RebuildHotspotPreview();
        b.mapChanged = false;
    }
}

void HotspotBrushInput(int key, int wheel, uint32_t hotspot_count, uint32_t view_cell, bool left_shift) {
    HotspotBrush& b = g_brush;
    switch (key) {
        case kVkSpace:
            b.value = view_cell;
            b.labelTime = kLabelMs;
            break;
        case kVkLeft:
            b.value = b.value == 0 ? hotspot_count : b.value - 1;
            b.labelTime = kLabelMs;
            break;
        case kVkRight:
            b.value = uint32_t((uint64_t(b.value) + 1) % (uint64_t(hotspot_count) + 1));
            b.labelTime = kLabelMs;
            break;
        case kVkUp: b.size = (b.size + 1) & 7; break;
        case kVkDown: b.size = (b.size - 1) & 7; break;
        default: break;
    }
    if (wheel == 0) return;
    if (left_shift) {
        b.size = (b.size + 1) & 7;
    } else {
        b.value = wheel < 0 ? (b.value + 1) & 15 : (b.value - 1) & 15;
        b.labelTime = kLabelMs;
    }
}

const char* HotspotBrushLabel(const GameScene* scene) {
    if (g_brush.value == 0) return "ERASER";
    uint32_t n = 1;
    for (HotSpot* h = scene ? scene->hotspots.head : nullptr; h; h = ListNext(h), ++n)
        if (n == g_brush.value) return h->name ? h->name : "";
    return "EMPTY";
}

void DrawHotspotBrush(int32_t mouse_x, int32_t mouse_y, const GameScene* scene, float frame_ms) {
    HotspotBrush& b = g_brush;
    const int32_t side = int32_t(b.size & 7) * 8 + 8;
    FillRect(mouse_x - side / 2, mouse_y - side / 2, side, side, HotspotPaletteColour(b.value));
    if (b.labelTime < 1) return;
    Engine* e = CurrentEngine();
    if (e && e->currentFont)
        e->currentFont->DrawString(HotspotBrushLabel(scene), mouse_x, mouse_y - 16, e->screenRect.w,
                                   e->screenRect.h, 0, 0xFFFFFFFFu, 0);
    b.labelTime = SaturateToInt(std::trunc(double(b.labelTime) - double(frame_ms)));
}

void HotspotMapEditorFrame() {
    Engine* e = CurrentEngine();
    const bool paint = g_keyTable[kVkControl] && (g_mouseButtons & 1);
    const uint32_t frame = g_appWindow ? g_appWindow->GetFrameCount() : 0;
    PaintHotspotMap(paint, g_pointerYaw, g_pointerPitch, frame);
    const auto* device = static_cast<const D3DRenderDevice*>(g_renderDevice);
    DrawHotspotBrush(SaturateToInt(g_mouseX), SaturateToInt(g_mouseY), e ? e->currentScene : nullptr,
                     FrameDeltaMs(device ? device->refreshRate : 0));
}
