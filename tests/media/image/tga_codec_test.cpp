#include "media/image/tga_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <string>

#include "base/byte_stream.h"
#include "base/file_stream.h"
#include "base/memory.h"
#include "media/image/image_builders.h"
#include "support/test_support.h"

using media_test::LogRecorder;
using media_test::MakeTga;
using media_test::TgaShape;

using media_test::Bytes;

namespace {

bool Read(const std::string& bytes, ImageData& image) {
    return media_test::ReadWith(ReadTga, bytes, image);
}

}  // namespace

TEST(Tga, TrueColourRowsAndChannelOrder) {
    TgaShape t;
    t.width = 2;
    t.height = 2;
    // File rows bottom first, pixels B G R.
    std::string rows =
        std::string("\x01\x02\x03\x04\x05\x06", 6) + std::string("\x11\x12\x13\x14\x15\x16", 6);
    ImageData image;
    ASSERT_TRUE(Read(MakeTga(t, "", rows), image));
    EXPECT_EQ(image.bits, 24u);
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(Bytes(image.pixels, 12), std::string("\x13\x12\x11\x16\x15\x14\x03\x02\x01\x06\x05\x04", 12));

    // The origin bit is not read: files that set it still load bottom-up.
    t.descriptor = 0x20;
    ASSERT_TRUE(Read(MakeTga(t, "", rows), image));
    EXPECT_EQ(Bytes(image.pixels, 12), std::string("\x13\x12\x11\x16\x15\x14\x03\x02\x01\x06\x05\x04", 12));

    t.depth = 32;
    t.descriptor = 0;
    t.id_length = 5;
    std::string rows32 = std::string("ABCDEFGH", 8) + std::string("abcdefgh", 8);
    ASSERT_TRUE(Read(MakeTga(t, "", rows32), image));
    EXPECT_EQ(image.bits, 32u);
    EXPECT_EQ(Bytes(image.pixels, 16), "abcdefghABCDEFGH");  // bytes kept, rows flipped
}

TEST(Tga, WideRowsSwapEveryPixel) {
    // Whole groups of sixteen pixels and a tail; a row longer than a file is
    // read at a time; and an image of several MiB.
    const std::pair<uint32_t, uint32_t> sizes[] = {{37, 2}, {2100, 2}, {1100, 700}};
    for (auto [width, height] : sizes) {
        TgaShape t;
        t.width = uint16_t(width);
        t.height = uint16_t(height);
        std::string file, expect(size_t(width) * height * 3, '\0');
        for (uint32_t i = 0; i < width * height; ++i) {
            char b = char(i), g = char(i + 100), r = char(i * 7 + 200);
            file += {b, g, r};
            const size_t at = (size_t(height - 1 - i / width) * width + i % width) * 3;  // bottom row first
            expect[at] = r, expect[at + 1] = g, expect[at + 2] = b;
        }
        ImageData image;
        ASSERT_TRUE(Read(MakeTga(t, "", file), image));
        EXPECT_EQ(Bytes(image.pixels, expect.size()), expect) << width;
        // Written and read back through a file.
        ASSERT_TRUE(SaveTga(image, "wide.tga"));
        std::string path;
        ASSERT_TRUE(GetUserFilePath("wide.tga", path));
        ImageData back;
        ASSERT_TRUE(LoadTga(back, path.c_str()));
        EXPECT_EQ(Bytes(back.pixels, expect.size()), expect) << width;
    }
}

TEST(Tga, ColourMappedImages) {
    TgaShape t;
    t.image_type = 1;
    t.map_type = 1;
    t.map_entry_bits = 24;
    t.depth = 8;
    t.width = 3;
    t.height = 1;
    t.map_length = 3;
    ImageData image;
    // All-grey map: the image becomes grey levels.
    ASSERT_TRUE(Read(
        MakeTga(t, std::string("\x10\x10\x10\x20\x20\x20\x30\x30\x30", 9), std::string("\x02\x00\x01", 3)),
        image));
    EXPECT_EQ(image.bits, 0u);
    EXPECT_EQ(image.palette, nullptr);
    EXPECT_EQ(Bytes(image.pixels, 3), std::string("\x30\x10\x20", 3));

    // One coloured entry keeps the palette, padded to 256 entries.
    ASSERT_TRUE(Read(
        MakeTga(t, std::string("\x10\x10\x10\x20\x21\x20\x30\x30\x30", 9), std::string("\x02\x00\xff", 3)),
        image));
    EXPECT_EQ(image.bits, 8u);
    ASSERT_NE(image.palette, nullptr);
    EXPECT_EQ(Bytes(image.palette + 3, 3), "\x20\x21\x20");
    EXPECT_EQ(Bytes(image.palette + 255 * 3, 3), std::string(3, '\0'));
    EXPECT_EQ(Bytes(image.pixels, 3), std::string("\x02\x00\xff", 3));

    // 32-bit map entries: the first three bytes of each are used.
    t.map_entry_bits = 32;
    t.map_length = 2;
    ASSERT_TRUE(Read(MakeTga(t, "\x01\x02\x03\x04\x05\x06\x07\x08", std::string("\x01\x01\x00", 3)), image));
    EXPECT_EQ(image.bits, 8u);
    EXPECT_EQ(Bytes(image.palette, 6), "\x01\x02\x03\x05\x06\x07");

    // No map at all: the bytes are grey levels.
    t.map_length = 0;
    t.map_type = 0;
    ASSERT_TRUE(Read(MakeTga(t, "", std::string("\x05\x80\xff", 3)), image));
    EXPECT_EQ(image.bits, 0u);
    EXPECT_EQ(Bytes(image.pixels, 3), std::string("\x05\x80\xff", 3));
}

TEST(Tga, UnusedColourMapIsSkipped) {
    TgaShape t;
    t.map_type = 1;
    t.map_length = 2;
    t.map_entry_bits = 16;
    t.width = 1;
    t.height = 1;
    ImageData image;
    ASSERT_TRUE(Read(MakeTga(t, "mmmm", "\x01\x02\x03"), image));
    EXPECT_EQ(Bytes(image.pixels, 3), "\x03\x02\x01");
}

TEST(Tga, RefusedAndDamagedFiles) {
    LogRecorder log;
    ImageData image;
    TgaShape t;
    t.width = 2;
    t.height = 2;
    t.image_type = 10;
    EXPECT_FALSE(Read(MakeTga(t, "", std::string(12, 'x')), image));
    EXPECT_TRUE(log.Has("[ERROR] - RLE TGA FORMAT NOT SUPPORTED : 10"));

    t.image_type = 2;
    t.depth = 16;
    EXPECT_FALSE(Read(MakeTga(t, "", std::string(8, 'x')), image));
    EXPECT_TRUE(log.Has("PIXEL DEPTH NOT SUPPORTED : 16"));

    t.depth = 8;  // a colour map of 16-bit entries cannot serve as a palette
    t.map_length = 4;
    t.map_entry_bits = 16;
    EXPECT_FALSE(Read(MakeTga(t, std::string(8, 'm'), std::string(4, 'x')), image));
    t.map_entry_bits = 24;  // short colour map
    EXPECT_FALSE(Read(MakeTga(t, std::string(5, 'm'), ""), image));
    EXPECT_EQ(image.palette, nullptr);

    t = TgaShape();
    t.width = 2;
    t.height = 2;
    // Short pixel data: nothing is left behind.
    EXPECT_FALSE(Read(MakeTga(t, "", std::string(11, 'x')), image));
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.width, 0u);
    // The largest sides with almost no data are refused before allocating.
    t.width = t.height = 0xFFFF;
    EXPECT_FALSE(Read(MakeTga(t, "", "xyz"), image));
    t.width = 0;
    EXPECT_FALSE(Read(MakeTga(t, "", ""), image));
    EXPECT_FALSE(Read(std::string("\x00\x00\x02", 3), image));  // short header
}

TEST(Tga, SaveAndLoadBackThroughTheUserFolder) {
    ImageData rgb;
    rgb.width = 2;
    rgb.height = 2;
    rgb.bits = 24;
    rgb.pixels = static_cast<uint8_t*>(MemAlloc(12));
    std::memcpy(rgb.pixels, "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c", 12);
    ASSERT_TRUE(SaveTga(rgb, "shot.tga"));
    // The caller's pixels are left as they were.
    EXPECT_EQ(Bytes(rgb.pixels, 12), "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c");
    std::string path;
    ASSERT_TRUE(GetUserFilePath("shot.tga", path));
    ImageData back;
    ASSERT_TRUE(LoadTga(back, path.c_str()));
    EXPECT_EQ(back.bits, 24u);
    EXPECT_EQ(Bytes(back.pixels, 12), Bytes(rgb.pixels, 12));
    // On disk: B G R, bottom row first.
    std::string file = quild_test::ReadFile(path);
    ASSERT_EQ(file.size(), 18u + 12u);
    EXPECT_EQ(file.substr(18, 3), "\x09\x08\x07");

    ImageData grey;
    grey.width = 3;
    grey.height = 1;
    grey.bits = 0;
    grey.pixels = static_cast<uint8_t*>(MemAlloc(3));
    std::memcpy(grey.pixels, "\x00\x7f\xff", 3);
    ASSERT_TRUE(SaveTga(grey, "grey.tga"));
    ASSERT_TRUE(GetUserFilePath("grey.tga", path));
    ASSERT_TRUE(LoadTga(back, path.c_str()));
    EXPECT_EQ(back.bits, 0u);
    EXPECT_EQ(Bytes(back.pixels, 3), std::string("\x00\x7f\xff", 3));

    ImageData mapped;
    mapped.width = 2;
    mapped.height = 1;
    mapped.bits = 8;
    mapped.palette = static_cast<uint8_t*>(MemAlloc(kPaletteBytes));
    mapped.palette[3] = 0xAA;
    mapped.pixels = static_cast<uint8_t*>(MemAlloc(2));
    mapped.pixels[0] = 1;
    ASSERT_TRUE(SaveTga(mapped, "mapped.tga"));
    ASSERT_TRUE(GetUserFilePath("mapped.tga", path));
    ASSERT_TRUE(LoadTga(back, path.c_str()));
    EXPECT_EQ(back.bits, 8u);
    EXPECT_EQ(back.palette[3], 0xAA);
    EXPECT_EQ(Bytes(back.pixels, 2), std::string("\x01\x00", 2));

    ImageData empty;
    EXPECT_FALSE(SaveTga(empty, "empty.tga"));
}
