#pragma once
// CRC-32 with the reflected polynomial 0xEDB88320 (the zlib / ISO 3309 CRC).
//
// Two forms are in use: the "register" form starts at 0xFFFFFFFF and is not
// complemented (pool hashes, script checksums, package checksums), the
// standard form is its complement (package name hashes, mesh cache keys).
#include <cstddef>
#include <cstdint>

// The 256-entry table, a compile-time constant.
const uint32_t* Crc32Table();
// Kept for callers that build it explicitly; the table is always ready.
void Crc32BuildTable();

uint32_t Crc32Update(uint32_t reg, const void* bytes, size_t length);
uint32_t Crc32Register(const void* bytes, size_t length);
uint32_t Crc32UpdateString(uint32_t reg, const char* text);
uint32_t Crc32OfString(const char* text);
// Plain file system (no packages); an unopenable file leaves reg unchanged.
uint32_t Crc32UpdateFile(uint32_t reg, const char* path);
// Standard CRC-32 of a file; 0 when it cannot be opened.
uint32_t Crc32OfFile(const char* path);
