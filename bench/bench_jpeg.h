#pragma once
// Test pictures of the benchmarks: a JPEG file of a colour ramp with some
// noise, different for each seed.
#include <cstdlib>
#include <string>

#include "base/file_stream.h"
#include "base/memory.h"
#include "media/image/image_data.h"
#include "media/image/jpeg_codec.h"

inline void WriteJpeg(const std::string& path, int w, int h, int seed) {
    ImageData image;
    image.width = uint32_t(w);
    image.height = uint32_t(h);
    image.bits = kImageRgb;
    image.pixels = static_cast<uint8_t*>(MemAlloc(size_t(w) * h * 3));
    uint32_t r = uint32_t(seed) * 2654435761u;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            r = r * 1103515245u + 12345u;
            uint8_t* p = image.pixels + (size_t(y) * w + x) * 3;
            p[0] = uint8_t(x / 4 + seed * 40 + (r >> 28));
            p[1] = uint8_t(y / 4 + (r >> 27));
            p[2] = uint8_t((x ^ y) + (r >> 26));
        }
    size_t size = 0;
    uint8_t* jpeg = EncodeJpeg(image, 85, size);
    if (!jpeg || !WriteFileAtomic(path.c_str(), jpeg, size)) std::abort();
    MemFree(jpeg);
}
