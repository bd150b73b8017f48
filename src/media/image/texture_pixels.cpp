#include "media/image/texture_pixels.h"

#include <cstring>

#include "base/file_stream.h"
#include "base/memory.h"
#include "media/image/image_data.h"

uint32_t TextureByteSize(int32_t kind, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    uint64_t w = uint64_t(width), h = uint64_t(height), bytes;
    switch (kind) {
        case TEXKIND_R5G6B5:
        case TEXKIND_YUY2:
            bytes = w * h * 2;
            break;
        case TEXKIND_X8R8G8B8:
        case TEXKIND_A8R8G8B8:
        case TEXKIND_RENDER_TARGET:
            bytes = w * h * 4;
            break;
        case TEXKIND_L8:
        case TEXKIND_DXT5:
        case TEXKIND_CUBE:
            bytes = w * h;
            break;
        case TEXKIND_DXT1:
            bytes = (w / 2) * h;
            break;
        default:
            return 0;
    }
    return bytes > UINT32_MAX ? UINT32_MAX : uint32_t(bytes);
}

TextureFile ResolveTextureName(const char* name) {
    TextureFile file;
    if (!name || !*name) return file;
    file.path = name;
    if (const char* ext = ImageExtension(name)) {
        file.dds = strcasecmp(ext, ".dds") == 0;
        return file;
    }
    std::string dds = file.path + ".dds";
    if (FileExists(dds.c_str())) {
        file.dds = true;
        file.path = dds;
    }
    return file;
}

TexturePixels::~TexturePixels() {
    MemFree(owned);
}

bool ConvertImageForTexture(const ImageData& image, uint32_t flags, TexturePixels& out) {
    MemFree(out.owned);
    out.owned = nullptr;
    out.data = nullptr;
    out.bytes = 0;
    if (!image.pixels || image.width == 0 || image.height == 0) return false;
    if (image.bits == kImagePalette && !image.palette) return false;
    if (image.bits != kImageGrey && image.bits != kImagePalette && image.bits != kImageRgb &&
        image.bits != kImageArgb)
        return false;
    size_t count = size_t(image.width) * image.height;
    if (count > UINT32_MAX / 4) return false;

    if (image.bits == kImageGrey) {
        // Grey bytes as they are: an 8-bit luminance texture.
        out.data = image.pixels;
        out.bytes = uint32_t(count);
        out.flags = kTextureGreyFlags;
        out.kind = TEXKIND_L8;
        out.grey = true;
        return true;
    }
    if (image.has_colour_key) flags |= kTextureAlpha;
    // Colour pixels make a colour texture, whatever the flags asked for, and
    // never a cube (a DDS matter): its bit would read as vertex colour when
    // the flags join the render mode.
    flags &= ~(kTextureGreyFlags | kTextureCube);
    // With alpha asked for, the key is the image's, or 0 (index 0, black)
    // when it has none.
    const uint32_t key = image.has_colour_key ? image.colour_key : 0;
    const bool alpha = (flags & kTextureAlpha) != 0;
    uint32_t* words = nullptr;
    if (image.bits == kImageArgb && !image.alpha) {
        out.data = image.pixels;
        flags |= kTextureAlpha;
    } else {
        words = static_cast<uint32_t*>(MemAlloc(count * 4));
        if (!words) return false;
        out.owned = reinterpret_cast<uint8_t*>(words);
        out.data = out.owned;
        const uint8_t* p = image.pixels;
        if (image.bits == kImagePalette) {
            uint32_t table[kPaletteEntries];
            for (size_t i = 0; i < kPaletteEntries; ++i) {
                const uint8_t* e = image.palette + i * 3;
                table[i] = 0xFF000000u | uint32_t(e[0]) << 16 | uint32_t(e[1]) << 8 | e[2];
            }
            // The key index turns fully transparent.
            if (alpha && key < kPaletteEntries) table[key] = 0;
            for (size_t i = 0; i < count; ++i) words[i] = table[p[i]];
        } else if (image.bits == kImageRgb) {
            // Alpha stays 0 for an X8R8G8B8 texture; with alpha every pixel
            // but the key colour is opaque.
            const uint32_t rgb_key = key & 0xFFFFFF;
            for (size_t i = 0; i < count; ++i, p += 3) {
                uint32_t c = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
                if (alpha && c != rgb_key) c |= 0xFF000000u;
                words[i] = c;
            }
        } else {
            std::memcpy(words, image.pixels, count * 4);
            flags |= kTextureAlpha;
        }
    }
    if (image.alpha && words && image.bits >= kImageRgb) {
        for (size_t i = 0; i < count; ++i) words[i] = (words[i] & 0xFFFFFF) | uint32_t(image.alpha[i]) << 24;
        flags |= kTextureAlpha;
    }
    if (flags & kTextureOpaque) flags &= ~kTextureAlpha;
    out.bytes = uint32_t(count * 4);
    out.flags = flags;
    out.kind = (flags & kTextureAlpha) ? TEXKIND_A8R8G8B8 : TEXKIND_X8R8G8B8;
    out.grey = false;
    return true;
}
