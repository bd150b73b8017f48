// Feeds arbitrary bytes to the TGA reader.
#include <cstddef>
#include <cstdint>

#include "base/byte_stream.h"
#include "media/tga_codec.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzz::QuietLog();
    (void)quiet;
    if (size > 0xFFFFFFFFu) return 0;
    ByteStream stream;
    stream.Borrow(data, static_cast<uint32_t>(size));
    ImageData image;
    if (ReadTga(stream, image) && image.pixels) {
        // Touch every byte the reader claims to have filled.
        volatile uint8_t sink = 0;
        uint64_t n = image.PixelBytes();
        for (uint64_t i = 0; i < n; i += 61) sink = sink + image.pixels[i];
        if (image.palette) sink = sink + image.palette[kPaletteBytes - 1];
    }
    return 0;
}
