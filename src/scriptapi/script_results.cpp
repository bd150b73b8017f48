#include "scriptapi/script_results.h"

#include "script/script_watch.h"

namespace script_results::detail {

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
