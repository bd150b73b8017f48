// Service functions of the engine: memory figures and the resource budget,
// timers, the local date and time, the clipboard, the scripts' random
// numbers, the build mode, mounting packages and reloading the resources
// of the current scene.
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

extern "C" {
#include <lua.h>
}

#include "app/app_window.h"
#include "app/engine.h"
#include "base/memory.h"
#include "base/package.h"
#include "base/string_pool.h"
#include "base/text.h"
#include "media/text/game_text.h"
#include "media/resource_manager.h"
#include "media/sound/sound.h"
#include "media/sound/stream_channel.h"
#include "platform/system.h"
#include "render/rand48.h"
#include "scene/game_scene.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "scriptapi/script_args.h"
#include "scriptapi/script_globals.h"
#include "scriptapi/script_results.h"

namespace {

// The scripts' random numbers (ge_rand, ge_rand_seed).
Rand48& ScriptRandom() { return ScriptRand(); }

// -------------------------------------------------------------- memory

void PushMemoryLine(lua_State* L, int index, const char* label, uint64_t bytes, int shift, const char* unit) {
    char text[128];
    std::snprintf(text, sizeof text, "%s: %" PRIu64 " %s - %" PRIu64, label, bytes >> shift, unit, bytes);
    lua_pushstring(L, text);
    lua_rawseti(L, -2, index);
}

// ge_getmemstats(): five texts of 64-bit byte counts.
int GetMemStats(lua_State* L) {
    const uint64_t lua_bytes = uint64_t(lua_gc(L, LUA_GCCOUNT, 0)) * 1024 + uint64_t(lua_gc(L, LUA_GCCOUNTB, 0));
    lua_createtable(L, 5, 0);
    PushMemoryLine(L, 1, "Managed Object Memory", ManagedObjectArena().UsedBytes(), 10, "KB");
    PushMemoryLine(L, 2, "String Memory        ", GameTextStrings().UsedBytes() + CommonStrings().UsedBytes(), 10, "KB");
    PushMemoryLine(L, 3, "Resource Memory      ", Resources().TotalBytes(), 20, "MB");
    PushMemoryLine(L, 4, "Lua Allocated Memory ", lua_bytes, 10, "KB");
    PushMemoryLine(L, 5, "new Allocated Memory ", MemTotalAllocated(), 20, "MB");
    return 1;
}

// ge_settotalmemory(mib): at least 256 MiB; large figures saturate rather
// than wrap.
int SetTotalMemory(lua_State* L) {
    const double mib = lua_tonumber(L, 1);
    const double bounded = mib >= 256.0 ? (mib < 9.0e15 ? mib : 9.0e15) : 256.0;  // NaN takes 256 too
    SetResourceBudgetMiB(static_cast<int64_t>(bounded));
    return 0;
}

// ------------------------------------------------------------ timers

int GetCounter(lua_State* L) {
    Engine* e = CurrentEngine();
    const int64_t ms = e && e->window ? e->window->GetTimeMs() : 0;
    lua_pushnumber(L, double(uint32_t(ms)));
    return 1;
}

int GetFrameRenderTime(lua_State* L) {
    Engine* e = CurrentEngine();
    lua_pushnumber(L, e && e->window ? e->window->GetRawFrameTime() : 0.0);
    return 1;
}

// ------------------------------------------------------- date and time

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

bool LocalNow(std::tm* out) {
    const std::time_t now = std::time(nullptr);
    return localtime_r(&now, out) != nullptr;
}

// ge_getdate(): "MMM dd yy ddd", as "Dec 07 26 Mon"; "" when the clock
// cannot be read.
int GetDate(lua_State* L) {
    std::tm t{};
    char text[64] = "";
    if (LocalNow(&t) && t.tm_mon >= 0 && t.tm_mon < 12 && t.tm_wday >= 0 && t.tm_wday < 7)
        std::snprintf(text, sizeof text, "%s %02d %02d %s", kMonths[t.tm_mon], t.tm_mday, (t.tm_year + 1900) % 100,
                      kDays[t.tm_wday]);
    lua_pushstring(L, text);
    return 1;
}

// ge_gettime(): "HH:mm:ss" on the 24-hour clock.
int GetTime(lua_State* L) {
    std::tm t{};
    char text[32] = "";
    if (LocalNow(&t)) std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    lua_pushstring(L, text);
    return 1;
}

// ----------------------------------------------------------- clipboard

int GetClipboard(lua_State* L) {
    return script_results::PushTextsAsFound(L, script_results::Texts::kSingle, [](std::vector<std::string>& out) {
        std::string text = plat::GetClipboardText();
        if (!text.empty()) out.push_back(std::move(text));
    });
}

int SetClipboard(lua_State* L) {
    if (const char* text = script_args::Text(L, 1)) plat::SetClipboardText(text);
    return 0;
}

// -------------------------------------------------------------- random

int Rand(lua_State* L) {
    lua_pushnumber(L, ScriptRandom().NextFloat());
    return 1;
}

// ge_rand_seed(seed): the last argument read as a colour is (hexadecimal
// text; a number through its decimal text); missing or empty: rand().
int RandSeed(lua_State* L) {
    const int last = lua_gettop(L);
    size_t length = 0;
    if (last > 0 && lua_isstring(L, last)) lua_tolstring(L, last, &length);
    const uint32_t low = length > 0 ? ScriptArgColor(L, last, 0) : uint32_t(std::rand());
    ScriptRandom().SetSeed(low, 0);
    return 0;
}

// ---------------------------------------------- build mode and packages

int GetBuild(lua_State* L) {
    lua_pushstring(L, BuildMode());
    return 1;
}

// ge_setbuild(text): texts longer than the buffer's 31 characters are cut.
int SetBuild(lua_State* L) {
    if (const char* text = script_args::Text(L, 1)) SetBuildMode(text);
    return 0;
}

int AddPackage(lua_State* L) {
    if (const char* path = script_args::Text(L, 1)) MountPackage(CommonStrings().Intern(path));
    return 0;
}

// ------------------------------------------------------------ resources

// The name a channel's sound is declared by: the name of the record whose
// sound it is, else its file path less the ".ogg" that declaring adds.
std::string ChannelSoundName(const Sound* sound, const std::string& path) {
    for (const ResourceRecord* r = Resources().First(); r && sound; r = r->next)
        if (r->type == kResourceSound && r->object == sound && r->name) return r->name;
    const size_t n = path.size();
    if (n >= 4 && path[n - 4] == '.' && std::tolower(static_cast<unsigned char>(path[n - 3])) == 'o' &&
        std::tolower(static_cast<unsigned char>(path[n - 2])) == 'g' &&
        std::tolower(static_cast<unsigned char>(path[n - 1])) == 'g')
        return path.substr(0, n - 4);
    return path;
}

// reloadAllResources(): unloads every image, video and mesh, loads the
// current scene's again, and starts the music of stream channel 1 afresh.
int ReloadAllResources(lua_State*) {
    Engine* e = CurrentEngine();
    if (!e || !e->currentScene) return 0;
    Resources().UnloadByType(kResourceImage | kResourceVideo | kResourceMesh);
    e->currentScene->LoadResources();
    std::string path;
    const Sound* playing = nullptr;
    {
        StreamChannel& channel = g_stream_channels[0];
        std::lock_guard<std::mutex> hold(channel.lock);
        path.swap(channel.current.path);
        playing = channel.current.sound;  // compared, never followed
    }
    if (path.empty()) return 0;
    ResourceRecord* record = Resources().DeclareSound(ChannelSoundName(playing, path).c_str(), 0);
    if (Sound* sound = record ? Resources().GetSound(record) : nullptr) sound->Play(false, 0);
    return 0;
}

ScriptFunctionRecord s_ge_getbuild("ge_getbuild", GetBuild);
ScriptFunctionRecord s_ge_setbuild("ge_setbuild", SetBuild);
ScriptFunctionRecord s_ge_addpackage("ge_addpackage", AddPackage);
ScriptFunctionRecord s_reloadAllResources("reloadAllResources", ReloadAllResources);
ScriptFunctionRecord s_ge_settotalmemory("ge_settotalmemory", SetTotalMemory);
ScriptFunctionRecord s_ge_getmemstats("ge_getmemstats", GetMemStats);
ScriptFunctionRecord s_ge_getcounter("ge_getcounter", GetCounter);
ScriptFunctionRecord s_ge_getdate("ge_getdate", GetDate);
ScriptFunctionRecord s_ge_gettime("ge_gettime", GetTime);
ScriptFunctionRecord s_ge_getframerendertime("ge_getframerendertime", GetFrameRenderTime);
ScriptFunctionRecord s_ge_getclipboard("ge_getclipboard", GetClipboard);
ScriptFunctionRecord s_ge_setclipboard("ge_setclipboard", SetClipboard);
ScriptFunctionRecord s_ge_rand("ge_rand", Rand);
ScriptFunctionRecord s_ge_rand_seed("ge_rand_seed", RandSeed);

}  // namespace
