// The scene-file constructors scene, page, hotspot, view, font, video, mesh
// and particlesource: their defaults, what running one again over an
// existing object keeps and clears, tables read through metamethods that
// fail, and calls made from a coroutine.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/scene_switch.h"
#include "media/resource_manager.h"
#include "media/text/game_font.h"
#include "render/camera.h"
#include "scene/cube_faces.h"
#include "scene/game_fx.h"
#include "scene/game_mesh.h"
#include "scene/game_video.h"
#include "scene/particle_source.h"
#include "scene/patch.h"
#include "scene/scene_page.h"
#include "scene/surface_effect.h"
#include "script/script_watch.h"
#include "scriptapi/constructor_fixture.h"

using namespace scene_test;
using constructor_test::ConstructorTest;

namespace {

TEST_F(ConstructorTest, ViewDefaults) {
    engine.virtualRect.Set(0, 0, 800, 600);
    InScene("c = view{}");
    Camera* cam = s->camera;
    ASSERT_TRUE(cam);
    EXPECT_FALSE(cam->ortho);
    EXPECT_EQ(cam->fov, 60.0f);
    EXPECT_EQ(cam->znear, 1.0f);
    EXPECT_EQ(cam->zfar, 10000.0f);
    EXPECT_EQ(cam->aspect, 1.3333f);
    EXPECT_EQ(cam->viewport.x, 0u);
    EXPECT_EQ(cam->viewport.y, 0u);
    EXPECT_EQ(cam->viewport.width, 800u);
    EXPECT_EQ(cam->viewport.height, 600u);
    EXPECT_EQ(cam->eye.x, 0.0f);
    EXPECT_EQ(cam->eye.y, 0.0f);
    EXPECT_EQ(cam->eye.z, 0.0f);
    EXPECT_EQ(cam->lookAt.x, 0.0f);
    EXPECT_EQ(cam->lookAt.y, 0.0f);
    EXPECT_EQ(cam->lookAt.z, 1.0f);
    ASSERT_EQ(ScriptRun("assert(type(c) == 'userdata')"), 0);

    // Run again on the same camera: every key given, then none.
    InScene("view{ortho=true, fov=90, znear=2, zfar=50, aspect=2, eye='1,2,3', lookat='0,3,4'}");
    ASSERT_EQ(s->camera, cam);
    EXPECT_TRUE(cam->ortho);
    EXPECT_EQ(cam->fov, 90.0f);
    EXPECT_EQ(cam->eye.y, 2.0f);
    EXPECT_FLOAT_EQ(cam->lookAt.y, 0.6f);
    EXPECT_FLOAT_EQ(cam->lookAt.z, 0.8f);
    InScene("view{lookat='0,0,0'}");
    EXPECT_FALSE(cam->ortho);
    EXPECT_EQ(cam->fov, 60.0f);
    EXPECT_EQ(cam->eye.y, 0.0f);
    EXPECT_EQ(cam->lookAt.z, 0.0f);  // a zero vector stays zero
}

TEST_F(ConstructorTest, SceneTakesItsTemplatesValuesByName) {
    GameScene* y = Scene("tmpl");
    y->fullname = Intern("The template");
    y->viewtype = kViewPage;
    ScenePage* p1 = Add(y->pages, "p1");
    ScenePage* p2 = Add(y->pages, "p2");
    CubeFaces* day = Add(y->cubeFaceSets, "day");
    CubeFaces* night = Add(y->cubeFaceSets, "night");
    y->currentPage = p2;
    y->cubeFaces = night;
    y->cubeMasks = day;
    Write(Path("data/icons/hand.png"), SolidPng(2, 2, 0));
    y->cursor = Resources().DeclareImage("data/icons/hand", 0);

    Lua("a = scene{name='copy', scene='TMPL'}"
        " b = scene{name='other', scene='tmpl', currentPage='P1', cubeFaces='day', cubeMasks='none', viewtype=2,"
        " fullname='Other', snd_step='step', cached=true}");
    GameScene* copy = ListFindByName(engine.scenes, "copy");
    ASSERT_TRUE(copy);
    EXPECT_STREQ(copy->fullname, "The template");
    EXPECT_EQ(copy->viewtype, kViewPage);
    // References into the template's own lists, found by name.
    EXPECT_EQ(copy->currentPage, p2);
    EXPECT_EQ(copy->cubeFaces, night);
    EXPECT_EQ(copy->cubeMasks, day);
    ASSERT_TRUE(copy->cursor);
    EXPECT_STREQ(copy->cursor->name, "data/icons/hand");
    lua_getglobal(L, "a");
    EXPECT_EQ(lua_touserdata(L, -1), copy->Handle());
    lua_pop(L, 1);

    GameScene* other = ListFindByName(engine.scenes, "other");
    ASSERT_TRUE(other);
    EXPECT_STREQ(other->fullname, "Other");
    EXPECT_EQ(other->viewtype, kViewCube);
    EXPECT_EQ(other->currentPage, p1);
    EXPECT_EQ(other->cubeFaces, day);
    EXPECT_EQ(other->cubeMasks, nullptr);

    // Without a template key the scene being loaded is the template; with
    // neither, the scene is its own and keeps its values.
    s->fullname = Intern("Hall");
    InScene("scene{name='annex'}");
    GameScene* annex = ListFindByName(engine.scenes, "annex");
    ASSERT_TRUE(annex);
    EXPECT_STREQ(annex->fullname, "Hall");
    EXPECT_EQ(annex->viewtype, kViewCube);
    Lua("scene{name='annex', viewtype=1, fullname='Annex'} scene{name='annex'}");
    EXPECT_STREQ(annex->fullname, "Annex");
    EXPECT_EQ(annex->viewtype, kViewPage);
}

TEST_F(ConstructorTest, HotspotCursorsAndWhatRunningAgainClears) {
    Write(Path("data/icons/arrow.png"), SolidPng(2, 2, 0));
    Write(Path("ui/hand.png"), SolidPng(2, 2, 0));
    InScene("hotspot{name='door', cursor='arrow', dest_scene='cellar', dest_look='north', action='fade',"
            " rect='1,2,3,4', itemusable=true, goback=true, order=4, anchor=2, object='knob', scalable=true}"
            " hotspot{name='sign', cursor='ui/hand', page=3}");
    HotSpot* door = ListFindByName(s->hotspots, "door");
    HotSpot* sign = ListFindByName(s->hotspots, "sign");
    ASSERT_TRUE(door && sign);
    // A bare cursor name is an icon; a path is used as it is.
    ASSERT_TRUE(door->cursor);
    EXPECT_STREQ(door->cursor->name, "data/icons/arrow");
    ASSERT_TRUE(sign->cursor);
    EXPECT_STREQ(sign->cursor->name, "ui/hand");
    GameScene* cellar = ListFindByName(engine.scenes, "cellar");
    ASSERT_TRUE(cellar);
    EXPECT_EQ(door->dest_scene, cellar);
    EXPECT_EQ(door->hs_type, kHotspotRect);
    EXPECT_TRUE(door->scalable);
    EXPECT_EQ(sign->page, 3);

    // The same hotspot again with its name only: every key read falls back,
    // the destination too; scalable is kept.
    InScene("hotspot{name='door'}");
    ASSERT_EQ(ListFindByName(s->hotspots, "door"), door);
    EXPECT_EQ(door->cursor, nullptr);
    EXPECT_EQ(door->dest_scene, nullptr);
    EXPECT_EQ(door->dest_look, nullptr);
    EXPECT_EQ(door->transition, nullptr);
    EXPECT_EQ(door->object, nullptr);
    EXPECT_FALSE(door->itemusable);
    EXPECT_FALSE(door->goback);
    EXPECT_EQ(door->order, 0);
    EXPECT_EQ(door->anchor, 0);
    EXPECT_EQ(door->hs_type, kHotspotMap);  // no rect in a panoramic scene
    EXPECT_EQ(door->rect[2], 0);
    EXPECT_FALSE(door->scalable);
    EXPECT_EQ(ListFindByName(engine.scenes, "cellar"), cellar);  // the scene itself stays
}

// A parent given by handle must be a hotspot of the same list: a global
// hotspot under a scene's hotspot would keep a link into a list that is
// freed with its scene.
TEST_F(ConstructorTest, HotspotParentsComeFromTheirOwnList) {
    InScene("p = hotspot{name='p', rect='10,10,50,50'} k = hotspot{name='k', parent=p}");
    HotSpot* p = ListFindByName(s->hotspots, "p");
    HotSpot* k = ListFindByName(s->hotspots, "k");
    ASSERT_TRUE(p && k);
    EXPECT_EQ(k->parent, p);
    Lua("g = hotspot{name='g', parent=p} beginscene('hall') l = hotspot{name='l', parent=g} endscene()");
    HotSpot* g = engine.globalHotspots.head;
    HotSpot* l = ListFindByName(s->hotspots, "l");
    ASSERT_TRUE(g && l);
    EXPECT_EQ(g->parent, nullptr);
    EXPECT_EQ(l->parent, nullptr);
    // Freeing the scene first, then the global list, touches nothing freed.
    s->FreeObjects();
    engine.globalHotspots = {};
    delete g;
}

// What a scene file runs between constructors (renames, removals, names
// exchanged) changes what the next constructor finds at once: the first
// member of the name in list order, in any case, as a walk finds it.
TEST_F(ConstructorTest, NamesFoundAfterWhatRunsBetweenConstructors) {
    InScene(R"(
        a = hotspot{name='a'} b = hotspot{name='b'} c = hotspot{name='c'}
        hs_setname(a, 'x')
        assert(hotspot{name='X'} == a)
        a2 = hotspot{name='a'}
        assert(a2 ~= a and a2 ~= b and a2 ~= c)
        ge_setproperty(c, 'name', 'y')
        assert(hotspot{name='Y'} == c)
        ge_setproperty(a2, 'name', 'B')
        assert(hotspot{name='b'} == b)
        hs_remove(b)
        assert(hotspot{name='b'} == a2)
        k = hotspot{name='k', parent='x'}
        ge_swap_object(a, c)
        assert(hotspot{name='x'} == c and hotspot{name='y'} == a)
        m = hotspot{name='m', parent='x'}
        lightsource{name='lamp'}
        particlesource{name='lamp', particle_count=3}
        particlesource{name='LAMP', particle_count=4}
        lightsource{name='Lamp', x=5}
    )");
    HotSpot* k = ListFindByName(s->hotspots, "k");
    HotSpot* m = ListFindByName(s->hotspots, "m");
    ASSERT_TRUE(k && m);
    EXPECT_EQ(k->parent, ListFindByName(s->hotspots, "y"));  // named x when k was made, y since
    EXPECT_EQ(m->parent, ListFindByName(s->hotspots, "x"));
    EXPECT_EQ(ListCount(s->hotspots), 5u);
    // One plain point and one particle source: each constructor found its own.
    PointSceneObject* lamp = s->points.head;
    ASSERT_TRUE(lamp && ListNext(lamp) && !ListNext(ListNext(lamp)));
    EXPECT_EQ(lamp->x, 5);
    auto* dust = static_cast<GameParticleSource*>(ListNext(lamp));
    EXPECT_TRUE(IsClass(dust, "psource"));
    EXPECT_EQ(dust->particle_count, 4);

    // The global list: a parent named is looked up there, renames seen.
    Lua("g = hotspot{name='g'} h = hotspot{name='h', parent='g'} hs_setname(g, 'q') i = hotspot{name='i', parent='g'}");
    HotSpot* g = engine.globalHotspots.head;
    ASSERT_TRUE(g && ListNext(g) && ListNext(ListNext(g)));
    EXPECT_EQ(ListNext(g)->parent, g);
    EXPECT_EQ(ListNext(ListNext(g))->parent, nullptr);
}

// A load of N entries looks at a few members per entry, however long its
// lists grow, with other lists' constructors in between: a walk for each
// name (and for each parent named at the end of the list) looks at half
// the list each time.
TEST_F(ConstructorTest, ALoadLooksAtAFewMembersPerEntry) {
    constexpr int kEntries = 20000;
    const uint64_t before = g_list_names_compared;
    InScene(R"(
        font{name='f'}
        for i = 1, 20000 do hotspot{name='h'..i, parent='h'..(i - 1), font='f', dest_scene='hall'} end
        for i = 1, 20000, 100 do hotspot{name='H'..i, rect='1,2,3,4', dest_scene='to'..i} patch{name='p'..i} page{} end
    )");
    const uint64_t looked = g_list_names_compared - before;
    EXPECT_LE(looked, 8u * (kEntries + 600)) << looked / kEntries << " a hotspot";
    ASSERT_EQ(ListCount(s->hotspots), size_t(kEntries));
    HotSpot* last = s->hotspots.tail;
    EXPECT_EQ(last->parent, ListFindByName(s->hotspots, "h19999"));
    EXPECT_EQ(last->font, engine.fonts.head);
    HotSpot* again = ListFindByName(s->hotspots, "h101");  // found again as H101
    EXPECT_EQ(again->hs_type, kHotspotRect);
    EXPECT_EQ(again->dest_scene, ListFindByName(engine.scenes, "to101"));
    EXPECT_EQ(ListFindByName(s->pages, "Page200"), s->pages.tail);

    // A saved scene read back makes each object through ge_newsceneobject.
    const uint64_t saved_before = g_list_names_compared;
    Lua("for i = 1, 20000 do ge_newsceneobject('patch', 'q'..i, 'hall') end "
        "assert(ge_newsceneobject('patch', 'Q7', 'hall') == ge_newsceneobject('patch', 'q7'))");
    EXPECT_LE(g_list_names_compared - saved_before, 8u * kEntries);
    EXPECT_EQ(ListCount(s->patches), size_t(kEntries + 200));
}

TEST_F(ConstructorTest, MeshDefaultsAndVectorsThatTakeTheirDefaults) {
    InScene("m = mesh{name='box'}");
    GameMesh* m = s->meshes.head;
    ASSERT_TRUE(m);
    EXPECT_STREQ(m->name, "box");
    EXPECT_EQ(m->htexture, nullptr);
    EXPECT_EQ(m->hnormal, nullptr);
    EXPECT_EQ(m->hmesh, nullptr);
    EXPECT_EQ(m->position.x, 0.0f);
    EXPECT_EQ(m->position.z, 0.0f);
    EXPECT_EQ(m->distance, 0.0f);
    EXPECT_EQ(m->rotation.y, 0.0f);
    EXPECT_EQ(m->scaling.x, 1.0f);
    EXPECT_EQ(m->scaling.y, 1.0f);
    EXPECT_EQ(m->scaling.z, 1.0f);
    EXPECT_FALSE(m->projected);
    EXPECT_TRUE(m->visible);
    EXPECT_EQ(m->order, 0);
    EXPECT_EQ(m->ambient, 0xFF000000u);
    EXPECT_EQ(m->diffuse, 0xFFFFFFFFu);
    EXPECT_EQ(m->specular, 0xFFFFFFFFu);
    EXPECT_EQ(m->specularPow, 100.0f);
    EXPECT_EQ(m->blendmode, 0);
    EXPECT_FALSE(m->castShadow);
    ASSERT_EQ(ScriptRun("assert(m == ge_getsceneobject('mesh', 'box', 'hall'))"), 0);

    InScene("mesh{name='box', position='0,0,500', rotation='1,2,3', scaling='2,3,4', projected=true,"
            " castshadow=true, visible=false, ambient='ff102030', specularpow=7, renderstyle=2, order=5}");
    ASSERT_EQ(ListNext(m), nullptr);
    EXPECT_EQ(m->position.z, 1.0f);
    EXPECT_EQ(m->distance, 500.0f);
    EXPECT_EQ(m->rotation.z, 3.0f);
    EXPECT_EQ(m->scaling.y, 3.0f);
    EXPECT_TRUE(m->projected && m->castShadow && !m->visible);
    EXPECT_EQ(m->ambient, 0xFF102030u);
    // Vectors of fewer than three numbers take their defaults, not the old
    // values; the other keys fall back as well.
    InScene("mesh{name='box', position='4,5', rotation='9', scaling='2,2'}");
    EXPECT_EQ(m->position.z, 0.0f);
    EXPECT_EQ(m->distance, 0.0f);
    EXPECT_EQ(m->rotation.x, 0.0f);
    EXPECT_EQ(m->scaling.x, 1.0f);
    EXPECT_FALSE(m->projected || m->castShadow);
    EXPECT_TRUE(m->visible);
    EXPECT_EQ(m->specularPow, 100.0f);
}

TEST_F(ConstructorTest, ParticleRangesKeepThePartsNotGiven) {
    Lua("particlesource{name='dust'}");
    auto* p = static_cast<GameParticleSource*>(ListFindByName(s->points, "dust"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->lifetime[0], 100.0f);
    EXPECT_EQ(p->lifetime[1], 100.0f);
    EXPECT_EQ(p->source_size.z, 100.0f);
    EXPECT_EQ(p->velX[0], -10.0f);
    EXPECT_EQ(p->accelZ[1], 1.0f);
    EXPECT_EQ(p->scaleV[0], 1.0f);

    Lua("particlesource{name='dust', lifetime='7,9', source_size='1,2,3', velX='1,2', velY='3,4', velZ='5,6',"
        " accelX='7,8', accelY='9,10', accelZ='11,12', scaleU='13,14', scaleV='15,16'}");
    Lua("particlesource{name='dust', lifetime='50', source_size='9', velX='-1', velY='-3', velZ='-5',"
        " accelX='-7', accelY='-9', accelZ='-11', scaleU='-13', scaleV='x'}");
    EXPECT_EQ(p->lifetime[0], 50.0f);
    EXPECT_EQ(p->lifetime[1], 9.0f);
    EXPECT_EQ(p->source_size.x, 9.0f);
    EXPECT_EQ(p->source_size.y, 2.0f);
    EXPECT_EQ(p->source_size.z, 3.0f);
    const float* ranges[] = {p->velX, p->velY, p->velZ, p->accelX, p->accelY, p->accelZ, p->scaleU};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(ranges[i][0], float(-1 - 2 * i)) << i;
        EXPECT_EQ(ranges[i][1], float(2 + 2 * i)) << i;
    }
    EXPECT_EQ(p->scaleV[0], 15.0f);  // no number at all: both kept
    EXPECT_EQ(p->scaleV[1], 16.0f);
    // Missing keys take the defaults again.
    Lua("particlesource{name='dust'}");
    EXPECT_EQ(p->lifetime[0], 100.0f);
    EXPECT_EQ(p->lifetime[1], 100.0f);
    EXPECT_EQ(p->source_size.y, 100.0f);
}

// A table whose __index raises an error for one key: that key reads as
// missing, the others still come through the metamethod, and the script
// goes on after the call.
TEST_F(ConstructorTest, FailingFieldReadsCountAsMissing) {
    Lua("function failing(bad, fields)\n"
        "  return setmetatable({}, {__index = function(t, k)\n"
        "    if k == bad then error('no ' .. k) end\n"
        "    return fields[k]\n"
        "  end})\n"
        "end\n"
        "function yielding(fields)\n"
        "  return setmetatable({}, {__index = function(t, k) coroutine.yield() return fields[k] end})\n"
        "end");
    InScene("h = hotspot(failing('rect', {name='mh', order=3, rect='1,2,3,4'}))"
            " mesh(failing('scaling', {name='mm', scaling='2,2,2', order=6}))"
            " patch(failing('name', {x=5}))"
            " particlesource(failing('lifetime', {name='mp', lifetime='1,2', particle_count=9}))"
            " view(failing('fov', {fov=10, znear=3}))"
            " font(failing('tilew', {name='mf', tilew=4}))"
            " scene(failing('scene', {name='ms', fullname='M'}))"
            " cubefaces(failing('name', {}))"
            " reached = 'yes'");
    EXPECT_EQ(Text("reached"), "yes");
    HotSpot* h = ListFindByName(s->hotspots, "mh");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->order, 3);
    EXPECT_EQ(h->hs_type, kHotspotMap);
    ASSERT_EQ(ScriptRun("assert(type(h) == 'userdata')"), 0);
    GameMesh* m = ListFindByName(s->meshes, "mm");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->order, 6);
    EXPECT_EQ(m->scaling.x, 1.0f);
    ASSERT_TRUE(s->patches.head);
    EXPECT_STREQ(s->patches.head->name, "");
    EXPECT_EQ(s->patches.head->x, 5.0f);
    auto* p = static_cast<GameParticleSource*>(ListFindByName(s->points, "mp"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->particle_count, 9);
    EXPECT_EQ(p->lifetime[0], 100.0f);
    ASSERT_TRUE(s->camera);
    EXPECT_EQ(s->camera->fov, 60.0f);
    EXPECT_EQ(s->camera->znear, 3.0f);
    GameFont* f = ListFindByName(engine.fonts, "mf");
    ASSERT_TRUE(f);
    // A font without an image draws nothing: the log names it.
    EXPECT_TRUE(scene_test::Logged("[ERROR] - FONT mf : no file given"));
    InScene("font{name='lost', file='data/fonts/none'}");
    EXPECT_TRUE(scene_test::Logged("[ERROR] - FONT lost : no image data/fonts/none"));
    GameScene* ms = ListFindByName(engine.scenes, "ms");
    ASSERT_TRUE(ms);
    EXPECT_STREQ(ms->fullname, "M");
    EXPECT_EQ(ms->viewtype, kViewCube);  // the scene being loaded is the template

    // A metamethod that yields cannot suspend the constructor either.
    Lua("co = coroutine.wrap(function()\n"
        "  beginscene('hall') hotspot(yielding({name='never', order=1})) endscene() return 'done'\n"
        "end) result = co()");
    EXPECT_EQ(Text("result"), "done");
    HotSpot* unnamed = ListFindByName(s->hotspots, "");
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->order, 0);
}

// A close request ends a scene file at the next constructor, even one whose
// table asks for it while its keys are read: nothing is made from keys that
// were never read (they would all read as missing), and the node counts as
// incomplete, so the shut-down's save leaves its file as it is.
TEST_F(ConstructorTest, ACloseRequestEndsTheSceneFileAtTheNextConstructor) {
    lua_register(L, "ask_to_close", [](lua_State*) {
        RequestTermination();
        return 0;
    });
    Lua("function closing(fields) return setmetatable(fields, {__index = function() ask_to_close() end}) end");
    for (const char* constructor : {"hotspot", "mesh", "patch", "fx", "surffx", "particlesource", "lightsource",
                                    "sound3D", "page", "video", "font", "scene", "view", "cubefaces"}) {
        SCOPED_TRACE(constructor);
        const std::string text =
            std::string("reached = nil beginscene('hall') ") + constructor + "(closing({name = 'cut'})) reached = true";
        EXPECT_EQ(ScriptRun(text.c_str()), 1);
        EXPECT_TRUE(TakeTerminationRequest());
        Lua("endscene() assert(reached == nil)");
    }
    EXPECT_EQ(ScriptRun("reached = nil beginscene('hall') ask_to_close() cubefaces() reached = true"), 1);
    EXPECT_TRUE(TakeTerminationRequest());
    Lua("endscene() assert(reached == nil)");
    EXPECT_EQ(ListFindByName(s->hotspots, "cut"), nullptr);
    EXPECT_EQ(s->meshes.head, nullptr);
    EXPECT_EQ(s->patches.head, nullptr);
    EXPECT_EQ(s->points.head, nullptr);
    EXPECT_EQ(s->pages.head, nullptr);
    EXPECT_EQ(s->camera, nullptr);
    EXPECT_EQ(s->cubeFaceSets.head, nullptr);
    EXPECT_EQ(engine.fonts.head, nullptr);
    EXPECT_EQ(ListFindByName(engine.scenes, "cut"), nullptr);

    // A node whose data.lua the request cuts: the hotspots before it stay,
    // none is made after it, and a save keeps the whole file.
    const std::string data =
        "hotspot{name='a', rect='1,1,2,2'}\n"
        "hotspot{name='b', rect='3,3,2,2', order=closing({})[1]}\n"
        "hotspot{name='c', rect='5,5,2,2'}\nhotspot{name='d', rect='7,7,2,2'}\n";
    Write("stages/hall/data.lua", data);
    LoadScene();
    EXPECT_TRUE(TakeTerminationRequest());
    EXPECT_TRUE(s->dataLoaded);
    EXPECT_TRUE(s->dataIncomplete);
    EXPECT_TRUE(ListFindByName(s->hotspots, "a"));
    EXPECT_EQ(ListFindByName(s->hotspots, "c"), nullptr);
    EXPECT_EQ(ListFindByName(s->hotspots, ""), nullptr);
    // Saved from the game's folder, as the shut-down's scene_save does.
    char saved_start[sizeof g_current_directory];
    std::memcpy(saved_start, g_current_directory, sizeof saved_start);
    std::snprintf(g_current_directory, sizeof g_current_directory, "%s", Path(".").c_str());
    EXPECT_FALSE(engine.SaveScene(s));
    std::memcpy(g_current_directory, saved_start, sizeof saved_start);
    EXPECT_EQ(quild_test::ReadFile(Path("stages/hall/data.lua")), data);
    EXPECT_TRUE(scene_test::Logged("[ERROR] - scene hall not saved: its data.lua stopped at a script error"));
}

// Constructors called from a coroutine read the table they were given, not
// whatever lies on the main thread's stack.
TEST_F(ConstructorTest, FieldsAreReadOnTheCallingThread) {
    InScene("co = coroutine.create(function(a, b)\n"
            "  page{name='co_page'}\n"
            "  h = hotspot{name='co_hs', rect='11,22,5,5', order=a}\n"
            "  mesh{name='co_mesh', order=b}\n"
            "  patch{name='co_patch', x=3}\n"
            "  fx{name='co_fx', lens_format='1,1,1', x=4}\n"
            "  surffx{name='co_surf', face=2}\n"
            "  font{name='co_font', tilew=8}\n"
            "  video{name='co_video', rect='1,2,3,4'}\n"
            "  view{fov=45}\n"
            "  particlesource{name='co_dust', particle_count=7}\n"
            "  lightsource{name='co_light', distance=12}\n"
            "  sound3D{name='co_sound', flags=2}\n"
            "  scene{name='co_scene', fullname='Co'}\n"
            "  cubefaces{name='co_faces'}\n"
            "  coroutine.yield(h)\n"
            "end)\n"
            "ok, first = coroutine.resume(co, 8, 9)\n"
            "assert(ok and first == h, first)");
    HotSpot* h = ListFindByName(s->hotspots, "co_hs");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->rect[0], 11);
    EXPECT_EQ(h->rect[1], 22);
    EXPECT_EQ(h->order, 8);
    EXPECT_EQ(ListFindByName(s->hotspots, ""), nullptr);
    ASSERT_TRUE(ListFindByName(s->pages, "co_page"));
    GameMesh* m = ListFindByName(s->meshes, "co_mesh");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->order, 9);
    ASSERT_TRUE(ListFindByName(s->patches, "co_patch"));
    EXPECT_EQ(ListFindByName(s->patches, "co_patch")->x, 3.0f);
    ASSERT_TRUE(ListFindByName(s->fx, "co_fx"));
    EXPECT_EQ(ListFindByName(s->fx, "co_fx")->x, 4.0f);
    ASSERT_TRUE(ListFindByName(s->surfaces, "co_surf"));
    EXPECT_EQ(ListFindByName(s->surfaces, "co_surf")->face, 2);
    ASSERT_TRUE(ListFindByName(engine.fonts, "co_font"));
    GameVideo* v = ListFindByName(engine.videos, "co_video");
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->fixedRect);
    ASSERT_TRUE(s->camera);
    EXPECT_EQ(s->camera->fov, 45.0f);
    auto* dust = static_cast<GameParticleSource*>(ListFindByName(s->points, "co_dust"));
    ASSERT_TRUE(dust);
    EXPECT_EQ(dust->particle_count, 7);
    ASSERT_TRUE(ListFindByName(s->points, "co_light"));
    EXPECT_EQ(ListFindByName(s->points, "co_light")->distance, 12.0f);
    ASSERT_TRUE(ListFindByName(s->points, "co_sound"));
    EXPECT_EQ(ListFindByName(s->points, "co_sound")->snd_action, 2);
    GameScene* co_scene = ListFindByName(engine.scenes, "co_scene");
    ASSERT_TRUE(co_scene);
    EXPECT_STREQ(co_scene->fullname, "Co");
    EXPECT_EQ(ListFindByName(engine.scenes, ""), nullptr);
}

}  // namespace
