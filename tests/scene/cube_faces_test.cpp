// Cube faces, pages and videos against a recording device: mask alpha and
// its flag, re-declared images, the draw modes and their order, culling,
// the page and its turn, and the video's re-declared resources.
#include <string>
#include <vector>

#include "app/app_window.h"
#include "media/recording_device.h"
#include "media/image/texture.h"
#include "scene/cube_faces.h"
#include "scene/game_video.h"
#include "scene/hot_spot.h"
#include "scene/scene_fixture.h"
#include "scene/scene_page.h"

using namespace scene_test;

namespace {

// A grey PNG (colour type 0) of one level.
std::string GreyPng(uint32_t w, uint32_t h, uint8_t level) {
    return media_test::MakePng(w, h, 0, std::vector<std::string>(h, std::string(w, char(level))),
                               std::vector<int>(h, 0));
}

class CubeFacesTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        scene = Scene("pan");
        scene->viewtype = kViewCube;
        engine.currentScene = scene;
        faces = Add(scene->cubeFaceSets, "faces");
        masks = Add(scene->cubeFaceSets, "masks");
        masks->mask = true;
        for (int i = 0; i < kCubeFaceCount; ++i) {
            const std::string name = "img/face" + std::to_string(i);
            Write(Path(name + ".png"), SolidPng(4, 2, 0x203040 + uint32_t(i)));
            faces->faces[i] = Resources().DeclareImage(name.c_str(), kFaceImageFlags);
            g_cubeFaceVisible[i] = 1;
        }
    }
    void TearDown() override {
        g_drawHotspotMapView = nullptr;
        engine.renderList = nullptr;
        engine.selectedObject = nullptr;
        Resources().Clear();  // the textures go before the device does
        SceneTest::TearDown();
    }
    ResourceRecord* Mask(int face, uint8_t level) {
        const std::string name = "img/mask" + std::to_string(face);
        Write(Path(name + ".png"), GreyPng(2, 1, level));
        return masks->faces[face] = Resources().DeclareImage(name.c_str(), kMaskImageFlags);
    }
    Texture* Face(int i) { return Resources().GetImage(faces->faces[i]); }
    bool Masked(int i) { return (Face(i)->flags & kFaceMasked) != 0; }
    // The alpha byte of a face's first pixel as the device holds it.
    int Alpha(int i) {
        auto* t = scope.device.Find(Face(i)->device_texture);
        return t && t->pixels.size() >= 4 ? t->pixels[3] : -1;
    }

    media_test::DeviceScope scope;
    GameScene* scene = nullptr;
    CubeFaces* faces = nullptr;
    CubeFaces* masks = nullptr;
};

TEST_F(CubeFacesTest, MaskGreyBecomesTheFaceAlpha) {
    for (int i = 0; i < kCubeFaceCount; ++i) ASSERT_NE(Face(i), nullptr);
    Mask(4, 0x80);
    Mask(5, 0x40);
    // From face 2: faces 2 and 3 lose the flag, face 4 is masked, face 5 is
    // not visited.
    faces->ApplyMask(masks, 2);
    EXPECT_FALSE(Masked(2));
    EXPECT_FALSE(Masked(3));
    EXPECT_TRUE(Masked(4));
    EXPECT_EQ(Alpha(4), 0x80);
    EXPECT_TRUE(Masked(5));  // still the flag its alpha image was made with
    EXPECT_EQ(Alpha(5), 0xFF);

    faces->ApplyMask(masks, -1);
    EXPECT_EQ(Alpha(5), 0x40);
    EXPECT_FALSE(Masked(0));

    // Without a mask set every face loses the flag; no texture changes.
    const size_t made = scope.device.textures.size();
    faces->ApplyMask(nullptr, -1);
    for (int i = 0; i < kCubeFaceCount; ++i) EXPECT_FALSE(Masked(i));
    EXPECT_EQ(scope.device.textures.size(), made);
    EXPECT_EQ(Alpha(4), 0x80);  // the alpha stays until the image loads again
    faces->ApplyMask(masks, 6);  // out of range: nothing
    EXPECT_FALSE(Masked(4));
}

TEST_F(CubeFacesTest, AFaceIsFlaggedMaskedOnlyWhenItsAlphaWasWritten) {
    ResourceRecord* mask = Mask(1, 0x10);
    ASSERT_EQ(std::remove(Path("img/mask1.png").c_str()), 0);  // the mask's file is gone
    faces->ApplyMask(masks, 1);
    EXPECT_FALSE(Masked(1));
    EXPECT_EQ(Alpha(1), 0xFF);
    (void)mask;
}

TEST_F(CubeFacesTest, RedeclaringAFaceKeepsOtherHoldersLive) {
    CubeFaces* other = Add(scene->cubeFaceSets, "other");
    ResourceRecord* shared = faces->faces[0];
    other->faces[3] = shared;
    ASSERT_NE(Face(0), nullptr);
    faces->OnChanged(kCubeBitFront);
    EXPECT_EQ(faces->faces[0], shared);
    EXPECT_EQ(shared->type, uint32_t(kResourceImage));
    EXPECT_EQ(shared->parameter, kFaceImageFlags);
    EXPECT_NE(Resources().GetImage(other->faces[3]), nullptr);

    // A mask set declares its images without alpha; the shown faces are
    // masked again from that face on.
    Mask(0, 0x33);
    scene->cubeFaces = faces;
    scene->cubeMasks = masks;
    masks->OnChanged(kCubeBitFront);
    EXPECT_EQ(masks->faces[0]->parameter, kMaskImageFlags);
    EXPECT_EQ(Alpha(0), 0x33);
    EXPECT_TRUE(Masked(0));

    // Only single face bits act: order and mask bits reload nothing.
    const size_t calls = scope.device.calls.size();
    faces->OnChanged(kCubeBitOrder);
    faces->OnChanged(kCubeBitFront | kCubeBitRight);
    EXPECT_EQ(scope.device.calls.size(), calls);
}

TEST_F(CubeFacesTest, DrawModesAndTheirOrder) {
    for (int i = 0; i < kCubeFaceCount; ++i) ASSERT_NE(Face(i), nullptr);
    faces->ApplyMask(nullptr, -1);
    Face(1)->flags |= kFaceMasked;
    Face(4)->flags |= kFaceMasked;
    g_cubeFaceVisible[4] = 0;
    engine.ambientColor = 0xFF808080u;
    auto draws = [&](int mode) {
        scope.device.calls.clear();
        faces->DrawFaces(mode);
        std::string out;
        for (const auto& c : scope.device.calls)
            if (c.rfind("mode", 0) == 0 || c == "immediate 4") out += c == "immediate 4" ? "f" : "|" + c + "|";
        return out;
    };
    EXPECT_EQ(draws(0), "|mode 1001 ff808080|fffff");  // five visible faces
    EXPECT_EQ(draws(1), "|mode 1001 ff808080|f");       // face 1 only
    EXPECT_EQ(draws(2), "|mode 1011 ff808080|f|mode 1001 ff808080|ffff");

    // The vertices handed over are the face's own four, 20 bytes apart.
    BuildCubeGeometry(1024);
    scope.device.immediate.clear();
    g_cubeFaceVisible[1] = 0;
    faces->DrawFaces(1);
    EXPECT_TRUE(scope.device.immediate.empty());

    // A selected map hotspot shows the map view instead of the faces.
    static int map_views;
    map_views = 0;  // counted afresh on a repeat
    g_drawHotspotMapView = [] { ++map_views; };
    HotSpot* h = Add(scene->hotspots, "h");
    h->hs_type = kHotspotMap;
    engine.selectedObject = h;
    EXPECT_EQ(draws(0), "");
    EXPECT_EQ(map_views, 1);
}

TEST_F(CubeFacesTest, RenderDrawsAShownSetOnlyInItsPlace) {
    for (int i = 0; i < kCubeFaceCount; ++i) ASSERT_NE(Face(i), nullptr);
    scene->cubeFaces = faces;
    EObject* list[3] = {faces, nullptr, nullptr};
    engine.renderList = list;
    scope.device.calls.clear();
    faces->Render();  // already drawn before the list
    masks->Render();  // masks are never drawn
    EXPECT_TRUE(scope.device.calls.empty());

    list[0] = scene->hotspots.head ? scene->hotspots.head : Add(scene->hotspots, "h");
    faces->Render();
    EXPECT_NE(scope.device.Joined().find("mode 1011"), std::string::npos);

    scope.device.calls.clear();
    engine.selectedObject = list[0];  // any selected hotspot hides them
    faces->Render();
    EXPECT_TRUE(scope.device.calls.empty());
}

class ScenePageTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        scene = Scene("book");
        scene->viewtype = kViewPage;
        engine.currentScene = scene;
        page = Add(scene->pages, "one");
        next = Add(scene->pages, "two");
        page->bgcolor = 0xFF112233u;
        next->bgcolor = 0x00445566u;
        scene->currentPage = page;
    }
    std::string Drawn() {
        scope.device.calls.clear();
        for (ScenePage* p = scene->pages.head; p; p = ListNext(p)) p->Render();
        return scope.device.Joined();
    }
    media_test::DeviceScope scope;
    GameScene* scene = nullptr;
    ScenePage* page = nullptr;
    ScenePage* next = nullptr;
};

TEST_F(ScenePageTest, TurnAlpha) {
    EXPECT_EQ(PageTurnAlpha(500, 1000.0f), 127u);
    EXPECT_EQ(PageTurnAlpha(500, 1000.9f), 127u);  // the fade time is truncated
    EXPECT_EQ(PageTurnAlpha(1200, 1000.0f), 255u);
    EXPECT_EQ(PageTurnAlpha(-20, 1000.0f), 0u);
    EXPECT_EQ(PageTurnAlpha(10, 0.0f), 255u);  // no fade time: the turn is complete
    EXPECT_EQ(PageTurnAlpha(10, -5.0f), 255u);
    EXPECT_EQ(PageTurnAlpha(INT32_MAX, 2.0f), 255u);  // 64-bit product, no wrap
}

TEST_F(ScenePageTest, OnlyTheCurrentPageDrawsWithTheTurnOverIt) {
    // No image: the colour fills the virtual screen.
    EXPECT_EQ(Drawn(), "mode 1008 ff112233;rect 0 0 1024 768 0 0 0 0;");
    engine.currentScene = Scene("elsewhere");
    EXPECT_EQ(Drawn(), "");
    engine.currentScene = scene;

    ASSERT_EQ(ScriptRun("Gameplay = {pagefxtime = 1000}"), 0);
    scene->nextPage = next;
    engine.pageTurn = 1;
    engine.pageTurnTime = 500;
    EXPECT_EQ(Drawn(), "mode 1008 ff112233;rect 0 0 1024 768 0 0 0 0;mode 1008 7f445566;rect 0 0 1024 768 0 0 0 0;");

}

TEST_F(ScenePageTest, ArrowKeysMoveThePage) {
    page->EditorInput(37, 0);
    EXPECT_EQ(page->x, -1);
    EXPECT_TRUE(engine.sceneModified);
    g_keyTable[160] = 1;
    page->EditorInput(40, 0);
    g_keyTable[160] = 0;
    EXPECT_EQ(page->y, 16);
    engine.sceneModified = false;
    page->EditorInput(65, 0);
    EXPECT_FALSE(engine.sceneModified);
}

TEST_F(SceneTest, VideoDefaultsAndRedeclaredResources) {
    GameVideo* v = static_cast<GameVideo*>(CreateObjectByClass("video"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->bgcolor, 0xFF000000u);  // the constructor's default
    Write(Path("v/track.ogg"), "not really ogg");
    ResourceRecord* track = Resources().DeclareSound("v/track", 0);
    ASSERT_NE(track, nullptr);
    v->hstream = track;
    v->OnChanged(kVideoBitStream);
    EXPECT_EQ(v->hstream, track);
    EXPECT_EQ(track->flags & kSoundStreamed, kSoundStreamed);
    EXPECT_EQ(Resources().FindByName("v/track"), track);  // still the live record
    v->hstream = nullptr;
    v->OnChanged(kVideoBitStream);  // nothing to re-declare
    delete v;
}

}  // namespace
