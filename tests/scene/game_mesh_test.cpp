// Scene meshes without a real device: the shader choice, defaults, the
// world matrix and placement, editor input, the light, projection onto the
// panorama's depth, a shared mesh record, and the state a draw leaves.
#include "scene/game_mesh.h"

#include <cmath>
#include <limits>
#include <map>

#include "app/app_window.h"
#include "media/mesh/mesh_data.h"
#include "media/mesh/mesh_device.h"
#include "media/mesh/mesh_texts.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/camera.h"
#include "render/geometry.h"
#include "render/shader_program.h"
#include "render/vector_math.h"
#include "scene/hotspot_map.h"
#include "scene/point_object.h"
#include "scene/scene_fixture.h"

using namespace scene_test;

namespace {

// A program that keeps the constants set by index.
class FakeProgram : public ShaderProgram {
public:
    bool Compile(const char*, const char*) override { return true; }
    void Bind() override {}
    void Unbind() override {}
    void SetPixelConstant(uint32_t i, const float* v) override { pixel[i].assign(v, v + 4); }
    void SetPixelConstantByName(const char*, const float*, uint32_t) override {}
    void SetVertexConstant(uint32_t i, const float* v) override { vertex[i].assign(v, v + (i <= 2 ? 16 : 4)); }
    void SetVertexConstantByName(const char*, const float*, uint32_t) override {}
    std::map<uint32_t, std::vector<float>> pixel, vertex;
};

// Records depth, transforms and program binding, and knows programs by name.
class StateDevice : public media_test::MeshDevice {
public:
    std::map<std::string, FakeProgram> programs;
    bool depth = false;
    ShaderProgram* bound = nullptr;
    plat::Matrix world;
    ShaderProgram* FindShaderProgram(const char* name) override {
        auto it = programs.find(name);
        return it == programs.end() ? nullptr : &it->second;
    }
    void BindShaderProgram(ShaderProgram* p) override {
        bound = p;
        Log(p ? "bind" : "unbind");
    }
    void EnableDepth(bool on) override { depth = on; }
    void SetTransform(int which, const plat::Matrix& m) override {
        if (which == 0) world = m;
    }
};

bool IsIdentity(const plat::Matrix& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (m.m[r][c] != (r == c ? 1.0f : 0.0f)) return false;
    return true;
}

class MeshTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        saved_ = g_renderDevice;
        g_renderDevice = &device;
        for (const char* n : {"diff", "diff_norm", "diff_spec", "diff_norm_spec", "texture"}) device.programs[n];
        s = Scene("yard");
        s->viewtype = kViewCube;
        engine.currentScene = s;
        camera = static_cast<Camera*>(CreateObjectByClass("view"));
        camera->LookAt({0, 0, 0}, {0, 0, 1});
        camera->SetPerspective(60, 4.0f / 3, 1, 10000);
        camera->dirty = true;
        camera->UpdateView();
        engine.activeCamera = camera;
        mesh = Add(s->meshes, "box");
    }
    void TearDown() override {
        delete camera;
        engine.activeCamera = nullptr;
        SceneTest::TearDown();
        g_renderDevice = saved_;
    }
    ResourceRecord* CubeRecord(const char* name) {
        Write(Path(std::string(name) + ".x"), media_test::kCubeX);
        return Resources().DeclareMesh(name, 0);
    }
    const char* ShaderOf(GameMesh* m) {
        for (auto& [name, p] : device.programs)
            if (&p == m->shader) return name.c_str();
        return "none";
    }

    StateDevice device;
    RenderDevice* saved_ = nullptr;
    GameScene* s = nullptr;
    Camera* camera = nullptr;
    GameMesh* mesh = nullptr;
};

TEST_F(MeshTest, ShaderFollowsMaterialAndMaps) {
    mesh->ambient = mesh->diffuse = 0xFFFFFFFFu;
    mesh->OnChanged(0);
    EXPECT_STREQ(ShaderOf(mesh), "texture");
    mesh->specularPow = 2;
    mesh->OnChanged(kMeshBitSpecularPow);
    EXPECT_STREQ(ShaderOf(mesh), "diff_spec");
    mesh->hnormal = CubeRecord("normalmap");  // any record stands for a map
    mesh->OnChanged(kMeshBitNormal);
    EXPECT_STREQ(ShaderOf(mesh), "diff_norm_spec");
    mesh->specularPow = 0;
    mesh->ambient = 0xFF000000u;
    mesh->OnChanged(kMeshBitSpecularPow);
    EXPECT_STREQ(ShaderOf(mesh), "diff_norm");
    // The colour map takes no part; a missing program leaves none.
    mesh->hnormal = nullptr;
    mesh->htexture = CubeRecord("colour");
    mesh->OnChanged(kMeshBitNormal | kMeshBitTexture);
    EXPECT_STREQ(ShaderOf(mesh), "diff");
    device.programs.erase("diff");
    mesh->OnChanged(kMeshBitSpecularPow);
    EXPECT_EQ(mesh->shader, nullptr);
    // A program destroyed while the mesh holds it (declared again, shaders
    // switched, the display reset): the mesh draws with the program of that
    // name, or with none.
    device.programs["diff"];
    mesh->OnChanged(kMeshBitSpecularPow);
    ASSERT_EQ(mesh->Program(), &device.programs["diff"]);
    device.programs.erase("diff");
    const FakeProgram& again = device.programs["diff"];
    EXPECT_EQ(mesh->Program(), &again);
    device.programs.erase("diff");
    EXPECT_EQ(mesh->Program(), nullptr);
}

TEST_F(MeshTest, DefaultsAndTheWorldMatrix) {
    auto* m = static_cast<GameMesh*>(CreateObjectByClass("mesh"));
    EXPECT_EQ(m->ambient, 0xFF000000u);
    EXPECT_EQ(m->diffuse, 0xFFFFFFFFu);
    EXPECT_TRUE(m->visible);
    EXPECT_EQ(m->scaling.x, 1.0f);
    m->scaling = {0, 0, 2};
    m->SetDefaults();
    EXPECT_EQ(m->scaling.x, 0.0f);  // only all three at 0 are reset
    EXPECT_EQ(m->scaling.z, 2.0f);

    m->position = {0, 0, 1};
    m->distance = 300;
    m->rotation = {90, 0, 0};
    m->scaling = {2, 1, 1};
    m->OnChanged(kMeshBitRotation);
    plat::Matrix expect;
    plat::D3DXMatrixRotationYawPitchRoll(&expect, 90 * 3.1415925f / 180, 0, 0);
    for (int r = 0; r < 3; ++r) EXPECT_FLOAT_EQ(m->world.m[r][0], expect.m[r][0] * 2);
    EXPECT_FLOAT_EQ(m->world.m[3][2], 300.0f);
    delete m;
}

TEST_F(MeshTest, PlacementAtTheOriginKeepsTheDirection) {
    mesh->SetWorldPosition({0, 10, 0});
    EXPECT_EQ(mesh->distance, 10.0f);
    EXPECT_EQ(mesh->position.y, 1.0f);
    mesh->SetWorldPosition({0, 0, 0});
    EXPECT_EQ(mesh->distance, 0.0f);
    EXPECT_EQ(mesh->position.y, 1.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    mesh->SetWorldPosition({nan, 1, 1});
    EXPECT_EQ(mesh->distance, 0.0f);
    EXPECT_FALSE(std::isnan(mesh->position.x));
}

TEST_F(MeshTest, EditorKeysMoveTurnAndReset) {
    mesh->position = {0, 0, 1};
    mesh->distance = 500;
    mesh->EditorInput(0, 120);
    EXPECT_EQ(mesh->distance, 600.0f);
    EXPECT_TRUE(engine.sceneModified);
    mesh->EditorInput(0, -1);
    EXPECT_EQ(mesh->distance, 500.0f);
    EXPECT_FLOAT_EQ(mesh->world.m[3][2], 500.0f);

    mesh->EditorInput('D', 0);  // one unit along the mesh's own x
    EXPECT_NEAR(mesh->WorldPosition().x, 1.0f, 1e-4);
    mesh->EditorInput('A', 0);
    mesh->EditorInput('W', 0);
    EXPECT_NEAR(mesh->WorldPosition().y, 1.0f, 1e-4);
    mesh->EditorInput('S', 0);
    mesh->EditorInput('Q', 0);
    EXPECT_NEAR(mesh->distance, 499.0f, 1e-3);
    mesh->EditorInput('E', 0);

    mesh->EditorInput(39, 0);  // right: yaw
    EXPECT_EQ(mesh->rotation.x, 10.0f);
    g_keyTable[160] = 1;
    mesh->EditorInput(37, 0);  // left with left Shift: pitch
    g_keyTable[160] = 0;
    EXPECT_EQ(mesh->rotation.y, -10.0f);
    g_keyTable[17] = 1;
    mesh->EditorInput(39, 0);  // with Control: roll
    g_keyTable[17] = 0;
    EXPECT_EQ(mesh->rotation.z, 10.0f);
    // With a turn the axes turn: D moves along the turned x.
    const plat::Vec3 before = mesh->WorldPosition();
    mesh->rotation = {90, 0, 0};
    mesh->EditorInput('D', 0);
    EXPECT_NEAR(mesh->WorldPosition().z - before.z, -1.0f, 1e-3);
    mesh->EditorInput(36, 0);  // Home
    EXPECT_EQ(mesh->rotation.x, 0.0f);
    EXPECT_EQ(mesh->rotation.z, 0.0f);
}

TEST_F(MeshTest, LightComesFromThePointNamedLight) {
    plat::Vec3 d, p;
    GetLightDirection(&engine, &d, &p);
    EXPECT_EQ(p.x, -256.0f);
    EXPECT_EQ(p.y, 256.0f);
    EXPECT_EQ(p.z, -256.0f);
    EXPECT_NEAR(d.x, -0.57735f, 1e-4);

    PointSceneObject* light = Add(s->points, "LIGHT");
    light->x = 90, light->y = 0, light->distance = 700;
    GetLightDirection(&engine, &d, &p);
    EXPECT_NEAR(d.x, 1.0f, 1e-5);
    EXPECT_NEAR(p.x, 700.0f, 1e-3);
    // Around the viewer a negative distance puts the light on the other side.
    light->distance = -700;
    GetLightDirection(&engine, &d, &p);
    EXPECT_NEAR(d.x, 1.0f, 1e-5);
    EXPECT_NEAR(p.x, -700.0f, 1e-3);

    // In a 2-D scene the light is a screen point; a negative distance
    // mirrors it in the camera's forward axis.
    s->viewtype = kViewPage;
    camera->SetViewport(0, 0, 1024, 768);
    camera->UpdateView();
    light->x = 512, light->y = 100, light->distance = 100;
    plat::Vec3 d1, d2;
    GetLightDirection(&engine, &d1, &p);
    light->distance = -100;
    GetLightDirection(&engine, &d2, &p);
    EXPECT_NEAR(d2.x, d1.x, 1e-4);
    EXPECT_NEAR(d2.y, d1.y, 1e-4);
    EXPECT_NEAR(d2.z, -d1.z, 1e-4);
    EXPECT_NEAR(Vec3Length(p), 100.0f, 1e-2);
}

// A hotspot linked to a mesh by name is picked when the pointer's ray meets
// the mesh's box, turned, scaled and placed by the mesh's world matrix.
TEST_F(MeshTest, AHotspotLinkedToTheMeshIsPickedThroughItsBox) {
    HotSpot* h = Add(s->hotspots, "box_hs");
    h->SetDefaults();
    h->owner = &s->hotspots;
    h->object = Intern("BOX");
    engine.sceneInputEnabled = engine.hotspotEventsEnabled = true;
    engine.BuildRenderList();
    mesh->position = {0, 0, 1};
    mesh->distance = 40;
    mesh->scaling = {2, 2, 2};
    mesh->rotation = {45, 0, 0};
    mesh->OnChanged(kMeshBitsPlacement);
    mesh->hmesh = CubeRecord("cube");
    g_pointerYaw = g_pointerPitch = 0;
    EXPECT_EQ(engine.PickHotspot(0, 0), nullptr);  // not loaded yet: nothing to hit
    const MeshData* data = Resources().GetMesh(mesh->hmesh);
    ASSERT_TRUE(data && data->geometry);
    const MeshGeometry* g = data->geometry;
    ASSERT_NEAR(g->box_min.x, -1.0f, 1e-5);
    ASSERT_NEAR(g->box_max.x, 1.0f, 1e-5);
    // Aimed at the middle of the box's height.
    const float centre_y = (g->box_min.y + g->box_max.y);  // times the scaling of 2, halved
    g_pointerPitch = RadToDeg(std::atan2(-centre_y, 40.0f));
    EXPECT_EQ(engine.PickHotspot(0, 0), h);
    // Beside the upright box but inside its corner turned by 45 degrees.
    const float corner = 0.8f * 2.0f * std::sqrt(2.0f);
    g_pointerYaw = RadToDeg(std::atan2(corner, 40.0f));
    EXPECT_EQ(engine.PickHotspot(0, 0), h);
    mesh->rotation = {0, 0, 0};
    mesh->OnChanged(kMeshBitsPlacement);
    EXPECT_EQ(engine.PickHotspot(0, 0), nullptr);
    // Behind the viewer the ray's line meets the box, the ray does not.
    g_pointerYaw = 180;
    g_pointerPitch = -g_pointerPitch;
    EXPECT_EQ(engine.PickHotspot(0, 0), nullptr);
    g_pointerYaw = g_pointerPitch = 0;
}

TEST_F(MeshTest, ProjectionPushesVerticesOutByTheDepthByte) {
    std::vector<uint8_t> depth(6 * 128 * 128, 255);
    const float k[6] = {1, 1, 1, 1, 1, 1};
    const plat::Vec3 bind[1] = {{0, 0, 0}};
    float out[3];
    plat::Matrix m;
    m.m[3][2] = 400;  // in front, on face 0
    ProjectMeshVertices(bind, 1, reinterpret_cast<uint8_t*>(out), 12, m, {0, 0, 1}, 2, k, depth.data());
    EXPECT_EQ(out[2], 400.0f);  // depth 255: not moved
    std::fill(depth.begin(), depth.begin() + 128 * 128, 0);
    const float k3[6] = {3, 1, 1, 1, 1, 1};
    ProjectMeshVertices(bind, 1, reinterpret_cast<uint8_t*>(out), 12, m, {0, 0, 1}, 2, k3, depth.data());
    EXPECT_EQ(out[2], 400.0f + 200 * 2 * 3);  // depth 0: 200 x scale x k
}

TEST_F(MeshTest, ChangingTheMeshKeepsAnotherHoldersRecord) {
    ResourceRecord* r = CubeRecord("cube");
    GameMesh* other = Add(s->meshes, "other");
    mesh->hmesh = other->hmesh = r;
    ASSERT_TRUE(Resources().GetMesh(r));
    mesh->OnChanged(kMeshBitMesh);
    EXPECT_EQ(mesh->hmesh, r);
    EXPECT_EQ(r->type, uint32_t(kResourceMesh));  // still a live record
    EXPECT_TRUE(Resources().GetMesh(other->hmesh));  // loads again
}

TEST_F(MeshTest, EveryDrawLeavesNoStateBehind) {
    mesh->hmesh = CubeRecord("cube");
    mesh->position = {0, 0, 1};
    mesh->distance = 20;
    mesh->castShadow = true;
    mesh->OnChanged(kMeshBitsPlacement);
    // Ambient alpha 0: the draw ends after the shadow.
    mesh->ambient = 0x00FFFFFFu;
    device.depth = true;
    DrawMesh(&engine, mesh);
    EXPECT_NE(device.Joined().find("draw"), std::string::npos);  // the shadow
    EXPECT_FALSE(device.depth);
    EXPECT_EQ(device.bound, nullptr);
    EXPECT_TRUE(IsIdentity(device.world));

    // A full draw with blend mode: three draws of the mesh after the shadow.
    mesh->ambient = 0xFF000000u;
    mesh->blendmode = 1;
    device.draws.clear();
    device.calls.clear();
    DrawMesh(&engine, mesh);
    EXPECT_EQ(device.draws.size(), 4u);
    EXPECT_NE(device.Joined().find("mode 205 ffffffff"), std::string::npos);
    EXPECT_FALSE(device.depth);
    EXPECT_EQ(device.bound, nullptr);
    EXPECT_TRUE(IsIdentity(device.world));
    auto& p = device.programs["diff"];
    EXPECT_EQ(p.pixel[PC_AMBIENT][3], 1.0f);
    // After a shadow the shader's world is identity.
    EXPECT_EQ(p.vertex[VC_VIEW][12], 0.0f);

    // Behind the camera: culled, nothing drawn, still clean.
    mesh->position = {0, 0, -1};
    mesh->OnChanged(kMeshBitsPlacement);
    device.draws.clear();
    device.depth = true;
    DrawMesh(&engine, mesh);
    EXPECT_TRUE(device.draws.empty());
    EXPECT_FALSE(device.depth);
}

TEST_F(MeshTest, ChangingAnimatedResetsTheAnimationPositions) {
    mesh->animated = true;
    mesh->position1 = 0.25f;
    mesh->OnChanged(kMeshBitAnimated);
    EXPECT_EQ(mesh->position1, 0.0f);
    EXPECT_EQ(mesh->blendWeight, 0.0f);
}

TEST_F(MeshTest, SavedWithItsPropertiesAndSourceName) {
    PointSceneObject* src = Add(s->points, "spot");
    mesh->source = src;
    mesh->tag = Intern("1,1,1,1,1,2");
    mesh->castShadow = true;
    const std::string text = SavedText(mesh);
    EXPECT_NE(text.find("castShadow"), std::string::npos);
    EXPECT_NE(text.find("spot"), std::string::npos);
    EXPECT_LT(text.find("specularPow"), text.find("hmesh"));
    EXPECT_NE(text.find("mesh"), std::string::npos);
}

TEST_F(MeshTest, ShiftPicksThroughTheSphereAndTheRightButtonDrags) {
    mesh->hmesh = CubeRecord("cube");
    ASSERT_TRUE(Resources().GetMesh(mesh->hmesh));
    mesh->position = {0, 0, 1};
    mesh->distance = 20;
    g_pointerYaw = 0, g_pointerPitch = 0;
    engine.buttonsDown = 1;
    mesh->DrawEditorOverlay();  // without the left Shift nothing is picked
    EXPECT_EQ(engine.selectedObject, nullptr);
    g_keyTable[160] = 1;
    g_pointerYaw = 30;  // beside the sphere
    mesh->DrawEditorOverlay();
    EXPECT_EQ(engine.selectedObject, nullptr);
    g_pointerYaw = 2;
    mesh->DrawEditorOverlay();
    EXPECT_EQ(engine.selectedObject, mesh);
    EXPECT_EQ(mesh->position.z, 1.0f);  // picking does not move it
    engine.buttonsDown = 2;
    g_pointerYaw = 90;
    mesh->DrawEditorOverlay();
    EXPECT_NEAR(mesh->position.x, 1.0f, 1e-5);
    EXPECT_EQ(mesh->distance, 20.0f);
    EXPECT_NEAR(mesh->world.m[3][0], 20.0f, 1e-3);
    EXPECT_TRUE(engine.sceneModified);
    g_keyTable[160] = 0;
    engine.buttonsDown = 0;

    // In position mode the selected mesh follows the pointer with no key
    // or button held; another mesh stays where it is.
    GameMesh* other = Add(s->meshes, "other");
    other->hmesh = mesh->hmesh;
    other->position = {0, 0, 1};
    other->distance = 30;
    engine.positionMode = 1;
    g_pointerYaw = 180;
    mesh->DrawEditorOverlay();
    other->DrawEditorOverlay();
    EXPECT_NEAR(mesh->position.z, -1.0f, 1e-5);
    EXPECT_NEAR(mesh->world.m[3][2], -20.0f, 1e-3);
    EXPECT_EQ(other->position.z, 1.0f);
    engine.positionMode = 0;
    g_pointerYaw = 0;
    mesh->DrawEditorOverlay();
    EXPECT_NEAR(mesh->position.z, -1.0f, 1e-5);
}

}  // namespace
