#pragma once
// A headless device for the GPU layer's tests, and pixel read-back.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/gpu/direct3d.h"

namespace gpu_test {

using namespace plat::gpu;

class GpuTest : public ::testing::Test {
protected:
    void SetUp() override { Open(64, 64); }
    void TearDown() override { Close(); }

    void Open(uint32_t w, uint32_t h) {
        d3d = Direct3D::Create(kSdkVersion);
        ASSERT_NE(d3d, nullptr);
        PresentParameters p;
        p.backBufferWidth = w;
        p.backBufferHeight = h;
        p.backBufferFormat = fmt::X8R8G8B8;
        p.enableAutoDepthStencil = true;
        p.autoDepthStencilFormat = fmt::D24S8;
        ASSERT_EQ(d3d->CreateDevice(0, DeviceType::Hal, nullptr, kCreateHardwareVertexProcessing, &p, &dev), kOk)
            << d3d->LastError();
        width = w;
        height = h;
    }
    void Close() {
        if (dev) dev->Release();
        if (d3d) d3d->Release();
        dev = nullptr;
        d3d = nullptr;
        ClearTestOverride();
    }

    // ARGB pixels of a render-target surface (the current target when null).
    std::vector<uint32_t> Read(Surface* target = nullptr) {
        Surface* t = target;
        if (!t) dev->GetRenderTarget(0, &t);
        SurfaceDesc d;
        t->GetDesc(&d);
        Surface* mem = nullptr;
        EXPECT_EQ(dev->CreateOffscreenPlainSurface(d.width, d.height, fmt::X8R8G8B8, Pool::SystemMem, &mem), kOk);
        EXPECT_EQ(dev->GetRenderTargetData(t, mem), kOk);
        LockedRect lr;
        mem->LockRect(&lr, nullptr, 0);
        std::vector<uint32_t> px(size_t(d.width) * d.height);
        for (uint32_t y = 0; y < d.height; ++y)
            for (uint32_t x = 0; x < d.width; ++x)
                px[size_t(y) * d.width + x] =
                    static_cast<const uint32_t*>(static_cast<const void*>(static_cast<const uint8_t*>(lr.bits) + y * lr.pitch))[x];
        mem->UnlockRect();
        mem->Release();
        if (!target) t->Release();
        return px;
    }
    uint32_t At(const std::vector<uint32_t>& px, uint32_t x, uint32_t y) { return px[size_t(y) * width + x] & 0xFFFFFF; }

    Direct3D* d3d = nullptr;
    Device* dev = nullptr;
    uint32_t width = 0, height = 0;
};

struct TLVertex {
    float x, y, z, rhw;
    uint32_t color;
    float u, v;
};

}  // namespace gpu_test
