// The render list (defaults, the exchange sort, no size limit), object
// lookup and selection, pointer angles, screen conversions and what a scene
// without a known view type calls.
#include <gtest/gtest.h>

#include "app/scene_render.h"
#include "render/geometry.h"
#include "scene/cube_faces.h"
#include "scene/scene_fixture.h"
#include "scene/scene_page.h"

using namespace scene_test;

namespace {

class RenderListTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        scene = Scene("room");
        engine.currentScene = scene;
    }
    void TearDown() override {
        engine.currentScene = nullptr;
        SceneTest::TearDown();
    }
    std::vector<std::string> Names() {
        std::vector<std::string> out;
        for (EObject** p = engine.renderList; p && *p; ++p) out.push_back((*p)->name ? (*p)->name : "");
        return out;
    }
    GameScene* scene = nullptr;
};

TEST_F(RenderListTest, DefaultOrdersAndTheExchangeSort) {
    Add(scene->hotspots, "h");
    Add(scene->pages, "p");
    Add(scene->cubeFaceSets, "c");
    EXPECT_EQ(engine.BuildRenderList(), 3u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"c", "p", "h"}));
    EXPECT_EQ(scene->hotspots.head->order, 3);  // the default is kept

    // Two hotspots of order 5 and a page of order 2: the page first.
    Add(scene->hotspots, "h2")->order = 5;
    scene->hotspots.head->order = 5;
    engine.BuildRenderList();
    EXPECT_EQ(Names(), (std::vector<std::string>{"c", "p", "h", "h2"}));

    // The exchange sort is not stable: equal orders may change places.
    EObject a, b, c;
    a.order = 3, b.order = 3, c.order = 1;
    EObject* list[] = {&a, &b, &c};
    SortRenderList(list, 3);
    EXPECT_EQ(list[0], &c);
    EXPECT_EQ(list[1], &b);
    EXPECT_EQ(list[2], &a);
}

TEST_F(RenderListTest, ManyObjectsAllFitAndDeletionsLeaveTheList) {
    // Appended, not "literal" + temporary: gcc 12 at -O3 warns falsely (-Wrestrict) on that.
    for (int i = 0; i < 200; ++i) Add(scene->hotspots, std::string("h").append(std::to_string(i)).c_str())->order = 200 - i;
    EXPECT_EQ(engine.BuildRenderList(), 200u);
    EXPECT_EQ(Names().size(), 200u);
    EXPECT_EQ(Names().front(), "h199");
    EXPECT_EQ(engine.renderList[200], nullptr);
    HotSpot* gone = scene->hotspots.head;
    engine.DeleteObject(gone);
    EXPECT_EQ(Names().size(), 199u);
    EXPECT_EQ(Names().back(), "h1");
    // Without a scene the list is empty.
    engine.currentScene = nullptr;
    EXPECT_EQ(engine.BuildRenderList(), 0u);
    EXPECT_EQ(engine.renderList[0], nullptr);
}

TEST_F(RenderListTest, LookupIsExactAndSelectionTakesSceneObjectsOnly) {
    HotSpot* door = Add(scene->hotspots, "Door");
    EXPECT_EQ(engine.FindObjectByName("Door"), door);
    EXPECT_EQ(engine.FindObjectByName("door"), nullptr);
    EXPECT_EQ(engine.FindObjectByName(nullptr), nullptr);
    engine.SelectObject(door->Handle());
    EXPECT_EQ(engine.selectedObject, door);
    ScenePage* page = Add(scene->pages, "p");
    engine.SelectObject(page->Handle());
    EXPECT_EQ(engine.selectedObject, nullptr);
    int foreign = 0;
    engine.SelectObject(&foreign);
    EXPECT_EQ(engine.selectedObject, nullptr);
}

TEST(PointerAngles, RisingRaysLookUpAndEmptyRaysChangeNothing) {
    float yaw = 7, pitch = 8;
    EXPECT_FALSE(RayToPointerAngles({1, 2, 3}, {1, 2, 3}, &yaw, &pitch));
    EXPECT_EQ(yaw, 7);
    EXPECT_EQ(pitch, 8);
    ASSERT_TRUE(RayToPointerAngles({0, 0, 0}, {0, 1, 1}, &yaw, &pitch));
    EXPECT_NEAR(yaw, 0, 1e-4);
    EXPECT_NEAR(pitch, -45, 1e-3);
    plat::Vec3 d;
    AnglesToDirection(&d, yaw, pitch);
    EXPECT_GT(d.y, 0.7f);
    ASSERT_TRUE(RayToPointerAngles({0, 0, 0}, {-1, 0, 0}, &yaw, &pitch));
    EXPECT_NEAR(yaw, 270, 1e-3);
    // Mesh animation time is a fraction, not an integer division.
    EXPECT_FLOAT_EQ(MeshAnimationTime(5, 4), 0.5f);
    EXPECT_FLOAT_EQ(MeshAnimationTime(9, 0), 0.0f);
}

TEST_F(RenderListTest, ScreenConversionsAndSceneWithoutViewType) {
    engine.screenRect.Set(0, 0, 1280, 960);
    int32_t x = 512, y = 384;
    engine.VirtualToScreen(&x, &y);
    EXPECT_EQ(x, 640);
    EXPECT_EQ(y, 480);
    engine.ScreenToVirtual(&x, &y);
    EXPECT_EQ(x, 512);
    EXPECT_EQ(y, 384);
    float d[3];
    scene->viewtype = kViewCube;
    engine.DirectionAt(d, 90, 0, false);
    EXPECT_NEAR(d[0], 1, 1e-5);

    EXPECT_FALSE(RenderScene(nullptr));
    Lua("calls = '' function OnSceneAfterRender() calls = calls .. 'a' end "
        "function OnSceneRender() calls = calls .. 'r' end "
        "function On2DSceneUpdate() calls = calls .. '2' end");
    scene->handlerBits = 0x80;
    scene->viewtype = kViewNone;
    EXPECT_TRUE(RenderScene(scene));
    EXPECT_EQ(Text("calls"), "");
    scene->viewtype = kViewPage;
    EXPECT_TRUE(RenderScene(scene));
    EXPECT_EQ(Text("calls"), "2ar");
}

}  // namespace
