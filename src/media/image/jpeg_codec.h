#pragma once
// JPEG images through libjpeg, with our own stream source, destination and
// error managers.
#include <cstddef>
#include <cstdint>

#include "media/image/image_data.h"

class Stream;

// Reads an RGB JPEG file (packages first) into a 24-bit image. False, the
// image left empty and a log line, on any error.
bool LoadJpeg(ImageData& image, const char* path);
// The same from any stream, from its current position.
bool ReadJpeg(Stream& stream, ImageData& image);

// Writes a 24-bit image to that name in the per-user folder with quality
// 0..100.
bool SaveJpeg(const ImageData& image, const char* path, int quality);
// Compresses a 24-bit image into a block from the global allocator
// (MemFree); null on failure.
uint8_t* EncodeJpeg(const ImageData& image, int quality, size_t& size);
