// Scene nodes: the node tree, the scene file text, reactions to changed
// references, the resource steps through the object-kind hooks, deletion,
// and the sound glide.
#include <zlib.h>

#include <cmath>
#include <string>
#include <vector>

#include "media/sound/sound.h"
#include "render/camera.h"
#include "scene/cube_faces.h"
#include "scene/hot_spot.h"
#include "scene/scene_fixture.h"
#include "scene/scene_page.h"
#include "scene/sound_glide.h"

using namespace scene_test;

namespace {

// A stand-in for the point objects whose class comes later: a sound record,
// a position and a direction, and the change masks it received.
class FakePoint : public EObject {
public:
    FakePoint() : EObject(nullptr) {}
    void OnChanged(uint32_t mask) override { changes.push_back(mask); }
    ResourceRecord* sound = nullptr;
    plat::Vec3 position{};
    plat::Vec3 direction{};
    std::vector<uint32_t> changes;
};

std::vector<std::string>& KindCalls() {
    static std::vector<std::string> calls;
    return calls;
}

const SceneKindOps kFakePointOps = {
    [](EObject* o) { KindCalls().push_back(std::string("load ") + o->name); },
    [](EObject* o) { KindCalls().push_back(std::string("unload ") + o->name); },
    [](EObject* o, ResourceRecord** record, plat::Vec3* position, plat::Vec3* direction) {
        auto* p = static_cast<FakePoint*>(o);
        *record = p->sound;
        *position = p->position;
        *direction = p->direction;
        return p->sound != nullptr;
    },
    nullptr,
};

template <class T>
FakePoint* AddPoint(ObjectList<T>& list, const char* name) {
    auto* p = new FakePoint();
    p->name = Intern(name);
    ListAppend(reinterpret_cast<ObjectList<EObject>&>(list), static_cast<EObject*>(p));
    return p;
}

class GameSceneTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        KindCalls().clear();
        real_point_ops_ = GetSceneKindOps(kSceneKindPoints);
        SetSceneKindOps(kSceneKindPoints, &kFakePointOps);
    }
    void TearDown() override {
        // The real points' ops, registered at start-up, serve later tests.
        SetSceneKindOps(kSceneKindPoints, real_point_ops_);
        for (ResourceRecord* r : records_) {
            delete static_cast<Sound*>(r->object);
            delete r;
        }
        SceneTest::TearDown();
    }
    // A loaded static sound of our own, outside the manager.
    ResourceRecord* LoadedSound(bool loaded = true) {
        auto* r = new ResourceRecord{};
        r->type = kResourceSound;
        r->flags = kResourceLoadTried;
        r->name = Intern("snd");
        if (loaded) r->object = new Sound();
        records_.push_back(r);
        return r;
    }
    std::vector<ResourceRecord*> records_;
    const SceneKindOps* real_point_ops_ = nullptr;
};

bool Playing(Sound* s) {
    for (Sound* p = g_playing_sounds; p; p = p->next_playing)
        if (p == s) return true;
    return false;
}

void StartPlaying(Sound* s) {
    s->next_playing = g_playing_sounds;
    g_playing_sounds = s;
}

TEST_F(GameSceneTest, NodeTreeFromNames) {
    GameScene* x = Scene("x");
    x->AttachToNodeTree();
    EXPECT_EQ(x->parent, SceneRootNode());
    EXPECT_EQ(x->depth, 1);

    Scene("A");  // an ancestor that exists already, named in another case
    GameScene* c = Scene("a/b/c");
    c->AttachToNodeTree();
    GameScene* a = ListFindByName(engine.scenes, "a");
    GameScene* ab = ListFindByName(engine.scenes, "a/b");
    ASSERT_NE(ab, nullptr);
    EXPECT_STREQ(a->name, "A");  // found, not made again
    EXPECT_EQ(ListCount(engine.scenes), 4u);
    EXPECT_EQ(a->parent, SceneRootNode());
    EXPECT_EQ(a->depth, 1);
    EXPECT_EQ(ab->parent, a);
    EXPECT_EQ(ab->depth, 2);
    EXPECT_EQ(c->parent, ab);
    EXPECT_EQ(c->depth, 3);

    // Attached once: a second attach changes nothing.
    c->parent = x;
    c->AttachToNodeTree();
    EXPECT_EQ(c->parent, x);

    // The root never becomes its own parent; a child never the parent of
    // its own parent.
    SceneRootNode()->AttachToNodeTree();
    EXPECT_EQ(SceneRootNode()->parent, nullptr);
    x->AddChildNode(SceneRootNode()->parent);
    ab->AddChildNode(a);
    EXPECT_EQ(a->parent, SceneRootNode());

    // Long names are no problem for the prefixes.
    GameScene* deep = Scene((std::string(300, 'd') + "/" + std::string(300, 'e')).c_str());
    deep->AttachToNodeTree();
    EXPECT_EQ(deep->depth, 2);
    EXPECT_EQ(std::strlen(deep->parent->name), 300u);

    // A chain of 400 levels: every level made once, each under the one
    // before; a second name along the chain makes only itself.
    std::string chain = "q";
    for (int i = 0; i < 400; ++i) chain += "/Q";
    const uint32_t before = ListCount(engine.scenes);
    GameScene* bottom = Scene(chain.c_str());
    bottom->AttachToNodeTree();
    EXPECT_EQ(bottom->depth, 401);
    EXPECT_EQ(ListCount(engine.scenes), before + 401);
    int levels = 0;
    for (GameScene* s = bottom; s->parent != SceneRootNode(); s = s->parent, ++levels)
        EXPECT_EQ(std::strlen(s->parent->name) + 2, std::strlen(s->name));
    EXPECT_EQ(levels, 400);
    GameScene* side = Scene((chain.substr(0, 201) + "/side").c_str());
    side->AttachToNodeTree();
    EXPECT_EQ(ListCount(engine.scenes), before + 402);
    EXPECT_EQ(side->depth, 102);
}

TEST_F(GameSceneTest, SavedTextOfEachViewType) {
    // No view: only the objects' entries between the frame lines.
    GameScene* s = Scene("hall");
    HotSpot* h = Add(s->hotspots, "door");
    h->SetDefaults();
    h->color = 0xFFFFFFFFu;
    h->hs_type = kHotspotMap;
    Add(s->pages, "p1");  // not written for view type 0
    EXPECT_EQ(SavedText(s),
              "beginscene()\r\nhotspot { name=\"door\", }\r\nendscene()\r\nscene{name=\"hall\",viewtype=0,}\r\n");

    // A page node: its pages, then its camera.
    s->viewtype = kViewPage;
    s->camera = static_cast<Camera*>(CreateObjectByClass("view"));
    s->fullname = Intern("The \"Great\" Hall");
    s->currentPage = s->pages.head;
    s->cached = true;
    std::string text = SavedText(s);
    const std::string page_entry = "object{name=\"p1\",x=0,y=0,class=\"page\",order=0,}\r\n";
    EXPECT_EQ(text.find("beginscene()\r\n" + page_entry + "object{fov="), 0u) << text;
    EXPECT_EQ(text.find("cubefaces{"), std::string::npos);
    EXPECT_NE(text.find("endscene()\r\nscene{name=\"hall\",viewtype=1,fullname=\"The \\\"Great\\\" Hall\","
                        "currentPage=\"p1\",cached=true,}\r\n"),
              std::string::npos)
        << text;

    // Resources are saved by the name they were declared with.
    Write(Path("img/p1.png"), SolidPng(2, 2, 0));
    s->pages.head->image = Resources().DeclareImage("IMG/p1", 0);
    EXPECT_NE(SavedText(s).find("object{name=\"p1\",image=\"img/p1\",x=0,"), std::string::npos);

    // A panoramic node: cube face lines, no page or camera entries.
    s->viewtype = kViewCube;
    CubeFaces* set = Add(s->cubeFaceSets, "faces");
    set->order = 3;
    CubeFaces* masks = Add(s->cubeFaceSets, "masks");
    masks->mask = true;
    s->cubeFaces = set;
    s->cubeMasks = masks;
    s->currentPage = nullptr;
    s->fullname = nullptr;
    s->cached = false;
    text = SavedText(s);
    EXPECT_EQ(text,
              "beginscene()\r\n"
              "cubefaces{name=\"faces\",mask=false,front=\"\",right=\"\",back=\"\",left=\"\",top=\"\",bottom=\"\","
              "order=3}\r\n"
              "cubefaces{name=\"masks\",mask=true,front=\"\",right=\"\",back=\"\",left=\"\",top=\"\",bottom=\"\","
              "order=0}\r\n"
              "hotspot { name=\"door\", }\r\n"
              "endscene()\r\n"
              "scene{name=\"hall\",viewtype=2,cubeFaces=\"faces\",cubeMasks=\"masks\",}\r\n");
}

TEST_F(GameSceneTest, PanoramicSaveWritesTheMapOnlyForTheCurrentScene) {
    ASSERT_TRUE(PrepareHotspotMap());
    HotspotMapImage()->pixels[5] = 7;
    GameScene* shown = Scene("shown");
    GameScene* other = Scene("other");
    shown->viewtype = other->viewtype = kViewCube;
    engine.currentScene = shown;
    Write(Path("stages/shown/x"), "");
    Write(Path("stages/other/hotspots.bin"), "old map");

    SavedText(other);
    EXPECT_EQ(quild_test::ReadFile(Path("stages/other/hotspots.bin")), "old map");
    EXPECT_TRUE(Logged("hotspot map of other not saved"));

    SavedText(shown);
    std::string packed = quild_test::ReadFile(Path("stages/shown/hotspots.bin"));
    std::vector<uint8_t> cells(kHotspotMapBytes + 1);
    uLongf length = cells.size();
    ASSERT_EQ(uncompress(cells.data(), &length, reinterpret_cast<const Bytef*>(packed.data()), packed.size()), Z_OK);
    EXPECT_EQ(length, kHotspotMapBytes);
    EXPECT_EQ(cells[5], 7);
}

TEST_F(GameSceneTest, SavedNamesLoadBackThroughLua) {
    // Quotes, backslashes, newlines and brackets survive a round trip.
    const char* odd = "we\"ird\\name\n]]--";
    GameScene* s = Scene(odd);
    s->viewtype = kViewCube;
    CubeFaces* set = Add(s->cubeFaceSets, odd);
    s->cubeFaces = set;
    HotSpot* h = Add(s->hotspots, odd);
    h->SetDefaults();
    h->color = 0xFFFFFFFFu;
    h->dest_look = Intern("a\"b");
    const std::string text = SavedText(s);
    ASSERT_EQ(ScriptRun("seen = {}\n"
                        "function beginscene() end function endscene() end\n"
                        "function cubefaces(t) seen.cube = t.name end\n"
                        "function hotspot(t) seen.hotspot = t.name; seen.look = t.dest_look end\n"
                        "function scene(t) seen.scene = t.name; seen.faces = t.cubeFaces end"),
              0);
    ASSERT_EQ(ScriptRun(text.c_str()), 0) << text;
    ASSERT_EQ(ScriptRun((std::string("assert(seen.scene == '") + LuaEscaped(odd) + "')").c_str()), 0);
    ASSERT_EQ(ScriptRun("assert(seen.cube == seen.scene and seen.faces == seen.scene and seen.hotspot == seen.scene)"),
              0);
    ASSERT_EQ(ScriptRun("assert(seen.look == 'a\"b')"), 0);
}

TEST_F(GameSceneTest, ChangingTheFaceSetClearsMasksAndMayEndTheView) {
    GameScene* s = Scene("n");
    s->viewtype = kViewCube;
    s->cubeMasks = Add(s->cubeFaceSets, "m");
    s->OnChanged(kSceneBitCubeFaces);
    EXPECT_EQ(s->cubeMasks, nullptr);
    EXPECT_EQ(s->viewtype, kViewNone);

    s->viewtype = kViewCube;
    Add(s->pages, "p");
    s->OnChanged(kSceneBitCubeFaces);
    EXPECT_EQ(s->viewtype, kViewCube);  // pages keep the view type
}

TEST_F(GameSceneTest, ResourceStepsVisitEveryObjectKindInOrder) {
    GameScene* s = Scene("r");
    AddPoint(s->points, "p1");
    AddPoint(s->points, "p2");
    Write(Path("img/page.png"), SolidPng(2, 2, 0x102030));
    ScenePage* page = Add(s->pages, "page");
    page->image = Resources().DeclareImage("img/page", 0);
    ASSERT_NE(page->image, nullptr);

    s->LoadResources();
    EXPECT_TRUE(s->resourcesLoaded);
    EXPECT_TRUE(page->image->flags & kResourceLoadTried);
    EXPECT_EQ(KindCalls(), (std::vector<std::string>{"load p1", "load p2"}));

    s->UnloadResources();
    EXPECT_FALSE(s->resourcesLoaded);
    EXPECT_EQ(page->image->flags, 0u);  // unloaded, and the record stays
    EXPECT_EQ(Resources().FindByName("img/page"), page->image);
    EXPECT_EQ(KindCalls().back(), "unload p2");
}

TEST_F(GameSceneTest, DeletionClearsReferencesLinksAndHandles) {
    GameScene* s = Scene("d");
    HotSpot* parent = Add(s->hotspots, "parent");
    HotSpot* child = Add(s->hotspots, "child");
    child->parent = parent;
    parent->AddChild(child);
    HotSpot* global = Add(engine.globalHotspots, "global");
    global->parent = parent;
    parent->AddChild(global);
    ScenePage* page = Add(s->pages, "page");
    s->currentPage = s->nextPage = page;
    FakePoint* point = AddPoint(s->points, "point");

    // Unlinking one object takes it out of its list and every reference.
    EXPECT_TRUE(s->UnlinkObject(parent));
    EXPECT_EQ(child->parent, nullptr);
    EXPECT_EQ(global->parent, nullptr);
    EXPECT_EQ(ListIndexOf(s->hotspots, parent), -1);
    EXPECT_TRUE(s->UnlinkObject(point));
    EXPECT_EQ(s->points.head, nullptr);
    EXPECT_FALSE(s->UnlinkObject(point));
    void* handle = parent->Handle();
    delete parent;
    delete point;
    EXPECT_EQ(ObjectFromHandle(handle), nullptr);

    static std::vector<EObject*> forgotten;
    forgotten.clear();
    s->camera = static_cast<Camera*>(CreateObjectByClass("view"));
    void* page_handle = page->Handle();
    s->FreeObjects([](EObject* o) { forgotten.push_back(o); });
    EXPECT_EQ(forgotten.size(), 3u);  // child, page, camera
    EXPECT_EQ(s->currentPage, nullptr);
    EXPECT_EQ(s->nextPage, nullptr);
    EXPECT_EQ(s->camera, nullptr);
    EXPECT_EQ(s->hotspots.head, nullptr);
    EXPECT_EQ(ObjectFromHandle(page_handle), nullptr);
}

TEST_F(GameSceneTest, GlideMovesSharedSoundsAndSendsTheOthersAway) {
    GameScene* from = Scene("from");
    GameScene* to = Scene("to");
    ResourceRecord* shared = LoadedSound();
    ResourceRecord* only_old = LoadedSound();
    ResourceRecord* not_loaded = LoadedSound(false);
    FakePoint* a = AddPoint(from->points, "a");
    a->sound = shared;
    a->position = {1000, 0, 0};
    FakePoint* b = AddPoint(from->points, "b");
    b->sound = only_old;
    b->position = {0, 0, 2000};
    b->direction = {0, 0, 1};
    AddPoint(from->points, "c")->sound = not_loaded;
    AddPoint(from->points, "silent");
    FakePoint* a2 = AddPoint(to->points, "a2");
    a2->sound = shared;
    a2->position = {0, 3000, 0};

    PrepareSoundGlide(to, from);
    EXPECT_EQ(a2->changes, (std::vector<uint32_t>{0x42}));  // the new node's points placed first
    ASSERT_EQ(SoundGlideCount(), 2u);
    EXPECT_EQ(SoundGlideTable()[2].record, nullptr);
    EXPECT_EQ(SoundGlideTable()[1].newZ, 10000.0f);

    auto* s_shared = static_cast<Sound*>(shared->object);
    auto* s_old = static_cast<Sound*>(only_old->object);
    StartPlaying(s_shared);
    StartPlaying(s_old);
    UpdateSoundGlide(0.0f);
    EXPECT_EQ(s_shared->position[0], 1.0f);
    EXPECT_EQ(s_old->position[2], 2.0f);
    UpdateSoundGlide(1.0f);
    EXPECT_EQ(s_shared->position[1], 3.0f);
    EXPECT_EQ(s_old->position[2], 10.0f);
    EXPECT_TRUE(Playing(s_shared));  // both places are near: it keeps playing
    EXPECT_FALSE(Playing(s_old));

    // A sound unloaded during the fade is skipped, not touched.
    delete s_shared;
    shared->object = nullptr;
    UpdateSoundGlide(0.5f);

    // From no scene the table stays empty; to no scene everything leaves.
    PrepareSoundGlide(to, nullptr);
    EXPECT_EQ(SoundGlideCount(), 0u);
    PrepareSoundGlide(nullptr, from);
    EXPECT_EQ(SoundGlideCount(), 1u);
}

TEST_F(GameSceneTest, GlideTableNeverOverflows) {
    GameScene* from = Scene("many");
    for (int i = 0; i < 40; ++i) AddPoint(from->points, "p")->sound = LoadedSound();
    PrepareSoundGlide(nullptr, from);
    EXPECT_EQ(SoundGlideCount(), kSoundGlideEntries - 1);
    EXPECT_EQ(SoundGlideTable()[kSoundGlideEntries - 1].record, nullptr);
}

}  // namespace
