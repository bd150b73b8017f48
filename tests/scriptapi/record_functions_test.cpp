// Rectangles, game texts and dialog layouts handed to scripts: shared
// slots, refused foreign handles, the engine's text list.
#include "media/text/game_text.h"
#include "scriptapi/engine_script_test.h"

using scriptapi_test::EngineScriptTest;

namespace {

using RecordFunctions = EngineScriptTest;

TEST_F(RecordFunctions, RectangleSlotsAndScreens) {
    engine->screenRect.Set(0, 0, 800, 600);
    Lua(R"(
        local r1 = rect_const(1, 2, 3, 4, 1)
        local r0 = rect_const(5, 6, 7, 8, 0)
        local x, y, w, h = rect_get(r1)
        assert(x == 1 and y == 2 and w == 3 and h == 4)
        -- a later write to a slot changes every copy of it
        local again = rect_const(9, 9, 9, 9, 1)
        assert(again == r1 and rect_get(r1) == 9 and rect_get(r0) == 5)
        -- slots outside 0..3 are refused
        assert(rect_const(1, 1, 1, 1, 4) == nil and rect_const(1, 1, 1, 1, -1) == nil)
        assert(select('#', rect_const(1, 1, 1, 1, 9)) == 1)
        -- huge numbers saturate instead of wrapping
        assert(rect_get(rect_const(1e300, -1e300, 0/0, 2^40, 2)) == 2147483647)
        assert(select(2, rect_get(rect_const(1e300, -1e300, 0/0, 2^40, 2))) == -2147483648)
        x, y, w, h = rect_get(rect_screen2d())
        assert(x == 0 and y == 0 and w == 1024 and h == 768)
        x, y, w, h = rect_get(ge_screenrect())
        assert(w == 800 and h == 600)
        -- anything that is no rectangle gives nil
        assert(rect_get(nil) == nil and rect_get(12) == nil and select('#', rect_get()) == 1)
        assert(rect_get(dlg_new()) == nil and rect_get(gtext_new('t')) == nil)
    )");
}

TEST_F(RecordFunctions, GameTextList) {
    quild_test::WriteFile(Path("texts.txt"), "<intro>\r\nHello\r\nthere\r\n\r\n<aa>\r\n<outro>\r\nBye\r\n</>\r\nlost\r\n");
    Lua(R"(
        local a = gtext_new('Zed')
        assert(gtext_new('zed') == a)  -- found by name, any case
        local unnamed1, unnamed2 = gtext_new(), gtext_new()
        assert(unnamed1 ~= unnamed2)
        assert(gtext_get('ZED') == a and gtext_get('none') == nil and select('#', gtext_get()) == 1)
        gtext_remove(unnamed1)
        gtext_remove(unnamed2)
        gtext_remove(rect_const(0, 0, 0, 0, 0))  -- not a text: refused
        gtext_remove(nil)
        gtext_load('texts.txt')
        gtext_load('missing.txt')
        gtext_load()
        assert(gtext_get('intro') and gtext_get('outro') and gtext_get('aa') == nil)
    )");
    auto names = [&] {
        std::string s;
        for (GameText* t = engine->texts.head; t; t = ListNext(t)) s += std::string(t->name ? t->name : "-") + ",";
        return s;
    };
    EXPECT_EQ(names(), "Zed,intro,outro,");
    GameText* intro = ListFindByName(engine->texts, "intro");
    ASSERT_NE(intro, nullptr);
    EXPECT_STREQ(intro->text, "Hello\nthere\n<aa>");
    Lua("gtext_sort()");
    EXPECT_EQ(names(), "Zed,intro,outro,");  // byte order: capitals first
    Lua("local t = gtext_get('intro'); gtext_remove(t); gtext_remove(t)");  // the second is stale
    EXPECT_EQ(names(), "Zed,outro,");
    Lua("gtext_freeall(); assert(gtext_get('zed') == nil)");
    EXPECT_EQ(engine->texts.head, nullptr);
}

}  // namespace
