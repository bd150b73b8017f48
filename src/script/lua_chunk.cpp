#include "script/lua_chunk.h"

#include <cstring>

namespace {

constexpr uint8_t kHeader[12] = {0x1B, 'L', 'u', 'a', 0x51, 0, 1, 4, 8, 4, 8, 0};
constexpr int kMaxDepth = 200;  // nesting of function prototypes

// Walks a chunk; with out set, copies it without debug information.
class ChunkWalker {
public:
    ChunkWalker(const uint8_t* data, size_t size, std::vector<uint8_t>* out) : p_(data), end_(data + size), out_(out) {}

    bool Run() {
        if (Left() < sizeof kHeader || std::memcmp(p_, kHeader, sizeof kHeader) != 0) return false;
        if (!Copy(sizeof kHeader)) return false;
        return Function(0) && p_ == end_;
    }

private:
    size_t Left() const { return size_t(end_ - p_); }

    bool Copy(size_t n) {
        if (n > Left()) return false;
        if (out_ && !mute_) out_->insert(out_->end(), p_, p_ + n);
        p_ += n;
        return true;
    }
    bool Skip(size_t n) {
        if (n > Left()) return false;
        p_ += n;
        return true;
    }
    bool PeekInt(int32_t* v) const {
        if (Left() < 4) return false;
        *v = int32_t(uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24);
        return true;
    }
    // A count of n items of at least item_size bytes each.
    bool Count(int32_t* n, size_t item_size) {
        if (!PeekInt(n) || *n < 0) return false;
        return size_t(*n) * item_size <= Left() - 4;
    }
    bool PeekSize(uint64_t* v) const {
        if (Left() < 8) return false;
        uint64_t r = 0;
        for (int i = 7; i >= 0; --i) r = r << 8 | p_[i];
        *v = r;
        return true;
    }
    // A string: size_t length (0 for none), then the bytes with a terminator.
    bool String(bool keep) {
        uint64_t n;
        if (!PeekSize(&n) || n > Left() - 8) return false;
        if (n > 0 && p_[8 + n - 1] != 0) return false;
        if (keep) return Copy(8 + size_t(n));
        if (out_) out_->insert(out_->end(), 8, 0);
        return Skip(8 + size_t(n));
    }
    bool Function(int depth) {
        if (depth > kMaxDepth) return false;
        if (!String(out_ == nullptr)) return false;  // source name
        if (!Copy(4 + 4 + 4)) return false;          // line defined, last line, 4 bytes of sizes
        int32_t n;
        if (!Count(&n, 4) || !Copy(4 + size_t(n) * 4)) return false;  // code
        if (n == 0) return false;                                      // a function has at least its return
        if (!Count(&n, 1) || !Copy(4)) return false;                   // constants
        for (int32_t i = 0; i < n; ++i) {
            if (Left() < 1) return false;
            switch (*p_) {
                case 0:  // nil
                    if (!Copy(1)) return false;
                    break;
                case 1:  // boolean
                    if (!Copy(2)) return false;
                    break;
                case 3:  // number
                    if (!Copy(9)) return false;
                    break;
                case 4:  // string
                    if (!Copy(1) || !String(true)) return false;
                    break;
                default:
                    return false;
            }
        }
        if (!Count(&n, 1) || !Copy(4)) return false;  // nested functions
        for (int32_t i = 0; i < n; ++i)
            if (!Function(depth + 1)) return false;
        // Debug information: line table, locals, upvalue names; a stripped
        // copy gets three empty counts instead.
        mute_ = true;
        bool ok = Count(&n, 4) && Copy(4 + size_t(n) * 4);
        if (ok) ok = Count(&n, 8 + 8) && Copy(4);
        for (int32_t i = 0; ok && i < n; ++i) ok = String(true) && Copy(8);
        if (ok) ok = Count(&n, 8) && Copy(4);
        for (int32_t i = 0; ok && i < n; ++i) ok = String(true);
        mute_ = false;
        if (!ok) return false;
        if (out_) out_->insert(out_->end(), 12, 0);
        return true;
    }

    const uint8_t* p_;
    const uint8_t* end_;
    std::vector<uint8_t>* out_;
    bool mute_ = false;
};

}  // namespace

bool CheckLuaChunk(const uint8_t* data, size_t size) {
    if (!data) return false;
    return ChunkWalker(data, size, nullptr).Run();
}

bool StripLuaChunk(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    out.clear();
    if (!data) return false;
    out.reserve(size);
    if (ChunkWalker(data, size, &out).Run()) return true;
    out.clear();
    return false;
}
