// Feeds arbitrary bytes to the depth-map reader of "zbuffer.bin".
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/scene_switch.h"
#include "base/byte_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    ByteStream stream;
    stream.Borrow(data, static_cast<uint32_t>(size));
    static std::vector<uint8_t> depth(kDepthBufferBytes);
    size_t got = ReadDepthBuffer(stream, depth.data());
    // What the file held is copied, the rest is 0xFF.
    if (got > kDepthBufferBytes || got > size) __builtin_trap();
    for (size_t i = got; i < kDepthBufferBytes; i += 97)
        if (depth[i] != 0xFF) __builtin_trap();
    for (size_t i = 0; i < got; i += 89)
        if (depth[i] != data[i]) __builtin_trap();
    return 0;
}
