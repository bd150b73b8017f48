#include "media/image/tga_codec.h"

#include <cstdarg>
#include <cstring>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "base/byte_stream.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/stream.h"

namespace {

constexpr uint32_t kHeaderSize = 18;

inline uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// Copies pixels from src to dst (the same block, or two that do not
// overlap) with bytes 0 and 2 of every 3-byte pixel swapped.
void SwapRedBlueScalar(uint8_t* dst, const uint8_t* src, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, src += 3, dst += 3) {
        uint8_t t = src[0];
        dst[1] = src[1];
        dst[0] = src[2];
        dst[2] = t;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels (48 bytes, three registers) per step. Output byte k takes
// input byte 3 (k / 3) + 2 - k % 3, which may lie in the neighbouring
// register; each output register is the OR of three byte shuffles, one per
// input register, with 0x80 (zero) where that input does not contribute.
struct SwapMasks {
    alignas(16) uint8_t m[3][3][16];  // [output register][input register]
    constexpr SwapMasks() : m() {
        for (int r = 0; r < 3; ++r)
            for (int q = 0; q < 16; ++q) {
                int k = r * 16 + q;
                int src = 3 * (k / 3) + 2 - k % 3;
                for (int t = 0; t < 3; ++t) m[r][t][q] = src / 16 == t ? uint8_t(src % 16) : 0x80;
            }
    }
};
constexpr SwapMasks kSwapMasks;

// Plain stores: a block of any size is written through the cache, as a
// copy of it is; no size limit tuned to one machine's caches decides.
__attribute__((target("ssse3"))) void SwapRedBlueSsse3(uint8_t* dst, const uint8_t* p, size_t pixels) {
    __m128i m[3][3];
    for (int r = 0; r < 3; ++r)
        for (int t = 0; t < 3; ++t)
            m[r][t] = _mm_load_si128(reinterpret_cast<const __m128i*>(kSwapMasks.m[r][t]));
    size_t i = 0;
    for (; i + 16 <= pixels; i += 16, p += 48, dst += 48) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        __m128i oa = _mm_or_si128(_mm_shuffle_epi8(a, m[0][0]), _mm_shuffle_epi8(b, m[0][1]));
        __m128i ob = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m[1][0]), _mm_shuffle_epi8(b, m[1][1])),
                                  _mm_shuffle_epi8(c, m[1][2]));
        __m128i oc = _mm_or_si128(_mm_shuffle_epi8(b, m[2][1]), _mm_shuffle_epi8(c, m[2][2]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), oa);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), ob);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 32), oc);
    }
    SwapRedBlueScalar(dst, p, pixels - i);
}
#endif

// Copies with bytes 0 and 2 of every 3-byte pixel swapped (B G R <-> R G
// B); dst may be src.
void SwapRedBlue(uint8_t* dst, const uint8_t* src, size_t pixels) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) return SwapRedBlueSsse3(dst, src, pixels);
#endif
    SwapRedBlueScalar(dst, src, pixels);
}

// Reads n 24-bit pixels into dst with red and blue swapped, in one pass
// over dst: through a scratch block small enough to stay in the cache,
// rather than a copy of the whole row then a second pass to swap it. A
// stream in memory (bytes: s itself, else null) is read in place.
bool ReadSwappedPixels(Stream& s, ByteStream* bytes, uint8_t* dst, uint32_t n) {
    if (bytes) {
        const uint32_t pos = bytes->Tell();
        if (!bytes->Data() || BytesLeft(s) < uint64_t(n) * 3) return false;
        SwapRedBlue(dst, bytes->Data() + pos, n);
        return bytes->SeekAbsolute(pos + n * 3);
    }
    constexpr uint32_t kScratchPixels = 2048;
    uint8_t scratch[kScratchPixels * 3];
    while (n > 0) {
        uint32_t part = n < kScratchPixels ? n : kScratchPixels;
        if (!ReadExact(s, scratch, part * 3)) return false;
        SwapRedBlue(dst, scratch, part);
        dst += size_t(part) * 3;
        n -= part;
    }
    return true;
}

bool Skip(Stream& s, uint64_t n) {
    if (BytesLeft(s) < n) return false;
    return n == 0 || s.SeekRelative(static_cast<int32_t>(n));
}

// The colour map of an 8-bit image: up to 256 entries of 3 or 4 bytes in
// file order (first byte used as red), any further entries skipped. Entries
// the file does not give stay black; an image with no map at all reads its
// bytes as grey levels.
bool ReadColourMap(Stream& s, ImageData& image, uint32_t length, uint32_t entry_bytes) {
    image.palette = static_cast<uint8_t*>(MemAlloc(kPaletteBytes));
    if (!image.palette) return false;
    if (length == 0) {
        for (uint32_t i = 0; i < kPaletteEntries; ++i) std::memset(image.palette + i * 3, int(i), 3);
        return true;
    }
    uint32_t kept = length < kPaletteEntries ? length : uint32_t(kPaletteEntries);
    uint8_t entry[4];
    for (uint32_t i = 0; i < kept; ++i) {
        if (!ReadExact(s, entry, entry_bytes)) return false;
        std::memcpy(image.palette + i * 3, entry, 3);
    }
    return Skip(s, uint64_t(length - kept) * entry_bytes);
}


}  // namespace

bool ReadTga(Stream& s, ImageData& image) {
    image.Reset();
    uint8_t h[kHeaderSize];
    if (!ReadExact(s, h, kHeaderSize))
        return FailImage(image, "[ERROR] - TGA HEADER IS SHORT : %d", int(BytesLeft(s)));
    uint32_t id_length = h[0];
    uint32_t map_type = h[1];
    uint32_t image_type = h[2];
    uint32_t map_length = Le16(h + 5);
    uint32_t map_entry_bits = h[7];
    uint32_t width = Le16(h + 12);
    uint32_t height = Le16(h + 14);
    uint32_t depth = h[16];

    if (image_type != 1 && image_type != 2)
        return FailImage(image, "[ERROR] - RLE TGA FORMAT NOT SUPPORTED : %d", int(image_type));
    if (depth != 8 && depth != 24 && depth != 32)
        return FailImage(image, "[ERROR] - TGA PIXEL DEPTH NOT SUPPORTED : %d", int(depth));
    // Entry size 0 is what older files of ours carry for a 3-byte map.
    uint32_t entry_bytes = map_entry_bits == 0 ? 3 : (map_entry_bits + 7) / 8;
    bool map_used = depth == 8;
    if (map_entry_bits != 0 && map_entry_bits != 15 && map_entry_bits != 16 && map_entry_bits != 24 &&
        map_entry_bits != 32)
        return FailImage(image, "[ERROR] - TGA COLOUR MAP ENTRY SIZE NOT SUPPORTED : %d", int(map_entry_bits));
    if (map_used && entry_bytes < 3)
        return FailImage(image, "[ERROR] - TGA COLOUR MAP ENTRY SIZE NOT SUPPORTED : %d", int(map_entry_bits));
    if (!Skip(s, id_length)) return FailImage(image, "[ERROR] - TGA FILE IS SHORT : %d", int(id_length));

    uint32_t bpp = depth / 8;
    if (!CheckImageSize("TGA", width, height, bpp)) {
        image.Reset();
        return false;
    }
    if (map_used) {
        if (!ReadColourMap(s, image, map_length, entry_bytes))
            return FailImage(image, "[ERROR] - TGA COLOUR MAP IS SHORT : %d", int(map_length));
    } else if (map_type != 0 && !Skip(s, uint64_t(map_length) * entry_bytes)) {
        return FailImage(image, "[ERROR] - TGA COLOUR MAP IS SHORT : %d", int(map_length));
    }

    uint64_t row_bytes = uint64_t(width) * bpp;
    uint64_t total = row_bytes * height;
    if (BytesLeft(s) < total) return FailImage(image, "[ERROR] - TGA FILE IS SHORT : %d", int(BytesLeft(s)));
    image.pixels = static_cast<uint8_t*>(MemAllocUncleared(total));  // every row is read below
    if (!image.pixels) return FailImage(image, "[ERROR] - OUT OF MEMORY FOR TGA : %d", int(total >> 10));

    ByteStream* in_memory = depth == 24 ? dynamic_cast<ByteStream*>(&s) : nullptr;
    // Rows are stored bottom-up whatever the descriptor's origin bit says:
    // our files have always been read this way.
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = image.pixels + (height - 1 - y) * row_bytes;
        if (!(depth == 24 ? ReadSwappedPixels(s, in_memory, row, width) : ReadExact(s, row, uint32_t(row_bytes))))
            return FailImage(image, "[ERROR] - TGA FILE IS SHORT : %d", int(y));
    }
    image.width = width;
    image.height = height;
    image.bits = depth == 8 ? kImagePalette : depth;

    if (image.HasGreyPalette()) image.PaletteToGreyLevels();
    return true;
}

bool LoadTga(ImageData& image, const char* path) {
    return ReadImageFile(path, image, ReadTga);
}

uint8_t* EncodeTga(const ImageData& image, size_t& size) {
    size = 0;
    uint32_t bpp = image.BytesPerPixel();
    if (!image.pixels || !bpp || image.width == 0 || image.height == 0 || image.width > 0xFFFF ||
        image.height > 0xFFFF)
        return nullptr;
    bool mapped = image.bits == kImagePalette || image.bits == kImageGrey;
    if (image.bits == kImagePalette && !image.palette) return nullptr;
    size_t row_bytes = size_t(image.width) * bpp;
    size_t total = kHeaderSize + (mapped ? kPaletteBytes : 0) + row_bytes * image.height;
    auto* out = static_cast<uint8_t*>(MemAlloc(total));
    if (!out) return nullptr;

    // Image type 2 with the map length set for 8-bit images: how our files
    // have always been written, and what ReadTga expects of them.
    out[2] = 2;
    PutLe16(out + 5, mapped ? 256 : 0);
    PutLe16(out + 12, image.width);
    PutLe16(out + 14, image.height);
    out[16] = uint8_t(bpp * 8);
    uint8_t* p = out + kHeaderSize;
    if (image.bits == kImagePalette) {
        std::memcpy(p, image.palette, kPaletteBytes);
    } else if (mapped) {
        for (uint32_t i = 0; i < kPaletteEntries; ++i) std::memset(p + i * 3, int(i), 3);
    }
    if (mapped) p += kPaletteBytes;
    for (uint32_t y = image.height; y-- > 0; p += row_bytes) {
        if (image.bits == kImageRgb)
            SwapRedBlue(p, image.pixels + y * row_bytes, image.width);
        else
            std::memcpy(p, image.pixels + y * row_bytes, row_bytes);
    }
    size = total;
    return out;
}

bool SaveTga(const ImageData& image, const char* path) {
    size_t size = 0;
    uint8_t* bytes = EncodeTga(image, size);
    if (!bytes) {
        LogPrintf("[ERROR] - CAN'T WRITE TGA : %s", path ? path : "");
        return false;
    }
    std::string target;
    bool ok = path && GetUserFilePath(path, target) && WriteFileAtomic(target.c_str(), bytes, size);
    MemFree(bytes);
    if (!ok) LogPrintf("[ERROR] - CAN'T WRITE TGA : %s", path ? path : "");
    return ok;
}
