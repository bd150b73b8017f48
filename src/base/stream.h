#pragma once
// The byte stream interface all file access goes through, and the
// printf-style writer used by every text writer.
#include <cstdint>

class Stream {
public:
    virtual ~Stream() = default;
    virtual int Close() = 0;
    virtual void Rewind() = 0;
    virtual bool Eof() = 0;
    virtual uint32_t Tell() = 0;
    virtual bool SeekRelative(int32_t n) = 0;
    virtual bool SeekAbsolute(uint32_t n) = 0;
    virtual uint32_t Size() = 0;
    virtual uint32_t Read(void* buffer, uint32_t n) = 0;
    // The next byte (0..255); at the end 255.
    virtual int GetChar() = 0;
    virtual uint32_t Write(const void* buffer, uint32_t n) = 0;
    virtual int PutChar(int c) = 0;
};

// Formats at most 1023 characters and writes them without the terminator.
void StreamPrintf(Stream* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
