#pragma once
// A Stream that collects what is written to it, for checking written text.
#include <string>

#include "base/stream.h"

namespace quild_test {

class TextStream : public Stream {
public:
    std::string text;
    int Close() override { return 0; }
    void Rewind() override {}
    bool Eof() override { return true; }
    uint32_t Tell() override { return uint32_t(text.size()); }
    bool SeekRelative(int32_t) override { return false; }
    bool SeekAbsolute(uint32_t) override { return false; }
    uint32_t Size() override { return uint32_t(text.size()); }
    uint32_t Read(void*, uint32_t) override { return 0; }
    int GetChar() override { return 255; }
    uint32_t Write(const void* b, uint32_t n) override {
        text.append(static_cast<const char*>(b), n);
        return n;
    }
    int PutChar(int c) override {
        text += char(c);
        return c;
    }
};

}  // namespace quild_test
