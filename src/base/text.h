#pragma once
// Small text helpers: fixed-size formatted buffers, rectangles with their
// text form, hexadecimal colour text, case-insensitive compare, a delimiter
// tokenizer and a growable byte buffer.
#include <cstddef>
#include <cstdint>

// 256 characters, filled printf-style; longer texts are cut.
class TextBuffer {
public:
    static constexpr size_t kSize = 256;
    TextBuffer() { text_[0] = 0; }
    const char* Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int FormatCount(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const char* c_str() const { return text_; }
    char* data() { return text_; }
    operator const char*() const { return text_; }

private:
    char text_[kSize] = {};
};

struct Rect {
    int32_t x = 0, y = 0, w = 0, h = 0;

    Rect() = default;
    Rect(int32_t x0, int32_t y0, int32_t w0, int32_t h0) : x(x0), y(y0), w(w0), h(h0) {}
    Rect& Init(int32_t x0, int32_t y0, int32_t w0, int32_t h0) {
        Set(x0, y0, w0, h0);
        return *this;
    }
    void Set(int32_t x0, int32_t y0, int32_t w0, int32_t h0) {
        x = x0;
        y = y0;
        w = w0;
        h = h0;
    }
    // "%d,%d,%d,%d", else four numbers truncated toward zero; otherwise all
    // zero and false.
    bool Parse(const char* text);
    bool Contains(int32_t px, int32_t py) const {
        return px >= x && py >= y && static_cast<int64_t>(px) < static_cast<int64_t>(x) + w &&
               static_cast<int64_t>(py) < static_cast<int64_t>(y) + h;
    }
};

// The value read with "%x"; 0 when nothing reads.
uint32_t HexToInt(const char* text);
bool EqualsNoCase(const char* a, const char* b);

class Tokenizer {
public:
    static constexpr size_t kTokenSize = 256;
    Tokenizer(const char* text, const char* delimiters);
    int GetChar();
    // The next token (cut at 255 characters), or null when none is left.
    const char* NextToken();
    char LastDelimiter() const { return last_delimiter_; }
    size_t Position() const { return pos_; }

private:
    bool IsDelimiter(char c) const;
    const char* text_;
    const char* delimiters_;
    size_t pos_ = 0;
    char token_[kTokenSize] = {};
    char last_delimiter_ = 0;
};

class ByteBuffer {
public:
    ByteBuffer() = default;
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    // Grows to at least n bytes, keeping the contents; false when memory
    // runs out (the old block is kept).
    bool Reserve(size_t n);
    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    size_t capacity() const { return capacity_; }

private:
    uint8_t* data_ = nullptr;
    size_t capacity_ = 0;
};

// Saturating float-to-integer conversion: NaN gives 0, out-of-range values
// clamp to the type's limits, everything else truncates toward zero.
int32_t SaturateToInt(double v);
uint32_t SaturateToUInt(double v);
// The same for a wide integer (a sum of script numbers): clamped exactly.
int32_t SaturateToInt(int64_t v);
