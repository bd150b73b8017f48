#include "media/image/png_codec.h"

#include <zlib.h>

#include <cstdarg>
#include <cstring>

#include "base/file_stream.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/stream.h"

namespace {

constexpr uint32_t kMaxChunk = 0x7FFFFFFF;
// zlib never expands data by more than about 1032 to 1; a header claiming
// more pixels than the rest of the file could inflate to is refused before
// anything is allocated.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint32_t kInputBuffer = 64 * 1024;

constexpr uint32_t ChunkType(const char (&t)[5]) {
    return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 | uint32_t(uint8_t(t[2])) << 8 |
           uint8_t(t[3]);
}

inline uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline uint8_t Paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = p > a ? p - a : a - p;
    int pb = p > b ? p - b : b - p;
    int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc) return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

// Undoes one row's filter: out = raw + prediction from the row to the left
// and the row above (prev, zero for the first row).
template <int BPP>
bool Unfilter(int type, const uint8_t* raw, const uint8_t* prev, uint8_t* out, size_t n) {
    switch (type) {
        case 0:
            std::memcpy(out, raw, n);
            return true;
        case 1:
            for (size_t i = 0; i < BPP && i < n; ++i) out[i] = raw[i];
            for (size_t i = BPP; i < n; ++i) out[i] = uint8_t(raw[i] + out[i - BPP]);
            return true;
        case 2:
            if (!prev) {
                std::memcpy(out, raw, n);
                return true;
            }
            for (size_t i = 0; i < n; ++i) out[i] = uint8_t(raw[i] + prev[i]);
            return true;
        case 3:
            if (!prev) {
                for (size_t i = 0; i < BPP && i < n; ++i) out[i] = raw[i];
                for (size_t i = BPP; i < n; ++i) out[i] = uint8_t(raw[i] + (out[i - BPP] >> 1));
                return true;
            }
            for (size_t i = 0; i < BPP && i < n; ++i) out[i] = uint8_t(raw[i] + (prev[i] >> 1));
            for (size_t i = BPP; i < n; ++i) out[i] = uint8_t(raw[i] + ((out[i - BPP] + prev[i]) >> 1));
            return true;
        case 4:
            if (!prev) {  // Paeth with no row above is Sub
                for (size_t i = 0; i < BPP && i < n; ++i) out[i] = raw[i];
                for (size_t i = BPP; i < n; ++i) out[i] = uint8_t(raw[i] + out[i - BPP]);
                return true;
            }
            for (size_t i = 0; i < BPP && i < n; ++i) out[i] = uint8_t(raw[i] + prev[i]);
            for (size_t i = BPP; i < n; ++i)
                out[i] = uint8_t(raw[i] + Paeth(out[i - BPP], prev[i], prev[i - BPP]));
            return true;
        default:
            return false;
    }
}

// Feeds the data of consecutive IDAT chunks to zlib.
class IdatReader {
public:
    IdatReader(Stream& s, uint32_t first_length) : s_(s), left_(first_length) {}
    ~IdatReader() { MemFree(buffer_); }
    bool Init() {
        buffer_ = static_cast<uint8_t*>(MemAllocUncleared(kInputBuffer));
        return buffer_ != nullptr;
    }
    // Refills the zlib input; false when no image data is left or the file
    // is damaged.
    bool Fill(z_stream& z) {
        while (left_ == 0) {
            if (done_) return false;
            uint8_t head[12];  // CRC of this chunk, length and type of the next
            if (!ReadExact(s_, head, 12) || Be32(head + 8) != ChunkType("IDAT")) {
                done_ = true;
                return false;
            }
            left_ = Be32(head + 4);
            if (left_ > kMaxChunk || left_ > BytesLeft(s_)) {
                done_ = true;
                return false;
            }
        }
        uint32_t n = left_ < kInputBuffer ? left_ : kInputBuffer;
        if (!ReadExact(s_, buffer_, n)) {
            done_ = true;
            return false;
        }
        left_ -= n;
        z.next_in = buffer_;
        z.avail_in = n;
        return true;
    }

private:
    Stream& s_;
    uint32_t left_;
    uint8_t* buffer_ = nullptr;
    bool done_ = false;
};

struct PngHeader {
    uint32_t width = 0, height = 0;
    uint32_t colour_type = 0;
    bool seen = false;
};


bool Invalid(ImageData& image) {
    return FailImage(image, "[ERROR] - INVALID PNG FORMAT!");
}

// Inflates the rows one at a time and undoes their filters into the image.
bool DecodeRows(Stream& s, uint32_t idat_length, ImageData& image, uint32_t bpp) {
    size_t stride = size_t(image.width) * bpp;
    auto* row = static_cast<uint8_t*>(MemAllocUncleared(stride + 1));  // inflated in full before use
    IdatReader input(s, idat_length);
    if (!row || !input.Init()) {
        MemFree(row);
        return false;
    }
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        MemFree(row);
        return false;
    }
    bool ok = true;
    uint8_t* prev = nullptr;
    for (uint32_t y = 0; ok && y < image.height; ++y) {
        z.next_out = row;
        z.avail_out = uInt(stride + 1);
        while (z.avail_out > 0) {
            if (z.avail_in == 0 && !input.Fill(z)) {
                ok = false;
                break;
            }
            int r = inflate(&z, Z_NO_FLUSH);
            if (r == Z_STREAM_END && z.avail_out > 0) ok = false;  // ends before the last row
            if (r != Z_OK && r != Z_STREAM_END) ok = false;
            if (!ok) break;
        }
        if (!ok) break;
        uint8_t* out = image.pixels + y * stride;
        ok = bpp == 3 ? Unfilter<3>(row[0], row + 1, prev, out, stride)
                      : Unfilter<1>(row[0], row + 1, prev, out, stride);
        prev = out;
    }
    // The stream must end exactly after the last row.
    while (ok) {
        uint8_t extra;
        z.next_out = &extra;
        z.avail_out = 1;
        int r = inflate(&z, Z_NO_FLUSH);
        if (r == Z_STREAM_END && z.avail_out == 1) break;
        if ((r != Z_OK && r != Z_BUF_ERROR) || z.avail_out == 0)
            ok = false;
        else if (z.avail_in == 0 && !input.Fill(z))
            ok = false;
    }
    inflateEnd(&z);
    MemFree(row);
    return ok;
}

}  // namespace

bool ReadPng(Stream& s, ImageData& image) {
    image.Reset();
    image.colour_key = 0;
    uint8_t signature[8];
    if (!ReadExact(s, signature, 8)) return Invalid(image);

    PngHeader header;
    bool have_palette = false;
    int transparent_index = -1;  // from a palette image's alpha table
    for (;;) {
        uint8_t head[8];
        if (!ReadExact(s, head, 8)) return FailImage(image, "[ERROR] - PNG HAS NO IMAGE DATA!");
        uint32_t length = Be32(head);
        uint32_t type = Be32(head + 4);
        if (length > kMaxChunk || uint64_t(length) + 4 > BytesLeft(s)) return Invalid(image);

        if (type == ChunkType("IHDR")) {
            uint8_t d[13];
            if (length < 13 || header.seen || !ReadExact(s, d, 13)) return Invalid(image);
            header.width = Be32(d);
            header.height = Be32(d + 4);
            if (d[8] != 8) return FailImage(image, "[ERROR] - PNG COLOR CHANNELS MUST BE 8-BIT");
            header.colour_type = d[9];
            if (d[9] != 0 && d[9] != 2 && d[9] != 3)
                return FailImage(image, "[ERROR] - ONLY 8-BIT PNGS ARE SUPPORTED!");
            if (d[10] != 0 || d[11] != 0) return Invalid(image);
            if (d[12] != 0) return FailImage(image, "[ERROR] - INTERLACED PNGS ARE NOT SUPPORTED!");
            header.seen = true;
            if (!s.SeekAbsolute(s.Tell() + (length - 13) + 4)) return Invalid(image);
            continue;
        }
        if (type == ChunkType("IDAT")) {
            if (!header.seen) return Invalid(image);
            if (header.colour_type == 3 && !have_palette) return Invalid(image);
            uint32_t bpp = header.colour_type == 2 ? 3 : 1;
            if (!CheckImageSize("PNG", header.width, header.height, bpp)) {
                image.Reset();
                return false;
            }
            uint64_t raw = uint64_t(header.height) * (uint64_t(header.width) * bpp + 1);
            if (raw > (BytesLeft(s) + 64) * kMaxInflateRatio) return Invalid(image);
            image.width = header.width;
            image.height = header.height;
            // Every row is written by its filter or the read fails and frees it.
            image.pixels = static_cast<uint8_t*>(MemAllocUncleared(size_t(image.width) * image.height * bpp));
            if (!image.pixels || !DecodeRows(s, length, image, bpp)) return Invalid(image);
            break;
        }
        if (type == ChunkType("IEND")) return FailImage(image, "[ERROR] - PNG HAS NO IMAGE DATA!");
        if (type == ChunkType("PLTE") && header.seen && header.colour_type == 3) {
            if (length % 3 != 0 || length > kPaletteBytes || have_palette) return Invalid(image);
            image.palette = static_cast<uint8_t*>(MemAlloc(kPaletteBytes));
            if (!image.palette || !ReadExact(s, image.palette, length)) return Invalid(image);
            have_palette = true;
            length = 0;
        } else if (type == ChunkType("tRNS") && header.seen) {
            uint8_t t[kPaletteEntries];
            uint32_t n = length < sizeof t ? length : uint32_t(sizeof t);
            if (!ReadExact(s, t, n)) return Invalid(image);
            length -= n;
            if (header.colour_type == 3) {
                // One byte: our files name the transparent index directly.
                // A full alpha table: its first fully transparent entry.
                if (n == 1) transparent_index = t[0];
                for (uint32_t i = 0; n > 1 && i < n && transparent_index < 0; ++i)
                    if (t[i] == 0) transparent_index = int(i);
            } else if (header.colour_type == 2 && n == 6) {
                image.has_colour_key = 1;
                image.colour_key = uint32_t(t[1]) << 16 | uint32_t(t[3]) << 8 | t[5];
            } else if (header.colour_type == 0 && n == 2) {
                image.has_colour_key = 1;
                image.colour_key = t[1];
            }
        }
        if (!s.SeekAbsolute(s.Tell() + length + 4)) return Invalid(image);
    }

    if (header.colour_type == 2) {
        image.bits = kImageRgb;
    } else if (header.colour_type == 0) {
        image.bits = kImageGrey;
    } else {
        image.bits = kImagePalette;
        if (transparent_index >= 0) {
            image.has_colour_key = 1;
            image.colour_key = uint32_t(transparent_index);
        }
        // A grey palette without a key becomes plain grey levels.
        if (!image.has_colour_key && image.HasGreyPalette()) image.PaletteToGreyLevels();
    }
    return true;
}

bool LoadPng(ImageData& image, const char* path) {
    return ReadImageFile(path, image, ReadPng);
}
