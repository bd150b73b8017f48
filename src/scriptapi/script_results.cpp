#include "scriptapi/script_results.h"

#include <cstdint>
#include <cstdlib>

extern "C" {
#include <lauxlib.h>
}

#include "script/script_watch.h"

namespace script_results {

// Each text is stored as its length (a size_t, copied unaligned) and its
// bytes.
void TextCopies::AddGrowing(const char* bytes, size_t length) {
    if (refused_) return;
    if (length > (SIZE_MAX >> 2) - capacity_) {
        refused_ = true;
        return;
    }
    const size_t need = sizeof length + length;
    if (need > capacity_ - size_) {
        size_t capacity = capacity_ * 2;
        while (capacity - size_ < need) capacity *= 2;
        char* grown = static_cast<char*>(data_ == inline_ ? std::malloc(capacity) : std::realloc(data_, capacity));
        if (!grown) {
            refused_ = true;
            return;
        }
        if (data_ == inline_) std::memcpy(grown, inline_, size_);
        data_ = grown;
        capacity_ = capacity;
    }
    std::memcpy(data_ + size_, &length, sizeof length);
    if (length > 0) std::memcpy(data_ + size_ + sizeof length, bytes, length);
    size_ += need;
    ++count_;
}

int TextCopies::PushAll(lua_State* L) const {
    if (form_ == Texts::kEach && !lua_checkstack(L, count_)) luaL_error(L, "too many results");
    if (count_ == 0 && form_ != Texts::kArray) {
        if (form_ == Texts::kEach) return 0;
        lua_pushnil(L);
        return 1;
    }
    const bool array = form_ == Texts::kArray || form_ == Texts::kArrayOrNil;
    if (array) lua_createtable(L, count_, 0);
    const int wanted = form_ == Texts::kSingle ? 1 : count_;
    size_t at = 0;
    for (int i = 1; i <= wanted; ++i) {
        size_t length;
        std::memcpy(&length, data_ + at, sizeof length);
        lua_pushlstring(L, data_ + at + sizeof length, length);
        if (array) lua_rawseti(L, -2, i);
        at += sizeof length + length;
    }
    return array ? 1 : wanted;
}

int TextCopies::PushIn(lua_State* L, void* copies) { return static_cast<const TextCopies*>(copies)->PushAll(L); }

int TextCopies::Push(lua_State* L, Texts::Form form) {
    form_ = form;
    if (data_ == inline_) return refused_ ? luaL_error(L, "not enough memory") : PushAll(L);
    const int pushed = refused_ ? -1 : ScriptPushProtected(L, PushIn, this, nullptr);
    std::free(data_);
    data_ = inline_;
    size_ = 0;
    capacity_ = kInline;
    count_ = 0;
    if (refused_) return luaL_error(L, "not enough memory");
    return pushed >= 0 ? pushed : detail::RaiseAgain(L);
}

}  // namespace script_results

namespace script_results {

namespace {
struct Bytes {
    const char* data;
    size_t length;
};
int PushBytes(lua_State* L, void* bytes) {
    const Bytes* b = static_cast<const Bytes*>(bytes);
    lua_pushlstring(L, b->data, b->length);
    return 1;
}
}  // namespace

int PushBytesProtected(lua_State* L, const char* bytes, size_t length) {
    Bytes b{bytes, length};
    return ScriptPushProtected(L, PushBytes, &b, nullptr);
}

}  // namespace script_results

namespace script_results::detail {

int PushHeapCopy(lua_State* L, const char* bytes, size_t length) {
    char* copy = static_cast<char*>(std::malloc(length));
    if (!copy) return luaL_error(L, "not enough memory");
    std::memcpy(copy, bytes, length);
    const int pushed = PushBytesProtected(L, copy, length);
    std::free(copy);
    return pushed >= 0 ? pushed : RaiseAgain(L);
}

int PushTexts(lua_State* L) { return PushTextsIn(L, lua_touserdata(L, 1)); }

int PushTextsIn(lua_State* L, void* context) {
    const auto* texts = static_cast<const Texts*>(context);
    const std::vector<std::string>& items = texts->items;
    if (texts->form == Texts::kEach) {
        for (const std::string& text : items) lua_pushlstring(L, text.data(), text.size());
        return static_cast<int>(items.size());
    }
    if (items.empty() && texts->form != Texts::kArray) {
        lua_pushnil(L);
    } else if (texts->form == Texts::kSingle) {
        lua_pushlstring(L, items.front().data(), items.front().size());
    } else {
        lua_createtable(L, static_cast<int>(items.size()), 0);
        int i = 0;
        for (const std::string& text : items) {
            lua_pushlstring(L, text.data(), text.size());
            lua_rawseti(L, -2, ++i);
        }
    }
    return 1;
}

int RaiseAgain(lua_State* L) {
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    return lua_error(L);
}

}  // namespace script_results::detail
