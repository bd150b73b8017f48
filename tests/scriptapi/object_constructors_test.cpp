// The scene-file constructors patch, fx and surffx run as scene files run
// them: defaults, the keys read only in some cases, the images declared
// (and the lines for missing ones, in order), the results, and a saved
// object read back through a game's own `object` function.
#include <string>
#include <vector>

#include "scene/cube_faces.h"
#include "scene/game_fx.h"
#include "scene/patch.h"
#include "scene/surface_effect.h"
#include "scriptapi/constructor_fixture.h"

using namespace scene_test;
using constructor_test::ConstructorTest;

namespace {

TEST_F(ConstructorTest, PatchDefaultsAndKeysThatNeedAFormat) {
    InScene("h = patch{name='door', looping=true, buffered=true, snd_forwards='creak'}");
    Patch* p = s->patches.head;
    ASSERT_TRUE(p);
    EXPECT_STREQ(p->name, "door");
    EXPECT_EQ(p->face, 0);
    EXPECT_EQ(p->ptc_action, 0);
    EXPECT_EQ(p->color, 0xFFFFFFFFu);
    EXPECT_EQ(p->size, 1.0f);
    EXPECT_EQ(p->interval, 50.0f);
    EXPECT_EQ(p->numOfFrames, 1);
    EXPECT_EQ(p->ptc_type, 0);
    EXPECT_EQ(p->distance, 500.0f);
    EXPECT_TRUE(p->visible);
    // Without a format these are not read.
    EXPECT_FALSE(p->looping);
    EXPECT_FALSE(p->buffered);
    EXPECT_EQ(p->snd_forwards, nullptr);
    ASSERT_EQ(ScriptRun("assert(type(h) == 'userdata' and h == ge_getsceneobject('patch', 'door', 'hall'))"), 0);

    for (int n = 0; n < 2; ++n) Write(Path("anim/lid/" + std::to_string(n) + ".png"), SolidPng(2, 2, 0x808080));
    InScene("patch{name='door', format='anim/lid', frame_count=2, looping=true, buffered=false, visible=false,"
            " flags=3, type=2, interval=0, face=9}");
    ASSERT_EQ(s->patches.head, p);  // the same patch, updated
    EXPECT_EQ(ListNext(p), nullptr);
    EXPECT_STREQ(p->format, "anim/lid");
    ASSERT_TRUE(p->frame);
    EXPECT_STREQ(p->frame->name, "anim/lid/0");
    EXPECT_TRUE(p->looping);
    EXPECT_FALSE(p->buffered);
    EXPECT_FALSE(p->visible);
    EXPECT_EQ(p->ptc_action, 3);
    EXPECT_EQ(p->interval, 0.0f);
    // A face outside the cube is stored as given and never drawn.
    EXPECT_EQ(p->face, 9);
    p->Render();
}

TEST_F(ConstructorTest, FxDeclaresItsLensImagesInOrder) {
    Write(Path("fx/lens/1.png"), SolidPng(2, 2, 0xFFFFFF));
    InScene("a = fx{name='sun', format='fx/lens', lens_count=3, lens_format='0,1,1,1,0.5,0.5'}");
    GameFx* fx = s->fx.head;
    ASSERT_TRUE(fx);
    EXPECT_EQ(NotFound(), (std::vector<std::string>{"[NOT FOUND] - IMAGE : fx/lens/0",
                                                    "[NOT FOUND] - IMAGE : fx/lens/2"}));
    EXPECT_EQ(fx->himage, nullptr);  // frame 0 has no file
    ASSERT_TRUE(Resources().FindByName("fx/lens/1"));
    EXPECT_EQ(fx->power, 4.0f);
    EXPECT_EQ(fx->scale, 1.0f);
    EXPECT_EQ(fx->opacity, 255.0f);
    EXPECT_EQ(fx->baseopacity, 255.0f);
    EXPECT_EQ(fx->currentOpacity, 255.0f);
    EXPECT_TRUE(fx->visible);
    // Constructing parses the list.
    EXPECT_EQ(g_lensTable[3], 1.0f);
    EXPECT_EQ(g_lensTable[6], -1.0f);

    // A glow without a format keeps the image of its file.
    Write(Path("fx/glow.png"), SolidPng(2, 2, 0xFFFFFF));
    LogLines().clear();
    InScene("fx{name='lamp', file='fx/glow', opacity=100, x=10, y=-5}");
    GameFx* lamp = ListNext(fx);
    ASSERT_TRUE(lamp);
    ASSERT_TRUE(lamp->himage);
    EXPECT_STREQ(lamp->himage->name, "fx/glow");
    EXPECT_EQ(lamp->currentOpacity, 100.0f);
    EXPECT_EQ(lamp->x, 10.0f);
    EXPECT_EQ(lamp->y, -5.0f);
    EXPECT_TRUE(NotFound().empty());
    // With a list the file is not even read.
    InScene("fx{name='star', file='fx/missing', lens_format='1,1,1'}");
    EXPECT_TRUE(NotFound().empty());
}

TEST_F(ConstructorTest, SurfaceDefaultsVectorsAndMask) {
    CubeFaces* water = Add(s->cubeFaceSets, "watermask");
    InScene("surffx{name='pool', position='5,6', anim_seq='anim/ripple', shader='water', mask='WATERMASK'}");
    SurfaceEffect* fx = s->surfaces.head;
    ASSERT_TRUE(fx);
    EXPECT_EQ(fx->width, 1024.0f);
    EXPECT_EQ(fx->height, 1024.0f);
    EXPECT_EQ(fx->distance, 1024.0f);
    EXPECT_EQ(fx->face, 4);
    EXPECT_EQ(fx->tiling1, 1.0f);
    EXPECT_EQ(fx->tiling2, 1.0f);
    EXPECT_EQ(fx->alpha, 255);
    EXPECT_EQ(fx->anim_count, 1);
    EXPECT_EQ(fx->anim_freq, 5);
    EXPECT_EQ(fx->specular_power, 10.0f);
    EXPECT_STREQ(fx->anim_seq, "anim/ripple");
    EXPECT_STREQ(fx->shader, "water");
    EXPECT_EQ(fx->mask, water);
    // Parts a text does not give keep their values.
    EXPECT_EQ(fx->position.x, 5.0f);
    EXPECT_EQ(fx->position.y, 6.0f);
    EXPECT_EQ(fx->position.z, 0.0f);
    EXPECT_EQ(fx->diffuse.x, 1.0f);
    EXPECT_EQ(fx->ambient.z, 0.0f);
    EXPECT_TRUE(fx->visible);
}

TEST_F(ConstructorTest, HugeFrameCountsDeclareABoundedNumberOfFrames) {
    InScene("fx{name='sun', format='fx/none', lens_count=2000000000}"
            " patch{name='door', format='anim/none', frame_count=2000000000, buffered=true}");
    EXPECT_EQ(NotFound().size(), size_t(kMaxSequenceFrames) + 1);  // the lens frames and the patch's first
    LogLines().clear();
    s->LoadResources();
    EXPECT_EQ(NotFound().size(), size_t(2 * kMaxSequenceFrames));
}

TEST_F(ConstructorTest, NothingWithoutATableOrASceneBeingLoaded) {
    Lua("r1 = patch{name='x'} r2 = fx{name='x'} r3 = surffx{name='x'}");
    Lua("beginscene('hall') r4 = patch() r5 = fx('x') r6 = surffx(3) endscene()");
    EXPECT_EQ(s->patches.head, nullptr);
    EXPECT_EQ(s->fx.head, nullptr);
    EXPECT_EQ(s->surfaces.head, nullptr);
    ASSERT_EQ(ScriptRun("assert(r1 == nil and r2 == nil and r3 == nil and r4 == nil and r5 == nil and r6 == nil)"),
              0);
}

TEST_F(ConstructorTest, SavedObjectsReadBackThroughTheGamesObjectFunction) {
    InScene("patch{name='door', x=12, y=34, face=2, size=0.5} surffx{name='pool', face=1, alpha=128}"
            " fx{name='sun', lens_format='0,1,1', x=45, y=-10}");
    s->patches.head->power = 3;
    std::string text;
    for (EObject* o : {static_cast<EObject*>(s->patches.head), static_cast<EObject*>(s->surfaces.head),
                       static_cast<EObject*>(s->fx.head)})
        text += SavedText(o);
    // A fresh scene reads them back.
    GameScene* copy = Scene("copy");
    copy->viewtype = kViewCube;
    // A patch placed by its type first: a type change moves it to the look
    // direction, which the saved position then replaces.
    Lua("function object(t)\n"
        "  local o = ge_newsceneobject(t.class, t.name, 'copy')\n"
        "  if t.ptc_type then ge_setproperty(o, 'ptc_type', t.ptc_type) end\n"
        "  for k, v in pairs(t) do\n"
        "    if k ~= 'class' and k ~= 'name' and k ~= 'ptc_type' then ge_setproperty(o, k, v) end\n"
        "  end\n"
        "end");
    ASSERT_EQ(ScriptRun(text.c_str()), 0) << text;
    Patch* p = copy->patches.head;
    ASSERT_TRUE(p);
    EXPECT_EQ(p->x, 12.0f);
    EXPECT_EQ(p->face, 2);
    EXPECT_EQ(p->size, 0.5f);
    EXPECT_EQ(p->power, 3.0f);
    EXPECT_EQ(p->interval, 50.0f);
    ASSERT_TRUE(copy->surfaces.head);
    EXPECT_EQ(copy->surfaces.head->alpha, 128);
    EXPECT_EQ(copy->surfaces.head->face, 1);
    ASSERT_TRUE(copy->fx.head);
    EXPECT_STREQ(copy->fx.head->lens_format, "0,1,1");
    EXPECT_EQ(copy->fx.head->y, -10.0f);
}

}  // namespace
