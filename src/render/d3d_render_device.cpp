#include "render/d3d_render_device.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "render/d3d_shader_program.h"

using namespace plat::gpu;

D3DRenderDevice* g_d3dRenderDevice = nullptr;

namespace {

constexpr int32_t kEFail = static_cast<int32_t>(0x80004005u);

// The texture-stage and sampler types the caches hold for every stage.
constexpr uint32_t kStageTypes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 22, 23, 24, 26, 27, 28, 32};

uint32_t ModeFvf(uint32_t mode, uint32_t* size) {
    uint32_t f = (mode & RM_PRETRANSFORMED) ? fvf::XYZRHW : fvf::XYZ;
    uint32_t s = (mode & RM_PRETRANSFORMED) ? 16 : 12;
    if (mode & RM_NORMAL) f |= fvf::Normal, s += 12;
    if (mode & RM_TEXTURED) f |= fvf::Tex1, s += 8;
    if (mode & RM_VERTEX_COLOR) f |= fvf::Diffuse, s += 4;
    *size = s;
    return f;
}

struct RectVertex {
    float x, y, z, rhw, u, v;
};

}  // namespace

D3DRenderDevice::D3DRenderDevice() {
    g_d3dRenderDevice = this;
    // The kept ramp starts as the identity, as the display's own does.
    for (auto& channel : gamma_)
        for (int i = 0; i < 256; ++i) channel[i] = uint16_t(i * 257);
}

D3DRenderDevice::~D3DRenderDevice() {
    Destroy();
    if (g_d3dRenderDevice == this) g_d3dRenderDevice = nullptr;
}

// ------------------------------------------------------------- creation

int32_t D3DRenderDevice::Create(bool reset) {
    errorText = "";
    warnings_.clear();
    capabilityBits = 0;
    if (!reset) {
        if (!d3d_) {
            errorText = "Can't create D3D9 Object!";
            d3d_ = Direct3D::Create(kSdkVersion);
            if (!d3d_) return kEFail;
        }
    } else {
        ReleaseDeviceObjects();
    }
    if (!d3d_ || (reset && !device_)) {
        errorText = "Can't create D3D9 Object!";
        return kEFail;
    }

    params_ = PresentParameters();
    params_.backBufferFormat = fmt::X8R8G8B8;
    const bool windowed = !fullScreen;
    Result r = d3d_->CheckDeviceType(0, DeviceType::Hal, params_.backBufferFormat, params_.backBufferFormat, windowed);
    if (Failed(r)) {
        warnings_ += "HAL Device is not supported with X8R8G8B8 Backbuffer format!\r\n";
        params_.backBufferFormat = fmt::R5G6B5;
        r = d3d_->CheckDeviceType(0, DeviceType::Hal, fmt::R5G6B5, fmt::R5G6B5, windowed);
        if (Failed(r)) {
            errorText = "HAL Device is not supported with R5G6B5 Backbuffer format!\nThe game can not run!";
            return r;
        }
    }
    const uint32_t bb = params_.backBufferFormat;
    uint32_t depth = fmt::Unknown;
    for (uint32_t f : {fmt::D24S8, fmt::D24X8, fmt::D16}) {
        if (!Failed(d3d_->CheckDeviceFormat(0, DeviceType::Hal, bb, kUsageDepthStencil, ResourceType::Surface, f)) &&
            !Failed(d3d_->CheckDepthStencilMatch(0, DeviceType::Hal, bb, bb, f))) {
            depth = f;
            break;
        }
    }
    if (depth == fmt::Unknown) {
        errorText = "No Known Depth Buffer format is supported!\nThe game can not run!";
        return kEFail;
    }
    Caps caps;
    r = d3d_->GetDeviceCaps(0, DeviceType::Hal, &caps);
    if (Failed(r)) {
        errorText = "Can't get D3D9Caps!\nThe game can not run!";
        return r;
    }
    r = d3d_->CheckDepthStencilMatch(0, DeviceType::Hal, bb, bb, depth);
    if (Failed(r)) {
        errorText =
            "This device doesn't support Depthbuffer Format for D3DFMT_X8R8G8B8 RenderTargets!\nThe game can not run!";
        return r;
    }
    params_.deviceWindow = window;
    params_.backBufferCount = 1;
    params_.enableAutoDepthStencil = true;
    params_.autoDepthStencilFormat = depth;
    params_.backBufferWidth = uint32_t(width > 0 ? width : 1);
    params_.backBufferHeight = uint32_t(height > 0 ? height : 1);
    params_.windowed = windowed;
    params_.fullScreenRefreshRate = fullScreen ? uint32_t(refreshRate > 0 ? refreshRate : 0) : 0;
    params_.presentationInterval =
        (caps.presentationIntervals & kPresentIntervalOne) ? kPresentIntervalOne : kPresentIntervalDefault;
    bool anySamples = false;
    for (uint32_t n = 2; n <= 16; ++n) {
        if (!Failed(d3d_->CheckDeviceMultiSampleType(0, DeviceType::Hal, bb, windowed, n, nullptr))) {
            capabilityBits |= 1u << (n + 2);
            anySamples = true;
        }
    }
    if (!anySamples) {
        warnings_ += "D3DMULTISAMPLE_2_SAMPLES Not Supported!\r\n";
        requestedMultisample = 0;
    }
    params_.multiSampleType = (requestedMultisample >= 2 && anySamples) ? uint32_t(requestedMultisample) : 0;
    params_.swapEffect = SwapEffect::Discard;

    if (!reset) {
        const bool hw = (caps.devCaps & kDevCapsHwTransformAndLight) != 0;
        r = d3d_->CreateDevice(0, DeviceType::Hal, window,
                               hw ? kCreateHardwareVertexProcessing : kCreateSoftwareVertexProcessing, &params_,
                               &device_);
        if (Failed(r)) {
            errorText = hw ? "Can't create D3D HAL Device with Hardware Vertex Processing!\nThe game can not run!"
                           : "Can't create D3D HAL Device with Software Vertex Processing!!\nThe game can not run!";
            device_ = nullptr;
            return r;
        }
        // Read with the device's own context current: asked before there is
        // one, the driver would need a window and context of its own.
        d3d_->GetAdapterIdentifier(0, 0, &adapter_);
    } else {
        r = device_->Reset(&params_);
        if (Failed(r)) return r;
    }
    sceneOpen_ = false;
    targetOpenedScene_ = false;
    if (refreshRate == 0) {
        DisplayMode mode;
        device_->GetDisplayMode(0, &mode);
        refreshRate = mode.refreshRate ? int32_t(mode.refreshRate) : 60;
    }
    vertexShaderVersion = caps.vertexShaderVersion & 0xFFFF;
    pixelShaderVersion = caps.pixelShaderVersion & 0xFFFF;

    pow2Only_ = (caps.textureCaps & kTexCapsPow2) != 0;
    conditionalNonPow2_ = (caps.textureCaps & kTexCapsNonPow2Conditional) != 0;
    if (pow2Only_ && conditionalNonPow2_) {
        warnings_ += "CONDITIONAL USE OF POWOF2 TEXTURES!\r\n";
        enlarge_ = false;
    } else if (pow2Only_) {
        warnings_ += "ONLY POWOF2 TEXTURES!\r\n";
        enlarge_ = true;
    } else if (!conditionalNonPow2_) {
        warnings_ += "UNCONDITIONAL SUPPORT FOR TEXTURES!\r\n";
        enlarge_ = false;
    } else {
        warnings_ +=
            "STRANGE BEHAVIOR?! NO POWOF2 SUPPORT BUT THERE IS CONDITIONAL SUPPORT FOR NON-POWOF2 TEXTURES..\r\n";
        enlarge_ = false;
    }
    const struct {
        uint32_t format, bit;
        const char* warning;
    } dxt[] = {{fmt::DXT1, 0x1, "DXT1 Not Supported!\r\n"},
               {fmt::DXT3, 0x2, "DXT3 Not Supported!\r\n"},
               {fmt::DXT5, 0x4, "DXT5 Not Supported!\r\n"}};
    for (const auto& d : dxt) {
        if (!Failed(d3d_->CheckDeviceFormat(0, DeviceType::Hal, bb, 0, ResourceType::Texture, d.format)))
            capabilityBits |= d.bit;
        else
            warnings_ += d.warning;
    }

    PrimeCaches();
    SetRenderStateCached(rs::DitherEnable, 0);
    SetRenderStateCached(rs::SpecularEnable, 0);
    SetRenderStateCached(rs::Ambient, 0);
    SetRenderStateCached(rs::MultisampleAntialias, 0);
    SetRenderStateCached(rs::Lighting, 0);
    SetRenderStateCached(rs::ShadeMode, 2);
    SetRenderStateCached(rs::ColorVertex, 0);
    SetRenderStateCached(rs::LocalViewer, 1);
    SetRenderStateCached(rs::AmbientMaterialSource, mcs::Material);
    SetRenderStateCached(rs::DiffuseMaterialSource, mcs::Material);
    SetRenderStateCached(rs::SpecularMaterialSource, mcs::Material);
    SetRenderStateCached(rs::EmissiveMaterialSource, mcs::Material);
    Material zero;
    device_->SetMaterial(&zero);
    SetRenderStateCached(rs::CullMode, cull::CCW);
    SetRenderStateCached(rs::ZFunc, cmp::Less);
    SetRenderStateCached(rs::ZEnable, 1);
    SetRenderStateCached(rs::ZWriteEnable, 1);
    depthEnabled_ = 1;
    SetRenderStateCached(rs::SrcBlend, blend::SrcAlpha);
    SetRenderStateCached(rs::DestBlend, blend::InvSrcAlpha);
    SetRenderStateCached(rs::AlphaBlendEnable, 0);
    for (uint32_t s = 0; s < 8; ++s) {
        SetRenderStateCached(rs::Wrap0 + s, 0);
        SetSamplerStateCached(s, ss::MaxMipLevel, 0);
        SetSamplerStateCached(s, ss::MinFilter, tf::Linear);
        SetSamplerStateCached(s, ss::MagFilter, tf::Linear);
        SetSamplerStateCached(s, ss::MipFilter, tf::None);
        SetSamplerStateCached(s, ss::AddressU, tadd::Wrap);
        SetSamplerStateCached(s, ss::AddressV, tadd::Wrap);
        SetTextureStageStateCached(s, tss::ColorOp, top::Disable);
        SetTextureStageStateCached(s, tss::ColorArg1, ta::Texture);
        SetTextureStageStateCached(s, tss::ColorArg2, ta::Current);
        SetTextureStageStateCached(s, tss::AlphaOp, top::Disable);
        SetTextureStageStateCached(s, tss::AlphaArg1, ta::Texture);
        SetTextureStageStateCached(s, tss::AlphaArg2, ta::Current);
    }
    SetTextureStageStateCached(0, tss::ColorOp, top::Modulate);

    batchBuffer_ = CreateVertexBuffer(RM_TEXTURED | RM_NORMAL, kBatchVertices, 1);
    if (!batchBuffer_) {
        errorText = "Can't create VertexCache!";
        return kEFail;
    }
    batchFill_ = 0;
    renderMode_ = 0;
    renderColor_ = 0xFFFFFFFFu;
    vertexFormat_ = 0xFFFFFFFFu;
    vertexSize_ = 0;
    boundVertexBuffer_ = nullptr;
    boundIndexBuffer_ = nullptr;
    if (!batch_) batch_.reset(new uint8_t[kBatchBytes]);
    errorText = "";
    return 0;
}

void D3DRenderDevice::PrimeCaches() {
    for (uint8_t n : kRenderStateNumbers) device_->GetRenderState(n, &renderStates_[n]);
    for (uint32_t s = 0; s < 8; ++s) {
        for (uint32_t t : kStageTypes) device_->GetTextureStageState(s, t, &stageStates_[s][t]);
        for (uint32_t t = 1; t <= 13; ++t) device_->GetSamplerState(s, t, &samplerStates_[s][t]);
        device_->SetTexture(s, nullptr);
        boundTextures_[s] = nullptr;
    }
}

// The batch buffer, the render-target bookkeeping and the lock surfaces:
// what a reset and a destroy both give back.
void D3DRenderDevice::ReleaseDeviceObjects() {
    if (batchBuffer_) {
        ReleaseVertexBuffer(batchBuffer_);
        batchBuffer_ = nullptr;
    }
    ForgetTarget();
    if (lockSurface_) lockSurface_->Release();
    if (copySurface_) copySurface_->Release();
    lockSurface_ = copySurface_ = nullptr;
}

void D3DRenderDevice::ForgetTarget() {
    if (targetSurface_) targetSurface_->Release();
    if (savedTarget_) savedTarget_->Release();
    if (savedDepth_) savedDepth_->Release();
    targetSurface_ = savedTarget_ = savedDepth_ = nullptr;
}

void D3DRenderDevice::Destroy() {
    while (programs_) {
        D3DShaderProgram* p = programs_;
        programs_ = p->next_;
        delete p;
    }
    batch_.reset();
    ReleaseDeviceObjects();
    for (auto& t : boundTextures_) t = nullptr;
    boundVertexBuffer_ = nullptr;
    boundIndexBuffer_ = nullptr;
    if (device_) device_->Release();
    device_ = nullptr;
    if (d3d_) d3d_->Release();
    d3d_ = nullptr;
}

// ---------------------------------------------------------------- caches

void D3DRenderDevice::SetRenderStateCached(uint32_t state, uint32_t value) {
    if (!device_ || state >= 256 || renderStates_[state] == value) return;
    FlushBatch();
    device_->SetRenderState(state, value);
    renderStates_[state] = value;
}

void D3DRenderDevice::SetTextureStageStateCached(uint32_t stage, uint32_t type, uint32_t value) {
    if (!device_ || stage >= 8 || type >= 33 || stageStates_[stage][type] == value) return;
    FlushBatch();
    device_->SetTextureStageState(stage, type, value);
    stageStates_[stage][type] = value;
}

void D3DRenderDevice::SetSamplerStateCached(uint32_t sampler, uint32_t type, uint32_t value) {
    if (!device_ || sampler >= 8 || type >= 16 || samplerStates_[sampler][type] == value) return;
    FlushBatch();
    device_->SetSamplerState(sampler, type, value);
    samplerStates_[sampler][type] = value;
}

// ---------------------------------------------------------------- frames

bool D3DRenderDevice::BeginScene() {
    if (!device_ || Failed(device_->BeginScene())) return false;
    sceneOpen_ = true;
    return true;
}

void D3DRenderDevice::EndScene() {
    if (!device_) return;
    FlushBatch();
    if (!Failed(device_->EndScene())) sceneOpen_ = false;
}

void D3DRenderDevice::Clear(uint32_t argb) {
    if (!device_) return;
    FlushBatch();
    device_->Clear(0, nullptr, kClearTarget | kClearZBuffer, argb, 1.0f, 0);
}

void D3DRenderDevice::ClearDepth() {
    if (!device_) return;
    FlushBatch();
    device_->Clear(0, nullptr, kClearZBuffer, 0, 1.0f, 0);
}

void D3DRenderDevice::Present() {
    if (device_) device_->Present(nullptr, nullptr, nullptr, nullptr);
}

int32_t D3DRenderDevice::GetDeviceState() {
    if (!device_) return -1;
    Result r = device_->TestCooperativeLevel();
    if (r == kOk) return 0;
    if (r == kDeviceLost) return 1;
    if (r == kDeviceNotReset) return 2;
    return -1;
}

// ---------------------------------------------------------------- modes

void D3DRenderDevice::SetRenderMode(uint32_t mode, uint32_t argb) {
    if (!device_ || (mode == renderMode_ && argb == renderColor_)) return;
    FlushBatch();
    renderMode_ = mode;
    renderColor_ = argb;
    const bool translucent = (argb >> 24) < 0xFF;
    const bool white = (argb & 0xFFFFFF) == 0xFFFFFF;

    uint32_t size = 0;
    const uint32_t f = ModeFvf(mode, &size);
    if (f != vertexFormat_) {
        vertexFormat_ = f;
        vertexSize_ = size;
        device_->SetFVF(f);
    }
    primitiveKind_ = (mode & RM_TRIANGLE_STRIP) ? 5 : (mode & RM_LINE_STRIP) ? 3 : 4;

    if (mode & RM_ADDITIVE) {
        SetRenderStateCached(rs::AlphaBlendEnable, 1);
        SetRenderStateCached(rs::SrcBlend, blend::One);
        SetRenderStateCached(rs::DestBlend, blend::One);
    } else if (mode & RM_DEST_COLOR) {
        SetRenderStateCached(rs::AlphaBlendEnable, 1);
        SetRenderStateCached(rs::SrcBlend, blend::DestColor);
        SetRenderStateCached(rs::DestBlend, blend::One);
    } else if (!(mode & RM_ALPHA_BLEND) && !translucent) {
        SetRenderStateCached(rs::AlphaBlendEnable, 0);
    } else {
        SetRenderStateCached(rs::AlphaBlendEnable, 1);
        SetRenderStateCached(rs::SrcBlend, blend::SrcAlpha);
        SetRenderStateCached(rs::DestBlend, blend::InvSrcAlpha);
    }

    uint32_t args[2];
    int n = 0;
    if (mode & RM_NORMAL) args[n++] = ta::Current;
    if ((mode & RM_TEXTURED) && !(mode & RM_NO_TEXTURE_COLOR)) args[n++] = ta::Texture;
    if ((mode & RM_VERTEX_COLOR) && n < 2) args[n++] = ta::Diffuse;
    if (n < 2 && (!white || n == 0)) args[n++] = ta::TFactor;
    SetTextureStageStateCached(0, tss::ColorArg1, args[0]);
    if (n == 2) SetTextureStageStateCached(0, tss::ColorArg2, args[1]);
    SetTextureStageStateCached(0, tss::ColorOp, n == 1 ? top::SelectArg1 : top::Modulate);

    if (mode & (RM_ADDITIVE | RM_DEST_COLOR)) {
        SetTextureStageStateCached(0, tss::AlphaOp, top::Disable);
    } else {
        n = 0;
        if ((mode & RM_TEXTURED) && (mode & RM_ALPHA_BLEND)) args[n++] = ta::Texture;
        if (mode & RM_VERTEX_COLOR) args[n++] = ta::Diffuse;
        if (translucent && n < 2) args[n++] = ta::TFactor;
        if (n == 0) {
            SetTextureStageStateCached(0, tss::AlphaOp, top::Disable);
        } else {
            SetTextureStageStateCached(0, tss::AlphaArg1, args[0]);
            if (n == 2) SetTextureStageStateCached(0, tss::AlphaArg2, args[1]);
            SetTextureStageStateCached(0, tss::AlphaOp, n == 1 ? top::SelectArg1 : top::Modulate);
        }
    }
    SetRenderStateCached(rs::TextureFactor, argb);
}

// -------------------------------------------------------------- drawing

void D3DRenderDevice::AppendToBatch(const uint8_t* src, uint32_t count, uint32_t stride) {
    const uint32_t vs = vertexSize_;
    // Whole triangles only, and never 1 MiB or more in the batch.
    const uint32_t perFlush = ((kBatchBytes - 1) / (vs * 3)) * 3;
    if (batchFill_ + uint64_t(vs) * count >= kBatchBytes) FlushBatch();
    while (count > 0) {
        uint32_t room = ((kBatchBytes - 1 - batchFill_) / (vs * 3)) * 3;
        if (room == 0) {
            FlushBatch();
            room = perFlush;
        }
        const uint32_t n = count < room ? count : room;
        uint8_t* dst = batch_.get() + batchFill_;
        if (stride == vs) {
            std::memcpy(dst, src, size_t(n) * vs);
        } else {
            for (uint32_t i = 0; i < n; ++i) std::memcpy(dst + size_t(i) * vs, src + size_t(i) * stride, vs);
        }
        batchFill_ += n * vs;
        src += size_t(n) * stride;
        count -= n;
        if (count > 0) FlushBatch();
    }
}

void D3DRenderDevice::DrawStrip(const uint8_t* src, uint32_t count, uint32_t stride) {
    const uint32_t need = primitiveKind_ == 5 ? 3 : 2;
    if (count < need) return;
    const uint32_t primitives = primitiveKind_ == 5 ? count - 2 : count - 1;
    const PrimitiveType type = primitiveKind_ == 5 ? PrimitiveType::TriangleStrip : PrimitiveType::LineStrip;
    TextureRecord* t0 = boundTextures_[0];
    const uint8_t* data = src;
    std::unique_ptr<uint8_t[]> spill;
    if (enlarge_ && t0 && t0->rescaled && texCoordArray_) {
        const size_t bytes = size_t(count) * stride;
        uint8_t* copy = batch_.get();
        if (bytes > kBatchBytes) {
            spill.reset(new uint8_t[bytes]);
            copy = spill.get();
        }
        std::memcpy(copy, src, bytes);
        const uint8_t* tc = static_cast<const uint8_t*>(texCoordArray_);
        const uint32_t tcStride = texCoordStride_ ? texCoordStride_ : stride;
        if (tc >= src && tc < src + stride) {
            const float su = float(t0->width) / float(t0->allocatedWidth);
            const float sv = float(t0->height) / float(t0->allocatedHeight);
            size_t at = size_t(tc - src);
            for (uint32_t i = 0; i < count && at + 8 <= bytes; ++i, at += tcStride) {
                float uv[2];
                std::memcpy(uv, copy + at, 8);
                uv[0] *= su;
                uv[1] *= sv;
                std::memcpy(copy + at, uv, 8);
            }
        }
        data = copy;
    }
    device_->DrawPrimitiveUP(type, primitives, data, stride);
    boundVertexBuffer_ = nullptr;
}

void D3DRenderDevice::DrawImmediate(uint32_t count) {
    if (!device_ || !vertexArray_ || vertexSize_ == 0 || count == 0) return;
    const uint32_t stride = vertexStride_ ? vertexStride_ : vertexSize_;
    const auto* src = static_cast<const uint8_t*>(vertexArray_);
    if (primitiveKind_ == 4) {
        AppendToBatch(src, count, stride);
        return;
    }
    FlushBatch();
    DrawStrip(src, count, stride);
}

void D3DRenderDevice::FlushBatch() {
    if (batchFill_ == 0 || !device_ || !batchBuffer_ || vertexSize_ == 0) return;
    const uint32_t fill = batchFill_;
    batchFill_ = 0;
    batchBuffer_->vertexSize = vertexSize_;
    void* dst = nullptr;
    auto* vb = static_cast<VertexBuffer*>(batchBuffer_->buffer);
    // Only the bytes written are locked, so only they are uploaded.
    if (Failed(vb->Lock(0, fill, &dst, kLockDiscard))) return;
    std::memcpy(dst, batch_.get(), fill);
    vb->Unlock();
    // The batch is drawn from its own buffer; the caller's stream (a mesh's
    // buffer, or none) is bound again after, so an indexed draw that
    // follows a flush reads the caller's vertices, not the batch's.
    VertexBufferRecord* caller = boundVertexBuffer_;
    SetVertexBuffer(batchBuffer_);
    device_->DrawPrimitive(PrimitiveType::TriangleList, 0, fill / (vertexSize_ * 3));
    if (caller != batchBuffer_) SetVertexBuffer(caller);
}

void D3DRenderDevice::DrawRect(int32_t x, int32_t y, int32_t w, int32_t h, float uL, float vT, float uR, float vB) {
    if (!device_) return;
    const float l = float(x) - 0.5f, t = float(y) - 0.5f;
    const float r = float(x) + float(w) - 0.5f, b = float(y) + float(h) - 0.5f;
    TextureRecord* t0 = boundTextures_[0];
    if (enlarge_ && t0 && t0->rescaled) {
        const float su = float(t0->width) / float(t0->allocatedWidth);
        const float sv = float(t0->height) / float(t0->allocatedHeight);
        uL *= su, uR *= su, vT *= sv, vB *= sv;
    }
    const bool textured = (renderMode_ & RM_TEXTURED) != 0;
    if (primitiveKind_ == 5) {
        FlushBatch();
        if (textured) {
            const RectVertex v[4] = {{l, t, 0, 1, uL, vT}, {r, t, 0, 1, uR, vT}, {l, b, 0, 1, uL, vB}, {r, b, 0, 1, uR, vB}};
            device_->SetFVF(fvf::XYZRHW | fvf::Tex1);
            device_->DrawPrimitiveUP(PrimitiveType::TriangleStrip, 2, v, sizeof(RectVertex));
        } else {
            const float v[4][4] = {{l, t, 0, 1}, {r, t, 0, 1}, {l, b, 0, 1}, {r, b, 0, 1}};
            device_->SetFVF(fvf::XYZRHW);
            device_->DrawPrimitiveUP(PrimitiveType::TriangleStrip, 2, v, 16);
        }
        device_->SetFVF(vertexFormat_);
        boundVertexBuffer_ = nullptr;
        return;
    }
    // The batch holds vertices of the current layout: a rectangle joins it
    // only when that layout is textured pre-transformed triangles.
    if (primitiveKind_ != 4 || (renderMode_ & 0xF) != (RM_TEXTURED | RM_PRETRANSFORMED)) return;
    const RectVertex v[6] = {{l, t, 0, 1, uL, vT}, {r, t, 0, 1, uR, vT}, {l, b, 0, 1, uL, vB},
                             {r, t, 0, 1, uR, vT}, {r, b, 0, 1, uR, vB}, {l, b, 0, 1, uL, vB}};
    if (batchFill_ + sizeof v >= kBatchBytes) FlushBatch();
    std::memcpy(batch_.get() + batchFill_, v, sizeof v);
    batchFill_ += sizeof v;
}

void D3DRenderDevice::DrawIndexed(uint32_t first, uint32_t count) {
    if (!device_ || !boundVertexBuffer_ || !boundIndexBuffer_) return;
    FlushBatch();
    device_->DrawIndexedPrimitive(PrimitiveType::TriangleList, 0, 0, boundVertexBuffer_->count, first, count / 3);
}

void D3DRenderDevice::EnableDepth(bool on) {
    if (uint8_t(on) == depthEnabled_) return;
    SetRenderStateCached(rs::ZEnable, on);
    SetRenderStateCached(rs::ZWriteEnable, on);
    depthEnabled_ = on;
}

void D3DRenderDevice::SetTransform(int which, const plat::Matrix& m) {
    if (!device_) return;
    FlushBatch();
    device_->SetTransform(which == 0   ? TransformState::World
                          : which == 1 ? TransformState::View
                                       : TransformState::Projection,
                          &m);
}

void D3DRenderDevice::SetViewport(const RenderViewport& v) {
    if (!device_) return;
    FlushBatch();
    device_->SetViewport(&v);
}

void D3DRenderDevice::GetViewport(RenderViewport* v) {
    if (!device_ || !v) return;
    device_->GetViewport(v);
}

void D3DRenderDevice::SetTextureFilter(uint32_t sampler, uint32_t which, uint32_t mode) {
    if (which > 2) return;
    SetSamplerStateCached(sampler, ss::MagFilter + which, 1 + mode);
}

void D3DRenderDevice::SetScissor(bool on, int32_t x, int32_t y, int32_t w, int32_t h) {
    if (!device_) return;
    if (on) {
        FlushBatch();
        // A script may pass any extent: the far edges saturate.
        const auto edge = [](int32_t at, int32_t size) {
            return int32_t(std::clamp<int64_t>(int64_t(at) + size, INT32_MIN, INT32_MAX));
        };
        Rect r{x, y, edge(x, w), edge(y, h)};
        device_->SetScissorRect(&r);
    }
    SetRenderStateCached(rs::ScissorTestEnable, on);
}

// ---------------------------------------------------------------- gamma

void D3DRenderDevice::SetGamma(double red, double green, double blue) {
    const double e[3] = {red, green, blue};
    for (int c = 0; c < 3; ++c) {
        // A zero, negative or undefined exponent leaves its channel alone;
        // so does one too small for a float (it would divide by zero).
        const float exponent = std::isfinite(e[c]) ? float(e[c]) : 0.0f;
        if (!(exponent > 0.0f)) continue;
        gamma_[c][0] = 0;
        for (int i = 1; i < 256; ++i) {
            float v = 65535.0f * std::pow(10.0f, std::log10(float(i) / 255.0f) / exponent);
            gamma_[c][i] = v >= 65535.0f ? 65535 : v <= 0.0f ? 0 : uint16_t(v);
        }
    }
    if (!device_) return;
    GammaRamp ramp;
    std::memcpy(ramp.red, gamma_[0], sizeof ramp.red);
    std::memcpy(ramp.green, gamma_[1], sizeof ramp.green);
    std::memcpy(ramp.blue, gamma_[2], sizeof ramp.blue);
    device_->SetGammaRamp(0, 0, &ramp);
}

void D3DRenderDevice::SetGammaRamp(const uint16_t table[256]) {
    if (!table) return;
    for (int c = 0; c < 3; ++c) std::memcpy(gamma_[c], table, 256 * sizeof(uint16_t));
    if (!device_) return;
    GammaRamp ramp;
    std::memcpy(ramp.red, table, sizeof ramp.red);
    std::memcpy(ramp.green, table, sizeof ramp.green);
    std::memcpy(ramp.blue, table, sizeof ramp.blue);
    device_->SetGammaRamp(0, 0, &ramp);
}

void D3DRenderDevice::GetGammaRamp(uint16_t out[256]) {
    if (out) std::memcpy(out, gamma_[0], 256 * sizeof(uint16_t));
}

// ------------------------------------------------------ display, adapter

int32_t D3DRenderDevice::GetDisplayModeCount() {
    if (!d3d_) {
        params_.backBufferFormat = fmt::X8R8G8B8;
        d3d_ = Direct3D::Create(kSdkVersion);
        if (!d3d_) return 0;
    }
    if (params_.backBufferFormat == fmt::Unknown) params_.backBufferFormat = fmt::X8R8G8B8;
    uint32_t n = d3d_->GetAdapterModeCount(0, params_.backBufferFormat);
    if (n == 0 && params_.backBufferFormat == fmt::X8R8G8B8) {
        params_.backBufferFormat = fmt::R5G6B5;
        n = d3d_->GetAdapterModeCount(0, params_.backBufferFormat);
    }
    return int32_t(n);
}

void D3DRenderDevice::GetDisplayMode(int32_t index, int32_t* w, int32_t* h, int32_t* refresh) {
    DisplayMode m;
    if (!d3d_ || index < 0 || Failed(d3d_->EnumAdapterModes(0, params_.backBufferFormat, uint32_t(index), &m)))
        m = DisplayMode();
    if (w) *w = int32_t(m.width);
    if (h) *h = int32_t(m.height);
    if (refresh) *refresh = int32_t(m.refreshRate);
}

void D3DRenderDevice::GetAdapterInfo(char* out, uint32_t size) {
    if (!out || size == 0) return;
    std::snprintf(out, size, "Adapter Driver     : %s\nAdapter Description: %s\nDevice Name        : %s\n",
                  adapter_.driver, adapter_.description, adapter_.deviceName);
}

// -------------------------------------------------------- shader programs

ShaderProgram* D3DRenderDevice::CreateShaderProgram(const char* name, const char* vertexSource,
                                                    const char* pixelSource) {
    auto* p = new D3DShaderProgram(name);
    if (!p->Compile(vertexSource, pixelSource)) {
        delete p;
        return nullptr;
    }
    p->next_ = programs_;
    programs_ = p;
    return p;
}

ShaderProgram* D3DRenderDevice::FindShaderProgram(const char* name) {
    if (!name) return nullptr;
    for (D3DShaderProgram* p = programs_; p; p = p->next_)
        if (p->name_ && std::strcmp(p->name_, name) == 0) return p;
    return nullptr;
}

void D3DRenderDevice::DeleteShaderProgram(ShaderProgram* program) {
    for (D3DShaderProgram** link = &programs_; *link; link = &(*link)->next_) {
        if (*link == program) {
            D3DShaderProgram* p = *link;
            *link = p->next_;
            delete p;
            return;
        }
    }
}

void D3DRenderDevice::BindShaderProgram(ShaderProgram* program) {
    FlushBatch();
    if (program)
        program->Bind();
    else if (programs_)
        programs_->Unbind();
}
