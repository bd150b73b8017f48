#include "render/color.h"

#include <algorithm>

#include "base/text.h"

namespace {

uint32_t Channel(float v) {
    return static_cast<uint32_t>(std::clamp(SaturateToInt(v * 255.0f), 0, 255));
}

}  // namespace

uint32_t PackColor(float r, float g, float b, float a) {
    return Channel(a) << 24 | Channel(r) << 16 | Channel(g) << 8 | Channel(b);
}

float* ColorToFloat4(float out[4], uint32_t argb) {
    out[0] = static_cast<float>(argb >> 16 & 0xFF) / 255.0f;
    out[1] = static_cast<float>(argb >> 8 & 0xFF) / 255.0f;
    out[2] = static_cast<float>(argb & 0xFF) / 255.0f;
    out[3] = static_cast<float>(argb >> 24) / 255.0f;
    return out;
}

uint32_t ModulateColor(uint32_t a, uint32_t b) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8)
        out |= ((a >> shift & 0xFF) * (b >> shift & 0xFF) / 255) << shift;
    return out;
}
