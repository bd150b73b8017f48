// Textures drawn by the real device (OpenGL, headless) into a render target
// and read back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/memory.h"
#include "media/draw2d.h"
#include "media/image_data.h"
#include "media/texture.h"
#include "media/tga_codec.h"
#include "render/d3d_render_device.h"
#include "support/test_support.h"

namespace {

class TextureRender : public ::testing::Test {
protected:
    void SetUp() override {
        dev = new D3DRenderDevice();
        dev->width = 64;
        dev->height = 64;
        ASSERT_EQ(dev->Create(false), 0) << dev->errorText;
        saved = g_renderDevice;
        g_renderDevice = dev;
        ASSERT_TRUE(dev->BeginScene());
        dev->EnableDepth(false);
    }
    void TearDown() override {
        g_renderDevice = saved;
        delete dev;
    }
    // The target's pixels as 0xRRGGBB, top row first.
    std::vector<uint32_t> Read(TextureRecord* target) {
        dev->LockTexture(target);
        std::vector<uint32_t> px(size_t(target->width) * target->height);
        if (target->bits)
            for (int y = 0; y < target->height; ++y)
                std::memcpy(&px[size_t(y) * target->width],
                            static_cast<uint8_t*>(target->bits) + size_t(y) * target->pitch,
                            target->width * 4);
        dev->UnlockTexture(target);
        for (uint32_t& p : px) p &= 0xFFFFFF;
        return px;
    }
    // With QUILD_SAVE_FRAMES set, the frame goes to that folder as a TGA.
    void Save(const std::vector<uint32_t>& px, int w, int h, const char* name) {
        const char* folder = std::getenv("QUILD_SAVE_FRAMES");
        if (!folder) return;
        ImageData image;
        image.width = w;
        image.height = h;
        image.bits = kImageArgb;
        image.pixels = static_cast<uint8_t*>(MemAlloc(px.size() * 4));
        std::memcpy(image.pixels, px.data(), px.size() * 4);
        size_t size = 0;
        uint8_t* bytes = EncodeTga(image, size);
        quild_test::WriteFile(std::string(folder) + "/" + name + ".tga",
                              std::string(reinterpret_cast<char*>(bytes), size));
        MemFree(bytes);
    }

    D3DRenderDevice* dev = nullptr;
    RenderDevice* saved = nullptr;
};

// An 8 x 8 checker of single pixels, red and blue.
void Checker(ImageData& image) {
    image.width = image.height = 8;
    image.bits = kImageRgb;
    image.pixels = static_cast<uint8_t*>(MemAlloc(8 * 8 * 3));
    for (int i = 0; i < 64; ++i) {
        bool red = ((i % 8) + (i / 8)) % 2 == 0;
        image.pixels[i * 3] = red ? 255 : 0;
        image.pixels[i * 3 + 2] = red ? 0 : 255;
    }
}

}  // namespace

TEST_F(TextureRender, PointSamplingAtItsOwnSizeAndShapes) {
    ImageData image;
    Checker(image);
    Texture t;
    ASSERT_TRUE(t.CreateFromImage(image, 0));
    TextureRecord* target = dev->CreateTexture(40, 24, TEXKIND_RENDER_TARGET, nullptr, 0);
    ASSERT_NE(target, nullptr);
    ASSERT_EQ(dev->BeginRenderTarget(target), 1);
    dev->Clear(0xFF000000);
    DrawTextureRect(&t, 2, 2, 8, 8, 0xFFFFFFFF, 0);     // 1:1
    DrawTextureRect(&t, 14, 2, 16, 16, 0xFFFFFFFF, 0);  // twice the size, linear
    FillRect(2, 14, 8, 4, 0xFF00FF00);
    DrawLine(32, 2, 32, 20, 0xFFFFFFFF);
    ASSERT_EQ(dev->EndRenderTarget(), 1);
    std::vector<uint32_t> px = Read(target);
    Save(px, 40, 24, "texture_draw");

    auto at = [&](int x, int y) { return px[size_t(y) * 40 + x]; };
    // Every texel lands on exactly one pixel, unblended.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(at(2 + x, 2 + y), ((x + y) % 2 == 0) ? 0xFF0000u : 0x0000FFu) << x << "," << y;
    // Stretched with linear filtering, neighbours mix somewhere inside.
    bool mixed = false;
    for (int y = 4; y < 16 && !mixed; ++y)
        for (int x = 16; x < 28 && !mixed; ++x) {
            uint32_t p = at(x, y);
            mixed = (p >> 16) > 0 && (p & 0xFF) > 0;
        }
    EXPECT_TRUE(mixed);
    EXPECT_EQ(at(5, 15), 0x00FF00u);
    EXPECT_EQ(at(1, 15), 0u);
    EXPECT_EQ(at(32, 10), 0xFFFFFFu);
    dev->ReleaseTexture(target);
    t.Release();
}
