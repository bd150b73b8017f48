#include "platform/system.h"

#include <SDL.h>
#include <sys/sysinfo.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/window.h"

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point g_start = Clock::now();

// All events share one lock and one condition, so a wait on several events
// needs no bookkeeping per waiter. Contention is tiny: only sound streaming
// threads wait on events.
std::mutex& EventLock() {
    static std::mutex* m = new std::mutex;
    return *m;
}
std::condition_variable& EventSignal() {
    static std::condition_variable* c = new std::condition_variable;
    return *c;
}

}  // namespace

int64_t PerfCounter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - g_start).count();
}

int64_t PerfFrequency() { return 1000000000; }

uint32_t TickCount() {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_start).count());
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Event {
    bool signalled = false;
};

Event* CreateEvent() { return new Event; }

void DestroyEvent(Event* e) { delete e; }

void SetEvent(Event* e) {
    if (!e) return;
    {
        std::lock_guard<std::mutex> lock(EventLock());
        e->signalled = true;
    }
    EventSignal().notify_all();
}

void ResetEvent(Event* e) {
    if (!e) return;
    std::lock_guard<std::mutex> lock(EventLock());
    e->signalled = false;
}

int WaitForEvents(Event* const* events, int count, int timeout_ms) {
    std::unique_lock<std::mutex> lock(EventLock());
    auto first_signalled = [&]() -> int {
        for (int i = 0; i < count; ++i)
            if (events[i] && events[i]->signalled) return i;
        return -1;
    };
    int index = -1;
    auto ready = [&] { return (index = first_signalled()) >= 0; };
    if (timeout_ms < 0) {
        EventSignal().wait(lock, ready);
    } else if (!EventSignal().wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
        return kWaitTimeout;
    }
    events[index]->signalled = false;
    return index;
}

struct Thread {
    std::thread thread;
    std::mutex lock;
    std::condition_variable done_signal;
    bool done = false;
};

Thread* CreateThread(ThreadProc proc, void* arg) {
    Thread* t = new Thread;
    t->thread = std::thread([t, proc, arg] {
        proc(arg);
        std::lock_guard<std::mutex> lock(t->lock);
        t->done = true;
        t->done_signal.notify_all();
    });
    return t;
}

bool WaitThread(Thread* t, int timeout_ms) {
    if (!t) return true;
    std::unique_lock<std::mutex> lock(t->lock);
    if (timeout_ms < 0) {
        t->done_signal.wait(lock, [t] { return t->done; });
        return true;
    }
    return t->done_signal.wait_for(lock, std::chrono::milliseconds(timeout_ms), [t] { return t->done; });
}

void CloseThread(Thread* t) {
    if (!t) return;
    bool done;
    {
        std::lock_guard<std::mutex> lock(t->lock);
        done = t->done;
    }
    if (done) {
        t->thread.join();
        delete t;
    } else {
        // Still running: it keeps its record; leaking it is safer than
        // freeing memory the thread still writes to.
        t->thread.detach();
    }
}

MemoryStatus GetMemoryStatus() {
    MemoryStatus s;
    struct sysinfo info {};
    if (sysinfo(&info) == 0) {
        s.total_physical = static_cast<uint64_t>(info.totalram) * info.mem_unit;
        s.available_physical = (static_cast<uint64_t>(info.freeram) + info.bufferram) * info.mem_unit;
        if (s.total_physical)
            s.memory_load = static_cast<uint32_t>(100 - s.available_physical * 100 / s.total_physical);
    }
    return s;
}

void DebugOutput(const char* text) {
    // A game that found no display has said so in its one line and is
    // ending: what it traces meanwhile would only bury that line.
    if (!text || NoDisplay()) return;
    std::fputs(text, stderr);
}

void MessageBox(const char* title, const char* text) {
    title = title ? title : "";
    text = text ? text : "";
    const char* driver = SDL_GetCurrentVideoDriver();
    bool has_display = driver && SDL_strcmp(driver, "offscreen") != 0 && SDL_strcmp(driver, "dummy") != 0;
    if (!has_display || SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, title, text, nullptr) != 0)
        std::fprintf(stderr, "[%s] %s\n", title, text);
}

bool SetClipboardText(const char* text) {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return false;
    return SDL_SetClipboardText(text ? text : "") == 0;
}

std::string GetClipboardText() {
    if (!SDL_WasInit(SDL_INIT_VIDEO) || !SDL_HasClipboardText()) return {};
    char* t = SDL_GetClipboardText();
    std::string s = t ? t : "";
    SDL_free(t);
    return s;
}

namespace {
std::string FormatNow(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    char buf[64];
    size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}
}  // namespace

std::string DateText() { return FormatNow("%m/%d/%y"); }
std::string TimeText() { return FormatNow("%H:%M:%S"); }

}  // namespace plat
