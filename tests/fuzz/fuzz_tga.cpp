// Feeds arbitrary bytes to the TGA reader.
#include "fuzz_image.h"
#include "media/image/tga_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::FuzzImageReader(ReadTga, data, size);
}
