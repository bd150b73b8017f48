#include "platform/gpu/resources.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/gpu/device.h"
#include "platform/gpu/gl_api.h"
#include "platform/gpu/gl_formats.h"
#include "platform/gpu/hlsl/shader_code.h"
#include "platform/gpu/pixel_convert.h"

namespace plat::gpu {

namespace {

ByteCopy ZeroedBytes(size_t n) { return ByteCopy(static_cast<uint8_t*>(std::calloc(n ? n : 1, 1))); }

// Released texture level copies of kMinSpare bytes or more, kept for the
// next level of the same size. A fresh block of megabytes costs a page fault
// per page on every texture made (several times the upload itself); a game
// makes and drops textures of a few sizes over and over. The store is
// bounded: the oldest spares make room for newer ones.
class SpareCopies {
public:
    static constexpr size_t kMinSpare = 64 * 1024;
    static constexpr size_t kMaxBytes = 32u << 20;
    static constexpr size_t kMaxBlocks = 16;

    uint8_t* Take(size_t n) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = count_; i-- > 0;) {
            if (spares_[i].size != n) continue;
            uint8_t* p = spares_[i].block;
            bytes_ -= n;
            for (size_t j = i + 1; j < count_; ++j) spares_[j - 1] = spares_[j];
            --count_;
            return p;
        }
        return static_cast<uint8_t*>(std::malloc(n));
    }
    // Takes back a block that Take handed out.
    void Give(uint8_t* p, size_t n) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (n >= kMinSpare && n <= kMaxBytes) {
            // The oldest spares make room.
            while (count_ == kMaxBlocks || bytes_ + n > kMaxBytes) DropOldest();
            spares_[count_++] = {p, n};
            bytes_ += n;
            return;
        }
        std::free(p);
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        while (count_) DropOldest();
    }
    size_t SpareBytes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }

private:
    void DropOldest() {
        std::free(spares_[0].block);
        bytes_ -= spares_[0].size;
        for (size_t j = 1; j < count_; ++j) spares_[j - 1] = spares_[j];
        --count_;
    }
    struct Spare {
        uint8_t* block;
        size_t size;
    };
    std::mutex mutex_;
    Spare spares_[kMaxBlocks] = {};
    size_t count_ = 0, bytes_ = 0;
};

SpareCopies& Spares() {
    static SpareCopies* spares = new SpareCopies();  // outlives every texture
    return *spares;
}

// Texture levels are written by their first lock or cleared before their
// first upload, so they need not be cleared when made.
ByteCopy UnclearedBytes(size_t n) {
    if (n == 0) n = 1;
    return ByteCopy(Spares().Take(n), FreeBytes{n});
}

}  // namespace

void FreeBytes::operator()(uint8_t* p) const {
    if (spareSize)
        Spares().Give(p, spareSize);
    else
        std::free(p);
}

size_t SpareTextureCopyBytes() { return Spares().SpareBytes(); }
void ReleaseSpareTextureCopies() { Spares().Clear(); }

uint32_t Unknown::AddRef() { return ++refs_; }

uint32_t Unknown::Release() {
    uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
}

DeviceChild::DeviceChild(Device* device) : device_(device) {
    if (device_) device_->Track(this);
}

DeviceChild::~DeviceChild() {
    if (device_) device_->Untrack(this);
}

bool IsDxtFormat(uint32_t f) {
    return f == fmt::DXT1 || f == fmt::DXT2 || f == fmt::DXT3 || f == fmt::DXT4 || f == fmt::DXT5;
}

uint32_t FormatPitch(uint32_t format, uint32_t width) {
    if (IsDxtFormat(format)) return ((width + 3) / 4) * (format == fmt::DXT1 ? 8 : 16);
    if (format == fmt::YUY2) return ((width + 1) / 2) * 4;
    return width * FormatBytes(format);
}

uint32_t FormatRows(uint32_t format, uint32_t height) { return IsDxtFormat(format) ? (height + 3) / 4 : height; }

// ---------------------------------------------------------------- Surface

Surface::Surface(Device* device, Kind kind, const SurfaceDesc& desc)
    : DeviceChild(kind == Kind::TextureLevel ? nullptr : device), kind_(kind), desc_(desc) {
    if (kind == Kind::TextureLevel) device_ = device;  // tracked through its texture
}

Surface::~Surface() {
    if (kind_ == Kind::TextureLevel) device_ = nullptr;  // never tracked on its own
    DropGpu();
}

void Surface::DropGpu() {
    if (glRenderbuffer_ && device_) {
        device_->MakeCurrent();
        glDeleteRenderbuffers(1, &glRenderbuffer_);
    }
    glRenderbuffer_ = 0;
}

uint32_t Surface::AddRef() { return owner_ ? owner_->AddRef() : Unknown::AddRef(); }
uint32_t Surface::Release() { return owner_ ? owner_->Release() : Unknown::Release(); }

Result Surface::GetDesc(SurfaceDesc* desc) const {
    if (!desc) return kInvalidCall;
    *desc = desc_;
    return kOk;
}

Result Surface::LockRect(LockedRect* locked, const Rect* rect, uint32_t flags) {
    if (!locked) return kInvalidCall;
    if (kind_ == Kind::TextureLevel) return owner_->LockLevel(face_, level_, locked, rect, flags);
    if (kind_ != Kind::Memory || locked_) return kInvalidCall;
    size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > int32_t(desc_.width) ||
            rect->bottom > int32_t(desc_.height) || rect->left >= rect->right || rect->top >= rect->bottom)
            return kInvalidCall;
        offset = size_t(rect->top) * pitch_ + size_t(rect->left) * FormatBytes(desc_.format);
    }
    locked->pitch = int32_t(pitch_);
    locked->bits = memory_.data() + offset;
    locked_ = true;
    return kOk;
}

Result Surface::UnlockRect() {
    if (kind_ == Kind::TextureLevel) return owner_->UnlockLevel(face_, level_);
    if (kind_ != Kind::Memory || !locked_) return kInvalidCall;
    locked_ = false;
    return kOk;
}

// ------------------------------------------------------------ BaseTexture

BaseTexture::BaseTexture(Device* device, ResourceType type, uint32_t width, uint32_t height, uint32_t levels,
                         uint32_t usage, uint32_t format, Pool pool)
    : DeviceChild(device),
      type_(type),
      width_(width),
      height_(height),
      levels_(levels),
      usage_(usage),
      format_(format),
      pool_(pool) {
    faces_ = type == ResourceType::CubeTexture ? 6 : 1;
}

BaseTexture::~BaseTexture() {
    for (Surface* s : surfaces_) {
        if (!s) continue;
        s->owner_ = nullptr;
        s->device_ = nullptr;
        delete s;
    }
    DropGpu();
}

void BaseTexture::DropGpu() {
    if (glTexture_ && device_) {
        device_->MakeCurrent();
        device_->ForgetTexture(this);
        glDeleteTextures(1, &glTexture_);
    }
    glTexture_ = 0;
}

uint32_t BaseTexture::LevelWidth(uint32_t level) const { return std::max(1u, width_ >> level); }
uint32_t BaseTexture::LevelHeight(uint32_t level) const { return std::max(1u, height_ >> level); }

bool BaseTexture::Init() {
    const GlFormat gf = GlFormatOf(format_);
    if (!gf.internalFormat) return false;
    glTarget_ = type_ == ResourceType::CubeTexture ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D;
    device_->MakeCurrent();
    glGenTextures(1, &glTexture_);
    glActiveTexture(GL_TEXTURE0 + kUploadUnit);
    glBindTexture(glTarget_, glTexture_);
    glTexParameteri(glTarget_, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(glTarget_, GL_TEXTURE_MAX_LEVEL, GLint(levels_ - 1));
    glTexParameteri(glTarget_, GL_TEXTURE_SWIZZLE_R, gf.swizzle[0]);
    glTexParameteri(glTarget_, GL_TEXTURE_SWIZZLE_G, gf.swizzle[1]);
    glTexParameteri(glTarget_, GL_TEXTURE_SWIZZLE_B, gf.swizzle[2]);
    glTexParameteri(glTarget_, GL_TEXTURE_SWIZZLE_A, gf.swizzle[3]);
    const size_t slots = size_t(faces_) * levels_;
    surfaces_.assign(slots, nullptr);
    lockedMask_.assign(slots, 0);
    uploaded_.assign(slots, 0);
    written_.assign(slots, 0);
    if (usage_ & kUsageRenderTarget) {
        // Render targets live on the GPU only; allocate every level now.
        for (uint32_t f = 0; f < faces_; ++f) {
            for (uint32_t l = 0; l < levels_; ++l) {
                GLenum target = faces_ == 6 ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + f : GL_TEXTURE_2D;
                glTexImage2D(target, GLint(l), GLint(gf.internalFormat), GLsizei(LevelWidth(l)),
                             GLsizei(LevelHeight(l)), 0, gf.uploadFormat, gf.uploadType, nullptr);
                uploaded_[Slot(f, l)] = 1;
            }
        }
        return glGetError() == GL_NO_ERROR;
    }
    copies_.resize(slots);
    for (uint32_t f = 0; f < faces_; ++f) {
        for (uint32_t l = 0; l < levels_; ++l) {
            size_t bytes = size_t(FormatPitch(format_, LevelWidth(l))) * FormatRows(format_, LevelHeight(l));
            copies_[Slot(f, l)] = UnclearedBytes(bytes);
            if (!copies_[Slot(f, l)]) return false;
        }
    }
    return true;
}

void BaseTexture::Upload(uint32_t face, uint32_t level) {
    const GlFormat gf = GlFormatOf(format_);
    const uint32_t w = LevelWidth(level), h = LevelHeight(level);
    const uint8_t* data = copies_[Slot(face, level)].get();
    std::unique_ptr<uint8_t[]> converted;
    if (format_ == fmt::YUY2 || IsDxtFormat(format_)) {
        converted.reset(new uint8_t[size_t(w) * h * 4]);
        if (format_ == fmt::YUY2)
            ConvertYuy2ToBgra(data, FormatPitch(format_, w), w, h, converted.get());
        else
            DecodeDxt(format_, data, FormatPitch(format_, w), w, h, converted.get());
        data = converted.get();
    }
    device_->MakeCurrent();
    glActiveTexture(GL_TEXTURE0 + kUploadUnit);
    glBindTexture(glTarget_, glTexture_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    GLenum target = faces_ == 6 ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + face : GL_TEXTURE_2D;
    if (uploaded_[Slot(face, level)]) {
        glTexSubImage2D(target, GLint(level), 0, 0, GLsizei(w), GLsizei(h), gf.uploadFormat, gf.uploadType, data);
    } else {
        glTexImage2D(target, GLint(level), GLint(gf.internalFormat), GLsizei(w), GLsizei(h), 0, gf.uploadFormat,
                     gf.uploadType, data);
        uploaded_[Slot(face, level)] = 1;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

void BaseTexture::EnsureUploaded() {
    if (copies_.empty()) return;
    for (uint32_t f = 0; f < faces_; ++f)
        for (uint32_t l = 0; l < levels_; ++l) {
            const size_t slot = Slot(f, l);
            if (uploaded_[slot]) continue;
            if (!written_[slot])
                std::memset(copies_[slot].get(), 0,
                            size_t(FormatPitch(format_, LevelWidth(l))) * FormatRows(format_, LevelHeight(l)));
            written_[slot] = 1;
            Upload(f, l);
        }
}

Result BaseTexture::GetLevelDesc(uint32_t level, SurfaceDesc* desc) const {
    if (!desc || level >= levels_) return kInvalidCall;
    desc->format = format_;
    desc->type = ResourceType::Surface;
    desc->usage = usage_;
    desc->pool = pool_;
    desc->width = LevelWidth(level);
    desc->height = LevelHeight(level);
    return kOk;
}

Result BaseTexture::LockLevel(uint32_t face, uint32_t level, LockedRect* locked, const Rect* rect, uint32_t) {
    if (!locked || face >= faces_ || level >= levels_ || copies_.empty()) return kInvalidCall;
    size_t slot = Slot(face, level);
    if (lockedMask_[slot]) return kInvalidCall;
    const uint32_t pitch = FormatPitch(format_, LevelWidth(level));
    if (!written_[slot] && rect) {
        // A partial first lock: the rest of the level reads as zero.
        std::memset(copies_[slot].get(), 0, size_t(pitch) * FormatRows(format_, LevelHeight(level)));
    }
    written_[slot] = 1;
    size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > int32_t(LevelWidth(level)) ||
            rect->bottom > int32_t(LevelHeight(level)) || rect->left >= rect->right || rect->top >= rect->bottom)
            return kInvalidCall;
        if (IsDxtFormat(format_))
            offset = size_t(rect->top / 4) * pitch + size_t(rect->left / 4) * (format_ == fmt::DXT1 ? 8 : 16);
        else
            offset = size_t(rect->top) * pitch + size_t(rect->left) * FormatBytes(format_);
    }
    locked->pitch = int32_t(pitch);
    locked->bits = copies_[slot].get() + offset;
    lockedMask_[slot] = 1;
    return kOk;
}

Result BaseTexture::UnlockLevel(uint32_t face, uint32_t level) {
    if (face >= faces_ || level >= levels_ || copies_.empty()) return kInvalidCall;
    size_t slot = Slot(face, level);
    if (!lockedMask_[slot]) return kInvalidCall;
    lockedMask_[slot] = 0;
    Upload(face, level);
    return kOk;
}

Result BaseTexture::GetSurface(uint32_t face, uint32_t level, Surface** surface) {
    if (!surface || face >= faces_ || level >= levels_) return kInvalidCall;
    size_t slot = Slot(face, level);
    if (!surfaces_[slot]) {
        SurfaceDesc d;
        GetLevelDesc(level, &d);
        auto* s = new Surface(device_, Surface::Kind::TextureLevel, d);
        s->owner_ = this;
        s->face_ = face;
        s->level_ = level;
        surfaces_[slot] = s;
    }
    AddRef();
    *surface = surfaces_[slot];
    return kOk;
}

// ----------------------------------------------------------- VertexBuffer

VertexBuffer::VertexBuffer(Device* device, const VertexBufferDesc& desc) : DeviceChild(device), desc_(desc) {
    copy_ = ZeroedBytes(desc.size);
}

VertexBuffer::~VertexBuffer() { DropGpu(); }

void VertexBuffer::DropGpu() {
    if (glBuffer_ && device_) {
        device_->MakeCurrent();
        glDeleteBuffers(1, &glBuffer_);
    }
    glBuffer_ = 0;
    glSize_ = 0;
}

Result VertexBuffer::Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) {
    if (!data || locked_ || offset > desc_.size) return kInvalidCall;
    if (size == 0) size = desc_.size - offset;
    if (size > desc_.size - offset) return kInvalidCall;
    lockOffset_ = offset;
    lockSize_ = size;
    lockFlags_ = flags;
    locked_ = true;
    *data = copy_.get() + offset;
    return kOk;
}

Result VertexBuffer::Unlock() {
    if (!locked_) return kInvalidCall;
    locked_ = false;
    if (!device_) return kOk;
    device_->MakeCurrent();
    if (!glBuffer_) glGenBuffers(1, &glBuffer_);
    glBindBuffer(GL_COPY_WRITE_BUFFER, glBuffer_);
    const GLenum usage = (desc_.usage & kUsageDynamic) ? GL_STREAM_DRAW : GL_STATIC_DRAW;
    const uint8_t* locked = copy_.get() + lockOffset_;
    if ((lockFlags_ & kLockDiscard) && lockOffset_ == 0) {
        // A discarded buffer gets a fresh store holding just the bytes
        // written: draws still queued keep the old store, so nothing waits
        // for them, and nothing unwritten is copied.
        glBufferData(GL_COPY_WRITE_BUFFER, lockSize_, locked, usage);
        glSize_ = lockSize_;
        device_->CountUpload(lockSize_);
    } else if (glSize_ < desc_.size) {
        // First upload, or the store was cut down by a discard: all of it.
        glBufferData(GL_COPY_WRITE_BUFFER, desc_.size, copy_.get(), usage);
        glSize_ = desc_.size;
        device_->CountUpload(desc_.size);
    } else {
        if (lockFlags_ & kLockDiscard) glBufferData(GL_COPY_WRITE_BUFFER, desc_.size, nullptr, usage);
        glBufferSubData(GL_COPY_WRITE_BUFFER, lockOffset_, lockSize_, locked);
        device_->CountUpload(lockSize_);
    }
    return kOk;
}

Result VertexBuffer::GetDesc(VertexBufferDesc* desc) const {
    if (!desc) return kInvalidCall;
    *desc = desc_;
    return kOk;
}

// ------------------------------------------------------------ IndexBuffer

IndexBuffer::IndexBuffer(Device* device, uint32_t size, uint32_t usage, uint32_t format, Pool pool)
    : DeviceChild(device), size_(size), usage_(usage), format_(format), pool_(pool) {
    copy_ = ZeroedBytes(size);
}

IndexBuffer::~IndexBuffer() { DropGpu(); }

void IndexBuffer::DropGpu() {
    if (glBuffer_ && device_) {
        device_->MakeCurrent();
        glDeleteBuffers(1, &glBuffer_);
    }
    glBuffer_ = 0;
}

Result IndexBuffer::Lock(uint32_t offset, uint32_t size, void** data, uint32_t) {
    if (!data || locked_ || offset > size_) return kInvalidCall;
    if (size == 0) size = size_ - offset;
    if (size > size_ - offset) return kInvalidCall;
    lockOffset_ = offset;
    lockSize_ = size;
    locked_ = true;
    *data = copy_.get() + offset;
    return kOk;
}

Result IndexBuffer::Unlock() {
    if (!locked_) return kInvalidCall;
    locked_ = false;
    if (!device_) return kOk;
    device_->MakeCurrent();
    if (!glBuffer_) glGenBuffers(1, &glBuffer_);
    // Element buffers bind to the vertex array object; upload through the
    // copy-write target so the device's bindings stay as they are.
    glBindBuffer(GL_COPY_WRITE_BUFFER, glBuffer_);
    if (!everUploaded_) {
        glBufferData(GL_COPY_WRITE_BUFFER, size_, copy_.get(), GL_STATIC_DRAW);
        everUploaded_ = true;
        device_->CountUpload(size_);
    } else {
        glBufferSubData(GL_COPY_WRITE_BUFFER, lockOffset_, lockSize_, copy_.get() + lockOffset_);
        device_->CountUpload(lockSize_);
    }
    return kOk;
}

// ----------------------------------------------------------------- Shader

Shader::Shader(Device* device, const hlsl::ShaderCode* code, uint32_t id) : DeviceChild(device), code_(code), id_(id) {
    const_cast<hlsl::ShaderCode*>(code_)->AddRef();
}

Shader::~Shader() {
    DropGpu();
    const_cast<hlsl::ShaderCode*>(code_)->Release();
}

void Shader::DropGpu() {
    if (device_) {
        device_->MakeCurrent();
        device_->ForgetShader(this);
        if (glUbo_) glDeleteBuffers(1, &glUbo_);
    }
    glUbo_ = 0;
}

}  // namespace plat::gpu
