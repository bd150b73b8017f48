#pragma once
// Results made of texts the engine holds (names of listed objects, a box's
// text, a layout's line). Every Lua call that allocates can run a step of
// the collector, and a finaliser it runs can call the engine and free the
// objects being listed, or the texts themselves. So the texts are copied
// first and pushed afterwards; the pushes run protected, so that an error
// one of them raises (a finaliser's, or memory) is raised again only once
// the copies are gone.
#include <string>
#include <vector>

#include "base/object_list.h"
#include "script/engine_work.h"
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
        const int depth = EngineWorkDepth();
        status = lua_pcall(L, 1, 1, 0);
        RestoreEngineWorkDepth(depth);
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

// One text, or nil: what read() gives (null for none). read() looks its
// object up itself, as `collect` does.
template <class Read>
int PushText(lua_State* L, Read read) {
    return PushTexts(L, Texts::kSingle, [&read](std::vector<std::string>& out) {
        if (const char* text = read()) out.emplace_back(text);
    });
}

// The names of the objects that first() leads to along their list ("" for
// a nameless one), as PushTexts pushes them in that form. first() is asked
// when the names are copied.
template <class First>
int PushNames(lua_State* L, Texts::Form form, First first) {
    return PushTexts(L, form, [&first](std::vector<std::string>& names) {
        for (auto* o = first(); o; o = ListNext(o)) names.emplace_back(o->name ? o->name : "");
    });
}

}  // namespace script_results
