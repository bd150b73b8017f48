#include "app/app_main.h"

#include <cstdio>
#include <string>

#include "app/engine.h"
#include "base/log.h"
#include "platform/guard.h"
#include "platform/store.h"
#include "platform/system.h"

namespace {

plat::ExceptionRecord g_exception;
const char* g_exception_message = nullptr;

void StoreWarning(int /*severity*/, const char* text) { plat::DebugOutput(text); }

void CreateEngineGuarded(void*) { GetEngine(); }

void FrameLoopGuarded(void*) {
    while (FrameTick()) plat::store::RunCallbacks();
}

// Shows a message and writes it to the log; with no display the box goes
// to stderr and never blocks.
void ShowAndLog(const char* caption, const std::string& text) {
    plat::MessageBox(caption, text.c_str());
    LogPrintf("%s", text.c_str());
}

void ReportException() {
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
    ShowAndLog("Exception Occured", report);
}

}  // namespace

int ApplicationMain(const char* /*title*/, const char* command_line, const char* build_mode) {
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
        if (e->initErrorCode != kInitOk || e->quit) {
            // The init-error path (a quit from "main" ends here silently).
            const char* text = e->initErrorText;
            bool failed = e->initErrorCode != kInitOk;
            e->Shutdown();
            if (text) {
                plat::SleepMs(1000);
                ShowAndLog("Engine Init Error", text);
            }
            if (store) plat::store::Shutdown();
            return failed ? 1 : 0;
        }
        if (!e->displayInitialised) {
            // "main" failed without an error code or never opened the
            // display: there would be no window to close, so stop here.
            LogPrintf("[ERROR] - INIT : the script \"main\" did not bring the display up");
            e->Shutdown();
            if (store) plat::store::Shutdown();
            return 1;
        }
        if (!plat::RunGuarded(FrameLoopGuarded, nullptr, &g_exception)) {
            caught = true;
            g_exception_message = "An exception thrown during the game loop!";
        }
    }
    if (Engine* still = CurrentEngine()) still->Shutdown();
    if (caught) {
        plat::SleepMs(500);
        ReportException();
        exit_code = 1;
    }
    if (store) plat::store::Shutdown();
    return exit_code;
}
