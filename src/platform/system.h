#pragma once
// Odds and ends of the operating system that the engine calls: the clock,
// sleeping, auto-reset events, threads, memory figures, debugger output,
// message boxes, the clipboard and date/time text.
#include <cstdint>
#include <string>

namespace plat {

// Monotonic high-resolution counter, counted from process start.
int64_t PerfCounter();
int64_t PerfFrequency();  // counts per second
uint32_t TickCount();     // milliseconds since process start
void SleepMs(uint32_t ms);

// Auto-reset event: Set releases one waiter (or the next wait) and clears.
struct Event;
Event* CreateEvent();
void DestroyEvent(Event* e);
void SetEvent(Event* e);
void ResetEvent(Event* e);

constexpr int kWaitTimeout = -1;
// Waits until one of the events is signalled; returns the lowest signalled
// index (and resets that event), or kWaitTimeout after timeout_ms.
// timeout_ms < 0 waits forever.
int WaitForEvents(Event* const* events, int count, int timeout_ms);

struct Thread;
using ThreadProc = unsigned (*)(void* arg);
Thread* CreateThread(ThreadProc proc, void* arg);
// Waits up to timeout_ms (negative: forever); true when the thread ended.
// The thread object stays valid until CloseThread.
bool WaitThread(Thread* t, int timeout_ms);
// Releases the thread object. A thread still running is detached.
void CloseThread(Thread* t);

struct MemoryStatus {
    uint64_t total_physical = 0;
    uint64_t available_physical = 0;
    uint32_t memory_load = 0;  // percent in use
};
MemoryStatus GetMemoryStatus();

// Text for a debugger: goes to stderr.
void DebugOutput(const char* text);

// A modal message box. With no display it goes to stderr and never blocks.
void MessageBox(const char* title, const char* text);

bool SetClipboardText(const char* text);
std::string GetClipboardText();

// Date and time of now in the C locale: "12/07/26" and "07:38:14".
std::string DateText();
std::string TimeText();

}  // namespace plat
