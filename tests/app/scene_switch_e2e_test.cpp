// End-to-end: the real executable switching between scene folders written
// by the scene generator (tools/scenegen.cpp) under the build folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine_run.h"
#include "support/test_support.h"

namespace {

// A fresh data root under the build folder, filled by the generator.
std::string MakeRoot(const std::string& name, const std::string& generator_args) {
    std::string root = quild_test::BuildOutputPath("scene_roots/" + name);
    EXPECT_EQ(RunSceneGen(root, "palette " + generator_args), 0) << generator_args;
    return root;
}

// main.lua: the display at 50 Hz, the configuration, a trace() helper and
// (with TRACE_GAME set in the settings) game handlers that trace
// themselves; update runs in OnGameUpdate with the
// frame number in `frame`.
std::string Main(const std::string& settings, const std::string& update) {
    return R"lua(
function trace(s) local f = io.open("trace.txt", "a"); f:write(s .. "\n"); f:close() end
DIR_STAGES = "stages"
Display = {fov = 0, aspect = 0, useshaders = false}
Gameplay = {dissolvefxtime = 1000, pagefxtime = 500, walkfxtime = 500, fadefxtime = 0}
)lua" + settings + R"lua(
if TRACE_GAME then
  local function g(name) _G[name] = function(...)
    local args = {...}
    for i = 1, #args do args[i] = tostring(args[i]) end
    trace("G:" .. name .. "(" .. table.concat(args, ",") .. ")")
  end end
  for _, n in ipairs({"OnGameNodeLeave", "OnGameSceneSwitch", "OnGameNodeExit", "OnGameNodeInit",
                      "OnSceneBeforeInit", "OnGameNodeEnter", "OnGameSceneStart", "loadscene_initials"}) do g(n) end
end
ge_resetdisplay(320, 240, 32, false, 0, "Scenes", 50)
frame = 0
function OnGameUpdate(dt)
  frame = frame + 1
)lua" + update + R"lua(
  if frame > 1000 then trace("timeout") quit() end
end
)lua";
}

TEST(SceneSwitchRun, CallbackOrderBetweenTwoNodesOfOneParent) {
    std::string root = MakeRoot("order", "cube house/hall 16 cube house/kitchen 16 trace house trace house/hall "
                                         "trace house/kitchen");
    EngineRun run = RunEngineIn(root, Main("TRACE_GAME = true\n", R"lua(
  if frame == 1 then ge_setscene("house/hall") end
  if frame == 3 then trace("--") ge_setscene("House/Kitchen") end
  if frame == 5 then quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    EXPECT_EQ(run.trace,
              // The first switch: nothing to leave, every ancestor initialised
              // from the top down.
              "G:OnGameNodeLeave(house/hall)\n"
              "G:OnGameSceneSwitch()\n"
              "G:OnGameNodeExit()\n"
              "house:OnSceneInit(house)\n"
              "house:OnSceneInit()\n"
              "G:OnGameNodeInit(house)\n"
              "G:loadscene_initials(house/hall)\n"
              "G:OnSceneBeforeInit(house/hall)\n"
              "G:OnGameNodeInit(house/hall)\n"
              "house/hall:OnSceneInit()\n"
              "G:OnGameNodeEnter()\n"
              "house/hall:OnSceneEnter()\n"
              "G:OnGameSceneStart(house/hall,)\n"
              "--\n"
              // Between siblings: only house/hall is left and exited; the
              // name in capitals is switched to in lower case.
              "G:OnGameNodeLeave(house/kitchen)\n"
              "G:OnGameSceneSwitch()\n"
              "house/hall:OnSceneLeave()\n"
              "house/hall:OnSceneExit()\n"
              "house/hall:OnSceneLeave()\n"
              "house/hall:OnSceneExit()\n"
              "G:OnGameNodeExit(house/hall)\n"
              "G:loadscene_initials(house/kitchen)\n"
              "G:OnSceneBeforeInit(house/kitchen)\n"
              "G:OnGameNodeInit(house/kitchen)\n"
              "house/kitchen:OnSceneInit()\n"
              "G:OnGameNodeEnter(house/hall)\n"
              "house/kitchen:OnSceneEnter(house/hall)\n"
              "G:OnGameSceneStart(house/kitchen,house/hall)\n");
}

TEST(SceneSwitchRun, ImmediateSwitchWithoutLeaveHandlersAndWithoutAName) {
    std::string root = MakeRoot("noleave", "cube a/b 16 trace a trace a/b");
    EngineRun run = RunEngineIn(root, Main("TRACE_GAME = true\n", R"lua(
  if frame == 1 then ge_switchscene("a/b") end
  if frame == 3 then trace("--") ge_switchscene("") ge_switchscene() ge_setscene(nil) end
  if frame == 5 then trace(tostring(ge_istranstionfx()) .. " " .. tostring(scene_get(0) == scene_get("a/b"))) quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    EXPECT_EQ(run.trace,
              "G:OnGameNodeExit()\n"
              "a:OnSceneInit()\n"
              "G:OnGameNodeInit(a)\n"
              "G:loadscene_initials(a/b)\n"
              "G:OnSceneBeforeInit(a/b)\n"
              "G:OnGameNodeInit(a/b)\n"
              "a/b:OnSceneInit()\n"
              "G:OnGameSceneStart(a/b,)\n"
              "--\n"
              // No name: nothing is left, the scene stays.
              "false true\n");
    EXPECT_EQ(LogLinesStartingWith(run.log, "[WARNING] : scene switch"),
              "[WARNING] : scene switch without a scene name ignored\n"
              "[WARNING] : scene switch without a scene name ignored\n"
              "[WARNING] : scene switch without a scene name ignored\n");
}

// The frames, counted in OnGameUpdate, in which a transition runs.
TEST(SceneSwitchRun, DissolveTimingAtFiftyHertz) {
    std::string root = MakeRoot("dissolve", "cube one 16 cube two 16");
    EngineRun run = RunEngineIn(root, Main("", R"lua(
  if frame == 1 then ge_switchscene("one") end
  if frame == 3 then ge_dissolve("two") start = frame end
  if start and frame > start then
    if ge_istranstionfx() then busy = (busy or 0) + 1 else trace("busy " .. busy) quit() end
  end
)lua") + "function OnGameSceneStart(n) if start then trace('switched at ' .. frame - start) end end\n");
    ASSERT_EQ(run.exit_code, 0) << run.log;
    // The capture frame runs no update; the switch comes in the next, then
    // 50 fading frames of 20 ms, and the dissolve ends in the 51st.
    EXPECT_EQ(run.trace, "switched at 0\nbusy 51\n");
}

TEST(SceneSwitchRun, WalkEndsWhenItsTimeReachesItsDurationInADissolve) {
    std::string root = MakeRoot("walk", "cube one 16 cube two 16");
    EngineRun run = RunEngineIn(root, Main("", R"lua(
  if frame == 1 then ge_switchscene("one") end
  if frame == 3 then ge_walk("two", 100) start = frame end
)lua") + "function OnGameSceneStart(n) if start then trace(n .. ' after ' .. frame - start) quit() end end\n");
    ASSERT_EQ(run.exit_code, 0) << run.log;
    // walkfxtime 500 at 20 ms a frame: 25 walking frames, the last of them
    // asks for the dissolve, whose capture frame runs no update.
    EXPECT_EQ(run.trace, "two after 25\n");
}

TEST(SceneSwitchRun, DissolveWithoutFadeTimeEndsAtOnceAndReleasesAStatement) {
    std::string root = MakeRoot("dissolve0", "cube one 16 cube two 16");
    EngineRun run = RunEngineIn(root, Main("Gameplay.dissolvefxtime = 0\n", R"lua(
  if frame == 1 then ge_switchscene("one") end
  if frame == 3 then ge_task("ge_dissolve('two');trace('next statement at ' .. frame)") start = frame end
  if frame == 12 then quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    // The statement runs before update 4 and its capture takes that frame;
    // update 4 follows the switch, and the first fading step ends the
    // dissolve, so the next statement runs before update 6.
    EXPECT_EQ(run.trace, "next statement at 5\n");
}

TEST(SceneSwitchRun, PageTurnTimingAtFiftyHertz) {
    std::string root = MakeRoot("pages", "pages book 3 64 48");
    EngineRun run = RunEngineIn(root, Main("", R"lua(
  if frame == 1 then ge_switchscene("book") end
  if frame == 2 then trace("page " .. ge_getpageno()) ge_pagein(2) start = frame end
  if start and frame > start then
    local p = ge_getpageno()
    if p == 1 then waited = (waited or 0) + 1 else trace("page " .. p .. " after " .. waited) quit() end
  end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    // 500 ms at 20 ms a frame: the turn ends when its time first exceeds
    // 500, in the 26th frame.
    EXPECT_EQ(run.trace, "page 1\npage 2 after 25\n");
}

TEST(SceneSwitchRun, SavedSceneLoadsBackAndSavesTheSame) {
    const char* data =
        "data book 'hotspot{name=\"door\",rect=\"10,20,30,40\",action=\"walk\",dest_scene=\"hall\",order=3}'";
    std::string root = MakeRoot("save", std::string("pages book 2 64 48 ") + data);
    std::string save_and_quit = R"lua(
  if frame == 1 then ge_switchscene("book") end
  if frame == 2 then ge_pagein(2) end
  if frame == 40 then trace("page " .. ge_getpageno()) scene_save() quit() end
)lua";
    EngineRun first = RunEngineIn(root, Main("", save_and_quit));
    ASSERT_EQ(first.exit_code, 0) << first.log;
    std::string saved = quild_test::ReadFile(root + "/stages/book/data.lua");
    EXPECT_EQ(first.trace, "page 2\n");
    EXPECT_NE(saved.find("beginscene()\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("hotspot { name=\"door\", "), std::string::npos) << saved;
    EXPECT_NE(saved.find("scene{name=\"book\",viewtype=1,currentPage=\"page2\",}\r\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("hotspots.bin"), std::string::npos);

    // The saved file is the scene's data now: loading it gives the same
    // scene (page 2 current) and saving again writes the same text. The
    // generic entries call the game's own object().
    EngineRun second = RunEngineIn(root, Main("function object(t) if t.class == 'page' then page(t) end end\n", R"lua(
  if frame == 1 then ge_switchscene("book") end
  if frame == 2 then trace("page " .. ge_getpageno()) scene_save() quit() end
)lua"));
    ASSERT_EQ(second.exit_code, 0) << second.log;
    EXPECT_EQ(second.trace, "page 2\n");
    EXPECT_EQ(quild_test::ReadFile(root + "/stages/book/data.lua"), saved);

    // Without object() the file stops loading at its first generic entry:
    // the scene holds only what came before, and a save leaves the file as
    // it is. So does a save of a scene whose file was never loaded.
    EngineRun third = RunEngineIn(root, Main("", R"lua(
  if frame == 1 then scene{name = "book"} scene_save("book") ge_switchscene("book") end
  if frame == 2 then trace("pages " .. ge_getpagecount()) scene_save() quit() end
)lua"));
    ASSERT_EQ(third.exit_code, 0) << third.log;
    EXPECT_EQ(third.trace, "pages 0\n");
    EXPECT_EQ(quild_test::ReadFile(root + "/stages/book/data.lua"), saved);
    EXPECT_NE(third.log.find("[ERROR] - scene book not saved: its data.lua has not been loaded; "
                             "stages/book/data.lua is left as it is"),
              std::string::npos)
        << third.log;
    EXPECT_NE(third.log.find("[ERROR] - scene book not saved: its data.lua stopped at a script error when it was "
                             "loaded; stages/book/data.lua is left as it is"),
              std::string::npos)
        << third.log;
}

// A close request that comes while a node's data.lua runs (a SIGTERM the
// file sends itself) ends the file there: the hotspots after it are not
// made, and the shut-down's scene_save leaves the whole file as it is.
TEST(SceneSwitchRun, ANodeCutByACloseRequestIsNotSavedOverItsFile) {
    std::string root = MakeRoot("cut", "pages book 2 64 48");
    const std::string path = root + "/stages/book/data.lua";
    std::string data = quild_test::ReadFile(path) +
                       "hotspot{name='first',rect='1,1,2,2'}\n"
                       "os.execute('kill -TERM ' .. io.open('/proc/self/stat'):read('*n'))\n";
    for (int i = 0; i < 20; ++i) data += "hotspot{name='after" + std::to_string(i) + "',rect='1,1,2,2'}\n";
    quild_test::WriteFile(path, data);
    EngineRun run = RunEngineIn(root, Main("function OnGameQuit() trace('hotspots ' .. #ge_gethotspotslist()) "
                                           "scene_save() end\n",
                                           "  if frame == 1 then ge_switchscene('book') end\n"));
    EXPECT_EQ(run.exit_code, 0) << run.log;
    EXPECT_EQ(run.trace, "hotspots 1\n");
    EXPECT_EQ(quild_test::ReadFile(path), data);
    EXPECT_NE(run.log.find("[ERROR] - scene book not saved: its data.lua stopped at a script error"),
              std::string::npos)
        << run.log;
}

TEST(SceneSwitchRun, SavingAnotherCubeSceneLeavesItsHotspotMapAlone) {
    std::string root = MakeRoot("savemap", "cube here 16 map here 10 20 -5 5 1 cube there 16 map there 100 110 0 3 2");
    const std::string there_map = quild_test::ReadFile(root + "/stages/there/hotspots.bin");
    EngineRun run = RunEngineIn(root, Main("", R"lua(
  if frame == 1 then ge_switchscene("there") end
  if frame == 2 then ge_switchscene("here") end
  if frame == 3 then scene_save("there") quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    EXPECT_EQ(quild_test::ReadFile(root + "/stages/there/hotspots.bin"), there_map);
    EXPECT_NE(quild_test::ReadFile(root + "/stages/there/data.lua").find("cubefaces{name=\"base\""), std::string::npos);
}

TEST(SceneSwitchRun, BadHotspotMapIsLoggedAndTheSceneStillLoads) {
    std::string root = MakeRoot("badmap", "cube broken 16 badmap broken zbuffer broken 100 7");
    EngineRun run = RunEngineIn(root, Main("TRACE_GAME = true\n", R"lua(
  if frame == 1 then ge_switchscene("broken") end
  if frame == 3 then ge_switchscene("nosuchnode") end
  if frame == 5 then quit() end
)lua"));
    ASSERT_EQ(run.exit_code, 0) << run.log;
    EXPECT_NE(run.log.find("[ERROR] ZLIB - Can't decompress hotspot data (-3)"), std::string::npos) << run.log;
    EXPECT_NE(run.trace.find("G:OnGameSceneStart(broken,)"), std::string::npos) << run.trace;
    // A node of faces alone is no mistake; a name with nothing behind it is
    // named in the log.
    EXPECT_EQ(LogLinesStartingWith(run.log, "[WARNING] - SCENE"),
              "[WARNING] - SCENE nosuchnode : no data (stages/nosuchnode/data.lua) and no faces: the node is empty\n")
        << run.log;
}

}  // namespace

namespace {

// Frame by frame: the scene is made current, then one call runs with a
// finalizer that takes a destructive action at its n-th collection step
// inside the call (n = 1, 2, ... until the call ends before that step).
// The case's text defines call(h) and action(h); h is the hotspot "door".
std::string ActionAtEveryStep(const std::string& cases) {
    return R"lua(
if frame == 1 then
  local meta = newproxy(true)
  local steps, n, action, h
  getmetatable(meta).__gc = function()
    if not RENEW then return end
    steps = steps + 1
    if steps == n then action(h) end
    newproxy(meta)
  end
  function armed(case, step)
    steps, n, action, h = 0, 0, case.action, hs_get("door")
    RENEW = true newproxy(meta)
    collectgarbage("setpause", 1) collectgarbage("setstepmul", 100000000) collectgarbage("collect")
    steps, n = 0, step
    pcall(case.call, h)
    RENEW = false
    collectgarbage("setpause", 200) collectgarbage("setstepmul", 200)
    return steps
  end
  CASES = {)lua" + cases + R"lua(}
  case, step, fired = 1, 1, {}
end
if case > #CASES then
  trace("fired " .. table.concat(fired, ",") .. ",") quit()
elseif not hs_get("door") then
  scene_unloadall() ge_setscene("hall")
else
  local steps = armed(CASES[case], step)
  if steps < step or step >= 40 then
    case, step = case + 1, 1
  else
    step, fired[case] = step + 1, (fired[case] or 0) + 1
  end
end
)lua";
}

}  // namespace

// Lua that runs inside engine work (a finalizer at any collection step of a
// call) frees the scene, the object or every resource the call holds: the
// call goes on with what it holds, and the game with the scene gone.
TEST(SceneSwitchRun, WhatLuaFreesInsideACallIsReleasedWhenTheCallEnds) {
    const char* data = "data hall 'hotspot{name=\"door\",rect=\"10,20,30,40\",bgimage=\"_LOCAL/missing\"}'";
    std::string root = MakeRoot("freed_inside", std::string("cube hall 16 ") + data);
    EngineRun run = RunEngineIn(root, Main("_LOCAL = 'data'\n", ActionAtEveryStep(R"lua(
    {call = function() scene_save() end, action = function() scene_unloadall() end},
    {call = function(h) local f = fopenWrite("object.txt") fobjectPrint(f, h) fclose(f) end,
     action = function(h) hs_remove(h) end},
    {call = function(h) local f = fopenWrite("object.txt") fobjectPrint(f, h) fclose(f) end,
     action = function() scene_unloadall() end},
    {call = function(h) ge_setproperty(h, "bgimage", "_LOCAL/other") end, action = function(h) hs_remove(h) end},
    {call = function(h) ge_setproperty(h, "bgimage", "_LOCAL/other") end,
     action = function() removeAllResources() end},
    {call = function(h) return ge_getproperty(h, "rect"), hs_getname(h) end,
     action = function(h) ge_deleteobject(h) end},
)lua")));
    ASSERT_EQ(run.exit_code, 0) << run.output << run.log;
    EXPECT_EQ(run.output.find("Sanitizer"), std::string::npos) << run.output;
    // Each case's action fired inside its call, at one step or more.
    ASSERT_EQ(run.trace.rfind("fired ", 0), 0u) << run.trace << run.log;
    int cases = 0;
    for (size_t at = 6, comma; (comma = run.trace.find(',', at)) != std::string::npos; at = comma + 1, ++cases)
        EXPECT_GE(std::stoi(run.trace.substr(at, comma - at)), 1) << run.trace;
    EXPECT_EQ(cases, 6) << run.trace;
}
