#pragma once
// Structured-exception guards: a fault (access violation, divide by zero,
// illegal instruction, stack overflow) on the guarded thread while the
// guarded function runs is caught, described in a Windows-style record, and
// the function is left. Main thread only; the handler runs on an alternate
// stack so a stack overflow is caught too.
#include <cstdint>

namespace plat {

constexpr uint32_t kExceptionAccessViolation = 0xC0000005u;
constexpr uint32_t kExceptionIntDivideByZero = 0xC0000094u;
constexpr uint32_t kExceptionIllegalInstruction = 0xC000001Du;
constexpr uint32_t kExceptionStackOverflow = 0xC00000FDu;

struct ExceptionRecord {
    uint32_t code = 0;
    uint32_t flags = 0;
    uint64_t address = 0;  // the faulting instruction
    uint32_t num_params = 0;
    // Access violation: [0] 0 read / 1 write, [1] the data address.
    uint64_t params[15] = {};
};

// Runs fn(arg). True when it returned normally; false when a fault was
// caught, with the record filled. Faults on other threads are not caught.
bool RunGuarded(void (*fn)(void* arg), void* arg, ExceptionRecord* record);

// Faults on purpose (tests, and a debugging aid): a write to a page that
// is not accessible.
void RaiseAccessViolationForTesting();

}  // namespace plat
