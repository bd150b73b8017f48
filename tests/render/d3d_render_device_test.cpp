#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/gpu/direct3d.h"
#include "render/render_fixture.h"

namespace render_test {
namespace {

using namespace plat::gpu;

struct TexVertex {
    float x, y, z, rhw, u, v;
};
struct ColorVertex {
    float x, y, z, rhw;
    uint32_t color;
};

TEST_F(RenderTest, ClearAndPointSampledRectAreExact) {
    dev->Clear(0xFF203040);
    // 4 x 4 texels, each its own colour.
    std::vector<uint32_t> texels(16);
    for (int i = 0; i < 16; ++i) texels[size_t(i)] = 0xFF000000u | uint32_t(i * 16) << 16 | uint32_t(255 - i * 16);
    TextureRecord* t = dev->CreateTexture(4, 4, TEXKIND_X8R8G8B8, texels.data(), 64);
    ASSERT_NE(t, nullptr);
    dev->SetRenderMode(0x1009, 0xFFFFFFFF);
    dev->SetTexture(0, t);
    dev->SetTextureFilter(0, 0, 0);
    dev->SetTextureFilter(0, 1, 0);
    dev->DrawRect(8, 8, 16, 16, 0, 0, 1, 1);
    auto px = Read();
    EXPECT_EQ(At(px, 0, 0), 0x203040u);
    EXPECT_EQ(At(px, 7, 8), 0x203040u);
    EXPECT_EQ(At(px, 8, 7), 0x203040u);
    for (int ty = 0; ty < 4; ++ty)
        for (int tx = 0; tx < 4; ++tx)
            for (int k : {0, 3}) {
                EXPECT_EQ(At(px, 8 + tx * 4 + k, 8 + ty * 4 + k), texels[size_t(ty * 4 + tx)] & 0xFFFFFF)
                    << tx << "," << ty;
            }
    EXPECT_EQ(At(px, 24, 23), 0x203040u);
    EXPECT_EQ(At(px, 23, 24), 0x203040u);
    SavePng(px, dev->width, dev->height, "point_sampled_rect");
    dev->ReleaseTexture(t);
}

struct ModeCase {
    uint32_t mode, color, texel, background, expected;
    const char* what;
};

TEST_F(RenderTest, RenderModesGiveTheirPixels) {
    const ModeCase cases[] = {
        {0x1009, 0xFFFFFFFF, 0xFFC08040, 0xFF000000, 0xC08040, "texture as is"},
        {0x1009, 0xFF00FF00, 0xFFFFFFFF, 0xFF000000, 0x00FF00, "texture times texture factor"},
        {0x1008, 0xFF123456, 0, 0xFF000000, 0x123456, "untextured: the colour"},
        {0x1008, 0x80FF0000, 0, 0xFF0000FF, 0x7F0080, "translucent colour blends"},
        {0x1019, 0xFFFFFFFF, 0x80FFFFFF, 0xFF000000, 0x808080, "texture alpha blends"},
        {0x1109, 0xFFFFFFFF, 0xFF202020, 0xFF404040, 0x606060, "additive"},
        {0x1209, 0xFFFFFFFF, 0xFF808080, 0xFF404040, 0x606060, "destination colour"},
        {0x1419, 0xFFFFFFFF, 0x80123456, 0xFF000000, 0x808080, "texture alpha only"},
    };
    for (const ModeCase& c : cases) {
        dev->Clear(c.background);
        TextureRecord* t = c.texel ? SolidTexture(dev, 4, 4, c.texel) : nullptr;
        dev->SetTexture(0, t);
        dev->SetRenderMode(c.mode, c.color);
        dev->DrawRect(0, 0, 16, 16, 0, 0, 1, 1);
        auto px = Read();
        uint32_t got = At(px, 5, 5);
        for (int ch = 0; ch < 3; ++ch) {
            int g = int(got >> (8 * ch) & 255), e = int(c.expected >> (8 * ch) & 255);
            EXPECT_NEAR(g, e, 2) << c.what << " channel " << ch;
        }
        dev->SetTexture(0, nullptr);
        if (t) dev->ReleaseTexture(t);
    }
}

TEST_F(RenderTest, VertexColourStripAndMissingColourIsWhite) {
    dev->Clear(0xFF000000);
    dev->SetRenderMode(0x100A, 0xFFFFFFFF);
    ColorVertex v[4] = {{-0.5f, -0.5f, 0, 1, 0xFFFF0000}, {15.5f, -0.5f, 0, 1, 0xFFFF0000},
                        {-0.5f, 15.5f, 0, 1, 0xFFFF0000}, {15.5f, 15.5f, 0, 1, 0xFFFF0000}};
    dev->SetVertexArray(v, sizeof v[0]);
    dev->DrawImmediate(4);
    // Pre-transformed, no colour, no texture, white factor: white.
    dev->SetRenderMode(0x1008, 0xFFFFFFFF);
    float w[4][4] = {{31.5f, -0.5f, 0, 1}, {47.5f, -0.5f, 0, 1}, {31.5f, 15.5f, 0, 1}, {47.5f, 15.5f, 0, 1}};
    dev->SetVertexArray(w, 16);
    dev->DrawImmediate(4);
    auto px = Read();
    EXPECT_EQ(At(px, 8, 8), 0xFF0000u);
    EXPECT_EQ(At(px, 40, 8), 0xFFFFFFu);
    EXPECT_EQ(At(px, 24, 8), 0u);
}

TEST_F(RenderTest, PowerOfTwoCardEnlargesAndRescales) {
    Close();
    TestOverride o;
    o.powerOfTwoOnly = true;
    SetTestOverride(o);
    Open(320, 240);
    EXPECT_TRUE(dev->EnlargesTextures());
    EXPECT_NE(dev->GetWarnings().find("ONLY POWOF2 TEXTURES!\r\n"), std::string::npos);
    // 300 x 200: red inside, a green last column and row.
    std::vector<uint32_t> img(300 * 200, 0xFFFF0000);
    for (int y = 0; y < 200; ++y) img[size_t(y) * 300 + 299] = 0xFF00FF00;
    for (int x = 0; x < 300; ++x) img[199 * 300 + size_t(x)] = 0xFF00FF00;
    TextureRecord* t = dev->CreateTexture(300, 200, TEXKIND_X8R8G8B8, img.data(), uint32_t(img.size() * 4));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->allocatedWidth, 512);
    EXPECT_EQ(t->allocatedHeight, 256);
    EXPECT_TRUE(t->rescaled);
    dev->Clear(0xFF000000);
    dev->SetRenderMode(0x1009, 0xFFFFFFFF);
    dev->SetTexture(0, t);
    dev->SetTextureFilter(0, 0, 0);
    dev->SetTextureFilter(0, 1, 0);
    dev->DrawRect(0, 0, 300, 200, 0, 0, 1, 1);
    auto px = Read();
    EXPECT_EQ(At(px, 1, 1), 0xFF0000u);
    EXPECT_EQ(At(px, 298, 198), 0xFF0000u);
    EXPECT_EQ(At(px, 299, 20), 0x00FF00u);  // the image's own last column, not the padding
    EXPECT_EQ(At(px, 20, 199), 0x00FF00u);
    EXPECT_EQ(At(px, 300, 20), 0u);
    EXPECT_EQ(At(px, 20, 200), 0u);
    SavePng(px, dev->width, dev->height, "pow2_rescaled");
    dev->ReleaseTexture(t);

    dev->SetTexture(0, nullptr);
    // The same card reports the texture at its size when all sizes work.
    Close();
    Open(64, 64);
    t = dev->CreateTexture(300, 200, TEXKIND_X8R8G8B8, img.data(), uint32_t(img.size() * 4));
    EXPECT_EQ(t->allocatedWidth, 300);
    EXPECT_FALSE(t->rescaled);
    EXPECT_NE(dev->GetWarnings().find("UNCONDITIONAL SUPPORT FOR TEXTURES!\r\n"), std::string::npos);
    dev->ReleaseTexture(t);
}

TEST_F(RenderTest, CreateTextureRefusesBadSizesAndShortData) {
    uint32_t px[4] = {};
    EXPECT_EQ(dev->CreateTexture(2, 0, TEXKIND_X8R8G8B8, px, 16), nullptr);
    EXPECT_EQ(dev->CreateTexture(2, 2, TEXKIND_X8R8G8B8, px, 15), nullptr);
    EXPECT_EQ(dev->CreateTexture(2, 2, 42, px, 16), nullptr);
    EXPECT_EQ(dev->CreateTexture(2, 2, TEXKIND_DDS, nullptr, 0), nullptr);
    TextureRecord* t = dev->CreateTexture(2, 2, TEXKIND_X8R8G8B8, nullptr, 0);
    ASSERT_NE(t, nullptr);
    dev->LockTexture(t);
    ASSERT_NE(t->bits, nullptr);
    EXPECT_EQ(t->pitch, 8);
    EXPECT_EQ(static_cast<uint32_t*>(t->bits)[3], 0u);
    dev->UnlockTexture(t);
    EXPECT_EQ(t->bits, nullptr);
    EXPECT_EQ(t->pitch, 0);
    dev->ReleaseTexture(t);
}

// A DDS file of A8R8G8B8 levels, each a solid colour.
std::vector<uint8_t> MakeDds(uint32_t w, uint32_t h, uint32_t levels) {
    std::vector<uint8_t> d(128, 0);
    auto put = [&](size_t at, uint32_t v) { std::memcpy(&d[at], &v, 4); };
    std::memcpy(d.data(), "DDS ", 4);
    put(4, 124);
    put(8, 0x1007 | (levels > 1 ? 0x20000u : 0u));
    put(12, h);
    put(16, w);
    put(28, levels);
    put(76, 32);
    put(80, 0x41);
    put(88, 32);
    put(92, 0xFF0000);
    put(96, 0xFF00);
    put(100, 0xFF);
    put(104, 0xFF000000);
    for (uint32_t l = 0; l < levels; ++l) {
        uint32_t lw = std::max(1u, w >> l), lh = std::max(1u, h >> l);
        for (uint32_t i = 0; i < lw * lh; ++i) {
            uint32_t c = 0xFF000000u | (l * 40u) << 16;
            d.insert(d.end(), reinterpret_cast<uint8_t*>(&c), reinterpret_cast<uint8_t*>(&c) + 4);
        }
    }
    return d;
}

TEST_F(RenderTest, MipFilterFollowsTheLevelCount) {
    auto nine = MakeDds(256, 256, 9);
    TextureRecord* many = dev->CreateTexture(0, 0, TEXKIND_DDS, nine.data(), uint32_t(nine.size()));
    ASSERT_NE(many, nullptr);
    EXPECT_EQ(many->levels, 9);
    EXPECT_EQ(many->kind, TEXKIND_A8R8G8B8);
    EXPECT_EQ(many->width, 256);
    TextureRecord* one = SolidTexture(dev, 8, 8, 0xFFFFFFFF);
    uint32_t mip = 99;
    dev->SetTexture(0, many);
    dev->GetDevice()->GetSamplerState(0, ss::MipFilter, &mip);
    EXPECT_EQ(mip, tf::Linear);
    dev->SetTexture(0, one);
    dev->GetDevice()->GetSamplerState(0, ss::MipFilter, &mip);
    EXPECT_EQ(mip, tf::None);
    // Cut short: refused, and nothing is left behind.
    auto cut = nine;
    cut.resize(cut.size() - 1);
    EXPECT_EQ(dev->CreateTexture(0, 0, TEXKIND_DDS, cut.data(), uint32_t(cut.size())), nullptr);
    dev->ReleaseTexture(many);
    dev->ReleaseTexture(one);
}

TEST_F(RenderTest, ReleaseUnbindsFromEveryStage) {
    TextureRecord* t = SolidTexture(dev, 4, 4, 0xFFFFFFFF);
    dev->SetTexture(0, t);
    dev->SetTexture(1, t);
    dev->ReleaseTexture(t);
    EXPECT_EQ(dev->GetBoundTexture(0), nullptr);
    EXPECT_EQ(dev->GetBoundTexture(1), nullptr);
    BaseTexture* bound = reinterpret_cast<BaseTexture*>(1);
    dev->GetDevice()->GetTexture(1, &bound);
    EXPECT_EQ(bound, nullptr);
}

TEST_F(RenderTest, RenderTargetLockIsACopy) {
    TextureRecord* rt = dev->CreateTexture(32, 16, TEXKIND_RENDER_TARGET, nullptr, 0);
    ASSERT_NE(rt, nullptr);
    // Inside the frame's scene: the target neither fails nor ends the scene.
    EXPECT_EQ(dev->BeginRenderTarget(rt), 1);
    dev->Clear(0xFFFF0000);
    EXPECT_EQ(dev->EndRenderTarget(), 1);
    EXPECT_FALSE(dev->BeginScene());  // still open
    dev->LockTexture(rt);
    ASSERT_NE(rt->bits, nullptr);
    EXPECT_EQ(static_cast<uint32_t*>(rt->bits)[5] & 0xFFFFFF, 0xFF0000u);
    std::memset(rt->bits, 0, size_t(rt->pitch) * 16);
    dev->UnlockTexture(rt);
    auto px = Read(rt);
    EXPECT_EQ(px[5] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(dev->BeginRenderTarget(nullptr), -100);
    dev->ReleaseTexture(rt);
}

TEST_F(RenderTest, RepeatedTargetLocksSeeTheLatestPicture) {
    TextureRecord* a = dev->CreateTexture(32, 16, TEXKIND_RENDER_TARGET, nullptr, 0);
    TextureRecord* b = dev->CreateTexture(8, 24, TEXKIND_RENDER_TARGET, nullptr, 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    auto fill = [&](TextureRecord* rt, uint32_t colour) {
        ASSERT_EQ(dev->BeginRenderTarget(rt), 1);
        dev->Clear(colour);
        ASSERT_EQ(dev->EndRenderTarget(), 1);
    };
    auto last_pixel = [&](TextureRecord* rt) {
        dev->LockTexture(rt);
        if (!rt->bits) return 0u;
        const uint32_t v = static_cast<uint32_t*>(rt->bits)[size_t(rt->height - 1) * size_t(rt->pitch) / 4 +
                                                             size_t(rt->width - 1)];
        dev->UnlockTexture(rt);
        return v & 0xFFFFFF;
    };
    fill(a, 0xFF112233);
    EXPECT_EQ(last_pixel(a), 0x112233u);
    // Drawn again: the second lock reads the new picture, not the first copy.
    fill(a, 0xFF445566);
    EXPECT_EQ(last_pixel(a), 0x445566u);
    // A target of another size and shape, then the first one again.
    fill(b, 0xFF778899);
    EXPECT_EQ(last_pixel(b), 0x778899u);
    EXPECT_EQ(b->bits, nullptr);
    EXPECT_EQ(last_pixel(a), 0x445566u);
    // One target at a time: a second lock while the first is held gets nothing.
    dev->LockTexture(a);
    ASSERT_NE(a->bits, nullptr);
    dev->LockTexture(b);
    EXPECT_EQ(b->bits, nullptr);
    dev->UnlockTexture(a);
    EXPECT_EQ(last_pixel(b), 0x778899u);
    dev->ReleaseTexture(a);
    dev->ReleaseTexture(b);
}

TEST_F(RenderTest, DrawingFromTheCurrentTargetReadsItsEarlierContents) {
    TextureRecord* rt = dev->CreateTexture(16, 16, TEXKIND_RENDER_TARGET, nullptr, 0);
    ASSERT_EQ(dev->BeginRenderTarget(rt), 1);
    dev->Clear(0xFF0000FF);
    dev->SetRenderMode(0x1009, 0xFFFFFFFF);
    dev->SetTexture(0, rt);
    // Left half takes the right half's old (blue) pixels, then everything turns green.
    dev->DrawRect(0, 0, 8, 16, 0.5f, 0, 1, 1);
    dev->SetTexture(0, nullptr);
    dev->EndRenderTarget();
    auto px = Read(rt);
    EXPECT_EQ(px[3 * 16 + 2] & 0xFFFFFF, 0x0000FFu);
    dev->ReleaseTexture(rt);
}

TEST_F(RenderTest, BatchFlushesBeforeOneMebibyte) {
    dev->SetRenderMode(0x19, 0xFFFFFFFF);  // textured pre-transformed list
    const uint32_t perRect = 6 * 24;
    const uint32_t fits = (D3DRenderDevice::kBatchBytes - 1) / perRect;
    for (uint32_t i = 0; i < fits; ++i) dev->DrawRect(0, 0, 1, 1, 0, 0, 1, 1);
    EXPECT_EQ(dev->GetBatchFill(), fits * perRect);
    dev->DrawRect(0, 0, 1, 1, 0, 0, 1, 1);
    EXPECT_EQ(dev->GetBatchFill(), perRect);
    // A rectangle in a mode whose layout differs does not join the batch.
    dev->SetRenderMode(0x1B, 0xFFFFFFFF);
    dev->DrawRect(0, 0, 1, 1, 0, 0, 1, 1);
    EXPECT_EQ(dev->GetBatchFill(), 0u);
}

TEST_F(RenderTest, HugeListDrawIsSplitAndCopiedByStride) {
    dev->Clear(0xFF000000);
    dev->SetRenderMode(0x08, 0xFF00FF00);  // untextured pre-transformed list, 16-byte vertices
    // 32-byte stride with junk between vertices; far more than 1 MiB of triangles.
    const uint32_t tris = 40000;
    std::vector<float> v(size_t(tris) * 3 * 8, -1e30f);
    for (uint32_t t = 0; t < tris; ++t) {
        const float x = float(t % 64) - 0.5f, y = float((t / 64) % 32) - 0.5f;
        const float corners[3][2] = {{x, y}, {x + 2, y}, {x, y + 2}};
        for (int k = 0; k < 3; ++k) {
            float* p = &v[(size_t(t) * 3 + k) * 8];
            p[0] = corners[k][0], p[1] = corners[k][1], p[2] = 0, p[3] = 1;
        }
    }
    dev->SetVertexArray(v.data(), 32);
    dev->DrawImmediate(tris * 3);
    EXPECT_LT(dev->GetBatchFill(), D3DRenderDevice::kBatchBytes);
    auto px = Read();
    EXPECT_EQ(At(px, 10, 10), 0x00FF00u);
    EXPECT_EQ(At(px, 63, 31), 0x00FF00u);
    EXPECT_EQ(At(px, 10, 40), 0u);
}

TEST_F(RenderTest, FlushRebindsTheBatchWhenTheVertexSizeChanges) {
    dev->Clear(0xFF000000);
    TextureRecord* t = SolidTexture(dev, 2, 2, 0xFFFFFFFF);
    dev->SetTexture(0, t);
    dev->SetRenderMode(0x19, 0xFFFF0000);
    dev->DrawRect(0, 0, 8, 8, 0, 0, 1, 1);
    dev->FlushBatch();
    dev->SetRenderMode(0x08, 0xFF0000FF);  // 16-byte vertices now
    float tri[3][4] = {{19.5f, -0.5f, 0, 1}, {29.5f, -0.5f, 0, 1}, {19.5f, 9.5f, 0, 1}};
    dev->SetVertexArray(tri, 16);
    dev->DrawImmediate(3);
    auto px = Read();
    EXPECT_EQ(At(px, 3, 3), 0xFF0000u);
    EXPECT_EQ(At(px, 21, 2), 0x0000FFu);
    dev->SetTexture(0, nullptr);
    dev->ReleaseTexture(t);
}

// Black target, green textured pre-transformed lists: the batch's mode.
TextureRecord* StartGreenRectangles(D3DRenderDevice* dev) {
    dev->Clear(0xFF000000);
    TextureRecord* t = SolidTexture(dev, 2, 2, 0xFFFFFFFF);
    dev->SetTexture(0, t);
    dev->SetRenderMode(0x19, 0xFF00FF00);
    return t;
}

// The first frame of a new device: every batched rectangle of its first
// flush reaches the target, and so does every flush after it.
TEST_F(RenderTest, FirstFrameOfANewDeviceDrawsEveryBatchedRectangle) {
    TextureRecord* t = StartGreenRectangles(dev);
    for (int i = 0; i < 100; ++i) dev->DrawRect((i % 10) * 6, (i / 10) * 6, 4, 4, 0, 0, 1, 1);
    auto px = Read();
    int lit = 0;
    for (int i = 0; i < 100; ++i) lit += At(px, (i % 10) * 6 + 2, (i / 10) * 6 + 2) == 0x00FF00u;
    EXPECT_EQ(lit, 100);
    EXPECT_EQ(At(px, 4, 4), 0u);
    dev->SetTexture(0, nullptr);
    dev->ReleaseTexture(t);
}

// A clip rectangle set again in every frame clips every frame: a clear
// moves the GL scissor box itself, and the unclipped draw after it must
// not let the device take the old box as still set.
TEST_F(RenderTest, TheSameClipInEveryFrameClipsEveryFrame) {
    auto clipped = [&](int frame) {
        dev->Clear(0xFF000000);
        dev->SetRenderMode(0x1008, 0xFF00FF00);
        dev->DrawRect(50, 50, 4, 4, 0, 0, 1, 1);
        dev->FlushBatch();
        dev->SetRenderMode(0x1008, 0xFFFF0000);
        dev->SetScissor(true, 10, 10, 10, 10);
        dev->DrawRect(0, 0, 40, 40, 0, 0, 1, 1);
        dev->SetScissor(false, 0, 0, 0, 0);
        auto px = Read();
        int red = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) red += At(px, x, y) == 0xFF0000u;
        EXPECT_EQ(red, 100) << "frame " << frame;
        EXPECT_EQ(At(px, 10, 10), 0xFF0000u) << "frame " << frame;
        EXPECT_EQ(At(px, 19, 19), 0xFF0000u) << "frame " << frame;
        EXPECT_EQ(At(px, 52, 52), 0x00FF00u) << "frame " << frame;
    };
    for (int frame = 1; frame <= 3; ++frame) clipped(frame);

    // Extents far past the int32 range saturate: the box ends at the
    // target's edge and nothing overflows.
    dev->Clear(0xFF000000);
    dev->SetRenderMode(0x1008, 0xFF0000FF);
    dev->SetScissor(true, 0, 7, -1, INT32_MAX);
    dev->DrawRect(0, 0, 64, 64, 0, 0, 1, 1);
    dev->SetScissor(true, 40, 40, INT32_MAX, INT32_MAX);
    dev->DrawRect(0, 0, 64, 64, 0, 0, 1, 1);
    dev->SetScissor(true, INT32_MIN, INT32_MIN, INT32_MAX, 4);
    dev->Clear(0xFF00FF00);
    dev->SetScissor(false, 0, 0, 0, 0);
    auto px = Read();
    EXPECT_EQ(At(px, 0, 30), 0u);          // a negative width clips all
    EXPECT_EQ(At(px, 63, 63), 0x0000FFu);  // the second box runs to the edge
    EXPECT_EQ(At(px, 39, 39), 0u);
}

TEST_F(RenderTest, RectanglesOverTwoFlushesAllArrive) {
    TextureRecord* t = StartGreenRectangles(dev);
    // The first flush's rectangles tile the top half, the second's the bottom.
    const int firstFlush = int((D3DRenderDevice::kBatchBytes - 1) / (6 * 24));
    for (int k = 0; k < 10000; ++k) {
        const int cell = k % 128;
        dev->DrawRect((cell % 16) * 4, (cell / 16) * 4 + (k < firstFlush ? 0 : 32), 4, 4, 0, 0, 1, 1);
    }
    auto px = Read();
    int top = 0, bottom = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) (y < 32 ? top : bottom) += At(px, x, y) == 0x00FF00u;
    EXPECT_EQ(top, 64 * 32);
    EXPECT_EQ(bottom, 64 * 32);
    dev->SetTexture(0, nullptr);
    dev->ReleaseTexture(t);
}

TEST_F(RenderTest, AFlushUploadsOnlyTheVerticesItDraws) {
    dev->SetRenderMode(0x19, 0xFFFFFFFF);
    dev->DrawRect(0, 0, 4, 4, 0, 0, 1, 1);
    dev->FlushBatch();
    dev->GetDevice()->ResetStats();
    dev->DrawRect(0, 0, 4, 4, 0, 0, 1, 1);
    dev->DrawRect(8, 0, 4, 4, 0, 0, 1, 1);
    dev->FlushBatch();
    EXPECT_EQ(dev->GetDevice()->GetStats().uploadBytes, 2u * 6u * 24u);
    EXPECT_EQ(dev->GetDevice()->GetStats().drawCalls, 1u);
}

// A flush draws the batch from its own buffer; an indexed draw after it
// still reads the caller's vertex buffer, whether the flush came from the
// indexed draw itself or from a setting changed in between.
TEST_F(RenderTest, IndexedDrawAfterAFlushReadsItsOwnVertices) {
    dev->Clear(0xFF000000);
    dev->SetRenderMode(0x08, 0xFF00FF00);  // untextured pre-transformed list
    const float topLeft[3][4] = {{-0.5f, -0.5f, 0, 1}, {15.5f, -0.5f, 0, 1}, {-0.5f, 15.5f, 0, 1}};
    const float bottomLeft[3][4] = {{-0.5f, 31.5f, 0, 1}, {15.5f, 31.5f, 0, 1}, {-0.5f, 47.5f, 0, 1}};
    const float mesh[3][4] = {{31.5f, -0.5f, 0, 1}, {47.5f, -0.5f, 0, 1}, {31.5f, 15.5f, 0, 1}};
    VertexBufferRecord* vb = dev->CreateVertexBuffer(RM_PRETRANSFORMED, 3, 0);
    IndexBufferRecord* ib = dev->CreateIndexBuffer(3);
    ASSERT_NE(vb, nullptr);
    ASSERT_NE(ib, nullptr);
    dev->LockVertexBuffer(vb);
    std::memcpy(vb->position, mesh, sizeof mesh);
    dev->UnlockVertexBuffer(vb);
    const uint16_t indices[3] = {0, 1, 2};
    dev->LockIndexBuffer(ib);
    std::memcpy(ib->locked, indices, sizeof indices);
    dev->UnlockIndexBuffer(ib);

    dev->SetVertexArray(topLeft, 16);
    dev->DrawImmediate(3);  // waits in the batch
    dev->SetVertexBuffer(vb);
    dev->SetIndexBuffer(ib);
    dev->DrawIndexed(0, 3);
    EXPECT_EQ(dev->GetBoundVertexBuffer(), vb);
    dev->SetVertexArray(bottomLeft, 16);
    dev->DrawImmediate(3);
    dev->SetRenderMode(0x08, 0xFFFF0000);  // flushes the green triangle
    dev->DrawIndexed(0, 3);                // the mesh again, in red
    auto px = Read();
    EXPECT_EQ(At(px, 2, 2), 0x00FF00u);
    EXPECT_EQ(At(px, 2, 34), 0x00FF00u);
    EXPECT_EQ(At(px, 34, 2), 0xFF0000u);
    dev->ReleaseVertexBuffer(vb);
    dev->ReleaseIndexBuffer(ib);
}

TEST_F(RenderTest, ReleasedAndReplacedBuffersAreUnbound) {
    VertexBufferRecord* vb = dev->CreateVertexBuffer(0x5, 3, 0);
    IndexBufferRecord* ib = dev->CreateIndexBuffer(3);
    ASSERT_NE(vb, nullptr);
    ASSERT_NE(ib, nullptr);
    EXPECT_EQ(vb->vertexSize, 32u);
    EXPECT_EQ(vb->normalOffset, 12);
    EXPECT_EQ(vb->texCoordOffset, 24);
    dev->LockVertexBuffer(vb);
    EXPECT_EQ(static_cast<uint8_t*>(vb->texCoord) - static_cast<uint8_t*>(vb->position), 24);
    dev->UnlockVertexBuffer(vb);
    EXPECT_EQ(vb->position, nullptr);
    dev->SetVertexBuffer(vb);
    dev->SetIndexBuffer(ib);
    EXPECT_EQ(dev->GetBoundVertexBuffer(), vb);
    dev->ReleaseVertexBuffer(vb);
    dev->ReleaseIndexBuffer(ib);
    EXPECT_EQ(dev->GetBoundVertexBuffer(), nullptr);
    EXPECT_EQ(dev->GetBoundIndexBuffer(), nullptr);
    dev->DrawIndexed(0, 3);  // nothing bound: nothing drawn, no crash
}

TEST_F(RenderTest, GammaRoundTripAndPresentLookup) {
    uint16_t ramp[256], back[256];
    for (int i = 0; i < 256; ++i) ramp[i] = uint16_t(65535 - i * 257);
    dev->SetGammaRamp(ramp);
    dev->GetGammaRamp(back);
    EXPECT_EQ(std::memcmp(ramp, back, sizeof ramp), 0);
    dev->SetGamma(0.0, -1.0, 0.0);  // ignored
    dev->GetGammaRamp(back);
    EXPECT_EQ(std::memcmp(ramp, back, sizeof ramp), 0);
    // Script numbers: an exponent that is 0 as a float is ignored too (it
    // made 0/0 at the top of the ramp); a huge one gives a flat ramp.
    dev->SetGamma(1e-310, std::nan(""), 1e308);
    dev->GetGammaRamp(back);
    EXPECT_EQ(std::memcmp(ramp, back, sizeof ramp), 0);
    dev->SetGamma(2.0, 2.0, 2.0);
    dev->GetGammaRamp(back);
    EXPECT_EQ(back[0], 0);
    EXPECT_EQ(back[255], 65535);
    EXPECT_NEAR(back[64], 65535.0 * std::sqrt(64.0 / 255.0), 2.0);
    // The present pass looks the colours up in the ramp.
    dev->SetGammaRamp(ramp);
    dev->Clear(0xFF000000 | 0x10 << 16 | 0x80 << 8 | 0xFF);
    dev->EndScene();
    dev->Present();
    Device* d = dev->GetDevice();
    Surface* mem = nullptr;
    d->CreateOffscreenPlainSurface(64, 64, fmt::X8R8G8B8, Pool::SystemMem, &mem);
    ASSERT_EQ(d->GetFrontBufferData(0, mem), kOk);
    LockedRect lr;
    mem->LockRect(&lr, nullptr, 0);
    uint32_t p = static_cast<uint32_t*>(lr.bits)[0];
    mem->UnlockRect();
    mem->Release();
    EXPECT_EQ((p >> 16) & 255, 255u - 0x10);
    EXPECT_EQ((p >> 8) & 255, 255u - 0x80);
    EXPECT_EQ(p & 255, 0u);

    // Back to the identity ramp: the picture is shown as drawn.
    for (int i = 0; i < 256; ++i) ramp[i] = uint16_t(i * 257);
    dev->SetGammaRamp(ramp);
    dev->BeginScene();
    dev->Clear(0xFF123456);
    dev->EndScene();
    dev->Present();
    d->CreateOffscreenPlainSurface(64, 64, fmt::X8R8G8B8, Pool::SystemMem, &mem);
    ASSERT_EQ(d->GetFrontBufferData(0, mem), kOk);
    mem->LockRect(&lr, nullptr, 0);
    p = static_cast<uint32_t*>(lr.bits)[0];
    mem->UnlockRect();
    mem->Release();
    EXPECT_EQ(p & 0xFFFFFF, 0x123456u);
    dev->BeginScene();
}

TEST_F(RenderTest, LostDeviceAndReset) {
    EXPECT_EQ(dev->GetDeviceState(), 0);
    TestOverride o;
    o.deviceLost = true;
    SetTestOverride(o);
    EXPECT_EQ(dev->GetDeviceState(), 1);
    ClearTestOverride();
    EXPECT_EQ(dev->GetDeviceState(), 2);
    dev->width = 96;
    dev->height = 48;
    ASSERT_EQ(dev->Create(true), 0);
    EXPECT_EQ(dev->GetDeviceState(), 0);
    ASSERT_TRUE(dev->BeginScene());
    dev->Clear(0xFF00FF00);
    auto px = Read();
    ASSERT_EQ(px.size(), 96u * 48u);
    EXPECT_EQ(px[47 * 96 + 95] & 0xFFFFFF, 0x00FF00u);
}

TEST_F(RenderTest, FallsBackToR5G6B5WithOneWarning) {
    Close();
    TestOverride o;
    o.noX8R8G8B8BackBuffer = true;
    SetTestOverride(o);
    Open(32, 32);
    const std::string& w = dev->GetWarnings();
    EXPECT_EQ(w.find("HAL Device is not supported with X8R8G8B8 Backbuffer format!\r\n"), 0u);
    EXPECT_NE(w.find("D3DMULTISAMPLE_2_SAMPLES Not Supported!\r\n"), std::string::npos);
    EXPECT_EQ(dev->capabilityBits, 0x7u);  // DXT1, 3, 5 and no multisampling
}

TEST_F(RenderTest, DisplayModesAndAdapterText) {
    EXPECT_GT(dev->GetDisplayModeCount(), 0);
    int w = 0, h = 0, r = 0;
    dev->GetDisplayMode(0, &w, &h, &r);
    EXPECT_GT(w, 0);
    EXPECT_GT(r, 0);
    dev->GetDisplayMode(100000, &w, &h, &r);
    EXPECT_EQ(w, 0);
    char text[1024];
    dev->GetAdapterInfo(text, sizeof text);
    EXPECT_EQ(std::strncmp(text, "Adapter Driver     : ", 21), 0);
    EXPECT_NE(std::strstr(text, "\nDevice Name        : "), nullptr);
    // The driver's names are read from the device's context: never empty.
    EXPECT_EQ(std::strstr(text, "Adapter Driver     : OpenGL \n"), nullptr);
    EXPECT_EQ(std::strstr(text, "Adapter Description: \n"), nullptr);
}

}  // namespace
}  // namespace render_test
