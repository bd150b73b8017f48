// End-to-end: the real executable on small data roots.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "../../tools/vorbis_tone.h"
#include "engine_run.h"
#include "support/test_support.h"

namespace {

const char* kTrace = R"lua(
function trace(s) local f = io.open("trace.txt", "a"); f:write(s .. "\n"); f:close() end
)lua";

std::string Main(const std::string& body) { return std::string(kTrace) + body; }

const char* kOpenDisplay = R"lua(ge_resetdisplay(640, 480, 32, false, 0, "Test", 0)
)lua";

// Quits after n frames.
std::string QuitAfter(int n) {
    return "frames = 0\nfunction OnGameUpdate(dt) frames = frames + 1 trace('frame ' .. frames) if frames >= " +
           std::to_string(n) + " then quit() end end\n";
}

size_t Find(const std::string& text, const std::string& what, size_t from = 0) {
    return text.find(what, from);
}

}  // namespace

TEST(Startup, NormalStartAndStopLogsEveryStepInOrder) {
    EngineRun run = RunEngine(Main(std::string(kOpenDisplay) + QuitAfter(3) + "trace('main ran')\n"));
    ASSERT_EQ(run.exit_code, 0) << run.output << run.log;
    const std::string& log = run.log;
    const char* order[] = {"[INIT]\r\n",          "[MEMORY] ",           "[DIRECT3D9 WINDOWED] 640x480x32",
                           "[CREATING RENDERTAGRET]", "[CREATING DISSOLVEBUFFER]", "[CREATING POSTFXBUFFER]",
                           "[DIRECTSOUND8]",      "[SPEAKERS] : stereo", "[INIT] - GAME"};
    size_t at = 0;
    for (const char* step : order) {
        size_t found = Find(log, step, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << step << "\n" << log;
        at = found;
    }
    EXPECT_EQ(LogLinesStartingWith(log, "[EXITING] : "),
              "[EXITING] : Releasing Sound Objects\n"
              "[EXITING] : Releasign RenderTagrets\n"
              "[EXITING] : Closing Script\n"
              "[EXITING] : Releasing Resources\n"
              "[EXITING] : Releasing Video Streaming Objects\n"
              "[EXITING] : Deleting Application Object\n"
              "[EXITING] : Deleting extra buffers\n"
              "[EXITING] : Releasing package entries\n"
              "[EXITING] : Unregistering all game objects\n"
              "[EXITING] : Deleting Console\n"
              "[EXITING] : Deleting Instance\n"
              "[EXITING] : Releasing All Heap Memory\n");
    EXPECT_EQ(log.substr(log.size() - 8), "[QUIT]\r\n");
    EXPECT_EQ(run.trace, "main ran\nframe 1\nframe 2\nframe 3\n");
}

TEST(Startup, QuitInMainEndsWithoutAFrameOrABox) {
    EngineRun run = RunEngine(Main(std::string(kOpenDisplay) + QuitAfter(1) + "quit()\n"));
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "");
    EXPECT_EQ(run.output.find("Engine Init Error"), std::string::npos);
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos);
    // The status given to quit is the program's, in "main" as in a frame.
    run = RunEngine(Main(std::string(kOpenDisplay) + "quit(3)\n"));
    EXPECT_EQ(run.exit_code, 3) << run.output;
    run = RunEngine(Main(std::string(kOpenDisplay) + "function OnGameUpdate() quit(4) end\n"));
    EXPECT_EQ(run.exit_code, 4) << run.output;
}

TEST(Startup, AFailingMainEndsTheProgram) {
    EngineRun run = RunEngine("this is not lua");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos) << run.log;
    EngineRun missing = RunEngine("", {}, "");  // a main that opens no display
    EXPECT_EQ(missing.exit_code, 1);
}

TEST(Startup, DisplayResetRerunsMainWithoutSoundOrMemoryLines) {
    // "main" asks for the display every time it runs; the frame asks for one
    // reset. The rerun's own request is ignored with a warning.
    std::string body = std::string(kOpenDisplay) + R"lua(
trace('main')
if not frames then
  frames = 0
  function OnGameUpdate(dt)
    frames = frames + 1
    if frames == 2 then ge_resetdisplay(800, 600, 32, false, 0, "Test", 0) end
    if frames == 5 then quit() end
  end
end
)lua";
    EngineRun run = RunEngine(Main(body));
    ASSERT_EQ(run.exit_code, 0) << run.output << run.log;
    EXPECT_EQ(run.trace, "main\nmain\n");
    EXPECT_NE(run.log.find("[DIRECT3D9 - RESET WINDOWED] 800x600x32"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("[MEMORY]"), run.log.rfind("[MEMORY]"));
    EXPECT_EQ(run.log.find("[DIRECTSOUND8]"), run.log.rfind("[DIRECTSOUND8]"));
    EXPECT_NE(run.log.find("[WARNING] : ge_resetdisplay while the display is being reset"), std::string::npos);
}

// Without a display the game ends at once with one line that says so,
// instead of running unseen on the off-screen driver; that driver is taken
// only when asked for by name. The line is all stderr holds: the failed
// device and the images that could not be made go to log.txt only. The
// unreachable display is one no X server can serve (no display number).
TEST(Startup, WithoutADisplayTheGameEndsWithOneLine) {
    const std::string game = Main(std::string(kOpenDisplay) + QuitAfter(2) +
                                  "font{name = 'console', file = 'data/fonts/nosuch'}\ntrace('main ran')\n");
    struct Case {
        std::vector<std::string> unset;
        std::map<std::string, std::string> env;
        const char* line;
    } cases[] = {
        {{"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}, {}, "no display: DISPLAY and WAYLAND_DISPLAY are not set"},
        {{"WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}, {{"DISPLAY", ":none"}}, "no display: cannot reach DISPLAY=\":none\""},
    };
    for (const Case& c : cases) {
        EngineRunOptions options;
        options.unset = c.unset;
        options.env = c.env;
        options.timeout_seconds = 60;
        EngineRun run = RunEngineWith(game, options);
        EXPECT_EQ(run.exit_code, 1) << c.line << "\n" << run.output;
        EXPECT_EQ(LogLinesStartingWith(run.log, "no display: ").find(c.line), 0u) << run.log;
        const size_t at = run.output.find(c.line);
        EXPECT_NE(at, std::string::npos) << run.output;
        EXPECT_EQ(run.output.find(c.line, at + 1), std::string::npos) << "said twice:\n" << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << "more than the one line:\n" << run.output;
        EXPECT_NE(run.log.find("[FAILED]"), std::string::npos) << run.log;  // in the log only
        EXPECT_EQ(run.output.find("Engine Init Error"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("Can't Create Window!"), std::string::npos) << run.output;
        EXPECT_EQ(run.trace, "main ran\n");  // no frame
    }
    EngineRunOptions asked;  // named, the off-screen driver runs the game
    asked.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
    asked.env = {{"SDL_VIDEODRIVER", "offscreen"}};
    EngineRun run = RunEngineWith(game, asked);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "main ran\nframe 1\nframe 2\n");
}

// Without a sound device the game plays on without sound: one warning line,
// and a sound still lasts its length, so a statement waiting on it goes on.
TEST(Startup, WithoutASoundDeviceTheGamePlaysSilently) {
    const auto click = vorbis_tone::Click(2, 44100, 0.3);
    EngineRunOptions options;
    options.prepare_root = [&](const std::string& root) {
        quild_test::WriteFile(root + "/click.ogg", std::string(click.begin(), click.end()));
    };
    options.env = {{"SDL_AUDIODRIVER", "nosuchdriver"}};
    const std::string game = Main(std::string(kOpenDisplay) + R"lua(
function OnGameUpdate(dt)
  if not started then started = true ge_task("snd_play('click', false, 0);trace('after the click') quit()") end
end
)lua");
    EngineRun run = RunEngineWith(game, options);
    ASSERT_EQ(run.exit_code, 0) << run.output << run.log;
    EXPECT_EQ(run.trace, "after the click\n");
    EXPECT_EQ(LogLinesStartingWith(run.log, "[WARNING] - no sound device"),
              "[WARNING] - no sound device (Audio target 'nosuchdriver' not available): the game plays without "
              "sound\n");
    EXPECT_EQ(run.log.find("[FAILED]"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[SPEAKERS] : stereo"), std::string::npos);
}

TEST(Startup, InjectedInitFailuresGiveTheirCodeAndText) {
    struct Case {
        const char* step;
        const char* line;
        const char* text;
    } cases[] = {
        {"window", "[FAILED] - DIRECT3D9 CREATE", "Error initializing Direct3D Window."},
        {"rendertarget", "[FAILED] - CREATING RENDERTAGRET", "Failed to create the rendertarget surface!"},
        {"dissolve", "[FAILED] - CREATING DISSOLVEBUFFER", "Failed to create the dissolve buffer!"},
        {"postfx", "[FAILED] - CREATING POSTFXBUFFER", "Failed to create the posfx buffer!"},
        {"sound", "[FAILED] - DIRECTSOUND8 CREATE", "Error initializing DirectSound!"},
        {"listener", "[FAILED] - DIRECTSOUND8 Get3DListenerInterface", "Can't get 3D Listener Interface!"},
    };
    for (const Case& c : cases) {
        EngineRun run = RunEngine(Main(std::string("ok = ") + kOpenDisplay + "trace(tostring(ok))\n"),
                                  {{"QUILD_FAIL_INIT", c.step}});
        EXPECT_EQ(run.exit_code, 1) << c.step;
        EXPECT_NE(run.log.find(c.line), std::string::npos) << c.step << "\n" << run.log;
        EXPECT_NE(run.output.find(std::string("[Engine Init Error] ") + c.text), std::string::npos)
            << c.step << "\n" << run.output;
        EXPECT_EQ(run.trace, "false\n") << c.step;
        EXPECT_NE(run.log.find("[QUIT]"), std::string::npos);
    }
}

TEST(Startup, StatementQueueWaitsOrRunsTheNextFrame) {
    std::string body = std::string(kOpenDisplay) + R"lua(
frames = 0
function OnGameUpdate(dt)
  frames = frames + 1
  trace('frame ' .. frames)
  if frames == 1 then ge_task("trace('a');trace('b')") end
  if frames == 4 then ge_task("trace('c');;trace('d')") end
  if frames == 8 then quit() end
end
)lua";
    EngineRun run = RunEngine(Main(body));
    ASSERT_EQ(run.exit_code, 0) << run.output << run.log;
    // a runs in the frame after it was queued; b waits for something to
    // end. A second task queued meanwhile waits too.
    EXPECT_EQ(run.trace, "frame 1\na\nframe 2\nframe 3\nframe 4\nframe 5\nframe 6\nframe 7\nframe 8\n");
    std::string second = std::string(kOpenDisplay) + R"lua(
frames = 0
function OnGameUpdate(dt)
  frames = frames + 1
  trace('frame ' .. frames)
  if frames == 1 then ge_task("trace('c');;trace('d')") end
  if frames == 5 then quit() end
end
)lua";
    run = RunEngine(Main(second));
    EXPECT_EQ(run.trace, "frame 1\nc\nframe 2\nd\nframe 3\nframe 4\nframe 5\n");
}

TEST(Startup, CommandLineAndBuildReachScripts) {
    std::string body = std::string(kOpenDisplay) + R"lua(
trace(ge_getcmdline())
trace(ge_getbuild())
ge_setbuild("debug")
trace(ge_getbuild())
quit()
)lua";
    EngineRun run = RunEngine(Main(body), {}, "-level 3");
    EXPECT_EQ(run.trace, "-level 3\nfinal\ndebug\n");
}

// Hotspots removed or made again by name while frames pick and hover:
// nothing the frames or the shut-down walk points into freed memory.
TEST(Startup, RemovedAndRemadeHotspotsLeaveFramesAndShutDownSound) {
    std::string body = std::string(kOpenDisplay) + R"lua(
local v = ge_newobject("hotspot", "victim")
hs_remove(v)
c = hotspot{name = "c", rect = "0,0,640,480"}
ge_newobject("hotspot", "menu")
ge_setproperty(c, "parent", "menu")
ge_newobject("hotspot", "menu")
tip = hotspot{name = "tip", rect = "0,0,10,10", parent = ge_getobjectslist(true)[1]}
frames = 0
function OnGameUpdate(dt)
  frames = frames + 1
  trace(#ge_getobjectslist(true) .. " " .. tostring(hs_getparent(c)))
  if frames == 2 then ge_newobject("hotspot", "menu") end
  if frames >= 4 then quit() end
end
)lua";
    EngineRun run = RunEngine(Main(body));
    EXPECT_EQ(run.exit_code, 0) << run.output << run.log;
    EXPECT_EQ(run.trace, "1 nil\n1 nil\n1 nil\n1 nil\n");
    EXPECT_EQ(run.log.find("Exception"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.substr(run.log.size() - 8), "[QUIT]\r\n");
}

// The report is in the log before the shut-down starts, so a shut-down
// that dies of the fault's damage cannot lose it.
TEST(Startup, AFaultInAFrameIsLoggedBeforeTheShutDown) {
    EngineRun run = RunEngine(Main(std::string(kOpenDisplay) + QuitAfter(50)), {{"QUILD_FAULT_IN_FRAME", "2"}});
    EXPECT_EQ(run.exit_code, 1);
    size_t quit = run.log.find("[QUIT]");
    size_t first_exit_step = run.log.find("[EXITING] : ");
    size_t report = run.log.find("An exception thrown during the game loop!");
    ASSERT_NE(report, std::string::npos) << run.log;
    ASSERT_NE(quit, std::string::npos) << run.log;
    EXPECT_LT(report, first_exit_step);
    EXPECT_EQ(run.log.find("An exception thrown during the game loop!", report + 1), std::string::npos)
        << "logged once";
    EXPECT_NE(run.log.find("ExceptionCode            : 0xc0000005"), std::string::npos);
    EXPECT_NE(run.output.find("[Exception Occured]"), std::string::npos);
}
