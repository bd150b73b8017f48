#pragma once
// A decoded image in memory, decoding by file extension, and the grey
// operations used by the cube-face masks.
#include <cstddef>
#include <cstdint>

class Stream;

// Pixel layouts of ImageData::bits.
enum : uint32_t {
    kImageGrey = 0,     // one byte per pixel, no palette
    kImagePalette = 8,  // one palette index per pixel
    kImageRgb = 24,     // bytes R, G, B
    kImageArgb = 32,    // one word A R G B (bytes B, G, R, A in memory)
};

// Every palette the readers hand out has 256 entries of R, G, B, so any
// index is safe to look up.
constexpr size_t kPaletteEntries = 256;
constexpr size_t kPaletteBytes = kPaletteEntries * 3;

// The largest image a reader accepts: 16384 pixels a side and 256 MiB of
// pixels.
constexpr uint32_t kMaxImageSide = 16384;
constexpr uint64_t kMaxImageBytes = 256ull << 20;

struct ImageData {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bits = 0;
    uint8_t* palette = nullptr;  // kPaletteBytes, for 8-bit images only
    uint8_t has_colour_key = 0;
    uint32_t colour_key = 0;    // 8-bit: the index; 24-bit: 0xRRGGBB
    uint8_t* alpha = nullptr;   // optional, one byte per pixel
    uint8_t* pixels = nullptr;  // rows top to bottom, no padding

    ImageData() = default;
    ~ImageData() { Free(); }
    ImageData(const ImageData&) = delete;
    ImageData& operator=(const ImageData&) = delete;

    // Frees pixels, palette and alpha plane and clears every field.
    void Free();
    // Clears what a reader fills: size, layout, palette, colour key, pixels.
    void Reset();
    // Bytes per pixel of the layout (1 for grey and palette), 0 for an
    // unknown layout.
    uint32_t BytesPerPixel() const;
    // Bytes of the pixel block.
    uint64_t PixelBytes() const { return uint64_t(width) * height * BytesPerPixel(); }
    // Converts an 8-bit, 24-bit or 32-bit image to grey in place,
    // (76 R + 150 G + 30 B) >> 8.
    void ToGrey();
    // True for an 8-bit image whose palette holds only greys.
    bool HasGreyPalette() const;
    // Replaces each index of an 8-bit image by the first byte of its entry
    // and drops the palette (bits 0).
    void PaletteToGreyLevels();
};

// Decodes by extension: ".tga", ".jpg"/".jpeg", ".png" (any case). A path
// without one of those is tried with each appended in that order.
bool LoadImage(const char* path, ImageData& image);

// Nearest-neighbour scaling of grey pixels into a new block from the global
// allocator (MemFree); null for an empty size or when memory runs out.
uint8_t* ResampleGrey(const uint8_t* pixels, int32_t width, int32_t height, int32_t new_width,
                      int32_t new_height);

// The next four bytes as a big-endian number (0 when fewer remain).
uint32_t ReadBigEndian32(Stream* stream);

// Opens the file (packages first) and runs the reader over it; false when
// it cannot be opened.
bool ReadImageFile(const char* path, ImageData& image, bool (*reader)(Stream&, ImageData&));

// Reads exactly n bytes; false on a short read.
bool ReadExact(Stream& stream, void* buffer, uint32_t n);
// Logs one line, empties the image and answers false: how a reader gives up.
bool FailImage(ImageData& image, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Bytes between the stream's position and its end.
uint64_t BytesLeft(Stream& stream);
// Size checks shared by the readers: false (and a log line naming the
// format) when the image is empty or larger than the limits above.
bool CheckImageSize(const char* format, uint64_t width, uint64_t height, uint64_t bytes_per_pixel);

// The extension of a path: its last four characters when they start with
// '.', or a trailing ".jpeg"; null otherwise (short names included).
const char* ImageExtension(const char* path);
