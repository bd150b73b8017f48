#include "platform/gpu/pixel_convert.h"

#include <algorithm>
#include <cstring>

#include "platform/gpu/gpu_types.h"

namespace plat::gpu {

namespace {

uint8_t Clamp255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

void YuvToBgra(int y, int u, int v, uint8_t* out) {
    int t = (y - 16) * 298;
    out[2] = Clamp255((t + 409 * (v - 128) + 128) >> 8);
    out[1] = Clamp255((t - 100 * (u - 128) - 208 * (v - 128) + 128) >> 8);
    out[0] = Clamp255((t + 516 * (u - 128) + 128) >> 8);
    out[3] = 255;
}

// The four colours of a DXT colour block, as B, G, R, A.
void BlockPalette(const uint8_t* b, bool allowTransparent, uint8_t pal[4][4]) {
    uint16_t c0 = uint16_t(b[0] | b[1] << 8), c1 = uint16_t(b[2] | b[3] << 8);
    auto expand = [](uint16_t c, uint8_t* o) {
        int r = (c >> 11) & 31, g = (c >> 5) & 63, bl = c & 31;
        o[0] = uint8_t(bl << 3 | bl >> 2);
        o[1] = uint8_t(g << 2 | g >> 4);
        o[2] = uint8_t(r << 3 | r >> 2);
        o[3] = 255;
    };
    expand(c0, pal[0]);
    expand(c1, pal[1]);
    if (c0 > c1 || !allowTransparent) {
        for (int k = 0; k < 3; ++k) {
            pal[2][k] = uint8_t((2 * pal[0][k] + pal[1][k]) / 3);
            pal[3][k] = uint8_t((pal[0][k] + 2 * pal[1][k]) / 3);
        }
        pal[2][3] = pal[3][3] = 255;
    } else {
        for (int k = 0; k < 3; ++k) pal[2][k] = uint8_t((pal[0][k] + pal[1][k]) / 2);
        pal[2][3] = 255;
        pal[3][0] = pal[3][1] = pal[3][2] = pal[3][3] = 0;
    }
}

}  // namespace

void ConvertYuy2ToBgra(const uint8_t* src, uint32_t srcPitch, uint32_t width, uint32_t height, uint8_t* dst) {
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* s = src + size_t(y) * srcPitch;
        uint8_t* d = dst + size_t(y) * width * 4;
        for (uint32_t x = 0; x < width; x += 2) {
            int y0 = s[0], u = s[1], y1 = s[2], v = s[3];
            YuvToBgra(y0, u, v, d);
            if (x + 1 < width) YuvToBgra(y1, u, v, d + 4);
            s += 4;
            d += 8;
        }
    }
}

void DecodeDxt(uint32_t format, const uint8_t* src, uint32_t blockPitch, uint32_t width, uint32_t height,
               uint8_t* dst) {
    const bool dxt1 = format == fmt::DXT1;
    const bool explicitAlpha = format == fmt::DXT2 || format == fmt::DXT3;
    const uint32_t blockBytes = dxt1 ? 8 : 16;
    for (uint32_t by = 0; by < (height + 3) / 4; ++by) {
        for (uint32_t bx = 0; bx < (width + 3) / 4; ++bx) {
            const uint8_t* b = src + size_t(by) * blockPitch + size_t(bx) * blockBytes;
            uint8_t alpha[16];
            std::memset(alpha, 255, sizeof alpha);
            if (explicitAlpha) {
                for (int i = 0; i < 16; ++i) {
                    int nib = (b[i / 2] >> ((i & 1) * 4)) & 15;
                    alpha[i] = uint8_t(nib * 17);
                }
            } else if (!dxt1) {
                int a0 = b[0], a1 = b[1];
                int av[8] = {a0, a1};
                if (a0 > a1) {
                    for (int k = 1; k < 7; ++k) av[k + 1] = ((7 - k) * a0 + k * a1) / 7;
                } else {
                    for (int k = 1; k < 5; ++k) av[k + 1] = ((5 - k) * a0 + k * a1) / 5;
                    av[6] = 0;
                    av[7] = 255;
                }
                uint64_t bits = 0;
                for (int k = 0; k < 6; ++k) bits |= uint64_t(b[2 + k]) << (8 * k);
                for (int i = 0; i < 16; ++i) alpha[i] = uint8_t(av[(bits >> (3 * i)) & 7]);
            }
            const uint8_t* cb = dxt1 ? b : b + 8;
            uint8_t pal[4][4];
            BlockPalette(cb, dxt1, pal);
            uint32_t idx = uint32_t(cb[4] | cb[5] << 8 | cb[6] << 16 | uint32_t(cb[7]) << 24);
            for (int i = 0; i < 16; ++i) {
                uint32_t x = bx * 4 + uint32_t(i & 3), y = by * 4 + uint32_t(i >> 2);
                if (x >= width || y >= height) continue;
                uint8_t* d = dst + (size_t(y) * width + x) * 4;
                const uint8_t* c = pal[(idx >> (2 * i)) & 3];
                d[0] = c[0];
                d[1] = c[1];
                d[2] = c[2];
                d[3] = dxt1 ? c[3] : alpha[i];
            }
        }
    }
}

}  // namespace plat::gpu
