#include "media/image/image_data.h"

#include <cstdarg>

#include <cstring>
#include <string>

#include "base/file_stream.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/stream.h"
#include "base/text.h"
#include "media/image/jpeg_codec.h"
#include "media/image/png_codec.h"
#include "media/image/tga_codec.h"

void ImageData::Free() {
    MemFree(pixels);
    MemFree(palette);
    MemFree(alpha);
    pixels = palette = alpha = nullptr;
    width = height = bits = 0;
    has_colour_key = 0;
    colour_key = 0;
}

void ImageData::Reset() {
    MemFree(pixels);
    MemFree(palette);
    pixels = palette = nullptr;
    width = height = bits = 0;
    has_colour_key = 0;
    colour_key = 0;
}

uint32_t ImageData::BytesPerPixel() const {
    switch (bits) {
        case kImageGrey:
        case kImagePalette:
            return 1;
        case kImageRgb:
            return 3;
        case kImageArgb:
            return 4;
        default:
            return 0;
    }
}

namespace {
inline uint8_t GreyOf(uint32_t r, uint32_t g, uint32_t b) {
    return uint8_t((76 * r + 150 * g + 30 * b) >> 8);
}
}  // namespace

void ImageData::ToGrey() {
    if (bits == kImageGrey || !pixels) return;
    if (bits != kImagePalette && bits != kImageRgb && bits != kImageArgb) return;
    if (bits == kImagePalette && !palette) return;
    size_t count = size_t(width) * height;
    auto* grey = static_cast<uint8_t*>(MemAllocUncleared(count ? count : 1));
    if (!grey) {
        LogPrintf("[ERROR] - OUT OF MEMORY FOR GREY IMAGE %ux%u", width, height);
        return;
    }
    const uint8_t* p = pixels;
    if (bits == kImagePalette) {
        uint8_t table[kPaletteEntries];
        for (size_t i = 0; i < kPaletteEntries; ++i)
            table[i] = GreyOf(palette[i * 3], palette[i * 3 + 1], palette[i * 3 + 2]);
        for (size_t i = 0; i < count; ++i) grey[i] = table[p[i]];
    } else if (bits == kImageRgb) {
        for (size_t i = 0; i < count; ++i, p += 3) grey[i] = GreyOf(p[0], p[1], p[2]);
    } else {
        for (size_t i = 0; i < count; ++i, p += 4) grey[i] = GreyOf(p[2], p[1], p[0]);
    }
    MemFree(pixels);
    MemFree(palette);
    MemFree(alpha);
    palette = alpha = nullptr;
    pixels = grey;
    bits = kImageGrey;
    has_colour_key = 0;
}

bool ImageData::HasGreyPalette() const {
    if (bits != kImagePalette || !palette) return false;
    for (size_t i = 0; i < kPaletteEntries; ++i) {
        const uint8_t* e = palette + i * 3;
        if (e[0] != e[1] || e[0] != e[2]) return false;
    }
    return true;
}

void ImageData::PaletteToGreyLevels() {
    if (bits != kImagePalette || !palette) return;
    uint8_t table[kPaletteEntries];
    for (size_t i = 0; i < kPaletteEntries; ++i) table[i] = palette[i * 3];
    size_t count = pixels ? size_t(width) * height : 0;
    for (size_t i = 0; i < count; ++i) pixels[i] = table[pixels[i]];
    MemFree(palette);
    palette = nullptr;
    bits = kImageGrey;
}

uint8_t* ResampleGrey(const uint8_t* pixels, int32_t width, int32_t height, int32_t new_width,
                      int32_t new_height) {
    if (!pixels || width <= 0 || height <= 0 || new_width <= 0 || new_height <= 0) return nullptr;
    auto* out = static_cast<uint8_t*>(MemAllocUncleared(size_t(new_width) * size_t(new_height)));
    if (!out) return nullptr;
    // 10-bit fixed point steps, in 64 bits so large sizes do not wrap.
    int64_t step_x = (int64_t(width) << 10) / new_width;
    int64_t step_y = (int64_t(height) << 10) / new_height;
    uint8_t* o = out;
    for (int64_t y = 0; y < new_height; ++y) {
        const uint8_t* row = pixels + size_t((y * step_y) >> 10) * size_t(width);
        for (int64_t x = 0; x < new_width; ++x) *o++ = row[(x * step_x) >> 10];
    }
    return out;
}

bool ReadImageFile(const char* path, ImageData& image, bool (*reader)(Stream&, ImageData&)) {
    image.Reset();
    FileStream f;
    if (!f.OpenRead(path)) return false;
    return reader(f, image);
}

bool ReadExact(Stream& stream, void* buffer, uint32_t n) {
    return n == 0 || stream.Read(buffer, n) == n;
}

uint64_t BytesLeft(Stream& stream) {
    uint32_t size = stream.Size(), pos = stream.Tell();
    return pos < size ? size - pos : 0;
}

uint32_t ReadBigEndian32(Stream* stream) {
    uint8_t b[4];
    if (!stream || !ReadExact(*stream, b, 4)) return 0;
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

bool CheckImageSize(const char* format, uint64_t width, uint64_t height, uint64_t bytes_per_pixel) {
    if (width == 0 || height == 0) {
        LogPrintf("[ERROR] - %s IMAGE IS EMPTY", format);
        return false;
    }
    if (width > kMaxImageSide || height > kMaxImageSide ||
        width * height * bytes_per_pixel > kMaxImageBytes) {
        LogPrintf("[ERROR] - %s IMAGE TOO LARGE : %llux%llu", format, static_cast<unsigned long long>(width),
                  static_cast<unsigned long long>(height));
        return false;
    }
    return true;
}

const char* ImageExtension(const char* path) {
    if (!path) return nullptr;
    size_t len = std::strlen(path);
    if (len > 4 && path[len - 4] == '.') return path + len - 4;
    if (len > 5 && path[len - 5] == '.' && EqualsNoCase(path + len - 5, ".jpeg")) return path + len - 5;
    return nullptr;
}

bool LoadImage(const char* path, ImageData& image) {
    if (!path || !*path) return false;
    const char* ext = ImageExtension(path);
    std::string tried;
    if (!ext) {
        static const char* const kTried[] = {".tga", ".jpg", ".jpeg", ".png"};
        for (const char* e : kTried) {
            tried = std::string(path) + e;
            ext = e;
            if (FileExists(tried.c_str())) break;
        }
        path = tried.c_str();
    }
    if (EqualsNoCase(ext, ".tga")) return LoadTga(image, path);
    if (EqualsNoCase(ext, ".jpg") || EqualsNoCase(ext, ".jpeg")) return LoadJpeg(image, path);
    if (EqualsNoCase(ext, ".png")) return LoadPng(image, path);
    return false;
}

bool FailImage(ImageData& image, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogPrintfV(format, args);
    va_end(args);
    image.Reset();
    return false;
}
