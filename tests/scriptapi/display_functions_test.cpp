// Display, view and effect switches through the Lua state, on an engine
// without a display.
#include <cmath>

#include "app/scene_switch.h"
#include "app/post_effects.h"
#include "app/app_window.h"
#include "media/image/image_builders.h"
#include "render/camera.h"
#include "render/d3d_render_device.h"
#include "scene/game_scene.h"
#include "scene/hotspot_map.h"
#include "scriptapi/engine_script_test.h"

using script_test::Logged;
using scriptapi_test::EngineScriptTest;

namespace {

class DisplayFunctions : public EngineScriptTest {
protected:
    void TearDown() override {
        ResetPostEffects();
        EngineScriptTest::TearDown();
    }
};

TEST_F(DisplayFunctions, AmbientLookAndQueries) {
    Lua(R"(
        assert(ge_getambientcolor() == 'ffffffff')
        ge_setambientcolor('ff102030')
        assert(ge_getambientcolor() == 'ff102030')
        ge_setambientcolor('')
        assert(ge_getambientcolor() == 'ffffffff')
        ge_look(45, -10)
        local yaw, pitch = ge_getlook()
        assert(yaw == 45 and pitch == -10)
        -- no results below type 2; no shift beyond the 32 bits above 16
        assert(select('#', ge_getantialiassupport(1)) == 0)
        assert(ge_getantialiassupport(40) == false and ge_getantialiassupport(2^40) == false)
        assert(ge_getshadersupport() == false)
        assert(ge_getview() == nil and select('#', ge_getview()) == 1)
        assert(ge_getaeface() == -1)
        -- no current scene: no view vector at all
        assert(select('#', ge_getaevector(1, 2)) == 0)
        assert(ge_consoleenabled() == false)
        ge_toggleconsole()
        assert(ge_consoleenabled() == true)
    )");
    EXPECT_EQ(engine->ambientColor, 0xFFFFFFFFu);
}

TEST_F(DisplayFunctions, CameraFunctionsUseTheActiveCamera) {
    Camera camera;
    camera.SetDefaults();
    camera.SetViewport(0, 0, 640, 480);
    engine->activeCamera = &camera;
    g_walkOffset[0] = 5;
    Lua(R"(
        ge_setprojection(90, 4 / 3, 1, 100)
        ge_camsetrotation(90, 0)
        -- a point ahead of the eye, on the turned view axis, lands mid-screen
        local x, y = ge_project(10, 0, 0)
        assert(x == 320 and y == 240, x .. ',' .. y)
        assert(select('#', ge_project(-100, 0, 0)) == 2)
        local ux, uy, uz = ge_unproject(320, 240, 0)
        assert(math.abs(ux - 6) < 1e-3 and math.abs(uy) < 1e-3 and math.abs(uz) < 1e-3, ux .. ',' .. uy .. ',' .. uz)
    )");
    EXPECT_FLOAT_EQ(camera.zfar, 100.0f);
    EXPECT_FLOAT_EQ(camera.eye.x, 5.0f);
    // Script numbers reach a screen point's direction (a particle source's
    // position): NaN and numbers past the int range saturate.
    float d[3];
    engine->DirectionAt(d, std::nanf(""), 1e30f, true);
    EXPECT_TRUE(std::isfinite(d[0]) && std::isfinite(d[1]) && std::isfinite(d[2]));
    g_walkOffset[0] = 0;
    engine->activeCamera = nullptr;
}

TEST_F(DisplayFunctions, PointerAndViewInScenes) {
    GameScene cube;
    cube.viewtype = kViewCube;
    Camera camera;
    camera.SetDefaults();
    camera.SetViewport(0, 0, 640, 480);
    cube.camera = &camera;
    engine->currentScene = &cube;
    const float saved_yaw = g_pointerYaw, saved_pitch = g_pointerPitch;
    g_pointerYaw = 90;
    g_pointerPitch = 0;
    Lua(R"(
        local yaw, pitch = ge_getae()
        assert(yaw == 90 and pitch == 0)
        assert(ge_getaeface() == 1)  -- +x is the right face
        local face, x, y = ge_getfacexy()
        assert(face == 1 and math.abs(x - 511) <= 1 and math.abs(y - 511) <= 1, face .. ',' .. x .. ',' .. y)
        local dx, dy, dz = ge_getaevector(0, 90)  -- straight down
        assert(math.abs(dx) < 1e-6 and math.abs(dy + 1) < 1e-6 and math.abs(dz) < 1e-6)
        view = ge_getview()
    )");
    lua_getglobal(L, "view");
    EXPECT_EQ(lua_touserdata(L, -1), camera.Handle());
    lua_pop(L, 1);

    // A page scene: the mouse position, no face, and a view vector through
    // the scene's camera that points into the scene.
    cube.viewtype = kViewPage;
    camera.SetPerspective(90, 4.0f / 3, 1, 100);
    camera.UpdateView();
    g_mouseX = 320.7f;
    g_mouseY = 240.2f;
    Lua(R"(
        local x, y = ge_getae()
        assert(x == 320 and y == 240)
        assert(ge_getaeface() == -1)
        local dx, dy, dz = ge_getaevector()
        assert(math.abs(dx) < 1e-3 and math.abs(dy) < 1e-3 and math.abs(dz - 1) < 1e-3, dx .. ',' .. dy .. ',' .. dz)
    )");
    cube.camera = nullptr;
    Lua(R"(
        local dx, dy, dz = ge_getaevector(1, 2)
        assert(dx == 0 and dy == 0 and dz == 0)
        assert(ge_getview() == nil)
    )");
    g_mouseX = g_mouseY = 0;
    g_pointerYaw = saved_yaw;
    g_pointerPitch = saved_pitch;
    engine->currentScene = nullptr;
}

TEST_F(DisplayFunctions, GammaAndAntialiasQueriesReachTheDevice) {
    D3DRenderDevice device;  // never created: it keeps its ramp all the same
    RenderDevice* saved = g_renderDevice;
    g_renderDevice = &device;
    media_test::TgaShape shape;
    shape.width = 256;
    shape.height = 1;
    std::string pixels;
    for (int i = 0; i < 256; ++i) pixels += std::string{char(0), char(0), char(i)};  // B, G, R
    quild_test::WriteFile(Path("ramp.tga"), media_test::MakeTga(shape, "", pixels));
    shape.width = 255;
    quild_test::WriteFile(Path("short.tga"), media_test::MakeTga(shape, "", pixels.substr(3)));
    uint16_t ramp[256];
    Lua("ge_importgamma('short.tga'); ge_importgamma('missing.tga'); ge_importgamma()");
    device.GetGammaRamp(ramp);
    EXPECT_EQ(ramp[255], 65535);  // untouched: still the identity
    EXPECT_EQ(ramp[100], 100 * 257);
    Lua("ge_importgamma('ramp.tga')");
    device.GetGammaRamp(ramp);
    EXPECT_EQ(ramp[0], 0);
    EXPECT_EQ(ramp[200], ((76 * 200) >> 8) * 65535 / 255);
    EXPECT_EQ(ramp[255], ((76 * 255) >> 8) * 65535 / 255);
    Lua("ge_setgamma(1, 1, 1)");
    device.GetGammaRamp(ramp);
    EXPECT_EQ(ramp[255], 65535);

    device.capabilityBits = 1u << 6;  // multisample type 4
    Lua("assert(ge_getantialiassupport(4) == true and ge_getantialiassupport(2) == false)");
    Lua("assert(ge_getantialiassupport(16) == false)");
    g_renderDevice = saved;
}

TEST_F(DisplayFunctions, ScreenshotRequests) {
    engine->screenRect.Set(0, 0, 800, 600);
    Lua("ge_saveshot('shot', 90, 0, -5)");
    EXPECT_STREQ(engine->screenshotName, "shot");
    EXPECT_EQ(engine->screenshotQuality, 90);
    EXPECT_EQ(engine->screenshotWidth, 800);
    EXPECT_EQ(engine->screenshotHeight, 600);
    Lua("ge_saveshot('big', 90, 1e9, 1e9)");  // refused: the earlier request stays
    EXPECT_STREQ(engine->screenshotName, "shot");
    EXPECT_TRUE(Logged("[SAVESHOT] Size refused"));
    Lua("ge_saveshot('small', 50, 320, 200)");
    EXPECT_EQ(engine->screenshotWidth, 320);
    EXPECT_EQ(engine->screenshotHeight, 200);
}

TEST_F(DisplayFunctions, PostEffectSwitches) {
    const PostEffects& fx = GetPostEffects();
    Lua("ge_crabfx(250000)");
    EXPECT_EQ(engine->postFxRequested, kPostChromatic);
    EXPECT_FLOAT_EQ(fx.c0[0], 2.5f);
    EXPECT_FLOAT_EQ(fx.c0[1], -2.5f);
    EXPECT_FLOAT_EQ(fx.c1[1], 2.5f);
    EXPECT_FLOAT_EQ(fx.c1[3], -2.5f);
    // The last argument decides.
    Lua("ge_motionblurfx(false, true)");
    EXPECT_EQ(engine->postFxRequested, kPostChromatic | kPostMotionBlur);
    Lua("ge_motionblurfx()");
    EXPECT_EQ(engine->postFxRequested, kPostChromatic);
    Lua("ge_radialblurfx(0, 0.25)");
    EXPECT_FLOAT_EQ(fx.radialAmount, 0.25f);
    EXPECT_TRUE(engine->postFxRequested & kPostRadialBlur);
    Lua("ge_radialblurfx(-1)");
    EXPECT_FALSE(engine->postFxRequested & kPostRadialBlur);

    // Without shaders: glow and the named shader go off, other flags stay.
    engine->postFxRequested |= kPostGlow | kPostShader;
    Lua("ge_glowfx(0.5)");
    EXPECT_FLOAT_EQ(fx.glowStrength, 0.5f);
    EXPECT_EQ(engine->postFxRequested, kPostChromatic);
    Lua("ge_glowfx(true)");
    EXPECT_FLOAT_EQ(fx.glowStrength, 0.0078f);
    engine->postFxRequested |= kPostShader;
    Lua("ge_postfx('')");
    EXPECT_EQ(engine->postFxRequested, kPostChromatic);
}

TEST_F(DisplayFunctions, MissingShaderNamesReachTheAlertAsText) {
    engine->shadersOn = true;  // no device: no program exists
    Lua("function _ALERT(m) alerts = (alerts or '') .. m .. ';' end");
    Lua("ge_postfx('a\"); boom = true --')");
    Lua("ge_lensviewfx(true)");
    EXPECT_EQ(Text("alerts"), "PostFx Shader Not Found: a\"); boom = true --;PostFx Shader Not Found: lensview;");
    Lua("assert(boom == nil)");
    EXPECT_EQ(engine->postFxRequested, 0u);
}

}  // namespace
