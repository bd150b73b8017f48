#pragma once
// Image resources: a device texture with its size and creation flags,
// loaded by name (DDS files through the device, other images decoded and
// converted), read back, and drawn in 2-D.
#include <cstdint>

#include "media/image/texture_pixels.h"

struct ImageData;
struct Rect;
struct ResourceKindOps;
struct TextureRecord;

struct Texture {
    TextureRecord* device_texture = nullptr;  // null when not loaded
    uint32_t flags = 0;                       // creation and drawing flags
    int32_t width = 0;
    int32_t height = 0;

    // A pooled record, and back to the pool (its device texture released).
    static Texture* New();
    static void Delete(Texture* texture);

    // Builds the device texture from a decoded image, or refills the one
    // it has (its own flags then apply): in place when size and format
    // match, else the texture is made anew.
    bool CreateFromImage(const ImageData& image, uint32_t creation_flags);
    // Releases the device texture; flags cleared.
    void Release();
    // The pixels of an X8R8G8B8 / A8R8G8B8 texture as a 32-bit image, of an
    // L8 texture as a grey one; false for other kinds.
    bool ReadPixels(ImageData& out);
    // Bytes of the device texture, by its kind.
    uint32_t ByteSize() const;

    void DrawInRect(const Rect& rect, uint32_t colour, uint32_t draw_flags);
    void DrawAt(int32_t x, int32_t y, uint32_t colour, uint32_t draw_flags);
    void DrawAtDefault(int32_t x, int32_t y);
};

// Loads a texture by name or path (a bare name prefers its DDS file).
bool LoadTexture(Texture* texture, const char* name, uint32_t creation_flags);

// The texture stretched into the rectangle, with point filtering when it
// is drawn at its own size.
void DrawTextureRect(Texture* texture, float x, float y, float w, float h, uint32_t colour,
                     uint32_t draw_flags);

// What the resource manager uses for image records.
extern const ResourceKindOps kTextureResourceOps;
