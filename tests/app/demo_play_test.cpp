// The bundled game played from outside, in this process: the real engine
// runs the generated game frame by frame while the test moves the mouse,
// clicks and types through SDL events as a player would, and reads what the
// window shows. The pointer is drawn where it is, the view turns at the
// screen's edges, every room is entered and left through its exits (the
// corridor's torch crackling while it is shown), the editors open from
// their keys, the movie plays to its end and the QUIT button ends the
// game.
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_window.h"
#include "app/console.h"
#include "app/engine.h"
#include "app/post_effects.h"
#include "app/scene_switch.h"
#include "platform/gpu/direct3d.h"
#include "media/resource_manager.h"
#include "render/d3d_render_device.h"
#include "render/render_fixture.h"
#include "script/lua_host.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace plat::gpu;

namespace {

constexpr int kW = 1024, kH = 768;

// The cells in which two saved hotspot maps (zlib, 360 x 180) differ; -1
// when either does not unpack.
int ChangedCells(const std::string& a, const std::string& b) {
    std::vector<uint8_t> cells[2];
    const std::string* files[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        cells[i].resize(360 * 180);
        uLongf len = uLongf(cells[i].size());
        if (uncompress(cells[i].data(), &len, reinterpret_cast<const Bytef*>(files[i]->data()), uLong(files[i]->size())) !=
                Z_OK ||
            len != cells[i].size())
            return -1;
    }
    int changed = 0;
    for (size_t i = 0; i < cells[0].size(); ++i) changed += cells[0][i] != cells[1][i];
    return changed;
}

// The text as the script editor saves it: every line end CR LF.
std::string CrLf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\r') continue;
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

class DemoPlay : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder of its own for each test: the engine's file layer may
        // keep what it learnt of a folder for the rest of the process.
        const std::string base =
            fs::absolute("demo_play/" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))
                .string();
        fs::remove_all(base);
        fs::create_directories(base + "/documents");
        root_ = base + "/game";
        const std::string cmd = std::string("'") + QUILD_DEMOGEN + "' '" + root_ + "' --faces 128 > /dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        documents_ = base + "/documents";
        const char* old = std::getenv("XDG_DOCUMENTS_DIR");
        old_documents_ = old ? old : "";
        had_documents_ = old != nullptr;
        setenv("XDG_DOCUMENTS_DIR", documents_.c_str(), 1);
        char cwd[4096];
        old_cwd_ = getcwd(cwd, sizeof cwd) ? cwd : ".";
        ASSERT_EQ(chdir(root_.c_str()), 0);
        // The engine goes back to the folder it started in before it writes
        // a scene: the game's folder, as when the program starts there.
        std::memcpy(saved_directory_, g_current_directory, sizeof saved_directory_);
        std::snprintf(g_current_directory, sizeof g_current_directory, "%s", root_.c_str());
        SetCommandLine("");
        e = GetEngine();
        ASSERT_NE(e, nullptr);
        ASSERT_TRUE(e->initSucceeded);
        ASSERT_TRUE(e->displayInitialised);
    }
    void TearDown() override {
        if (CurrentEngine()) CurrentEngine()->Shutdown();
        std::memcpy(g_current_directory, saved_directory_, sizeof saved_directory_);
        if (had_documents_) setenv("XDG_DOCUMENTS_DIR", old_documents_.c_str(), 1);
        else unsetenv("XDG_DOCUMENTS_DIR");
        ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
    }

    // Frames as the game's own loop runs them; false once the game ended.
    bool Tick(int frames = 1) {
        for (int i = 0; i < frames; ++i)
            if (!FrameTick()) return false;
        return true;
    }
    void MoveTo(int x, int y) {
        SDL_Event ev{};
        ev.type = SDL_MOUSEMOTION;
        ev.motion.xrel = x - int(g_mouseX);
        ev.motion.yrel = y - int(g_mouseY);
        SDL_PushEvent(&ev);
        Tick(2);
    }
    void Button(uint8_t button, bool down) {
        SDL_Event ev{};
        ev.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        ev.button.button = button;
        SDL_PushEvent(&ev);
    }
    // A click; the game may end on it, so the frames after it are not asked
    // to succeed.
    void Click() {
        Button(SDL_BUTTON_LEFT, true);
        Tick(2);
        Button(SDL_BUTTON_LEFT, false);
        Tick(2);
    }
    void Key(SDL_Scancode sc, SDL_Keycode sym = 0, bool down = true, bool up = true) {
        SDL_Event ev{};
        ev.key.keysym.scancode = sc;
        ev.key.keysym.sym = sym;
        if (down) {
            ev.type = SDL_KEYDOWN;
            SDL_PushEvent(&ev);
        }
        if (up) {
            ev.type = SDL_KEYUP;
            SDL_PushEvent(&ev);
        }
        Tick(2);
    }
    // A key pressed while another (Ctrl, Shift) is held down.
    void KeyWith(SDL_Scancode held, SDL_Scancode sc) {
        Key(held, 0, true, false);
        Key(sc);
        Key(held, 0, false, true);
    }
    void Type(const char* text) {
        SDL_Event ev{};
        ev.type = SDL_TEXTINPUT;
        SDL_strlcpy(ev.text.text, text, sizeof ev.text.text);
        SDL_PushEvent(&ev);
        Tick(2);
    }
    std::string Lua(const std::string& expression) {
        lua_State* L = ScriptState();
        if (ScriptRun(("PLAY_RESULT = tostring(" + expression + ")").c_str()) != 0) return "<error>";
        lua_getglobal(L, "PLAY_RESULT");
        std::string s = lua_tostring(L, -1) ? lua_tostring(L, -1) : "";
        lua_pop(L, 1);
        return s;
    }
    double Number(const std::string& expression) { return std::atof(Lua(expression).c_str()); }
    double Yaw() { return Number("(ge_getlook())"); }
    double Pitch() { return Number("select(2, ge_getlook())"); }
    // Frames until the game shows a node and no transition runs.
    bool WaitFor(const std::string& node) {
        for (int i = 0; i < 600; ++i) {
            if (!Tick()) return false;
            if (Lua("Node") == node && Lua("ge_istranstionfx()") == "false" && !e->currentVideo) return Tick(3);
        }
        return false;
    }
    // Turns the view as a player does, by holding the pointer in the edge
    // zone, less deep as the view nears the wanted yaw; then the pointer
    // goes back to the middle of the screen.
    void TurnTo(double yaw) {
        for (int i = 0; i < 900; ++i) {
            const double diff = std::remainder(yaw - Yaw(), 360.0);
            const double speed = Number("Look.yaw");
            if (std::fabs(diff) < 1.0 && std::fabs(speed) < 0.002) break;
            const double depth = std::min(1.0, std::fabs(diff) / 30.0) * 72.0;
            const int x = diff > 0 ? int(kW - 1 - 72 + depth) : int(72 - depth);
            SDL_Event ev{};
            ev.type = SDL_MOUSEMOTION;
            ev.motion.xrel = x - int(g_mouseX);
            ev.motion.yrel = kH / 2 - int(g_mouseY);
            SDL_PushEvent(&ev);
            ASSERT_TRUE(Tick());
        }
        MoveTo(kW / 2, kH / 2);
        Tick(30);
        EXPECT_LT(std::fabs(std::remainder(yaw - Yaw(), 360.0)), 2.5) << Lua("Node");
    }
    // What the window shows now, 0xRRGGBB, top row first.
    std::vector<uint32_t> Screen() {
        Device* d = static_cast<D3DRenderDevice*>(g_renderDevice)->GetDevice();
        Surface* mem = nullptr;
        d->CreateOffscreenPlainSurface(kW, kH, fmt::X8R8G8B8, Pool::SystemMem, &mem);
        std::vector<uint32_t> px(size_t(kW) * kH);
        if (!mem) return px;
        EXPECT_EQ(d->GetFrontBufferData(0, mem), kOk);
        LockedRect lr;
        mem->LockRect(&lr, nullptr, 0);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                px[size_t(y) * kW + x] =
                    static_cast<const uint32_t*>(lr.bits)[size_t(y) * (lr.pitch / 4) + x] & 0xFFFFFF;
        mem->UnlockRect();
        mem->Release();
        return px;
    }
    static uint32_t At(const std::vector<uint32_t>& px, int x, int y) { return px[size_t(y) * kW + x]; }

    Engine* e = nullptr;
    std::string root_, documents_, old_cwd_, old_documents_;
    bool had_documents_ = false;
    char saved_directory_[sizeof g_current_directory] = {};
};

TEST_F(DemoPlay, PlayedThroughWithMouseAndKeys) {
    ASSERT_TRUE(WaitFor("title"));

    // The arrow, tip at the pointer, follows it over the title page; the
    // controls are on the page.
    MoveTo(200, 300);
    const std::vector<uint32_t> a = Screen();
    MoveTo(300, 200);
    const std::vector<uint32_t> b = Screen();
    render_test::SaveFramePng(a, kW, kH, "demo_play_title_arrow");
    EXPECT_EQ(At(a, 202, 310), 0xFFFFFFu);  // inside the arrow
    EXPECT_EQ(At(b, 302, 210), 0xFFFFFFu);
    EXPECT_NE(At(b, 202, 310), 0xFFFFFFu);  // the page where the arrow was
    EXPECT_NE(At(a, 302, 210), 0xFFFFFFu);
    // Over ENTER the pointer is the door, centred on it.
    MoveTo(512, 572);
    const std::vector<uint32_t> door = Screen();
    render_test::SaveFramePng(door, kW, kH, "demo_play_title_door");
    EXPECT_EQ(At(door, 512 - 16 + 15, 572 - 16 + 10), 0xF0C060u);
    EXPECT_EQ(At(door, 512 - 16 + 20, 572 - 16 + 16), 0x000000u);  // the knob

    // Into the hall; the pointer at the right edge turns the view right,
    // in the middle it stops; the pitch keeps within its range.
    Click();
    ASSERT_TRUE(WaitFor("hall"));
    const double yaw0 = Yaw();
    // The arrow shows while the pointer turns the view at the right or
    // bottom edge (it would lie off the screen with its tip there).
    auto arrow_near = [&](int x0, int y0) {
        const std::vector<uint32_t> px = Screen();
        int white = 0;
        for (int y = y0; y < y0 + 24 && y < kH; ++y)
            for (int x = x0; x < x0 + 24 && x < kW; ++x) white += At(px, x, y) == 0xFFFFFFu;
        return white;
    };
    MoveTo(kW - 1, kH / 2);
    EXPECT_GT(arrow_near(kW - 24, kH / 2 - 4), 20);
    Tick(20);
    const double turned = std::remainder(Yaw() - yaw0, 360.0);
    EXPECT_GT(turned, 10.0);
    MoveTo(kW / 2, kH / 2);
    Tick(40);
    const double settled = Yaw();
    Tick(10);
    EXPECT_NEAR(Yaw(), settled, 0.01);
    MoveTo(kW / 2, kH - 1);
    EXPECT_GT(arrow_near(kW / 2 - 4, kH - 24), 20);
    Tick(200);
    EXPECT_NEAR(Pitch(), 55.0, 0.01);
    MoveTo(kW / 2, 0);
    Tick(300);
    EXPECT_NEAR(Pitch(), -55.0, 0.01);
    MoveTo(kW / 2, kH / 2);
    Tick(30);
    ScriptRun("ge_look(ge_getlook(), 0)");  // back level; the yaw is the player's
    // In a panorama too the pointer is drawn, the door over the way on.
    TurnTo(0);
    EXPECT_EQ(Lua("hs_getname(ge_gethotspot())"), "door");
    const std::vector<uint32_t> hall = Screen();
    render_test::SaveFramePng(hall, kW, kH, "demo_play_hall_door");
    EXPECT_EQ(At(hall, kW / 2 - 16 + 15, kH / 2 - 16 + 10), 0xF0C060u);

    // The clouds drift inside the window on the right wall: the red wall
    // beside the window shows none of their grey-blue, and their picture
    // wraps without a seam (its last column runs on into its first).
    TurnTo(90);
    const std::vector<uint32_t> window = Screen();
    render_test::SaveFramePng(window, kW, kH, "demo_play_hall_window");
    int cloudy = 0;
    for (int y = 262; y < 480; ++y)
        for (int x = 0; x < kW; x += 2) {
            if (x >= 320 && x < 706) continue;  // the window and its frame
            const uint32_t c = At(window, x, y);
            cloudy += 2 * ((c >> 8) & 255) > (c >> 16);  // greener than the red wall's half
        }
    EXPECT_EQ(cloudy, 0);
    const std::string clouds = quild_test::ReadFile("data/fx/clouds.tga");
    ASSERT_EQ(clouds.size(), 18u + 256 * 128 * 4);
    auto alpha = [&](int x, int y) { return int(uint8_t(clouds[18 + (size_t(y) * 256 + x) * 4 + 3])); };
    long seam = 0, steps = 0;
    for (int y = 0; y < 128; ++y) {
        seam += std::abs(alpha(255, y) - alpha(0, y));
        for (int x = 1; x < 256; ++x) steps += std::abs(alpha(x, y) - alpha(x - 1, y));
    }
    EXPECT_LT(seam, 4 * steps / 255) << "the clouds' edges do not meet";

    // Every exit of every room, each reached by turning the view.
    TurnTo(180);
    EXPECT_EQ(Lua("hs_getname(ge_gethotspot())"), "arch");
    Click();
    ASSERT_TRUE(WaitFor("title"));
    MoveTo(512, 572);
    Click();
    // The door clicked while the hall still fades in: nothing happens, and
    // the view is neither left pushed forward nor blurred.
    ASSERT_TRUE(Tick(4));
    MoveTo(kW / 2, kH / 2);
    ASSERT_EQ(Lua("ge_istranstionfx()"), "true");
    Click();
    ASSERT_TRUE(WaitFor("hall"));
    ASSERT_TRUE(Tick(90));
    EXPECT_EQ(Lua("Node"), "hall");
    for (float v : g_walkOffset) EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(e->postFxRequested & kPostRadialBlur, 0u) << "the walk's rush stays on";
    // In from the title the door is ahead, though the hall was left facing its arch.
    EXPECT_LT(std::fabs(std::remainder(Yaw(), 360.0)), 1.0);
    TurnTo(0);
    // The hall has no torch; in the corridor its torch crackles on the left
    // wall, and it falls silent as the walk on to the gallery fades out.
    EXPECT_EQ(Lua("snd_isplaying('data/sounds/fire')"), "false");
    Click();
    ASSERT_TRUE(WaitFor("corridor"));
    EXPECT_EQ(Lua("snd_isplaying('data/sounds/fire')"), "true");
    TurnTo(0);
    EXPECT_EQ(Lua("hs_getname(ge_gethotspot())"), "onward");
    Click();
    ASSERT_TRUE(WaitFor("gallery"));
    EXPECT_EQ(Lua("snd_isplaying('data/sounds/fire')"), "false");
    TurnTo(180);
    EXPECT_EQ(Lua("hs_getname(ge_gethotspot())"), "back");
    Click();
    ASSERT_TRUE(WaitFor("corridor"));
    TurnTo(180);
    EXPECT_EQ(Lua("hs_getname(ge_gethotspot())"), "back");
    Click();
    ASSERT_TRUE(WaitFor("hall"));
    TurnTo(180);
    Click();
    ASSERT_TRUE(WaitFor("title"));

    // ABOUT plays the movie to its end, back on the title page.
    MoveTo(512, 644);
    Click();
    EXPECT_NE(e->currentVideo, nullptr);
    // The title's key panels stay off the movie: none of their text shows.
    ASSERT_TRUE(Tick(10));
    const std::vector<uint32_t> movie = Screen();
    render_test::SaveFramePng(movie, kW, kH, "demo_play_movie");
    int panel_text = 0;
    for (int y = 540; y < 672; ++y)
        for (int x = 8; x < kW - 8; ++x) {
            if (x >= 368 && x < 652) continue;
            const uint32_t c = At(movie, x, y);
            panel_text += std::abs(int(c >> 16) - 0xF4) < 12 && std::abs(int((c >> 8) & 255) - 0xE4) < 12 &&
                          std::abs(int(c & 255) - 0xC0) < 12;
        }
    EXPECT_EQ(panel_text, 0);
    int frames = 10;
    for (; e->currentVideo && frames < 3000; ++frames) ASSERT_TRUE(Tick());
    EXPECT_EQ(e->currentVideo, nullptr);
    EXPECT_GT(frames, 20);
    EXPECT_EQ(Lua("Node"), "title");

    // QUIT ends the game.
    MoveTo(512, 716);
    Button(SDL_BUTTON_LEFT, true);
    Tick(2);
    Button(SDL_BUTTON_LEFT, false);
    bool ended = false;
    for (int i = 0; i < 10 && !ended; ++i) ended = !FrameTick();
    EXPECT_TRUE(ended);
    const std::string log = quild_test::ReadFile(documents_ + "/Quorvane/log.txt");
    EXPECT_EQ(log.find("[ERROR]"), std::string::npos) << log;
    EXPECT_EQ(log.find("[NOT FOUND]"), std::string::npos) << log;
}

}  // namespace

namespace {

// The tools from their keys: F1 the scene editor, F2 through the node's
// objects to a map hotspot, whose hotspot map shows in its palette colours
// over the faces (in the hall) and takes the brush (in the corridor); F3 places a
// flare with the pointer; F4 saves the node, and the saved file loads
// again; F5 opens the node's script, takes typing, saves and runs it.
TEST_F(DemoPlay, EditorsFromTheirKeys) {
    ASSERT_TRUE(WaitFor("title"));
    ScriptRun("ge_switchscene('hall')");
    ASSERT_TRUE(WaitFor("hall"));
    TurnTo(0);
    const std::vector<uint32_t> plain = Screen();

    Key(SDL_SCANCODE_F1);
    EXPECT_EQ(Lua("geteditormode()"), "2");
    for (int i = 0; i < 12 && Lua("hs_getname(ge_geteditorobject())") != "door"; ++i) Key(SDL_SCANCODE_F2);
    ASSERT_EQ(Lua("hs_getname(ge_geteditorobject())"), "door");
    Tick(2);
    const std::vector<uint32_t> map = Screen();
    render_test::SaveFramePng(map, kW, kH, "demo_play_hotspot_map");
    // The door's cells (from 11 degrees above the horizon to 24 below)
    // take their palette colour over the faces: the strongly changed
    // pixels lie around the middle, mostly below it.
    auto far = [](uint32_t a, uint32_t b) {
        int d = 0;
        for (int c = 0; c < 24; c += 8) d += std::abs(int((a >> c) & 255) - int((b >> c) & 255));
        return d > 120;
    };
    int tinted = 0, dark = 0;
    double sx = 0, sy = 0;
    for (int y = 0; y < 690; ++y)
        for (int x = 0; x < kW; ++x) {
            dark += At(map, x, y) == 0;
            if (!far(At(map, x, y), At(plain, x, y))) continue;
            ++tinted, sx += x, sy += y;
        }
    EXPECT_LT(dark, kW * kH / 2) << "the view went black";
    ASSERT_GT(tinted, 10000);
    EXPECT_NEAR(sx / tinted, kW / 2, 40);
    EXPECT_GT(sy / tinted, kH / 2 + 30);
    Key(SDL_SCANCODE_F1);

    ScriptRun("ge_switchscene('corridor')");
    ASSERT_TRUE(WaitFor("corridor"));
    TurnTo(0);
    Key(SDL_SCANCODE_F1);
    for (int i = 0; i < 12 && Lua("hs_getname(ge_geteditorobject())") != "onward"; ++i) Key(SDL_SCANCODE_F2);
    ASSERT_EQ(Lua("hs_getname(ge_geteditorobject())"), "onward");

    // Ctrl + left button paints the map under the pointer (value 1), the
    // arrows pick other values; F4 writes the map and the scene.
    const std::string map_before = quild_test::ReadFile("stages/corridor/hotspots.bin");
    MoveTo(kW / 2 + 200, kH / 2);  // a bare wall to the right
    EXPECT_EQ(Lua("ge_gethotspotat(ge_getae())"), "nil");
    Key(SDL_SCANCODE_LCTRL, 0, true, false);
    Button(SDL_BUTTON_LEFT, true);
    Tick(3);
    Button(SDL_BUTTON_LEFT, false);
    Key(SDL_SCANCODE_LCTRL, 0, false, true);
    EXPECT_EQ(Lua("hs_getname(ge_gethotspotat(ge_getae()))"), "onward");
    Key(SDL_SCANCODE_F4);
    const std::string map_small = quild_test::ReadFile("stages/corridor/hotspots.bin");
    // The brush starts at its smallest, the one cell under the pointer;
    // Up three times makes it 7 x 7 cells.
    EXPECT_EQ(ChangedCells(map_before, map_small), 1);
    for (int i = 0; i < 3; ++i) Key(SDL_SCANCODE_UP);
    MoveTo(kW / 2 + 200, kH / 2 + 120);  // lower on the same wall
    Key(SDL_SCANCODE_LCTRL, 0, true, false);
    Button(SDL_BUTTON_LEFT, true);
    Tick(3);
    Button(SDL_BUTTON_LEFT, false);
    Key(SDL_SCANCODE_LCTRL, 0, false, true);
    Key(SDL_SCANCODE_F4);
    EXPECT_EQ(ChangedCells(map_small, quild_test::ReadFile("stages/corridor/hotspots.bin")), 49);

    // F3: the selected flare follows the pointer until a click.
    for (int i = 0; i < 12 && Lua("ge_getproperty(ge_geteditorobject(), 'name')") != "arch_glow"; ++i)
        Key(SDL_SCANCODE_F2);
    ASSERT_EQ(Lua("ge_getproperty(ge_geteditorobject(), 'name')"), "arch_glow");
    const double x0 = Number("ge_getproperty(ge_geteditorobject(), 'x')");
    Key(SDL_SCANCODE_F3);
    EXPECT_EQ(Lua("getpositionmode()"), "true");
    MoveTo(kW / 2 - 150, kH / 2);
    Click();
    EXPECT_EQ(Lua("getpositionmode()"), "false");
    const double x1 = Number("ge_getproperty(ge_geteditorobject(), 'x')");
    EXPECT_GT(std::fabs(std::remainder(x1 - x0, 360.0)), 5.0);
    Key(SDL_SCANCODE_F4);
    const std::string saved = quild_test::ReadFile("stages/corridor/data.lua");
    EXPECT_NE(saved.find("object{"), std::string::npos) << saved;
    Key(SDL_SCANCODE_F1);
    EXPECT_EQ(Lua("geteditormode()"), "0");

    // The saved node loads again with everything in it, the flare where it
    // was put.
    ScriptRun("scene_reload()");
    Tick(3);
    EXPECT_EQ(Lua("#ge_getsceneobjectlist('fx')"), "2");
    EXPECT_EQ(Lua("#ge_getsceneobjectlist('patch')"), "2");
    EXPECT_NEAR(Number("ge_getproperty(ge_getsceneobject('fx', 'arch_glow'), 'x')"), x1, 0.01);

    // F5: the script in the edit box; typing goes into it; F5 again saves
    // and runs it; the room's clicks still work.
    Key(SDL_SCANCODE_F5);
    ASSERT_NE(Lua("ScriptBox"), "nil");
    // The heading (the file, its keys) ends inside the editor's panel.
    const std::vector<uint32_t> box = Screen();
    int heading_end = 0, heading_beyond = 0;
    for (int y = 12; y < 48; ++y)
        for (int x = 940; x < kW; ++x)
            if (At(box, x, y) == 0xFFE080u) ++(x < 1008 ? heading_end : heading_beyond);
    EXPECT_GT(heading_end, 0);
    EXPECT_EQ(heading_beyond, 0) << "the heading runs past the panel";
    const std::string corridor = quild_test::ReadFile("stages/corridor/script.lua");
    Key(SDL_SCANCODE_HOME);
    Type("EDITED=7");
    Key(SDL_SCANCODE_RETURN);
    Key(SDL_SCANCODE_F5);
    EXPECT_EQ(Lua("ScriptBox"), "nil");
    EXPECT_EQ(Lua("EDITED"), "7");
    const std::string script = quild_test::ReadFile("stages/corridor/script.lua");
    EXPECT_EQ(script, CrLf("EDITED=7\n" + corridor)) << "saved with CR LF line ends";
    EXPECT_EQ(Lua("type(SceneClicks.onward)"), "function");

    // Escape closes the box unsaved.
    Key(SDL_SCANCODE_F5);
    Type("X");
    Key(SDL_SCANCODE_ESCAPE);
    EXPECT_EQ(Lua("ScriptBox"), "nil");
    EXPECT_EQ(quild_test::ReadFile("stages/corridor/script.lua"), script);
    EXPECT_TRUE(Tick());

    const std::string log = quild_test::ReadFile(documents_ + "/Quorvane/log.txt");
    EXPECT_EQ(log.find("[ERROR]"), std::string::npos) << log;
    EXPECT_EQ(log.find("[NOT FOUND]"), std::string::npos) << log;
}

}  // namespace

namespace {

// What a player reads: the title goes in with Enter; the console shows a
// long error whole, wrapped, and keeps its keys (Escape does not end the
// game, the typed line stays); the script editor keeps a script that does
// not compile open with its error under the text, and edits the file it
// names also when a walk changes the room meanwhile.
TEST_F(DemoPlay, ConsoleAndScriptErrorsCanBeRead) {
    ASSERT_TRUE(WaitFor("title"));
    Key(SDL_SCANCODE_RETURN);
    ASSERT_TRUE(WaitFor("hall"));

    // Text input comes in pieces of at most 31 bytes, as SDL sends it.
    auto type_long = [&](const std::string& text) {
        for (size_t i = 0; i < text.size(); i += 24) Type(text.substr(i, 24).c_str());
    };
    Key(SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE);
    ASSERT_EQ(Lua("ge_consoleenabled()"), "true");
    type_long("error('this error runs on far past the right edge of the console, and its end must be read: THE END')");
    Key(SDL_SCANCODE_RETURN);
    Tick(2);
    const std::vector<uint32_t> console = Screen();
    render_test::SaveFramePng(console, kW, kH, "demo_play_console_error");
    // The error is red: its rows are bands of red text, none of it past
    // the text's right margin.
    auto red = [](uint32_t c) { return (c >> 16) > 0xC0 && ((c >> 8) & 255) < 0x50 && (c & 255) < 0x50; };
    int bands = 0, beyond = 0;
    bool in_band = false;
    for (int y = 0; y < kH / 5 - 24; ++y) {
        bool any = false;
        for (int x = 0; x < kW; ++x)
            if (red(At(console, x, y))) any = true, beyond += x >= kW - 10;
        bands += any && !in_band;
        in_band = any;
    }
    EXPECT_GE(bands, 2) << "the error is not wrapped";
    EXPECT_EQ(beyond, 0);
    // Keys the console does not take reach the game, which leaves them:
    // Escape neither ends the game nor loses the line, F5 opens nothing.
    // The key that opens the console types ~ with Shift, and the console
    // stays open for it.
    Key(SDL_SCANCODE_LSHIFT, 0, true, false);
    Key(SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE);
    Type("~");
    Key(SDL_SCANCODE_LSHIFT, 0, false, true);
    EXPECT_EQ(Lua("ge_consoleenabled()"), "true");
    Key(SDL_SCANCODE_BACKSPACE);
    Type("x = 1");
    Key(SDL_SCANCODE_ESCAPE);
    Key(SDL_SCANCODE_F5);
    ASSERT_TRUE(Tick());
    EXPECT_EQ(std::string(g_console->Line()), "x = 1");
    EXPECT_EQ(Lua("ge_consoleenabled()"), "true");
    EXPECT_EQ(Lua("ScriptBox"), "nil");
    Key(SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE);
    EXPECT_EQ(Lua("ge_consoleenabled()"), "false");

    // F5, a line that is no Lua at the top, F5: the editor stays open with
    // the error under the text; the file is saved as typed.
    const std::string hall = quild_test::ReadFile("stages/hall/script.lua");
    Key(SDL_SCANCODE_F5);
    ASSERT_NE(Lua("ScriptBox"), "nil");
    Type("this is not lua");
    Key(SDL_SCANCODE_RETURN);
    Key(SDL_SCANCODE_F5);
    EXPECT_NE(Lua("ScriptBox"), "nil") << "the editor closed on an error";
    EXPECT_EQ(quild_test::ReadFile("stages/hall/script.lua"), CrLf("this is not lua\n" + hall));
    const std::vector<uint32_t> error = Screen();
    render_test::SaveFramePng(error, kW, kH, "demo_play_script_error");
    auto error_ink = [&](const std::vector<uint32_t>& px) {
        int n = 0;
        for (int y = 680; y < 752; ++y)
            for (int x = 32; x < kW - 32; ++x) {
                const uint32_t c = At(px, x, y);
                n += (c >> 16) > 0xE0 && ((c >> 8) & 255) > 0x50 && ((c >> 8) & 255) < 0x90 && (c & 255) < 0x80;
            }
        return n;
    };
    EXPECT_GT(error_ink(error), 100) << "no error under the text";
    // The text's page: every colour of the syntax colouring reads on it,
    // at a contrast of 4.5 to 1 or more.
    auto luminance = [](uint32_t c) {
        double l = 0;
        for (double k : {0.0722, 0.7152, 0.2126}) {
            const double v = (c & 255) / 255.0;
            l += k * (v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
            c >>= 8;
        }
        return l + 0.05;
    };
    const uint32_t page = At(error, 900, 600);
    for (uint32_t ink : {0x800000u, 0x008000u, 0x804080u, 0x4040FFu, 0x202080u}) {
        const double a = luminance(ink), b = luminance(page);
        EXPECT_GE(std::max(a, b) / std::min(a, b), 4.5) << std::hex << ink << " on " << page;
    }
    EXPECT_EQ(Lua("ScriptEditorTitle()"), "SCRIPT stages/hall/script.lua");
    EXPECT_NE(Lua("ScriptError[1]:find('stages/hall/script.lua:1:', 1, true)"), "nil") << Lua("ScriptError[1]");
    // The line mended (Up, Home, Shift+End selects it, Delete), a line
    // added at the very end (Page Down to the last line, End): F5 runs it
    // and closes.
    Key(SDL_SCANCODE_UP);
    Key(SDL_SCANCODE_HOME);
    KeyWith(SDL_SCANCODE_LSHIFT, SDL_SCANCODE_END);
    Key(SDL_SCANCODE_DELETE);
    for (size_t lines = 0; lines <= size_t(std::count(hall.begin(), hall.end(), '\n')); lines += 10)
        Key(SDL_SCANCODE_PAGEDOWN);
    Key(SDL_SCANCODE_END);
    Type("ENDED=12");
    Key(SDL_SCANCODE_BACKSPACE);
    Key(SDL_SCANCODE_F5);
    EXPECT_EQ(Lua("ScriptBox"), "nil");
    EXPECT_EQ(Lua("ENDED"), "1");
    EXPECT_EQ(quild_test::ReadFile("stages/hall/script.lua"), CrLf("\n" + hall + "ENDED=1"));
    EXPECT_EQ(error_ink(Screen()), 0);

    // F5 during a walk: the editor edits, names and saves one file, the
    // one it opened, and runs it only in its own room.
    ScriptRun("SceneClicks.door()");
    ASSERT_TRUE(Tick(3));
    ASSERT_EQ(Lua("ge_istranstionfx()"), "true");
    Key(SDL_SCANCODE_F5);
    const std::string file = Lua("ScriptFile");
    ASSERT_NE(file, "nil");
    const std::string before = quild_test::ReadFile(file);
    Type("WALKED=1");
    Key(SDL_SCANCODE_RETURN);
    ASSERT_TRUE(WaitFor("corridor"));
    EXPECT_EQ(Lua("ScriptFile"), file);
    Key(SDL_SCANCODE_F5);
    EXPECT_EQ(Lua("ScriptBox"), "nil");
    EXPECT_EQ(quild_test::ReadFile(file), CrLf("WALKED=1\n" + before));
    EXPECT_EQ(Lua("WALKED"), file == "stages/corridor/script.lua" ? "1" : "nil");
    EXPECT_EQ(Lua("type(SceneClicks.onward)"), "function");  // the corridor's clicks stand
    EXPECT_TRUE(Tick());

    // A name too long for the top row loses the word SCRIPT first.
    ScriptRun("ge_switchscene('gallery')");
    ASSERT_TRUE(WaitFor("gallery"));
    Key(SDL_SCANCODE_F5);
    ASSERT_NE(Lua("ScriptBox"), "nil");
    EXPECT_EQ(Lua("ScriptEditorTitle()"), "stages/gallery/script.lua");
    Key(SDL_SCANCODE_ESCAPE);
    EXPECT_EQ(Lua("ScriptBox"), "nil");
}

}  // namespace
