#pragma once
// A stream that collects everything written to it in one growing block from
// the global allocator, so a whole file can be written in one piece (and
// safely, through WriteFileAtomic).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/memory.h"
#include "base/stream.h"

class MemoryWriter : public Stream {
public:
    ~MemoryWriter() override { MemFree(data_); }
    const uint8_t* Data() const { return data_; }
    size_t Bytes() const { return size_; }
    // The block (the caller frees it with MemFree); the writer is emptied.
    uint8_t* Take(size_t& size) {
        uint8_t* d = data_;
        size = size_;
        data_ = nullptr;
        size_ = capacity_ = 0;
        return d;
    }
    int Close() override { return 0; }
    void Rewind() override {}
    bool Eof() override { return true; }
    uint32_t Tell() override { return uint32_t(size_); }
    bool SeekRelative(int32_t) override { return false; }
    bool SeekAbsolute(uint32_t) override { return false; }
    uint32_t Size() override { return uint32_t(size_); }
    uint32_t Read(void*, uint32_t) override { return 0; }
    int GetChar() override { return 255; }
    uint32_t Write(const void* buffer, uint32_t n) override {
        if (!buffer || n > 0xFFFFFFFFu - size_) return 0;
        if (size_ + n > capacity_) {
            size_t grown = capacity_ ? capacity_ * 2 : 64 * 1024;
            while (grown < size_ + n) grown *= 2;
            // Only the bytes written are ever read.
            auto* block = static_cast<uint8_t*>(MemAllocUncleared(grown));
            if (!block) return 0;
            if (size_) std::memcpy(block, data_, size_);
            MemFree(data_);
            data_ = block;
            capacity_ = grown;
        }
        std::memcpy(data_ + size_, buffer, n);
        size_ += n;
        return n;
    }
    int PutChar(int c) override {
        uint8_t b = uint8_t(c);
        return Write(&b, 1) == 1 ? c & 255 : -1;
    }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};
