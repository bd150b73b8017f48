// The bundled game, made by tools/demogen under the build folder: its
// content is reproducible and consistent, and the game's own tour visits
// every room and leaves a distinct picture of each.
#include <gtest/gtest.h>
#include <lauxlib.h>
#include <lua.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine_run.h"
#include "media/image/image_data.h"
#include "media/image/jpeg_codec.h"
#include "media/sound/vorbis_source.h"
#include "render/render_fixture.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// Runs the generator into a folder under the build folder (emptied first
// unless keep is set); the test's face size keeps it quick. The folder is
// the running test's own, so tests run side by side never share one.
std::string Generate(const std::string& name, const std::string& extra = "", bool keep = false) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string dir =
        fs::absolute("demo_tour/" + std::string(test->test_suite_name()) + "." + test->name() + "/" + name).string();
    if (!keep) fs::remove_all(dir);
    const std::string cmd = std::string("'") + QUILD_DEMOGEN + "' '" + dir + "' --faces 128 " + extra + " > /dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return dir;
}

std::vector<std::string> FilesUnder(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

// The 64,800 cells of a node's hotspot map.
std::vector<uint8_t> ReadMap(const std::string& path) {
    const std::string z = quild_test::ReadFile(path);
    std::vector<uint8_t> map(360 * 180);
    uLongf len = uLongf(map.size());
    EXPECT_EQ(uncompress(map.data(), &len, reinterpret_cast<const Bytef*>(z.data()), uLong(z.size())), Z_OK) << path;
    EXPECT_EQ(len, map.size()) << path;
    return map;
}

uint8_t Cell(const std::vector<uint8_t>& map, int yaw, int pitch) { return map[size_t(pitch + 90) * 360 + yaw]; }

TEST(DemoGenerator, SameBytesEveryRunAndNoRewriteWhileUpToDate) {
    const std::string a = Generate("same_a"), b = Generate("same_b");
    const std::vector<std::string> names = FilesUnder(a);
    ASSERT_EQ(names, FilesUnder(b));
    for (const char* must : {"main.lua", "scripts/game.lua", "stages/title/data.lua", "stages/hall/01.png",
                             "stages/hall/hotspots.bin", "data/fonts/main.tga", "data/music/theme.ogg",
                             "data/videos/intro.ogg", "data/misc/hotspots.bin"})
        EXPECT_NE(std::find(names.begin(), names.end(), must), names.end()) << must;
    for (const std::string& n : names)
        EXPECT_EQ(quild_test::ReadFile(a + "/" + n), quild_test::ReadFile(b + "/" + n)) << n << " differs between runs";

    // Up to date: a file changed by hand stays, and the generator says why;
    // --force or another face size writes everything again.
    quild_test::WriteFile(a + "/main.lua", "-- changed\n");
    const std::string said = a + ".said";
    ASSERT_EQ(std::system(("'" + std::string(QUILD_DEMOGEN) + "' '" + a + "' --faces 128 > '" + said + "'").c_str()), 0);
    EXPECT_EQ(quild_test::ReadFile(a + "/main.lua"), "-- changed\n");
    EXPECT_EQ(quild_test::ReadFile(said),
              "The game in " + a + " is up to date: nothing written (--force writes it again).\n");
    Generate("same_a", "--force", true);
    EXPECT_EQ(quild_test::ReadFile(a + "/main.lua"), quild_test::ReadFile(b + "/main.lua"));
    // A game folder that lost its start-up script is written again.
    std::filesystem::remove(a + "/main.lua");
    Generate("same_a", "", true);
    EXPECT_EQ(quild_test::ReadFile(a + "/main.lua"), quild_test::ReadFile(b + "/main.lua"));
    quild_test::WriteFile(a + "/main.lua", "-- changed\n");
    const std::string cmd = std::string("'") + QUILD_DEMOGEN + "' '" + a + "' --faces 64 > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(quild_test::ReadFile(a + "/main.lua"), quild_test::ReadFile(b + "/main.lua"));

    // Face sizes that are no power of two are refused, nothing written.
    const std::string bad = fs::absolute("demo_tour/bad").string();
    fs::remove_all(bad);
    EXPECT_NE(std::system((std::string("'") + QUILD_DEMOGEN + "' '" + bad + "' --faces 100 2>/dev/null").c_str()), 0);
    EXPECT_FALSE(fs::exists(bad));
}

// What the generator writes, read back through the engine's own readers:
// alpha images keep their alpha and stand the right way up.
TEST(DemoGenerator, ImagesReadBackThroughTheEngine) {
    const std::string dir = Generate("images");
    auto argb = [](const ImageData& im, uint32_t x, uint32_t y) {
        const uint8_t* p = im.pixels + (size_t(y) * im.width + x) * 4;  // B, G, R, A
        return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    };
    ImageData door;
    ASSERT_TRUE(LoadImage((dir + "/data/icons/door").c_str(), door));
    ASSERT_EQ(door.bits, uint32_t(kImageArgb));
    ASSERT_EQ(door.width, 32u);
    ASSERT_EQ(door.height, 32u);
    EXPECT_EQ(argb(door, 0, 0) >> 24, 0u);           // outside: clear
    EXPECT_EQ(argb(door, 15, 1) >> 24, 0u);          // above the door
    EXPECT_EQ(argb(door, 15, 29), 0xFF000000u);      // its bottom frame
    EXPECT_EQ(argb(door, 15, 10), 0xFFF0C060u);      // the door
    EXPECT_EQ(argb(door, 20, 16), 0xFF000000u);      // the knob

    // Font cells of 24 x 24 by character code: "A" (65) has its apex in
    // its top row, the space (32) nothing.
    ImageData font;
    ASSERT_TRUE(LoadImage((dir + "/data/fonts/main").c_str(), font));
    ASSERT_EQ(font.bits, uint32_t(kImageArgb));
    ASSERT_EQ(font.width, 384u);
    EXPECT_EQ(argb(font, 24 + 1 + 3 + 1, 96 + 1), 0xFFFFFFFFu);
    EXPECT_EQ(argb(font, 24 + 1 + 1, 96 + 1) >> 24, 0u);  // beside the apex
    uint32_t space_alpha = 0;
    for (uint32_t y = 48; y < 72; ++y)
        for (uint32_t x = 0; x < 24; ++x) space_alpha |= argb(font, x, y) >> 24;
    EXPECT_EQ(space_alpha, 0u);
    // Every printable character has a glyph whose inked columns touch (the
    // engine measures a glyph up to its first empty column: a gap would cut
    // '"' down to one mark), and lower case is drawn apart from capitals.
    auto columns = [&](int code) {
        std::string inked;
        for (uint32_t x = 0; x < 24; ++x) {
            uint32_t a = 0;
            for (uint32_t y = 0; y < 24; ++y) a |= argb(font, (code % 16) * 24 + x, (code / 16) * 24 + y) >> 24;
            inked += a ? '#' : '.';
        }
        return inked;
    };
    auto cell = [&](int code) {
        std::string px;
        for (uint32_t y = 0; y < 24; ++y)
            for (uint32_t x = 0; x < 24; ++x) px += char(argb(font, (code % 16) * 24 + x, (code / 16) * 24 + y) >> 24);
        return px;
    };
    for (int code = 33; code < 127; ++code) {
        const std::string inked = columns(code);
        const size_t first = inked.find('#'), last = inked.rfind('#');
        ASSERT_NE(first, std::string::npos) << char(code) << " has no glyph";
        EXPECT_EQ(inked.find('.', first), last + 1) << char(code) << ": " << inked;
    }
    for (int c = 'a'; c <= 'z'; ++c) EXPECT_NE(cell(c), cell(c - 'a' + 'A')) << char(c);
    // Lower case stands on the capitals' baseline; g, j, p, q and y hang
    // below it, still inside their cells.
    auto lowest_row = [&](int code) { return cell(code).find_last_not_of('\0') / 24; };
    for (int c = 'a'; c <= 'z'; ++c) {
        if (std::strchr("gjpqy", c))
            EXPECT_GT(lowest_row(c), lowest_row('A')) << char(c) << " has no descender";
        else
            EXPECT_EQ(lowest_row(c), lowest_row('A')) << char(c);
    }

    // The angle table of the editor's map view: atan2(a, b) as a fraction
    // of a turn in 16 bits (red high, green low), a across, b down.
    ImageData angles;
    ASSERT_TRUE(LoadImage((dir + "/data/misc/eqlookup").c_str(), angles));
    ASSERT_EQ(angles.width, 256u);
    ASSERT_EQ(angles.height, 256u);
    ASSERT_EQ(angles.bits, uint32_t(kImageRgb));
    auto turn = [&](uint32_t i, uint32_t j) {
        const uint8_t* p = angles.pixels + (size_t(j) * angles.width + i) * 3;  // R, G, B
        return double(p[0] << 8 | p[1]) / 65536.0;
    };
    EXPECT_NEAR(turn(255, 128), 0.25, 0.002);  // a = 1, b = 0: a quarter turn right
    EXPECT_NEAR(turn(0, 128), 0.75, 0.002);    // and left
    EXPECT_NEAR(turn(128, 0), 0.5, 0.002);     // b = -1: behind
    EXPECT_NEAR(turn(255, 255), 0.125, 0.001);
    EXPECT_LT(turn(128, 255), 0.002);           // straight ahead
    // The engine's default cursor is the arrow.
    EXPECT_EQ(quild_test::ReadFile(dir + "/data/icons/main.tga"), quild_test::ReadFile(dir + "/data/icons/arrow.tga"));

    ImageData face;
    ASSERT_TRUE(LoadImage((dir + "/stages/hall/01").c_str(), face));
    EXPECT_EQ(face.bits, uint32_t(kImageRgb));
    EXPECT_EQ(face.width, 128u);
    EXPECT_EQ(face.height, 128u);
}

// Every script of the game compiles, and the sounds decode to the length
// and shape they were made with (a lost tail or a wrong rate shows here).
TEST(DemoGenerator, ScriptsCompileAndSoundsDecodeWhole) {
    const std::string dir = Generate("scripts");
    int scripts = 0;
    for (const std::string& name : FilesUnder(dir)) {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".lua") != 0) continue;
        const std::string text = quild_test::ReadFile(dir + "/" + name);
        lua_State* L = luaL_newstate();
        const int status = luaL_loadbuffer(L, text.data(), text.size(), name.c_str());
        EXPECT_EQ(status, 0) << name << ": " << lua_tostring(L, -1);
        lua_close(L);
        ++scripts;
    }
    EXPECT_EQ(scripts, 11);  // main, game, shaders and four nodes' data and script
    // The game reads its saved rooms with the object() the guide gives.
    const std::string guide = quild_test::ReadFile(std::string(QUILD_SOURCE_DIR) + "/docs/AUTHORING.md");
    const size_t end = guide.find("\nend\n", guide.find("function object(t)"));
    const size_t begin = guide.rfind("```lua\n", end);
    ASSERT_NE(end, std::string::npos);
    ASSERT_NE(begin, std::string::npos);
    const std::string function = guide.substr(begin + 7, end + 5 - begin - 7);
    EXPECT_NE(quild_test::ReadFile(dir + "/scripts/game.lua").find(function), std::string::npos) << function;

    struct Expected {
        const char* name;
        int channels;
        int64_t frames;
    };
    for (const Expected& e : {Expected{"data/music/theme.ogg", 2, 16 * 44100}, Expected{"data/sounds/click.ogg", 1, 4410},
                              Expected{"data/sounds/fire.ogg", 1, 4 * 44100}, Expected{"data/sounds/steps.ogg", 1, 39690}}) {
        VorbisSource source;
        ASSERT_TRUE(source.OpenFile((dir + "/" + e.name).c_str(), false)) << e.name;
        EXPECT_EQ(source.Channels(), e.channels) << e.name;
        EXPECT_EQ(source.Rate(), 44100u) << e.name;
        EXPECT_EQ(source.TotalFrames(), e.frames) << e.name;
    }
}

// The maps lie over what the faces show: straight ahead in the hall is
// the door (value 1), behind is the arch (2), the ceiling and the side
// walls hold nothing; the corridor's glowing arch is far ahead and small.
TEST(DemoGenerator, HotspotMapsMatchTheRooms) {
    const std::string dir = Generate("maps");
    const std::vector<uint8_t> hall = ReadMap(dir + "/stages/hall/hotspots.bin");
    EXPECT_EQ(Cell(hall, 0, 0), 1);
    EXPECT_EQ(Cell(hall, 0, 20), 1);   // looking down at the foot of the door
    EXPECT_EQ(Cell(hall, 0, 30), 0);   // the floor before it
    EXPECT_EQ(Cell(hall, 0, -40), 0);  // above it
    EXPECT_EQ(Cell(hall, 180, 5), 2);
    EXPECT_EQ(Cell(hall, 90, 0), 0);
    EXPECT_EQ(Cell(hall, 270, 0), 0);
    EXPECT_EQ(Cell(hall, 45, -80), 0);

    const std::vector<uint8_t> corridor = ReadMap(dir + "/stages/corridor/hotspots.bin");
    EXPECT_EQ(Cell(corridor, 0, 0), 1);
    EXPECT_EQ(Cell(corridor, 10, 0), 0);  // 16 m away the arch spans a few degrees
    EXPECT_EQ(Cell(corridor, 180, 10), 2);
    int arch_cells = 0;
    for (uint8_t v : corridor) arch_cells += v == 1;
    EXPECT_GT(arch_cells, 4);
    EXPECT_LT(arch_cells, 200);

    const std::vector<uint8_t> gallery = ReadMap(dir + "/stages/gallery/hotspots.bin");
    EXPECT_EQ(Cell(gallery, 180, 10), 1);
    EXPECT_EQ(Cell(gallery, 0, 0), 0);
}

// Every triangle of the statue winds clockwise seen from the side its
// vertex normals face, so the default cull mode keeps the lit outside and
// drops the inside.
TEST(DemoGenerator, StatueTrianglesFaceTheirNormals) {
    const std::string dir = Generate("statue");
    const std::string text = quild_test::ReadFile(dir + "/data/meshes/statue.x");
    const char* c = std::strstr(text.c_str(), "Mesh StatueMesh {");
    ASSERT_NE(c, nullptr);
    auto next_line = [&c] { c = std::strchr(c, '\n') + 1; };
    next_line();
    size_t nv = 0, nf = 0;
    ASSERT_EQ(std::sscanf(c, " %zu;", &nv), 1);
    std::vector<float> pos(nv * 3), nrm(nv * 3);
    for (size_t i = 0; i < nv; ++i) {
        next_line();
        ASSERT_EQ(std::sscanf(c, " %f;%f;%f;", &pos[i * 3], &pos[i * 3 + 1], &pos[i * 3 + 2]), 3);
    }
    next_line();
    ASSERT_EQ(std::sscanf(c, " %zu;", &nf), 1);
    std::vector<unsigned> tri(nf * 3);
    for (size_t f = 0; f < nf; ++f) {
        next_line();
        ASSERT_EQ(std::sscanf(c, " 3;%u,%u,%u;", &tri[f * 3], &tri[f * 3 + 1], &tri[f * 3 + 2]), 3);
    }
    c = std::strstr(c, "MeshNormals {");
    ASSERT_NE(c, nullptr);
    next_line();
    for (size_t i = 0; i < nv; ++i) {
        next_line();
        ASSERT_EQ(std::sscanf(c, " %f;%f;%f;", &nrm[i * 3], &nrm[i * 3 + 1], &nrm[i * 3 + 2]), 3);
    }
    size_t facing = 0;
    for (size_t f = 0; f < nf; ++f) {
        const float* a = &pos[tri[f * 3] * 3];
        const float* b = &pos[tri[f * 3 + 1] * 3];
        const float* d = &pos[tri[f * 3 + 2] * 3];
        const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v[3] = {d[0] - a[0], d[1] - a[1], d[2] - a[2]};
        // Clockwise in a left-handed frame: u x v points toward the viewer.
        const float cross[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        float dot = 0;
        for (int k = 0; k < 3; ++k)
            dot += cross[k] * (nrm[tri[f * 3] * 3 + k] + nrm[tri[f * 3 + 1] * 3 + k] + nrm[tri[f * 3 + 2] * 3 + k]);
        facing += dot > 0;
    }
    EXPECT_EQ(facing, nf);
}

struct Shot {
    std::string name;
    std::vector<uint32_t> px;  // 0xRRGGBB
    int w = 0, h = 0;
};

double Spread(const Shot& s) {
    double sum = 0, sum2 = 0;
    for (uint32_t p : s.px) {
        const double l = ((p >> 16) & 255) * 0.3 + ((p >> 8) & 255) * 0.59 + (p & 255) * 0.11;
        sum += l;
        sum2 += l * l;
    }
    const double n = double(s.px.size());
    return std::sqrt(std::max(0.0, sum2 / n - (sum / n) * (sum / n)));
}

double MeanDifference(const Shot& a, const Shot& b) {
    double d = 0;
    for (size_t i = 0; i < a.px.size(); ++i)
        for (int c = 0; c < 24; c += 8) d += std::abs(int((a.px[i] >> c) & 255) - int((b.px[i] >> c) & 255));
    return d / (3.0 * double(a.px.size()));
}

TEST(DemoTour, VisitsEveryRoomAndSavesADistinctPictureOfEach) {
    const std::string game = Generate("game");
    const std::string documents = fs::absolute("demo_tour/documents").string();
    fs::remove_all(documents);
    fs::create_directories(documents);
    EngineRunOptions options;
    options.args = "-tour";
    options.env["XDG_DOCUMENTS_DIR"] = documents;
    options.timeout_seconds = 240;
    options.prepare_root = [&](const std::string& root) {
        // main.lua, written first, stays.
        fs::copy(game, root, fs::copy_options::recursive | fs::copy_options::skip_existing);
    };
    const EngineRun run = RunEngineWith(quild_test::ReadFile(game + "/main.lua"), options);
    const std::string log = quild_test::ReadFile(documents + "/Quorvane/log.txt");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(LogLinesStartingWith(log, "[ERROR]"), "") << log;
    EXPECT_EQ(LogLinesStartingWith(log, "[NOT FOUND]"), "") << log;
    // The statue's mesh file reads without complaint.
    EXPECT_NE(log.find("[MESH] : data/meshes/statue"), std::string::npos) << log;
    EXPECT_EQ(log.find("statue.x"), std::string::npos) << log;
    EXPECT_NE(log.find("[QUIT]"), std::string::npos) << log;

    const char* names[] = {"tour_01_title",    "tour_02_hall",     "tour_03_hall",
                           "tour_04_hall",     "tour_05_corridor", "tour_06_corridor",
                           "tour_07_corridor", "tour_08_gallery",  "tour_09_gallery"};
    std::vector<Shot> shots;
    for (const char* name : names) {
        ImageData image;
        const std::string path = documents + "/Quorvane/" + name + ".jpg";
        ASSERT_TRUE(LoadJpeg(image, path.c_str())) << path << "\n" << log;
        ASSERT_EQ(image.bits, uint32_t(kImageRgb));
        Shot s{name, {}, int(image.width), int(image.height)};
        EXPECT_EQ(s.w, 1024);
        EXPECT_EQ(s.h, 768);
        for (size_t i = 0; i < size_t(s.w) * s.h; ++i)
            s.px.push_back(uint32_t(image.pixels[i * 3]) << 16 | uint32_t(image.pixels[i * 3 + 1]) << 8 |
                           image.pixels[i * 3 + 2]);
        render_test::SaveFramePng(s.px, s.w, s.h, name);
        // Not blank: a painted room has light and shade all over.
        EXPECT_GT(Spread(s), 12.0) << name;
        shots.push_back(std::move(s));
    }
    for (size_t i = 0; i < shots.size(); ++i)
        for (size_t j = i + 1; j < shots.size(); ++j)
            // JPEG noise between equal frames stays below 1; the same view
            // with the rushing blur differs by about 6.
            EXPECT_GT(MeanDifference(shots[i], shots[j]), 3.0) << shots[i].name << " and " << shots[j].name;
}

// Every room saved with the editor's save comes back as it was, pixel for
// pixel: the first run edits two rooms (the title's page moves, the hall's
// moon is hidden), saves every room when the tour arrives there and takes
// the tour's pictures losslessly; the second run starts again from the
// saved files and takes them again. A picture the second tour cannot write
// (a folder in its place) ends that tour with exit status 1.
TEST(DemoTour, SavedRoomsComeBackAsTheyWere) {
    const std::string game = Generate("saved");
    const std::string main_lua = quild_test::ReadFile(game + "/main.lua") + "TOUR_PICTURES = \"tga\"\n";
    // Both runs play in the game's own folder, where the first one saves.
    auto tour = [&](const std::string& documents, const std::string& extra) {
        EngineRunOptions options;
        options.args = "-tour";
        options.root = game;
        options.env["XDG_DOCUMENTS_DIR"] = documents;
        options.timeout_seconds = 240;
        return RunEngineWith(main_lua + extra, options);
    };
    const std::string before = fs::absolute("demo_tour/saved_before").string();
    const std::string after = fs::absolute("demo_tour/saved_after").string();
    fs::remove_all(before);
    fs::remove_all(after);
    fs::create_directories(after + "/Quorvane/tour_03_hall.tga/kept");
    const std::string generated_title = quild_test::ReadFile(game + "/stages/title/data.lua");
    const EngineRun first = tour(before, R"lua(
Edits = {
  title = function() ge_setproperty(ge_getsceneobject("page", "cover"), "x", 24) end,
  hall = function() ge_setproperty(ge_getsceneobject("fx", "moon"), "visible", false) end,
}
SavedIn = {}
local Step = TourStep
function TourStep()
  local stop = TourStops[Tour.index]
  if Tour.wait == 0 and Tour.stage == "go" and stop and Node == stop[1] and not SavedIn[Node] then
    SavedIn[Node] = true
    if Edits[Node] then Edits[Node]() end
    scene_save()
  end
  Step()
end
)lua");
    const std::string first_log = quild_test::ReadFile(before + "/Quorvane/log.txt");
    ASSERT_EQ(first.exit_code, 0) << first.output;
    EXPECT_EQ(LogLinesStartingWith(first_log, "[ERROR]"), "") << first_log;
    const std::string title = quild_test::ReadFile(game + "/stages/title/data.lua");
    EXPECT_NE(title, generated_title);
    EXPECT_NE(title.find("x=24,"), std::string::npos) << title;

    const EngineRun second = tour(after, "");
    EXPECT_EQ(second.exit_code, 1) << second.output;
    EXPECT_NE(second.output.find("[ERROR] - TOUR: could not write " + after + "/Quorvane/tour_03_hall.tga"),
              std::string::npos)
        << second.output;
    const std::string second_log = quild_test::ReadFile(after + "/Quorvane/log.txt");
    for (const char* name : {"tour_01_title", "tour_02_hall", "tour_04_hall", "tour_05_corridor", "tour_06_corridor",
                             "tour_07_corridor", "tour_08_gallery", "tour_09_gallery"}) {
        const std::string a = quild_test::ReadFile(before + "/Quorvane/" + name + ".tga");
        const std::string b = quild_test::ReadFile(after + "/Quorvane/" + name + ".tga");
        ASSERT_EQ(a.size(), 18u + 1024u * 768u * 3u) << name << "\n" << first_log;
        ASSERT_EQ(b.size(), a.size()) << name << "\n" << second_log;
        size_t differing = 0;
        for (size_t i = 18; i < a.size(); i += 3) differing += a.compare(i, 3, b, i, 3) != 0;
        EXPECT_EQ(differing, 0u) << name << " differs after the save and a new start";
    }
}

// In the running game, the pointer in the middle of the hall's view is over
// the door (the map and the faces agree), and in the corridor it is over
// the far arch; the hovered hotspot's cursor is the game's door icon.
TEST(DemoTour, PointerAheadIsOverEachRoomsWayOn) {
    const std::string game = Generate("pointer");
    EngineRunOptions options;
    options.prepare_root = [&](const std::string& root) {
        // main.lua, written first, stays.
        fs::copy(game, root, fs::copy_options::recursive | fs::copy_options::skip_existing);
    };
    const EngineRun run = RunEngineWith(quild_test::ReadFile(game + "/main.lua") + R"lua(
function trace(s) local f = io.open("trace.txt", "a"); f:write(s .. "\n"); f:close() end
function OnGameMouseEnter(h)
  trace(Node .. ": " .. ge_getproperty(h, "name") .. " " .. tostring(ge_getproperty(h, "cursor")))
end
frame = 0
function OnGameUpdate()
  frame = frame + 1
  if frame == 2 then ge_switchscene("hall") end
  if frame == 4 then ge_look(0, 0) ge_setmouse(512, 384) end
  if frame == 8 then ge_switchscene("corridor") end
  if frame == 10 then ge_look(0, 0) ge_setmouse(500, 380) ge_setmouse(512, 384) end
  if frame == 14 then quit() end
end
)lua",
                                       options);
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "hall: door data/icons/door\ncorridor: onward data/icons/door\n") << run.output;
}

// The editor bar tells of a save in the room that was saved, while the
// editor stays open: a save just before the editor is closed is not told
// when the editor opens again in the next room.
TEST(DemoTour, EditorBarTellsASaveOnlyWhereItWasMade) {
    const std::string game = Generate("editorbar");
    EngineRunOptions options;
    options.prepare_root = [&](const std::string& root) {
        fs::copy(game, root, fs::copy_options::recursive | fs::copy_options::skip_existing);
    };
    const EngineRun run = RunEngineWith(quild_test::ReadFile(game + "/main.lua") + R"lua(
function trace(s) local f = io.open("trace.txt", "a"); f:write(s .. "\n"); f:close() end
local draw = ge_drawstring
function ge_drawstring(text, ...)
  if string.find(text, "SAVED", 1, true) then Told = true end
  return draw(text, ...)
end
Keys = {[3] = 112, [4] = 113, [5] = 115, [7] = 112, [12] = 112, [13] = 113}
local update = OnGameUpdate
frame = 0
function OnGameUpdate(dt)
  update(dt)
  frame = frame + 1
  if Keys[frame] then OnGameKeyDown(Keys[frame]) end
  if frame == 7 or frame == 18 then trace(Node .. " " .. tostring(Told == true)) Told = false end
  if frame == 9 then ge_switchscene("hall") end
  if frame == 18 then quit() end
end
)lua",
                                       options);
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "title true\nhall false\n") << run.output;
}

// A hotspot that stands for the gallery's statue is picked while the
// pointer is on the statue, and not while it looks away.
TEST(DemoTour, AHotspotLinkedToTheStatueIsPickedOnIt) {
    const std::string game = Generate("statue");
    EngineRunOptions options;
    options.prepare_root = [&](const std::string& root) {
        fs::copy(game, root, fs::copy_options::recursive | fs::copy_options::skip_existing);
        const std::string path = root + "/stages/gallery/data.lua";
        std::string data = quild_test::ReadFile(path);
        const size_t end = data.rfind("endscene()");
        ASSERT_NE(end, std::string::npos);
        data.insert(end, "hotspot{name = \"statue_hs\", object = \"statue\"}\n");
        quild_test::WriteFile(path, data);
    };
    // The statue stands 160 below and 250 ahead: about 32.6 degrees down.
    const EngineRun run = RunEngineWith(quild_test::ReadFile(game + "/main.lua") + R"lua(
function trace(s) local f = io.open("trace.txt", "a"); f:write(s .. "\n"); f:close() end
local function picked()
  local h = ge_gethotspot()
  trace(h and ge_getproperty(h, "name") or "nil")
end
frame = 0
function OnGameUpdate()
  frame = frame + 1
  if frame == 2 then ge_switchscene("gallery") end
  if frame == 4 then ge_look(0, 32.6) ge_setmouse(500, 380) ge_setmouse(512, 384) end
  if frame == 7 then picked() ge_look(0, -40) end
  if frame == 10 then picked() ge_look(180, 32.6) end
  if frame == 13 then picked() quit() end
end
)lua",
                                       options);
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "statue_hs\nnil\nnil\n") << run.output;
}

}  // namespace
