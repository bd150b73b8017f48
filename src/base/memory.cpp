#include "base/memory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/system.h"

// ---------------------------------------------------------------------------
// Global allocator
//
// Every block carries a 16-byte header {tag, size}; the tag is a magic value
// mixed with the header's address, so a pointer we never handed out (or one
// inside a block, or one freed already) is recognised and ignored.
//
// The total is kept in per-thread counters rather than by walking a shared
// block list: the allocator serves every library in the process from many
// threads (the GL driver's workers, the shader compiler, sound streaming),
// and a shared list would put a lock on every allocation. Each thread owns
// one counter slot and updates it without atomic read-modify-write; frees
// from another thread subtract from that thread's slot, so the sum over the
// slots is the live total. Nothing is allocated or logged while counting.

namespace {

constexpr uint64_t kBlockMagic = 0x51554C44424C4B21ull;  // arbitrary
constexpr size_t kSlots = 1024;
constexpr size_t kCallocThreshold = 128 * 1024;

struct alignas(16) BlockHeader {
    uint64_t tag;   // kBlockMagic ^ address of the header while live
    uint64_t size;  // bytes including the header
};
static_assert(sizeof(BlockHeader) == 16, "header keeps 16-byte alignment");

struct alignas(64) CounterSlot {
    std::atomic<int64_t> bytes{0};
    std::atomic<bool> owned{false};
};

CounterSlot g_slots[kSlots];
std::atomic<int64_t> g_shared_bytes{0};  // threads without a slot
std::atomic<size_t> g_foreign_frees{0};

// The slot pointer is a plain thread-local (cheap to reach); a holder object
// with a destructor is touched once, when the slot is claimed, to give the
// slot back at thread exit.
thread_local CounterSlot* t_slot = nullptr;
thread_local bool t_tried = false;

// Small blocks a thread frees wait in that thread's lists, one per 16-byte
// class, and serve its next allocation of the same class without a trip to
// the C library and back (new/delete pairs of one size are the common
// traffic). A waiting block is freed as far as anyone can tell: its tag is
// cleared, it is out of the total, and freeing it again is reported. Only a
// thread holding a counter slot keeps blocks, so its holder's destructor
// returns them at thread exit.
constexpr size_t kCachedMaxTotal = 272;  // blocks of up to 256 caller bytes
constexpr size_t kCacheClasses = kCachedMaxTotal / 16 + 1;
constexpr uint32_t kCachedPerClass = 32;
struct ThreadCache {
    BlockHeader* head[kCacheClasses];
    uint32_t count[kCacheClasses];
};
thread_local ThreadCache t_cache;  // trivially destructible: no guard on use

inline BlockHeader*& NextCached(BlockHeader* h) { return *reinterpret_cast<BlockHeader**>(h + 1); }

inline BlockHeader* TakeCached(size_t total) {
    if (total > kCachedMaxTotal) return nullptr;
    ThreadCache& c = t_cache;
    BlockHeader* h = c.head[total / 16];
    if (h) {
        c.head[total / 16] = NextCached(h);
        --c.count[total / 16];
    }
    return h;
}

// Under AddressSanitizer freed blocks go straight back, so a use after free
// is still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kKeepFreedBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kKeepFreedBlocks = false;
#else
constexpr bool kKeepFreedBlocks = true;
#endif
#else
constexpr bool kKeepFreedBlocks = true;
#endif

// True when the (already untagged and uncounted) block was kept.
inline bool KeepCached(BlockHeader* h, size_t total) {
    if (!kKeepFreedBlocks) return false;
    // A block of a zero-byte request has no room for the link.
    if (total > kCachedMaxTotal || total < 32 || !t_slot) return false;
    ThreadCache& c = t_cache;
    if (c.count[total / 16] >= kCachedPerClass) return false;
    NextCached(h) = c.head[total / 16];
    c.head[total / 16] = h;
    ++c.count[total / 16];
    return true;
}

void ReleaseCached() {
    ThreadCache& c = t_cache;
    for (size_t i = 0; i < kCacheClasses; ++i) {
        while (BlockHeader* h = c.head[i]) {
            c.head[i] = NextCached(h);
            std::free(h);
        }
        c.count[i] = 0;
    }
}

struct SlotHolder {
    ~SlotHolder() {
        // The counts stay in the slot; the next thread to claim it adds on.
        if (t_slot) t_slot->owned.store(false, std::memory_order_release);
        t_slot = nullptr;
        t_tried = true;  // anything freed later on this thread is counted shared
        ReleaseCached();
    }
};
thread_local SlotHolder t_holder;

__attribute__((noinline)) CounterSlot* ClaimSlot() {
    t_tried = true;
    static std::atomic<size_t> next{0};
    size_t start = next.fetch_add(1, std::memory_order_relaxed);
    for (size_t i = 0; i < kSlots; ++i) {
        CounterSlot& s = g_slots[(start + i) % kSlots];
        bool expected = false;
        if (s.owned.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            t_slot = &s;
            (void)&t_holder;  // registers the holder's destructor
            break;
        }
    }
    return t_slot;
}

inline void Count(int64_t delta) {
    CounterSlot* s = t_slot;
    if (!s && !t_tried) s = ClaimSlot();
    if (s) {
        s->bytes.store(s->bytes.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
    } else {
        g_shared_bytes.fetch_add(delta, std::memory_order_relaxed);
    }
}

// Zeroes a block of whole 16-byte units. Small blocks get 16-byte stores,
// overlapping at the end instead of looping to it: at these sizes a memset
// call, or a loop's count and branch, costs more than the stores.
struct alignas(16) Unit {
    uint64_t lo, hi;
};
inline void ZeroUnits(void* p, size_t bytes) {
    if (bytes > 256) {
        std::memset(p, 0, bytes);
        return;
    }
    auto* u = static_cast<Unit*>(p);
    const size_t n = bytes / 16;  // 1 to 16
    u[0] = Unit{0, 0};
    u[n - 1] = Unit{0, 0};
    if (n <= 2) return;
    u[1] = Unit{0, 0};
    u[n - 2] = Unit{0, 0};
    for (size_t i = 2; i + 2 < n; ++i) u[i] = Unit{0, 0};
}

uint64_t TagFor(const BlockHeader* h) { return kBlockMagic ^ reinterpret_cast<uintptr_t>(h); }

__attribute__((noinline, cold)) void ReportForeign(const void* block) {
    g_foreign_frees.fetch_add(1, std::memory_order_relaxed);
    char text[96];
    std::snprintf(text, sizeof text, "This memblock is not created with new: %p\n", block);
    plat::DebugOutput(text);
}

BlockHeader* HeaderOf(const void* block) {
    if (!block || (reinterpret_cast<uintptr_t>(block) & 15) != 0) return nullptr;
    auto* h = reinterpret_cast<BlockHeader*>(const_cast<void*>(block)) - 1;
#if defined(QUILD_POOL_POISON)
    // A pointer that is no global block (a pooled one, say) has someone
    // else's bytes where a header would be: a freed pooled block is poisoned.
    if (__asan_region_is_poisoned(h, sizeof *h)) return nullptr;
#endif
    return h->tag == TagFor(h) ? h : nullptr;
}

}  // namespace

namespace {

inline __attribute__((always_inline)) BlockHeader* NewBlock(size_t n, bool clear) {
    if (n > SIZE_MAX - 2 * sizeof(BlockHeader)) return nullptr;
    size_t total = (n + sizeof(BlockHeader) + 15) & ~size_t(15);
    BlockHeader* h = TakeCached(total);
    if (h) {
        if (clear) ZeroUnits(h + 1, total - sizeof(BlockHeader));
    } else if (!clear) {
        h = static_cast<BlockHeader*>(std::malloc(total));
    } else if (total >= kCallocThreshold) {
        // calloc knows when a large block is fresh from the kernel and
        // already zero, and clears only what it reuses.
        h = static_cast<BlockHeader*>(std::calloc(1, total));
    } else {
        h = static_cast<BlockHeader*>(std::malloc(total));
        if (h) ZeroUnits(h + 1, total - sizeof(BlockHeader));
    }
    if (!h) return nullptr;
    h->tag = TagFor(h);
    h->size = total;
    Count(static_cast<int64_t>(total));
    return h;
}

}  // namespace

void* MemAlloc(size_t n) {
    BlockHeader* h = NewBlock(n, true);
    return h ? h + 1 : nullptr;
}

void* MemAllocUncleared(size_t n) {
    BlockHeader* h = NewBlock(n, false);
    return h ? h + 1 : nullptr;
}

void MemFree(void* block) {
    if (!block) return;
    BlockHeader* h = HeaderOf(block);
    if (!h) {
        ReportForeign(block);
        return;
    }
    h->tag = 0;
    Count(-static_cast<int64_t>(h->size));
    if (!KeepCached(h, h->size)) std::free(h);
}

bool MemIsBlock(const void* block) { return HeaderOf(block) != nullptr; }

size_t MemTotalAllocated() {
    int64_t sum = g_shared_bytes.load(std::memory_order_relaxed);
    for (CounterSlot& s : g_slots) sum += s.bytes.load(std::memory_order_relaxed);
    return sum > 0 ? static_cast<size_t>(sum) : 0;
}

size_t MemForeignFrees() { return g_foreign_frees.load(); }

#if defined(QUILD_REPLACE_NEW)
// The program-wide operator new and delete. Aligned forms keep the library's
// own implementation (they pair with their own delete).
void* operator new(size_t n) {
    BlockHeader* h = NewBlock(n ? n : 1, true);
    if (!h) throw std::bad_alloc();
    return h + 1;
}
void* operator new[](size_t n) {
    BlockHeader* h = NewBlock(n ? n : 1, true);
    if (!h) throw std::bad_alloc();
    return h + 1;
}
void* operator new(size_t n, const std::nothrow_t&) noexcept { return MemAlloc(n ? n : 1); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return MemAlloc(n ? n : 1); }
void operator delete(void* p) noexcept { MemFree(p); }
void operator delete[](void* p) noexcept { MemFree(p); }
void operator delete(void* p, size_t) noexcept { MemFree(p); }
void operator delete[](void* p, size_t) noexcept { MemFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { MemFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { MemFree(p); }
#endif

// ---------------------------------------------------------------------------
// ChunkArena

void ChunkArena::Init(uint32_t chunk_size) {
    chunk_size_ = chunk_size;
    first_ = current_ = before_current_ = nullptr;
}

ChunkArena::Chunk* ChunkArena::NewChunk(size_t capacity) {
    auto* c = static_cast<Chunk*>(MemAlloc(sizeof(Chunk) + capacity));
    if (!c) return nullptr;
    c->capacity = capacity;
    return c;
}

void* ChunkArena::Alloc(size_t n) {
    if (chunk_size_ == 0) return nullptr;
    if (n > SIZE_MAX - 16) return nullptr;
    n = (n + 7) & ~size_t(7);
    if (!first_) {
        first_ = current_ = NewChunk(chunk_size_);
        if (!first_) return nullptr;
    }
    if (n <= chunk_size_) {
        if (current_->used + n > current_->capacity) {
            if (!current_->next) {
                Chunk* c = NewChunk(chunk_size_);
                if (!c) return nullptr;
                current_->next = c;
            }
            before_current_ = current_;
            current_ = current_->next;
            current_->used = 0;
            pool_detail::UnpoisonBlock(Data(current_), current_->capacity);
            // A reused chunk holds old bytes: callers get zeroed memory.
            std::memset(Data(current_), 0, current_->capacity);
        }
        void* p = Data(current_) + current_->used;
        current_->used += n;
        return p;
    }
    // Oversize: a dedicated block linked in just before the current chunk.
    Chunk* big = NewChunk(n);
    if (!big) return nullptr;
    big->used = n;
    big->next = current_;
    if (before_current_)
        before_current_->next = big;
    else
        first_ = big;
    before_current_ = big;
    return Data(big);
}

void ChunkArena::Rewind() {
    if (!first_) {
        if (chunk_size_ == 0) return;
        first_ = NewChunk(chunk_size_);
        if (!first_) return;
    }
    current_ = first_;
    before_current_ = nullptr;
    pool_detail::UnpoisonBlock(Data(first_), first_->capacity);
    std::memset(Data(first_), 0, first_->used);
    first_->used = 0;
}

void ChunkArena::Reset(uint32_t chunk_size) {
    FreeAll();
    chunk_size_ = chunk_size;
}

size_t ChunkArena::UsedBytes() const {
    size_t sum = 0;
    for (Chunk* c = first_; c; c = c->next) sum += c->used;
    return sum;
}

void ChunkArena::FreeAll() {
    Chunk* c = first_;
    while (c) {
        Chunk* next = c->next;
        // Pooled blocks carved from it may still be poisoned.
        pool_detail::UnpoisonBlock(Data(c), c->capacity);
        MemFree(c);
        c = next;
    }
    first_ = current_ = before_current_ = nullptr;
}

ChunkArena& ManagedObjectArena() {
    static ChunkArena* arena = new ChunkArena(0x100000);
    return *arena;
}

ChunkArena& CompiledChunkArena() {
    static ChunkArena* arena = new ChunkArena(0x50000);
    return *arena;
}

// ---------------------------------------------------------------------------
// ObjectPool
//
// A freed block holds {next free block, kFreedTag} in its first 16 bytes and
// 0xF0 over the rest of its recorded size. The tag is what recognises a
// second free of the same block.

namespace pool_detail {
FreeBlock* g_free_lists[ObjectPool::kClasses];
bool g_ready = false;
}  // namespace pool_detail

using pool_detail::FreeBlock;
using pool_detail::g_free_lists;
using pool_detail::kFreedTag;
static_assert(sizeof(FreeBlock) == 16, "fits the smallest size class");

namespace {

size_t g_double_frees = 0;

size_t ClassOf(size_t n) { return (n + 15) / 16; }

// Set on first use, so pooled allocations made by static initialisers work.
ChunkArena* g_managed = nullptr;

ChunkArena& Managed() {
    if (!g_managed) g_managed = &ManagedObjectArena();
    pool_detail::g_ready = g_managed->ChunkSize() != 0;
    return *g_managed;
}

bool Pooled(size_t n) { return ClassOf(n) < ObjectPool::kClasses && Managed().ChunkSize() != 0; }

}  // namespace

void* pool_detail::AllocSlow(size_t n) {
    if (n == 0) return nullptr;
    if (!Pooled(n)) return MemAlloc(n);
    size_t c = ClassOf(n);
    if (FreeBlock* b = g_free_lists[c]) {
        pool_detail::UnpoisonBlock(b, c * 16);
        g_free_lists[c] = b->next;
        std::memset(b, 0, c * 16);
        return b;
    }
    return Managed().Alloc(c * 16);
}

void pool_detail::FreeSlow(void* block, size_t size) {
    if (!block || size == 0) return;
    if (!Pooled(size)) {
        MemFree(block);
        return;
    }
    auto* b = static_cast<FreeBlock*>(block);
    if (pool_detail::IsFreedBlock(b)) {
        ++g_double_frees;
        plat::DebugOutput("ObjectPool: block freed twice, ignored\n");
        return;
    }
    std::memset(block, kPoolFillByte, size);
    b->next = g_free_lists[ClassOf(size)];
    b->tag = kFreedTag;
    g_free_lists[ClassOf(size)] = b;
    pool_detail::PoisonBlock(b, ClassOf(size) * 16);
}

void* ObjectPool::NewRecord(size_t n) {
    if (n < sizeof(PoolRecordHeader)) n = sizeof(PoolRecordHeader);
    auto* h = static_cast<PoolRecordHeader*>(Alloc(n));
    if (!h) return nullptr;
    h->link = nullptr;
    h->size = n;
    h->self = h;
    return h;
}

void ObjectPool::DeleteRecord(void* record) {
    if (!record) return;
    // A freed record has the free tag where its size word was.
    if (pool_detail::IsFreedBlock(record)) {
        ++g_double_frees;
        plat::DebugOutput("ObjectPool: record freed twice, ignored\n");
        return;
    }
    auto* h = static_cast<PoolRecordHeader*>(record);
    Free(record, h->size);
}

bool ObjectPool::IsFreed(const void* block, size_t size) {
    if (!block || !Pooled(size)) return false;
    return pool_detail::IsFreedBlock(block);
}

void ObjectPool::ReleaseAll() {
    for (auto& head : g_free_lists) head = nullptr;
    Managed().FreeAll();
}

size_t ObjectPool::DoubleFrees() { return g_double_frees; }
