#pragma once
// The engine log: "log.txt" in the per-user folder, the debugger output and
// the console, one line per call.
#include <cstdarg>
#include <cstddef>

// Creates (truncates) "log.txt" in the per-user folder.
void CreateLogFile();

// Formats one line printf-style (cut at 4095 characters), appends "\r\n",
// appends it to "log.txt" and, when a console sink is set, adds it there:
// red when the format string contains "ERROR", else white. Log lines are
// not copied to the debugger output (stderr here).
void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogPrintfV(const char* format, va_list args);
// The same line to "log.txt" only, for a thread other than the main one
// (the console is the main thread's).
void LogFromAnyThread(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sends text to the debugger output.
void DebugOutput(const char* text);

// Where log lines go besides the file: the console sets this when it
// exists. colour is ARGB.
using LogSink = void (*)(const char* line, unsigned colour);
void SetLogSink(LogSink sink);

constexpr unsigned kLogColourError = 0xFFFF0000u;
constexpr unsigned kLogColourNormal = 0xFFFFFFFFu;
