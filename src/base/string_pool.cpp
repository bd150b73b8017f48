#include "base/string_pool.h"

#include <strings.h>

#include <cstring>

#include "base/crc32.h"

StringPool::StringPool(uint32_t chunk_size) { arena_.Init(chunk_size); }

StringPool::~StringPool() {
    arena_.FreeAll();
    MemFree(buckets_);
}

StringPool::Entry* StringPool::Find(const char* bytes, size_t length) const {
    if (!bytes || !buckets_) return nullptr;
    uint32_t hash = Crc32Register(bytes, length);
    for (Entry* e = buckets_[hash & (bucket_count_ - 1)]; e; e = e->hash_next)
        if (e->hash == hash && e->length == length && std::memcmp(e->text, bytes, length) == 0) return e;
    return nullptr;
}

StringPool::Entry* StringPool::NewEntry(const char* bytes, size_t length, uint32_t hash) {
    if (length > UINT32_MAX - 64) return nullptr;
    auto* e = static_cast<Entry*>(arena_.Alloc(offsetof(Entry, text) + length + 1));
    if (!e) return nullptr;
    e->hash = hash;
    e->length = static_cast<uint32_t>(length);
    std::memcpy(e->text, bytes, length);
    e->text[length] = 0;
    return e;
}

bool StringPool::GrowIndex() {
    size_t count = bucket_count_ ? bucket_count_ * 2 : 64;
    auto** buckets = static_cast<Entry**>(MemAlloc(count * sizeof(Entry*)));
    if (!buckets) return false;
    for (size_t i = 0; i < bucket_count_; ++i) {
        Entry* e = buckets_[i];
        while (e) {
            Entry* next = e->hash_next;
            Entry*& b = buckets[e->hash & (count - 1)];
            e->hash_next = b;
            b = e;
            e = next;
        }
    }
    MemFree(buckets_);
    buckets_ = buckets;
    bucket_count_ = count;
    return true;
}

void StringPool::IndexInsert(Entry* e) {
    if ((indexed_ + 1) * 2 > bucket_count_ && !GrowIndex() && !buckets_) return;
    Entry*& b = buckets_[e->hash & (bucket_count_ - 1)];
    e->hash_next = b;
    b = e;
    ++indexed_;
}

const char* StringPool::InternBytes(const char* bytes, size_t length) {
    if (!bytes) return nullptr;
    if (Entry* found = Find(bytes, length)) return found->text;
    Entry* e = NewEntry(bytes, length, Crc32Register(bytes, length));
    if (!e) return nullptr;
    e->next = head_;
    head_ = e;
    ++count_;
    IndexInsert(e);
    return e->text;
}

const char* StringPool::Intern(const char* text) {
    if (!text) return nullptr;
    return InternBytes(text, std::strlen(text));
}

const char* StringPool::InternSorted(const char* text) {
    if (!text) return nullptr;
    Entry** link = &head_;
    while (*link) {
        int c = strcasecmp(text, (*link)->text);
        if (c == 0) return (*link)->text;
        if (c < 0) break;
        link = &(*link)->next;
    }
    size_t length = std::strlen(text);
    Entry* e = NewEntry(text, length, Crc32OfString(text));
    if (!e) return nullptr;
    e->hash_next = nullptr;
    e->next = *link;
    *link = e;
    ++count_;
    return e->text;
}

void StringPool::Clear() {
    arena_.Rewind();
    count_ = 0;
    head_ = nullptr;
    if (buckets_) std::memset(buckets_, 0, bucket_count_ * sizeof(Entry*));
    indexed_ = 0;
}

StringPool& CommonStrings() {
    static StringPool* pool = new StringPool();
    return *pool;
}
