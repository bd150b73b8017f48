#include "platform/gpu/d3dx/dds.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gpu/gpu_fixture.h"
#include "platform/gpu/pixel_convert.h"

namespace gpu_test {
namespace {

std::vector<uint8_t> Header(uint32_t w, uint32_t h, uint32_t mips, uint32_t pfFlags, uint32_t fourCC, uint32_t bits,
                            uint32_t r, uint32_t g, uint32_t b, uint32_t a, uint32_t caps2 = 0) {
    std::vector<uint8_t> d(128, 0);
    auto put = [&](size_t at, uint32_t v) { std::memcpy(&d[at], &v, 4); };
    std::memcpy(d.data(), "DDS ", 4);
    put(4, 124);
    put(8, 0x1007 | (mips > 1 ? 0x20000u : 0u));
    put(12, h);
    put(16, w);
    put(28, mips);
    put(76, 32);
    put(80, pfFlags);
    put(84, fourCC);
    put(88, bits);
    put(92, r);
    put(96, g);
    put(100, b);
    put(104, a);
    put(112, caps2);
    return d;
}

TEST(Dds, HeaderAndLevelSizesAreChecked) {
    d3dx::DdsInfo info;
    std::string why;
    auto dxt1 = Header(8, 8, 4, 4, fmt::DXT1, 0, 0, 0, 0, 0);
    dxt1.resize(128 + 32 + 8 + 8 + 8);
    EXPECT_TRUE(d3dx::ParseDds(dxt1.data(), dxt1.size(), &info, &why)) << why;
    EXPECT_EQ(info.levels, 4u);
    EXPECT_EQ(info.format, fmt::DXT1);
    size_t off = 0, bytes = 0;
    ASSERT_TRUE(d3dx::DdsLevelSpan(info, 0, 3, &off, &bytes));
    EXPECT_EQ(off, 128u + 32 + 8 + 8);
    EXPECT_EQ(bytes, 8u);
    auto shortOne = dxt1;
    shortOne.pop_back();
    EXPECT_FALSE(d3dx::ParseDds(shortOne.data(), shortOne.size(), &info, &why));
    auto tooManyMips = Header(8, 8, 5, 4, fmt::DXT1, 0, 0, 0, 0, 0);
    tooManyMips.resize(4096);
    EXPECT_FALSE(d3dx::ParseDds(tooManyMips.data(), tooManyMips.size(), &info, &why));
    auto huge = Header(0x7FFFFFFF, 0x7FFFFFFF, 1, 4, fmt::DXT5, 0, 0, 0, 0, 0);
    EXPECT_FALSE(d3dx::ParseDds(huge.data(), huge.size(), &info, &why));
    EXPECT_FALSE(d3dx::ParseDds(dxt1.data(), 100, &info, &why));
    auto cubeMissingFace = Header(4, 4, 1, 0x40, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, 0x200 | 0x7C00);
    cubeMissingFace.resize(128 + 6 * 64);
    EXPECT_FALSE(d3dx::ParseDds(cubeMissingFace.data(), cubeMissingFace.size(), &info, &why));
}

TEST_F(GpuTest, DdsTexturesLoadWithTheirLevelsAndFormats) {
    // 24-bit RGB rows become X8R8G8B8.
    auto rgb = Header(2, 1, 1, 0x40, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0);
    const uint8_t pixels[] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    rgb.insert(rgb.end(), pixels, pixels + 6);
    Texture* t = nullptr;
    d3dx::ImageInfo ii;
    ASSERT_EQ(d3dx::CreateTextureFromFileInMemoryEx(dev, rgb.data(), rgb.size(), d3dx::kDefaultSize,
                                                    d3dx::kDefaultSize, 0, 0, fmt::Unknown, Pool::Managed, 1, 1, 0,
                                                    &ii, &t),
              kOk);
    EXPECT_EQ(ii.format, fmt::X8R8G8B8);
    LockedRect lr;
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), kOk);
    EXPECT_EQ(static_cast<uint32_t*>(lr.bits)[1], 0xFF605040u);
    t->UnlockRect(0);
    t->Release();
    auto cube = Header(2, 2, 1, 0x40, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, 0xFE00);
    cube.resize(128 + 6 * 16);
    CubeTexture* c = nullptr;
    EXPECT_EQ(d3dx::CreateCubeTextureFromFileInMemory(dev, cube.data(), cube.size(), &c), kOk);
    ASSERT_NE(c, nullptr);
    c->Release();
    EXPECT_NE(d3dx::CreateCubeTextureFromFileInMemory(dev, rgb.data(), rgb.size(), &c), kOk);
}

TEST(PixelConvert, Yuy2AndDxtDecode) {
    const uint8_t yuy2[] = {16, 128, 235, 128};
    uint8_t out[8];
    ConvertYuy2ToBgra(yuy2, 4, 2, 1, out);
    EXPECT_EQ(out[0] | out[1] | out[2], 0);
    EXPECT_EQ(out[4] & out[5] & out[6], 255);
    // DXT1 block: colour 0 pure red, colour 1 pure blue, every texel index 1.
    const uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0x55, 0x55, 0x55, 0x55};
    uint8_t px[4 * 4 * 4];
    DecodeDxt(fmt::DXT1, block, 8, 4, 4, px);
    EXPECT_EQ(px[0], 255);  // blue
    EXPECT_EQ(px[2], 0);
    EXPECT_EQ(px[3], 255);
}

}  // namespace
}  // namespace gpu_test
