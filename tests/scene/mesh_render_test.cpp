// Meshes and particles drawn by the real device (OpenGL, headless) and read
// back: a lit cube with its planar shadow, the same cube projected onto the
// panorama's depth, and a cloud of additive particles. Each frame is saved
// under the build folder's frames/.
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "../../tools/diffuse_shader.h"
#include "app/scene_render.h"
#include "app/scene_switch.h"
#include "media/mesh/mesh_texts.h"
#include "render/camera.h"
#include "render/geometry.h"
#include "render/render_fixture.h"
#include "render/shader_program.h"
#include "scene/game_mesh.h"
#include "scene/particle_source.h"
#include "scene/point_object.h"
#include "scene/scene_fixture.h"
#include "script/script_var.h"
#include "scriptapi/scene_constructors.h"

using namespace scene_test;

namespace {

using render_test::Screen;

constexpr int kW = 256, kH = 192;
constexpr uint32_t kBackground = 0x304050;

class MeshRenderTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        screen.Open(kW, kH);
        saved_ = g_renderDevice;
        g_renderDevice = screen.dev;
        engine.virtualRect.Set(0, 0, kW, kH);
        engine.screenRect.Set(0, 0, kW, kH);
        engine.shadersOn = true;
        ASSERT_TRUE(screen.dev->CreateShaderProgram("diff", kDiffuseVs, kDiffusePs));
        s = Scene("yard");
        s->viewtype = kViewCube;
        engine.currentScene = s;
        camera = static_cast<Camera*>(CreateObjectByClass("view"));
        camera->LookAt({0, 0, 0}, {0, 0, 1});
        camera->SetPerspective(60, float(kW) / float(kH), 1.0f, 10000.0f);
        camera->fov = 60;
        camera->dirty = true;
        camera->UpdateView();
        camera->Apply();
        engine.activeCamera = camera;
        Write(Path("box.x"), media_test::kCubeX);
        PointSceneObject* light = Add(s->points, "Light");
        light->x = -60, light->y = -50, light->distance = 1000;
    }
    void TearDown() override {
        delete camera;
        engine.activeCamera = nullptr;
        SceneTest::TearDown();
        g_renderDevice = saved_;
        screen.Close();
    }
    void SaveFrame(const std::vector<uint32_t>& px, const char* name) {
        ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
        render_test::SaveFramePng(px, kW, kH, name);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    }
    static uint32_t At(const std::vector<uint32_t>& px, int x, int y) { return px[size_t(y) * kW + x] & 0xFFFFFF; }
    GameMesh* Cube(const char* name) {
        GameMesh* m = Add(s->meshes, name);
        m->hmesh = Resources().DeclareMesh("box", 0);
        m->diffuse = 0xFFC08040u;
        m->ambient = 0xFF202020u;
        m->rotation = {30, 20, 0};
        m->SetWorldPosition({0, -1, 14});
        m->OnChanged(kMeshBitsPlacement);
        return m;
    }

    Screen screen;
    RenderDevice* saved_ = nullptr;
    GameScene* s = nullptr;
    Camera* camera = nullptr;
};

TEST_F(MeshRenderTest, LitMeshWithItsShadow) {
    GameMesh* m = Cube("box");
    m->castShadow = true;
    ASSERT_NE(m->shader, nullptr);
    screen.dev->Clear(0xFF000000u | kBackground);
    engine.depthClearRequest = true;
    m->Render();
    EXPECT_FALSE(engine.depthClearRequest);
    const std::vector<uint32_t> px = screen.Read();
    SaveFrame(px, "mesh_lit_shadow");
    int lit = 0, dark = 0, shades = 0;
    uint32_t last = 0;
    for (uint32_t p : px) {
        const int r = int(p >> 16 & 255), g = int(p >> 8 & 255), b = int(p & 255);
        if (r > g && g > b && r > 0x40) {
            ++lit;
            if (p != last) ++shades;
            last = p;
        }
        if (b > r && b < 0x40) ++dark;  // the background half covered
    }
    EXPECT_GT(lit, 200);    // the orange cube
    EXPECT_GT(shades, 2);   // lit faces differ
    EXPECT_GT(dark, 50);    // its half-transparent black shadow
}

TEST_F(MeshRenderTest, ProjectedMeshMovesOntoThePanoramasDepth) {
    uint8_t* depth = DepthBuffer();
    ASSERT_TRUE(depth);
    std::memset(depth, 255, kDepthBufferBytes);
    GameMesh* m = Cube("near");
    m->projected = true;
    screen.dev->Clear(0xFF000000u | kBackground);
    m->Render();
    const std::vector<uint32_t> near_px = screen.Read();
    int near_lit = 0;
    for (uint32_t p : near_px) near_lit += (p & 0xFFFFFF) != kBackground;
    // Depth 0 on the front face: pushed 200 units farther, so smaller.
    std::memset(depth, 0, 128 * 128);
    screen.dev->Clear(0xFF000000u | kBackground);
    m->Render();
    const std::vector<uint32_t> far_px = screen.Read();
    SaveFrame(far_px, "mesh_projected");
    int far_lit = 0;
    for (uint32_t p : far_px) far_lit += (p & 0xFFFFFF) != kBackground;
    EXPECT_GT(near_lit, 0);
    EXPECT_GT(far_lit, 0);
    EXPECT_LT(far_lit * 4, near_lit);
    std::memset(depth, 255, kDepthBufferBytes);
}

TEST_F(MeshRenderTest, ParticlesDrawAsFacingQuadsInOneBatch) {
    Write(Path("spark.png"), SolidPng(8, 8, 0xFFFFFF));
    auto* p = static_cast<GameParticleSource*>(CreateObjectByClass("psource"));
    ListAppend(s->points, static_cast<PointSceneObject*>(p));
    p->name = Intern("sparks");
    p->pimage = Resources().DeclareImage("spark", 0);
    p->x = 0, p->y = 0, p->distance = 300;
    p->source_size = {60, 40, 10};
    p->lifetime[0] = 20, p->lifetime[1] = 60;
    p->velY[0] = -1.5f, p->velY[1] = -0.5f;
    p->accelY[0] = p->accelY[1] = 0.02f;
    p->scaleU[0] = p->scaleU[1] = 1;
    p->scaleV[0] = p->scaleV[1] = 1;
    p->rotSpeed[0] = 1, p->rotSpeed[1] = 5;
    p->projectU = p->projectV = true;
    p->blendmode = 1;
    p->color = 0xFFFF9030u;
    p->particle_count = 150;
    p->sAlphaKeys = Intern("0,0,0.2,1,1,0");
    p->rand_seed = 42;
    p->OnChanged(0xFFFFFFFFu);
    screen.dev->Clear(0xFF000000u);
    for (int frame = 0; frame < 60; ++frame) p->Render();
    screen.dev->Clear(0xFF000000u);
    p->Render();
    const std::vector<uint32_t> px = screen.Read();
    SaveFrame(px, "particles");
    int warm = 0;
    for (uint32_t c : px) warm += (c >> 16 & 255) > 0x20 && (c >> 16 & 255) >= (c & 255);
    EXPECT_GT(warm, 300);
    // Nothing lies outside the birth box's reach to the left.
    for (int y = 0; y < kH; ++y) EXPECT_EQ(At(px, 2, y), 0u);
}

TEST_F(MeshRenderTest, SceneFileWithMeshLightAndParticlesRendersSixtyFrames) {
    Write(Path("spark.png"), SolidPng(4, 4, 0xFFFFFF));
    ListRemove(s->points, s->points.head);  // the fixture's light; the file declares its own
    engine.defaultCamera = camera;
    const float saved_fov = g_display_fov.value, saved_aspect = g_display_aspect.value;
    g_display_fov.value = 60;
    g_display_aspect.value = float(kW) / float(kH);
    SetSceneBeingLoaded(s);
    Lua(R"(
        box = mesh{name = "box", file = "box", position = "0,-1,14", rotation = "30,20,0",
                   diffuse = "ffc08040", ambient = "ff202020", specularpow = 0, castshadow = true}
        lightsource{x = -60, y = -50}
        particlesource{name = "dust", image = "spark", x = 10, y = 0, distance = 300,
                       particle_count = 80, lifetime = "20,40", velX = "-1,1", velY = "-1,1", velZ = "0,0",
                       accelX = "0,0", accelY = "0,0", accelZ = "0,0", alphaKeys = "0,1,1,0"}
        NOT_A_SOURCE = particlesource(12)
    )");
    SetSceneBeingLoaded(nullptr);
    ASSERT_EQ(ListCount(s->meshes), 1u);
    GameMesh* m = s->meshes.head;
    EXPECT_NEAR(m->distance, std::sqrt(197.0f), 1e-3);
    EXPECT_EQ(m->specularPow, 0.0f);
    EXPECT_TRUE(m->castShadow && m->visible && !m->projected);
    ASSERT_EQ(ListCount(s->points), 2u);
    EXPECT_STREQ(s->points.head->name, "Light");
    EXPECT_EQ(s->points.head->distance, 1000.0f);
    auto* dust = static_cast<GameParticleSource*>(ListNext(s->points.head));
    ASSERT_TRUE(IsClass(dust, "psource"));
    EXPECT_EQ(dust->ParticleCount(), 80u);
    EXPECT_EQ(dust->blendmode, 1);

    for (int frame = 0; frame < 60; ++frame) ASSERT_TRUE(RenderScene(s));
    const std::vector<uint32_t> px = screen.Read();
    SaveFrame(px, "scene_mesh_particles");
    int orange = 0, white = 0;
    for (uint32_t p : px) {
        const int r = int(p >> 16 & 255), g = int(p >> 8 & 255), b = int(p & 255);
        orange += r > g && g > b && r > 0x40;
        white += r > 0x30 && std::abs(r - g) < 8 && std::abs(g - b) < 8;
    }
    EXPECT_GT(orange, 200);
    EXPECT_GT(white, 20);
    engine.defaultCamera = nullptr;
    g_display_fov.value = saved_fov;
    g_display_aspect.value = saved_aspect;
}

}  // namespace
