#pragma once
// Writes a byte vector to a file (the seed-writing tools).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline void SaveBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}
