// End-to-end through the executable: the order of the per-frame script
// calls, the drawing order seen in a saved screenshot, hover events at a
// screen larger than the virtual one, screenshots and videos.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../../tools/theora_frames.h"
#include "../../tools/vorbis_tone.h"
#include "engine_run.h"
#include "support/test_support.h"

namespace {

// A data root under the build folder filled by the scene generator; the
// scene "book" has three 64 x 48 pages (red, green, blue).
std::string RenderRoot(const std::string& name, const std::string& generator_args = "") {
    const std::string root = quild_test::BuildOutputPath("scene_roots/render_" + name);
    EXPECT_EQ(RunSceneGen(root, "palette pages book 3 64 48 " + generator_args), 0) << generator_args;
    return root;
}

// main.lua: a display of w x h at 50 Hz; `body` runs in OnGameUpdate with
// the frame number in `frame`; copy(name) brings a file of the per-user
// folder into the data root.
std::string Game(int w, int h, const std::string& setup, const std::string& body) {
    return R"lua(
function trace(s) local f = io.open("trace.txt", "a"); f:write(s .. "\n"); f:close() end
function copy(name)
  local f = io.open(os.getenv("HOME") .. "/Documents/Quorvane/" .. name, "rb")
  if not f then trace("missing " .. name) return end
  local data = f:read("*a") f:close()
  local o = io.open(name, "wb") o:write(data) o:close()
end
DIR_STAGES = "stages"
Display = {fov = 60, aspect = 1.3333, useshaders = false}
Gameplay = {dissolvefxtime = 0, pagefxtime = 0, walkfxtime = 0, fadefxtime = 0}
ge_resetdisplay()lua" + std::to_string(w) + ", " + std::to_string(h) + R"lua(, 32, false, 0, "Render", 50)
)lua" + setup + R"lua(
frame = 0
function OnGameUpdate(dt)
  frame = frame + 1
)lua" + body + R"lua(
  if frame > 300 then trace("timeout") quit() end
end
)lua";
}

// One pixel (0xRRGGBB) of a 24- or 32-bit TGA, and its header fields.
struct Tga {
    std::string bytes;
    int Width() const { return uint8_t(bytes[12]) | uint8_t(bytes[13]) << 8; }
    int Height() const { return uint8_t(bytes[14]) | uint8_t(bytes[15]) << 8; }
    int Depth() const { return uint8_t(bytes[16]); }
    uint32_t At(int x, int y) const {
        const bool top_down = (uint8_t(bytes[17]) & 0x20) != 0;
        const int row = top_down ? y : Height() - 1 - y;
        const size_t at = 18 + uint8_t(bytes[0]) + (size_t(row) * Width() + x) * size_t(Depth() / 8);
        return uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 1])) << 8 | uint8_t(bytes[at]);
    }
};

// Channels within a tolerance of the expected colour.
bool Near(uint32_t got, uint32_t want) {
    for (int shift : {0, 8, 16})
        if (std::abs(int(got >> shift & 255) - int(want >> shift & 255)) > 24) return false;
    return true;
}

const char* kTraceHandlers = R"lua(
function On2DSceneUpdate(dt) if tracing then trace("2D " .. dt) end end
function On3DSceneUpdate(dt) if tracing then trace("3D " .. dt) end end
function OnSceneAfterRender(c) if tracing then trace("after " .. c) end end
function OnSceneRender(c) if tracing then trace("render " .. c) end end
function OnSceneUpdate(dt) if tracing then trace("scene update " .. dt) end end
)lua";

TEST(SceneRenderRun, PerFrameCallsInAPageSceneAndInASceneWithoutViewType) {
    std::string root = RenderRoot("order", "data empty 'x = 1'");
    quild_test::WriteFile(root + "/stages/book/script.lua", kTraceHandlers);
    quild_test::WriteFile(root + "/stages/empty/script.lua", kTraceHandlers);
    EngineRun run = RunEngineIn(root, Game(320, 240, R"lua(
function OnGameRender() if tracing then trace("game render") end end
)lua", R"lua(
  if tracing then trace("game update") tracing = false end
  if frame == 1 then ge_setscene("book") end
  if frame == 3 then tracing = true end
  if frame == 4 then ge_setscene("empty") end
  if frame == 6 then tracing = true end
  if frame == 7 then ge_saveshot("flat.tga", 90, 0, 0) end
  if frame == 8 then copy("flat.tga") quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    EXPECT_EQ(run.trace,
              "2D 20\nafter ffffffff\nrender ffffffff\ngame render\nscene update 20\ngame update\n"
              // View type 0: a flat screen and no scene drawing handlers.
              "game render\nscene update 20\ngame update\n");
    Tga shot{quild_test::ReadFile(root + "/flat.tga")};
    ASSERT_GT(shot.bytes.size(), 18u) << run.log;
    EXPECT_EQ(shot.Width(), 320);
    EXPECT_EQ(shot.Depth(), 24);
    EXPECT_TRUE(Near(shot.At(160, 120), 0x208020)) << std::hex << shot.At(160, 120);
}

TEST(SceneRenderRun, ScreenshotShowsTheRenderOrder) {
    // h1 (green, order 5) over h2 (blue, order 4); h3 (blue, order 1) under
    // the red page (order 2 by default).
    std::string root = RenderRoot(
        "shot", "data book 'hotspot{name=\"h1\",rect=\"100,100,200,200\",bgimage=\"stages/book/page2\",order=5}' "
                "data book 'hotspot{name=\"h2\",rect=\"150,150,200,200\",bgimage=\"stages/book/page3\",order=4}' "
                "data book 'hotspot{name=\"h3\",rect=\"0,0,60,60\",bgimage=\"stages/book/page3\",order=1}'");
    EngineRun run = RunEngineIn(root, Game(1024, 768, "", R"lua(
  if frame == 1 then ge_setscene("book") end
  if frame == 3 then ge_saveshot("order.tga", 90, 0, 0) end
  if frame == 5 then copy("order.tga") quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    EXPECT_NE(run.log.find("[SAVESHOT] : order.tga"), std::string::npos) << run.log;
    Tga shot{quild_test::ReadFile(root + "/order.tga")};
    ASSERT_GT(shot.bytes.size(), 18u);
    ASSERT_EQ(shot.Width(), 1024);
    ASSERT_EQ(shot.Height(), 768);
    EXPECT_TRUE(Near(shot.At(280, 280), 0x30C030)) << std::hex << shot.At(280, 280);
    EXPECT_TRUE(Near(shot.At(330, 330), 0x3030C0)) << std::hex << shot.At(330, 330);
    EXPECT_TRUE(Near(shot.At(10, 40), 0xC03030)) << std::hex << shot.At(10, 40);
    EXPECT_TRUE(Near(shot.At(700, 600), 0)) << std::hex << shot.At(700, 600);
}

TEST(SceneRenderRun, HoverEventsOnALargerScreen) {
    std::string root = RenderRoot(
        "hover",
        "data book 'DOOR = hotspot{name=\"door\",rect=\"400,300,100,100\"}' "
        "data book 'FRAME = hotspot{name=\"frame\",rect=\"0,0,300,300\",visible=false}' "
        "data book 'KNOB = hotspot{name=\"knob\",rect=\"10,10,50,50\",parent=\"frame\"}'");
    quild_test::WriteFile(root + "/stages/book/script.lua", R"lua(
function door_MouseMove(x, y, b) trace("door move " .. x .. "," .. y .. "," .. b) end
function door_MouseEnter(s) trace(s .. " enter") end
function door_MouseLeave(s) trace(s .. " leave") end
function knob_MouseEnter(s) trace(s .. " enter") end
)lua");
    // A global hotspot, made before any scene loads, scales with the screen:
    // (610, 490) is (488, 392) inside it and inside the door.
    EngineRun run = RunEngineIn(root, Game(1280, 960, R"lua(
BAR = hotspot{name="bar", rect="480,385,20,20"}
local function name(h) return h == DOOR and "door" or h == BAR and "bar" or h == KNOB and "knob" or "?" end
function OnGameMouseEnter(h) trace("G enter " .. name(h)) end
function OnGameMouseLeave(h) trace("G leave " .. name(h)) end
)lua", R"lua(
  if frame == 1 then ge_setscene("book") end
  if frame == 2 then ge_setmouse(562, 437) end
  if frame == 4 then ge_setmouse(610, 490) end
  if frame == 6 then ge_setmouse(40, 40) end
  if frame == 8 then quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    EXPECT_EQ(run.trace,
              // (562, 437) on 1280 x 960 is (449, 349): 49, 49 into the door.
              "door move 49,49,0\nG enter door\ndoor enter\ndoor move 49,49,0\n"
              // The global hotspot wins over the door under it.
              "G leave door\ndoor leave\nG enter bar\n"
              // The knob's parent is hidden: nothing is entered.
              "G leave bar\n");
}

TEST(SceneRenderRun, ScreenshotsFormatsAndRefusals) {
    std::string root = RenderRoot("formats");
    // An 800 x 600 screen holds less than the 1024 x 768 of a page scene:
    // the picture is cut to what the target holds.
    EngineRun run = RunEngineIn(root, Game(800, 600, "", R"lua(
  if frame == 1 then ge_setscene("book") end
  if frame == 3 then ge_saveshot("shot", 80, 0, 0) end
  if frame == 5 then ge_saveshot("small.tga", 80, 0, 0) end
  if frame == 7 then ge_saveshot("pic.bmp", 80, 0, 0) end
  if frame == 9 then ge_saveshot("zero.jpg", 0, 0, 0) end
  if frame == 11 then copy("shot.jpg") copy("small.tga") copy("pic.bmp") copy("zero.jpg") quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    const std::string jpg = quild_test::ReadFile(root + "/shot.jpg");
    ASSERT_GT(jpg.size(), 4u) << run.log;
    EXPECT_EQ(uint8_t(jpg[0]), 0xFF);
    EXPECT_EQ(uint8_t(jpg[1]), 0xD8);
    Tga tga{quild_test::ReadFile(root + "/small.tga")};
    ASSERT_GT(tga.bytes.size(), 18u);
    EXPECT_EQ(tga.Width(), 800);
    EXPECT_EQ(tga.Height(), 600);
    EXPECT_EQ(tga.Depth(), 24);
    EXPECT_EQ(tga.bytes.size(), 18u + uint8_t(tga.bytes[0]) + 800u * 600u * 3u);
    EXPECT_NE(run.log.find("[SAVESHOT] : shot.jpg"), std::string::npos);
    EXPECT_NE(run.log.find("[SAVESHOT] Unsupported Format: bmp"), std::string::npos);
    EXPECT_EQ(run.trace, "missing pic.bmp\nmissing zero.jpg\n");
}

TEST(SceneRenderRun, VideosPlayToTheirCloseOrAreRefused) {
    std::string root = RenderRoot("video");
    std::filesystem::copy_file(std::string(QUILD_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_theora/flat_16.ogg",
                               root + "/movie.ogg");
    quild_test::WriteFile(root + "/broken.ogg", std::string(5000, 'x'));
    const auto voice = vorbis_tone::Tone(1, 22050, 0.5, 440.0);  // sound and no picture
    quild_test::WriteFile(root + "/voice.ogg", std::string(voice.begin(), voice.end()));
    quild_test::WriteFile(root + "/track.ogg", std::string(voice.begin(), voice.end()));
    quild_test::WriteFile(root + "/hiss.ogg", std::string(5000, 'h'));
    EngineRun run = RunEngineIn(root, Game(320, 240, R"lua(
video{name="intro", video="movie", buffered=true}
video{name="voice", video="voice", sound="track"}
video{name="mute", video="movie", sound="hiss"}
-- A rectangle at the edge of the int range: its borders are drawn off screen.
video{name="streamed", video="movie", rect="2147483647,2147483647,2147483647,2147483647"}
video{name="bad", video="broken", buffered=true}
video{name="gone", video="nofile"}
-- The closing handler may start the next video at once.
function OnGameVideoClosed(name)
  trace("closed " .. name .. " at " .. frame)
  closed = (closed or 0) + 1
  if closed == 1 then ge_playvideo("streamed", true)
  elseif closed == 2 then ge_task("ge_playvideo('voice');trace('after voice at ' .. frame)")
  elseif closed == 3 then ge_playvideo("mute")
  else last = frame end
end
)lua", R"lua(
  if frame == 1 then ge_playvideo("nothing") ge_playvideo("gone") ge_playvideo("bad") ge_playvideo("intro", true) end
  if last and frame == last + 2 then quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    EXPECT_NE(run.log.find("[ERROR] Video Not Found: nothing"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[ERROR] Video Not Playable: bad"), std::string::npos) << run.log;
    // A video whose file was never found says so when asked for, and no
    // closing call follows (the trace below has none for it).
    EXPECT_NE(run.log.find("[NOT FOUND] - VIDEO : nofile"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[ERROR] Video File Not Found: gone"), std::string::npos) << run.log;
    // Three movie frames from frame 2, the end found in frame 5, then 26
    // frames of fade (1 to 255 by 10): closed in the 29th frame's drawing.
    // The second (read while it plays) starts within the 29th frame's drawing, after that frame's
    // video step: its first picture comes in frame 30.
    // A movie without a picture runs its course all the same: its sound
    // starts, the end is found at once, and the fade closes it; the
    // statement after it runs in the next frame. A sound track that cannot
    // be read holds no picture back.
    EXPECT_EQ(run.trace,
              "closed intro at 29\nclosed streamed at 58\nclosed voice at 84\nafter voice at 85\n"
              "closed mute at 113\n")
        << run.log;
    EXPECT_NE(run.log.find("[ERROR] Video Not Playable: voice"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[STREAM SOUND][0] : track.ogg"), std::string::npos) << run.log;
}

// Movies whose headers claim very low frame rates: the frames go on at
// the window's longest period and each picture comes at its own time.
TEST(SceneRenderRun, ASlowMovieHoldsNoFrameAndTakesACloseRequest) {
    std::string root = RenderRoot("slow_video");
    theora_frames::MovieShape minute;
    minute.frames = 3;
    minute.fpsNumerator = 1;
    minute.fpsDenominator = 60;  // a frame a minute
    const auto slow = theora_frames::Flat(minute, {{81, 90, 240}});
    quild_test::WriteFile(root + "/slow.ogg", std::string(slow.begin(), slow.end()));
    theora_frames::MovieShape two = minute;
    two.frames = 2;
    two.fpsDenominator = 2;  // a frame every 2 s
    const auto pair = theora_frames::Flat(two, {{81, 90, 240}});
    quild_test::WriteFile(root + "/pair.ogg", std::string(pair.begin(), pair.end()));
    const std::string setup = R"lua(
video{name="slow", video="slow", buffered=true}
video{name="pair", video="pair", buffered=true}
function OnGameVideoClosed(name) trace("closed " .. name .. " after " .. (frame - started) .. " frames") end
function OnGameQuit() trace("quit") end
)lua";
    // A frame a minute: a dozen frames later the first picture still shows,
    // the video clock has counted at least the longest period a frame, and
    // a SIGTERM ends the game with its shut-down (a frame held for the
    // movie's minute would outlast the run's limit).
    EngineRunOptions options;
    options.root = root;
    options.timeout_seconds = 50;
    options.term_when_logged = "twelve frames";
    EngineRun run = RunEngineWith(Game(320, 240, setup, R"lua(
  if frame == 1 then started = 1 ge_playvideo("slow") end
  if frame == 13 then
    trace(vid_gettime() >= 12 * 250 and "clock runs" or ("clock " .. vid_gettime()))
    _ALERT("twelve frames")
  end
)lua"),
                                  options);
    EXPECT_EQ(run.exit_code, 0) << run.log;
    EXPECT_EQ(run.trace, "clock runs\nquit\n") << run.log;
    EXPECT_NE(run.log.find("[EXITING] : termination requested"), std::string::npos) << run.log;
    // A frame every 2 s: the second picture comes once 2 s have passed on
    // the video clock and the end once 4 s have, so the movie takes 16
    // frames of the longest period (fewer only where frames took over
    // 250 ms), then the 26 of the fade; each frame advancing it would
    // close it after 29.
    run = RunEngineIn(root, Game(320, 240, setup, R"lua(
  if frame == 1 then started = 1 ge_playvideo("pair") end
  if frame > 100 then quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    ASSERT_EQ(run.trace.rfind("closed pair after ", 0), 0u) << run.trace;
    EXPECT_GE(std::atoi(run.trace.c_str() + 18), 26 + 8) << run.trace;
}

}  // namespace

