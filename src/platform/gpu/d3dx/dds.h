#pragma once
// DDS textures in memory: the header is checked field by field and every
// level's size against the bytes that remain before anything is created.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/gpu/device.h"
#include "platform/gpu/gpu_types.h"
#include "platform/gpu/resources.h"

namespace plat::gpu::d3dx {

constexpr Result kInvalidData = static_cast<Result>(0x88760B59u);

// Width or height argument meaning "as stored in the file".
constexpr uint32_t kDefaultSize = 0xFFFFFFFFu;
constexpr uint32_t kDefaultNonPow2 = 0xFFFFFFFEu;

enum class DdsStorage : uint32_t {
    AsFormat,  // the bytes are already in the texture format
    Rgb24,     // 3 bytes B, G, R per pixel: stored as X8R8G8B8
    Abgr32,    // 4 bytes R, G, B, A per pixel: stored as A8R8G8B8
    Xbgr32,    // 4 bytes R, G, B, X per pixel: stored as X8R8G8B8
};

struct DdsInfo {
    uint32_t width = 0, height = 0;
    uint32_t levels = 0;       // mip levels present (1 or more)
    uint32_t headerMips = 0;   // the header's mip-map count word as written (byte 28)
    uint32_t format = fmt::Unknown;  // the texture format the data becomes
    DdsStorage storage = DdsStorage::AsFormat;
    uint32_t fileBytesPerPixel = 0;  // uncompressed formats, as stored
    bool cube = false;
    size_t dataOffset = 0;
};

// Checks a DDS file in memory. false with a short reason when it is not one
// this engine can use or when any level would run past the end.
bool ParseDds(const uint8_t* data, size_t size, DdsInfo* info, std::string* error);

// Offset and size in the file of one face's level.
bool DdsLevelSpan(const DdsInfo& info, uint32_t face, uint32_t level, size_t* offset, size_t* bytes);

struct ImageInfo {
    uint32_t width = 0, height = 0, mipLevels = 0, format = fmt::Unknown;
    ResourceType type = ResourceType::Texture;
};

// Creates a texture from a DDS file: size and format as stored (the size
// arguments accept only the "as stored" values), at most mipLevels levels
// (0: all the file has). error receives the reason of a refusal.
Result CreateTextureFromFileInMemoryEx(Device* device, const void* data, size_t size, uint32_t width,
                                       uint32_t height, uint32_t mipLevels, uint32_t usage, uint32_t format,
                                       Pool pool, uint32_t filter, uint32_t mipFilter, uint32_t colorKey,
                                       ImageInfo* info, Texture** texture, std::string* error = nullptr);

Result CreateCubeTextureFromFileInMemory(Device* device, const void* data, size_t size, CubeTexture** texture,
                                         std::string* error = nullptr);

}  // namespace plat::gpu::d3dx
