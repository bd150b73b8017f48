#pragma once
// Interned strings: one copy of each distinct text in a chunk arena, so names
// can be kept as plain pointers. Entries stay valid until Clear or the pool's
// end. Interned texts are never changed in place.
#include <cstddef>
#include <cstdint>

#include "base/memory.h"

class StringPool {
public:
    struct Entry {
        Entry* next;       // the pool's list, newest first (sorted pools: in order)
        Entry* hash_next;  // the index bucket's chain
        uint32_t hash;
        uint32_t length;
        char text[1];      // length bytes and a terminating zero
    };

    explicit StringPool(uint32_t chunk_size = 1024);
    ~StringPool();
    StringPool(const StringPool&) = delete;
    StringPool& operator=(const StringPool&) = delete;

    Entry* Find(const char* bytes, size_t length) const;
    const char* InternBytes(const char* bytes, size_t length);
    const char* Intern(const char* text);
    // Keeps the list in case-insensitive alphabetical order; texts equal but
    // for case are one entry (the first stored). Only for pools filled this
    // way (name completion).
    const char* InternSorted(const char* text);
    void Clear();

    uint32_t Count() const { return count_; }
    // Bytes taken from the pool's arena.
    size_t UsedBytes() const { return arena_.UsedBytes(); }
    Entry* First() const { return head_; }

private:
    Entry* NewEntry(const char* bytes, size_t length, uint32_t hash);
    void IndexInsert(Entry* e);
    bool GrowIndex();

    ChunkArena arena_;
    uint32_t count_ = 0;
    Entry* head_ = nullptr;
    // Open hash index over the list: buckets of entries chained by hash_next.
    Entry** buckets_ = nullptr;
    size_t bucket_count_ = 0;
    size_t indexed_ = 0;
};

// The common pool of object names, resource names, compiled-script names and
// property texts.
StringPool& CommonStrings();
