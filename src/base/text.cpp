#include "base/text.h"

#include <strings.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/memory.h"

const char* TextBuffer::Format(const char* format, ...) {
    if (!format) {
        text_[0] = 0;
        return text_;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text_, kSize, format, args);
    va_end(args);
    if (n < 0) text_[0] = 0;
    return text_;
}

int TextBuffer::FormatCount(const char* format, ...) {
    if (!format) {
        text_[0] = 0;
        return 0;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text_, kSize, format, args);
    va_end(args);
    if (n < 0) {
        text_[0] = 0;
        return 0;
    }
    return static_cast<size_t>(n) >= kSize ? static_cast<int>(kSize - 1) : n;
}

bool Rect::Parse(const char* text) {
    if (text) {
        int a, b, c, d;
        if (std::sscanf(text, "%d,%d,%d,%d", &a, &b, &c, &d) == 4) {
            Set(a, b, c, d);
            return true;
        }
        double fa, fb, fc, fd;
        if (std::sscanf(text, "%lf,%lf,%lf,%lf", &fa, &fb, &fc, &fd) == 4) {
            Set(SaturateToInt(fa), SaturateToInt(fb), SaturateToInt(fc), SaturateToInt(fd));
            return true;
        }
    }
    Set(0, 0, 0, 0);
    return false;
}

uint32_t HexToInt(const char* text) {
    unsigned v = 0;
    if (!text || std::sscanf(text, "%x", &v) != 1) return 0;
    return v;
}

bool EqualsNoCase(const char* a, const char* b) {
    if (!a || !b) return a == b;
    return strcasecmp(a, b) == 0;
}

Tokenizer::Tokenizer(const char* text, const char* delimiters)
    : text_(text ? text : ""), delimiters_(delimiters ? delimiters : "") {}

bool Tokenizer::IsDelimiter(char c) const { return c != 0 && std::strchr(delimiters_, c) != nullptr; }

int Tokenizer::GetChar() {
    char c = text_[pos_];
    if (c) ++pos_;
    return static_cast<unsigned char>(c);
}

const char* Tokenizer::NextToken() {
    while (IsDelimiter(text_[pos_])) last_delimiter_ = text_[pos_++];
    size_t n = 0;
    while (text_[pos_] && !IsDelimiter(text_[pos_])) {
        if (n < kTokenSize - 1) token_[n++] = text_[pos_];
        ++pos_;
    }
    token_[n] = 0;
    if (n == 0) return nullptr;
    if (text_[pos_]) last_delimiter_ = text_[pos_++];
    return token_;
}

ByteBuffer::~ByteBuffer() { MemFree(data_); }

bool ByteBuffer::Reserve(size_t n) {
    if (n <= capacity_) return true;
    auto* block = static_cast<uint8_t*>(MemAlloc(n));
    if (!block) return false;
    if (data_) std::memcpy(block, data_, capacity_);
    MemFree(data_);
    data_ = block;
    capacity_ = n;
    return true;
}

int32_t SaturateToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int32_t SaturateToInt(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

uint32_t SaturateToUInt(double v) {
    if (std::isnan(v) || v <= 0.0) return 0;
    if (v >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(v);
}
