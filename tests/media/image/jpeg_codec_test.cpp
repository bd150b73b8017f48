#include "media/image/jpeg_codec.h"

#include <gtest/gtest.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cstdlib>
#include <string>
#include <vector>

#include "base/byte_stream.h"
#include "base/file_stream.h"
#include "base/memory.h"
#include "media/image/image_builders.h"

using media_test::LogRecorder;

using media_test::Bytes;

namespace {

void Gradient(ImageData& image, uint32_t w, uint32_t h) {
    image.Free();
    image.width = w;
    image.height = h;
    image.bits = 24;
    image.pixels = static_cast<uint8_t*>(MemAlloc(size_t(w) * h * 3));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = image.pixels + (y * w + x) * 3;
            p[0] = uint8_t(x * 255 / w);
            p[1] = uint8_t(y * 255 / h);
            p[2] = 128;
        }
}

bool Read(const std::string& bytes, ImageData& image) {
    return media_test::ReadWith(ReadJpeg, bytes, image);
}

std::string Encode(const ImageData& image, int quality) {
    size_t size = 0;
    uint8_t* bytes = EncodeJpeg(image, quality, size);
    std::string s = bytes ? std::string(reinterpret_cast<char*>(bytes), size) : std::string();
    MemFree(bytes);
    return s;
}

// A grey JPEG made with libjpeg directly.
std::string GreyJpeg() {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = 8;
    c.image_height = 8;
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(8, 100);
    while (c.next_scanline < 8) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string s(reinterpret_cast<char*>(out), size);
    std::free(out);
    return s;
}

}  // namespace

TEST(Jpeg, RoundTripThroughTheWriter) {
    ImageData src;
    Gradient(src, 37, 21);  // sizes that are not multiples of the block size
    std::string file = Encode(src, 95);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(uint8_t(file[0]), 0xFF);
    EXPECT_EQ(uint8_t(file[1]), 0xD8);
    ImageData back;
    ASSERT_TRUE(Read(file, back));
    EXPECT_EQ(back.bits, 24u);
    EXPECT_EQ(back.width, 37u);
    EXPECT_EQ(back.height, 21u);
    int worst = 0;
    for (size_t i = 0; i < 37 * 21 * 3; ++i)
        worst = std::max(worst, std::abs(back.pixels[i] - src.pixels[i]));
    EXPECT_LE(worst, 12);

    // Through a file in the per-user folder.
    ASSERT_TRUE(SaveJpeg(src, "shot.jpg", 80));
    std::string path;
    ASSERT_TRUE(GetUserFilePath("shot.jpg", path));
    ASSERT_TRUE(LoadJpeg(back, path.c_str()));
    EXPECT_EQ(back.width, 37u);
}

TEST(Jpeg, RefusedInputs) {
    LogRecorder log;
    ImageData image;
    EXPECT_FALSE(Read(GreyJpeg(), image));
    EXPECT_TRUE(log.Has("[ERROR] - ONLY RGB JPEGS ARE SUPPORTED!"));
    EXPECT_EQ(image.pixels, nullptr);

    EXPECT_FALSE(Read("", image));
    EXPECT_TRUE(log.Has("[ERROR] JPEGLIB : "));
    EXPECT_FALSE(Read("not a jpeg at all", image));

    // A file cut short still decodes (the rest reads as an end marker) or
    // fails cleanly; it never leaves half an image behind.
    ImageData src;
    Gradient(src, 64, 64);
    std::string file = Encode(src, 90);
    for (size_t cut : {size_t(2), size_t(20), file.size() / 2, file.size() - 2}) {
        bool ok = Read(file.substr(0, cut), image);
        EXPECT_EQ(ok, image.pixels != nullptr);
        if (ok) {
            EXPECT_EQ(image.width, 64u);
        }
    }
}

TEST(Jpeg, WriterRefusesWhatItCannotWrite) {
    LogRecorder log;
    ImageData image;
    EXPECT_FALSE(SaveJpeg(image, "empty.jpg", 90));  // no size
    EXPECT_TRUE(log.Has("[ERROR] - CAN'T WRITE JPEG!"));
    Gradient(image, 4, 4);
    image.bits = 32;  // only 24-bit images are written
    size_t size = 1;
    EXPECT_EQ(EncodeJpeg(image, 90, size), nullptr);
    EXPECT_EQ(size, 0u);
    image.bits = 24;
    image.height = 0;
    EXPECT_EQ(EncodeJpeg(image, 90, size), nullptr);
    image.height = 4;
    EXPECT_NE(Encode(image, -5), "");  // quality is clamped
    EXPECT_NE(Encode(image, 400), "");
}
