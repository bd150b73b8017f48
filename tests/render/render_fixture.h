#pragma once
// A headless render device for pixel tests, read-back and PNG frames.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gpu/direct3d.h"
#include "render/d3d_render_device.h"

namespace render_test {

// Writes 0xRRGGBB pixels as a PNG under the build folder's frames/; returns
// its path.
std::string SaveFramePng(const std::vector<uint32_t>& px, int w, int h, const std::string& name);

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    void TearDown() override { Close(); }

    void Open(int w = 64, int h = 64) {
        dev = new D3DRenderDevice();
        dev->width = w;
        dev->height = h;
        ASSERT_EQ(dev->Create(false), 0) << dev->errorText;
        ASSERT_TRUE(dev->BeginScene());
        dev->EnableDepth(false);
    }
    void Close() {
        delete dev;
        dev = nullptr;
        plat::gpu::ClearTestOverride();
    }

    // The back buffer (or a render target) as ARGB words.
    std::vector<uint32_t> Read(TextureRecord* target = nullptr);
    uint32_t At(const std::vector<uint32_t>& px, int x, int y) const { return px[size_t(y) * dev->width + x] & 0xFFFFFF; }
    std::string SavePng(const std::vector<uint32_t>& px, int w, int h, const std::string& name) {
        return SaveFramePng(px, w, h, name);
    }

    D3DRenderDevice* dev = nullptr;
};

// The device fixture as a member of another fixture (scene tests keep
// their own base class and open a screen beside it).
class Screen : public RenderTest {
public:
    void TestBody() override {}
    using RenderTest::Close;
    using RenderTest::dev;
    using RenderTest::Open;
    using RenderTest::Read;
};

// A solid-colour texture of the given kind.
TextureRecord* SolidTexture(D3DRenderDevice* dev, int w, int h, uint32_t argb, int kind = TEXKIND_A8R8G8B8);

}  // namespace render_test
