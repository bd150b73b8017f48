#pragma once
// Uncompressed TGA images (types 1 and 2): reading and writing.
#include "media/image/image_data.h"

class Stream;

// Reads a file (packages first). False, the image left empty and one log
// line, on any error.
bool LoadTga(ImageData& image, const char* path);
// The same from any stream, from its current position.
bool ReadTga(Stream& stream, ImageData& image);

// Writes the image to that name in the per-user folder: 8-bit images with
// their palette, grey ones as 8-bit with a grey ramp, 24-bit and 32-bit as
// they are. False when the image is empty or the file cannot be written.
bool SaveTga(const ImageData& image, const char* path);
// The file's bytes in a block from the global allocator (MemFree); null for
// an image that cannot be written.
uint8_t* EncodeTga(const ImageData& image, size_t& size);
