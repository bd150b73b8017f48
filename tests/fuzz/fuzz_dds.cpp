// Fuzz target: the DDS reader. Every level the header check accepts must lie
// inside the input, and decoding it must stay inside its buffer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gpu/d3dx/dds.h"
#include "platform/gpu/pixel_convert.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzz::QuietLog();
    (void)quiet;
    using namespace plat::gpu;
    d3dx::DdsInfo info;
    std::string why;
    if (!d3dx::ParseDds(data, size, &info, &why)) return 0;
    for (uint32_t face = 0; face < (info.cube ? 6u : 1u); ++face) {
        for (uint32_t level = 0; level < info.levels; ++level) {
            size_t offset = 0, bytes = 0;
            if (!d3dx::DdsLevelSpan(info, face, level, &offset, &bytes) || offset + bytes > size) __builtin_trap();
            if (!IsDxtFormat(info.format) || level > 2) continue;
            const uint32_t w = std::max(1u, info.width >> level), h = std::max(1u, info.height >> level);
            if (uint64_t(w) * h > (1u << 20)) continue;
            std::vector<uint8_t> out(size_t(w) * h * 4);
            DecodeDxt(info.format, data + offset, FormatPitch(info.format, w), w, h, out.data());
        }
    }
    return 0;
}
