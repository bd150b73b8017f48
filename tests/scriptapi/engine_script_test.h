#pragma once
// Script tests with an engine made current (never initialised: no window,
// no display) and a console, the log still captured by the test.
#include <memory>

#include "app/console.h"
#include "app/engine.h"
#include "script/script_test_support.h"

namespace scriptapi_test {

class EngineScriptTest : public script_test::ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        engine = std::make_unique<Engine>();
        SetCurrentEngine(engine.get());
        console = std::make_unique<Console>();
        // The console takes the log's lines; the test keeps them.
        SetLogSink([](const char* line, unsigned) { script_test::LogLines().push_back(line); });
    }
    void TearDown() override {
        ScriptRun("gtext_freeall()");
        console.reset();
        SetCurrentEngine(nullptr);
        engine.reset();
        ScriptTest::TearDown();
    }
    // The console's history line that many lines back from the newest (0).
    std::string ConsoleLine(int back) const {
        const Console::HistoryEntry& h = console->History(console->WriteIndex() - 1 - back);
        return h.text ? h.text : "(none)";
    }

    std::unique_ptr<Engine> engine;
    std::unique_ptr<Console> console;
};

}  // namespace scriptapi_test
