#pragma once
// The hotspot map: one 8-bit image of 360 x 180 cells (a column per degree
// of yaw 0..359, a row per degree of pitch -90..89) holding, for the current
// scene, the 1-based index of the hotspot seen in each direction, with a
// 256-colour editor palette and a preview texture. Stored per scene as
// "hotspots.bin", one zlib stream of the 64800 cells. The editor paints it
// with a brush while a map hotspot is selected.
#include <cstddef>
#include <cstdint>

class GameScene;
struct ImageData;
struct Texture;

constexpr int32_t kHotspotMapWidth = 360;
constexpr int32_t kHotspotMapHeight = 180;
constexpr size_t kHotspotMapBytes = size_t(kHotspotMapWidth) * kHotspotMapHeight;  // 64800
// The palette file read when the map is created.
constexpr const char* kHotspotPalettePath = "data/misc/hotspots.bin";
// The largest per-scene file read: far more than 64800 bytes can compress to.
constexpr size_t kMaxHotspotFileBytes = 1u << 20;

// The map, or null before it is created.
ImageData* HotspotMapImage();
// Allocates the map (zeroed) with its palette from the palette file when
// it does not exist; clears it otherwise. False when memory runs out.
bool PrepareHotspotMap();
// Zeroes every cell (nothing without a map).
void ClearHotspotMap();
// Frees the map and its preview texture (shut-down).
void FreeHotspotMap();

// The cell of a direction in whole degrees; 0 without a map and outside
// yaw 0..359, pitch -90..89.
uint8_t HotspotMapCell(int32_t yaw, int32_t pitch);
// Palette colour of a value as opaque ARGB (values above 255 use their low
// byte); opaque black without a map.
uint32_t HotspotPaletteColour(uint32_t value);

// Fills the map from zlib bytes (uncompress into the 64800 cells, never
// past them). A zlib failure (a damaged, empty or oversize stream) logs
// "[ERROR] ZLIB - Can't decompress hotspot data (%d)" and leaves what the
// inflater wrote. False without a map or on failure.
bool DecompressHotspotMap(const uint8_t* data, size_t size);
// Reads a scene's "hotspots.bin" (packages first), at most
// kMaxHotspotFileBytes, into the map; with the scene given, the values are
// then brought to its hotspot list's present places. A missing file leaves
// the map as it is and answers false without a message; a larger one is
// logged and refused.
bool LoadHotspotMapFile(const char* path, const GameScene* scene = nullptr);
// Writes the map as one zlib stream through a temporary file and a rename.
// A failure (no map, the compressor, the write) is logged and leaves any
// old file as it was.
bool SaveHotspotMapFile(const char* path);
// Cells of the removed value become 0, higher values drop by 1.
void RenumberHotspotMap(uint32_t removed_value);

// The preview texture (null when there is none).
Texture* HotspotPreviewTexture();
// Builds or refills the preview from the map; on failure the preview is
// deleted. False without a map or on failure.
bool RebuildHotspotPreview();
// Releases and deletes the preview.
void FreeHotspotPreview();

// The pointer's view direction in degrees (yaw 0..360, pitch -90..90),
// recomputed by every panoramic scene render from the mouse ray.
extern float g_pointerYaw;
extern float g_pointerPitch;

// Editing state, global and kept across scene switches.
struct HotspotBrush {
    uint32_t value = 0;      // 0 eraser, n hotspot n
    uint32_t size = 0;       // 0..7
    int32_t labelTime = 0;   // ms left to show the label
    bool mapChanged = false; // the preview is out of date
    bool dragging = false;   // a rectangle drag of the hotspot editor runs
    int32_t drag[4] = {};    // x0, y0, x1, y1 of that drag
    const void* moving = nullptr;  // the hotspot a move drag holds, compared only
    int32_t grab[4] = {};          // the pointer and the hotspot's x, y at its start
};
HotspotBrush& GetHotspotBrush();

// One frame of painting: with paint true, writes the brush value into the
// cells within brush size of the view (yaw, pitch), only inside the map;
// sets the changed flags and rebuilds the preview every 8th frame. With
// paint false, rebuilds a preview that is out of date.
void PaintHotspotMap(bool paint, float yaw, float pitch, uint32_t frame_counter);
// The painting step of the selected map hotspot's overlay: paints while
// Ctrl (virtual key 17) and the left button are down, then draws the brush
// square and its label at the mouse.
void HotspotMapEditorFrame();
// A brush key or wheel step (Space, Left, Right, Up, Down, wheel) for the
// scene's hotspot list; hotspot_count is the number of hotspots of the
// current scene, view_cell the map cell at the current view.
void HotspotBrushInput(int key, int wheel, uint32_t hotspot_count, uint32_t view_cell, bool left_shift);
// The label text of the brush: "ERASER", the hotspot's name, or "EMPTY".
const char* HotspotBrushLabel(const GameScene* scene);
// Draws the brush square (side size * 8 + 8, centred on the mouse, in the
// palette colour) and, while the label time lasts, the label; the label
// time then drops by one frame's milliseconds.
void DrawHotspotBrush(int32_t mouse_x, int32_t mouse_y, const GameScene* scene, float frame_ms);
