#pragma once
// The device's resources: surfaces, textures and cube textures, vertex and
// index buffers and shader objects. Each is reference counted: creation
// hands out one reference, Release drops one and frees the object at zero.
// Lockable resources keep a copy in memory that goes to the GPU on unlock.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gpu/gpu_types.h"

namespace plat::gpu {

class Device;
class BaseTexture;

// Memory copies of lockable resources. Buffer copies are calloc'd, so large
// ones start as untouched zero pages; texture level copies carry their size
// and go back to a small store of spares when released (see resources.cpp).
struct FreeBytes {
    size_t spareSize = 0;  // texture level copy: its size in bytes
    void operator()(uint8_t* p) const;
};
using ByteCopy = std::unique_ptr<uint8_t[], FreeBytes>;
// Bytes of released texture copies kept for reuse (at most 32 MiB), and
// freeing them (when no more textures are to be made).
size_t SpareTextureCopyBytes();
void ReleaseSpareTextureCopies();
namespace hlsl {
class ShaderCode;
}

class Unknown {
public:
    Unknown() = default;
    Unknown(const Unknown&) = delete;
    Unknown& operator=(const Unknown&) = delete;
    virtual uint32_t AddRef();
    virtual uint32_t Release();

protected:
    virtual ~Unknown() = default;

private:
    uint32_t refs_ = 1;
};

// Something the device keeps GL objects for; the device tells every live
// resource when it goes away, so a late Release never touches a dead context.
class DeviceChild : public Unknown {
public:
    Device* GetDevice() const { return device_; }

protected:
    explicit DeviceChild(Device* device);
    ~DeviceChild() override;
    virtual void DropGpu() {}  // frees the GL objects while the context lives
    Device* device_;
    friend class Device;
};

class Surface : public DeviceChild {
public:
    enum class Kind { TextureLevel, Renderbuffer, Memory };
    Result GetDesc(SurfaceDesc* desc) const;
    Result LockRect(LockedRect* locked, const Rect* rect, uint32_t flags);
    Result UnlockRect();

    // A texture level forwards its references to the texture that holds it.
    uint32_t AddRef() override;
    uint32_t Release() override;

private:
    friend class Device;
    friend class BaseTexture;
    Surface(Device* device, Kind kind, const SurfaceDesc& desc);
    ~Surface() override;
    void DropGpu() override;

    Kind kind_;
    SurfaceDesc desc_;
    BaseTexture* owner_ = nullptr;  // TextureLevel: container
    uint32_t face_ = 0, level_ = 0;
    uint32_t glRenderbuffer_ = 0;   // Renderbuffer
    std::vector<uint8_t> memory_;   // Memory
    uint32_t pitch_ = 0;
    bool locked_ = false;
};

class BaseTexture : public DeviceChild {
public:
    uint32_t GetLevelCount() const { return levels_; }
    ResourceType GetType() const { return type_; }
    Result GetLevelDesc(uint32_t level, SurfaceDesc* desc) const;

protected:
    friend class Device;
    friend class Surface;
    BaseTexture(Device* device, ResourceType type, uint32_t width, uint32_t height, uint32_t levels,
                uint32_t usage, uint32_t format, Pool pool);
    ~BaseTexture() override;
    void DropGpu() override;
    Result LockLevel(uint32_t face, uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags);
    Result UnlockLevel(uint32_t face, uint32_t level);
    Result GetSurface(uint32_t face, uint32_t level, Surface** surface);
    bool Init();  // allocates the GL texture and the memory copies
    void Upload(uint32_t face, uint32_t level);
    void EnsureUploaded();  // levels never written go up zeroed before the first draw
    uint32_t LevelWidth(uint32_t level) const;
    uint32_t LevelHeight(uint32_t level) const;
    size_t Slot(uint32_t face, uint32_t level) const { return face * levels_ + level; }

    ResourceType type_;
    uint32_t width_, height_, levels_, usage_, format_;
    Pool pool_;
    uint32_t faces_ = 1;
    uint32_t glTexture_ = 0;
    uint32_t glTarget_ = 0;
    std::vector<ByteCopy> copies_;  // per face and level, managed textures
    std::vector<uint8_t> lockedMask_;
    std::vector<uint8_t> uploaded_;
    std::vector<uint8_t> written_;  // locked at least once (else cleared before upload)
    std::vector<Surface*> surfaces_;
};

class Texture : public BaseTexture {
public:
    Result LockRect(uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) {
        return LockLevel(0, level, locked, rect, flags);
    }
    Result UnlockRect(uint32_t level) { return UnlockLevel(0, level); }
    Result GetSurfaceLevel(uint32_t level, Surface** surface) { return GetSurface(0, level, surface); }

private:
    friend class Device;
    using BaseTexture::BaseTexture;
};

enum class CubeFace : uint32_t { PositiveX = 0, NegativeX, PositiveY, NegativeY, PositiveZ, NegativeZ };

class CubeTexture : public BaseTexture {
public:
    Result LockRect(CubeFace face, uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) {
        return LockLevel(uint32_t(face), level, locked, rect, flags);
    }
    Result UnlockRect(CubeFace face, uint32_t level) { return UnlockLevel(uint32_t(face), level); }
    Result GetCubeMapSurface(CubeFace face, uint32_t level, Surface** surface) {
        return GetSurface(uint32_t(face), level, surface);
    }

private:
    friend class Device;
    using BaseTexture::BaseTexture;
};

class VertexBuffer : public DeviceChild {
public:
    Result Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags);
    Result Unlock();
    Result GetDesc(VertexBufferDesc* desc) const;

private:
    friend class Device;
    VertexBuffer(Device* device, const VertexBufferDesc& desc);
    ~VertexBuffer() override;
    void DropGpu() override;
    VertexBufferDesc desc_;
    ByteCopy copy_;
    uint32_t glBuffer_ = 0;
    uint32_t glSize_ = 0;  // bytes from the start that the GL store holds (0: nothing uploaded)
    uint32_t lockOffset_ = 0, lockSize_ = 0, lockFlags_ = 0;
    bool locked_ = false;
};

class IndexBuffer : public DeviceChild {
public:
    Result Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags);
    Result Unlock();
    uint32_t GetFormat() const { return format_; }
    uint32_t GetSize() const { return size_; }

private:
    friend class Device;
    IndexBuffer(Device* device, uint32_t size, uint32_t usage, uint32_t format, Pool pool);
    ~IndexBuffer() override;
    void DropGpu() override;
    uint32_t size_, usage_, format_;
    Pool pool_;
    ByteCopy copy_;
    uint32_t glBuffer_ = 0;
    uint32_t lockOffset_ = 0, lockSize_ = 0;
    bool locked_ = false, dirty_ = false, everUploaded_ = false;
};

// A compiled vertex or pixel stage; the GL program is linked per pair by
// the device when it draws.
class Shader : public DeviceChild {
public:
    const hlsl::ShaderCode* Code() const { return code_; }
    uint32_t Id() const { return id_; }

protected:
    friend class Device;
    Shader(Device* device, const hlsl::ShaderCode* code, uint32_t id);
    ~Shader() override;
    void DropGpu() override;
    const hlsl::ShaderCode* code_;
    uint32_t id_;
    uint32_t glUbo_ = 0;
    uint32_t uploadedVersion_ = ~0u;
};

class VertexShader : public Shader {
    friend class Device;
    using Shader::Shader;
};

class PixelShader : public Shader {
    friend class Device;
    using Shader::Shader;
};

// Bytes per pixel row of a level (for DXT: per row of 4 x 4 blocks).
uint32_t FormatPitch(uint32_t format, uint32_t width);
// Rows of a level as stored (for DXT: block rows).
uint32_t FormatRows(uint32_t format, uint32_t height);
bool IsDxtFormat(uint32_t format);

}  // namespace plat::gpu
