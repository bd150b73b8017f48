#pragma once
// The 48-bit linear congruential generator (multiplier 0x5DEECE66D, addend
// 11), seeded by XOR with the multiplier. One serves the scripts, each
// particle source has its own.
#include <cstdint>

class Rand48 {
public:
    // Seeded from the C library's rand().
    Rand48();
    void SetSeed(uint32_t low, uint32_t high);
    // The top bits (1..32) of the next state.
    uint32_t Next(int bits);
    // Next(16) / 65536: [0, 1).
    float NextFloat();

    uint32_t low = 0;
    uint32_t high = 0;  // low 16 bits used
    bool flag = false;  // cleared by every seeding
};
