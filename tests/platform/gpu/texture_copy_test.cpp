// The memory copies behind lockable textures: released copies are kept for
// the next texture of the same size, and must never show it the old pixels.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gpu/gpu_fixture.h"
#include "platform/gpu/resources.h"

namespace gpu_test {
namespace {

uint32_t PixelAt(const LockedRect& lr, uint32_t x, uint32_t y) {
    uint32_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(lr.bits) + size_t(y) * uint32_t(lr.pitch) + x * 4, 4);
    return v;
}

TEST_F(GpuTest, ReleasedTextureCopiesAreReusedClean) {
    const size_t big = 256 * 256 * 4, small = 128 * 128 * 4;
    ReleaseSpareTextureCopies();
    EXPECT_EQ(SpareTextureCopyBytes(), 0u);

    Texture* a = nullptr;
    ASSERT_EQ(dev->CreateTexture(256, 256, 1, 0, fmt::A8R8G8B8, Pool::Managed, &a), kOk);
    LockedRect lr;
    ASSERT_EQ(a->LockRect(0, &lr, nullptr, 0), kOk);
    void* old_bits = lr.bits;
    for (uint32_t y = 0; y < 256; ++y) std::memset(static_cast<uint8_t*>(lr.bits) + y * uint32_t(lr.pitch), 0xFF, 1024);
    a->UnlockRect(0);
    a->Release();
    EXPECT_EQ(SpareTextureCopyBytes(), big);

    // The same size takes the spare; a partial first lock sees zero around
    // its rectangle, not the white of the texture before.
    Texture* b = nullptr;
    ASSERT_EQ(dev->CreateTexture(256, 256, 1, 0, fmt::A8R8G8B8, Pool::Managed, &b), kOk);
    EXPECT_EQ(SpareTextureCopyBytes(), 0u);
    Rect r{0, 0, 16, 16};
    ASSERT_EQ(b->LockRect(0, &lr, &r, 0), kOk);
    EXPECT_EQ(lr.bits, old_bits);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 16; ++x) std::memcpy(static_cast<uint8_t*>(lr.bits) + y * uint32_t(lr.pitch) + x * 4, "\x44\x33\x22\x11", 4);
    b->UnlockRect(0);
    ASSERT_EQ(b->LockRect(0, &lr, nullptr, 0), kOk);
    EXPECT_EQ(PixelAt(lr, 0, 0), 0x11223344u);
    EXPECT_EQ(PixelAt(lr, 16, 0), 0u);
    EXPECT_EQ(PixelAt(lr, 255, 255), 0u);
    b->UnlockRect(0);

    // Another size makes its own copy; both come back as spares.
    Texture* c = nullptr;
    ASSERT_EQ(dev->CreateTexture(128, 128, 1, 0, fmt::A8R8G8B8, Pool::Managed, &c), kOk);
    EXPECT_EQ(SpareTextureCopyBytes(), 0u);
    b->Release();
    c->Release();
    EXPECT_EQ(SpareTextureCopyBytes(), big + small);

    // The store is bounded: 160 textures of 256 KiB leave 32 MiB at most,
    // the newest ones.
    std::vector<Texture*> many(160, nullptr);
    for (Texture*& t : many) ASSERT_EQ(dev->CreateTexture(256, 256, 1, 0, fmt::A8R8G8B8, Pool::Managed, &t), kOk);
    for (Texture* t : many) t->Release();
    EXPECT_LE(SpareTextureCopyBytes(), size_t(32) << 20);
    EXPECT_GE(SpareTextureCopyBytes(), 16 * big);
    ReleaseSpareTextureCopies();
    EXPECT_EQ(SpareTextureCopyBytes(), 0u);
}

}  // namespace
}  // namespace gpu_test
