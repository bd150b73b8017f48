#pragma once
// Results made of texts the engine holds (names of listed objects, a box's
// text, a layout's line). Every Lua call that allocates can run a step of
// the collector, and a finaliser it runs can call the engine and free the
// objects being listed, or the texts themselves. So the texts are copied
// first and pushed afterwards, and an error a push raises (a finaliser's,
// or memory) must leave no copy behind: Lua's errors jump past C++
// destructors.
#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "base/object_list.h"
#include "script/lua_host.h"

extern "C" {
#include <lua.h>
}

namespace script_results {

struct Texts {
    std::vector<std::string> items;
    // kEach: every text a result of its own (PushTextsAsFound only).
    enum Form { kArray, kArrayOrNil, kSingle, kEach } form = kArray;
};

namespace detail {
int PushTexts(lua_State* L);  // (Texts*) -> the array, nil or the text
int PushTextsIn(lua_State* L, void* texts);  // the same, as a ScriptPushFunction
int RaiseAgain(lua_State* L);  // the error on top of the stack; no C++ object may be alive in the caller
}  // namespace detail

// Texts copied one after another into a buffer in the caller's own frame,
// taken to the heap only past kInline bytes; nothing is allocated through
// Lua. It has no destructor, so it may stand in a frame that an error
// jumps out of: Push releases what it took and must end every use. Pushed
// from the frame's buffer, the texts go straight to Lua (an error leaves
// nothing behind); from the heap, in one protected push, the heap freed
// before an error is raised again.
class TextCopies {
public:
    static constexpr size_t kInline = 2048;

    TextCopies() = default;
    TextCopies(const TextCopies&) = delete;
    TextCopies& operator=(const TextCopies&) = delete;

    void Add(const char* bytes, size_t length) {
        if (length <= capacity_ - size_ && capacity_ - size_ - length >= sizeof length) {
            std::memcpy(data_ + size_, &length, sizeof length);
            if (length > 0) std::memcpy(data_ + size_ + sizeof length, bytes, length);
            size_ += sizeof length + length;
            ++count_;
        } else {
            AddGrowing(bytes, length);
        }
    }
    void Add(const char* text) { Add(text, std::strlen(text)); }
    int Count() const { return count_; }

    // kArray: an array (from 1) of the texts; kArrayOrNil: nil for none;
    // kSingle: the first text, nil for none; kEach: every text a result of
    // its own. Returns the number of results.
    int Push(lua_State* L, Texts::Form form);

private:
    void AddGrowing(const char* bytes, size_t length);
    static int PushIn(lua_State* L, void* copies);
    int PushAll(lua_State* L) const;

    char* data_ = inline_;
    size_t size_ = 0;
    size_t capacity_ = kInline;
    int count_ = 0;
    bool refused_ = false;  // the heap refused a text: Push raises a memory error
    Texts::Form form_ = Texts::kArray;
    char inline_[kInline];
};
static_assert(std::is_trivially_destructible_v<TextCopies>, "errors jump past its frame");

// Pushes what `collect` copies into the texts it is given: an array (from
// 1) of them, nil for none with kArrayOrNil, or with kSingle the first text
// (nil for none). `collect` must look the objects up itself: the one
// allocation that comes before it may already have freed them. One result.
template <class Collect>
int PushTexts(lua_State* L, Texts::Form form, Collect collect) {
    lua_pushcfunction(L, detail::PushTexts);  // before the copies: it may run finalisers, or raise
    int status;
    {
        Texts texts;
        texts.form = form;
        collect(texts.items);
        lua_pushlightuserdata(L, &texts);
        status = lua_pcall(L, 1, 1, 0);
    }
    return status == 0 ? 1 : detail::RaiseAgain(L);
}

// As PushTexts, but nothing is allocated before `collect` runs: the texts
// are the ones the call found, as its other results are when it read them
// on entry.
template <class Collect>
int PushTextsAsFound(lua_State* L, Texts::Form form, Collect collect) {
    int pushed;
    {
        Texts texts;
        texts.form = form;
        collect(texts.items);
        pushed = ScriptPushProtected(L, detail::PushTextsIn, &texts, nullptr);
    }
    return pushed >= 0 ? pushed : detail::RaiseAgain(L);
}

namespace detail {
int PushHeapCopy(lua_State* L, const char* bytes, size_t length);
}  // namespace detail

// Pushes the bytes in one protected push, as ScriptPushProtected with no
// name: 1, or -1 with the error left on top (for RaiseAgain, once nothing
// the caller holds needs its destructor). The bytes must stay where they
// are whatever a finaliser does meanwhile.
int PushBytesProtected(lua_State* L, const char* bytes, size_t length);

// One text the engine holds, pushed from a copy made before Lua is called:
// in this frame up to TextCopies::kInline bytes, beyond that on the heap
// and pushed protected (as TextCopies does). One result. The frame calling
// this must hold no object with a destructor.
inline int PushTextCopy(lua_State* L, const char* bytes, size_t length) {
    if (length > TextCopies::kInline) return detail::PushHeapCopy(L, bytes, length);
    char copy[TextCopies::kInline];
    if (length > 0) std::memcpy(copy, bytes, length);
    lua_pushlstring(L, copy, length);
    return 1;
}

// One text, or nil: what read() gives (null for none), as the call found
// it. The frame calling this must hold no object with a destructor.
template <class Read>
int PushText(lua_State* L, Read read) {
    const char* text = read();
    if (!text) {
        lua_pushnil(L);
        return 1;
    }
    return PushTextCopy(L, text, std::strlen(text));
}

// The names of the objects from first along their list ("" for a nameless
// one), as the call found them, pushed in that form. The frame calling
// this must hold no object with a destructor.
template <class T>
int PushNames(lua_State* L, Texts::Form form, T* first) {
    TextCopies copies;
    for (T* o = first; o; o = ListNext(o)) copies.Add(o->name ? o->name : "");
    return copies.Push(L, form);
}

}  // namespace script_results
