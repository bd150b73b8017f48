#include "base/memory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "platform/system.h"

// ---------------------------------------------------------------------------
// Global allocator
//
// Blocks live in doubly linked lists so a free unlinks in O(1). The lists are
// sharded by thread and each shard has its own spin lock, so threads that
// allocate at once (the GL driver's workers, the shader compiler, sound
// streaming) rarely meet. Nothing is allocated or logged while a lock is held.

namespace {

constexpr uint64_t kBlockMagic = 0x51554C44424C4B21ull;  // arbitrary
constexpr size_t kShards = 32;

struct alignas(16) BlockHeader {
    uint64_t magic;  // kBlockMagic ^ address of the header while live
    BlockHeader* prev;
    BlockHeader* next;
    uint32_t size;   // bytes including the header (saturated)
    uint32_t shard;
};
static_assert(sizeof(BlockHeader) == 32, "header keeps 16-byte alignment");

struct alignas(64) Shard {
    std::atomic_flag busy = ATOMIC_FLAG_INIT;
    BlockHeader* head = nullptr;
    size_t total = 0;

    void Lock() {
        while (busy.test_and_set(std::memory_order_acquire)) {
            while (busy.test(std::memory_order_relaxed)) std::this_thread::yield();
        }
    }
    void Unlock() { busy.clear(std::memory_order_release); }
};

Shard g_shards[kShards];
std::atomic<uint32_t> g_next_shard{0};
std::atomic<size_t> g_foreign_frees{0};
thread_local uint32_t t_shard = kShards;

uint32_t MyShard() {
    if (t_shard == kShards) t_shard = g_next_shard.fetch_add(1, std::memory_order_relaxed) % kShards;
    return t_shard;
}

uint64_t MagicFor(const BlockHeader* h) { return kBlockMagic ^ reinterpret_cast<uintptr_t>(h); }

void ReportForeign(const void* block) {
    g_foreign_frees.fetch_add(1, std::memory_order_relaxed);
    char text[96];
    std::snprintf(text, sizeof text, "This memblock is not created with new: %p\n", block);
    plat::DebugOutput(text);
}

// The header of a block we handed out, or null. A pointer inside one of our
// blocks, or one freed already, fails the magic test.
BlockHeader* HeaderOf(const void* block) {
    if (!block || (reinterpret_cast<uintptr_t>(block) & 15) != 0) return nullptr;
    auto* h = reinterpret_cast<BlockHeader*>(const_cast<void*>(block)) - 1;
    return h->magic == MagicFor(h) ? h : nullptr;
}

}  // namespace

void* MemAlloc(size_t n) {
    if (n > SIZE_MAX - sizeof(BlockHeader) - 16) return nullptr;
    size_t total = (n + sizeof(BlockHeader) + 15) & ~size_t(15);
    auto* h = static_cast<BlockHeader*>(std::calloc(1, total));
    if (!h) return nullptr;
    uint32_t s = MyShard();
    h->magic = MagicFor(h);
    h->size = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
    h->shard = s;
    Shard& sh = g_shards[s];
    sh.Lock();
    h->next = sh.head;
    if (sh.head) sh.head->prev = h;
    sh.head = h;
    sh.total += total;
    sh.Unlock();
    return h + 1;
}

void MemFree(void* block) {
    if (!block) return;
    BlockHeader* h = HeaderOf(block);
    if (!h || h->shard >= kShards) {
        ReportForeign(block);
        return;
    }
    Shard& sh = g_shards[h->shard];
    sh.Lock();
    // Checked again under the lock: two threads freeing one block at once
    // must not both unlink it.
    if (h->magic != MagicFor(h)) {
        sh.Unlock();
        ReportForeign(block);
        return;
    }
    h->magic = 0;
    if (h->prev) h->prev->next = h->next;
    else sh.head = h->next;
    if (h->next) h->next->prev = h->prev;
    sh.total -= (static_cast<size_t>(h->size) + 15) & ~size_t(15);
    sh.Unlock();
    std::free(h);
}

bool MemIsBlock(const void* block) { return HeaderOf(block) != nullptr; }

size_t MemTotalAllocated() {
    size_t sum = 0;
    for (Shard& sh : g_shards) {
        sh.Lock();
        sum += sh.total;
        sh.Unlock();
    }
    return sum;
}

size_t MemForeignFrees() { return g_foreign_frees.load(); }

#if defined(QUILD_REPLACE_NEW)
// The program-wide operator new and delete. Aligned forms keep the library's
// own implementation (they pair with their own delete).
void* operator new(size_t n) {
    void* p = MemAlloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t n) {
    void* p = MemAlloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
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
    first_ = current_ = nullptr;
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
            current_ = current_->next;
            current_->used = 0;
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
    if (current_ == first_) {
        first_ = big;
    } else {
        Chunk* prev = first_;
        while (prev->next != current_) prev = prev->next;
        prev->next = big;
    }
    return Data(big);
}

void ChunkArena::Rewind() {
    if (!first_) {
        if (chunk_size_ == 0) return;
        first_ = NewChunk(chunk_size_);
        if (!first_) return;
    }
    current_ = first_;
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
        MemFree(c);
        c = next;
    }
    first_ = current_ = nullptr;
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

namespace {

constexpr uint64_t kFreedTag = 0xF0F0F0F0DEADF0F0ull;

struct FreeBlock {
    FreeBlock* next;
    uint64_t tag;
};
static_assert(sizeof(FreeBlock) == 16, "fits the smallest size class");

FreeBlock* g_free_lists[ObjectPool::kClasses];
size_t g_double_frees = 0;

size_t ClassOf(size_t n) { return (n + 15) / 16; }

bool Pooled(size_t n) { return ClassOf(n) < ObjectPool::kClasses && ManagedObjectArena().ChunkSize() != 0; }

}  // namespace

void* ObjectPool::Alloc(size_t n) {
    if (n == 0) return nullptr;
    if (!Pooled(n)) return MemAlloc(n);
    size_t c = ClassOf(n);
    if (FreeBlock* b = g_free_lists[c]) {
        g_free_lists[c] = b->next;
        std::memset(b, 0, c * 16);
        return b;
    }
    return ManagedObjectArena().Alloc(c * 16);
}

void ObjectPool::Free(void* block, size_t size) {
    if (!block || size == 0) return;
    if (!Pooled(size)) {
        MemFree(block);
        return;
    }
    auto* b = static_cast<FreeBlock*>(block);
    if (b->tag == kFreedTag) {
        ++g_double_frees;
        plat::DebugOutput("ObjectPool: block freed twice, ignored\n");
        return;
    }
    size_t c = ClassOf(size);
    std::memset(block, kPoolFillByte, size);
    b->next = g_free_lists[c];
    b->tag = kFreedTag;
    g_free_lists[c] = b;
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
    if (static_cast<FreeBlock*>(record)->tag == kFreedTag) {
        ++g_double_frees;
        plat::DebugOutput("ObjectPool: record freed twice, ignored\n");
        return;
    }
    auto* h = static_cast<PoolRecordHeader*>(record);
    Free(record, h->size);
}

bool ObjectPool::IsFreed(const void* block, size_t size) {
    if (!block || !Pooled(size)) return false;
    return static_cast<const FreeBlock*>(block)->tag == kFreedTag;
}

void ObjectPool::ReleaseAll() {
    for (auto& head : g_free_lists) head = nullptr;
    ManagedObjectArena().FreeAll();
}

size_t ObjectPool::DoubleFrees() { return g_double_frees; }
