#include "script/engine_work.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "script/lua_host.h"
#include "script/script_watch.h"

namespace {

int g_works = 0;  // EngineWork objects alive: exact, errors never cross them
bool g_running_releases = false;

// A script function that was entered and has not returned normally: over,
// or still in progress (an error jumped past its return).
struct Entry {
    uintptr_t frame;     // the dispatcher's C frame
    lua_State* thread;   // compared only: it may have been collected since
    int call;            // the index of its call in that thread
};

// The entries, the latest on top. Lua nests C calls at most some hundreds
// deep per thread, and entries that are over go at the next check: the
// stack grows rarely, and never shrinks.
constexpr size_t kInitialEntries = 512;
Entry g_initial_entries[kInitialEntries];
Entry* g_entries = g_initial_entries;
size_t g_entry_count = 0;
size_t g_entry_capacity = kInitialEntries;

struct WaitingRelease {
    void (*release)(void*);
    void* object;
};

// Never destroyed: objects may be released during static destruction.
std::vector<WaitingRelease>* const g_waiting = new std::vector<WaitingRelease>;
bool g_any_waiting = false;

std::vector<WaitingRelease>& Waiting() { return *g_waiting; }

uintptr_t FrameOf(void* address) { return reinterpret_cast<uintptr_t>(address); }

// Whether the call of that index in a live thread (its innermost call has
// index top) is a C function with one upvalue, as the dispatcher is. Reads
// the thread's call records only: nothing is pushed or allocated. Levels
// count the tail calls Lua lost (index 0), so the walk starts at the
// nearest level the call can have.
bool DispatcherLikeCall(lua_State* L, int top, int call) {
    lua_Debug ar;
    for (int level = top - call; lua_getstack(L, level, &ar); ++level) {
        if (ar.i_ci == 0) continue;
        if (ar.i_ci < call) return false;
        if (ar.i_ci == call)
            return lua_getinfo(L, "Su", &ar) && ar.what && ar.what[0] == 'C' && ar.nups == 1;
    }
    return false;
}

// Drops every entry known to be over and returns the number left: the
// script functions in progress, or a few more (the entries of coroutines
// are never read through: their thread may be gone). Called below every
// script function in progress, so an entry at or below this frame is over.
size_t ScriptFunctionsInProgress() {
    const uintptr_t here = FrameOf(__builtin_frame_address(0));
    lua_State* main = ScriptState();
    int main_top = -1;  // the index of the main thread's innermost call
    lua_Debug ar;
    if (main && lua_getstack(main, 0, &ar)) main_top = ar.i_ci;
    // From the latest entry down: one in progress was in progress when
    // every later one was entered, so those (the kept ones are compared)
    // lie below its frame and, on its thread, above its call.
    size_t kept = g_entry_count;
    for (size_t i = g_entry_count; i-- > 0;) {
        const Entry e = g_entries[i];
        bool live = e.frame > here;
        for (size_t j = kept; live && j < g_entry_count; ++j) {
            const Entry& later = g_entries[j];
            live = later.frame < e.frame && (later.thread != e.thread || later.call > e.call);
        }
        if (live && e.thread == main) live = e.call <= main_top && DispatcherLikeCall(main, main_top, e.call);
        if (live) g_entries[--kept] = e;
    }
    // The kept entries are at the top end: move them down, in order.
    const size_t count = g_entry_count - kept;
    for (size_t i = 0; i < count; ++i) g_entries[i] = g_entries[kept + i];
    g_entry_count = count;
    return count;
}

size_t Depth() { return size_t(g_works) + (g_entry_count > 0 ? ScriptFunctionsInProgress() : 0); }

void RunWaiting() {
    if (g_running_releases) return;
    g_running_releases = true;
    // A release may ask for more; those join the list, which is read by
    // index as it grows, and run in this pass after the ones before them.
    std::vector<WaitingRelease>& waiting = Waiting();
    for (size_t i = 0; i < waiting.size(); ++i) {
        const WaitingRelease r = waiting[i];
        r.release(r.object);
    }
    waiting.clear();
    g_any_waiting = false;
    g_running_releases = false;
}

void RunWaitingIfNoWork() {
    if (g_works == 0 && ScriptFunctionsInProgress() == 0) RunWaiting();
}

[[gnu::noinline]] void GrowEntries() {
    ScriptFunctionsInProgress();
    if (g_entry_count < g_entry_capacity) return;
    const size_t capacity = g_entry_capacity * 2;
    auto* grown = static_cast<Entry*>(std::malloc(capacity * sizeof(Entry)));
    if (!grown) std::abort();  // a script function could not be counted
    for (size_t i = 0; i < g_entry_count; ++i) grown[i] = g_entries[i];
    if (g_entries != g_initial_entries) std::free(g_entries);
    g_entries = grown;
    g_entry_capacity = capacity;
}

}  // namespace

int EngineWorkDepth() { return static_cast<int>(Depth()); }

EngineWork::EngineWork() : frame_(FrameOf(__builtin_frame_address(0))) { ++g_works; }

EngineWork::~EngineWork() {
    // Whatever it called is over; what it was called from lies above it.
    size_t kept = 0;
    for (size_t i = 0; i < g_entry_count; ++i)
        if (g_entries[i].frame >= frame_) g_entries[kept++] = g_entries[i];
    g_entry_count = kept;
    if (g_works > 0) --g_works;
    if (g_any_waiting) RunWaitingIfNoWork();
}

bool ReleaseMustWait() {
    if (g_running_releases) return true;
    if (size_t(g_works) + g_entry_count <= 1) return false;
    return Depth() > 1;
}

void ReleaseWhenFree(void (*release)(void*), void* object) {
    if (!release) return;
    if (!ReleaseMustWait()) {
        release(object);
        return;
    }
    Waiting().push_back({release, object});
    g_any_waiting = true;
}

void RunWaitingReleases() {
    g_entry_count = 0;
    if (g_any_waiting) RunWaiting();
}

size_t WaitingReleases() { return Waiting().size(); }

int DispatchScriptFunction(lua_State* L) {
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    auto fn = reinterpret_cast<lua_CFunction>(lua_touserdata(L, lua_upvalueindex(1)));
    const uintptr_t frame = FrameOf(__builtin_frame_address(0));
    lua_Debug ar;
    lua_getstack(L, 0, &ar);  // this call: always there
    // Entries on top that this call shows to be over go first.
    size_t n = g_entry_count;
    while (n > 0 && (g_entries[n - 1].frame <= frame || (g_entries[n - 1].thread == L && g_entries[n - 1].call >= ar.i_ci)))
        --n;
    g_entry_count = n;
    if (n == g_entry_capacity) GrowEntries();
    g_entries[g_entry_count++] = Entry{frame, L, ar.i_ci};
    const int results = fn(L);
    // This entry and any above it (calls it made that ended in errors).
    n = g_entry_count;
    while (n > 0 && g_entries[n - 1].frame <= frame) --n;
    g_entry_count = n;
    if (g_any_waiting) RunWaitingIfNoWork();
    // A request that came while the function ran stops its caller here,
    // where no C++ object of the function is alive: a function that found
    // its Lua reads cut short (they run nothing while the stop is pending)
    // did nothing with them, and its caller goes no further.
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    return results;
}

lua_CFunction WrappedScriptFunction(lua_State* L, int index) {
    if (lua_tocfunction(L, index) != DispatchScriptFunction || !lua_getupvalue(L, index, 1)) return nullptr;
    auto fn = reinterpret_cast<lua_CFunction>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return fn;
}

void PushScriptFunction(lua_State* L, lua_CFunction fn) {
    lua_pushlightuserdata(L, reinterpret_cast<void*>(fn));
    lua_pushcclosure(L, DispatchScriptFunction, 1);
}
