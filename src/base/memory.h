#pragma once
// The three allocators under everything else:
//  - the global allocator behind operator new/delete: zeroed blocks, 16-byte
//    aligned, kept in block lists so the total is known and a pointer it
//    never handed out is recognised;
//  - ChunkArena: bump allocation from chained chunks, released whole;
//  - ObjectPool: 16-byte size classes carved from the managed-object arena,
//    freed blocks filled with 0xF0.
#include <cstddef>
#include <cstdint>

// Under AddressSanitizer a freed pooled block is poisoned whole (its free
// link and tag included) until it is handed out again, so a use after free
// of a pooled object is reported like one of any other block. The pool then
// tells a freed block by its poison (IsFreedBlock) and unpoisons a block
// before it hands it out again.
#if defined(__SANITIZE_ADDRESS__)
#define QUILD_POOL_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILD_POOL_POISON 1
#endif
#endif
#if defined(QUILD_POOL_POISON)
#include <sanitizer/asan_interface.h>
#endif

// Global allocator. MemAlloc returns a zeroed block (null when memory is
// exhausted); MemFree ignores null and reports (on the debugger output) and
// ignores a pointer it never handed out. Safe from any thread.
void* MemAlloc(size_t n);
// A global block whose bytes are left as they are: only for buffers the
// caller writes in full before anything reads them (decoded pixels, read
// buffers). Freed, counted and checked like any other block.
void* MemAllocUncleared(size_t n);
void MemFree(void* block);
// True when the pointer is the start of a live global block.
bool MemIsBlock(const void* block);
// Sum of the live blocks' sizes, headers included.
size_t MemTotalAllocated();
// Number of foreign or repeated frees reported so far.
size_t MemForeignFrees();

class ChunkArena {
public:
    ChunkArena() = default;
    explicit ChunkArena(uint32_t chunk_size) { Init(chunk_size); }
    ~ChunkArena() { FreeAll(); }
    ChunkArena(const ChunkArena&) = delete;
    ChunkArena& operator=(const ChunkArena&) = delete;

    void Init(uint32_t chunk_size);
    // n bytes, rounded up to 8, zeroed when the chunk is fresh. Requests
    // larger than a chunk get a dedicated block.
    void* Alloc(size_t n);
    // Starts again at the first chunk (kept, with later chunks reused).
    void Rewind();
    // Frees every chunk and takes a new chunk size.
    void Reset(uint32_t chunk_size);
    size_t UsedBytes() const;
    // Frees every chunk; the next Alloc starts afresh.
    void FreeAll();
    uint32_t ChunkSize() const { return chunk_size_; }

private:
    struct Chunk {
        Chunk* next;
        size_t used;
        size_t capacity;
        size_t pad;  // keeps the data 16-byte aligned
    };
    static uint8_t* Data(Chunk* c) { return reinterpret_cast<uint8_t*>(c + 1); }
    Chunk* NewChunk(size_t capacity);

    Chunk* first_ = nullptr;
    Chunk* current_ = nullptr;
    Chunk* before_current_ = nullptr;  // the chunk chained to the current one; null when it is the first
    uint32_t chunk_size_ = 0;
};

// The arena the object pool carves from (1 MiB chunks) and the arena of
// compiled script chunks (320 KiB chunks).
ChunkArena& ManagedObjectArena();
ChunkArena& CompiledChunkArena();

// Header of a plain pooled record: its first words.
struct PoolRecordHeader {
    void* link;   // next in a free list or record chain
    size_t size;  // the size that was requested
    void* self;   // the record's first byte
};

namespace pool_detail {
struct FreeBlock {
    FreeBlock* next;
    uint64_t tag;
};
constexpr uint64_t kFreedTag = 0xF0F0F0F0DEADF0F0ull;
extern FreeBlock* g_free_lists[1024];
extern bool g_ready;  // the managed arena exists: requests below 16 KiB are pooled
void* AllocSlow(size_t n);
void FreeSlow(void* block, size_t size);

// Marks a freed block unreadable, or readable again before it is reused.
inline void PoisonBlock([[maybe_unused]] void* block, [[maybe_unused]] size_t bytes) {
#if defined(QUILD_POOL_POISON)
    ASAN_POISON_MEMORY_REGION(block, bytes);
#endif
}
inline void UnpoisonBlock([[maybe_unused]] void* block, [[maybe_unused]] size_t bytes) {
#if defined(QUILD_POOL_POISON)
    ASAN_UNPOISON_MEMORY_REGION(block, bytes);
#endif
}
// True when the block is a freed pooled block: its tag, or (under the
// sanitizer, where a freed block cannot be read) its poisoned first byte.
inline bool IsFreedBlock(const void* block) {
#if defined(QUILD_POOL_POISON)
    return __asan_address_is_poisoned(block) != 0;
#else
    return static_cast<const FreeBlock*>(block)->tag == kFreedTag;
#endif
}
}  // namespace pool_detail

class ObjectPool {
public:
    static constexpr size_t kClasses = 1024;
    static constexpr size_t kMaxPooled = (kClasses - 1) * 16;  // 16368

    // A zeroed block of n bytes; null for 0. Requests of up to 16368 bytes
    // come from the size classes once the managed arena exists, larger ones
    // from the global allocator.
    static void* Alloc(size_t n);
    // Returns a block of the given requested size. The block is filled with
    // 0xF0 and goes to its class's free list. A block already freed is
    // reported and ignored, so it is never handed out twice.
    static void Free(void* block, size_t size);
    // A record with its header {0, n, record} in its first words.
    static void* NewRecord(size_t n);
    static void DeleteRecord(void* record);
    // True when a pooled block of that size has been freed and not handed
    // out again.
    static bool IsFreed(const void* block, size_t size);
    // Drops the free lists and frees the managed arena (shut-down).
    static void ReleaseAll();
    static size_t DoubleFrees();
};

// Fill byte of freed pooled blocks.
constexpr uint8_t kPoolFillByte = 0xF0;

// The common cases inline: with the size known at the call site (sizeof of a
// record or object), the zeroing and the fill become a few stores.
inline void* ObjectPool::Alloc(size_t n) {
    using namespace pool_detail;
    size_t c = (n + 15) / 16;
    if (n && c < kClasses && g_ready) {
        if (FreeBlock* b = g_free_lists[c]) {
            UnpoisonBlock(b, c * 16);
            g_free_lists[c] = b->next;
            __builtin_memset(static_cast<void*>(b), 0, c * 16);
            return b;
        }
    }
    return AllocSlow(n);
}

inline void ObjectPool::Free(void* block, size_t size) {
    using namespace pool_detail;
    size_t c = (size + 15) / 16;
    if (block && size && c < kClasses && g_ready) {
        auto* b = static_cast<FreeBlock*>(block);
        if (!IsFreedBlock(b)) {
            __builtin_memset(block, kPoolFillByte, size);
            b->next = g_free_lists[c];
            b->tag = kFreedTag;
            g_free_lists[c] = b;
            PoisonBlock(b, c * 16);
            return;
        }
    }
    FreeSlow(block, size);
}
