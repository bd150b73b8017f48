#include "base/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

bool AllBytes(const void* p, size_t n, uint8_t v) {
    auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i] != v) return false;
    return true;
}

}  // namespace

TEST(ObjectPool, SizeClassBoundaryBetweenPoolAndGlobalAllocator) {
    void* pooled = ObjectPool::Alloc(ObjectPool::kMaxPooled);
    void* global = ObjectPool::Alloc(ObjectPool::kMaxPooled + 1);
    EXPECT_FALSE(MemIsBlock(pooled));
    EXPECT_TRUE(MemIsBlock(global));
    EXPECT_TRUE(AllBytes(global, ObjectPool::kMaxPooled + 1, 0));
    ObjectPool::Free(global, ObjectPool::kMaxPooled + 1);
    ObjectPool::Free(pooled, ObjectPool::kMaxPooled);
    EXPECT_EQ(ObjectPool::Alloc(0), nullptr);
}

TEST(ObjectPool, FreedBlocksAreFilledAndComeBackZeroed) {
    auto* a = static_cast<uint8_t*>(ObjectPool::Alloc(40));  // class 3: 48 bytes
    std::memset(a, 0x55, 48);
    ObjectPool::Free(a, 40);
    EXPECT_TRUE(ObjectPool::IsFreed(a, 40));
    // Under the sanitizer the freed block is poisoned: look through it.
    pool_detail::UnpoisonBlock(a, 48);
    EXPECT_TRUE(AllBytes(a + 16, 40 - 16, kPoolFillByte));  // past the free-list words
    pool_detail::PoisonBlock(a, 48);
    auto* b = static_cast<uint8_t*>(ObjectPool::Alloc(33));  // same class
    EXPECT_EQ(a, b);
    EXPECT_TRUE(AllBytes(b, 48, 0));
    EXPECT_FALSE(ObjectPool::IsFreed(b, 33));
    ObjectPool::Free(b, 33);
}

TEST(ObjectPool, DoubleFreeNeverHandsTheBlockOutTwice) {
    size_t before = ObjectPool::DoubleFrees();
    void* a = ObjectPool::Alloc(24);
    ObjectPool::Free(a, 24);
    ObjectPool::Free(a, 24);
    EXPECT_EQ(ObjectPool::DoubleFrees(), before + 1);
    void* x = ObjectPool::Alloc(24);
    void* y = ObjectPool::Alloc(24);
    EXPECT_NE(x, y);
    ObjectPool::Free(x, 24);
    ObjectPool::Free(y, 24);

    void* r = ObjectPool::NewRecord(64);
    auto* h = static_cast<PoolRecordHeader*>(r);
    EXPECT_EQ(h->size, 64u);
    EXPECT_EQ(h->self, r);
    ObjectPool::DeleteRecord(r);
    ObjectPool::DeleteRecord(r);
    EXPECT_EQ(ObjectPool::DoubleFrees(), before + 2);
}

#if defined(__SANITIZE_ADDRESS__)
// A pooled object used after it was freed is reported by the sanitizer,
// whichever of its bytes is touched, the free-list words included.
TEST(ObjectPoolDeathTest, UseAfterFreeOfAPooledBlockIsReported) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto* a = static_cast<uint8_t*>(ObjectPool::Alloc(40));
    ObjectPool::Free(a, 40);
    EXPECT_DEATH(static_cast<volatile uint8_t*>(a)[8] = 1, "use-after-poison");
    EXPECT_DEATH(static_cast<void>(static_cast<volatile uint8_t*>(a)[39]), "use-after-poison");
    // Handed out again, it is an ordinary block.
    auto* b = static_cast<uint8_t*>(ObjectPool::Alloc(40));
    ASSERT_EQ(a, b);
    b[39] = 7;
    ObjectPool::Free(b, 40);
}
#endif

TEST(ChunkArena, OversizeBlocksAndRewind) {
    ChunkArena arena(256);
    auto* a = static_cast<uint8_t*>(arena.Alloc(10));  // rounds to 16
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 8, 0u);
    EXPECT_EQ(arena.UsedBytes(), 16u);
    auto* big = static_cast<uint8_t*>(arena.Alloc(1000));
    EXPECT_TRUE(AllBytes(big, 1000, 0));
    auto* b = static_cast<uint8_t*>(arena.Alloc(8));
    EXPECT_EQ(b, a + 16);  // continues in the chunk that was current
    EXPECT_EQ(arena.UsedBytes(), 16u + 1000u + 8u);

    // Fill the first chunk so a second one is chained; oversize blocks taken
    // there go into the chain just before it, one after the other.
    uint8_t* last = nullptr;
    for (int i = 0; i < 40; ++i) last = static_cast<uint8_t*>(arena.Alloc(8));
    const size_t before_big = arena.UsedBytes();
    arena.Alloc(600);
    arena.Alloc(700);
    EXPECT_EQ(arena.UsedBytes(), before_big + 600 + 704);  // both reachable from the first chunk
    EXPECT_EQ(arena.Alloc(8), last + 8);                    // the second chunk is still current
    arena.Rewind();
    // The oversize block became the first chunk; it is reused from 0 and
    // the chunks after it keep their counts until reached again.
    size_t after_rewind = arena.UsedBytes();
    void* c = arena.Alloc(8);
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(arena.UsedBytes(), after_rewind + 8);
    arena.FreeAll();
    EXPECT_EQ(arena.UsedBytes(), 0u);
    EXPECT_NE(arena.Alloc(4), nullptr);  // starts afresh
}

TEST(GlobalAllocator, AlignedZeroedAndForeignPointersIgnored) {
    auto* p = static_cast<uint8_t*>(MemAlloc(100));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
    EXPECT_TRUE(AllBytes(p, 100, 0));
    size_t foreign = MemForeignFrees();
    MemFree(p + 16);  // inside the block, not its start
    MemFree(p + 3);
    EXPECT_EQ(MemForeignFrees(), foreign + 2);
    EXPECT_TRUE(MemIsBlock(p));
    MemFree(p);
    MemFree(nullptr);
    // Large blocks (taken zeroed from the system) are zero too, even where
    // a freed dirty block was.
    for (int round = 0; round < 2; ++round) {
        auto* big = static_cast<uint8_t*>(MemAlloc(1 << 20));
        ASSERT_NE(big, nullptr);
        EXPECT_TRUE(AllBytes(big, 1 << 20, 0));
        std::memset(big, 0x77, 1 << 20);
        MemFree(big);
    }
    EXPECT_EQ(MemForeignFrees(), foreign + 2);
}

// Uncleared blocks are ordinary global blocks in every other respect; and
// the cleared path still clears a block the uncleared path left dirty.
TEST(GlobalAllocator, UnclearedBlocksAreCountedCheckedAndFreed) {
    size_t start = MemTotalAllocated();
    for (size_t n : {size_t(0), size_t(40), size_t(300), size_t(1) << 20}) {
        auto* p = static_cast<uint8_t*>(MemAllocUncleared(n));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
        EXPECT_TRUE(MemIsBlock(p));
        EXPECT_GE(MemTotalAllocated(), start + n + 16);
        std::memset(p, 0x5A, n);
        MemFree(p);
        auto* q = static_cast<uint8_t*>(MemAlloc(n ? n : 1));
        EXPECT_TRUE(AllBytes(q, n ? n : 1, 0)) << n;
        MemFree(q);
    }
    EXPECT_EQ(MemTotalAllocated(), start);
    EXPECT_EQ(MemAllocUncleared(SIZE_MAX - 8), nullptr);
}

// Small blocks freed by a thread are handed out again by its next
// allocation of that size: they must come back zeroed, be counted again, and
// a second free of one must never put it out twice.
TEST(GlobalAllocator, RecycledSmallBlocksAreCleanAndFreedOnce) {
    // The list's own storage first: with the release build's global new it
    // is one of the counted blocks.
    std::vector<uint8_t*> blocks;
    blocks.reserve(40);
    size_t start = MemTotalAllocated();
    for (int i = 0; i < 40; ++i) {
        auto* p = static_cast<uint8_t*>(MemAlloc(64));
        std::memset(p, 0xAB, 64);
        blocks.push_back(p);
    }
    for (uint8_t* p : blocks) MemFree(p);
    EXPECT_EQ(MemTotalAllocated(), start);
    for (int i = 0; i < 40; ++i) {
        auto* p = static_cast<uint8_t*>(MemAlloc(64));
        EXPECT_TRUE(AllBytes(p, 64, 0)) << i;
        blocks[size_t(i)] = p;
    }
    EXPECT_GT(MemTotalAllocated(), start + 40 * 64);
    for (uint8_t* p : blocks) MemFree(p);

#if !defined(__SANITIZE_ADDRESS__)
    // Under AddressSanitizer a freed block goes straight back to the system,
    // and freeing it again is the sanitizer's to report.
    size_t foreign = MemForeignFrees();
    auto* a = static_cast<uint8_t*>(MemAlloc(100));
    MemFree(a);
    MemFree(a);  // reported, not put out again
    EXPECT_EQ(MemForeignFrees(), foreign + 1);
#endif
    void* b = MemAlloc(100);
    void* c = MemAlloc(100);
    EXPECT_NE(b, c);
    EXPECT_TRUE(MemIsBlock(b));
    EXPECT_TRUE(MemIsBlock(c));
    MemFree(b);
    MemFree(c);
    EXPECT_EQ(MemTotalAllocated(), start);
}

TEST(GlobalAllocator, EightThreadsEndAtTheStartingTotal) {
    size_t start = MemTotalAllocated();
    std::vector<std::thread> threads;
    std::vector<void*> handoff(8 * 500);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &handoff] {
            std::vector<void*> mine;
            for (int i = 0; i < 2000; ++i) {
                mine.push_back(MemAlloc(static_cast<size_t>(i % 200 + 1)));
                if (mine.size() > 64) {
                    MemFree(mine.front());
                    mine.erase(mine.begin());
                }
            }
            for (void* p : mine) MemFree(p);
            // Blocks freed later by another thread.
            for (int i = 0; i < 500; ++i) handoff[t * 500 + i] = MemAlloc(48);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_GT(MemTotalAllocated(), start);
    std::thread other([&handoff] {
        for (void* p : handoff) MemFree(p);
    });
    other.join();
    EXPECT_EQ(MemTotalAllocated(), start);
}
