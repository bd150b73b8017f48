#pragma once
// How each stored pixel format lives in GL. Internal to the device.
#include <cstdint>

#include "platform/gpu/gl_api.h"
#include "platform/gpu/gpu_types.h"

namespace plat::gpu {

// The texture unit the device uses for uploads and copies, never for drawing.
constexpr uint32_t kUploadUnit = 15;

struct GlFormat {
    GLenum internalFormat = 0;
    GLenum uploadFormat = 0;
    GLenum uploadType = 0;
    GLint swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
};

inline GlFormat GlFormatOf(uint32_t format) {
    GlFormat g;
    switch (format) {
        case fmt::A8R8G8B8:
        case fmt::YUY2:
        case fmt::DXT1:
        case fmt::DXT2:
        case fmt::DXT3:
        case fmt::DXT4:
        case fmt::DXT5: g = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE}; break;
        case fmt::X8R8G8B8: g = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}}; break;
        case fmt::R5G6B5: g = {GL_RGB8, GL_RGB, GL_UNSIGNED_SHORT_5_6_5}; break;
        case fmt::A1R5G5B5: g = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV}; break;
        case fmt::X1R5G5B5:
            g = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}};
            break;
        case fmt::A4R4G4B4: g = {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV}; break;
        case fmt::L8: g = {GL_R8, GL_RED, GL_UNSIGNED_BYTE, {GL_RED, GL_RED, GL_RED, GL_ONE}}; break;
        case fmt::A8: g = {GL_R8, GL_RED, GL_UNSIGNED_BYTE, {GL_ZERO, GL_ZERO, GL_ZERO, GL_RED}}; break;
        case fmt::A8L8: g = {GL_RG8, GL_RG, GL_UNSIGNED_BYTE, {GL_RED, GL_RED, GL_RED, GL_GREEN}}; break;
        default: break;
    }
    return g;
}

// Bytes per pixel of an uncompressed format (YUY2: 2).
inline uint32_t FormatBytes(uint32_t format) {
    switch (format) {
        case fmt::A8R8G8B8:
        case fmt::X8R8G8B8: return 4;
        case fmt::R8G8B8: return 3;
        case fmt::R5G6B5:
        case fmt::A1R5G5B5:
        case fmt::X1R5G5B5:
        case fmt::A4R4G4B4:
        case fmt::A8L8:
        case fmt::YUY2: return 2;
        case fmt::L8:
        case fmt::A8: return 1;
        default: return 4;
    }
}

}  // namespace plat::gpu
