// End-to-end: the real executable on data roots that hold what a game
// folder should not, and on faults and failures seen only from outside.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "../../tools/diffuse_shader.h"
#include "engine_run.h"
#include "media/mesh/mesh_texts.h"
#include "support/test_support.h"

namespace {

const char* kHeader = R"lua(
function trace(s) local f = io.open("trace.txt", "a"); f:write(s .. "\n"); f:close() end
ge_resetdisplay(640, 480, 32, false, 0, "Test", 30)
)lua";

std::string Main(const std::string& body) { return std::string(kHeader) + body; }

std::string QuitAfter(int n) {
    return "frames = 0\nfunction OnGameUpdate(dt) frames = frames + 1 if frames >= " + std::to_string(n) +
           " then quit() end end\n";
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// A game folder: the page scene "book" whose hotspot "greet" shows the text
// "welcome" in the font "f", and the cube scene "cube" with the mesh
// "statue" drawn with the shader "diff" (declared by scripts/shaders), the
// glow "moon" and the flare "sun" with two lens elements straight ahead.
std::string GameRoot(const std::string& name) {
    const std::string root = quild_test::BuildOutputPath("scene_roots/outside_" + name);
    const std::string args =
        "palette cube cube 64 pages book 2 64 48 "
        "data book 'hotspot{name=\"greet\",rect=\"10,10,300,100\",text=\"welcome\",font=\"f\"}' "
        "data cube 'cubefaces()' "
        "data cube 'mesh{name=\"statue\",file=\"box\",position=\"0,0,300\",specularpow=0,diffuse=\"FFC08040\"}' "
        "data cube 'fx{name=\"moon\",file=\"stages/book/page1\",x=0,y=0}' "
        "data cube 'fx{name=\"sun\",format=\"fx/lens\",lens_count=2,lens_format=\"0,1,1,1,0.5,1\",x=0,y=0}'";
    EXPECT_EQ(RunSceneGen(root, args), 0) << args;
    std::filesystem::create_directories(root + "/scripts");
    std::filesystem::create_directories(root + "/fx/lens");
    for (const char* n : {"0", "1"})
        std::filesystem::copy_file(root + "/stages/book/page1.png", root + "/fx/lens/" + n + ".png");
    quild_test::WriteFile(root + "/box.x", media_test::kCubeX);
    quild_test::WriteFile(root + "/scripts/shaders.lua", std::string("shader{name = \"diff\", vs = [[") + kDiffuseVs +
                                                             "]], ps = [[" + kDiffusePs + "]]}\n");
    quild_test::WriteFile(root + "/fr.txt", "<welcome>\nBonjour\n</>\n");
    return root;
}

// main.lua of that game: `steps` is a Lua list of functions, one run in each
// frame's OnGameUpdate; "done" is traced after the last, and the game quits.
// A display reset runs this again: the state is kept.
std::string StepGame(const std::string& steps) {
    return R"lua(
function trace(s) local f = io.open("trace.txt", "a"); f:write(s .. "\n"); f:close() end
DIR_STAGES = "stages"
DIR_SCRIPTS = "scripts"
Display = {fov = 60, aspect = 1.3333, useshaders = true}
Gameplay = {dissolvefxtime = 0, pagefxtime = 0, walkfxtime = 0, fadefxtime = 0}
ge_resetdisplay(640, 480, 32, false, 0, "Test", 0)
run("shaders")
font{name = "f", file = "stages/book/page1", fontw = 8, fonth = 8}
if not frame then
  gtext_settext(gtext_new("welcome"), "Hello")
  frame = 0
  steps = {)lua" + steps + R"lua(}
  function OnGameUpdate(dt)
    frame = frame + 1
    if steps[frame] then steps[frame]() end
    if frame == #steps then trace("done") quit() end
  end
end
)lua";
}

}  // namespace

TEST(OutsideFaults, FoldersAndSpecialFilesWhereFilesAreExpected) {
    EngineRunOptions o;
    o.timeout_seconds = 60;
    o.prepare_root = [](const std::string& root) {
        mkdir((root + "/sub.lua").c_str(), 0755);
        mkdir((root + "/adir").c_str(), 0755);
        mkdir((root + "/pkdir").c_str(), 0755);
        mkfifo((root + "/afifo").c_str(), 0644);
        mkfifo((root + "/pipe.pak").c_str(), 0644);
        mkfifo((root + "/main.bin").c_str(), 0644);
        quild_test::WriteFile(root + "/big.lua", "");  // sparse, too large to read whole
        truncate((root + "/big.lua").c_str(), off_t{3} << 30);
    };
    EngineRun run = RunEngineWith(Main(R"lua(
runscript("sub")
runscript("sub.lua", "FILE")
runscript("big")
runscript("big.lua", "FILE")
trace("runscript")
ge_copyfile("adir", "copy1")
ge_copyfile("afifo", "copy2")
ge_copyfile("big.lua", "copy3")
trace("copy")
trace(tostring(compilescript("/dev/zero", "zero.bin") == true))
trace(tostring(compilescript("adir", "dir.bin") == true))
ge_addpackage("pipe.pak")
ge_addpackage("adir")
trace("package")
package_open("pkdir")
package_close()
trace("done")
quit()
)lua"),
                                  o);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "runscript\ncopy\nfalse\nfalse\npackage\ndone\n") << run.output;
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos);
    EXPECT_NE(run.log.find("PACKAGE pkdir: is a folder"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("cannot read big.lua"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("ge_copyfile: big.lua is too large"), std::string::npos) << run.log;
    // Nothing was copied, compiled or begun beside the folders.
    EXPECT_EQ(run.files, "adir\nafifo\nbig.lua\nmain.bin\nmain.lua\nout.txt\npipe.pak\npkdir\nsub.lua\ntrace.txt\n");
}

TEST(OutsideFaults, AFifoNamedMainLuaEndsTheProgramAsAMissingMain) {
    EngineRunOptions o;
    o.timeout_seconds = 60;
    o.prepare_root = [](const std::string& root) {
        unlink((root + "/main.lua").c_str());
        mkfifo((root + "/main.lua").c_str(), 0644);
    };
    EngineRun run = RunEngineWith("", o);
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos) << run.log;
}

TEST(OutsideFaults, ASourceThatIsReallyBytecodeIsCheckedFirst) {
    std::string junk = "\x1bLua";
    std::mt19937 rng(7);
    for (int i = 0; i < (1 << 20); ++i) junk += static_cast<char>(rng());
    EngineRun run = RunEngine(junk);
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_EQ(Count(run.log, "compiled chunk that does not fit this build"), 1u) << run.log;
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos);

    // The same for a script run by "main" from a file.
    EngineRunOptions o;
    o.prepare_root = [&](const std::string& root) { quild_test::WriteFile(root + "/lib.lua", junk.substr(0, 4096)); };
    run = RunEngineWith(Main("runscript('lib')\nrunscript('lib.lua', 'FILE')\ntrace('after')\nquit()\n"), o);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "after\n");
    EXPECT_EQ(Count(run.log, "compiled chunk that does not fit this build"), 2u) << run.log;
}

TEST(OutsideFaults, EarlyWarningsReachTheLogAndAnUnwritableLogSaysSoOnce) {
    EngineRunOptions o;
    o.prepare_root = [](const std::string& root) { quild_test::WriteFile(root + "/main.bin", "garbage!"); };
    EngineRun run = RunEngineWith(Main(QuitAfter(2)), o);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    size_t warning = run.log.find("main.bin is damaged");
    ASSERT_NE(warning, std::string::npos) << run.log;
    EXPECT_LT(warning, run.log.find("[INIT]"));

    // "Documents" is a file: the per-user folder cannot be made. The game
    // runs, and stderr says once why there is no log.
    EngineRunOptions no_folder;
    no_folder.prepare_home = [](const std::string& home) { quild_test::WriteFile(home + "/Documents", "x"); };
    run = RunEngineWith(Main(QuitAfter(2)), no_folder);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(Count(run.output, "The log cannot be written"), 1u) << run.output;

    // A log.txt that is a folder: the same.
    EngineRunOptions bad_log;
    bad_log.prepare_home = [](const std::string& home) {
        quild_test::WriteFile(home + "/Documents/Quorvane/log.txt/x", "x");
    };
    run = RunEngineWith(Main(QuitAfter(2)), bad_log);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(Count(run.output, "The log cannot be written"), 1u) << run.output;
}

TEST(OutsideFaults, FailuresAfterTheDisplayCameUpExitWithOne) {
    // "main" fails after opening the display: no frame runs.
    EngineRun run = RunEngine(Main(QuitAfter(3) + "trace('opened')\nerror('boom')\n"));
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_EQ(run.trace, "opened\n");
    EXPECT_NE(run.log.find("boom"), std::string::npos);
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos);

    // A display reset that fails in a frame ends the game as a failure.
    run = RunEngine(Main(R"lua(
if not frames then
  frames = 0
  function OnGameUpdate(dt)
    frames = frames + 1
    trace('frame ' .. frames)
    if frames == 2 then ge_resetdisplay(0, -2147483648, 32, false, 0, "Test", 0) end
    if frames == 20 then quit() end
  end
end
)lua"));
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_EQ(run.trace, "frame 1\nframe 2\n");
    EXPECT_NE(run.log.find("[FAILED] - DIRECT3D9 RESET"), std::string::npos) << run.log;
    // What was asked, in a form that reads.
    EXPECT_NE(run.log.find("window reset to 0 by -2147483648 pixels: window size 0 by -2147483648 pixels"),
              std::string::npos)
        << run.log;
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos);
}

TEST(OutsideFaults, AShutDownHungByAFaultInTheDriverIsCutOff) {
    EngineRun run = RunEngine(Main(QuitAfter(50)), {{"QUILD_FAULT_IN_DRIVER", "3"}});
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_LT(run.seconds, 30.0);
    size_t cut = run.log.find("shut-down did not finish after a fault; cut off");
    ASSERT_NE(cut, std::string::npos) << run.log;
    EXPECT_NE(run.log.find("An exception thrown during the game loop!", cut), std::string::npos);
    EXPECT_NE(run.log.find("ExceptionCode            : 0xc0000005", cut), std::string::npos);

    // The report was logged before the shut-down began.
    EXPECT_LT(run.log.find("An exception thrown during the game loop!"), cut);

    // A fault outside the driver is reported, then the whole shut-down runs.
    run = RunEngine(Main(QuitAfter(50)), {{"QUILD_FAULT_IN_FRAME", "3"}});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.log.find("cut off"), std::string::npos);
    EXPECT_EQ(Count(run.log, "[EXITING] : "), 12u) << run.log;
    EXPECT_LT(run.log.find("An exception thrown during the game loop!"), run.log.find("[QUIT]"));
}

TEST(OutsideFaults, FramesAreHeldToTheRefreshRateWithoutVerticalSync) {
    // The headless driver has no vertical sync. At 30 Hz every frame's dt is
    // 33.3 ms; once the pacer has measured, frames take that long too. The
    // game's own frame clock times the paced second, so a loaded machine can
    // only make it longer.
    std::string body = R"lua(
ge_resetdisplay(640, 480, 32, false, 0, "Test", 30)
frames = 0
function OnGameUpdate(dt)
  frames = frames + 1
  if frames == 1 then trace(string.format("dt %.3f", dt)) end
  if frames == 31 then start = ge_getcounter() end
  if frames == 61 then trace(string.format("paced %d", ge_getcounter() - start)) quit() end
end
)lua";
    EngineRun paced = RunEngine(std::string(kHeader) + body);
    EXPECT_EQ(paced.exit_code, 0) << paced.output;
    EXPECT_EQ(paced.trace.rfind("dt 33.333\npaced ", 0), 0u) << paced.trace;
    EXPECT_NE(paced.log.find("[WARNING] : no vertical sync; frames held to 30 a second"), std::string::npos)
        << paced.log;
    // Thirty paced frames take at least their 1000 ms (the sample frames run unpaced).
    long ms = std::atol(paced.trace.c_str() + paced.trace.find("paced ") + 6);
    EXPECT_GT(ms, 900) << paced.trace;
}

// An endless loop in a script holds the main thread; SIGTERM still ends the
// game through the ordinary shut-down, and the log names the call that ran
// too long.
TEST(OutsideFaults, AnEndlessScriptEndsOnATerminationSignal) {
    EngineRunOptions options;
    options.term_when_logged = "[WARNING] : script OnGameUpdate(...) has been running for";
    options.timeout_seconds = 60;
    EngineRun run = RunEngineWith(Main(R"lua(
function OnGameQuit() trace('quit handler') end
function OnGameUpdate(dt) trace('looping') while true do end end
)lua"),
                                  options);
    EXPECT_EQ(run.exit_code, 0) << run.output << run.log;
    EXPECT_EQ(run.trace, "looping\nquit handler\n");
    EXPECT_EQ(Count(run.log, "[WARNING] : script OnGameUpdate(...) has been running for"), 1u) << run.log;
    EXPECT_NE(run.log.find("[LUA RT ERROR in OnGameUpdate(%f)] : script stopped: the game is closing"),
              std::string::npos)
        << run.log;
    EXPECT_NE(run.log.find("[EXITING] : termination requested"), std::string::npos);
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos);

    // The same in "main", before any frame.
    options.term_when_logged = "[WARNING] : script main has been running for";
    run = RunEngineWith("while true do end\n", options);
    EXPECT_EQ(run.exit_code, 0) << run.output << run.log;
    EXPECT_NE(run.log.find("[EXITING] : termination requested"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos) << run.log;
}

// Nothing a looping script runs through catches the stop for good: one
// SIGTERM ends the game (within a second, to its last log line; the bound
// below leaves room for a loaded machine, a swallowed stop never ends),
// with one stop line in a small log.
TEST(OutsideFaults, OneTerminationSignalEndsScriptsThatCatchTheStop) {
    const char* loops[] = {
        "while true do exec('while true do end') end",
        "while true do run('spin') end",
        "while true do eval('(function() pcall(function() while true do end end) end)()') end",
        "while true do exec('exec(\"while true do end\")') end",
        "function walk(d) findallfiles('scripts', ';lua;', function() if d < 5 then exec('walk(' .. d + 1 .. ')') "
        "else while true do end end end, true) end while true do walk(0) end",
        "while true do local co = coroutine.wrap(function() while true do end end) pcall(co) end",
        "while true do local s = string.rep('x', 2^27) end",
        "while true do xpcall(error, function() while true do end end) end",
        "xpcall(function() while true do end end, function() while true do end end)",
        "package.loaded.debug.sethook() while true do end",
        "coroutine.resume(coroutine.create(function() package.loaded.debug.sethook() while true do end end))",
        // Few instructions between long calls, or calls to the hook functions.
        "while true do os.execute('sleep 0.05') end",
        "while true do package.loaded.debug.gethook() end",
        "while true do package.loaded.debug.sethook(print, '', 1e9) end",
        "while true do collectgarbage() end",
    };
    for (const char* loop : loops) {
        SCOPED_TRACE(loop);
        EngineRunOptions options;
        options.term_when_logged = "spinning";
        options.timeout_seconds = 20;
        options.prepare_root = [](const std::string& root) {
            std::filesystem::create_directories(root + "/scripts/more");
            quild_test::WriteFile(root + "/scripts/spin.lua", "while true do end\n");
            quild_test::WriteFile(root + "/scripts/more/x.lua", "\n");
        };
        EngineRun run = RunEngineWith(Main(std::string("DIR_SCRIPTS = 'scripts'\n"
                                                       "function OnGameQuit() trace('quit handler') end\n"
                                                       "function OnGameUpdate(dt) _ALERT('spinning') ") +
                                           loop + " end\n"),
                                      options);
        EXPECT_EQ(run.exit_code, 0) << run.output;
        EXPECT_GE(run.term_ms, 0);
        EXPECT_LT(run.term_ms, 3000);
        EXPECT_EQ(run.trace, "quit handler\n");
        EXPECT_EQ(Count(run.log, "script stopped: the game is closing"), 1u) << run.log.substr(0, 4000);
        EXPECT_LT(run.log.size(), 16384u);
        EXPECT_NE(run.log.find("[QUIT]"), std::string::npos);
    }
}

// What the hook cannot stop, a finalizer or a hook of the script that
// loops (Lua runs both with hooks off), is closed from outside after the
// grace: one log line naming what held the game and the grace, the exit of
// a closing game, the files whole. The grace is shortened to 3 s: the game
// cannot close before it, and a grace counted twice would take 6 s. A
// machine too busy to answer the watchdog soon (every answer 150 ms late)
// closes within the grace and a second.
TEST(OutsideFaults, LuaOutOfTheHooksReachIsClosedFromOutside) {
    struct Case {
        const char* held;
        const char* grace;
        const char* late;
        const char* loop;
    } cases[] = {
        {"a finalizer", "3000", "0", "getmetatable(newproxy(true)).__gc = function() while true do end end collectgarbage()"},
        {"a finalizer", "1000", "150", "getmetatable(newproxy(true)).__gc = function() while true do end end collectgarbage()"},
        {"a hook of the script", "1000", "0", "package.loaded.debug.sethook(function() while true do end end, '', 1) local x = 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.loop) + ", answers late " + c.late);
        EngineRunOptions options;
        options.term_when_logged = "spinning";
        options.timeout_seconds = 30;
        options.env["QUILD_CLOSING_GRACE_MS"] = c.grace;
        options.env["QUILD_SAMPLE_ANSWER_LATE_MS"] = c.late;
        EngineRun run = RunEngineWith(Main(std::string("function OnGameQuit() trace('quit handler') end\n"
                                                       "function OnGameUpdate(dt) trace('update') _ALERT('spinning') ") +
                                           c.loop + " end\n"),
                                      options);
        const int grace = std::atoi(c.grace);
        EXPECT_EQ(run.exit_code, 0) << run.output;
        EXPECT_GE(run.term_ms, grace);
        EXPECT_LT(run.term_ms, grace + 1000 + (grace > 1000 ? 2000 : 0));
        EXPECT_EQ(run.trace, "update\n");
        EXPECT_NE(run.log.find(std::string("[EXITING] : ") + c.held + " held the game for " + c.grace +
                               " ms after the request to close; closed without the shut-down"),
                  std::string::npos)
            << run.log;
    }
}

// Once the shut-down's handlers run, a further request does not cut them:
// OnGameQuit writes its 4 MiB whole after a second signal, or after the
// one signal of a game that quit by itself; a handler still running after
// the grace is stopped as a stuck script is, and the shut-down goes on.
TEST(OutsideFaults, AFurtherRequestDoesNotCutTheShutDown) {
    const std::string writer =
        "function OnGameQuit() _ALERT('writing') local f = io.open('big.txt', 'wb') "
        "for i = 1, 64 do f:write(string.rep('x', 65536)) local t = os.clock() while os.clock() - t < 0.015 do end end "
        "f:close() trace('written ' .. #io.open('big.txt', 'rb'):read('*a')) end\n";
    EngineRunOptions options;
    options.timeout_seconds = 30;
    options.term_when_logged = "spinning";
    options.term_again_when_logged = "writing";
    EngineRun run = RunEngineWith(Main(writer + "function OnGameUpdate(dt) _ALERT('spinning') while true do end end\n"),
                                  options);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "written 4194304\n") << run.log;
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos) << run.log;

    options.term_when_logged = "writing";
    options.term_again_when_logged.clear();
    run = RunEngineWith(Main(writer + "function OnGameUpdate(dt) quit(5) end\n"), options);
    EXPECT_EQ(run.exit_code, 5) << run.output;
    EXPECT_EQ(run.trace, "written 4194304\n") << run.log;

    options.term_when_logged = "stuck";
    options.env["QUILD_CLOSING_GRACE_MS"] = "500";
    run = RunEngineWith(Main("function OnGameQuit() _ALERT('stuck') while true do end end\n"
                             "function OnGameUpdate(dt) quit() end\n"),
                        options);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.log.find("[EXITING] : OnGameQuit(...) still ran 500 ms after a further request to close; "
                           "stopped as a stuck script"),
              std::string::npos)
        << run.log;
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos) << run.log;
}

// Engine work is not held against the game: a request that comes while a
// script function loads a large game-text file (seconds of C++ work) waits
// for the load, and the game then ends with its shut-down. The grace is
// far shorter than the load.
TEST(OutsideFaults, ARequestDuringEngineWorkWaitsForIt) {
    EngineRunOptions options;
    options.term_when_logged = "loading";
    options.timeout_seconds = 120;
    options.env["QUILD_CLOSING_GRACE_MS"] = "200";
    options.prepare_root = [](const std::string& root) {
        std::string texts;
        for (int i = 0; i < 20000; ++i) texts += "<t" + std::to_string(i) + ">\nline " + std::to_string(i) + "\n</>\n";
        quild_test::WriteFile(root + "/many.txt", texts);
    };
    EngineRun run = RunEngineWith(Main("function OnGameQuit() trace('quit handler, ' .. "
                                       "tostring(gtext_text(gtext_get('t19999')))) end\n"
                                       "function OnGameUpdate(dt) _ALERT('loading') gtext_load('many.txt') end\n"),
                                  options);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "quit handler, line 19999\n") << run.log;
    EXPECT_NE(run.log.find("[EXITING] : termination requested"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("closed without the shut-down"), std::string::npos) << run.log;

    // The same for a finalizer's work as the state closes.
    options.term_when_logged = "spinning";
    run = RunEngineWith(Main("keep = newproxy(true) getmetatable(keep).__gc = function() os.execute('sleep 0.6') "
                             "trace('finalized') end\n"
                             "function OnGameUpdate(dt) _ALERT('spinning') while true do end end\n"),
                        options);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "finalized\n") << run.log;
    EXPECT_NE(run.log.find("[QUIT]"), std::string::npos) << run.log;
}

// A finalizer's error or yield in the collection after a node switch, and
// a metamethod of _G that fails when the switch clears a hotspot's
// handlers, are logged as script errors; the game goes on and ends as it
// should.
TEST(OutsideFaults, FinalizersThatFailInTheEnginesCollection) {
    EngineRun run = RunEngineIn(GameRoot("finalizers"), StepGame(R"lua(
function() setmetatable(_G, {__newindex = function(t, k, v) if v == nil then error("strict " .. k, 0) end rawset(t, k, v) end}) end,
function() getmetatable(newproxy(true)).__gc = function() error("finalizer error", 0) end ge_switchscene("book") end,
function() end,
function() end,
function() getmetatable(newproxy(true)).__gc = function() coroutine.yield() end ge_switchscene("cube") end,
function() end,
function() end,
)lua") + "function OnGameQuit() trace('quit handler') end\n");
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "done\nquit handler\n") << run.log;
    EXPECT_NE(run.log.find("finalizer error"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("attempt to yield across metamethod/C-call boundary"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[LUA RT ERROR in hotspot handlers] : strict greet_"), std::string::npos) << run.log;
}

// Whatever a script frees or replaces while it is drawn, the next frames
// draw on: a hotspot's text freed (a game switching language), a mesh's
// shader declared again, switched off and lost with the display.
TEST(OutsideFaults, WhatAScriptFreesWhileItIsDrawnIsLetGoOf) {
    const std::string texts = GameRoot("texts");
    EngineRun run = RunEngineIn(texts, StepGame(R"lua(
function() ge_setscene("book") end,
function() H = ge_getsceneobject("hotspot", "greet") trace(gtext_text(ge_getproperty(H, "text"))) end,
function() gtext_freeall() end,
function() trace("freed " .. tostring(ge_getproperty(H, "text"))) end,
function() gtext_load("fr.txt") end,
function() trace("loaded " .. gtext_text(ge_getproperty(H, "text"))) end,
function() hs_setvisible(H, false) gtext_freeall() gtext_load("fr.txt")
  trace("hidden " .. tostring(gtext_text(ge_getproperty(H, "text")))) scene_save() end,
function() gtext_remove(gtext_get("welcome")) end,
function() trace("removed " .. tostring(ge_getproperty(H, "text"))) end,
function() G = ge_newobject("text", "motto") gtext_settext(G, "Carpe diem") ge_setproperty(H, "text", G) end,
function() ge_newobject("text", "motto") end,
function() trace("replaced " .. tostring(ge_getproperty(H, "text"))) end,
)lua"));
    EXPECT_EQ(run.exit_code, 0) << run.output;
    // Freed, the text is gone; the one loaded under its name takes its place.
    EXPECT_EQ(run.trace, "Hello\nfreed nil\nloaded Bonjour\nhidden Bonjour\nremoved nil\nreplaced nil\ndone\n") << run.output;
    // Reading, drawing and saving find the hidden hotspot's text by the same name.
    EXPECT_NE(quild_test::ReadFile(texts + "/stages/book/data.lua").find("text=\"welcome\""), std::string::npos);

    run = RunEngineIn(GameRoot("shaders"), StepGame(R"lua(
function() ge_setscene("cube") end,
function() end,
function() run("shaders") end,
function() end,
function() ge_enableshaders(false) end,
function() end,
function() ge_enableshaders(true) end,
function() end,
function() ge_resetdisplay(800, 600, 32, false, 0, "Q", 0) end,
function() end,
function() end,
)lua"));
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "done\n") << run.output;
    EXPECT_NE(run.log.find("[DIRECT3D9 - RESET WINDOWED] 800x600"), std::string::npos) << run.log;
}

// Script numbers at the edge of the int range reach lifetimes, projections
// and rectangles; a hotspot made by ge_newobject sits among other objects.
TEST(OutsideFaults, NumbersAtTheEdgeAndHotspotsAmongOtherObjects) {
    EngineRun run = RunEngineIn(GameRoot("edges"), StepGame(R"lua(
function() ge_setscene("cube") end,
function() particlesource{name = "sparks", lifetime = "1e30,1e30", particle_count = 4} end,
function() trace("particles") end,
function() ge_look(90, 0) end,
function() end,
function() trace("turned") ge_look(0, 0) scene_setcenter(2147483648, 255, -591.3) end,
function() ge_look(0, 89) end,
function() trace("centre") scene_setcenter(0, 0, 0) end,
function() mesh_draw(mesh_get("statue"), rect_const(1e308, 100, 2147483647, 588, 0), "FFFFFFFF") end,
function() mesh_draw(mesh_get("statue"), rect_const(-1e308, -1e308, 1e308, 1e308, 1), "FFFFFFFF") end,
function() trace("mesh_draw") end,
function() ge_drawstring("edge", rect_const(2147483647, 2147483647, 2147483647, 2147483647, 2), "FFFFFFFF", 12) end,
function() ge_drawtext("edge", rect_const(2147483647, 2147483647, 2147483647, 2147483647, 2), "FFFFFFFF", 12) end,
function() trace("text") end,
function()
  function g1_MouseClick() end
  H = ge_newobject("hotspot", "g1") ge_newobject("view", "g2") ge_newobject("hotspot", "g3")
  hs_checkevents(H)
end,
function() trace("checkevents") end,
)lua"));
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.trace, "particles\nturned\ncentre\nmesh_draw\ntext\ncheckevents\ndone\n") << run.output;
}
