// Objects and their properties from scripts, through the real Lua state.
#include <cstdint>
#include <vector>

#include "app/engine.h"
#include "media/text/game_font.h"
#include "media/text/game_text.h"
#include "media/resource_manager.h"
#include "render/camera.h"
#include "scene/game_scene.h"
#include "scene/game_video.h"
#include "scene/hot_spot.h"
#include "script/lua_host.h"
#include "script/object_model.h"
#include "script/script_handles.h"
#include "script/script_test_support.h"

using script_test::Logged;
using script_test::DeleteAll;
using script_test::ScriptTest;

namespace {

// A class with a field of every property type.
class Probe : public EObject {
public:
    class Probe_Initializer : public EObject_Initializer {
    public:
        Probe_Initializer() : EObject_Initializer(&Probe::s_descriptor) {}
        EObject* Create() override { return new Probe; }
        void RegisterProperties() override {
            ClassDescriptor& d = Probe::s_descriptor;
            d.AddProperty("name", kPropertyString, ObjectFieldOffset(&EObject::name));
            d.AddProperty("i", kPropertyInt, ObjectFieldOffset(&Probe::i));
            d.AddProperty("b", kPropertyBool, ObjectFieldOffset(&Probe::b));
            d.AddProperty("f", kPropertyFloat, ObjectFieldOffset(&Probe::f));
            d.AddProperty("s", kPropertyString, ObjectFieldOffset(&Probe::s));
            d.AddProperty("v", kPropertyVector, ObjectFieldOffset(&Probe::v));
            d.AddProperty("c3", kPropertyColor3, ObjectFieldOffset(&Probe::c3));
            d.AddProperty("color", kPropertyColor, ObjectFieldOffset(&Probe::color));
            d.AddProperty("f2", kPropertyFloat2, ObjectFieldOffset(&Probe::f2));
            d.AddProperty("rect", kPropertyRect, ObjectFieldOffset(&Probe::rect));
            d.AddProperty("image", kPropertyImage, ObjectFieldOffset(&Probe::image));
            d.AddProperty("sound", kPropertySound, ObjectFieldOffset(&Probe::sound));
            d.AddProperty("scene", kPropertyScene, ObjectFieldOffset(&Probe::scene));
            d.AddProperty("hex", kPropertyHex, ObjectFieldOffset(&Probe::hex));
            d.AddProperty("text", kPropertyText, ObjectFieldOffset(&Probe::text));
            d.AddProperty("dialog", kPropertyDialog, ObjectFieldOffset(&Probe::dialog));
            d.AddProperty("list", kPropertyList, ObjectFieldOffset(&Probe::list));
            d.AddObjectReference("font_ref", "font", ObjectFieldOffset(&Probe::font_ref));
            d.AddConstant("class", "probe");
        }
    };
    static ClassDescriptor s_descriptor;

    Probe() : EObject(&s_descriptor) {}
    // The engine frees its objects without destructors: nothing here owns memory.
    void OnChanged(uint32_t mask) override {
        if (change_count < 8) changes[change_count++] = mask;
    }

    int32_t i = 0;
    bool b = false;
    float f = 0;
    const char* s = nullptr;
    float v[3] = {};
    float c3[3] = {};
    uint32_t color = 0;
    float f2[2] = {};
    int32_t rect[4] = {};
    ResourceRecord* image = nullptr;
    ResourceRecord* sound = nullptr;
    EObject* scene = nullptr;
    uint32_t hex = 0;
    const char* text = nullptr;
    EObject* dialog = nullptr;
    const char* list = nullptr;
    EObject* font_ref = nullptr;
    uint32_t changes[8] = {};
    int change_count = 0;
};
ClassDescriptor Probe::s_descriptor;
Probe::Probe_Initializer g_probe_initializer;

class ObjectFunctionsTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        RegisterAllClassProperties();
        engine_ = new Engine;
        SetCurrentEngine(engine_);
    }
    void TearDown() override {
        for (GameScene* s = engine_->scenes.head; s;) {
            GameScene* next = ListNext(s);
            s->FreeObjects();
            delete s;
            s = next;
        }
        DeleteAll(engine_->fonts);
        DeleteAll(engine_->videos);
        DeleteAll(engine_->texts);
        engine_->scenes = {};
        SetCurrentEngine(nullptr);
        delete engine_;
        Resources().Clear();
        ScriptTest::TearDown();
    }
    // A scene in the engine's list with a hotspot "Door" and a page "door".
    GameScene* Room() {
        GameScene* room = ListFindOrAdd(engine_->scenes, CommonStrings().Intern("room"));
        Lua("room_door = ge_newsceneobject('hotspot', 'Door', 'room')");
        return room;
    }
    void SetGlobalPointer(const char* name, const void* p) {
        lua_pushlightuserdata(L, const_cast<void*>(p));
        lua_setglobal(L, name);
    }
    Engine* engine_ = nullptr;
};

TEST_F(ObjectFunctionsTest, CameraPropertiesRoundTrip) {
    Lua(R"(
        cam = ge_newobject('view', 'cam')
        ge_setproperty(cam, 'eye', '1.5,-2,3')
        local t, x, y, z = ge_getproperty(cam, 'eye')
        assert(t == '1.500000,-2.000000,3.000000' and x == 1.5 and y == -2 and z == 3, t)
        ge_setproperty(cam, 'EYE', '7')            -- keys ignore case; a partial text sets x alone
        t, x, y, z = ge_getproperty(cam, 'eye')
        assert(x == 7 and y == -2 and z == 3)
        ge_setproperty(cam, 'eye', {})             -- not text: unchanged
        ge_setproperty(cam, 'eye')                 -- no value: nothing at all
        assert(select(2, ge_getproperty(cam, 'eye')) == 7)
        ge_setproperty(cam, 'fov', 45.5)
        assert(ge_getproperty(cam, 'fov') == 45.5)
        ge_setproperty(cam, 'ortho', 0)   assert(ge_getproperty(cam, 'ortho') == false)
        ge_setproperty(cam, 'ortho', '0') assert(ge_getproperty(cam, 'ortho') == true)
        ge_setproperty(cam, 'ortho', nil) assert(ge_getproperty(cam, 'ortho') == false)
        ge_setproperty(cam, 'ortho', 0.5) assert(ge_getproperty(cam, 'ortho') == false)
        assert(ge_getpropertytype(cam, 'eye') == 'vector3')
        assert(ge_getpropertytype(cam, 'fov') == 'number')
        assert(ge_getpropertytype(cam, 'class') == nil)
        assert(ge_getproperty(cam, 'class') == 'view')
        assert(select('#', ge_getproperty(cam, 'nokey')) == 0)
        assert(select('#', ge_getpropertytype(cam, 'nokey')) == 0)
        local keys = table.concat(ge_getpropertylist(cam), ',')
        assert(keys == 'ortho,fov,znear,zfar,aspect,eye,lookAt', keys)
    )");
}

TEST_F(ObjectFunctionsTest, EveryTypeStoresAndReadsBack) {
    Lua(R"(
        p = ge_newobject('probe', 'p')
        ge_setproperty(p, 'i', 1e300)  assert(ge_getproperty(p, 'i') == 2147483647)
        ge_setproperty(p, 'i', -1e300) assert(ge_getproperty(p, 'i') == -2147483648)
        ge_setproperty(p, 'i', 0/0)    assert(ge_getproperty(p, 'i') == 0)
        ge_setproperty(p, 'i', -7.9)   assert(ge_getproperty(p, 'i') == -7)
        ge_setproperty(p, 's', 'abc')  assert(ge_getproperty(p, 's') == 'abc')
        ge_setproperty(p, 's', '')     assert(ge_getproperty(p, 's') == '')
        ge_setproperty(p, 's', 5)      assert(ge_getproperty(p, 's') == '')
        ge_setproperty(p, 'color', 'ff00ff00') assert(ge_getproperty(p, 'color') == 'ff00ff00')
        ge_setproperty(p, 'color', 255)        assert(ge_getproperty(p, 'color') == '255')
        ge_setproperty(p, 'hex', 'zz')         assert(ge_getproperty(p, 'hex') == '0')
        coroutine.wrap(function() ge_setproperty(p, 'hex', 'abc') end)()   -- read from the coroutine's stack
        assert(ge_getproperty(p, 'hex') == 'abc')
        assert(ge_getpropertytype(p, 'color') == 'color' and ge_getpropertytype(p, 'hex') == 'hex')
        local t, a, b = ge_getproperty(p, 'f2')
        assert(t == '0.000000,0.000000' and a == 0 and b == 0)
        ge_setproperty(p, 'f2', '0.25,-4') t, a, b = ge_getproperty(p, 'f2')
        assert(t == '0.250000,-4.000000' and a == 0.25 and b == -4)
        ge_setproperty(p, 'rect', '1,2,3,4')
        local t, x, y, w, h = ge_getproperty(p, 'rect')
        assert(t == '1,2,3,4' and x == 1 and y == 2 and w == 3 and h == 4)
        ge_setproperty(p, 'rect', '10.9,-3.7')     -- a partial rectangle keeps w and h
        t = ge_getproperty(p, 'rect') assert(t == '10,-3,3,4', t)
        ge_setproperty(p, 'rect', '1e30,-1e30,0,0')
        t = ge_getproperty(p, 'rect') assert(t == '2147483647,-2147483648,0,0', t)
        ge_setproperty(p, 'c3', '0.5,0.25,1') assert(ge_getproperty(p, 'c3') == '0.500000,0.250000,1.000000')
        assert(ge_getproperty(p, 'text') == nil)
        ge_setproperty(p, 'text', 'said')   assert(ge_getproperty(p, 'text') == 'said')
        ge_setproperty(p, 'list', 'a;b')    assert(ge_getproperty(p, 'list') == 'a;b')
        ge_setproperty(p, 'b', 2)           assert(ge_getproperty(p, 'b') == true)
        ge_setproperty(p, 'f', '2.5')       assert(ge_getproperty(p, 'f') == 2.5)
        local keys = ge_getpropertylist(p)
        for _, k in ipairs(keys) do assert(k ~= 'class') end
        assert(#keys == 18)
    )");
    auto* p = static_cast<Probe*>(engine_->objects.head);
    ASSERT_TRUE(IsClass(p, "probe"));
    // Every write notified the class with the bit of its property.
    p->change_count = 0;
    Lua("ge_setproperty(p, 'i', 1); ge_setproperty(p, 'rect', '0,0,1,1'); ge_setproperty(p, 'class', 'x')");
    EXPECT_EQ(std::vector<uint32_t>(p->changes, p->changes + p->change_count),
              (std::vector<uint32_t>{1u << 1, 1u << 9, 1u << 18}));
    EXPECT_EQ(std::string(p->s ? p->s : "(null)"), "(null)");

    // With Lua's memory full the text of a value fails to push: the script
    // gets Lua's error, and the engine's copy of the text is not left behind
    // (the engine's heap is as it was).
    RegisterCeilingFunctions();
    Lua(R"(
        ge_setproperty(p, 'v', '123.5,-4096.25,7e6')
        collectgarbage() collectgarbage('stop')
        fill(true)
        local before = heap()
        local ok, e = pcall(ge_getproperty, p, 'v')
        local grown = heap() - before
        fill(false)
        collectgarbage('restart')
        assert(not ok and e == 'not enough memory', e)
        assert(grown == 0, grown .. ' bytes left behind')
        local text, x = ge_getproperty(p, 'v')  -- (a constant of the same text would be in memory already)
        assert(text:sub(1, 10) == '123.500000' and #text == 38 and x == 123.5, text)
    )");
}

TEST_F(ObjectFunctionsTest, ResourcesAreKeptByTheirDeclaredName) {
    quild_test::WriteFile(Path("local/img/a.tga"), "x");
    quild_test::WriteFile(Path("local/snd/b.ogg"), "x");
    Lua(R"(
        _LOCAL = 'local/'
        p = ge_newobject('probe', 'p')
        assert(ge_getproperty(p, 'image') == nil)
        ge_setproperty(p, 'image', '_LOCAL/img/a')
        assert(ge_getproperty(p, 'image') == '_LOCAL/img/a', ge_getproperty(p, 'image'))
        ge_setproperty(p, 'sound', 'local/snd/b')
        assert(ge_getproperty(p, 'sound') == '_LOCAL/snd/b')
        ge_setproperty(p, 'image', 'missing')  assert(ge_getproperty(p, 'image') == nil)
        ge_setproperty(p, 'image', nil)             assert(ge_getproperty(p, 'image') == nil)
    )");
    ResourceRecord* image = Resources().FindByName("local/img/a");
    ResourceRecord* sound = Resources().FindByName("local/snd/b");
    ASSERT_TRUE(image && sound);
    SetGlobalPointer("image_record", image);
    SetGlobalPointer("sound_record", sound);
    int stack_thing = 0;
    SetGlobalPointer("foreign", &stack_thing);
    Lua(R"(
        ge_setproperty(p, 'image', image_record) assert(ge_getproperty(p, 'image') == '_LOCAL/img/a')
        ge_setproperty(p, 'image', sound_record) assert(ge_getproperty(p, 'image') == nil)
        ge_setproperty(p, 'image', foreign)      assert(ge_getproperty(p, 'image') == nil)
        ge_setproperty(p, 'image', p)            assert(ge_getproperty(p, 'image') == nil)
        ge_setproperty(p, 'image', image_record)
    )");
    // Records freed by the manager are no longer names.
    Resources().Clear();
    Lua("assert(ge_getproperty(p, 'image') == nil)");
}

TEST_F(ObjectFunctionsTest, ReferencesTakeOnlyLiveObjectsOfTheirClass) {
    Lua(R"(
        p = ge_newobject('probe', 'p')
        f1 = ge_newobject('font', 'f1')
        cam = ge_newobject('view', 'cam')
        ge_setproperty(p, 'font_ref', 'f1')    assert(ge_getproperty(p, 'font_ref') == f1)
        assert(ge_getpropertytype(p, 'font_ref') == 'font')
        ge_setproperty(p, 'font_ref', 'F1')    assert(ge_getproperty(p, 'font_ref') == nil)  -- exact names
        ge_setproperty(p, 'font_ref', f1)      assert(ge_getproperty(p, 'font_ref') == f1)
        ge_setproperty(p, 'font_ref', cam)     assert(ge_getproperty(p, 'font_ref') == nil)
        ge_setproperty(p, 'font_ref', 'cam')   assert(ge_getproperty(p, 'font_ref') == nil)
        ge_setproperty(p, 'scene', 'stage/a')  assert(ge_getproperty(p, 'scene') == 'stage/a')
        ge_setproperty(p, 'scene', '')         assert(ge_getproperty(p, 'scene') == nil)
        ge_setproperty(p, 'dialog', cam)       assert(ge_getproperty(p, 'dialog') == nil)
    )");
    ASSERT_NE(engine_->scenes.head, nullptr);
    EXPECT_STREQ(engine_->scenes.head->name, "stage/a");
    GameText* text = ListFindOrAdd(engine_->texts, CommonStrings().Intern("intro"));
    ASSERT_NE(text, nullptr);
    Lua("ge_setproperty(p, 'dialog', 'INTRO'); d = ge_getproperty(p, 'dialog'); assert(type(d) == 'userdata')");
    Lua("assert(ge_getproperty(d, 'name') == 'intro')");
    // A referenced object that is freed reads as nil and is not saved.
    Lua("ge_setproperty(p, 'font_ref', f1)");
    GameFont* font = engine_->fonts.head;
    ListRemove(engine_->fonts, font);
    delete font;
    Lua("assert(ge_getproperty(p, 'font_ref') == nil and ge_getproperty(f1, 'name') == nil)");
}

TEST_F(ObjectFunctionsTest, NewObjectReplacesAndWarns) {
    Lua("a = ge_newobject('view', 'x'); b = ge_newobject('view', 'x')");
    EXPECT_TRUE(Logged("[WARNING] : OBJECT[x] RECREATED"));
    engine_->selectedObject = engine_->objects.head;
    Lua("c = ge_newobject('probe', 'x')");
    EXPECT_TRUE(Logged("[WARNING] : OBJECT[x] TYPE CHANGED FROM view to probe"));
    EXPECT_EQ(engine_->selectedObject, nullptr);
    EXPECT_EQ(ListCount(engine_->objects), 1u);
    Lua(R"(
        assert(select('#', ge_getproperty(a, 'fov')) == 0 and ge_getproperty(b, 'fov') == nil)
        assert(ge_getproperty(c, 'class') == 'probe')
        assert(select('#', ge_newobject('nosuchclass', 'y')) == 0 and select('#', ge_newobject()) == 0)
        local n = ge_newobject('view')                 -- no name
        assert(ge_getproperty(n, 'name') == 'Camera')  -- the camera's constant
        v = ge_newobject('video', 'v1')
        assert(#ge_getobjectslist(true) == 2 and #ge_getobjectslist() == 3)
        -- made by class name, with the class's defaults
        assert(ge_getproperty(v, 'bgcolor') == 'ff000000')
    )");
    EXPECT_EQ(ListCount(engine_->videos), 1u);
    EXPECT_STREQ(engine_->objects.tail->name, "NewObject");
    Lua(R"(
        local h = ge_newobject('hotspot', 'h')
        assert(ge_getproperty(h, 'visible') == true and ge_getproperty(h, 'enabled') == true)
        assert(ge_getproperty(h, 'itemusable') == false)
    )");
}

TEST_F(ObjectFunctionsTest, StaleForeignAndWrongKindHandlesAreMissing) {
    int not_an_object[8] = {};
    SetGlobalPointer("foreign", not_an_object);
    SetGlobalPointer("wild", reinterpret_cast<void*>(uintptr_t(0x10)));
    RegisterScriptHandle(not_an_object + 4, ScriptHandleKind::kRect);
    SetGlobalPointer("rect", not_an_object + 4);
    engine_->currentScene = Room();
    Lua(R"(
        assert(Scene.door == room_door)   -- a found object puts "Object*" on every light userdata
        for _, bad in ipairs({foreign, wild, rect, Scene, Scenes, 12, 'x', true}) do
            assert(select('#', ge_getproperty(bad, 'name')) == 0)
            assert(select('#', ge_getpropertytype(bad, 'name')) == 0)
            assert(select('#', ge_getpropertylist(bad)) == 0)
            ge_setproperty(bad, 'name', 'x')
        end
        assert(foreign.name == nil and rect.x == nil)
        foreign.name = 'written'
        assert(select('#', ge_getproperty()) == 0)
    )");
    for (int v : not_an_object) EXPECT_EQ(v, 0);
    UnregisterScriptHandle(not_an_object + 4);
}

TEST_F(ObjectFunctionsTest, SceneAndScenesLookUpByName) {
    GameScene* room = Room();
    ASSERT_NE(room, nullptr);
    Lua(R"(
        page = ge_newsceneobject('page', 'door', 'room')
        assert(page ~= room_door)
        assert(ge_newsceneobject('hotspot', 'DOOR', 'room') == room_door)   -- found again
        local fresh = ge_newsceneobject('hotspot', 'fresh', 'room')
        assert(ge_getproperty(fresh, 'visible') == true and ge_getproperty(fresh, 'enabled') == true)
        assert(Scenes.room.door == room_door)           -- hotspots before pages
        assert(Scenes.room.door.name == 'Door')         -- indexing the handle reads properties
        Scenes.room.door.name = 'Door2'
        assert(ge_getproperty(room_door, 'name') == 'Door2')
        assert(Scenes.nosuch == nil and Scene.Door2 == nil)   -- no current scene
        assert(Scenes.room.none == nil)
        local lookup = getmetatable(Scene).__index
        assert(lookup(io.stdout, 'Door2') == nil and lookup({}, 'Door2') == nil)
    )");
    EXPECT_EQ(static_cast<HotSpot*>(room->hotspots.head)->owner, &room->hotspots);
    engine_->currentScene = room;
    Lua("assert(Scene.door2 == room_door); kept = Scenes.room");
    // A scene userdata outliving its scene finds nothing.
    engine_->currentScene = nullptr;
    ListRemove(engine_->scenes, room);
    room->FreeObjects();
    delete room;
    Lua("assert(kept.door2 == nil and ge_getproperty(room_door, 'name') == nil)");
}

TEST_F(ObjectFunctionsTest, SceneObjectListsAndTheCamera) {
    Room();
    Lua(R"(
        ge_newsceneobject('page', 'p1', 'room')
        ge_newsceneobject('page', 'p2', 'room')
        local pages = ge_getsceneobjectlist('page', 'room')
        assert(#pages == 2 and ge_getproperty(pages[2], 'name') == 'p2')
        assert(ge_getsceneobjectlist('bogus', 'room') == nil)
        assert(ge_getsceneobjectlist('page', 'nosuchscene') == nil)
        assert(ge_getsceneobjectlist('page') == nil)               -- no current scene
        assert(ge_getsceneobject('page', 'P1', 'room') == pages[1])
        assert(ge_getsceneobject('page', '', 'room') == nil)
        assert(ge_getsceneobject('view', 'any', 'room') == nil)    -- no camera yet
        cam = ge_newsceneobject('view', '', 'room')
        assert(ge_getsceneobject('view', 'any', 'room') == cam and ge_newsceneobject('view', 'x', 'room') == cam)
        local none = ge_newsceneobject('bogus', 'x', 'room')
        assert(type(none) == 'userdata' and select('#', ge_getproperty(none, 'name')) == 0)
        assert(ge_newsceneobject('page', 'x', 'nosuchscene') == nil)
        f = ge_newsceneobject('font', 'f')
        assert(ge_newsceneobject('font', 'F') == f and #ge_getsceneobjectlist('font') == 1)
    )");
    auto* camera = static_cast<Camera*>(engine_->scenes.head->camera);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->viewport.width, 1024u);
    EXPECT_EQ(camera->viewport.height, 768u);
}

}  // namespace
