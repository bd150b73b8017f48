// The hotspot map: cell look-ups at and beyond its edges, the palette, the
// centre of a region (with regions across yaw 0), the per-scene file, the
// painting brush and its keys.
#include <zlib.h>

#include <string>
#include <vector>

#include "app/app_window.h"
#include "scene/hot_spot.h"
#include "scene/scene_fixture.h"

using namespace scene_test;

namespace {

class HotspotMapTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        GetHotspotBrush() = HotspotBrush{};
    }
    void TearDown() override {
        GetHotspotBrush() = HotspotBrush{};
        g_pointerYaw = g_pointerPitch = 0;
        SceneTest::TearDown();
    }
    uint8_t* Cells() { return HotspotMapImage()->pixels; }
    void Set(int yaw, int pitch, uint8_t v) { Cells()[size_t(pitch + 90) * 360 + size_t(yaw)] = v; }
    int CountOf(uint8_t v) {
        int n = 0;
        for (size_t i = 0; i < kHotspotMapBytes; ++i) n += Cells()[i] == v;
        return n;
    }
    std::string Packed(const std::vector<uint8_t>& cells) {
        uLongf n = compressBound(cells.size());
        std::string out(n, '\0');
        compress(reinterpret_cast<Bytef*>(out.data()), &n, cells.data(), cells.size());
        out.resize(n);
        return out;
    }
};

TEST_F(HotspotMapTest, CellsInsideAndOutsideTheMap) {
    EXPECT_EQ(HotspotMapCell(10, 10), 0);  // no map yet
    EXPECT_EQ(HotspotPaletteColour(3), 0xFF000000u);
    ASSERT_TRUE(PrepareHotspotMap());
    Set(0, -90, 1);
    Set(359, 89, 2);
    Set(180, 0, 3);
    EXPECT_EQ(HotspotMapCell(0, -90), 1);
    EXPECT_EQ(HotspotMapCell(359, 89), 2);
    EXPECT_EQ(HotspotMapCell(180, 0), 3);
    for (auto [yaw, pitch] : {std::pair{360, 0}, {-1, 0}, {0, 90}, {0, -91}, {INT32_MAX, INT32_MAX}, {INT32_MIN, 0}})
        EXPECT_EQ(HotspotMapCell(yaw, pitch), 0) << yaw << "," << pitch;

    // The pointer's direction: truncated; the edge values 360 and 90 answer 0.
    GameScene* s = Scene("pan");
    s->viewtype = kViewCube;
    g_pointerYaw = 359.9f;
    g_pointerPitch = 89.9f;
    EXPECT_EQ(s->HotspotAtView(), 2u);
    g_pointerYaw = 360.0f;
    g_pointerPitch = 90.0f;
    EXPECT_EQ(s->HotspotAtView(), 0u);
    g_pointerYaw = 180.5f;
    g_pointerPitch = 0.7f;
    EXPECT_EQ(s->HotspotAtView(), 3u);
    s->viewtype = kViewPage;
    EXPECT_EQ(s->HotspotAtView(), 0u);

    // A later switch empties the map.
    ASSERT_TRUE(PrepareHotspotMap());
    EXPECT_EQ(HotspotMapCell(180, 0), 0);
}

TEST_F(HotspotMapTest, PaletteComesFromTheMiscFile) {
    std::string palette(768, '\0');
    palette[3] = char(0x12), palette[4] = char(0x34), palette[5] = char(0x56);
    palette[765] = char(0xFF);
    Write(Path("data/misc/hotspots.bin"), palette);
    ASSERT_TRUE(PrepareHotspotMap());
    EXPECT_EQ(HotspotPaletteColour(1), 0xFF123456u);
    EXPECT_EQ(HotspotPaletteColour(255), 0xFFFF0000u);
    EXPECT_EQ(HotspotPaletteColour(257), 0xFF123456u);  // only the low byte counts
}

TEST_F(HotspotMapTest, RegionCentresWithAndWithoutTheYawWrap) {
    ASSERT_TRUE(PrepareHotspotMap());
    GameScene* s = Scene("pan");
    HotSpot* first = Add(s->hotspots, "first");
    HotSpot* second = Add(s->hotspots, "second");
    HotSpot* absent = Add(s->hotspots, "absent");
    HotSpot* stranger = Add(engine.globalHotspots, "stranger");
    // first (1): columns 350..359 and 0..9 of pitch 10.
    for (int c = 350; c < 360; ++c) Set(c, 10, 1);
    for (int c = 0; c < 10; ++c) Set(c, 10, 1);
    // second (2): columns 100..103 of pitches -20 and -19.
    for (int c = 100; c < 104; ++c) Set(c, -20, 2), Set(c, -19, 2);

    float yaw = -1, pitch = -1;
    EXPECT_EQ(s->GetHotspotDirection(first, &yaw, &pitch), 1);
    EXPECT_FLOAT_EQ(yaw, 359.5f);
    EXPECT_FLOAT_EQ(pitch, 10.0f);
    EXPECT_EQ(s->GetHotspotDirection(second, &yaw, &pitch), 2);
    EXPECT_FLOAT_EQ(yaw, 101.5f);
    EXPECT_FLOAT_EQ(pitch, -19.5f);

    // No cells: 0 with both outputs 0. Not in the list: 0, outputs kept.
    EXPECT_EQ(s->GetHotspotDirection(absent, &yaw, &pitch), 0);
    EXPECT_EQ(yaw, 0.0f);
    yaw = pitch = 5;
    EXPECT_EQ(s->GetHotspotDirection(stranger, &yaw, &pitch), 0);
    EXPECT_EQ(yaw, 5.0f);

    // A hotspot standing for a mesh answers its index without the map,
    // even when no such mesh exists.
    absent->object = Intern("statue");
    EXPECT_EQ(s->GetHotspotDirection(absent, &yaw, &pitch), 3);
    EXPECT_EQ(yaw, 5.0f);
}

TEST_F(HotspotMapTest, SceneFileRoundTripAndDamagedFiles) {
    ASSERT_TRUE(PrepareHotspotMap());
    Set(12, 34, 9);
    const std::string path = Path("stages/room/hotspots.bin");
    Write(Path("stages/room/x"), "");
    ASSERT_TRUE(SaveHotspotMapFile(path.c_str()));
    ClearHotspotMap();
    ASSERT_TRUE(LoadHotspotMapFile(path.c_str()));
    EXPECT_EQ(HotspotMapCell(12, 34), 9);
    EXPECT_EQ(CountOf(0), int(kHotspotMapBytes) - 1);

    // A damaged stream is logged and keeps what was inflated before the
    // fault: a cut stream its first part, the rest as it was.
    std::vector<uint8_t> cells(kHotspotMapBytes);
    for (size_t i = 0; i < cells.size(); ++i) cells[i] = uint8_t(i * 7 % 251 + 1);
    const std::string whole = Packed(cells);
    Write(path, whole.substr(0, whole.size() / 2));
    ClearHotspotMap();
    EXPECT_FALSE(LoadHotspotMapFile(path.c_str()));
    EXPECT_TRUE(Logged("[ERROR] ZLIB - Can't decompress hotspot data (-3)"));
    EXPECT_EQ(HotspotMapCell(0, -90), cells[0]);
    EXPECT_EQ(HotspotMapCell(100, -90), cells[100]);
    EXPECT_EQ(HotspotMapCell(359, 89), 0) << "past the cut: as it was";
    Set(1, 1, 4);
    Write(path, "not zlib at all");
    LogLines().clear();
    EXPECT_FALSE(LoadHotspotMapFile(path.c_str()));
    EXPECT_TRUE(Logged("(-3)"));
    EXPECT_EQ(HotspotMapCell(1, 1), 4);
    // An empty file is a damaged one too.
    Write(path, "");
    LogLines().clear();
    EXPECT_FALSE(LoadHotspotMapFile(path.c_str()));
    EXPECT_TRUE(Logged("Can't decompress hotspot data"));

    // More than a map: the map is filled, the rest refused and logged. A
    // short map fills the rest with 0.
    Write(path, Packed(std::vector<uint8_t>(kHotspotMapBytes + 1, 1)));
    LogLines().clear();
    EXPECT_FALSE(LoadHotspotMapFile(path.c_str()));
    EXPECT_TRUE(Logged("(-5)"));
    EXPECT_EQ(CountOf(1), int(kHotspotMapBytes));
    Write(path, Packed(std::vector<uint8_t>(10, 6)));
    EXPECT_TRUE(LoadHotspotMapFile(path.c_str()));
    EXPECT_EQ(CountOf(6), 10);
    EXPECT_EQ(HotspotMapCell(1, 1), 0);

    // Too large a file is not read at all; a missing one says nothing.
    Write(path, std::string(kMaxHotspotFileBytes + 1, 'x'));
    LogLines().clear();
    EXPECT_FALSE(LoadHotspotMapFile(path.c_str()));
    EXPECT_TRUE(Logged("more than a map can be"));
    LogLines().clear();
    EXPECT_FALSE(LoadHotspotMapFile(Path("stages/none/hotspots.bin").c_str()));
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(HotspotMapTest, AFailedWriteIsLoggedAndKeepsTheOldFile) {
    EXPECT_FALSE(SaveHotspotMapFile(Path("nomap.bin").c_str()));
    EXPECT_TRUE(Logged("there is no map"));
    ASSERT_TRUE(PrepareHotspotMap());
    EXPECT_FALSE(SaveHotspotMapFile(Path("missing/folder/hotspots.bin").c_str()));
    EXPECT_TRUE(Logged("could not be written"));

    // A target that cannot be replaced (here a folder of that name): it
    // stays as it was and no temporary file is left beside it.
    const std::string target = Path("room/hotspots.bin");
    Write(target + "/keep", "old");
    EXPECT_FALSE(SaveHotspotMapFile(target.c_str()));
    EXPECT_EQ(quild_test::ReadFile(target + "/keep"), "old");
    EXPECT_EQ(system(("test $(ls -A '" + Path("room") + "' | wc -l) -eq 1").c_str()), 0);
}

TEST_F(HotspotMapTest, RemovingAHotspotRenumbersTheMap) {
    ASSERT_TRUE(PrepareHotspotMap());
    Set(0, 0, 1), Set(1, 0, 2), Set(2, 0, 3), Set(3, 0, 255);
    RenumberHotspotMap(2);
    EXPECT_EQ(HotspotMapCell(0, 0), 1);
    EXPECT_EQ(HotspotMapCell(1, 0), 0);
    EXPECT_EQ(HotspotMapCell(2, 0), 2);
    EXPECT_EQ(HotspotMapCell(3, 0), 254);
    RenumberHotspotMap(0);  // nothing to renumber for "no hotspot"
    EXPECT_EQ(HotspotMapCell(0, 0), 1);
}

TEST_F(HotspotMapTest, PaintingCoversTheBrushInsideTheMap) {
    ASSERT_TRUE(PrepareHotspotMap());
    HotspotBrush& b = GetHotspotBrush();
    b.value = 0x105;  // the low byte is written
    PaintHotspotMap(true, 100.4f, 20.2f, 3);
    EXPECT_EQ(CountOf(5), 1);
    EXPECT_EQ(HotspotMapCell(100, 20), 5);
    EXPECT_TRUE(b.mapChanged);
    EXPECT_TRUE(engine.sceneModified);

    b.size = 2;
    b.value = 6;
    PaintHotspotMap(true, 200.0f, 0.0f, 8);  // every 8th frame the preview is redone
    EXPECT_EQ(CountOf(6), 25);
    EXPECT_EQ(HotspotMapCell(198, -2), 6);
    EXPECT_EQ(HotspotMapCell(202, 2), 6);
    EXPECT_FALSE(b.mapChanged);

    // Near the corner of yaw 0 and pitch -90 only the cells inside are written.
    b.value = 7;
    PaintHotspotMap(true, 0.5f, -89.5f, 9);
    EXPECT_EQ(CountOf(7), 3 * 3);  // columns 0..2, rows -90..-88
    PaintHotspotMap(true, 359.5f, 89.5f, 9);
    EXPECT_EQ(CountOf(7), 9 + 9);  // columns 357..359, rows 87..89
    EXPECT_EQ(HotspotMapCell(0, 89), 0);  // no wrap to the other side

    // A frame without painting brings the preview up to date.
    PaintHotspotMap(false, 0, 0, 10);
    EXPECT_FALSE(b.mapChanged);
}

TEST_F(HotspotMapTest, BrushKeysAndLabel) {
    HotspotBrush& b = GetHotspotBrush();
    GameScene* s = Scene("pan");
    Add(s->hotspots, "lamp");
    Add(s->hotspots, "desk");
    EXPECT_STREQ(HotspotBrushLabel(s), "ERASER");

    HotspotBrushInput(37, 0, 2, 0, false);  // Left from 0 wraps to the count
    EXPECT_EQ(b.value, 2u);
    EXPECT_EQ(b.labelTime, 2000);
    EXPECT_STREQ(HotspotBrushLabel(s), "desk");
    HotspotBrushInput(39, 0, 2, 0, false);  // Right past the count wraps to 0
    EXPECT_EQ(b.value, 0u);
    HotspotBrushInput(32, 0, 2, 1, false);  // Space picks the cell at the view
    EXPECT_STREQ(HotspotBrushLabel(s), "lamp");

    b.labelTime = 0;
    HotspotBrushInput(40, 0, 2, 0, false);  // Down from size 0 wraps to 7
    EXPECT_EQ(b.size, 7u);
    HotspotBrushInput(38, 0, 2, 0, false);
    EXPECT_EQ(b.size, 0u);
    EXPECT_EQ(b.labelTime, 0);  // size keys show no label

    // The wheel steps through 0..15, past the hotspots there are.
    b.value = 15;
    HotspotBrushInput(0, -120, 2, 0, false);
    EXPECT_EQ(b.value, 0u);
    HotspotBrushInput(0, 120, 2, 0, false);
    EXPECT_EQ(b.value, 15u);
    EXPECT_STREQ(HotspotBrushLabel(s), "EMPTY");
    HotspotBrushInput(0, 120, 2, 0, true);  // with left Shift: the size
    EXPECT_EQ(b.value, 15u);
    EXPECT_EQ(b.size, 1u);

    // The label counts down one frame at a time.
    b.labelTime = 40;
    DrawHotspotBrush(10, 10, s, 16.6667f);
    EXPECT_EQ(b.labelTime, 23);
}

}  // namespace
