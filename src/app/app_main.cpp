#include "app/app_main.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "app/engine.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "platform/guard.h"
#include "platform/store.h"
#include "platform/system.h"
#include "platform/window.h"
#include "script/script_watch.h"

namespace {

plat::ExceptionRecord g_exception;
const char* g_exception_message = nullptr;

// How long a shut-down after a fault may take before it is cut off.
constexpr unsigned kShutdownWatchdogSeconds = 5;

// SIGTERM and SIGINT ask the game to end, also while a script runs (the
// script watch stops it); the third request ends the process at once.
void OnTerminationSignal(int sig) {
    RequestTermination();
    if (TerminationRequests() >= 3) {
        signal(sig, SIG_DFL);
        raise(sig);
    }
}

// A closing game held by Lua that no hook reaches (a finalizer that loops,
// which Lua runs with hooks off) for this long is closed from the
// watchdog's thread: one log line, and the exit of a closing game without
// the shut-down or the static destructors, which would tear down what the
// main thread still uses. Files the engine writes are whole: each goes
// through a temporary file and a rename. Engine work does not count: it
// runs to its end. Tests shorten it with QUILD_CLOSING_GRACE_MS.
constexpr int kClosingGraceMs = 5000;

int ClosingGraceMs() {
    const char* text = std::getenv("QUILD_CLOSING_GRACE_MS");
    const long ms = text ? std::strtol(text, nullptr, 10) : 0;
    return ms >= 100 && ms <= 600000 ? static_cast<int>(ms) : kClosingGraceMs;
}

void CloseHeldGame(const char* what, int grace_ms) {
    LogFromAnyThread("[EXITING] : %s held the game for %d ms after the request to close; closed without the shut-down",
                     what, grace_ms);
    ::_exit(0);
}

void WatchForTermination() {
    struct sigaction sa {};
    sa.sa_handler = OnTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    SetScriptClosePoll(plat::CloseRequestPending, plat::WindowEventsWaiting);
    StartClosingWatchdog(ClosingGraceMs(), CloseHeldGame);
}

void StoreWarning(int /*severity*/, const char* text) { plat::DebugOutput(text); }

void CreateEngineGuarded(void*) { GetEngine(); }

plat::ExceptionRecord g_shutdown_exception;
void ShutdownGuarded(void* engine) { static_cast<Engine*>(engine)->Shutdown(); }

void FrameLoopGuarded(void*) {
    while (FrameTick()) plat::store::RunCallbacks();
}

// Shows a message and writes it to the log; with no display the box goes
// to stderr and never blocks.
void ShowAndLog(const char* caption, const std::string& text) {
    plat::MessageBox(caption, text.c_str());
    LogPrintf("%s", text.c_str());
}

std::string ExceptionReport() {
    char buf[4096];
    std::snprintf(buf, sizeof buf,
                  "%s\r\n\r\nExceptionCode            : 0x%x\r\nExceptionFlags           : 0x%x\r\n"
                  "ExceptionAddress         : 0x%llx\r\nNumberParameters         : %d\r\n",
                  g_exception_message ? g_exception_message : "", g_exception.code, g_exception.flags,
                  static_cast<unsigned long long>(g_exception.address), static_cast<int>(g_exception.num_params));
    std::string report = buf;
    for (uint32_t i = 0; i < g_exception.num_params && i < 15; ++i) {
        char line[256];
        std::snprintf(line, sizeof line, "ExceptionInformation[%d] : 0x%llx\r\n", static_cast<int>(i),
                      static_cast<unsigned long long>(g_exception.params[i]));
        report += line;
    }
    return report;
}

// The shut-down watchdog. After a fault the interrupted code may still hold
// a lock (a graphics driver's, typically) that the shut-down then waits on
// for ever. The report and the log's path are made ready beforehand; when
// the alarm fires, the handler only writes them and ends the process, so it
// needs no lock and no allocation.
char g_cutoff_text[8192];
size_t g_cutoff_length = 0;
char g_cutoff_log[4096];

void WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w <= 0) return;
        p += w;
        n -= static_cast<size_t>(w);
    }
}

void ShutdownCutOff(int) {
    if (g_cutoff_log[0]) {
        int fd = ::open(g_cutoff_log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            WriteAll(fd, g_cutoff_text, g_cutoff_length);
            ::close(fd);
        }
    }
    WriteAll(2, g_cutoff_text, g_cutoff_length);
    ::_exit(1);
}

void StartShutdownWatchdog() {
    std::string text = "[EXITING] : shut-down did not finish after a fault; cut off\r\n" + ExceptionReport() + "\r\n";
    g_cutoff_length = std::snprintf(g_cutoff_text, sizeof g_cutoff_text, "%s", text.c_str());
    if (g_cutoff_length >= sizeof g_cutoff_text) g_cutoff_length = sizeof g_cutoff_text - 1;
    std::string log;
    g_cutoff_log[0] = 0;
    if (GetUserFilePath("log.txt", log) && log.size() < sizeof g_cutoff_log)
        std::snprintf(g_cutoff_log, sizeof g_cutoff_log, "%s", log.c_str());
    struct sigaction sa {};
    sa.sa_handler = ShutdownCutOff;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);
    alarm(kShutdownWatchdogSeconds);
}

void StopShutdownWatchdog() { alarm(0); }

// Out of memory ends the program with one log line instead of an exception
// that nothing would catch.
void OutOfMemory() {
    std::set_new_handler(nullptr);
    LogPrintf("[ERROR] - out of memory");
    std::_Exit(1);
}

}  // namespace

int ApplicationMain(const char* /*title*/, const char* command_line, const char* build_mode) {
    std::set_new_handler(OutOfMemory);
    WatchForTermination();
    SetBuildMode(build_mode);
    SetCommandLine(command_line);

    // Without a store every store call is a no-op; the game runs anyway.
    bool store = plat::store::Init();
    if (store) plat::store::SetWarningMessageHook(StoreWarning);

    bool caught = false;
    if (!plat::RunGuarded(CreateEngineGuarded, nullptr, &g_exception)) {
        caught = true;
        g_exception_message = "An exception thrown while initializing the game!";
    }

    int exit_code = 0;
    Engine* e = CurrentEngine();
    if (!caught && e) {
        if (TakeTerminationRequest()) {
            LogPrintf("[EXITING] : termination requested");
            e->quit = true;
        }
        const bool main_failed = !e->initSucceeded && !e->quit;
        if (e->initErrorCode != kInitOk || e->quit || main_failed) {
            // The init-error path (a quit from "main" ends here silently).
            const char* text = e->initErrorText;
            bool failed = e->initErrorCode != kInitOk || main_failed;
            const int status = e->exitStatus;  // quit(status) in "main"
            e->Shutdown();
            // Without a display the window has said so in one line already.
            if (plat::NoDisplay()) text = nullptr;
            if (text) {
                plat::SleepMs(1000);
                ShowAndLog("Engine Init Error", text);
            }
            if (store) plat::store::Shutdown();
            return failed ? 1 : status;
        }
        if (!e->displayInitialised) {
            // "main" never opened the display: there would be no window to
            // close, so stop here.
            LogPrintf("[ERROR] - INIT : the script \"main\" did not bring the display up");
            e->Shutdown();
            if (store) plat::store::Shutdown();
            return 1;
        }
        if (!plat::RunGuarded(FrameLoopGuarded, nullptr, &g_exception)) {
            caught = true;
            g_exception_message = "An exception thrown during the game loop!";
        } else if (e->frameFailed) {
            exit_code = 1;
        } else {
            exit_code = e->exitStatus;
        }
    }
    if (caught) {
        // The report goes to the log before the shut-down: a fault leaves
        // the engine in an unknown state, and a shut-down that dies of it
        // must not take the report with it. (Every log line is on disk when
        // LogPrintf returns.)
        LogPrintf("%s", ExceptionReport().c_str());
        StartShutdownWatchdog();
    }
    if (Engine* still = CurrentEngine()) {
        if (!plat::RunGuarded(ShutdownGuarded, still, &g_shutdown_exception)) {
            LogPrintf("[EXITING] : a fault during the shut-down (code 0x%x at 0x%llx); stopped there",
                      g_shutdown_exception.code, static_cast<unsigned long long>(g_shutdown_exception.address));
            if (caught) plat::MessageBox("Exception Occured", ExceptionReport().c_str());
            std::_Exit(1);
        }
    }
    if (caught) {
        StopShutdownWatchdog();
        plat::SleepMs(500);
        plat::MessageBox("Exception Occured", ExceptionReport().c_str());
        exit_code = 1;
    }
    if (store) plat::store::Shutdown();
    return exit_code;
}
