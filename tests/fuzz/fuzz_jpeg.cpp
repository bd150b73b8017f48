// Feeds arbitrary bytes to the JPEG reader.
#include "fuzz_image.h"
#include "media/image/jpeg_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::FuzzImageReader(ReadJpeg, data, size);
}
