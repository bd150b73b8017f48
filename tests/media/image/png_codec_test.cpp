#include "media/image/png_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "base/byte_stream.h"
#include "media/image/image_builders.h"

using namespace media_test;

namespace {

bool Read(const std::string& bytes, ImageData& image) {
    return media_test::ReadWith(ReadPng, bytes, image);
}

// Rows of a w x h image with bpp bytes per pixel, varied enough that every
// filter predicts something different.
std::vector<std::string> Pattern(uint32_t w, uint32_t h, int bpp) {
    std::vector<std::string> rows;
    for (uint32_t y = 0; y < h; ++y) {
        std::string r;
        for (uint32_t x = 0; x < w * bpp; ++x) r += char((x * 37 + y * 101 + (x * y) % 7 * 29) & 255);
        rows.push_back(r);
    }
    return rows;
}

std::string Joined(const std::vector<std::string>& rows) {
    std::string s;
    for (const auto& r : rows) s += r;
    return s;
}

}  // namespace

TEST(Png, EveryFilterTypeIsUndone) {
    for (int colour_type : {2, 0}) {
        int bpp = colour_type == 2 ? 3 : 1;
        auto rows = Pattern(7, 10, bpp);
        // Each filter on the first row too (no row above), then all mixed.
        for (int f = 0; f <= 4; ++f) {
            ImageData image;
            ASSERT_TRUE(Read(MakePng(7, 10, colour_type, rows, {f}), image)) << f;
            EXPECT_EQ(Bytes(image.pixels, 70 * bpp), Joined(rows)) << "filter " << f;
        }
        ImageData image;
        ASSERT_TRUE(Read(MakePng(7, 10, colour_type, rows, {4, 3, 2, 1, 0}), image));
        EXPECT_EQ(image.bits, colour_type == 2 ? 24u : 0u);
        EXPECT_EQ(image.width, 7u);
        EXPECT_EQ(image.height, 10u);
        EXPECT_EQ(Bytes(image.pixels, 70 * bpp), Joined(rows));
    }
}

TEST(Png, PalettesAndTransparency) {
    std::string coloured = PngChunk("PLTE", std::string("\x00\x00\x00\xff\x00\x00\x10\x20\x30", 9));
    std::string greys = PngChunk("PLTE", std::string("\x00\x00\x00\x80\x80\x80\xff\xff\xff", 9));
    std::vector<std::string> rows = {std::string("\x00\x01\x02", 3), std::string("\x02\x01\x00", 3)};
    ImageData image;
    ASSERT_TRUE(Read(MakePng(3, 2, 3, rows, {1, 2}, coloured), image));
    EXPECT_EQ(image.bits, 8u);
    EXPECT_EQ(image.has_colour_key, 0);
    EXPECT_EQ(Bytes(image.palette, 9), std::string("\x00\x00\x00\xff\x00\x00\x10\x20\x30", 9));
    EXPECT_EQ(Bytes(image.pixels, 6), Joined(rows));

    // A one-byte tRNS names the transparent index.
    ASSERT_TRUE(Read(MakePng(3, 2, 3, rows, {0}, coloured + PngChunk("tRNS", "\x02")), image));
    EXPECT_EQ(image.has_colour_key, 1);
    EXPECT_EQ(image.colour_key, 2u);
    // A full alpha table: its first transparent entry.
    ASSERT_TRUE(Read(MakePng(3, 2, 3, rows, {0}, coloured + PngChunk("tRNS", std::string("\xff\x00\x80", 3))),
                     image));
    EXPECT_EQ(image.colour_key, 1u);

    // A grey palette: grey levels, unless a key keeps it a palette image.
    ASSERT_TRUE(Read(MakePng(3, 2, 3, rows, {0}, greys), image));
    EXPECT_EQ(image.bits, 0u);
    EXPECT_EQ(image.palette, nullptr);
    EXPECT_EQ(Bytes(image.pixels, 3), std::string("\x00\x80\xff", 3));
    ASSERT_TRUE(Read(MakePng(3, 2, 3, rows, {0}, greys + PngChunk("tRNS", std::string("\x00", 1))), image));
    EXPECT_EQ(image.bits, 8u);
    EXPECT_EQ(image.colour_key, 0u);

    // RGB with a tRNS colour and a suggested palette (which is not applied).
    std::vector<std::string> rgb = {std::string("\x01\x02\x03", 3)};
    ASSERT_TRUE(Read(
        MakePng(1, 1, 2, rgb, {0}, coloured + PngChunk("tRNS", std::string("\x00\x10\x00\x20\x00\x30", 6))),
        image));
    EXPECT_EQ(image.bits, 24u);
    EXPECT_EQ(image.palette, nullptr);
    EXPECT_EQ(image.colour_key, 0x102030u);
    EXPECT_EQ(Bytes(image.pixels, 3), "\x01\x02\x03");
}

TEST(Png, RefusedLayouts) {
    LogRecorder log;
    ImageData image;
    auto only = [](int depth, int colour_type, int interlace = 0) {
        return PngSignature() + PngHeader(1, 1, depth, colour_type, interlace) +
               PngChunk("IDAT", Deflate(std::string(9, '\0'))) + PngChunk("IEND", "");
    };
    EXPECT_FALSE(Read(only(16, 2), image));
    EXPECT_TRUE(log.Has("[ERROR] - PNG COLOR CHANNELS MUST BE 8-BIT"));
    for (int grey_alpha_or_rgba : {4, 6}) {
        EXPECT_FALSE(Read(only(8, grey_alpha_or_rgba), image));
        EXPECT_TRUE(log.Has("[ERROR] - ONLY 8-BIT PNGS ARE SUPPORTED!"));
        EXPECT_EQ(image.width, 0u);
    }
    // Well-formed images with alpha are refused at the header all the same,
    // and the builder filters their rows by whole pixels.
    for (int colour_type : {4, 6}) {
        const int bpp = colour_type == 4 ? 2 : 4;
        const auto rows = Pattern(3, 2, bpp);
        const std::string png = MakePng(3, 2, colour_type, rows, {1});
        EXPECT_FALSE(Read(png, image));
        EXPECT_EQ(image.width, 0u);
        const uint32_t idat = uint32_t(uint8_t(png[33])) << 24 | uint32_t(uint8_t(png[34])) << 16 |
                              uint32_t(uint8_t(png[35])) << 8 | uint8_t(png[36]);
        std::string raw(2 * (1 + 3 * bpp), '\0');
        uLongf raw_size = uLongf(raw.size());
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(raw.data()), &raw_size,
                             reinterpret_cast<const Bytef*>(png.data() + 41), idat),
                  Z_OK);
        ASSERT_EQ(raw_size, raw.size());
        EXPECT_EQ(raw[1 + bpp], char(uint8_t(rows[0][bpp] - rows[0][0]))) << colour_type;
    }
    EXPECT_FALSE(Read(only(8, 0, 1), image));
    EXPECT_TRUE(log.Has("INTERLACED"));
    EXPECT_FALSE(Read(only(8, 3), image));  // a palette image without a palette
    EXPECT_EQ(image.pixels, nullptr);
}

TEST(Png, ImageDataAcrossChunksAndDamagedData) {
    LogRecorder log;
    auto rows = Pattern(16, 16, 3);
    std::string z = Deflate(FilterRows(rows, 3, {4, 1}));
    std::string head = PngSignature() + PngHeader(16, 16, 8, 2);
    ImageData image;
    // The data split over three IDAT chunks, an empty one among them.
    std::string split = head + PngChunk("IDAT", z.substr(0, 10)) + PngChunk("IDAT", "") +
                        PngChunk("IDAT", z.substr(10)) + PngChunk("IEND", "");
    ASSERT_TRUE(Read(split, image));
    EXPECT_EQ(Bytes(image.pixels, 16 * 16 * 3), Joined(rows));

    // A whole stream in the first chunk: what follows it is not read.
    ASSERT_TRUE(Read(head + PngChunk("IDAT", z) + PngChunk("IDAT", "junk") + PngChunk("IEND", ""), image));
    EXPECT_EQ(Bytes(image.pixels, 16 * 16 * 3), Joined(rows));

    // No image data at all is a failure.
    EXPECT_FALSE(Read(head + PngChunk("IEND", ""), image));
    EXPECT_TRUE(log.Has("NO IMAGE DATA"));
    EXPECT_FALSE(Read(head, image));
    // Data that ends early, or that holds more than the image.
    EXPECT_FALSE(Read(head + PngChunk("IDAT", z.substr(0, z.size() / 2)) + PngChunk("IEND", ""), image));
    EXPECT_TRUE(log.Has("[ERROR] - INVALID PNG FORMAT!"));
    EXPECT_EQ(image.width, 0u);
    EXPECT_EQ(image.pixels, nullptr);
    std::string more = Deflate(FilterRows(rows, 3, {0}) + std::string(49, '\0'));
    EXPECT_FALSE(Read(head + PngChunk("IDAT", more) + PngChunk("IEND", ""), image));
    std::string fewer = Deflate(FilterRows(rows, 3, {0}).substr(0, 15 * 49));
    EXPECT_FALSE(Read(head + PngChunk("IDAT", fewer) + PngChunk("IEND", ""), image));
    // An unknown filter type.
    std::string raw = FilterRows(rows, 3, {0});
    raw[49] = 5;
    EXPECT_FALSE(Read(head + PngChunk("IDAT", Deflate(raw)) + PngChunk("IEND", ""), image));
    // A chunk longer than the file, and a header that promises a huge image.
    std::string lying = head;
    Be32(lying, 1000);
    lying += "IDAT";
    EXPECT_FALSE(Read(lying + "xxxx", image));
    EXPECT_FALSE(Read(PngSignature() + PngHeader(16384, 16384, 8, 2) + PngChunk("IDAT", z), image));
    EXPECT_FALSE(Read(PngSignature() + PngHeader(0, 16, 8, 2) + PngChunk("IDAT", z), image));
}
