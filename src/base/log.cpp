#include "base/log.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "base/file_stream.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {
LogSink g_sink = nullptr;
constexpr size_t kLineMax = 4096;

// Lines written before the log file is created in this run: the creation
// truncates the file, then writes them back, so a warning from early
// start-up is not lost. Bounded; later lines are not held.
constexpr size_t kEarlyMax = 64 * 1024;
std::mutex g_early_lock;
std::string g_early;
std::atomic<bool> g_created{false};
std::atomic<bool> g_reported{false};  // the one stderr line about an unwritable log

void ReportUnwritable() {
    const int err = errno;
    if (g_reported.exchange(true)) return;
    std::string path;
    if (!GetUserFilePath("log.txt", path)) {
        std::string docs = plat::DocumentsFolder();
        path = docs.empty() ? std::string("(no per-user folder: HOME is not set)") : docs + "/Quorvane/log.txt";
    }
    std::fprintf(stderr, "The log cannot be written to %s: %s\n", path.c_str(), err ? std::strerror(err) : "failed");
}

}  // namespace

void SetLogSink(LogSink sink) { g_sink = sink; }

void DebugOutput(const char* text) { plat::DebugOutput(text); }

void CreateLogFile() {
    std::lock_guard<std::mutex> guard(g_early_lock);
    FileStream f;
    errno = 0;
    if (!f.CreateInUserFolder("log.txt")) {
        ReportUnwritable();
    } else {
        if (!g_early.empty() && f.Write(g_early.data(), uint32_t(g_early.size())) != g_early.size())
            ReportUnwritable();
        if (f.Close() != 0) ReportUnwritable();
    }
    g_created = true;
    std::string().swap(g_early);
}

namespace {

void WriteLine(const char* format, va_list args, bool to_sink) {
    if (!format) return;
    // Room for the line, "\r\n" and the terminator; an over-long line is cut.
    char line[kLineMax + 3];
    int n = std::vsnprintf(line, kLineMax, format, args);
    size_t len = n < 0 ? 0 : (static_cast<size_t>(n) >= kLineMax ? kLineMax - 1 : static_cast<size_t>(n));
    line[len] = '\r';
    line[len + 1] = '\n';
    line[len + 2] = 0;

    {
        std::lock_guard<std::mutex> guard(g_early_lock);
        if (!g_created && g_early.size() + len + 2 <= kEarlyMax) g_early.append(line, len + 2);
    }
    FileStream f;
    errno = 0;
    if (f.AppendInUserFolder("log.txt")) {
        bool ok = f.Write(line, uint32_t(len + 2)) == len + 2;
        ok = f.Close() == 0 && ok;
        if (!ok && g_created) ReportUnwritable();
    } else if (g_created) {
        ReportUnwritable();
    }
    // Not copied to stderr: a player starting the game from a terminal sees
    // only the lines meant for them (no display, an unwritable log).
    if (to_sink && g_sink) {
        line[len] = 0;
        g_sink(line, std::strstr(format, "ERROR") ? kLogColourError : kLogColourNormal);
    }
}

}  // namespace

void LogPrintfV(const char* format, va_list args) { WriteLine(format, args, true); }

void LogFromAnyThread(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(format, args, false);
    va_end(args);
}

void LogPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogPrintfV(format, args);
    va_end(args);
}
