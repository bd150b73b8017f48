#pragma once
// 8-bit PNG images (grey, RGB, palette): our own chunk reader over zlib.
#include "media/image/image_data.h"

class Stream;

// Reads a file (packages first). False, the image left empty and one log
// line, on any error.
bool LoadPng(ImageData& image, const char* path);
// The same from any stream, from its current position.
bool ReadPng(Stream& stream, ImageData& image);
