#include "media/image/texture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/memory.h"
#include "base/text.h"
#include "media/image/draw2d.h"
#include "media/image/image_builders.h"
#include "media/image/image_data.h"
#include "media/recording_device.h"
#include "media/resource_manager.h"
#include "media/image/tga_codec.h"
#include "support/test_support.h"

using media_test::DeviceScope;
using media_test::MakeTga;
using media_test::TgaShape;

namespace {

std::string Tga(uint16_t w, uint16_t h, uint8_t depth = 24) {
    TgaShape t;
    t.width = w;
    t.height = h;
    t.depth = depth;
    return MakeTga(t, "", std::string(size_t(w) * h * depth / 8, '\x40'));
}

void Grey(ImageData& image, uint32_t w, uint32_t h, uint8_t value) {
    image.Free();
    image.width = w;
    image.height = h;
    image.bits = kImageGrey;
    image.pixels = static_cast<uint8_t*>(MemAlloc(size_t(w) * h));
    std::memset(image.pixels, value, size_t(w) * h);
}

}  // namespace

TEST(Texture, LoadByNamePrefersDds) {
    DeviceScope scope;
    auto& dev = scope.device;
    quild_test::TempDir dir;
    quild_test::WriteFile(dir.file("wall.dds"), "DDS file bytes");
    quild_test::WriteFile(dir.file("wall.tga"), Tga(4, 2));
    Texture t;
    ASSERT_TRUE(LoadTexture(&t, dir.file("wall").c_str(), 0));
    EXPECT_EQ(dev.calls.back(), "create 0 0x0 14");
    EXPECT_EQ(t.flags, 0u);  // DXT1: no blending
    EXPECT_EQ(t.width, 8);
    dev.dds_kind = TEXKIND_DXT5;
    ASSERT_TRUE(LoadTexture(&t, dir.file("wall").c_str(), 0));
    EXPECT_EQ(dev.calls[dev.calls.size() - 2], "release");  // the previous texture goes first
    EXPECT_EQ(t.flags, kTextureAlpha);
    ASSERT_TRUE(LoadTexture(&t, dir.file("wall").c_str(), kTextureCube));
    EXPECT_EQ(dev.calls.back(), "create 8 0x0 14");
    EXPECT_EQ(t.flags, 0u);
    EXPECT_EQ(t.width, 0);
    t.Release();

    // With the extension the TGA is decoded: 4 x 2 X8R8G8B8.
    ASSERT_TRUE(LoadTexture(&t, dir.file("wall.tga").c_str(), 0));
    EXPECT_EQ(dev.calls.back(), "create 2 4x2 32");
    EXPECT_EQ(t.ByteSize(), 32u);
    t.Release();
    EXPECT_EQ(dev.live, 0);
    EXPECT_FALSE(LoadTexture(&t, dir.file("none").c_str(), 0));
    EXPECT_FALSE(LoadTexture(&t, "", 0));
    EXPECT_FALSE(LoadTexture(nullptr, dir.file("wall").c_str(), 0));
}

TEST(Texture, GreyImagesRefillAndReadBack) {
    DeviceScope scope;
    auto& dev = scope.device;
    ImageData image;
    Grey(image, 3, 2, 7);
    Texture t;
    ASSERT_TRUE(t.CreateFromImage(image, 0));
    EXPECT_EQ(dev.calls.back(), "create 4 3x2 6");  // L8, w * h bytes
    EXPECT_EQ(t.flags, kTextureGreyFlags);
    EXPECT_EQ(t.ByteSize(), 6u);

    // Same size and format: refilled in place.
    Grey(image, 3, 2, 9);
    dev.calls.clear();
    ASSERT_TRUE(t.CreateFromImage(image, 0));
    EXPECT_EQ(dev.Joined(), "lock;unlock;");
    ImageData back;
    ASSERT_TRUE(t.ReadPixels(back));
    EXPECT_EQ(back.bits, kImageGrey);
    EXPECT_EQ(back.pixels[5], 9);

    // Another size: a new texture, not a copy that does not fit.
    Grey(image, 4, 4, 1);
    dev.calls.clear();
    ASSERT_TRUE(t.CreateFromImage(image, 0));
    EXPECT_EQ(dev.Joined(), "release;create 4 4x4 16;");
    EXPECT_EQ(t.width, 4);

    // Another format (colour into a grey texture): made anew as well.
    ImageData rgb;
    rgb.width = rgb.height = 4;
    rgb.bits = kImageRgb;
    rgb.pixels = static_cast<uint8_t*>(MemAlloc(48));
    rgb.pixels[0] = 0x11;
    dev.calls.clear();
    ASSERT_TRUE(t.CreateFromImage(rgb, 0));
    EXPECT_EQ(dev.Joined(), "release;create 2 4x4 64;");  // colour pixels make a colour texture
    t.Release();

    // A 32-bit read-back of a colour texture.
    ASSERT_TRUE(t.CreateFromImage(rgb, kTextureAlpha));
    ASSERT_TRUE(t.ReadPixels(back));
    EXPECT_EQ(back.bits, kImageArgb);
    EXPECT_EQ(back.pixels[2], 0x11);  // R of A R G B, bytes B G R A
    EXPECT_EQ(back.pixels[3], 0xFF);
    t.Release();
    EXPECT_FALSE(t.ReadPixels(back));
    ImageData empty;
    EXPECT_FALSE(t.CreateFromImage(empty, 0));
    EXPECT_EQ(dev.live, 0);
}

TEST(Draw2D, TextureRectFiltersPointOnlyAtItsOwnSize) {
    DeviceScope scope;
    auto& dev = scope.device;
    ImageData image;
    Grey(image, 64, 64, 1);
    Texture t;
    ASSERT_TRUE(t.CreateFromImage(image, 0));
    dev.calls.clear();
    DrawTextureRect(&t, 10, 20, 64, 64, 0xFFFFFFFF, 0x10);
    EXPECT_EQ(dev.Joined(),
              "mode 80001019 ffffffff;texture 0 set;filter 0 0 0;filter 0 1 0;rect 10 20 64 64 0 0 1 1;"
              "filter 0 0 1;filter 0 1 1;");
    dev.calls.clear();
    t.DrawInRect(Rect(0, 0, 65, 64), 0x80FFFFFF, 0);
    EXPECT_EQ(dev.Joined(),
              "mode 80001009 80ffffff;texture 0 set;rect 0 0 65 64 0 0 1 1;filter 0 0 1;filter 0 1 1;");
    dev.calls.clear();
    t.DrawAtDefault(3, 4);
    EXPECT_EQ(dev.calls[4], "rect 3 4 64 64 0 0 1 1");  // its own size: point filtering
    t.Release();
    dev.calls.clear();
    DrawTextureRect(&t, 0, 0, 1, 1, 0, 0);  // nothing loaded: nothing drawn
    EXPECT_TRUE(dev.calls.empty());
}

TEST(Draw2D, LinesRectanglesAndTurnedQuads) {
    DeviceScope scope;
    auto& dev = scope.device;
    DrawLine(1, 2, 3, 4, 0xFF00FF00);
    FillRect(5, 6, 7, 8, 0x80000000);
    DrawRectOutline(10, 10, 4, 4, 0xFFFFFFFF);
    DrawTexturedRect(Rect(1, 1, 2, 2), 0.25f, 0.5f, 0.75f, 1);
    DrawRotatedQuad(0, 0, 10, 10, 45);
    EXPECT_EQ(dev.Joined(),
              "mode 2008 ff00ff00;immediate 2;mode 1008 80000000;rect 5 6 7 8 0 0 0 0;mode 2008 ffffffff;"
              "immediate 5;rect 1 1 2 2 0.25 0.5 0.75 1;immediate 4;");
    ASSERT_EQ(dev.immediate.size(), 3u);
    EXPECT_EQ(dev.immediate[0], (std::vector<float>{1, 2, 0, 1, 3, 4, 0, 1}));
    EXPECT_EQ(dev.immediate[1][8], 14);       // third corner x
    EXPECT_EQ(dev.immediate[2].size(), 24u);  // four 24-byte vertices
}

TEST(Texture, ImageResourcesThroughTheManager) {
    DeviceScope scope;
    quild_test::TempDir dir;
    quild_test::WriteFile(dir.file("sign.tga"), Tga(8, 4, 32));
    ResourceManager manager;
    media_test::LogRecorder log;
    ResourceRecord* r = manager.DeclareImage(dir.file("sign").c_str(), kTextureOpaque);
    ASSERT_NE(r, nullptr);
    Texture* t = manager.GetImage(r);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(t->device_texture, nullptr);
    EXPECT_EQ(t->flags, kTextureOpaque);  // 32-bit pixels, made opaque
    EXPECT_EQ(r->size, 8u * 4 * 4);
    EXPECT_EQ(manager.TotalBytes(), 128u);
    manager.Remove(r, false);
    EXPECT_EQ(scope.device.live, 0);
    EXPECT_EQ(manager.TotalBytes(), 0u);
    manager.Clear();
}
