#include "base/crc32.h"

#include <zlib.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> t {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i;
        for (int k = 0; k < 8; ++k) r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        t[i] = r;
    }
    return t;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

const uint32_t* Crc32Table() { return kTable.data(); }

void Crc32BuildTable() {}

uint32_t Crc32Update(uint32_t reg, const void* bytes, size_t length) {
    if (!bytes || length == 0) return reg;
    // zlib's crc32 conditions on entry and exit (complements); undo both so
    // the raw register recurrence is what callers get.
    const Bytef* p = static_cast<const Bytef*>(bytes);
    uLong crc = ~reg & 0xFFFFFFFFu;
    while (length > 0) {
        uInt chunk = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
        crc = crc32(crc, p, chunk);
        p += chunk;
        length -= chunk;
    }
    return ~static_cast<uint32_t>(crc);
}

uint32_t Crc32Register(const void* bytes, size_t length) { return Crc32Update(0xFFFFFFFFu, bytes, length); }

uint32_t Crc32UpdateString(uint32_t reg, const char* text) {
    if (!text) return reg;
    return Crc32Update(reg, text, std::strlen(text));
}

uint32_t Crc32OfString(const char* text) { return ~Crc32UpdateString(0xFFFFFFFFu, text); }

uint32_t Crc32UpdateFile(uint32_t reg, const char* path) {
    FILE* f = plat::OpenFile(path, "rb");
    if (!f) return reg;
    unsigned char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) reg = Crc32Update(reg, buf, n);
    std::fclose(f);
    return reg;
}

uint32_t Crc32OfFile(const char* path) {
    FILE* f = plat::OpenFile(path, "rb");
    if (!f) return 0;
    std::fclose(f);
    return ~Crc32UpdateFile(0xFFFFFFFFu, path);
}
