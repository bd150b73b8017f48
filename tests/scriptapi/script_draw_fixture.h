#pragma once
// A real headless device with a font and the engine's current font set, and
// a fresh Lua state: for script functions that draw.
#include <unistd.h>

#include <vector>

#include "app/engine.h"
#include "media/text/text_render_fixture.h"
#include "script/lua_host.h"
#include "scriptapi/draw_functions.h"

class ScriptDrawFixture : public media_test::TextRenderFixture {
protected:
    void SetUp() override {
        if (!getcwd(start_dir, sizeof start_dir)) start_dir[0] = 0;
        TextRenderFixture::SetUp();  // the current folder is the font's now
        engine.screenRect.Set(0, 0, kW, kH);
        engine.currentFont = font;
        SetCurrentEngine(&engine);
        ScriptShutdown();
        CreateScriptState();
    }
    void TearDown() override {
        DrawOffset() = ScriptDrawOffset();
        ScriptShutdown();
        SetCurrentEngine(nullptr);
        TextRenderFixture::TearDown();
    }
    void Lua(const char* text) { ASSERT_EQ(ScriptRun(text), 0) << text; }
    // Keeps the frame under the folder the test started in (the build
    // folder), not the font's temporary one.
    void KeepFrame(const std::vector<uint32_t>& px, const char* name) {
        char here[4096];
        if (!start_dir[0] || !getcwd(here, sizeof here) || chdir(start_dir) != 0) return;
        Keep(px, name);
        if (chdir(here) != 0) ADD_FAILURE() << "cannot return to " << here;
    }

    Engine engine;
    char start_dir[4096] = {};
};
