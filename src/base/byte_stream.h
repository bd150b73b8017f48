#pragma once
// A whole file (or any block) held in memory.
#include <cstdint>

#include "base/stream.h"

class ByteStream : public Stream {
public:
    ByteStream() = default;
    ~ByteStream() override;
    ByteStream(const ByteStream&) = delete;
    ByteStream& operator=(const ByteStream&) = delete;

    // Loads a whole file (packages first). False, and the stream left empty,
    // when it cannot be opened or read whole.
    bool LoadFile(const char* path);
    // Uses a block the caller keeps ownership of.
    void Borrow(const void* data, uint32_t size);
    // Grows the block (by at least half its size) and sets the size.
    void SetSize(uint32_t n);

    const uint8_t* Data() const { return data_; }
    uint8_t* Data() { return data_; }

    int Close() override;
    void Rewind() override { pos_ = 0; }
    bool Eof() override { return pos_ >= size_; }
    uint32_t Tell() override { return pos_; }
    bool SeekRelative(int32_t n) override;
    bool SeekAbsolute(uint32_t n) override;
    uint32_t Size() override { return size_; }
    uint32_t Read(void* buffer, uint32_t n) override;
    int GetChar() override;
    uint32_t Write(const void* buffer, uint32_t n) override;
    int PutChar(int c) override;

private:
    uint8_t* data_ = nullptr;
    uint32_t pos_ = 0;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;
    bool borrowed_ = false;
};
