// Feeds arbitrary bytes to the PNG reader.
#include "fuzz_image.h"
#include "media/image/png_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::FuzzImageReader(ReadPng, data, size);
}
