// D3DRenderDevice: textures, render targets, vertex and index buffers.
#include <cstring>
#include <string>

#include "base/log.h"
#include "platform/gpu/d3dx/dds.h"
#include "render/d3d_render_device.h"

using namespace plat::gpu;

namespace {

int32_t NextPow2(int32_t v) {
    int32_t p = 1;
    while (p < v && p < (1 << 30)) p <<= 1;
    return p;
}

uint32_t KindFormat(int32_t kind) {
    switch (kind) {
        case TEXKIND_R5G6B5: return fmt::R5G6B5;
        case TEXKIND_X8R8G8B8: return fmt::X8R8G8B8;
        case TEXKIND_A8R8G8B8: return fmt::A8R8G8B8;
        case TEXKIND_L8: return fmt::L8;
        case TEXKIND_YUY2: return fmt::YUY2;
        default: return fmt::Unknown;
    }
}

}  // namespace

// --------------------------------------------------------------- textures

TextureRecord* D3DRenderDevice::CreateTexture(int32_t w, int32_t h, int32_t kind, const void* data, uint32_t size) {
    if (!device_) return nullptr;
    auto* rec = new TextureRecord();
    rec->width = w;
    rec->height = h;
    rec->allocatedWidth = w;
    rec->allocatedHeight = h;
    rec->levels = 1;
    rec->kind = kind;
    switch (kind) {
        case TEXKIND_DDS:
        case TEXKIND_DXT1:
        case TEXKIND_DXT5: {
            d3dx::DdsInfo info;
            std::string why;
            if (!data || !d3dx::ParseDds(static_cast<const uint8_t*>(data), size, &info, &why)) {
                if (data) LogPrintf("[ERROR] - DDS : %s", why.c_str());
                break;
            }
            Texture* t = nullptr;
            if (Failed(d3dx::CreateTextureFromFileInMemoryEx(device_, data, size, d3dx::kDefaultSize,
                                                             d3dx::kDefaultSize, info.headerMips, 0, fmt::Unknown,
                                                             Pool::Managed, 1, 1, 0, nullptr, &t, &why))) {
                LogPrintf("[ERROR] - DDS : %s", why.c_str());
                break;
            }
            rec->texture = t;
            rec->width = rec->allocatedWidth = int32_t(info.width);
            rec->height = rec->allocatedHeight = int32_t(info.height);
            rec->levels = int32_t(t->GetLevelCount());
            rec->kind = info.format == fmt::A8R8G8B8   ? TEXKIND_A8R8G8B8
                        : info.format == fmt::X8R8G8B8 ? TEXKIND_X8R8G8B8
                        : info.format == fmt::DXT1     ? TEXKIND_DXT1
                        : info.format == fmt::DXT5     ? TEXKIND_DXT5
                                                       : TEXKIND_DDS;
            return rec;
        }
        case TEXKIND_R5G6B5:
        case TEXKIND_X8R8G8B8:
        case TEXKIND_A8R8G8B8:
        case TEXKIND_L8:
        case TEXKIND_YUY2: {
            if (w <= 0 || h <= 0) break;
            const uint32_t format = KindFormat(kind);
            const uint32_t rowBytes = FormatPitch(format, uint32_t(w));
            // The pixels must cover every row.
            if (data && size / uint32_t(h) < rowBytes) break;
            if (enlarge_) {
                rec->allocatedWidth = NextPow2(w);
                rec->allocatedHeight = NextPow2(h);
                rec->rescaled = rec->allocatedWidth != w || rec->allocatedHeight != h;
            }
            Texture* t = nullptr;
            if (Failed(device_->CreateTexture(uint32_t(rec->allocatedWidth), uint32_t(rec->allocatedHeight), 1, 0,
                                              format, Pool::Managed, &t)))
                break;
            rec->texture = t;
            LockTexture(rec);
            if (!rec->bits) {
                t->Release();
                break;
            }
            auto* dst = static_cast<uint8_t*>(rec->bits);
            const uint32_t pitch = uint32_t(rec->pitch);
            const uint32_t srcRow = data ? size / uint32_t(h) : 0;
            if (!data) {
                std::memset(dst, 0, size_t(pitch) * uint32_t(h));
            } else if (pitch == srcRow) {
                std::memcpy(dst, data, size_t(pitch) * uint32_t(h));
            } else {
                for (int32_t y = 0; y < h; ++y)
                    std::memcpy(dst + size_t(y) * pitch, static_cast<const uint8_t*>(data) + size_t(y) * srcRow,
                                rowBytes);
            }
            UnlockTexture(rec);
            return rec;
        }
        case TEXKIND_CUBE: {
            if (!data) break;
            CubeTexture* t = nullptr;
            std::string why;
            if (Failed(d3dx::CreateCubeTextureFromFileInMemory(device_, data, size, &t, &why))) {
                LogPrintf("[ERROR] - DDS : %s", why.c_str());
                break;
            }
            rec->texture = t;
            rec->levels = int32_t(t->GetLevelCount());
            return rec;
        }
        case TEXKIND_RENDER_TARGET: {
            if (w <= 0 || h <= 0) break;
            Texture* t = nullptr;
            if (Failed(device_->CreateTexture(uint32_t(w), uint32_t(h), 1, kUsageRenderTarget, fmt::X8R8G8B8,
                                              Pool::Default, &t)))
                break;
            rec->texture = t;
            return rec;
        }
        default: break;
    }
    delete rec;
    return nullptr;
}

void D3DRenderDevice::SetTexture(uint32_t stage, TextureRecord* rec) {
    FlushBatch();
    if (!device_ || stage >= 8 || boundTextures_[stage] == rec) return;
    if (rec) {
        device_->SetTexture(stage, static_cast<BaseTexture*>(rec->texture));
        SetSamplerStateCached(stage, ss::MipFilter, (rec->levels >= 2 && !rec->rescaled) ? tf::Linear : tf::None);
        if (conditionalNonPow2_) {
            const uint32_t mode = rec->rescaled ? tadd::Clamp : tadd::Wrap;
            if (samplerStates_[stage][ss::AddressU] != mode) {
                SetSamplerStateCached(stage, ss::AddressU, mode);
                SetSamplerStateCached(stage, ss::AddressV, mode);
            }
        }
    } else {
        device_->SetTexture(stage, nullptr);
    }
    boundTextures_[stage] = rec;
}

void D3DRenderDevice::ReleaseTexture(TextureRecord* rec) {
    if (!rec) return;
    for (uint32_t s = 0; s < 8; ++s)
        if (boundTextures_[s] == rec) SetTexture(s, nullptr);
    if (rec->bits) UnlockTexture(rec);
    if (rec->texture) static_cast<BaseTexture*>(rec->texture)->Release();
    delete rec;
}

void D3DRenderDevice::LockTexture(TextureRecord* rec) {
    if (!rec || !rec->texture || rec->bits || !device_) return;
    auto* base = static_cast<BaseTexture*>(rec->texture);
    if (base->GetType() != ResourceType::Texture) return;  // cube maps are not locked whole
    auto* t = static_cast<Texture*>(base);
    LockedRect lr;
    if (rec->kind != TEXKIND_RENDER_TARGET) {
        if (Failed(t->LockRect(0, &lr, nullptr, 0))) return;
    } else {
        // A memory copy of the target, one target locked at a time; the
        // surface of a target being drawn into stays where BeginRenderTarget
        // put it. The copy is kept for the next lock of the same size (a
        // screenshot a frame would otherwise take and clear megabytes anew).
        if (lockSurface_) return;
        SurfaceDesc kept;
        if (copySurface_ && copySurface_->GetDesc(&kept) == kOk &&
            (kept.width != uint32_t(rec->width) || kept.height != uint32_t(rec->height))) {
            copySurface_->Release();
            copySurface_ = nullptr;
        }
        if (!copySurface_ &&
            Failed(device_->CreateOffscreenPlainSurface(uint32_t(rec->width), uint32_t(rec->height), fmt::X8R8G8B8,
                                                        Pool::SystemMem, &copySurface_))) {
            copySurface_ = nullptr;
            return;
        }
        if (Failed(t->GetSurfaceLevel(0, &lockSurface_))) {
            lockSurface_ = nullptr;
            return;
        }
        FlushBatch();
        if (Failed(device_->GetRenderTargetData(lockSurface_, copySurface_)) ||
            Failed(copySurface_->LockRect(&lr, nullptr, 0))) {
            lockSurface_->Release();
            lockSurface_ = nullptr;
            return;
        }
    }
    rec->pitch = lr.pitch;
    rec->bits = lr.bits;
}

void D3DRenderDevice::UnlockTexture(TextureRecord* rec) {
    if (!rec || !rec->bits) return;
    if (rec->kind == TEXKIND_RENDER_TARGET) {
        if (copySurface_) copySurface_->UnlockRect();
        if (lockSurface_) lockSurface_->Release();
        lockSurface_ = nullptr;
    } else {
        static_cast<Texture*>(rec->texture)->UnlockRect(0);
    }
    rec->pitch = 0;
    rec->bits = nullptr;
}

// --------------------------------------------------------- render targets

int32_t D3DRenderDevice::BeginRenderTarget(TextureRecord* rec) {
    if (!rec) return -100;
    if (!device_ || !rec->texture) return -1;
    FlushBatch();
    ForgetTarget();
    auto* base = static_cast<BaseTexture*>(rec->texture);
    if (base->GetType() != ResourceType::Texture ||
        Failed(static_cast<Texture*>(base)->GetSurfaceLevel(0, &targetSurface_))) {
        targetSurface_ = nullptr;
        return -1;
    }
    if (Failed(device_->GetDepthStencilSurface(&savedDepth_))) {
        savedDepth_ = nullptr;
        return -2;
    }
    if (Failed(device_->GetRenderTarget(0, &savedTarget_))) {
        savedTarget_ = nullptr;
        return -3;
    }
    if (Failed(device_->SetRenderTarget(0, targetSurface_))) return -6;
    if (Failed(device_->SetDepthStencilSurface(savedDepth_))) return -4;
    // Inside the frame's scene the target draws within it; otherwise the
    // target opens a scene of its own and closes it again at the end.
    targetOpenedScene_ = false;
    if (!sceneOpen_) {
        if (Failed(device_->BeginScene())) return -5;
        targetOpenedScene_ = true;
        sceneOpen_ = true;
    }
    device_->SetRenderState(rs::ZEnable, depthEnabled_);
    device_->SetRenderState(rs::ZWriteEnable, depthEnabled_);
    renderStates_[rs::ZEnable] = renderStates_[rs::ZWriteEnable] = depthEnabled_;
    return 1;
}

int32_t D3DRenderDevice::EndRenderTarget() {
    if (!device_) return -1;
    FlushBatch();
    if (targetOpenedScene_) {
        targetOpenedScene_ = false;
        sceneOpen_ = false;
        if (Failed(device_->EndScene())) return -1;
    }
    if (!savedTarget_ || Failed(device_->SetRenderTarget(0, savedTarget_))) return -2;
    if (Failed(device_->SetDepthStencilSurface(savedDepth_))) return -3;
    ForgetTarget();
    return 1;
}

// ---------------------------------------------------------------- buffers

VertexBufferRecord* D3DRenderDevice::CreateVertexBuffer(uint32_t format, uint32_t count, uint32_t flags) {
    if (!device_ || count == 0) return nullptr;
    uint32_t size = (format & RM_PRETRANSFORMED) ? 16 : 12;
    uint32_t f = (format & RM_PRETRANSFORMED) ? fvf::XYZRHW : fvf::XYZ;
    int32_t normalOffset = -1, texOffset = -1;
    if (format & RM_NORMAL) {
        normalOffset = int32_t(size);
        size += 12;
        f |= fvf::Normal;
    }
    if (format & RM_TEXTURED) {
        texOffset = int32_t(size);
        size += 8;
        f |= fvf::Tex1;
    }
    if (uint64_t(size) * count > 0xFFFFFFFFull) return nullptr;
    const bool dynamic = (flags & 0xFF) != 0;
    VertexBuffer* vb = nullptr;
    Result r = dynamic ? device_->CreateVertexBuffer(size * count, kUsageDynamic | kUsageWriteOnly, 0, Pool::Default, &vb)
                       : device_->CreateVertexBuffer(size * count, 0, f, Pool::Managed, &vb);
    if (Failed(r)) return nullptr;
    auto* rec = new VertexBufferRecord();
    rec->format = format;
    rec->count = count;
    rec->vertexSize = size;
    rec->normalOffset = normalOffset;
    rec->texCoordOffset = texOffset;
    rec->dynamic = dynamic;
    rec->buffer = vb;
    return rec;
}

void D3DRenderDevice::LockVertexBuffer(VertexBufferRecord* rec) {
    if (!rec || !rec->buffer || rec->position) return;
    void* p = nullptr;
    if (Failed(static_cast<VertexBuffer*>(rec->buffer)->Lock(0, 0, &p, rec->dynamic ? kLockDiscard : 0))) return;
    auto* base = static_cast<uint8_t*>(p);
    rec->position = base;
    rec->normal = rec->normalOffset >= 1 ? base + rec->normalOffset : nullptr;
    rec->texCoord = rec->texCoordOffset >= 1 ? base + rec->texCoordOffset : nullptr;
    rec->positionStride = rec->normalStride = rec->texCoordStride = rec->vertexSize;
}

void D3DRenderDevice::UnlockVertexBuffer(VertexBufferRecord* rec) {
    if (!rec || !rec->buffer || !rec->position) return;
    static_cast<VertexBuffer*>(rec->buffer)->Unlock();
    rec->position = rec->normal = rec->texCoord = nullptr;
    rec->positionStride = rec->normalStride = rec->texCoordStride = 0;
}

void D3DRenderDevice::SetVertexBuffer(VertexBufferRecord* rec) {
    if (!device_) return;
    if (!rec) {
        device_->SetStreamSource(0, nullptr, 0, 0);
        boundVertexBuffer_ = nullptr;
        return;
    }
    // The batch buffer changes its vertex size with the mode: bind again then.
    if (rec == boundVertexBuffer_ && rec->vertexSize == batchStride_) return;
    device_->SetStreamSource(0, static_cast<VertexBuffer*>(rec->buffer), 0, rec->vertexSize);
    boundVertexBuffer_ = rec;
    batchStride_ = rec->vertexSize;
}

void D3DRenderDevice::ReleaseVertexBuffer(VertexBufferRecord* rec) {
    if (!rec) return;
    if (rec == boundVertexBuffer_) SetVertexBuffer(nullptr);
    if (rec->buffer) static_cast<VertexBuffer*>(rec->buffer)->Release();
    delete rec;
}

IndexBufferRecord* D3DRenderDevice::CreateIndexBuffer(uint32_t count) {
    if (!device_ || count == 0 || count > 0x7FFFFFFFu) return nullptr;
    IndexBuffer* ib = nullptr;
    if (Failed(device_->CreateIndexBuffer(count * 2, 0, fmt::Index16, Pool::Managed, &ib))) return nullptr;
    auto* rec = new IndexBufferRecord();
    rec->count = count;
    rec->buffer = ib;
    return rec;
}

void D3DRenderDevice::LockIndexBuffer(IndexBufferRecord* rec) {
    if (!rec || !rec->buffer || rec->locked) return;
    void* p = nullptr;
    if (!Failed(static_cast<IndexBuffer*>(rec->buffer)->Lock(0, 0, &p, 0))) rec->locked = p;
}

void D3DRenderDevice::UnlockIndexBuffer(IndexBufferRecord* rec) {
    if (!rec || !rec->buffer || !rec->locked) return;
    static_cast<IndexBuffer*>(rec->buffer)->Unlock();
    rec->locked = nullptr;
}

void D3DRenderDevice::SetIndexBuffer(IndexBufferRecord* rec) {
    if (!device_) return;
    boundIndexBuffer_ = rec;
    device_->SetIndices(rec ? static_cast<IndexBuffer*>(rec->buffer) : nullptr);
}

void D3DRenderDevice::ReleaseIndexBuffer(IndexBufferRecord* rec) {
    if (!rec) return;
    if (rec == boundIndexBuffer_) SetIndexBuffer(nullptr);
    if (rec->buffer) static_cast<IndexBuffer*>(rec->buffer)->Release();
    delete rec;
}
