#include "media/image/texture_pixels.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/memory.h"
#include "media/image/draw2d.h"
#include "media/image/image_data.h"
#include "support/test_support.h"

namespace {

void Make(ImageData& image, uint32_t w, uint32_t h, uint32_t bits, const void* pixels, size_t n) {
    image.Free();
    image.width = w;
    image.height = h;
    image.bits = bits;
    image.pixels = static_cast<uint8_t*>(MemAlloc(n));
    std::memcpy(image.pixels, pixels, n);
}

uint32_t Word(const TexturePixels& t, size_t i) {
    uint32_t w;
    std::memcpy(&w, t.data + i * 4, 4);
    return w;
}

}  // namespace

TEST(TexturePixels, ColourImagesByLayoutAndFlags) {
    ImageData image;
    TexturePixels t;
    const uint8_t rgb[6] = {0x10, 0x20, 0x30, 0xAA, 0xBB, 0xCC};
    Make(image, 2, 1, 24, rgb, 6);
    ASSERT_TRUE(ConvertImageForTexture(image, 0, t));
    EXPECT_EQ(t.kind, TEXKIND_X8R8G8B8);
    EXPECT_EQ(t.flags, 0u);
    EXPECT_EQ(t.bytes, 8u);
    EXPECT_EQ(Word(t, 0), 0x00102030u);  // alpha stays 0 without flag 16
    // A colour key: every other colour opaque, the key colour clear.
    image.has_colour_key = 1;
    image.colour_key = 0xAABBCC;
    ASSERT_TRUE(ConvertImageForTexture(image, 0, t));
    EXPECT_EQ(t.kind, TEXKIND_A8R8G8B8);
    EXPECT_EQ(t.flags, kTextureAlpha);
    EXPECT_EQ(Word(t, 0), 0xFF102030u);
    EXPECT_EQ(Word(t, 1), 0x00AABBCCu);
    // Flag 16 without a key keys black.
    const uint8_t with_black[6] = {0, 0, 0, 0xAA, 0xBB, 0xCC};
    ImageData black;
    Make(black, 2, 1, 24, with_black, 6);
    black.colour_key = 0xAABBCC;  // not a key without its flag
    ASSERT_TRUE(ConvertImageForTexture(black, kTextureAlpha, t));
    EXPECT_EQ(Word(t, 0), 0u);
    EXPECT_EQ(Word(t, 1), 0xFFAABBCCu);
    // Opaque wins over the key's alpha.
    ASSERT_TRUE(ConvertImageForTexture(image, kTextureOpaque, t));
    EXPECT_EQ(t.kind, TEXKIND_X8R8G8B8);
    EXPECT_EQ(t.flags, kTextureOpaque);
    // An alpha plane is merged.
    image.has_colour_key = 0;
    image.alpha = static_cast<uint8_t*>(MemAlloc(2));
    image.alpha[0] = 0x80;
    image.alpha[1] = 0x40;
    ASSERT_TRUE(ConvertImageForTexture(image, 0, t));
    EXPECT_EQ(Word(t, 0), 0x80102030u);
    EXPECT_EQ(Word(t, 1), 0x40AABBCCu);
    EXPECT_EQ(t.flags, kTextureAlpha);

    // 32-bit pixels are used as they are, with alpha.
    const uint8_t argb[4] = {1, 2, 3, 4};
    Make(image, 1, 1, 32, argb, 4);
    ASSERT_TRUE(ConvertImageForTexture(image, 0, t));
    EXPECT_EQ(t.data, image.pixels);
    EXPECT_EQ(t.kind, TEXKIND_A8R8G8B8);
    // A luminance request on colour pixels still makes a colour texture.
    ASSERT_TRUE(ConvertImageForTexture(image, kTextureLuminance, t));
    EXPECT_EQ(t.kind, TEXKIND_A8R8G8B8);
    ASSERT_TRUE(ConvertImageForTexture(image, kTextureCube | kTextureOpaque, t));
    EXPECT_EQ(t.flags, kTextureOpaque);
}

TEST(TexturePixels, PaletteGreyAndRefusals) {
    ImageData image;
    TexturePixels t;
    const uint8_t idx[3] = {0, 1, 2};
    Make(image, 3, 1, 8, idx, 3);
    image.palette = static_cast<uint8_t*>(MemAlloc(kPaletteBytes));
    std::memcpy(image.palette, "\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9);
    ASSERT_TRUE(ConvertImageForTexture(image, 0, t));
    EXPECT_EQ(Word(t, 1), 0xFF040506u);
    EXPECT_EQ(t.kind, TEXKIND_X8R8G8B8);
    image.has_colour_key = 1;
    image.colour_key = 2;
    ASSERT_TRUE(ConvertImageForTexture(image, 0, t));
    EXPECT_EQ(Word(t, 0), 0xFF010203u);
    EXPECT_EQ(Word(t, 2), 0u);
    EXPECT_EQ(t.kind, TEXKIND_A8R8G8B8);
    // Flag 16 without a key keys index 0, whatever key value is left over.
    image.has_colour_key = 0;
    ASSERT_TRUE(ConvertImageForTexture(image, kTextureAlpha, t));
    EXPECT_EQ(Word(t, 0), 0u);
    EXPECT_EQ(Word(t, 2), 0xFF070809u);
    EXPECT_EQ(t.kind, TEXKIND_A8R8G8B8);

    // Grey: an L8 texture of w * h bytes.
    const uint8_t grey[6] = {0, 50, 100, 150, 200, 250};
    Make(image, 3, 2, 0, grey, 6);
    ASSERT_TRUE(ConvertImageForTexture(image, kTextureAlpha, t));
    EXPECT_EQ(t.kind, TEXKIND_L8);
    EXPECT_EQ(t.bytes, 6u);
    EXPECT_EQ(t.flags, kTextureGreyFlags);
    EXPECT_TRUE(t.grey);

    ImageData empty;
    EXPECT_FALSE(ConvertImageForTexture(empty, 0, t));
    EXPECT_EQ(t.data, nullptr);
    Make(image, 1, 1, 16, grey, 2);
    EXPECT_FALSE(ConvertImageForTexture(image, 0, t));
    Make(image, 1, 1, 8, grey, 1);  // palette layout without a palette
    EXPECT_FALSE(ConvertImageForTexture(image, 0, t));
}

TEST(TexturePixels, ByteSizesAndNames) {
    EXPECT_EQ(TextureByteSize(TEXKIND_R5G6B5, 10, 4), 80u);
    EXPECT_EQ(TextureByteSize(TEXKIND_YUY2, 10, 4), 80u);
    EXPECT_EQ(TextureByteSize(TEXKIND_A8R8G8B8, 10, 4), 160u);
    EXPECT_EQ(TextureByteSize(TEXKIND_RENDER_TARGET, 10, 4), 160u);
    EXPECT_EQ(TextureByteSize(TEXKIND_L8, 10, 4), 40u);
    EXPECT_EQ(TextureByteSize(TEXKIND_CUBE, 10, 4), 40u);
    EXPECT_EQ(TextureByteSize(TEXKIND_DXT1, 11, 4), 20u);
    EXPECT_EQ(TextureByteSize(TEXKIND_DDS, 10, 4), 0u);
    EXPECT_EQ(TextureByteSize(TEXKIND_A8R8G8B8, 0, 4), 0u);

    quild_test::TempDir dir;
    quild_test::WriteFile(dir.file("sky.dds"), "DDS ");
    quild_test::WriteFile(dir.file("sky.tga"), "x");
    quild_test::WriteFile(dir.file("sea.tga"), "x");
    TextureFile f = ResolveTextureName(dir.file("sky").c_str());
    EXPECT_TRUE(f.dds);  // a bare name prefers the DDS file
    EXPECT_EQ(f.path, dir.file("sky.dds"));
    f = ResolveTextureName(dir.file("sky.tga").c_str());
    EXPECT_FALSE(f.dds);
    EXPECT_EQ(f.path, dir.file("sky.tga"));
    f = ResolveTextureName(dir.file("SKY.DDS").c_str());
    EXPECT_TRUE(f.dds);
    f = ResolveTextureName(dir.file("sea").c_str());
    EXPECT_FALSE(f.dds);
    EXPECT_EQ(f.path, dir.file("sea"));  // LoadImage finds the extension
    EXPECT_FALSE(ResolveTextureName("x").dds);
    EXPECT_TRUE(ResolveTextureName(nullptr).path.empty());
}

TEST(Draw2D, VertexShapes) {
    ScreenVertex line[2];
    LineVertices(1, 2, 30, 40, line);
    EXPECT_EQ(line[1].x, 30);
    EXPECT_EQ(line[1].y, 40);
    EXPECT_EQ(line[0].rhw, 1);
    ScreenVertex box[5];
    OutlineVertices(10, 20, 5, 6, box);
    EXPECT_EQ(box[2].x, 15);
    EXPECT_EQ(box[2].y, 26);
    EXPECT_EQ(box[4].x, box[0].x);
    EXPECT_EQ(box[4].y, box[0].y);

    ScreenTexVertex q[4];
    RotatedQuadVertices(100, 50, 20, 10, 0, q);
    EXPECT_FLOAT_EQ(q[0].x, 100.0f);  // centre 109.75 less 9.75
    EXPECT_FLOAT_EQ(q[0].y, 50.0f);
    EXPECT_FLOAT_EQ(q[3].x, 119.5f);
    EXPECT_FLOAT_EQ(q[3].y, 59.5f);
    EXPECT_EQ(q[0].u, 0);
    EXPECT_EQ(q[3].v, 1);
    RotatedQuadVertices(100, 50, 20, 10, 90, q);
    // A quarter turn: the first corner (-sx, -sy) goes to (sy, -sx).
    EXPECT_NEAR(q[0].x, 109.75f + 4.75f, 1e-4);
    EXPECT_NEAR(q[0].y, 54.75f - 9.75f, 1e-4);
}
