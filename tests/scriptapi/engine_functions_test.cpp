#include "app/engine.h"
#include "render/display_mode.h"
#include "script/script_test_support.h"

using script_test::ScriptTest;

namespace {

// An engine whose "main" is missing: it exists, with its script state, but
// brings up no display.
class EngineFunctionsTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        engine = GetEngine();
        ASSERT_NE(engine, nullptr);
        L = ScriptState();
    }
    void TearDown() override {
        if (CurrentEngine()) CurrentEngine()->Shutdown();
        g_requestedDisplayMode = {};
        ScriptTest::TearDown();
    }
    Engine* engine = nullptr;
};

}  // namespace

TEST_F(EngineFunctionsTest, ResetDisplayIgnoredWhileMainRerunsKeepsTheModeBeingBroughtUp) {
    g_requestedDisplayMode.width = 800;
    g_requestedDisplayMode.height = 600;
    g_requestedDisplayMode.fullScreen = false;
    g_requestedDisplayMode.title = "Reset";
    engine->rerunningMain = true;
    Lua("ok = tostring(ge_resetdisplay(640, 480, 16, true, 2, 'Other', 75))");
    engine->rerunningMain = false;
    EXPECT_EQ(Text("ok"), "true");
    EXPECT_EQ(g_requestedDisplayMode.width, 800);
    EXPECT_EQ(g_requestedDisplayMode.height, 600);
    EXPECT_FALSE(g_requestedDisplayMode.fullScreen);
    EXPECT_EQ(g_requestedDisplayMode.title, "Reset");
    EXPECT_EQ(g_requestedDisplayMode.bitsPerPixel, 32);
    EXPECT_EQ(g_requestedDisplayMode.refreshRate, 0);

    // Inside a frame the mode is taken and the reset waits for the frame.
    engine->inFrame = true;
    Lua("ok = tostring(ge_resetdisplay(640, 480, 16, false, 0, 'Next', 0))");
    engine->inFrame = false;
    EXPECT_EQ(Text("ok"), "true");
    EXPECT_TRUE(engine->displayResetRequested);
    EXPECT_EQ(g_requestedDisplayMode.width, 640);
    EXPECT_EQ(g_requestedDisplayMode.title, "Next");
}
