#pragma once
// What a texture is made of, worked out before the device is involved: the
// file a texture name stands for, the 32-bit or 8-bit pixels of a decoded
// image with the creation flags they imply, and the bytes a device texture
// takes.
#include <cstdint>
#include <string>

#include "render/render_device.h"

struct ImageData;

// Texture creation and drawing flags (also OR-ed into the render mode).
constexpr uint32_t kTextureLuminance = 1;         // 8-bit luminance (L8)
constexpr uint32_t kTextureCube = 2;              // cube texture (DDS only)
constexpr uint32_t kTextureAlpha = 16;            // A8R8G8B8, blended
constexpr uint32_t kTextureOpaque = 32;           // clears kTextureAlpha
constexpr uint32_t kTextureSpecial = 0x80000000;  // with 1: luminance; with 2: cube
constexpr uint32_t kTextureGreyFlags = kTextureSpecial | kTextureLuminance;

// Bytes of a device texture of that kind and size, as the budget counts
// them (0 for an unknown kind).
uint32_t TextureByteSize(int32_t kind, int32_t width, int32_t height);

// Where a texture name leads: a DDS file for the device, or an image to
// decode (LoadImage tries the extensions of a bare name itself).
struct TextureFile {
    bool dds = false;
    std::string path;
};
// Names with an extension are taken as they are; a bare name prefers
// "<name>.dds" when that file exists.
TextureFile ResolveTextureName(const char* name);

// Pixels ready for the device: 32-bit words (A R G B) or grey bytes.
struct TexturePixels {
    TexturePixels() = default;
    ~TexturePixels();
    TexturePixels(const TexturePixels&) = delete;
    TexturePixels& operator=(const TexturePixels&) = delete;

    const uint8_t* data = nullptr;  // the image's own pixels, or owned
    uint8_t* owned = nullptr;       // a converted copy (global allocator)
    uint32_t bytes = 0;
    uint32_t flags = 0;  // the flags the texture ends up with
    int32_t kind = 0;    // TEXKIND_X8R8G8B8, TEXKIND_A8R8G8B8 or TEXKIND_L8
    bool grey = false;
};

// Converts a decoded image with the given creation flags: a colour key or
// 32-bit pixels add kTextureAlpha, an alpha plane is merged, kTextureOpaque
// clears kTextureAlpha, grey images become luminance textures. False for an
// empty image or an unknown layout.
bool ConvertImageForTexture(const ImageData& image, uint32_t flags, TexturePixels& out);
