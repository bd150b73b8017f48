// Patches, surface effects and flares drawn by the real device (OpenGL,
// headless) through the scene render: a scene file with an animated patch
// on the front face, a scrolling surface before it, a glow and a lens
// flare, rendered for 60 frames; the screen patch and the glow's fade; and
// a surface whose shader cannot be drawn. Frames are saved under the build
// folder's frames/.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_window.h"
#include "app/scene_render.h"
#include "app/scene_switch.h"
#include "media/image/image_data.h"
#include "media/image/texture.h"
#include "render/camera.h"
#include "render/render_fixture.h"
#include "scene/cube_faces.h"
#include "scene/game_fx.h"
#include "scene/patch.h"
#include "scene/point_object.h"
#include "scene/scene_fixture.h"
#include "scene/surface_effect.h"
#include "script/script_var.h"
#include "scriptapi/scene_constructors.h"

using namespace scene_test;

namespace {

constexpr int kW = 256, kH = 192;
constexpr uint32_t kFace = 0x202020;

class EffectsRenderTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        screen.Open(kW, kH);
        saved_ = g_renderDevice;
        g_renderDevice = screen.dev;
        engine.virtualRect.Set(0, 0, 1024, 768);
        engine.screenRect.Set(0, 0, kW, kH);
        saved_fov_ = g_display_fov.value, saved_aspect_ = g_display_aspect.value;
        g_display_fov.value = 90;
        g_display_aspect.value = float(kW) / float(kH);
        camera = static_cast<Camera*>(CreateObjectByClass("view"));
        engine.defaultCamera = camera;
        engine.activeCamera = camera;
        g_lookYaw = g_lookPitch = 0;
        s = Scene("hall");
        s->viewtype = kViewCube;
        engine.currentScene = s;
        CubeFaces* set = Add(s->cubeFaceSets, "faces");
        Write(Path("hall/face.png"), SolidPng(8, 8, kFace));
        for (auto& face : set->faces) face = Resources().DeclareImage("hall/face", kFaceImageFlags);
        s->cubeFaces = set;
        BuildCubeGeometry(g_cubeFaceSize);
    }
    void TearDown() override {
        engine.defaultCamera = engine.activeCamera = nullptr;
        delete camera;
        g_display_fov.value = saved_fov_;
        g_display_aspect.value = saved_aspect_;
        SceneTest::TearDown();
        g_renderDevice = saved_;
        screen.Close();
    }
    std::vector<uint32_t> Frames(int count, const char* name) {
        for (int i = 0; i < count; ++i) {
            screen.dev->Clear(0xFF000000u);
            EXPECT_TRUE(RenderScene(s));
        }
        std::vector<uint32_t> px = screen.Read();
        EXPECT_EQ(chdir(old_cwd_.c_str()), 0);
        render_test::SaveFramePng(px, kW, kH, name);
        EXPECT_EQ(chdir(dir_.path().c_str()), 0);
        return px;
    }
    static uint32_t At(const std::vector<uint32_t>& px, int x, int y) { return px[size_t(y) * kW + x] & 0xFFFFFF; }
    static int Channel(uint32_t c, int shift) { return int(c >> shift & 255); }
    // Pixels where one channel clearly leads the other two.
    static int Leading(const std::vector<uint32_t>& px, int shift) {
        int n = 0;
        for (uint32_t p : px) {
            const int r = Channel(p, 16), g = Channel(p, 8), b = Channel(p, 0);
            const int lead = shift == 16 ? r : shift == 8 ? g : b;
            const int next = shift == 16 ? std::max(g, b) : shift == 8 ? std::max(r, b) : std::max(r, g);
            n += lead > 0x60 && lead > next + 0x30;
        }
        return n;
    }

    render_test::Screen screen;
    RenderDevice* saved_ = nullptr;
    Camera* camera = nullptr;
    GameScene* s = nullptr;
    float saved_fov_ = 0, saved_aspect_ = 0;
};

TEST_F(EffectsRenderTest, SceneFileWithPatchSurfaceAndFlaresRendersSixtyFrames) {
    for (int n = 0; n < 3; ++n)
        Write(Path("anim/door/" + std::to_string(n) + ".png"), SolidPng(16, 16, 0x20C020 + 0x100000 * n));
    Write(Path("water.png"), SolidPng(8, 8, 0x2040E0));
    Write(Path("sign.png"), SolidPng(16, 16, 0xE02020));
    Write(Path("fx/glow.png"), SolidPng(8, 8, 0xFFFFFF));
    Write(Path("fx/lens/0.png"), SolidPng(8, 8, 0xFFE040));
    Write(Path("fx/lens/1.png"), SolidPng(8, 8, 0xE0A0FF));
    SetSceneBeingLoaded(s);
    Lua(R"(
        door = patch{name = "door", format = "anim/door", frame_count = 3, interval = 100, looping = true,
                     flags = 1, face = 0, x = 448, y = 448, size = 8, rotation = 30}
        sign = patch{name = "sign", image = "sign", type = 2, x = -25, y = 20, distance = 400, size = 4}
        pool = surffx{name = "pool", texture = "water", face = 0, width = 120, height = 80, distance = 400,
                      position = "-260,0,0", scroll_speed = 0.5, scroll_direction = 45, tiling1 = 2}
        sun = fx{name = "sun", file = "fx/glow", x = 25, y = -20, scale = 3, power = 0}
        flare = fx{name = "flare", format = "fx/lens", lens_count = 2, lens_format = "0,1,2,1,-0.5,3",
                   x = 330, y = 15, power = 0}
    )");
    SetSceneBeingLoaded(nullptr);
    ASSERT_EQ(ListCount(s->patches), 2u);
    ASSERT_EQ(ListCount(s->surfaces), 1u);
    ASSERT_EQ(ListCount(s->fx), 2u);
    Patch* door = s->patches.head;
    GameFx* sun = s->fx.head;
    sun->currentOpacity = 0;  // fades in

    const std::vector<uint32_t> px = Frames(60, "effects_scene");
    // 60 frames at 60 Hz: a looping run of 300 ms has wrapped and goes on.
    EXPECT_EQ(door->ptc_action, kPatchForwards);
    EXPECT_GE(door->lastFrame, 0);
    EXPECT_GT(sun->currentOpacity, 254.0f);
    EXPECT_GT(s->surfaces.head->scrollOffset, 0.4f);
    // The patch covers the middle of the front face.
    const uint32_t middle = At(px, kW / 2, kH / 2);
    EXPECT_GT(Channel(middle, 8), 0x90) << std::hex << middle;
    EXPECT_LT(Channel(middle, 0), 0x60) << std::hex << middle;
    // The surface stands left of it, the flares above; the rest is face.
    EXPECT_GT(Leading(px, 0), 300);
    EXPECT_GT(Leading(px, 16), 100);  // the billboard, below left
    int bright = 0;
    for (uint32_t p : px) bright += Channel(p, 16) > 0xE0 && Channel(p, 8) > 0xE0;
    EXPECT_GT(bright, 40);
    EXPECT_EQ(At(px, 4, kH - 4), kFace);
}

TEST_F(EffectsRenderTest, ScreenPatchScalesFromTheVirtualScreenAndTurns) {
    Write(Path("badge.png"), SolidPng(16, 16, 0xE02020));
    Patch* p = Add(s->patches, "badge");
    p->image = Resources().DeclareImage("badge", 0);
    p->ptc_type = kPatchOnScreen;
    p->x = 512, p->y = 384, p->size = 8;  // 128 x 128 virtual: a quarter of the screen's width
    p->color = 0xFFFFFFFFu;
    std::vector<uint32_t> px = Frames(1, "effects_screen_patch");
    EXPECT_EQ(Channel(At(px, kW / 2 + 4, kH / 2 + 4), 16), 0xE0);
    EXPECT_EQ(At(px, kW / 2 + 36, kH / 2 + 28), kFace);  // past the scaled size
    p->rotation = 45;
    px = Frames(1, "effects_screen_patch_turned");
    // Turned about its centre (144, 112): the corners are left out.
    EXPECT_EQ(Channel(At(px, kW / 2 + 16, kH / 2 + 16), 16), 0xE0);
    EXPECT_EQ(At(px, kW / 2 + 1, kH / 2 + 1), kFace);
    EXPECT_EQ(Channel(At(px, kW / 2 + 16, kH / 2 - 4), 16), 0xE0);  // beyond the unturned top edge
    // Invisible: nothing.
    p->visible = false;
    px = Frames(1, "effects_screen_patch_hidden");
    EXPECT_EQ(At(px, kW / 2 + 4, kH / 2 + 4), kFace);
}

TEST_F(EffectsRenderTest, ShaderSurfaceDisappearsWithoutShadersOrAProgram) {
    Write(Path("water.png"), SolidPng(8, 8, 0x2040E0));
    SurfaceEffect* fx = Add(s->surfaces, "pool");
    fx->htexture = Resources().DeclareImage("water", 0);
    fx->face = 0, fx->width = 200, fx->height = 150, fx->distance = 400, fx->tiling1 = 1;
    fx->alpha = 255, fx->diffuse = {1, 1, 1};
    fx->anim_seq = Intern("anim/none");
    fx->anim_freq = 1, fx->anim_count = 2;
    fx->shader = Intern("no such program");
    engine.shadersOn = false;
    std::vector<uint32_t> px = Frames(3, "effects_surface_hidden");
    EXPECT_EQ(At(px, kW / 2, kH / 2), kFace);
    EXPECT_EQ(fx->frameCounter, 0);  // the animation waits too
    engine.shadersOn = true;
    px = Frames(1, "effects_surface_no_program");
    EXPECT_EQ(At(px, kW / 2, kH / 2), kFace);
    fx->shader = nullptr;
    px = Frames(1, "effects_surface_plain");
    EXPECT_EQ(Channel(At(px, kW / 2, kH / 2), 0), 0xE0);
}

TEST_F(EffectsRenderTest, ScreenPatchIsPickedAndDraggedInVirtualPixels) {
    Write(Path("badge.png"), SolidPng(16, 16, 0xE02020));
    Patch* p = Add(s->patches, "badge");
    p->image = Resources().DeclareImage("badge", 0);
    p->ptc_type = kPatchOnScreen;
    p->x = 512, p->y = 384, p->size = 8;
    g_keyTable[160] = 1;
    g_mouseX = 150, g_mouseY = 110;  // virtual (600, 440): inside
    engine.buttonsDown = 1;
    p->DrawEditorOverlay();
    EXPECT_EQ(engine.selectedObject, p);
    engine.buttonsDown = 2;
    g_mouseX = 64, g_mouseY = 48;  // virtual (256, 192)
    p->DrawEditorOverlay();
    EXPECT_EQ(p->x, 192.0f);
    EXPECT_EQ(p->y, 128.0f);
    EXPECT_TRUE(engine.sceneModified);
    // Outside the rectangle another patch is not picked.
    Patch* other = Add(s->patches, "other");
    other->image = p->image;
    other->ptc_type = kPatchOnScreen;
    other->size = 1;
    engine.buttonsDown = 1;
    other->DrawEditorOverlay();
    EXPECT_EQ(engine.selectedObject, p);
    g_keyTable[160] = 0;
    engine.buttonsDown = 0;
    engine.selectedObject = nullptr;
    g_mouseX = g_mouseY = 0;
}

// The editor's icons of points at right angles to the view project to no
// position on screen: nothing of them is drawn and nothing overflows.
TEST_F(EffectsRenderTest, EditorIconsOfPointsBesideTheViewStayOffScreen) {
    Write(Path("icon.png"), SolidPng(16, 16, 0xE02020));
    for (float yaw : {90.0f, 270.0f}) {
        PointSceneObject* p = Add(s->points, yaw == 90.0f ? "right" : "left");
        p->icon = Resources().DeclareImage("icon", 0);
        p->x = yaw, p->y = 0, p->distance = 500;
    }
    engine.editorMode = 2;
    engine.selectedObject = s->points.head;
    engine.positionMode = 0;
    const std::vector<uint32_t> px = Frames(1, "effects_editor_points_beside");
    // Seen from far off (a walk offset at the int range's edge) a face
    // patch projects to a saturated position: its label, drawn above it,
    // keeps within the int range.
    Patch* patch = Add(s->patches, "far");
    patch->face = 0, patch->x = 256, patch->y = 256;
    const float walk[3] = {g_walkOffset[0], g_walkOffset[1], g_walkOffset[2]};
    g_walkOffset[0] = -2147483649.0f, g_walkOffset[1] = -2147483648.0f, g_walkOffset[2] = 0.5f;
    Frames(1, "effects_editor_patch_far_off");
    // From there a billboard patch one unit ahead projects to the corner
    // (INT_MAX, INT_MIN); a click at the opposite corner lies the whole int
    // range away, not one pixel.
    Patch* beacon = Add(s->patches, "beacon");
    beacon->ptc_type = kPatchBillboard, beacon->x = beacon->y = 0, beacon->distance = 1;
    g_keyTable[160] = 1, engine.buttonsDown = 1;
    g_mouseX = -2147483648.0f, g_mouseY = 2147483648.0f;
    beacon->DrawEditorOverlay();
    EXPECT_EQ(engine.selectedObject, s->points.head);
    g_keyTable[160] = 0, engine.buttonsDown = 0;
    g_mouseX = g_mouseY = 0;
    std::copy(std::begin(walk), std::end(walk), g_walkOffset);
    engine.editorMode = 0;
    engine.selectedObject = nullptr;
    EXPECT_EQ(std::count(px.begin(), px.end(), 0xE02020u), 0);
}

// A point at yaw 90 lies on the camera plane of the view at yaw 0: it
// projects to a saturated screen position, which the glow and the flare's
// elements keep far off screen.
TEST_F(EffectsRenderTest, GlowsAndFlaresOnTheCameraPlaneStayOffScreen) {
    Write(Path("fx/side/0.png"), SolidPng(16, 16, 0xE02020));
    Resources().DeclareImage("fx/side/0", 0);
    GameFx* glow = Add(s->fx, "glow");
    glow->himage = Resources().DeclareImage("fx/side/0", 0);
    GameFx* flare = Add(s->fx, "flare");
    flare->format = Intern("fx/side");
    flare->lens_format = Intern("0,1,1,0,0.5,2");
    flare->OnChanged(kFxBitFormat);
    for (GameFx* fx : {glow, flare}) {
        fx->x = 90, fx->y = 0;
        fx->power = 0;
        fx->opacity = fx->currentOpacity = 255;
    }
    const std::vector<uint32_t> px = Frames(2, "effects_fx_on_camera_plane");
    EXPECT_EQ(std::count(px.begin(), px.end(), 0xE02020u), 0);
}

TEST_F(EffectsRenderTest, UnbufferedPatchRewritesOneTextureWhileFramesKeepItsSize) {
    Write(Path("anim/lamp/0.png"), SolidPng(16, 16, 0x2020E0));
    Write(Path("anim/lamp/1.png"), SolidPng(16, 16, 0xE02020));
    Write(Path("anim/lamp/2.png"), SolidPng(8, 4, 0x20E020));
    Patch* p = Add(s->patches, "lamp");
    p->format = Intern("anim/lamp");
    p->numOfFrames = 3, p->interval = 100, p->size = 1;
    p->UpdateFrameImage();
    ASSERT_TRUE(p->frame);
    ResourceRecord* first = p->frame;
    Texture* t = Resources().GetImage(first);
    ASSERT_TRUE(t && t->device_texture);
    TextureRecord* device_texture = t->device_texture;
    p->currentTime = 150;
    p->UpdateFrameImage();
    EXPECT_EQ(p->frame, first);  // the same record and texture, new pixels
    EXPECT_EQ(t->device_texture, device_texture);
    EXPECT_EQ(p->lastFrame, 1);
    ImageData pixels;
    ASSERT_TRUE(t->ReadPixels(pixels));
    uint32_t word = 0;
    std::memcpy(&word, pixels.pixels, 4);
    EXPECT_EQ(word & 0xFFFFFF, 0xE02020u);
    EXPECT_EQ(Resources().FindByName("anim/lamp/1"), nullptr);  // never declared
    // A frame of another size never goes into that texture.
    p->currentTime = 250;
    p->UpdateFrameImage();
    ASSERT_TRUE(p->frame);
    EXPECT_STREQ(p->frame->name, "anim/lamp/2");
    EXPECT_EQ(t->width, 16);
    Texture* small = Resources().GetImage(p->frame);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, 8);
    EXPECT_EQ(small->height, 4);
}

TEST_F(EffectsRenderTest, LensFlareAtTheExactCentreDrawsItsElementsThere) {
    Write(Path("fx/ring/0.png"), SolidPng(8, 8, 0x60C0FF));
    GameFx* fx = Add(s->fx, "ring");
    fx->format = Intern("fx/ring");
    Resources().DeclareImage("fx/ring/0", 0);
    fx->lens_format = Intern("0,1,4,0,-2,2,5,0.5,1");  // image 5 is not declared
    fx->projection = 1;
    fx->x = kW / 2, fx->y = kH / 2;
    fx->opacity = fx->currentOpacity = 255;
    fx->OnChanged(kFxBitFormat);
    const std::vector<uint32_t> px = Frames(1, "effects_flare_centre");
    // Both elements of image 0 add onto the face at the centre.
    const uint32_t centre = At(px, kW / 2, kH / 2);
    EXPECT_EQ(Channel(centre, 0), 0xFF) << std::hex << centre;
    EXPECT_GT(Channel(centre, 16), 0x60) << std::hex << centre;
    EXPECT_EQ(At(px, kW / 2 + 20, kH / 2), kFace);
    // Without a format nothing is drawn and nothing is looked up.
    fx->format = nullptr;
    const std::vector<uint32_t> none = Frames(1, "effects_flare_no_format");
    EXPECT_EQ(At(none, kW / 2, kH / 2), kFace);
}

TEST_F(EffectsRenderTest, ShaderSurfaceGetsItsConstantsByName) {
    const char* vs = R"(
float4x4 matViewProjection;
struct VS_OUTPUT { float4 Position : POSITION0; float2 Texcoord : TEXCOORD0; };
VS_OUTPUT vs_main(float4 Position : POSITION0, float2 Texcoord : TEXCOORD0) {
    VS_OUTPUT Output;
    Output.Position = mul(Position, matViewProjection);
    Output.Texcoord = Texcoord;
    return Output;
}
)";
    const char* ps = R"(
float4 fParams;
float4 fvViewDirection;
float4 fvLightDirection;
float4 ps_main(float2 uv : TEXCOORD0) : COLOR0 {
    return float4(fParams.x, fParams.z, fvViewDirection.z, 1.0);
}
)";
    ASSERT_TRUE(screen.dev->CreateShaderProgram("tint", vs, ps));
    engine.shadersOn = true;
    SurfaceEffect* fx = Add(s->surfaces, "glass");
    fx->face = 0, fx->width = 200, fx->height = 150, fx->distance = 400;
    fx->tiling1 = 2, fx->tiling2 = 1, fx->alpha = 255, fx->diffuse = {1, 1, 1};
    fx->shader = Intern("tint");
    const std::vector<uint32_t> px = Frames(1, "effects_surface_shader");
    // tiling2 / tiling1, alpha / 255 and the view along the face normal.
    const uint32_t c = At(px, kW / 2, kH / 2);
    EXPECT_NEAR(Channel(c, 16), 0x80, 2) << std::hex << c;
    EXPECT_EQ(Channel(c, 8), 0xFF) << std::hex << c;
    EXPECT_EQ(Channel(c, 0), 0xFF) << std::hex << c;
}

}  // namespace
