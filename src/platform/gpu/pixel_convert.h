#pragma once
// Conversions of stored pixel formats into 32-bit B, G, R, A bytes for
// upload: YUY2 video frames and DXT1/3/5 blocks.
#include <cstddef>
#include <cstdint>

namespace plat::gpu {

// rows of width pixels; source pitch in bytes; dst is width * 4 per row.
void ConvertYuy2ToBgra(const uint8_t* src, uint32_t srcPitch, uint32_t width, uint32_t height, uint8_t* dst);

// Decodes a DXT level of width x height pixels stored in blocks rows of
// blockPitch bytes. format is one of the DXT four-character codes.
void DecodeDxt(uint32_t format, const uint8_t* src, uint32_t blockPitch, uint32_t width, uint32_t height,
               uint8_t* dst);

}  // namespace plat::gpu
