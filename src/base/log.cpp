#include "base/log.h"

#include <cstdio>
#include <cstring>

#include "base/file_stream.h"
#include "platform/system.h"

namespace {
LogSink g_sink = nullptr;
constexpr size_t kLineMax = 4096;
}  // namespace

void SetLogSink(LogSink sink) { g_sink = sink; }

void DebugOutput(const char* text) { plat::DebugOutput(text); }

void CreateLogFile() {
    FileStream f;
    if (f.CreateInUserFolder("log.txt")) f.Close();
}

void LogPrintfV(const char* format, va_list args) {
    if (!format) return;
    // Room for the line, "\r\n" and the terminator; an over-long line is cut.
    char line[kLineMax + 3];
    int n = std::vsnprintf(line, kLineMax, format, args);
    size_t len = n < 0 ? 0 : (static_cast<size_t>(n) >= kLineMax ? kLineMax - 1 : static_cast<size_t>(n));
    line[len] = '\r';
    line[len + 1] = '\n';
    line[len + 2] = 0;

    FileStream f;
    if (f.AppendInUserFolder("log.txt")) {
        f.Write(line, len + 2);
        f.Close();
    }
    DebugOutput(line);
    if (g_sink) {
        line[len] = 0;
        g_sink(line, std::strstr(format, "ERROR") ? kLogColourError : kLogColourNormal);
    }
}

void LogPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogPrintfV(format, args);
    va_end(args);
}
