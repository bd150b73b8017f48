#include "render/rand48.h"

#include <algorithm>
#include <cstdlib>

namespace {
constexpr uint64_t kMultiplier = 0x5DEECE66DULL;
constexpr uint64_t kMask48 = (1ULL << 48) - 1;
}  // namespace

Rand48::Rand48() {
    SetSeed(static_cast<uint32_t>(std::rand() & 0x7FFF), 0);
}

void Rand48::SetSeed(uint32_t seedLow, uint32_t seedHigh) {
    low = seedLow ^ static_cast<uint32_t>(kMultiplier);
    high = (seedHigh ^ static_cast<uint32_t>(kMultiplier >> 32)) & 0xFFFF;
    flag = false;
}

uint32_t Rand48::Next(int bits) {
    bits = std::clamp(bits, 1, 32);
    uint64_t state = static_cast<uint64_t>(high & 0xFFFF) << 32 | low;
    state = (state * kMultiplier + 11) & kMask48;
    low = static_cast<uint32_t>(state);
    high = static_cast<uint32_t>(state >> 32);
    return static_cast<uint32_t>(state >> (48 - bits));
}

float Rand48::NextFloat() {
    return static_cast<float>(Next(16)) * (1.0f / 65536.0f);
}
