// Textures drawn by the real device (OpenGL, headless) into a render target
// and read back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/memory.h"
#include "media/image/draw2d.h"
#include "media/image/image_builders.h"
#include "media/image/image_data.h"
#include "media/image/texture.h"
#include "media/image/tga_codec.h"
#include "render/d3d_render_device.h"
#include "render/render_fixture.h"
#include "support/test_support.h"

using media_test::MakeTga;
using media_test::TgaShape;

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

void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 255);
}

// An uncompressed 4 x 4 DDS file of one colour, with or without alpha.
std::string Dds(uint32_t argb, bool alpha) {
    std::string s = "DDS ";
    Put32(s, 124);
    Put32(s, 0x1 | 0x2 | 0x4 | 0x8 | 0x1000);  // caps, height, width, pitch, pixel format
    Put32(s, 4);                               // height
    Put32(s, 4);                               // width
    Put32(s, 16);                              // pitch
    Put32(s, 0);                               // depth
    Put32(s, 1);                               // mip levels
    for (int i = 0; i < 11; ++i) Put32(s, 0);
    Put32(s, 32);  // pixel format size
    Put32(s, alpha ? 0x41 : 0x40);
    Put32(s, 0);
    Put32(s, 32);
    Put32(s, 0xFF0000);
    Put32(s, 0xFF00);
    Put32(s, 0xFF);
    Put32(s, alpha ? 0xFF000000u : 0);
    Put32(s, 0x1000);  // caps
    for (int i = 0; i < 4; ++i) Put32(s, 0);
    for (int i = 0; i < 16; ++i) Put32(s, argb);
    return s;
}

}  // namespace

TEST_F(TextureRender, BareNamesPreferTheDdsFile) {
    quild_test::TempDir dir;
    quild_test::WriteFile(dir.file("door.dds"), Dds(0xFF00FF00, false));
    TgaShape tga;
    tga.width = tga.height = 2;
    quild_test::WriteFile(dir.file("door.tga"), MakeTga(tga, "", std::string(12, '\x7f')));
    quild_test::WriteFile(dir.file("glass.dds"), Dds(0x80FF0000, true));
    Texture door, glass, tga_door;
    ASSERT_TRUE(LoadTexture(&door, dir.file("door").c_str(), 0));
    EXPECT_EQ(door.device_texture->kind, TEXKIND_X8R8G8B8);
    EXPECT_EQ(door.flags, 0u);  // X8R8G8B8: opaque
    EXPECT_EQ(door.width, 4);
    ASSERT_TRUE(LoadTexture(&glass, dir.file("glass").c_str(), 0));
    EXPECT_EQ(glass.flags, kTextureAlpha);
    ASSERT_TRUE(LoadTexture(&tga_door, dir.file("door.tga").c_str(), 0));
    EXPECT_EQ(tga_door.width, 2);

    TextureRecord* target = dev->CreateTexture(8, 8, TEXKIND_RENDER_TARGET, nullptr, 0);
    ASSERT_EQ(dev->BeginRenderTarget(target), 1);
    dev->Clear(0xFF0000FF);
    door.DrawAtDefault(0, 0);
    glass.DrawAtDefault(4, 4);  // half red over blue
    ASSERT_EQ(dev->EndRenderTarget(), 1);
    std::vector<uint32_t> px = Read(target);
    EXPECT_EQ(px[1 * 8 + 1], 0x00FF00u);
    uint32_t blend = px[5 * 8 + 5];
    EXPECT_NEAR(int(blend >> 16), 128, 2);
    EXPECT_NEAR(int(blend & 0xFF), 127, 2);
    dev->ReleaseTexture(target);
    door.Release();
    glass.Release();
    tga_door.Release();
}

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
    render_test::SaveFramePng(px, 40, 24, "texture_draw");

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
