#include "platform/guard.h"

#include <pthread.h>
#include <signal.h>
#include <setjmp.h>
#include <sys/mman.h>
#include <ucontext.h>

#include <cstdlib>
#include <cstring>

namespace plat {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr size_t kAltStackSize = 64 * 1024;

struct GuardFrame {
    sigjmp_buf jump;
    ExceptionRecord* record;
    GuardFrame* outer;
    pthread_t thread;
};

GuardFrame* g_frame = nullptr;  // innermost active guard (main thread only)
struct sigaction g_previous[sizeof(kSignals) / sizeof(kSignals[0])];
int g_depth = 0;
void* g_alt_stack = nullptr;

void FillRecord(int sig, siginfo_t* info, void* context, ExceptionRecord* r) {
    *r = ExceptionRecord{};
    auto* uc = static_cast<ucontext_t*>(context);
    uint64_t ip = 0, sp = 0, err = 0;
#if defined(__x86_64__)
    if (uc) {
        ip = static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RIP]);
        sp = static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RSP]);
        err = static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_ERR]);
    }
#else
    (void)uc;
#endif
    r->address = ip;
    auto data = reinterpret_cast<uint64_t>(info ? info->si_addr : nullptr);
    switch (sig) {
        case SIGSEGV:
        case SIGBUS:
            // A fault just below the stack pointer is the stack running out.
            if (sp && data + 65536 >= sp && data <= sp + 4096) {
                r->code = kExceptionStackOverflow;
                r->num_params = 2;
                r->params[0] = 1;
                r->params[1] = data;
            } else {
                r->code = kExceptionAccessViolation;
                r->num_params = 2;
                r->params[0] = (err & 2) ? 1 : 0;  // page-fault error code: write bit
                r->params[1] = data;
            }
            break;
        case SIGFPE:
            r->code = kExceptionIntDivideByZero;
            break;
        case SIGILL:
            r->code = kExceptionIllegalInstruction;
            break;
    }
}

void Handler(int sig, siginfo_t* info, void* context) {
    GuardFrame* f = g_frame;
    if (f && pthread_equal(f->thread, pthread_self())) {
        FillRecord(sig, info, context, f->record);
        siglongjmp(f->jump, 1);
    }
    // Not ours: let the fault take its default course.
    signal(sig, SIG_DFL);
    raise(sig);
}

void Install() {
    if (!g_alt_stack) {
        g_alt_stack = std::malloc(kAltStackSize);
        stack_t ss{};
        ss.ss_sp = g_alt_stack;
        ss.ss_size = kAltStackSize;
        sigaltstack(&ss, nullptr);
    }
    struct sigaction sa {};
    sa.sa_sigaction = Handler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); ++i) sigaction(kSignals[i], &sa, &g_previous[i]);
}

void Uninstall() {
    for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
}

}  // namespace

bool RunGuarded(void (*fn)(void*), void* arg, ExceptionRecord* record) {
    if (!fn) return true;
    ExceptionRecord scratch;
    GuardFrame frame;
    frame.record = record ? record : &scratch;
    frame.outer = g_frame;
    frame.thread = pthread_self();
    if (g_depth++ == 0) Install();
    g_frame = &frame;
    bool ok = true;
    if (sigsetjmp(frame.jump, 1) == 0) {
        fn(arg);
    } else {
        ok = false;
    }
    g_frame = frame.outer;
    if (--g_depth == 0) Uninstall();
    return ok;
}

void RaiseAccessViolationForTesting() {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) {
        raise(SIGSEGV);
        return;
    }
    *static_cast<volatile int*>(page) = 1;
    munmap(page, 4096);
}

}  // namespace plat
