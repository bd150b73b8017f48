#pragma once
// Packed 32-bit ARGB colours.
#include <cstdint>

// Channels 0..1 to an ARGB word, each x 255 truncated (and held to 0..255).
uint32_t PackColor(float r, float g, float b, float a);
// out = r, g, b, a, each channel / 255.
float* ColorToFloat4(float out[4], uint32_t argb);
// Per byte (a x b) / 255, integer division.
uint32_t ModulateColor(uint32_t a, uint32_t b);
