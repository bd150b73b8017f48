// Frames drawn by the real device through RenderScene and read back: a
// cube scene with a hotspot image over its faces, the editor's outlines of
// hotspots, and a page whose hotspot shows its hovered image. Each frame is
// saved as PNG under the build folder's frames/.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "app/app_window.h"
#include "app/engine.h"
#include "app/scene_render.h"
#include "app/scene_switch.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "media/mesh/mesh_texts.h"
#include "media/resource_manager.h"
#include "platform/gpu/device.h"
#include "render/camera.h"
#include "render/render_fixture.h"
#include "scene/cube_faces.h"
#include "scene/game_fx.h"
#include "scene/game_mesh.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "scene/particle_source.h"
#include "scene/patch.h"
#include "scene/point_object.h"
#include "scene/surface_effect.h"
#include "script/lua_host.h"
#include "engine_run.h"
#include "support/test_support.h"

namespace {

constexpr int kW = 256, kH = 192;

class SceneFrames : public render_test::RenderTest {
protected:
    void SetUp() override {
        Open(kW, kH);
        saved_device_ = g_renderDevice;
        g_renderDevice = dev;
        // Tests run as parallel processes: each gets a folder of its own.
        root_ = quild_test::BuildOutputPath(std::string("scene_roots/frames_") +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_EQ(RunSceneGen(root_,
                              "palette cube cube 64 pages book 2 64 48 "
                              "data cube 'cubefaces()' data cube "
                              "'hotspot{name=\"sign\",rect=\"20,20,60,40\",bgimage=\"stages/book/page2\"}' "
                              "data cube 'hotspot{name=\"other\",rect=\"140,100,50,40\"}' "
                              "data book 'hotspot{name=\"knob\",rect=\"100,100,40,40\",bgimage=\"stages/book/page2\","
                              "mouse_over=\"stages/book/page1\"}'"),
                  0);
        char cwd[4096];
        old_cwd_ = getcwd(cwd, sizeof cwd) ? cwd : ".";
        ASSERT_EQ(chdir(root_.c_str()), 0);
        e = GetEngine();
        ASSERT_NE(e, nullptr);
        e->screenRect.Set(0, 0, kW, kH);
        e->virtualRect.Set(0, 0, kW, kH);
        if (!e->defaultCamera) e->defaultCamera = new Camera();
        e->activeCamera = e->defaultCamera;
        e->sceneInputEnabled = e->hotspotEventsEnabled = true;
        InstallSceneRenderer();
        ASSERT_EQ(ScriptRun("DIR_STAGES = 'stages' Display = {fov = 90, aspect = 1.3333} "
                            "Gameplay = {dissolvefxtime = 0, pagefxtime = 0}"),
                  0);
    }
    void TearDown() override {
        e->currentScene = nullptr;
        e->selectedObject = e->hoveredHotspot = e->pressedHotspot = e->rawPickedHotspot = nullptr;
        e->editorMode = 0;
        g_keyTable[17] = g_keyTable[160] = 0;
        DeleteAllScenes(e);
        FreeHotspotPreview();
        Resources().Clear();
        g_renderDevice = saved_device_;
        // Each test has an engine of its own, none left for the next: its
        // scripts, compiled ones and globals would leak into another
        // folder's.
        SetCurrentEngine(e);
        e->Shutdown();
        e = nullptr;
        ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
        Close();
    }
    std::vector<uint32_t> Frame(const char* name) {
        dev->Clear(0);
        RenderCurrentScene(e);
        std::vector<uint32_t> px = Read();
        // Saved beside the other tests' frames, outside the data root.
        EXPECT_EQ(chdir(old_cwd_.c_str()), 0);
        SavePng(px, kW, kH, name);
        EXPECT_EQ(chdir(root_.c_str()), 0);
        return px;
    }
    static bool Near(uint32_t got, uint32_t want) {
        for (int s : {0, 8, 16})
            if (std::abs(int(got >> s & 255) - int(want >> s & 255)) > 24) return false;
        return true;
    }

    Engine* e = nullptr;
    RenderDevice* saved_device_ = nullptr;
    std::string root_, old_cwd_;
};

TEST_F(SceneFrames, CubeSceneWithAHotspotDrawnOverItsFaces) {
    NodeSwitch("cube", false);
    ASSERT_NE(e->currentScene, nullptr);
    g_lookYaw = g_lookPitch = 0;
    std::vector<uint32_t> px = Frame("render_cube_hotspot");
    // The hotspot's green image over the red front face.
    EXPECT_TRUE(Near(At(px, 50, 50), 0x30C030)) << std::hex << At(px, 50, 50);
    EXPECT_TRUE(Near(At(px, kW / 2 + 12, kH / 2 + 12), 0xC03030)) << std::hex << At(px, kW / 2 + 12, kH / 2 + 12);
    // The pointer's direction follows from the camera: the centre looks
    // straight ahead.
    g_lookYaw = 30, g_lookPitch = 10;
    Frame("render_cube_turned");
    g_lookYaw = g_lookPitch = 0;
    g_mouseX = kW / 2, g_mouseY = kH / 2;
    Frame("render_cube_hotspot");
    EXPECT_NEAR(g_pointerPitch, 0, 1.0);
    EXPECT_TRUE(g_pointerYaw < 1.0f || g_pointerYaw > 359.0f) << g_pointerYaw;
}

TEST_F(SceneFrames, EditorOutlinesTheHotspotsWhileCtrlIsHeld) {
    NodeSwitch("cube", false);
    ASSERT_NE(e->currentScene, nullptr);
    HotSpot* sign = e->currentScene->hotspots.head;
    ASSERT_NE(sign, nullptr);
    e->editorMode = 2;
    e->selectedObject = sign;
    std::vector<uint32_t> plain = Frame("render_editor_plain");
    g_keyTable[17] = 1;
    std::vector<uint32_t> outlined = Frame("render_editor_outlines");
    // The other hotspot's outline in its palette colour (value 2).
    const uint32_t colour = HotspotPaletteColour(2) & 0xFFFFFF;
    EXPECT_TRUE(Near(At(outlined, 165, 100), colour)) << std::hex << At(outlined, 165, 100) << " " << colour;
    EXPECT_FALSE(Near(At(plain, 165, 100), colour));
}

// A selected map hotspot shows the map view, which needs the game's angle
// image and shader program: each one missing is named once, however many
// frames are drawn without it.
TEST_F(SceneFrames, TheMapViewNamesWhatItLacksOnce) {
    NodeSwitch("cube", false);
    ASSERT_NE(e->currentScene, nullptr);
    HotSpot* sign = e->currentScene->hotspots.head;
    ASSERT_NE(sign, nullptr);
    sign->hs_type = kHotspotMap;
    e->selectedObject = sign;
    e->shadersOn = true;
    static std::vector<std::string>* sink = nullptr;
    std::vector<std::string> lines;
    sink = &lines;
    SetLogSink([](const char* line, unsigned) {
        if (std::strstr(line, "MAP VIEW")) sink->push_back(line);
    });
    for (int i = 0; i < 3; ++i) RenderCurrentScene(e);
    std::filesystem::create_directories(root_ + "/data/misc");
    std::filesystem::copy_file(root_ + "/stages/book/page1.png", root_ + "/data/misc/eqlookup.png");
    for (int i = 0; i < 3; ++i) RenderCurrentScene(e);
    SetLogSink(nullptr);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("no image data/misc/eqlookup"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("no shader program \"hotspot_debug\""), std::string::npos) << lines[1];
}

TEST_F(SceneFrames, PageHotspotShowsItsHoveredImage) {
    NodeSwitch("book", false);
    ASSERT_NE(e->currentScene, nullptr);
    std::vector<uint32_t> px = Frame("render_page_hotspot");
    EXPECT_TRUE(Near(At(px, 120, 130), 0x30C030)) << std::hex << At(px, 120, 130);
    g_mouseX = 120, g_mouseY = 130;
    e->UpdateHover();
    ASSERT_NE(e->hoveredHotspot, nullptr);
    px = Frame("render_page_hotspot_hovered");
    EXPECT_TRUE(Near(At(px, 120, 130), 0xC03030)) << std::hex << At(px, 120, 130);
}

// A particle placed on the screen is drawn at that place and size whatever
// the eye of the scene's camera: it is spawned along the eye's ray and
// drawn from the eye.
TEST_F(SceneFrames, ScreenPlacedParticlesFollowTheCameraEye) {
    struct Spot {
        double x = 0, y = 0;
        int count = 0;
    };
    const std::string dir = root_ + "/stages/sparks";
    std::filesystem::create_directories(dir);
    const std::string pages = quild_test::ReadFile(root_ + "/stages/book/data.lua");
    auto drawn = [&](const char* eye, const char* frame) {
        const std::string data = pages + "view{eye='" + eye + "'}\n" +
                                 "particlesource{name='spark', image='stages/book/page2', x=200, y=50, distance=100,"
                                 " particle_count=1, lifetime='1000,1000', source_size='0,0,0', velX='0,0',"
                                 " velY='0,0', velZ='0,0', accelX='0,0', accelY='0,0', accelZ='0,0'}\n";
        EXPECT_TRUE(WriteFileAtomic((dir + "/data.lua").c_str(), data.data(), data.size()));
        NodeSwitch("sparks", false);
        Spot spot;
        GameScene* s = e->currentScene;
        EXPECT_NE(s, nullptr);
        if (!s || !s->points.head || !s->camera) return spot;
        // Placed on the screen, born along the scene camera's ray at age 0.
        auto* source = static_cast<GameParticleSource*>(s->points.head);
        source->projection = 1;
        source->snd_action = kParticlesTogether;
        e->activeCamera = s->camera;
        s->camera->Apply();
        s->camera->UpdateView();
        source->OnChanged(kPsourceBitParticleCount);
        const std::vector<uint32_t> with = Frame(frame);
        source->visible = false;
        const std::vector<uint32_t> without = Frame("render_spark_none");
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                if (At(with, x, y) != At(without, x, y)) spot.x += x, spot.y += y, ++spot.count;
        if (spot.count) spot.x /= spot.count, spot.y /= spot.count;
        e->currentScene = nullptr;
        e->activeCamera = e->defaultCamera;
        DeleteAllScenes(e);
        return spot;
    };
    const Spot ahead = drawn("0,0,0", "render_spark_eye_origin"), back = drawn("0,0,-1000", "render_spark_eye_back");
    ASSERT_GT(ahead.count, 20);
    EXPECT_NEAR(ahead.x, 200, 2);
    EXPECT_NEAR(ahead.y, 50, 2);
    EXPECT_NEAR(back.x, ahead.x, 1);
    EXPECT_NEAR(back.y, ahead.y, 1);
    EXPECT_NEAR(back.count, ahead.count, ahead.count / 10);
}

TEST_F(SceneFrames, SceneFileWithEveryObjectConstructorLoadsAndDraws) {
    const std::string dir = root_ + "/stages/effects";
    std::filesystem::create_directories(dir);
    for (int f = 1; f <= 6; ++f)
        std::filesystem::copy_file(root_ + "/stages/cube/0" + std::to_string(f) + ".png",
                                   dir + "/0" + std::to_string(f) + ".png");
    const std::string data =
        "cubefaces()\n"
        "patch{name='door', image='stages/book/page2', face=0, x=384, y=384, size=4}\n"
        "patch{name='lid', format='anim/none'}\n"
        "surffx{name='pool', texture='stages/book/page1', face=0, width=120, height=60, distance=450,"
        " position='-300,0,0'}\n"
        "surffx{name='sky', texture='sky/none'}\n"
        "fx{name='sun', file='stages/book/page1', x=30, y=-20, scale=0.25, power=0}\n"
        "fx{name='flare', format='fx/none', lens_count=2, lens_format='0,1,1'}\n"
        "mesh{name='box', file='meshes/none'}\n"
        "lightsource{}\n"
        "particlesource{name='dust', image='fx/dust'}\n"
        "sound3D{name='hum', sound='snd/none'}\n";
    ASSERT_TRUE(WriteFileAtomic((dir + "/data.lua").c_str(), data.data(), data.size()));
    std::vector<std::string> missing;
    static std::vector<std::string>* sink = nullptr;
    sink = &missing;
    SetLogSink([](const char* line, unsigned) {
        if (std::string(line).rfind("[NOT FOUND]", 0) == 0) sink->push_back(line);
    });
    NodeSwitch("effects", false);
    SetLogSink(nullptr);
    GameScene* s = e->currentScene;
    ASSERT_NE(s, nullptr);
    // The mask images cubefaces() looks for, then the constructors' images in
    // the order they are read; the scene's resource pass asks for some of
    // them again, which reports nothing more.
    std::vector<std::string> want;
    for (int f = 1; f <= 6; ++f) want.push_back("[NOT FOUND] - IMAGE : stages/effects/a_0" + std::to_string(f));
    for (const char* line :
         {"IMAGE : anim/none/0", "IMAGE : sky/none", "IMAGE : fx/none/0", "IMAGE : fx/none/1", "MESH : meshes/none",
          "IMAGE : data/misc/editor_icons/light", "IMAGE : data/misc/editor_icons/water", "IMAGE : fx/dust",
          "SOUND : snd/none", "IMAGE : data/misc/editor_icons/sound"})
        want.push_back(std::string("[NOT FOUND] - ") + line);
    EXPECT_EQ(missing, want);
    EXPECT_EQ(ListCount(s->patches), 2u);
    EXPECT_EQ(ListCount(s->surfaces), 2u);
    EXPECT_EQ(ListCount(s->fx), 2u);
    EXPECT_EQ(ListCount(s->meshes), 1u);
    EXPECT_EQ(ListCount(s->points), 3u);  // the light, the source and the sound's point
    g_lookYaw = g_lookPitch = 0;
    missing.clear();
    SetLogSink([](const char* line, unsigned) {
        if (std::string(line).rfind("[NOT FOUND]", 0) == 0) sink->push_back(line);
    });
    for (int i = 0; i < 59; ++i) RenderCurrentScene(e);
    SetLogSink(nullptr);
    // The frameless patch's first frame was reported while loading: the
    // frames that look for it again add nothing to the log.
    EXPECT_EQ(missing, std::vector<std::string>{});
    const std::vector<uint32_t> px = Frame("render_effects_scene");
    // The patch (page 2's green) in the middle of the red front face.
    EXPECT_TRUE(Near(At(px, kW / 2, kH / 2), 0x30C030)) << std::hex << At(px, kW / 2, kH / 2);
}

// A node switch draws the new scene once off screen, so that the driver
// builds its code behind the load. That draw is a rehearsal: after the
// switch the game finds the scene as it would without it (the patch's play
// position, the particles and their generator, the flare's opacity, the
// surface's scroll and frame, the camera and listener, a page turn; in a
// cube scene the pointer's direction, the faces' culling, the viewport, a
// mesh's animation, the editor's overlays and the map brush), and its first
// frame links no GL program.
TEST_F(SceneFrames, TheSwitchsWarmUpDrawMovesNothingOn) {
    const std::string dir = root_ + "/stages/lively";
    std::filesystem::create_directories(dir + "/lens");
    std::filesystem::copy_file(root_ + "/stages/book/page2.png", dir + "/lens/0.png");
    const std::string data =
        quild_test::ReadFile(root_ + "/stages/book/data.lua") + "view{eye='0,0,-10'}\n" +
        "patch{name='p1', image='stages/book/page2', frame_count=10, interval=100, type=1}\n"
        "particlesource{name='sparks', image='stages/book/page1', x=60, y=40, distance=100, particle_count=30,"
        " lifetime='2,12', source_size='20,20,0', velX='-2,2', velY='-2,2', velZ='0,0', accelX='0,0',"
        " accelY='0,0', accelZ='0,0', rotSpeed='1,5', blendmode=1, rand_seed=7}\n"
        "fx{name='glow', format='stages/lively/lens', lens_count=1, lens_format='0,1,1', x=60, y=40, opacity=0}\n"
        "surffx{name='clouds', texture='stages/book/page1', width=50, height=50, distance=100, scroll_speed=40,"
        " anim_seq='stages/book/page', anim_count=2, anim_freq=1}\n";
    ASSERT_TRUE(WriteFileAtomic((dir + "/data.lua").c_str(), data.data(), data.size()));
    // The cube scene gains a map hotspot, selected in the editor with the
    // map view on, and an animated mesh straight ahead.
    const std::string cube = quild_test::ReadFile(root_ + "/stages/cube/data.lua") +
                             "hotspot{name='spot'}\n"
                             "mesh{name='bend', file='stages/cube/bend', position='-0.5,-1,10'}\n";
    ASSERT_TRUE(WriteFileAtomic((root_ + "/stages/cube/data.lua").c_str(), cube.data(), cube.size()));
    quild_test::WriteFile(root_ + "/stages/cube/bend.x", media_test::kSkinnedX);
    std::filesystem::create_directories(root_ + "/data/misc");
    std::filesystem::copy_file(root_ + "/stages/book/page1.png", root_ + "/data/misc/eqlookup.png");
    e->shadersOn = true;
    ASSERT_EQ(ScriptRun("function OnGameSceneStart(to)\n"
                        "  if to == 'cube' then\n"
                        "    seteditormode(2) ge_selectobject(ge_getsceneobject('hotspot', 'spot'))\n"
                        "    ge_setproperty(ge_getsceneobject('mesh', 'bend'), 'animated', true) return\n"
                        "  end\n"
                        "  ge_setproperty(ge_getsceneobject('patch', 'p1'), 'ptc_action', 1)\n"
                        "  ge_setproperty(ge_getsceneobject('fx', 'glow'), 'opacity', 255)\n"
                        "  ge_pagein(2)\n"
                        "end"),
              0);
    struct Seen {
        float time = -1, opacity = -1, scroll = -1;
        int32_t frame = -1;
        std::vector<float> particles;
        Camera* camera = nullptr;
        bool listener = false;
        std::string engine;  // what the drawing leaves in the engine and the device
    };
    auto engine_side = [&] {
        std::ostringstream o;
        o << "pointer " << g_pointerYaw << "," << g_pointerPitch << " faces";
        for (uint8_t visible : g_cubeFaceVisible) o << ' ' << int(visible);
        RenderViewport vp;
        dev->GetViewport(&vp);
        o << " viewport " << vp.x << "," << vp.y << "," << vp.width << "," << vp.height;
        o << " page turn " << e->pageTurn << " at " << e->pageTurnTime;
        const EObject* selected = e->selectedObject;
        o << " selected " << (selected && selected->name ? selected->name : "none");
        o << " brush " << GetHotspotBrush().labelTime << " map view asked " << e->hotspotViewRequest;
        if (e->currentScene && e->currentScene->meshes.head) o << " mesh at " << e->currentScene->meshes.head->position1;
        return o.str();
    };
    auto seen = [&] {
        Seen s;
        s.engine = engine_side();
        GameScene* scene = e->currentScene;
        if (!scene || !scene->patches.head || !scene->fx.head || !scene->surfaces.head || !scene->points.head)
            return s;
        s.time = scene->patches.head->currentTime;
        s.opacity = scene->fx.head->currentOpacity;
        s.scroll = scene->surfaces.head->scrollOffset;
        s.frame = scene->surfaces.head->frameCounter;
        auto* source = static_cast<GameParticleSource*>(scene->points.head);
        for (const Particle* p = source->particles.head; p; p = static_cast<const Particle*>(p->link))
            s.particles.insert(s.particles.end(), {p->position.x, p->position.y, p->angle, float(p->age)});
        s.camera = e->activeCamera;
        s.listener = scene->listenerFollowsView;
        return s;
    };
    // The same switch without and with the render target the rehearsal
    // draws into, from the same state; the particles' generators start
    // alike. The pointer lies on the mesh, left Shift and the left button
    // held: the overlays of a shown frame select what lies under it.
    auto run = [&](const char* scene, bool with_target) {
        e->renderTarget = with_target ? dev->CreateTexture(kW, kH, TEXKIND_RENDER_TARGET, nullptr, 0) : nullptr;
        std::srand(11);
        g_lookYaw = g_lookPitch = 0;
        g_pointerYaw = 77, g_pointerPitch = 33;
        std::fill(std::begin(g_cubeFaceVisible), std::end(g_cubeFaceVisible), 1);
        dev->SetViewport(RenderViewport{0, 0, 100, 50, 0, 1});
        g_mouseX = kW / 2, g_mouseY = kH / 2;
        g_keyTable[160] = 1;
        e->buttonsDown = 1;
        e->selectedObject = nullptr;
        e->editorMode = 0;
        GetHotspotBrush().labelTime = 0;
        plat::gpu::Device* gl = dev->GetDevice();
        NodeSwitch(scene, false);
        std::vector<Seen> states{seen()};
        gl->ResetStats();
        dev->Clear(0);
        RenderCurrentScene(e);
        if (with_target && e->editorMode == 0) {
            EXPECT_EQ(gl->GetStats().programLinks, 0u) << "built in the first frame shown";
        }
        for (int i = 0; i < 20; ++i) RenderCurrentScene(e);
        states.push_back(seen());
        e->currentScene = nullptr;
        DeleteAllScenes(e);
        dev->ReleaseTexture(e->renderTarget);
        e->renderTarget = nullptr;
        return states;
    };
    const std::vector<Seen> warm = run("lively", true), cold = run("lively", false);
    const std::vector<Seen> warm_cube = run("cube", true), cold_cube = run("cube", false);
    ASSERT_EQ(warm.size(), 2u);
    EXPECT_EQ(warm[0].time, 0.0f);
    EXPECT_EQ(warm[0].opacity, 0.0f);
    EXPECT_EQ(warm[0].frame, 0);
    EXPECT_EQ(warm[0].camera, e->defaultCamera);
    EXPECT_TRUE(warm[0].listener);
    EXPECT_EQ(warm[0].particles.size(), 120u);
    for (size_t i = 0; i < warm.size(); ++i) {
        const char* when = i ? "after 21 frames" : "after the switch";
        EXPECT_EQ(warm[i].time, cold[i].time) << when;
        EXPECT_EQ(warm[i].opacity, cold[i].opacity) << when;
        EXPECT_EQ(warm[i].scroll, cold[i].scroll) << when;
        EXPECT_EQ(warm[i].frame, cold[i].frame) << when;
        EXPECT_EQ(warm[i].particles, cold[i].particles) << when;
        EXPECT_EQ(warm[i].camera, cold[i].camera) << when;
        EXPECT_EQ(warm[i].listener, cold[i].listener) << when;
        EXPECT_EQ(warm[i].engine, cold[i].engine) << when;
        EXPECT_EQ(warm_cube[i].engine, cold_cube[i].engine) << when;
    }
    EXPECT_GT(warm[1].time, 300.0f);  // the frames shown do move it on
    // The frames shown do turn the page, aim the pointer, animate the mesh,
    // select it and use the brush.
    EXPECT_NE(warm[0].engine, warm[1].engine);
    EXPECT_NE(warm_cube[0].engine, warm_cube[1].engine);
    ASSERT_EQ(ScriptRun("OnGameSceneStart = nil"), 0);
}

}  // namespace
