#pragma once
// The body of the image-reader fuzz targets: arbitrary bytes through one
// reader, then every byte it claims to have filled is touched.
#include <cstddef>
#include <cstdint>

#include "base/byte_stream.h"
#include "media/image/image_data.h"
#include "fuzz_support.h"

namespace fuzz {

inline int FuzzImageReader(bool (*reader)(Stream&, ImageData&), const uint8_t* data, size_t size) {
    static const bool quiet = QuietLog();
    (void)quiet;
    if (size > 0xFFFFFFFFu) return 0;
    ByteStream stream;
    stream.Borrow(data, static_cast<uint32_t>(size));
    ImageData image;
    if (reader(stream, image) && image.pixels) {
        volatile uint8_t sink = 0;
        uint64_t n = image.PixelBytes();
        for (uint64_t i = 0; i < n; i += 61) sink = sink + image.pixels[i];
        if (image.palette) sink = sink + image.palette[kPaletteBytes - 1];
    }
    return 0;
}

}  // namespace fuzz
