// Every function of these families called with missing, wrong, huge,
// negative and undefined numbers, long and format-like texts, relative and
// absolute paths and foreign or stale handles: no script error, no crash,
// and one-result functions hand back exactly one value.
#include <unistd.h>

#include "base/package.h"
#include "media/resource_manager.h"
#include "scriptapi/draw_functions.h"
#include "scriptapi/engine_script_test.h"

using scriptapi_test::EngineScriptTest;

namespace {

const char* const kFunctions =
    "ge_setambientcolor ge_getambientcolor ge_setgamma ge_importgamma ge_getshadersupport "
    "ge_getantialiassupport ge_look ge_getlook ge_getview ge_getae ge_getfacexy ge_getaevector ge_project "
    "ge_unproject ge_getaeface ge_getdisplaymode ge_setprojection ge_camsetrotation ge_toggleconsole "
    "ge_consoleenabled ge_saveshot ge_crabfx ge_motionblurfx ge_glowfx ge_radialblurfx ge_setscreenscalerot "
    "ge_lensviewfx ge_postfx ge_setcolormap ge_getfont ge_setfont ge_setsysfont ge_getfontslist "
    "ge_getvideoslist ge_fontheight ge_drawstring ge_drawtext ge_getstringwidth ge_getfontwidth "
    "ge_getfontheight ge_drawrect ge_fillrect ge_drawline ge_translate ge_setclip _ALERT print cls exec eval "
    "sscanf mulcolor make_color get_rgba clearHotspots fileexists extractfilename findallfiles mkdir "
    "ge_genospath fopenWrite fobjectPrint fopenRead fclose ge_copyfile ge_getbuild ge_setbuild ge_addpackage "
    "reloadAllResources ge_settotalmemory ge_getmemstats ge_getcounter ge_getdate ge_gettime "
    "ge_getframerendertime ge_getclipboard ge_setclipboard ge_rand ge_rand_seed ge_screenrect rect_const "
    "rect_screen2d rect_get gtext_new gtext_remove gtext_get gtext_sort gtext_freeall gtext_load dlg_new "
    "ge_getmouse ge_gethotspot ge_getrealhotspot ge_gethotspotcenter ge_gethotspotat enablescene "
    "enablehotspotevents ge_playvideo ge_stopvideo";

const char* const kOneResult =
    "ge_getambientcolor ge_getshadersupport ge_getview ge_getaeface ge_getfont ge_getfontslist "
    "ge_getvideoslist ge_fontheight ge_getfontwidth ge_consoleenabled eval fileexists mkdir ge_genospath "
    "extractfilename fopenWrite fopenRead ge_getbuild ge_getmemstats ge_getcounter ge_getdate ge_gettime "
    "ge_getframerendertime ge_getclipboard ge_rand rect_const rect_get rect_screen2d ge_screenrect "
    "gtext_new gtext_get dlg_new mulcolor make_color ge_gethotspot ge_getrealhotspot ge_gethotspotat";

class HostileArguments : public EngineScriptTest {
protected:
    void SetUp() override {
        EngineScriptTest::SetUp();
        // "../" from here stays inside the temporary tree.
        ASSERT_EQ(chdir(Path("").c_str()), 0);
        quild_test::WriteFile(Path("a/b/keep.txt"), "x");
        ASSERT_EQ(chdir(Path("a/b").c_str()), 0);
        saved_budget_ = g_resource_budget;
    }
    void TearDown() override {
        g_resource_budget = saved_budget_;
        DrawOffset() = ScriptDrawOffset();
        FreeAllPackages();
        EngineScriptTest::TearDown();
    }
    uint64_t saved_budget_ = 0;
};

TEST_F(HostileArguments, NothingFailsOrLeaks) {
    lua_pushlightuserdata(L, reinterpret_cast<void*>(0x10));
    lua_setglobal(L, "bogus");
    lua_pushlightuserdata(L, nullptr);
    lua_setglobal(L, "null");
    lua_pushstring(L, Path("abs").c_str());
    lua_setglobal(L, "absolute");
    const std::string script = R"(
        local stale = gtext_new('gone')
        gtext_remove(stale)
        local values = {nil, true, false, 0, -1, 1e308, -1e308, 2^53, -2^31, 0/0, 1/0, -1/0,
                        string.rep('x', 100 * 1024), '%s%n%s%n%d%x', '../', '..', absolute, '', {},
                        function() end, bogus, null, stale, rect_const(1, 2, 3, 4, 0), dlg_new()}
        local count = 25
        local old_build = ge_getbuild()
        local opened = {}
        for name in (')" + std::string(kFunctions) + R"('):gmatch('%S+') do
            local f = _G[name]
            assert(type(f) == 'function', name)
            assert(pcall(f), name .. '()')
            for i = 1, count do
                local v = values[i]
                local results = {pcall(f, v)}
                assert(results[1], name .. ' with value ' .. i .. ': ' .. tostring(results[2]))
                results = {pcall(f, v, v, v, v, v, v, v)}
                assert(results[1], name .. ' with value ' .. i .. ' seven times: ' .. tostring(results[2]))
                if name == 'fopenWrite' or name == 'fopenRead' then opened[#opened + 1] = results[2] end
            end
        end
        for _, s in ipairs(opened) do fclose(s) end
        ge_setbuild(old_build)
        gtext_freeall()
        -- one result, never the function itself
        for name in (')" + std::string(kOneResult) + R"('):gmatch('%S+') do
            local f = _G[name]
            assert(select('#', f()) == 1, name .. ' pushes one result')
            assert(f() ~= f, name)
        end
        -- with nothing to act on (no box, no scene, no path) these hand back
        -- the caller's own last argument, whatever it is; nil for no argument
        local box = edit_create(rect_const(0, 0, 10, 10, 0))
        edit_destroy(box)
        local gives_back = {
            {edit_gettext, box}, {edit_getseltext, box}, {edit_setseltext, box}, {edit_cmd, box},
            {scene_fullname}, {setscenerotated}, {mkdir}}
        for k, case in ipairs(gives_back) do
            local f, first = case[1], case[2]
            assert(select('#', f()) == 1 and f() == nil, 'case ' .. k .. ' without arguments')
            for i = 1, count do
                local v = values[i]
                if f ~= mkdir or (type(v) ~= 'string' and type(v) ~= 'number') then
                    local n = select('#', f(first or v, v))
                    local r = f(first or v, v)
                    assert(n == 1 and (r == v or (r ~= r and v ~= v)), 'case ' .. k .. ' with value ' .. i)
                end
            end
        end
        -- walks from the root and from above: only folders are reported
        local seen = 0
        findallfiles('/', ';nothing-matches;', function(path, ext) seen = seen + 1 assert(ext == '') end, false)
        findallfiles('..', ';txt;', function() seen = seen + 1 end, true)
        assert(seen > 0)
    )";
    Lua(script.c_str());
}

}  // namespace
