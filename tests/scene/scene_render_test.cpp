// Scenes drawn by the real device (OpenGL, headless) and read back: a
// panoramic node from a turned view, a masked face over what lies behind
// it, and a page with the next page fading in. Each frame is saved under
// the build folder's frames/.
#include <unistd.h>

#include <string>
#include <vector>

#include "media/image/texture.h"
#include "render/camera.h"
#include "render/geometry.h"
#include "render/render_fixture.h"
#include "scene/cube_faces.h"
#include "scene/scene_fixture.h"
#include "scene/scene_page.h"

using namespace scene_test;

namespace {

using render_test::Screen;

constexpr int kW = 256, kH = 192;
const uint32_t kFaceColours[kCubeFaceCount] = {0xC03020, 0x20A040, 0x2040C0, 0xC0A020, 0x20A0A0, 0x8040A0};

// A face image of one colour with a white frame, so its edges show.
std::string FramedPng(uint32_t side, uint32_t rgb) {
    std::vector<std::string> rows;
    for (uint32_t y = 0; y < side; ++y) {
        std::string row;
        for (uint32_t x = 0; x < side; ++x) {
            const bool edge = x < 2 || y < 2 || x >= side - 2 || y >= side - 2;
            const uint32_t c = edge ? 0xFFFFFF : rgb;
            row += char(c >> 16 & 255), row += char(c >> 8 & 255), row += char(c & 255);
        }
        rows.push_back(row);
    }
    return media_test::MakePng(side, side, 2, rows, std::vector<int>(side, 0));
}

bool Near(uint32_t a, uint32_t b, int tolerance = 3) {
    for (int s = 0; s < 24; s += 8)
        if (std::abs(int(a >> s & 255) - int(b >> s & 255)) > tolerance) return false;
    return true;
}

class SceneRenderTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        screen.Open(kW, kH);
        saved_ = g_renderDevice;
        g_renderDevice = screen.dev;
        engine.virtualRect.Set(0, 0, kW, kH);
        engine.screenRect.Set(0, 0, kW, kH);
    }
    void TearDown() override {
        if (camera) delete camera;
        engine.activeCamera = nullptr;
        SceneTest::TearDown();  // textures go while the device is there
        g_renderDevice = saved_;
        screen.Close();
    }
    // Saved from the folder the test started in (the build folder's).
    void SaveFrame(const std::vector<uint32_t>& px, const char* name) {
        ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
        render_test::SaveFramePng(px, kW, kH, name);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    }
    uint32_t At(const std::vector<uint32_t>& px, int x, int y) { return px[size_t(y) * kW + x] & 0xFFFFFF; }

    CubeFaces* PanoramicScene() {
        GameScene* s = Scene("yard");
        s->viewtype = kViewCube;
        engine.currentScene = s;
        CubeFaces* set = Add(s->cubeFaceSets, "faces");
        for (int i = 0; i < kCubeFaceCount; ++i) {
            const std::string name = "yard/face" + std::to_string(i);
            Write(Path(name + ".png"), FramedPng(64, kFaceColours[i]));
            set->faces[i] = Resources().DeclareImage(name.c_str(), kFaceImageFlags);
        }
        s->cubeFaces = set;
        BuildCubeGeometry(g_cubeFaceSize);
        return set;
    }
    void Look(float yaw, float pitch, float fov) {
        if (!camera) camera = static_cast<Camera*>(CreateObjectByClass("view"));
        plat::Vec3 dir;
        AnglesToDirection(&dir, yaw, pitch);
        camera->LookAt({0, 0, 0}, dir);
        camera->SetPerspective(fov, float(kW) / float(kH), 1.0f, 10000.0f);
        camera->dirty = true;
        camera->UpdateView();
        engine.activeCamera = camera;
        CullCubeFaces();
    }

    Screen screen;
    RenderDevice* saved_ = nullptr;
    Camera* camera = nullptr;
};

TEST_F(SceneRenderTest, PanoramicNodeFromATurnedView) {
    CubeFaces* set = PanoramicScene();
    Look(30, -20, 90);  // right of front and a little up
    screen.dev->Clear(0xFF000000u);
    set->DrawFaces(0);
    const std::vector<uint32_t> px = screen.Read();
    SaveFrame(px, "scene_cube");
    EXPECT_EQ(g_cubeFaceVisible[2], 0);  // the back lies behind the view
    EXPECT_TRUE(Near(At(px, kW / 2, kH / 2), kFaceColours[0])) << std::hex << At(px, kW / 2, kH / 2);
    EXPECT_TRUE(Near(At(px, kW - 4, kH / 2), kFaceColours[1])) << std::hex << At(px, kW - 4, kH / 2);
    EXPECT_TRUE(Near(At(px, kW / 2, 3), kFaceColours[4])) << std::hex << At(px, kW / 2, 3);
    // No black is left: the faces close the view.
    for (uint32_t p : px) ASSERT_NE(p & 0xFFFFFF, 0u);
}

TEST_F(SceneRenderTest, MaskedFaceLetsTheBackgroundThrough) {
    CubeFaces* set = PanoramicScene();
    CubeFaces* masks = Add(engine.currentScene->cubeFaceSets, "masks");
    masks->mask = true;
    // Left half opaque, right half clear.
    std::vector<std::string> rows(8, std::string(4, char(255)) + std::string(4, char(0)));
    Write(Path("yard/mask0.png"), media_test::MakePng(8, 8, 0, rows, std::vector<int>(8, 0)));
    masks->faces[0] = Resources().DeclareImage("yard/mask0", kMaskImageFlags);
    set->ApplyMask(masks, -1);
    ASSERT_TRUE(Resources().GetImage(set->faces[0])->flags & kFaceMasked);

    Look(0, 0, 60);
    screen.dev->Clear(0xFF000000u);
    set->DrawFaces(2);
    const std::vector<uint32_t> px = screen.Read();
    SaveFrame(px, "scene_cube_masked");
    EXPECT_TRUE(Near(At(px, kW / 4, kH / 2), kFaceColours[0]));
    EXPECT_EQ(At(px, kW * 3 / 4, kH / 2), 0u);
}

TEST_F(SceneRenderTest, PageWithTheNextPageFadingIn) {
    GameScene* s = Scene("book");
    s->viewtype = kViewPage;
    engine.currentScene = s;
    ScenePage* page = Add(s->pages, "one");
    ScenePage* next = Add(s->pages, "two");
    Write(Path("book/one.png"), FramedPng(64, 0xE0E0D0));
    Write(Path("book/two.png"), FramedPng(64, 0x2030C0));
    page->image = Resources().DeclareImage("book/one", 0);
    page->x = 32, page->y = 16;
    page->bgcolor = 0xFF000000u;
    // The page turned to blends: its image carries alpha.
    next->image = Resources().DeclareImage("book/two", kTextureAlpha);
    next->x = 64, next->y = 48;
    s->currentPage = page;
    s->nextPage = next;
    engine.pageTurn = 1;
    engine.pageTurnTime = 500;
    Lua("Gameplay = {pagefxtime = 1000}");

    screen.dev->Clear(0xFF404040u);
    page->Render();
    next->Render();  // not the current page: draws nothing itself
    const std::vector<uint32_t> px = screen.Read();
    SaveFrame(px, "scene_page_turn");
    EXPECT_TRUE(Near(At(px, 40, 24), 0xE0E0D0));      // the page alone
    EXPECT_EQ(At(px, 8, 8), 0x404040u);               // outside both
    // Half of the turned page over the clear colour, and over the page.
    EXPECT_TRUE(Near(At(px, 120, 100), 0x30387F)) << std::hex << At(px, 120, 100);
    EXPECT_TRUE(Near(At(px, 80, 70), 0x8088C8)) << std::hex << At(px, 80, 70);
}

}  // namespace
