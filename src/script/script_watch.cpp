#include "script/script_watch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>

#include "base/log.h"

namespace {

// Instructions between two hook calls; every 16th call reads the clock.
constexpr int kHookInstructions = 1000;
constexpr unsigned kClockEvery = 16;
constexpr int64_t kPollAfterNs = 1'000'000'000;
constexpr int64_t kPollEveryNs = 250'000'000;

std::atomic<int> g_requests{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
int g_taken = 0;
ScriptCallWatch* g_innermost = nullptr;
int64_t g_long_call_ns = 3'000'000'000;
ClosePoll g_close_poll = nullptr;
int64_t g_last_poll_ns = 0;
unsigned g_hook_calls = 0;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The call's name for the log: a long text is cut, line breaks become
// spaces so the log line stays one line.
std::string Name(const ScriptCallWatch& w) {
    constexpr size_t kShown = 64;
    std::string name(w.text ? w.text : "", w.text ? std::min(w.length, kShown) : 0);
    if (w.length > kShown) name += "...";
    name += w.suffix ? w.suffix : "";
    for (char& c : name)
        if (c == '\n' || c == '\r') c = ' ';
    return name;
}

void Hook(lua_State* L, lua_Debug*) {
    if (g_requests.load(std::memory_order_relaxed) != g_taken) {
        lua_pushstring(L, "script stopped: the game is closing");
        lua_error(L);
    }
    if (++g_hook_calls % kClockEvery != 0 || !g_innermost) return;
    ScriptCallWatch* w = g_innermost;
    const int64_t now = NowNs();
    if (w->seen_ns == 0) {
        w->seen_ns = now;
        return;
    }
    const int64_t ran = now - w->seen_ns;
    if (!w->warned && ran > g_long_call_ns) {
        w->warned = true;
        LogPrintf("[WARNING] : script %s has been running for %lld ms", Name(*w).c_str(),
                  static_cast<long long>(ran / 1'000'000));
    }
    if (g_close_poll && ran > kPollAfterNs && now - g_last_poll_ns > kPollEveryNs) {
        g_last_poll_ns = now;
        if (g_close_poll()) RequestTermination();
    }
}

}  // namespace

void RequestTermination() { g_requests.fetch_add(1, std::memory_order_relaxed); }

int TerminationRequests() { return g_requests.load(std::memory_order_relaxed); }

bool TakeTerminationRequest() {
    const int now = g_requests.load(std::memory_order_relaxed);
    if (now == g_taken) return false;
    g_taken = now;
    return true;
}

void InstallScriptWatch(lua_State* L) {
    if (L) lua_sethook(L, Hook, LUA_MASKCOUNT, kHookInstructions);
}

ScriptCallWatch::ScriptCallWatch(const char* text_, size_t length_, const char* suffix_)
    : text(text_), length(length_), suffix(suffix_), outer(g_innermost) {
    g_innermost = this;
}

ScriptCallWatch::~ScriptCallWatch() { g_innermost = outer; }

void SetLongScriptCallMs(int milliseconds) { g_long_call_ns = static_cast<int64_t>(milliseconds) * 1'000'000; }

void SetScriptClosePoll(ClosePoll poll) { g_close_poll = poll; }
