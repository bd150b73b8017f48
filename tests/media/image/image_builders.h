#pragma once
// Small images made in the tests: TGA and PNG files built byte by byte, and
// a log recorder.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_stream.h"
#include "base/log.h"
#include "media/image/image_data.h"

namespace media_test {

// Records the log lines while it lives.
class LogRecorder {
public:
    LogRecorder() {
        lines().clear();
        SetLogSink([](const char* line, unsigned) { lines().push_back(line); });
    }
    ~LogRecorder() { SetLogSink(nullptr); }
    static std::vector<std::string>& lines() {
        static std::vector<std::string> l;
        return l;
    }
    bool Has(const std::string& text) const {
        for (const auto& l : lines())
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    size_t Count() const { return lines().size(); }
};

inline std::string Bytes(const uint8_t* p, size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

// Runs a reader over the bytes held in memory.
inline bool ReadWith(bool (*reader)(Stream&, ImageData&), const std::string& bytes, ImageData& image) {
    ByteStream s;
    s.Borrow(bytes.data(), uint32_t(bytes.size()));
    return reader(s, image);
}

inline void Le16(std::string& s, uint32_t v) {
    s += char(v & 255);
    s += char((v >> 8) & 255);
}
inline void Be32(std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += char((v >> (i * 8)) & 255);
}

struct TgaShape {
    uint8_t id_length = 0;
    uint8_t map_type = 0;
    uint8_t image_type = 2;
    uint16_t map_length = 0;
    uint8_t map_entry_bits = 0;
    uint16_t width = 0, height = 0;
    uint8_t depth = 24;
    uint8_t descriptor = 0;
};

// Header, image id of id_length bytes, then the given map and pixel bytes
// exactly as they stand in the file.
inline std::string MakeTga(const TgaShape& t, const std::string& map, const std::string& pixels) {
    std::string s;
    s += char(t.id_length);
    s += char(t.map_type);
    s += char(t.image_type);
    Le16(s, 0);
    Le16(s, t.map_length);
    s += char(t.map_entry_bits);
    Le16(s, 0);
    Le16(s, 0);
    Le16(s, t.width);
    Le16(s, t.height);
    s += char(t.depth);
    s += char(t.descriptor);
    s += std::string(t.id_length, 'i');
    return s + map + pixels;
}

inline std::string PngChunk(const char* type, const std::string& data) {
    std::string s;
    Be32(s, uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    s += body;
    Be32(s, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    return s;
}

inline std::string PngHeader(uint32_t w, uint32_t h, int depth, int colour_type, int interlace = 0) {
    std::string d;
    Be32(d, w);
    Be32(d, h);
    d += char(depth);
    d += char(colour_type);
    d += char(0);
    d += char(0);
    d += char(interlace);
    return PngChunk("IHDR", d);
}

inline std::string Deflate(const std::string& raw) {
    uLongf n = compressBound(uLong(raw.size()));
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(raw.data()),
              uLong(raw.size()), 9);
    out.resize(n);
    return out;
}

inline uint8_t PaethPredict(int a, int b, int c) {
    int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
    if (pa <= pb && pa <= pc) return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

// Filters the rows (each width * bpp bytes) with the given filter type per
// row (cycling through the list) into the raw stream that is deflated.
inline std::string FilterRows(const std::vector<std::string>& rows, int bpp,
                              const std::vector<int>& filters) {
    std::string raw;
    for (size_t y = 0; y < rows.size(); ++y) {
        int f = filters[y % filters.size()];
        raw += char(f);
        const std::string& r = rows[y];
        for (size_t i = 0; i < r.size(); ++i) {
            int a = i >= size_t(bpp) ? uint8_t(r[i - bpp]) : 0;
            int b = y ? uint8_t(rows[y - 1][i]) : 0;
            int c = y && i >= size_t(bpp) ? uint8_t(rows[y - 1][i - bpp]) : 0;
            int pred = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : PaethPredict(a, b, c);
            raw += char(uint8_t(uint8_t(r[i]) - pred));
        }
    }
    return raw;
}

inline const std::string& PngSignature() {
    static const std::string sig("\x89PNG\r\n\x1a\n", 8);
    return sig;
}

// A whole PNG: signature, header, the extra chunks, the data in one IDAT
// chunk, IEND.
inline std::string MakePng(uint32_t w, uint32_t h, int colour_type, const std::vector<std::string>& rows,
                           const std::vector<int>& filters, const std::string& extra = "") {
    // Bytes per pixel of each 8-bit colour type: grey, RGB, palette, grey
    // with alpha, RGBA.
    int bpp = colour_type == 2 ? 3 : colour_type == 4 ? 2 : colour_type == 6 ? 4 : 1;
    return PngSignature() + PngHeader(w, h, 8, colour_type) + extra +
           PngChunk("IDAT", Deflate(FilterRows(rows, bpp, filters))) + PngChunk("IEND", "");
}

}  // namespace media_test
