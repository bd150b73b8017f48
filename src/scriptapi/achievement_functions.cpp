// Script functions of the store's achievements and game language:
// achieve_init, achieve_set, achieve_get, achieve_clear, achieve_resetall,
// ge_getgamelang.
#include <string>

extern "C" {
#include <lua.h>
}

#include "base/log.h"
#include "base/string_pool.h"
#include "platform/store.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"
#include "scriptapi/script_results.h"
#include "scriptapi/store_achievements.h"

namespace {

// achieve_init(base name, count): a new current set of achievements.
int Init(lua_State* L) {
    MakeAchievements(script_args::Text(L, 1), script_args::Int(L, 2));
    return 0;
}

// The name argument when the store's file can keep it; otherwise null, and
// one log line says why (the name shown without its control characters).
const char* FittingName(lua_State* L, const char* refused) {
    const char* name = script_args::Text(L, 1);
    if (!name) return nullptr;
    const size_t size = lua_objlen(L, 1);
    if (plat::store::AchievementNameFits(name, size)) return name;
    std::string shown(name, size < 128 ? size : 128);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    LogPrintf("[WARNING] - ACHIEVEMENT %s is not %s: a name is 1 to 127 characters on one line, without NUL "
              "(this one has %zu)",
              shown.c_str(), refused, size);
    return nullptr;
}

// achieve_set(name): unlocks and stores it once the statistics are there.
// Before that (in the frame of achieve_init) the call is dropped, and the
// log says so.
int Set(lua_State* L) {
    StoreAchievements* set = CurrentAchievements();
    const char* name = FittingName(L, "set");
    if (!name) return 0;
    if (!set)
        LogPrintf("[WARNING] - ACHIEVEMENT %.128s is not set: there is no achieve_init before it", name);
    else if (!set->StatsReceived())
        LogPrintf("[WARNING] - ACHIEVEMENT %.128s is not set: the stored achievements arrive after the frame of "
                  "achieve_init",
                  name);
    else
        set->SetAchievement(name);
    return 0;
}

// achieve_get(index): the display name and description; nil and nil for an
// index outside the set or before achieve_init.
int Get(lua_State* L) {
    StoreAchievements* set = CurrentAchievements();
    const StoreAchievements::Record* r = set ? set->At(script_args::Int(L, 1)) : nullptr;
    if (!r) {
        lua_pushnil(L);
        lua_pushnil(L);
        return 2;
    }
    // Copied first: a finaliser run by the first push may read the set anew.
    return script_results::PushTextsAsFound(L, script_results::Texts::kEach, [r](std::vector<std::string>& out) {
        out = {r->display_name, r->description};
    });
}

int Clear(lua_State* L) {
    if (const char* name = FittingName(L, "cleared")) LogFailedStoreWrite(plat::store::ClearAchievement(name));
    return 0;
}

int ResetAll(lua_State*) {
    LogFailedStoreWrite(plat::store::ResetAllStats(true));
    return 0;
}

// ge_getgamelang(): the store's language, lower-cased and interned.
int GetGameLanguage(lua_State* L) {
    const char* interned;
    {
        const char* language = plat::store::GetCurrentGameLanguage();
        std::string lower = language ? language : "";
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        interned = CommonStrings().InternBytes(lower.data(), lower.size());
    }
    lua_pushstring(L, interned);  // (the copy is gone should the push raise)
    return 1;
}

ScriptFunctionRecord s_achieve_init("achieve_init", Init);
ScriptFunctionRecord s_achieve_resetall("achieve_resetall", ResetAll);
ScriptFunctionRecord s_achieve_set("achieve_set", Set);
ScriptFunctionRecord s_achieve_get("achieve_get", Get);
ScriptFunctionRecord s_achieve_clear("achieve_clear", Clear);
ScriptFunctionRecord s_ge_getgamelang("ge_getgamelang", GetGameLanguage);

}  // namespace
