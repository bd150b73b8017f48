#include "media/image/image_data.h"

#include <gtest/gtest.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cstring>
#include <string>
#include <vector>

#include "base/byte_stream.h"
#include "base/memory.h"
#include "media/image/image_builders.h"
#include "media/image/jpeg_codec.h"
#include "media/image/png_codec.h"
#include "media/image/tga_codec.h"
#include "support/test_support.h"

using media_test::MakePng;
using media_test::MakeTga;
using media_test::TgaShape;
using media_test::ReadWith;

namespace {

void Fill(ImageData& image, uint32_t w, uint32_t h, uint32_t bits, const std::string& bytes) {
    image.Free();
    image.width = w;
    image.height = h;
    image.bits = bits;
    image.pixels = static_cast<uint8_t*>(MemAlloc(bytes.size()));
    std::memcpy(image.pixels, bytes.data(), bytes.size());
}

std::string TinyTga(char value) {
    TgaShape t;
    t.width = 1;
    t.height = 1;
    return MakeTga(t, "", std::string(3, value));
}

// Leaves a freed block of n bytes full of the byte v, so that the next
// block of that size is likely to be handed out holding it.
void DirtyHeap(size_t n, uint8_t v) {
    void* p = MemAllocUncleared(n);
    std::memset(p, v, n);
    MemFree(p);
}

// What libjpeg itself decodes from the bytes, rows top to bottom.
std::vector<uint8_t> LibjpegPixels(const uint8_t* bytes, size_t size) {
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, bytes, size);
    jpeg_read_header(&c, TRUE);
    jpeg_start_decompress(&c);
    std::vector<uint8_t> out(size_t(c.output_width) * c.output_height * 3);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = out.data() + size_t(c.output_scanline) * c.output_width * 3;
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    return out;
}

}  // namespace

// The readers take their pixel blocks uncleared: every byte must come from
// the file, whatever the block held before.
TEST(ImageData, DecodedPixelsHoldNoStaleBytes) {
    constexpr uint32_t w = 97, h = 61;
    std::string rgb;
    for (uint32_t i = 0; i < w * h; ++i) rgb += {char(i * 7), char(i >> 3), char(i * 13 + 1)};
    for (uint8_t stale : {0x00, 0xA5, 0xFF}) {
        SCOPED_TRACE(int(stale));
        // TGA, 24-bit: rows bottom-up in the file, B G R.
        std::string file_rows;
        for (uint32_t y = h; y-- > 0;)
            for (uint32_t x = 0; x < w; ++x) {
                const char* p = rgb.data() + (size_t(y) * w + x) * 3;
                file_rows += {p[2], p[1], p[0]};
            }
        TgaShape t;
        t.width = w;
        t.height = h;
        DirtyHeap(rgb.size(), stale);
        ImageData tga;
        ASSERT_TRUE(ReadWith(ReadTga, MakeTga(t, "", file_rows), tga));
        EXPECT_EQ(media_test::Bytes(tga.pixels, rgb.size()), rgb);

        // PNG, every filter type over the rows.
        std::vector<std::string> rows;
        for (uint32_t y = 0; y < h; ++y) rows.push_back(rgb.substr(size_t(y) * w * 3, size_t(w) * 3));
        DirtyHeap(rgb.size(), stale);
        ImageData png;
        ASSERT_TRUE(ReadWith(ReadPng, MakePng(w, h, 2, rows, {0, 1, 2, 3, 4}), png));
        EXPECT_EQ(media_test::Bytes(png.pixels, rgb.size()), rgb);

        // JPEG: exactly what libjpeg gives for the same bytes.
        ImageData source;
        Fill(source, w, h, 24, rgb);
        size_t size = 0;
        uint8_t* jpeg = EncodeJpeg(source, 80, size);
        ASSERT_NE(jpeg, nullptr);
        std::vector<uint8_t> expected = LibjpegPixels(jpeg, size);
        DirtyHeap(rgb.size(), stale);
        ImageData decoded;
        ASSERT_TRUE(ReadWith(ReadJpeg, std::string(reinterpret_cast<char*>(jpeg), size), decoded));
        MemFree(jpeg);
        ASSERT_EQ(expected.size(), rgb.size());
        EXPECT_EQ(std::memcmp(decoded.pixels, expected.data(), expected.size()), 0);

        // The grey conversions fill their new blocks too.
        DirtyHeap(size_t(w) * h, stale);
        tga.ToGrey();
        DirtyHeap(size_t(w) * h, stale);
        png.ToGrey();
        EXPECT_EQ(media_test::Bytes(tga.pixels, size_t(w) * h), media_test::Bytes(png.pixels, size_t(w) * h));
        DirtyHeap(size_t(w) * h, stale);
        uint8_t* same = ResampleGrey(png.pixels, int32_t(w), int32_t(h), int32_t(w), int32_t(h));
        EXPECT_EQ(media_test::Bytes(same, size_t(w) * h), media_test::Bytes(png.pixels, size_t(w) * h));
        MemFree(same);
    }
}

TEST(ImageData, ToGreyWeightsEachLayout) {
    ImageData image;
    Fill(image, 2, 1, 24, std::string("\xff\x00\x00\x10\x20\x30", 6));
    image.has_colour_key = 1;
    image.ToGrey();
    EXPECT_EQ(image.bits, 0u);
    EXPECT_EQ(image.has_colour_key, 0);
    EXPECT_EQ(image.pixels[0], (76 * 255) >> 8);
    EXPECT_EQ(image.pixels[1], (76 * 0x10 + 150 * 0x20 + 30 * 0x30) >> 8);

    Fill(image, 1, 1, 32, std::string("\x30\x20\x10\xff", 4));  // B G R A
    image.alpha = static_cast<uint8_t*>(MemAlloc(1));
    image.ToGrey();
    EXPECT_EQ(image.alpha, nullptr);
    EXPECT_EQ(image.pixels[0], (76 * 0x10 + 150 * 0x20 + 30 * 0x30) >> 8);

    Fill(image, 2, 1, 8, std::string("\x01\x00", 2));
    image.palette = static_cast<uint8_t*>(MemAlloc(kPaletteBytes));
    std::memcpy(image.palette + 3, "\x00\xff\x00", 3);
    image.ToGrey();
    EXPECT_EQ(image.palette, nullptr);
    EXPECT_EQ(image.pixels[0], 150 * 255 >> 8);
    EXPECT_EQ(image.pixels[1], 0);

    image.ToGrey();  // already grey: unchanged
    EXPECT_EQ(image.pixels[0], 150 * 255 >> 8);
}

TEST(ImageData, ResampleGreyNearestNeighbour) {
    const uint8_t src[4] = {1, 2, 3, 4};  // 2 x 2
    uint8_t* up = ResampleGrey(src, 2, 2, 4, 3);
    ASSERT_NE(up, nullptr);
    const uint8_t expect_up[12] = {1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4};
    EXPECT_EQ(std::memcmp(up, expect_up, 12), 0);
    MemFree(up);
    const uint8_t wide[6] = {1, 2, 3, 4, 5, 6};  // 3 x 2
    uint8_t* down = ResampleGrey(wide, 3, 2, 2, 1);
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down[0], 1);
    EXPECT_EQ(down[1], 2);  // step 1536: (1 * 1536) >> 10 = 1
    MemFree(down);
    EXPECT_EQ(ResampleGrey(src, 2, 2, 0, 3), nullptr);
    EXPECT_EQ(ResampleGrey(src, 0, 2, 2, 3), nullptr);
}

TEST(ImageData, ReadBigEndian32) {
    ByteStream s;
    s.Borrow("\x12\x34\x56\x78\x9a", 5);
    EXPECT_EQ(ReadBigEndian32(&s), 0x12345678u);
    EXPECT_EQ(ReadBigEndian32(&s), 0u);  // one byte left
}

TEST(ImageData, LoadImageByExtension) {
    quild_test::TempDir dir;
    // A bare name tries .tga, .jpg, .jpeg, .png in that order.
    quild_test::WriteFile(dir.file("pic.tga"), TinyTga(1));
    quild_test::WriteFile(dir.file("pic.png"), MakePng(1, 1, 0, {"\x09"}, {0}));
    ImageData image;
    ASSERT_TRUE(LoadImage(dir.file("pic").c_str(), image));
    EXPECT_EQ(image.bits, 24u);
    ASSERT_TRUE(LoadImage(dir.file("PIC.PNG").c_str(), image));
    EXPECT_EQ(image.bits, 0u);
    EXPECT_EQ(image.pixels[0], 9);

    quild_test::WriteFile(dir.file("only.png"), MakePng(1, 1, 0, {"\x07"}, {0}));
    ASSERT_TRUE(LoadImage(dir.file("only").c_str(), image));
    EXPECT_EQ(image.pixels[0], 7);

    // ".jpeg" is an extension like ".jpg".
    ImageData rgb;
    Fill(rgb, 8, 8, 24, std::string(192, '\x80'));
    size_t size = 0;
    uint8_t* jpeg = EncodeJpeg(rgb, 90, size);
    ASSERT_NE(jpeg, nullptr);
    quild_test::WriteFile(dir.file("photo.jpeg"), std::string(reinterpret_cast<char*>(jpeg), size));
    MemFree(jpeg);
    ASSERT_TRUE(LoadImage(dir.file("photo.jpeg").c_str(), image));
    EXPECT_EQ(image.width, 8u);
    ASSERT_TRUE(LoadImage(dir.file("photo").c_str(), image));
    EXPECT_EQ(image.bits, 24u);

    // Names shorter than any extension, unknown extensions, missing files.
    EXPECT_FALSE(LoadImage("", image));
    EXPECT_FALSE(LoadImage("x", image));
    EXPECT_FALSE(LoadImage(".tg", image));
    EXPECT_FALSE(LoadImage(dir.file("pic.bmp").c_str(), image));
    EXPECT_FALSE(LoadImage(dir.file("none").c_str(), image));
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_STREQ(ImageExtension("a.JPEG"), ".JPEG");
    EXPECT_STREQ(ImageExtension("a.tga"), ".tga");
    EXPECT_EQ(ImageExtension(".tga"), nullptr);
}
