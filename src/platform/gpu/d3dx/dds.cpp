#include "platform/gpu/d3dx/dds.h"

#include <algorithm>
#include <cstring>

namespace plat::gpu::d3dx {

namespace {

constexpr uint32_t kMagic = FourCC('D', 'D', 'S', ' ');
constexpr uint32_t kHeaderSize = 124;
constexpr uint32_t kFlagMipCount = 0x20000;
constexpr uint32_t kPfAlphaPixels = 0x1;
constexpr uint32_t kPfAlpha = 0x2;
constexpr uint32_t kPfFourCC = 0x4;
constexpr uint32_t kPfRgb = 0x40;
constexpr uint32_t kPfLuminance = 0x20000;
constexpr uint32_t kCaps2Cube = 0x200;
constexpr uint32_t kCaps2AllFaces = 0xFC00;
constexpr uint32_t kCaps2Volume = 0x200000;
constexpr uint32_t kMaxSize = 16384;

uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

bool Fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
}

uint64_t LevelBytes(const DdsInfo& info, uint32_t level) {
    uint64_t w = std::max(1u, info.width >> level), h = std::max(1u, info.height >> level);
    if (IsDxtFormat(info.format)) return ((w + 3) / 4) * ((h + 3) / 4) * (info.format == fmt::DXT1 ? 8 : 16);
    return w * h * info.fileBytesPerPixel;
}

uint64_t FaceBytes(const DdsInfo& info) {
    uint64_t total = 0;
    for (uint32_t l = 0; l < info.levels; ++l) total += LevelBytes(info, l);
    return total;
}

}  // namespace

bool ParseDds(const uint8_t* data, size_t size, DdsInfo* out, std::string* error) {
    if (!data || !out) return Fail(error, "no data");
    if (size < 4 + kHeaderSize) return Fail(error, "shorter than a DDS header");
    if (U32(data) != kMagic) return Fail(error, "not a DDS file");
    const uint8_t* h = data + 4;
    if (U32(h) != kHeaderSize) return Fail(error, "bad header size");
    if (U32(h + 72) != 32) return Fail(error, "bad pixel format size");
    DdsInfo info;
    const uint32_t flags = U32(h + 4);
    info.height = U32(h + 8);
    info.width = U32(h + 12);
    info.headerMips = U32(h + 24);
    const uint32_t pfFlags = U32(h + 76), fourCC = U32(h + 80), bits = U32(h + 84);
    const uint32_t rMask = U32(h + 88), gMask = U32(h + 92), bMask = U32(h + 96), aMask = U32(h + 100);
    const uint32_t caps2 = U32(h + 108);
    if (info.width == 0 || info.height == 0 || info.width > kMaxSize || info.height > kMaxSize)
        return Fail(error, "bad size");
    if (caps2 & kCaps2Volume) return Fail(error, "volume textures are not supported");
    if (caps2 & kCaps2Cube) {
        if ((caps2 & kCaps2AllFaces) != kCaps2AllFaces) return Fail(error, "cube map without all six faces");
        if (info.width != info.height) return Fail(error, "cube map faces are not square");
        info.cube = true;
    }
    if (pfFlags & kPfFourCC) {
        switch (fourCC) {
            case fmt::DXT1:
            case fmt::DXT2:
            case fmt::DXT3:
            case fmt::DXT4:
            case fmt::DXT5: info.format = fourCC; break;
            case fmt::A8R8G8B8:
            case fmt::X8R8G8B8: info.format = fourCC, info.fileBytesPerPixel = 4; break;
            case fmt::R5G6B5:
            case fmt::A1R5G5B5:
            case fmt::X1R5G5B5:
            case fmt::A4R4G4B4:
            case fmt::A8L8: info.format = fourCC, info.fileBytesPerPixel = 2; break;
            case fmt::L8:
            case fmt::A8: info.format = fourCC, info.fileBytesPerPixel = 1; break;
            default: return Fail(error, "unsupported four-character format");
        }
    } else if (pfFlags & kPfRgb) {
        const bool alpha = (pfFlags & kPfAlphaPixels) && aMask;
        if (bits == 32 && rMask == 0xFF0000 && gMask == 0xFF00 && bMask == 0xFF) {
            info.format = alpha ? fmt::A8R8G8B8 : fmt::X8R8G8B8;
        } else if (bits == 32 && rMask == 0xFF && gMask == 0xFF00 && bMask == 0xFF0000) {
            info.format = alpha ? fmt::A8R8G8B8 : fmt::X8R8G8B8;
            info.storage = alpha ? DdsStorage::Abgr32 : DdsStorage::Xbgr32;
        } else if (bits == 24 && rMask == 0xFF0000 && gMask == 0xFF00 && bMask == 0xFF) {
            info.format = fmt::X8R8G8B8;
            info.storage = DdsStorage::Rgb24;
        } else if (bits == 16 && rMask == 0xF800 && gMask == 0x7E0 && bMask == 0x1F) {
            info.format = fmt::R5G6B5;
        } else if (bits == 16 && rMask == 0x7C00 && gMask == 0x3E0 && bMask == 0x1F) {
            info.format = alpha && aMask == 0x8000 ? fmt::A1R5G5B5 : fmt::X1R5G5B5;
        } else if (bits == 16 && rMask == 0xF00 && gMask == 0xF0 && bMask == 0xF && alpha) {
            info.format = fmt::A4R4G4B4;
        } else {
            return Fail(error, "unsupported RGB layout");
        }
        info.fileBytesPerPixel = bits / 8;
    } else if (pfFlags & kPfLuminance) {
        if (bits == 8 && rMask == 0xFF)
            info.format = fmt::L8;
        else if (bits == 16 && rMask == 0xFF && aMask == 0xFF00)
            info.format = fmt::A8L8;
        else
            return Fail(error, "unsupported luminance layout");
        info.fileBytesPerPixel = bits / 8;
    } else if ((pfFlags & kPfAlpha) && bits == 8 && aMask == 0xFF) {
        info.format = fmt::A8;
        info.fileBytesPerPixel = 1;
    } else {
        return Fail(error, "unsupported pixel format");
    }
    uint32_t fullChain = 1;
    for (uint32_t s = std::max(info.width, info.height); s > 1; s >>= 1) ++fullChain;
    info.levels = 1;
    if ((flags & kFlagMipCount) && info.headerMips > 1) {
        if (info.headerMips > fullChain) return Fail(error, "more mip levels than the size allows");
        info.levels = info.headerMips;
    }
    info.dataOffset = 4 + kHeaderSize;
    const uint64_t need = FaceBytes(info) * (info.cube ? 6 : 1);
    if (need > size - info.dataOffset) return Fail(error, "pixel data shorter than its levels");
    *out = info;
    return true;
}

bool DdsLevelSpan(const DdsInfo& info, uint32_t face, uint32_t level, size_t* offset, size_t* bytes) {
    if (level >= info.levels || face >= (info.cube ? 6u : 1u)) return false;
    uint64_t at = info.dataOffset + FaceBytes(info) * face;
    for (uint32_t l = 0; l < level; ++l) at += LevelBytes(info, l);
    *offset = size_t(at);
    *bytes = size_t(LevelBytes(info, level));
    return true;
}

namespace {

// Copies one level from the file into a locked level of the texture.
void CopyLevel(const DdsInfo& info, const uint8_t* src, uint32_t level, const LockedRect& lr) {
    const uint32_t w = std::max(1u, info.width >> level), h = std::max(1u, info.height >> level);
    const uint32_t rows = FormatRows(info.format, h);
    const uint32_t srcPitch =
        IsDxtFormat(info.format) ? FormatPitch(info.format, w) : w * info.fileBytesPerPixel;
    auto* dst = static_cast<uint8_t*>(lr.bits);
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* s = src + size_t(y) * srcPitch;
        uint8_t* d = dst + size_t(y) * uint32_t(lr.pitch);
        switch (info.storage) {
            case DdsStorage::AsFormat: std::memcpy(d, s, srcPitch); break;
            case DdsStorage::Rgb24:
                for (uint32_t x = 0; x < w; ++x, s += 3, d += 4) d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 255;
                break;
            case DdsStorage::Abgr32:
            case DdsStorage::Xbgr32:
                for (uint32_t x = 0; x < w; ++x, s += 4, d += 4)
                    d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = info.storage == DdsStorage::Abgr32 ? s[3] : 255;
                break;
        }
    }
}

bool AsStored(uint32_t v) { return v == 0 || v == kDefaultSize || v == kDefaultNonPow2; }

}  // namespace

Result CreateTextureFromFileInMemoryEx(Device* device, const void* data, size_t size, uint32_t width,
                                       uint32_t height, uint32_t mipLevels, uint32_t usage, uint32_t format,
                                       Pool pool, uint32_t, uint32_t, uint32_t, ImageInfo* imageInfo,
                                       Texture** texture, std::string* error) {
    if (!device || !texture || !data) return kInvalidCall;
    *texture = nullptr;
    DdsInfo info;
    if (!ParseDds(static_cast<const uint8_t*>(data), size, &info, error)) return kInvalidData;
    if (info.cube) {
        if (error) *error = "a cube map where a texture was expected";
        return kInvalidData;
    }
    if ((!AsStored(width) && width != info.width) || (!AsStored(height) && height != info.height) ||
        (format != fmt::Unknown && format != info.format)) {
        if (error) *error = "resizing or converting DDS textures is not supported";
        return kNotAvailable;
    }
    uint32_t levels = (mipLevels == 0 || mipLevels == kDefaultSize || mipLevels > info.levels) ? info.levels : mipLevels;
    Texture* t = nullptr;
    Result r = device->CreateTexture(info.width, info.height, levels, usage, info.format, pool, &t);
    if (Failed(r)) {
        if (error) *error = "the device refused the texture";
        return r;
    }
    for (uint32_t l = 0; l < levels; ++l) {
        size_t offset = 0, bytes = 0;
        DdsLevelSpan(info, 0, l, &offset, &bytes);
        LockedRect lr;
        if (Failed(t->LockRect(l, &lr, nullptr, 0))) {
            t->Release();
            return kFail;
        }
        CopyLevel(info, static_cast<const uint8_t*>(data) + offset, l, lr);
        t->UnlockRect(l);
    }
    if (imageInfo) *imageInfo = {info.width, info.height, info.levels, info.format, ResourceType::Texture};
    *texture = t;
    return kOk;
}

Result CreateCubeTextureFromFileInMemory(Device* device, const void* data, size_t size, CubeTexture** texture,
                                         std::string* error) {
    if (!device || !texture || !data) return kInvalidCall;
    *texture = nullptr;
    DdsInfo info;
    if (!ParseDds(static_cast<const uint8_t*>(data), size, &info, error)) return kInvalidData;
    if (!info.cube) {
        if (error) *error = "not a cube map";
        return kInvalidData;
    }
    CubeTexture* t = nullptr;
    Result r = device->CreateCubeTexture(info.width, info.levels, 0, info.format, Pool::Managed, &t);
    if (Failed(r)) return r;
    for (uint32_t f = 0; f < 6; ++f) {
        for (uint32_t l = 0; l < info.levels; ++l) {
            size_t offset = 0, bytes = 0;
            DdsLevelSpan(info, f, l, &offset, &bytes);
            LockedRect lr;
            if (Failed(t->LockRect(CubeFace(f), l, &lr, nullptr, 0))) {
                t->Release();
                return kFail;
            }
            CopyLevel(info, static_cast<const uint8_t*>(data) + offset, l, lr);
            t->UnlockRect(CubeFace(f), l);
        }
    }
    *texture = t;
    return kOk;
}

}  // namespace plat::gpu::d3dx
