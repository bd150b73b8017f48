#include "media/resource_manager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "media/image/image_builders.h"
#include "media/sound/sound.h"
#include "media/sound/sound_device.h"
#include "media/sound/sound_fixture.h"
#include "support/test_support.h"

using media_test::LogRecorder;
using quild_test::TempDir;
using quild_test::WriteFile;

namespace {

// Stand-ins for the loaded objects: each knows its record's path, and its
// size comes from a table by file name (64 KiB + 1 by default).
struct FakeObject {
    std::string path;
    uint32_t bytes = 0;
    int binds = 0;
};
std::map<std::string, uint32_t> g_sizes;
std::vector<std::string> g_destroyed;
int g_loads = 0, g_cached_loads = 0;

uint32_t SizeFor(const std::string& path) {
    std::string file = path.substr(path.find_last_of('/') + 1);
    auto it = g_sizes.find(file.substr(0, file.find('.')));
    return it == g_sizes.end() ? 0x10001 : it->second;
}
void* Create() {
    return new FakeObject;
}
bool Load(void* o, const ResourceRecord& r) {
    ++g_loads;
    auto* f = static_cast<FakeObject*>(o);
    f->path = r.path;
    f->bytes = SizeFor(r.path);
    return f->path.find("broken") == std::string::npos;
}
bool LoadCached(void* o, const ResourceRecord& r) {
    ++g_cached_loads;
    return Load(o, r);
}
bool Bind(void* o, const ResourceRecord& r) {
    auto* f = static_cast<FakeObject*>(o);
    f->path = r.path;
    ++f->binds;
    return true;
}
uint32_t ByteSize(void* o) {
    return static_cast<FakeObject*>(o)->bytes;
}
void Destroy(void* o) {
    g_destroyed.push_back(static_cast<FakeObject*>(o)->path);
    delete static_cast<FakeObject*>(o);
}
const ResourceKindOps kFakeOps = {"fake", Create, Load, LoadCached, Bind, ByteSize, Destroy};

FakeObject* Fake(void* o) {
    return static_cast<FakeObject*>(o);
}

class ResourceManagerTest : public ::testing::Test {
protected:
    // Inside the temporary folder, so names are short and their case is ours.
    void SetUp() override {
        ASSERT_TRUE(getcwd(cwd, sizeof cwd));
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        for (int i = 0; i < 4; ++i) {
            saved[i] = GetResourceKindOps(1u << i);
            SetResourceKindOps(1u << i, &kFakeOps);
        }
        saved_player = SharedVideoPlayer();
        g_sizes.clear();
        g_destroyed.clear();
        g_loads = g_cached_loads = 0;
        g_resource_budget = kDefaultResourceBudget;
    }
    void TearDown() override {
        manager.Clear();
        for (int i = 0; i < 4; ++i) SetResourceKindOps(1u << i, saved[i]);
        SetSharedVideoPlayer(saved_player);
        g_resource_budget = kDefaultResourceBudget;
        EXPECT_EQ(chdir(cwd), 0);
    }
    void Make(const std::string& file) { WriteFile(dir.file(file), "x"); }
    void* saved_player = nullptr;
    // Makes the file and declares it as an image.
    ResourceRecord* Image(const std::string& name, uint32_t bytes) {
        Make(name + ".tga");
        g_sizes[name] = bytes;
        return manager.DeclareImage(std::string(name).c_str(), 0);
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) manager.Tick();
    }

    TempDir dir;
    char cwd[4096] = {};
    const ResourceKindOps* saved[4] = {};
    ResourceManager manager;
};

}  // namespace

TEST_F(ResourceManagerTest, DeclarationFindsFilesAndRecords) {
    LogRecorder log;
    Make("Pic.tga");
    Make("pic.dds");
    Make("cube.dds");
    Make("step.ogg");
    Make("ship.msh");
    std::string name = std::string("Pic");
    ResourceRecord* pic = manager.DeclareImage(name.c_str(), 16);
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(name, std::string("Pic"));                        // the caller's text is not touched
    EXPECT_EQ(std::string(pic->path), std::string("pic.tga"));  // TGA before DDS, lower-cased
    EXPECT_EQ(std::string(pic->name), std::string("pic"));
    EXPECT_EQ(pic->parameter, 16u);
    EXPECT_EQ(pic->type, uint32_t(kResourceImage));
    EXPECT_EQ(pic->object, nullptr);
    ResourceRecord* cube = manager.DeclareImage(std::string("cube").c_str(), 2);
    ASSERT_NE(cube, nullptr);
    EXPECT_EQ(std::string(cube->path), std::string("cube.dds"));

    // Same name in other case, or as another kind: the same record, unchanged.
    EXPECT_EQ(manager.DeclareImage(std::string("PIC").c_str(), 99), pic);
    EXPECT_EQ(pic->parameter, 16u);
    ResourceRecord* step = manager.DeclareSound(std::string("step").c_str(), kSoundStreamed | 3 << 4);
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(manager.DeclareImage(std::string("Step").c_str(), 0), step);
    EXPECT_EQ(manager.GetImage(step), nullptr);
    EXPECT_EQ(manager.GetSound(pic), nullptr);

    // Lookup: any case by name; byte for byte by name and type.
    EXPECT_EQ(manager.FindByName(std::string("PiC").c_str()), pic);
    EXPECT_EQ(manager.FindByNameAndType(std::string("pic").c_str(), kResourceImage | kResourceMesh), pic);
    EXPECT_EQ(manager.FindByNameAndType(std::string("Pic").c_str(), kResourceImage), nullptr);
    EXPECT_EQ(manager.FindByNameAndType(std::string("pic").c_str(), kResourceSound), nullptr);
    EXPECT_EQ(manager.FindByName(nullptr), nullptr);
    EXPECT_EQ(manager.FindByName(std::string("none").c_str()), nullptr);

    // Creation order is the list order.
    ResourceRecord* ship = manager.DeclareMesh(std::string("ship").c_str(), 7);
    ASSERT_NE(ship, nullptr);
    EXPECT_EQ(manager.First(), pic);
    EXPECT_EQ(pic->next, cube);
    EXPECT_EQ(cube->next, step);
    EXPECT_EQ(step->next, ship);
    EXPECT_EQ(manager.Count(), 4u);

    EXPECT_EQ(manager.DeclareImage("", 0), nullptr);
    EXPECT_EQ(manager.DeclareSound(nullptr, 0), nullptr);
    EXPECT_EQ(manager.DeclareImage(std::string("gone").c_str(), 0), nullptr);
    EXPECT_TRUE(log.Has("[NOT FOUND] - IMAGE : " + std::string("gone")));
    EXPECT_EQ(manager.DeclareMesh(std::string("gone").c_str(), 0), nullptr);
    EXPECT_TRUE(log.Has("[NOT FOUND] - MESH : "));
    EXPECT_EQ(manager.DeclareVideo(std::string("gone").c_str(), 0), nullptr);
    EXPECT_TRUE(log.Has("[NOT FOUND] - VIDEO : "));
    EXPECT_EQ(manager.Count(), 4u);

    // A missing file asked for every frame is reported once per name and
    // kind, until a declaration of it succeeds.
    auto reports = [] {
        size_t n = 0;
        for (const std::string& l : LogRecorder::lines()) n += l == "[NOT FOUND] - IMAGE : Gone";
        return n;
    };
    for (int frame = 0; frame < 5; ++frame) EXPECT_EQ(manager.DeclareImage("Gone", 0), nullptr);
    EXPECT_EQ(manager.DeclareImage("GONE", 0), nullptr);
    EXPECT_EQ(reports(), 0u);  // "gone" was reported above
    Make("gone.tga");
    ResourceRecord* found = manager.DeclareImage("gone", 0);
    ASSERT_NE(found, nullptr);
    manager.Remove(found, true);
    std::remove("gone.tga");
    for (int frame = 0; frame < 5; ++frame) EXPECT_EQ(manager.DeclareImage("Gone", 0), nullptr);
    EXPECT_EQ(reports(), 1u);
}

TEST_F(ResourceManagerTest, AcquisitionLoadsOnceAndCounts) {
    LogRecorder log;
    ResourceRecord* a = Image("a", 300000);
    ResourceRecord* bad = Image("broken", 5);
    ASSERT_TRUE(a && bad);
    Ticks(3);
    auto* t = manager.GetImage(a);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(log.Has("[IMAGE] : " + std::string("a")));
    EXPECT_EQ(a->size, 300000u);
    EXPECT_EQ(manager.TotalBytes(), 300000u);
    EXPECT_EQ(a->last_use, 0u);  // the loading acquisition leaves it
    EXPECT_EQ(manager.GetImage(a), t);
    EXPECT_EQ(a->last_use, 3u);
    EXPECT_EQ(g_loads, 1);

    // A failed load returns the object and is not retried until unloaded.
    EXPECT_NE(manager.GetImage(bad), nullptr);
    EXPECT_TRUE(log.Has("[ERROR] - IMAGE : " + std::string("broken")));
    manager.GetImage(bad);
    EXPECT_EQ(g_loads, 2);
    EXPECT_EQ(manager.TotalBytes(), 300000u);

    // Without the kind's code, acquisition says so once and gives null.
    SetResourceKindOps(kResourceMesh, nullptr);
    Make("m.x");
    ResourceRecord* m = manager.DeclareMesh(std::string("m").c_str(), 0);
    size_t lines = log.Count();
    EXPECT_EQ(manager.GetMesh(m), nullptr);
    EXPECT_EQ(manager.GetMesh(m), nullptr);
    EXPECT_EQ(log.Count(), lines + 1);
    EXPECT_TRUE(log.Has("[ERROR] - MESH : " + std::string("m") + " ("));
}

TEST_F(ResourceManagerTest, SoundsVideosAndMeshes) {
    LogRecorder log;
    Make("music.ogg");
    Make("click.ogg");
    Make("bad.ogg");
    Make("intro.ogg");
    Make("movie.ogg");
    Make("ship.msh");
    Make("rock.x");

    // Streamed: bound on every acquisition, nothing counted.
    ResourceRecord* music = manager.DeclareSound(std::string("music").c_str(), kSoundStreamed | 5 << 4);
    Sound* s = manager.GetSound(music);
    ASSERT_NE(s, nullptr);
    manager.GetSound(music);
    EXPECT_EQ(Fake(s)->binds, 2);
    EXPECT_EQ(music->size, 0u);
    // Unloading keeps the declaration bits: it streams again afterwards.
    manager.Unload(music);
    EXPECT_EQ(music->flags, kSoundStreamed | 5u << 4);
    EXPECT_NE(manager.GetSound(music), nullptr);
    EXPECT_EQ(g_loads, 0);

    // A channel outside 0..7 is refused.
    Make("far.ogg");
    ResourceRecord* far = manager.DeclareSound(std::string("far").c_str(), kSoundStreamed | 9 << 4);
    EXPECT_EQ(manager.GetSound(far), nullptr);

    // Static: decoded once, counted, last use set on every acquisition.
    manager.Tick();
    ResourceRecord* click = manager.DeclareSound(std::string("click").c_str(), kSound3D);
    ASSERT_NE(manager.GetSound(click), nullptr);
    EXPECT_TRUE(log.Has("[SOUND] : " + std::string("click")));
    EXPECT_EQ(click->last_use, 1u);
    EXPECT_EQ(manager.TotalBytes(), 0x10001u);
    ResourceRecord* bad = manager.DeclareSound(std::string("bad").c_str(), 0);
    EXPECT_EQ(bad->flags, 0u);
    g_sizes["bad"] = 1;
    Make("broken.ogg");
    ResourceRecord* broken = manager.DeclareSound(std::string("broken").c_str(), 0);
    EXPECT_NE(manager.GetSound(broken), nullptr);
    EXPECT_TRUE(log.Has("[ERROR] - SOUND : " + std::string("broken")));

    // Videos: buffered ones load their own player; streamed ones share one.
    int shared_player = 0;
    SetSharedVideoPlayer(&shared_player);
    ResourceRecord* intro = manager.DeclareVideo(std::string("intro").c_str(), 1);
    EXPECT_TRUE(log.Has("[VIDEO STREAM] : " + std::string("intro")));
    EXPECT_EQ(intro->object, &shared_player);
    ResourceRecord* movie = manager.DeclareVideo(std::string("movie").c_str(), 0);
    VideoPlayer* own = manager.GetVideo(movie);
    ASSERT_NE(own, nullptr);
    EXPECT_NE(static_cast<void*>(own), static_cast<void*>(&shared_player));
    EXPECT_TRUE(log.Has("[VIDEO] : " + std::string("movie")));
    EXPECT_EQ(movie->size, 0u);
    // Binding the shared player: our fake counts it in an int, so only
    // check that the shared object is what comes back, unloaded or not.
    static const ResourceKindOps kVideoOps = {
        "video", Create, Load, nullptr, [](void*, const ResourceRecord&) { return true; }, ByteSize, Destroy};
    SetResourceKindOps(kResourceVideo, &kVideoOps);
    EXPECT_EQ(static_cast<void*>(manager.GetVideo(intro)), &shared_player);
    manager.UnloadByType(kResourceVideo);
    EXPECT_EQ(intro->object, &shared_player);  // never freed, still usable
    EXPECT_EQ(static_cast<void*>(manager.GetVideo(intro)), &shared_player);
    EXPECT_EQ(movie->object, nullptr);

    // Meshes: a ".msh" path is read from the cache.
    ResourceRecord* ship = manager.DeclareMesh(std::string("ship").c_str(), 0);
    ResourceRecord* rock = manager.DeclareMesh(std::string("rock").c_str(), 0);
    ASSERT_NE(manager.GetMesh(ship), nullptr);
    EXPECT_EQ(g_cached_loads, 1);
    ASSERT_NE(manager.GetMesh(rock), nullptr);
    EXPECT_EQ(g_cached_loads, 1);
    EXPECT_TRUE(log.Has("[MESH] : " + std::string("rock")));
}

TEST_F(ResourceManagerTest, PurgeTakesTheOldestLargeRecordsWithinTheAllowance) {
    LogRecorder log;
    g_resource_budget = 40u << 20;  // purge above 20 MiB, stop below 10 MiB
    std::vector<ResourceRecord*> r;
    for (int i = 0; i < 6; ++i) r.push_back(Image("big" + std::to_string(i), 5u << 20));
    ResourceRecord* small = Image("small", 0x10000);
    for (ResourceRecord* x : r) manager.GetImage(x);
    manager.GetImage(small);
    EXPECT_EQ(manager.TotalBytes(), 30u * 1024 * 1024 + 0x10000);
    // Use them at different frames: big3 most recently, big0/big1 never.
    Ticks(5);
    manager.GetImage(r[2]);
    manager.GetImage(r[4]);
    manager.GetImage(r[5]);
    Ticks(2);
    manager.GetImage(r[3]);
    Ticks(7);  // frame 14: purging since the first tick, but only every 15th frame works
    EXPECT_TRUE(manager.Purging());
    EXPECT_EQ(manager.TotalBytes(), 30u * 1024 * 1024 + 0x10000);
    manager.Tick();  // frame 15: 8 MiB allowance: two records of 5 MiB
    EXPECT_EQ(r[0]->object, nullptr);
    EXPECT_EQ(r[1]->object, nullptr);  // equal age: the one nearer the head first
    EXPECT_NE(r[2]->object, nullptr);
    EXPECT_TRUE(log.Has("[UNLOAD OLD] " + std::string("big0")));
    EXPECT_EQ(r[0]->flags, 0u);
    EXPECT_EQ(r[0]->size, 0u);
    EXPECT_EQ(manager.TotalBytes(), 20u * 1024 * 1024 + 0x10000);
    EXPECT_TRUE(manager.Purging());
    Ticks(14);
    EXPECT_NE(r[2]->object, nullptr);
    manager.Tick();  // frame 30: big2 and big4 (same age, big2 first)
    EXPECT_EQ(r[2]->object, nullptr);
    EXPECT_EQ(r[4]->object, nullptr);
    EXPECT_NE(r[5]->object, nullptr);
    // 10 MiB + 64 KiB is not below a quarter: one more pass takes big5 and
    // ends the episode below 10 MiB.
    EXPECT_TRUE(manager.Purging());
    Ticks(15);
    EXPECT_EQ(r[5]->object, nullptr);
    EXPECT_NE(r[3]->object, nullptr);
    EXPECT_NE(small->object, nullptr);  // 64 KiB is never purged
    EXPECT_FALSE(manager.Purging());

    // An unloaded record loads again on its next acquisition.
    EXPECT_NE(manager.GetImage(r[0]), nullptr);
    EXPECT_EQ(r[0]->size, 5u << 20);
}

TEST_F(ResourceManagerTest, PurgeNeverTakesSmallOrJustUsedRecords) {
    g_resource_budget = 1u << 20;
    std::vector<ResourceRecord*> r;
    // Appended, not "literal" + temporary: gcc 12 at -O3 warns falsely (-Wrestrict) on that.
    for (int i = 0; i < 6; ++i) r.push_back(Image(std::string("s").append(std::to_string(i)), 0x10000));
    ResourceRecord* used = Image("used", 0x30000);
    for (ResourceRecord* x : r) manager.GetImage(x);
    Ticks(15);  // 384 KiB: at most half the budget, no purge
    EXPECT_FALSE(manager.Purging());
    // Acquired in this frame (twice: the loading acquisition leaves the last
    // use at 0), then a purge run directly, as a scene switch does.
    manager.GetImage(used);
    manager.GetImage(used);
    manager.Purge();
    EXPECT_TRUE(manager.Purging());  // above half the budget, nothing it may take
    for (ResourceRecord* x : r) EXPECT_NE(x->object, nullptr);
    EXPECT_NE(used->object, nullptr);
    EXPECT_TRUE(g_destroyed.empty());
    Ticks(15);  // later passes keep trying: now it is old enough
    EXPECT_EQ(used->object, nullptr);
    EXPECT_TRUE(manager.Purging());  // 384 KiB is not below a quarter: passes go on
    for (ResourceRecord* x : r) EXPECT_NE(x->object, nullptr);
    // A larger budget ends the episode at the next pass, taking nothing.
    g_resource_budget = 4u << 20;
    ResourceRecord* big = Image("late", 0x20000);
    manager.GetImage(big);
    Ticks(15);
    EXPECT_FALSE(manager.Purging());
    EXPECT_NE(big->object, nullptr);
}

TEST_F(ResourceManagerTest, UnloadByTypeRemoveAndClear) {
    LogRecorder log;
    ResourceRecord* img = Image("img", 1000);
    Make("snd.ogg");
    Make("msh.x");
    ResourceRecord* snd = manager.DeclareSound(std::string("snd").c_str(), 0);
    ResourceRecord* msh = manager.DeclareMesh(std::string("msh").c_str(), 0);
    g_sizes["snd"] = 10;
    g_sizes["msh"] = 100;
    manager.GetImage(img);
    manager.GetSound(snd);
    manager.GetMesh(msh);
    EXPECT_EQ(manager.TotalBytes(), 1110u);
    manager.UnloadByType(kResourceImage | kResourceMesh);  // a display reset
    EXPECT_EQ(manager.TotalBytes(), 10u);
    EXPECT_EQ(img->object, nullptr);
    EXPECT_EQ(msh->object, nullptr);
    EXPECT_NE(snd->object, nullptr);
    EXPECT_EQ(g_destroyed.size(), 2u);

    // Remove without erase: unloaded, logged with the path, record kept.
    manager.Remove(snd, false);
    EXPECT_TRUE(log.Has("[UNLOAD] : " + std::string("snd.ogg")));
    EXPECT_EQ(manager.TotalBytes(), 0u);
    EXPECT_EQ(manager.FindByName(std::string("snd").c_str()), snd);

    // A record never loaded: nothing logged, erased all the same.
    size_t lines = log.Count();
    manager.Remove(msh, true);
    EXPECT_EQ(log.Count(), lines);
    EXPECT_EQ(manager.FindByName(std::string("msh").c_str()), nullptr);
    EXPECT_EQ(snd->next, nullptr);  // msh was the tail
    // A holder of the erased record gets null, and declaring the name again
    // makes a new record.
    EXPECT_EQ(manager.GetMesh(msh), nullptr);
    ResourceRecord* again = manager.DeclareMesh(std::string("msh").c_str(), 1);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, msh);
    EXPECT_EQ(snd->next, again);

    manager.GetImage(img);
    manager.Remove(img, true);
    EXPECT_TRUE(log.Has("[REMOVE] : " + std::string("img.tga")));
    EXPECT_EQ(manager.First(), snd);
    manager.Remove(img, true);  // twice: nothing more happens

    manager.GetMesh(again);
    manager.Clear();
    EXPECT_EQ(manager.First(), nullptr);
    EXPECT_EQ(manager.Count(), 0u);
    EXPECT_EQ(manager.TotalBytes(), 0u);
}

TEST(ResourceBudget, SixtyFourBitsAndClamped) {
    SetResourceBudgetMiB(4096);
    EXPECT_EQ(g_resource_budget, 4096ull << 20);
    SetResourceBudgetMiB(100000);
    EXPECT_EQ(g_resource_budget, 100000ull << 20);
    SetResourceBudgetMiB(10);
    EXPECT_EQ(g_resource_budget, 256ull << 20);
    SetResourceBudgetMiB(-5);
    EXPECT_EQ(g_resource_budget, 256ull << 20);
    g_resource_budget = kDefaultResourceBudget;
    EXPECT_EQ(ResourceBudgetForPhysicalMemory(64ull << 30), 0x20000000u);
    EXPECT_EQ(ResourceBudgetForPhysicalMemory(256ull << 20), 0x10000000u);
    EXPECT_EQ(ResourceBudgetForPhysicalMemory(768ull << 20), 384ull << 20);
    EXPECT_NE(g_current_directory[0], 0);
}

TEST_F(ResourceManagerTest, RealSoundsThroughTheSoundDevice) {
    sound_test::OpenManualDevice();
    SetResourceKindOps(kResourceSound, saved[1]);
    LogRecorder log;
    sound_test::WriteOgg(dir, "tone.ogg", vorbis_tone::Tone(2, 44100, 0.5, 440.0));
    ResourceRecord* tone = manager.DeclareSound("tone", kSound3D);
    Sound* s = manager.GetSound(tone);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(log.Has("[SOUND] : tone"));
    EXPECT_NE(s->buffer3d, nullptr);
    EXPECT_EQ(tone->size, s->size);
    EXPECT_EQ(manager.TotalBytes(), s->size);
    ResourceRecord* music = manager.DeclareSound("Music", kSoundStreamed | 2u << kSoundChannelShift);
    EXPECT_EQ(music, nullptr);  // no file
    sound_test::WriteOgg(dir, "music.ogg", vorbis_tone::Tone(2, 44100, 0.5, 220.0));
    music = manager.DeclareSound("Music", kSoundStreamed | 2u << kSoundChannelShift);
    Sound* m = manager.GetSound(music);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->streamed);
    EXPECT_EQ(m->channel_index, 2u);
    EXPECT_STREQ(m->source_path, "music.ogg");
    manager.Clear();
    g_sound_device.Release();
}
