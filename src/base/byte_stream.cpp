#include "base/byte_stream.h"

#include <cstring>

#include "base/file_stream.h"
#include "base/memory.h"

ByteStream::~ByteStream() { Close(); }

int ByteStream::Close() {
    if (!borrowed_) MemFree(data_);
    data_ = nullptr;
    pos_ = size_ = capacity_ = 0;
    borrowed_ = false;
    return 0;
}

bool ByteStream::LoadFile(const char* path) {
    Close();
    FileStream f;
    if (!f.OpenRead(path)) return false;
    uint32_t size = f.Size();
    if (size > kMaxWholeFileSize) return false;
    uint8_t* block = static_cast<uint8_t*>(MemAlloc(size ? size : 1));
    if (!block) return false;
    if (size && f.Read(block, size) != size) {  // a short read is a failure
        MemFree(block);
        return false;
    }
    data_ = block;
    size_ = capacity_ = size;
    pos_ = 0;
    borrowed_ = false;
    return true;
}

void ByteStream::Borrow(const void* data, uint32_t size) {
    Close();
    data_ = static_cast<uint8_t*>(const_cast<void*>(data));
    size_ = capacity_ = data ? size : 0;
    borrowed_ = true;
}

void ByteStream::SetSize(uint32_t n) {
    if (n > capacity_) {
        uint64_t grown = static_cast<uint64_t>(capacity_) + capacity_ / 2;
        if (grown < n) grown = n;
        if (grown > 0xFFFFFFFFu) grown = 0xFFFFFFFFu;
        uint8_t* block = static_cast<uint8_t*>(MemAlloc(static_cast<size_t>(grown)));
        if (!block) return;
        if (data_ && size_) std::memcpy(block, data_, size_);
        if (!borrowed_) MemFree(data_);
        data_ = block;
        capacity_ = static_cast<uint32_t>(grown);
        borrowed_ = false;
    } else if (n > size_ && data_) {
        std::memset(data_ + size_, 0, n - size_);
    }
    size_ = n;
    if (pos_ > size_) pos_ = size_;
}

bool ByteStream::SeekRelative(int32_t n) {
    int64_t target = static_cast<int64_t>(pos_) + n;
    if (target < 0) target = 0;
    if (target > size_) target = size_;
    pos_ = static_cast<uint32_t>(target);
    return true;
}

bool ByteStream::SeekAbsolute(uint32_t n) {
    pos_ = n > size_ ? size_ : n;
    return true;
}

uint32_t ByteStream::Read(void* buffer, uint32_t n) {
    if (!buffer || pos_ >= size_) return 0;
    uint32_t count = size_ - pos_ < n ? size_ - pos_ : n;
    std::memcpy(buffer, data_ + pos_, count);
    pos_ += count;
    return count;
}

int ByteStream::GetChar() {
    if (pos_ >= size_) return 255;
    return data_[pos_++];
}

uint32_t ByteStream::Write(const void*, uint32_t) { return 0; }

int ByteStream::PutChar(int c) {
    if (pos_ >= size_) {
        if (size_ == 0xFFFFFFFFu) return -1;
        SetSize(pos_ + 1);
        if (pos_ >= size_) return -1;
    }
    if (borrowed_) return -1;  // never write into a block we do not own
    data_[pos_++] = static_cast<uint8_t>(c);
    return c & 255;
}
