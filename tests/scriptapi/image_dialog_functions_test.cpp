// Images and dialog layouts from scripts on a real headless device: images
// drawn into a saved frame, layouts asked for lines, pages and elements.
#include <unistd.h>

#include "media/image/image_builders.h"
#include "media/resource_manager.h"
#include "script/script_handles.h"
#include "script_draw_fixture.h"
#include "scriptapi/finaliser_cases.h"

namespace {

class ImageDialogFunctions : public ScriptDrawFixture {
protected:
    void TearDown() override {
        if (ResourceRecord* r = Resources().FindByName("quad")) Resources().Remove(r, true);
        ScriptDrawFixture::TearDown();
    }
    // A 4 x 2 image: left half red, right half green, opaque.
    static void WriteQuadImage() {
        std::string pixels;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x) pixels += x < 2 ? std::string("\x00\x00\xFF\xFF", 4) : std::string("\x00\xFF\x00\xFF", 4);
        media_test::TgaShape shape;
        shape.width = 4;
        shape.height = 2;
        shape.depth = 32;
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        quild_test::WriteFile(std::string(here) + "/quad.tga", media_test::MakeTga(shape, "", pixels));
    }
};

TEST_F(ImageDialogFunctions, ImagesDrawnStretchedAtAPointAndMirrored) {
    WriteQuadImage();
    Lua(R"(
        local im = im_get('quad')
        assert(type(im) == 'userdata' and im_get('missing') == nil and im_get() == nil)
        local w, h = im_getsize(im)
        assert(w == 4 and h == 2)
        w, h = im_getsize(nil)
        assert(w == 0 and h == 0)
        assert(select('#', im_getsize(dlg_new())) == 2 and im_getsize(dlg_new()) == 0)
        -- stretched into 0..39 x 0..9
        im_render(im, rect_const(0, 0, 40, 10, 0))
        -- at a point, moved by the drawing offset: 50..53 x 20..21
        ge_translate(10, 10)
        im_render(im, 40, 10)
        ge_translate(0, 0)
        -- a source rectangle (the green half) over 60..79 x 0..9
        im_render_src(im, rect_const(60, 0, 20, 10, 1), rect_const(2, 0, 2, 2, 2))
        -- mirrored: the whole image over 100..139, right to left
        im_render_src(im, rect_const(140, 30, -40, 10, 1), rect_const(0, 0, 4, 2, 2))
        -- not images: nothing
        im_render(dlg_new(), 0, 0)
        im_render(im, dlg_new())
        im_render(im, 'x', 3)
        im_remove(im)
        im_remove(rect_const(0, 0, 1, 1, 3))
        -- unloaded, and loaded again on its next use
        assert(im_getsize(im) == 4)
    )");
    // A finaliser that unloads the image while a number colour is read: it is
    // loaded again and drawn (over 150..153 and 160..163 x 0..1), so it is
    // loaded after the call; a texture taken before the colour would have
    // been drawn after it was unloaded.
    lua_register(ScriptState(), "im_loaded", [](lua_State* L) {
        auto* record = static_cast<ResourceRecord*>(ScriptArgHandle(L, 1, ScriptHandleKind::kResource));
        lua_pushboolean(L, record && record->object);
        return 1;
    });
    Lua((std::string(scriptapi_test::kFinaliserCases) + R"(
        function rebuild() im = im_get('quad') end
        local function unload() im_remove(im) end
        case(1, unload, of(im_render, 'im', 150, 0, 88888888))
        assert(im_loaded(im), 'im_render drew the image it had unloaded')
        case(1, unload, of(im_render_src, 'im', rect_const(160, 0, 4, 2, 1), rect_const(0, 0, 4, 2, 2), 88888888))
        assert(im_loaded(im), 'im_render_src drew the image it had unloaded')
    )").c_str());
    const std::vector<uint32_t> px = Finish();
    KeepFrame(px, "script_images");
    auto at = [&](int x, int y) { return px[size_t(y) * kW + size_t(x)]; };
    EXPECT_EQ(at(5, 5), 0xFF0000u);
    EXPECT_EQ(at(28, 5), 0x00FF00u);  // (sampled between texel centres of one colour)
    EXPECT_EQ(at(0, 11), 0u);
    EXPECT_EQ(at(50, 20), 0xFF0000u);
    EXPECT_EQ(at(53, 21), 0x00FF00u);
    EXPECT_EQ(at(54, 20), 0u);
    EXPECT_EQ(at(66, 5), 0x00FF00u);
    EXPECT_EQ(at(72, 5), 0x00FF00u);
    EXPECT_EQ(at(110, 35), 0x00FF00u);  // mirrored: green on the left
    EXPECT_EQ(at(130, 35), 0xFF0000u);
    EXPECT_NE(at(150, 0), 0u);
    EXPECT_NE(at(160, 0), 0u);
}

TEST_F(ImageDialogFunctions, DialogLinesElementsPagesAndDrawing) {
    Lua(R"(
        local d = dlg_new()
        assert(dlg_parse(d, 'AB CD <name>EF</name> GH', 0, 0, 0) == 1)
        assert(dlg_getlinecount(d) == 1 and dlg_getline(d, 1) == 'AB CD EF GH')
        assert(dlg_getline(d, 0) == nil and dlg_getline(d, 2) == nil)
        assert(dlg_getelementcount(d) == 1)
        assert(dlg_getelementname(d, 1) == 'name' and dlg_getelementname(d, 0) == nil)
        local text, c0, c1, l0, l1 = dlg_getelement(d, 0)
        assert(text == 'EF' and c0 == 6 and c1 == 8 and l0 == 0 and l1 == 0)
        assert(dlg_getelement(d, 'name') == 'EF' and dlg_getelement(d, 'Name') == nil)
        assert(dlg_getelement(d, 1) == nil and dlg_getelement(d, -1) == nil)
        assert(select('#', dlg_getelement(d, 5)) == 1)
        -- a text from a game text; five lines, two pages of two lines
        local t = gtext_new('dlg')
        gtext_settext(t, 'A<n>B<n>C<n>D<n>E')
        dlg_setpagesize(d, 1, 200, 20)
        assert(dlg_parse(d, t, 0, 0, 0) >= 5)
        assert(dlg_parse(d, gtext_new(), 0, 0, 0) == nil)  -- a text without string: no result
        dlg_setpagesize(d, 0)  -- every page cleared
        dlg_setpagesize(d, 300, 1, 1)
        dlg_setpagesize(d, -5, 1, 1)
        local n = dlg_parse(d, 'A<n>B<n>C<n>D<n>E', 200, 0, 0)
        local all = {}
        for i = 1, dlg_getlinecount(d) do all[i] = dlg_getline(d, i) end
        assert(n == 5, n .. ': ' .. table.concat(all, '|'))
        assert(dlg_getcharcount(d, 1, 5) == 5 and dlg_getcharcount(d, 2, 0) == 0)
        assert(dlg_getcharcount(d, 0, 2) == 1 and dlg_getcharcount(d, 4, 100) == 2)
        assert(dlg_getcharcount(d, -2, 10) == 5 and dlg_getcharcount(d, 3, -4) == 0)
        assert(dlg_getcharcount(d, -2147483648, 2147483647) == 0 and dlg_getcharcount(d, 2147483647, 2) == 0)
        -- lines 3 to 5 at 10, 0; a first line of 0 or below draws from line 1
        dlg_draw(d, rect_const(10, 0, 100, 40, 0), 0, 0, 'ffffffff', 3, 100)
        dlg_draw(d, rect_const(50, 0, 100, 40, 1), 0, 0, 'ff00ff00', 0, 2)
        dlg_draw(d, rect_const(90, 0, 100, 40, 2), 0, 0, 'ff00ff00', -5, 2)
        dlg_draw(d, nil, 0, 0, 'ffffffff', 1, 1)
        -- not a layout: no result
        assert(select('#', dlg_getlinecount(rect_const(0, 0, 0, 0, 3))) == 0)
    )");
    const std::vector<uint32_t> px = Finish();
    // Line height 10: C, D, E at 10 down from 0; line 1 alone at 50.
    ExpectGlyph(px, 'C', 10, 0, 0xFFFFFF);
    ExpectGlyph(px, 'D', 10, 10, 0xFFFFFF);
    ExpectGlyph(px, 'E', 10, 20, 0xFFFFFF);
    ExpectGlyph(px, 'A', 50, 0, 0x00FF00);
    ExpectGlyph(px, ' ', 50, 10, 0x00FF00);  // line 2 is not drawn
    for (int y = 0; y < 20; ++y)  // nothing: those two lines lie before line 1
        for (int x = 90; x < 110; ++x) EXPECT_EQ(px[size_t(y) * kW + size_t(x)], 0u) << x << "," << y;
    // A finaliser that lays the text out anew while a line or an element is
    // pushed: what comes back belongs to one layout (a line or a name is the
    // one the call found: copied before anything is pushed).
    Lua((std::string(scriptapi_test::kFinaliserCases) + R"(
        function rebuild() d = dlg_new() dlg_parse(d, 'AB CD <name>EF</name> GH', 0, 0, 0) end
        local function reparse() dlg_parse(d, 'XY <other>Z</other>', 0, 0, 0) end
        local _, line = case(1, reparse, of(dlg_getline, 'd', 1))
        assert(line == 'AB CD EF GH', line)
        local _, name = case(1, reparse, of(dlg_getelementname, 'd', 1))
        assert(name == 'name', name)
        local count, text, column = case(1, reparse, of(dlg_getelement, 'd', 0))
        assert(count == 5 and text == 'Z' and column == 3, tostring(column))
    )").c_str());
    engine.currentFont = nullptr;
    Lua(R"(
        local d = dlg_new()
        assert(select('#', dlg_parse(d, 'text', 0, 0, 0)) == 0)  -- no font: no result
        dlg_draw(d, rect_const(0, 0, 10, 10, 0), 0, 0, 'ffffffff', 1, 1)
    )");
}

}  // namespace
