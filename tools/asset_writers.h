#pragma once
// Writers shared by the content generators: PNG images, zlib hotspot maps
// and text files. Header-only; each tool links zlib.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "save_bytes.h"

namespace asset_writers {

inline void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

inline void PngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBe32(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBe32(out, uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}

inline std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw) {
    uLongf zlen = compressBound(uLong(raw.size()));
    std::vector<uint8_t> z(zlen);
    if (compress2(z.data(), &zlen, raw.data(), uLong(raw.size()), 9) != Z_OK) return {};
    z.resize(zlen);
    return z;
}

// An 8-bit RGB PNG of the pixels (0xRRGGBB, rows top to bottom).
inline std::vector<uint8_t> EncodePng(const std::vector<uint32_t>& px, int w, int h) {
    std::vector<uint8_t> raw;
    raw.reserve(size_t(h) * (size_t(w) * 3 + 1));
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w; ++x) {
            uint32_t p = px[size_t(y) * w + x];
            raw.push_back(uint8_t(p >> 16));
            raw.push_back(uint8_t(p >> 8));
            raw.push_back(uint8_t(p));
        }
    }
    std::vector<uint8_t> z = Deflate(raw);
    if (z.empty()) return {};
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutBe32(ihdr, uint32_t(w));
    PutBe32(ihdr, uint32_t(h));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    PngChunk(out, "IHDR", ihdr);
    PngChunk(out, "IDAT", z);
    PngChunk(out, "IEND", {});
    return out;
}

// An uncompressed 32-bit TGA of 0xAARRGGBB pixels, rows stored bottom to
// top (the engine reads every TGA that way): for images that need alpha.
inline std::vector<uint8_t> EncodeTga32(const std::vector<uint32_t>& px, int w, int h) {
    std::vector<uint8_t> out(18, 0);
    out[2] = 2;  // true colour
    out[12] = uint8_t(w), out[13] = uint8_t(w >> 8);
    out[14] = uint8_t(h), out[15] = uint8_t(h >> 8);
    out[16] = 32;
    out[17] = 0x08;  // 8 alpha bits
    out.reserve(out.size() + px.size() * 4);
    for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) {
            const uint32_t p = px[size_t(y) * size_t(w) + size_t(x)];
            out.insert(out.end(), {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16), uint8_t(p >> 24)});
        }
    return out;
}

// The hotspot map of a panoramic node: one cell per whole degree, row
// (pitch + 90), column yaw.
constexpr int kMapWidth = 360, kMapHeight = 180;

inline void MapBox(std::vector<uint8_t>& map, int yaw0, int yaw1, int pitch0, int pitch1, int value) {
    map.resize(size_t(kMapWidth) * kMapHeight);
    for (int p = pitch0; p <= pitch1; ++p)
        for (int y = yaw0; y <= yaw1; ++y)
            if (p >= -90 && p < 90 && y >= 0 && y < kMapWidth) map[size_t(p + 90) * kMapWidth + y] = uint8_t(value);
}

inline void AppendText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

inline void SaveText(const std::string& path, const std::string& text) {
    SaveBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace asset_writers
