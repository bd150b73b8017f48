#include "sweep_script.h"

#include <cstdlib>
#include <sstream>

namespace seqfuzz {
namespace {

// Long brackets whose level the text cannot close.
// (A text ending in "]" gets a space, which Lua's closing bracket would
// otherwise take.)
std::string Long(const std::string& text) {
    const std::string s = !text.empty() && text.back() == ']' ? text + " " : text;
    std::string eq;
    while (s.find("]" + eq + "]") != std::string::npos) eq += "=";
    return "[" + eq + "[" + s + "]" + eq + "]";
}

// The sweep's driver, behind the game's start-up script and the slice's
// tables (SW). A call takes two frames: OnGameUpdate puts the cube scene
// back afresh; at the next frame, once the engine has made the switch, it
// evaluates the next argument list, arms the trigger and makes the call,
// and the game's own update follows; the frame after draws what the call
// left before the next restore. Everything the sweep needs
// inside an armed call is a local taken beforehand, so that the sweep's
// own code neither reaches the globals' metamethods nor allocates.
const char* kSweepDriver = R"lua(
if not SW.driver then
SW.driver = true
local G = _G
local pcall, unpack, select, type, ipairs, pairs = pcall, unpack, select, type, ipairs, pairs
local setmetatable, getmetatable, rawget, rawset = setmetatable, getmetatable, rawget, rawset
local newproxy, collectgarbage, loadstring, io_open, concat, floor = newproxy, collectgarbage, loadstring, io.open,
  table.concat, math.floor
local E = {}
for _, n in ipairs({"scene_unloadall", "removeAllResources", "hs_remove", "ge_deleteobject", "ge_switchscene",
                    "scene_reload", "ge_stoptasks", "ge_stopvideo", "seteditormode",
                    "freezescene", "enablescene", "enablehotspotevents", "ge_consoleenabled", "ge_toggleconsole",
                    "quit", "fuzz_unpaced", "ge_postfx", "ge_istranstionfx", "hs_get", "fopenWrite",
                    "fobjectPrint", "fclose", "gtext_new", "gtext_get", "gtext_remove", "gtext_freeall",
                    "edit_create", "edit_destroy", "edit_gettext", "rect_const", "removescript", "dumpscript",
                    "runscript", "run", "hs_getname", "ge_newobject", "hs_moveto", "hs_resize", "hs_setvisible",
                    "hs_setenable", "hs_checkevents", "hs_remove", "fuzz_input", "ge_walk", "ge_dissolve",
                    "ge_zoomin", "ge_playvideo", "ge_task", "ge_settask", "ge_getsceneobject",
                    "scene_get", "hotspot", "fuzz_mustwait"}) do
  E[n] = G[n]
end

-- What the argument lists of the sequences use: the pool of kept handles,
-- a destroyed edit box.
FZ = FZ or {pool = {}, kept = 0}
function FZ_KEEP(...)
  for i = 1, select("#", ...) do
    local v = select(i, ...)
    if type(v) == "userdata" then
      FZ.kept = FZ.kept % 64 + 1
      FZ.pool[FZ.kept] = v
    end
  end
  return ...
end
function FZ_AT(t, k)
  if type(t) ~= "table" or #t == 0 then return nil end
  return t[k % #t + 1]
end
function P(k) return FZ_AT(FZ.pool, k) end
function FZ_HANDLE() end
if FZ_STALE == nil then
  FZ_STALE = edit_create(rect_const(0, 0, 10, 10, 0), "main", 0, "FFFFFFFF")
  edit_destroy(FZ_STALE)
end
local function fill_pool()
  FZ.pool, FZ.kept = {}, 0
  pcall(function()
    FZ_KEEP(hs_get("v_note"), hs_get("v_tag"), hs_get("v_door"), mesh_get("statue"), mesh_get("bust"),
            fx_get("moon"), patch_get("flame"), point_get("torch"), pobject_get("sparks"), scene_get(0),
            ge_getview(), ge_getfont(), ge_getsceneobject("surface", "clouds", "vault"),
            ge_getsceneobject("cubeface", "base", "vault"), im_get("data/ui/panel"), snd_get("data/sounds/click"),
            gtext_get("welcome"), dlg_new(), matrix_new(), quaternion_new(), scene_get("hall"))
  end)
end

local st = {counting = nil, renew = false, count = 0, target = 0, fired = false}
local function note(...)
  local f = io_open("sweep_runs.log", "a")
  if f then f:write(concat({...}, " "), "\n") f:close() end
end

-- A release whose effect did not show at once.
function SW.stale(what)
  if not st.stale_seen then
    st.stale_seen = true
    note("stale", (what:gsub("%s", "_")))
  end
end

-- The actions; the objects are the arguments that are userdata.
local ACT = {
  scene_unloadall = function() E.scene_unloadall() end,
  removeAllResources = function() E.removeAllResources() end,
  hs_remove = function(o) for i = 1, #o do E.hs_remove(o[i]) end end,
  ge_deleteobject = function(o) for i = 1, #o do E.ge_deleteobject(o[i]) end end,
  ge_switchscene = function() E.ge_switchscene("hall") end,
  scene_reload = function() E.scene_reload() end,
  -- A file written and closed is on disk at once, whatever runs below.
  fclose = function(o)
    local f = E.fopenWrite("sw_written.txt")
    if not f then return end
    local printed = SW.print_object
    if not printed or E.hs_getname(printed) == nil then E.fclose(f) return end
    E.fobjectPrint(f, printed)
    E.fclose(f)
    local r = io_open("sw_written.txt", "rb")
    local text = r and r:read("*a") or ""
    if r then r:close() end
    if text == "" then SW.stale("fclose: the file closed is empty") end
  end,
  gtext_remove = function()
    E.gtext_remove(E.gtext_get("sw_text"))
    if E.gtext_get("sw_text") then SW.stale("gtext_remove: the text is still found") end
  end,
  gtext_freeall = function()
    E.gtext_freeall()
    if E.gtext_get("sw_text") then SW.stale("gtext_freeall: a text is still found") end
  end,
  edit_destroy = function()
    local box = SW.box
    if not box then return end
    E.edit_destroy(box)
    if type(E.edit_gettext(box)) == "string" then SW.stale("edit_destroy: the box still answers") end
  end,
  -- The script cache: a chunk dropped or replaced while it may be read.
  removescript = function() E.removescript("sandbox/sw_chunk") end,
  dumpscript = function()
    local f = io_open("sandbox/sw_chunk.lua", "wb")
    if f then
      SW.version = SW.version + 1
      f:write("SW_CHUNK_RUNS = (SW_CHUNK_RUNS or 0) + 1 -- version ", SW.version, "\n")
      f:close()
    end
    E.dumpscript("sandbox/sw_chunk")
  end,
}
local NEEDS_OBJECT = {hs_remove = true, ge_deleteobject = true}
SW.version = 0

-- The armed state: `counting` names the trigger that counts.
local function fire()
  st.counting, st.renew, st.fired = nil, false, true
  collectgarbage("setpause", 200)
  collectgarbage("setstepmul", 200)
  -- What a removal takes out of the lists is gone for scripts at once
  -- (ge_deleteobject deletes objects of the current scene alone).
  local check = st.check
  if check and st.action_name == "ge_deleteobject" then
    local o, here = check[1], nil
    if o then
      local name = E.hs_getname(o)
      here = name and E.hs_get(name) == o
    end
    if not here then check = nil end
  end
  pcall(st.action, st.objects)
  if check then
    for i = 1, #check do
      if E.hs_getname(check[i]) ~= nil then SW.stale(st.action_name .. ": a removed hotspot is still found") end
    end
  end
end
local function counted(kind)
  if st.counting == kind then
    st.count = st.count + 1
    if st.count >= st.target then fire() end
  end
end

-- A finalizer at every collection step: with the collector's pause at 1%
-- and its step unbounded, each allocation runs a whole cycle, whose
-- finalizer leaves a new garbage proxy behind for the next.
local base = newproxy(true)
getmetatable(base).__gc = function()
  counted("gc")
  if st.renew then newproxy(base) end
end
SW.base = base

-- Default globals: while armed, the engine's configuration variables (and
-- the fields of its configuration tables) are served by __index from a
-- table beside _G, and new globals are kept there by __newindex.
local CONFIG = {"DIR_ROOT", "DIR_STAGES", "DIR_SCRIPTS", "_LOCAL", "Display", "Gameplay"}
local FIELDS = {Display = {"fov", "aspect", "useshaders"},
                Gameplay = {"fadefxtime", "pagefxtime", "walkfxtime", "dissolvefxtime"}}
local defaults, shadow, fields = {}, {}, {}
local gmeta = {
  __index = function(t, k)
    counted("index")
    local v = shadow[k]
    if v == nil then v = defaults[k] end
    return v
  end,
  __newindex = function(t, k, v)
    counted("newindex")
    shadow[k] = v
  end,
}
local fmeta = {__index = function(t, k)
  counted("index")
  local d = fields[t]
  return d and d[k]
end}
local function lift()
  st.previous = getmetatable(G)
  rawset(G, "SW_SEEN", nil)
  for _, k in ipairs(CONFIG) do
    local v = rawget(G, k)
    if v ~= nil then defaults[k] = v rawset(G, k, nil) end
  end
  for name, keys in pairs(FIELDS) do
    local t = defaults[name]
    if type(t) == "table" and getmetatable(t) == nil then
      local d = {}
      for _, k in ipairs(keys) do d[k] = rawget(t, k) rawset(t, k, nil) end
      fields[t] = d
      setmetatable(t, fmeta)
    end
  end
  setmetatable(G, gmeta)
end
local function settle()
  setmetatable(G, st.previous)
  for t, d in pairs(fields) do
    setmetatable(t, nil)
    for k, v in pairs(d) do if rawget(t, k) == nil then rawset(t, k, v) end end
  end
  fields = {}
  for k, v in pairs(shadow) do rawset(G, k, v) end
  shadow = {}
  for k, v in pairs(defaults) do if rawget(G, k) == nil then rawset(G, k, v) end end
  defaults = {}
end

local function arm(trigger, step, action)
  st.count, st.target, st.fired, st.action, st.action_name = 0, step, false, ACT[action], action
  st.stale_seen = false
  st.trigger = trigger
  if trigger == "gc" then
    st.renew = true
    newproxy(base)
    collectgarbage("setpause", 1)
    collectgarbage("setstepmul", 100000000)
    collectgarbage("collect")
  else
    lift()
  end
  st.counting = trigger
end
local function disarm()
  st.counting, st.renew = nil, false
  collectgarbage("setpause", 200)
  collectgarbage("setstepmul", 200)
  if st.trigger ~= "gc" then settle() end
  st.trigger = nil
  return st.fired
end

local function evaluate(text)
  local chunk = loadstring("return " .. text, "=sweep arguments")
  local a = {n = 0}
  if not chunk then return a end
  local r = (function(...) return {n = select("#", ...), ...} end)(pcall(chunk))
  if not r[1] then return a end
  for i = 2, r.n do a[i - 1] = r[i] end
  a.n = r.n - 1
  return a
end

-- The cube scene afresh (every other scene unloaded, so that a switch the
-- call makes loads its scene), and whatever a call may have left switched
-- on switched off. The switch is made at the next frame's start.
local function restore()
  if SW.restore_path then SW.restore_path() end
  pcall(E.ge_stoptasks)
  pcall(E.ge_stopvideo)
  pcall(E.seteditormode, 0)
  pcall(E.freezescene, false)
  pcall(E.enablescene, true)
  pcall(E.enablehotspotevents, true)
  pcall(E.ge_postfx, "")
  local ok, open = pcall(E.ge_consoleenabled)
  if ok and open then pcall(E.ge_toggleconsole) end
  pcall(E.scene_unloadall)
  pcall(E.ge_switchscene, "vault")
end
local function ready()
  local ok, busy = pcall(E.ge_istranstionfx)
  local ok2, note_hotspot = pcall(E.hs_get, "v_note")
  return ok and not busy and ok2 and note_hotspot ~= nil
end

-- The engine's own paths that run Lua while they hold objects ("path:..."
-- in the slice): each makes its objects and handlers unarmed over its
-- `prep` frames, then `go` starts the path armed, and the engine runs it
-- in the frames that follow (up to `frames`, or until `done`). Every
-- handler allocates and reads and writes a global, so that each
-- collection step and globals metamethod call inside the path comes.
local HANDLERS = {"OnGameMouseEnter", "OnGameMouseLeave", "OnGameHotspotClick", "OnGameMouseDown", "OnGameMouseUp",
                  "OnGameKeyDown", "OnGameKeyUp", "OnGameCharTyped", "OnGameRender", "OnGameSceneStart",
                  "OnGameNodeLeave", "OnGameNodeExit", "OnGameNodeInit", "OnGameNodeEnter", "OnGameSceneSwitch",
                  "OnSceneLeave", "OnSceneExit", "OnSceneInit", "OnSceneEnter", "OnSceneBeforeInit",
                  "OnSceneUpdate", "OnSceneRender", "OnSceneAfterRender", "OnSceneMouseMove", "OnGameVideoClosed",
                  "On2DSceneUpdate", "On3DSceneUpdate", "SW_TASK"}
-- Handlers the engine calls while it holds objects (the hovered hotspots' too): a
-- release asked for inside them has to wait for the engine's work to end.
local HELD = {OnSceneExit = true, OnSceneBeforeInit = true, OnGameNodeInit = true, OnGameSceneStart = true,
              OnGameNodeLeave = true, OnGameSceneSwitch = true, OnSceneLeave = true, OnGameNodeExit = true,
              OnGameNodeEnter = true, OnSceneInit = true, OnSceneEnter = true, On3DSceneUpdate = true,
              On2DSceneUpdate = true, OnSceneAfterRender = true, OnSceneRender = true, OnGameVideoClosed = true}
-- The hover holds its hotspots across their handlers; a press or a release
-- reads nothing of the hotspot once its handler has run.
local HOVER = {MouseEnter = true, MouseMove = true, MouseLeave = true}
for _, h in ipairs({"swa", "swb"}) do
  for _, ev in ipairs({"MouseEnter", "MouseMove", "MouseLeave", "MouseDown", "MouseUp", "MouseClick"}) do
    HANDLERS[#HANDLERS + 1] = h .. "_" .. ev
    HELD[h .. "_" .. ev] = HOVER[ev]
  end
end
local saved_handlers, installed = {}, false
local function handler_body(...)
  local t = {...}
  t.n = select("#", ...)
  local seen = G.SW_UNSET
  G.SW_SEEN = (seen or 0) + t.n
  SW.handled = SW.handled + 1
end
SW.handled = 0
local function install_handlers()
  if installed then return end
  installed = true
  for _, name in ipairs(HANDLERS) do
    local inner = rawget(G, name)
    saved_handlers[name] = inner or false
    local closed, held = name == "OnGameVideoClosed", HELD[name]
    rawset(G, name, function(...)
      if closed then SW.video_closed = true end
      if held and st.trigger and not E.fuzz_mustwait() then SW.stale("a release in " .. name .. " would not wait") end
      if SW_DEBUG then SW.names = (SW.names or "") .. "," .. name end
      handler_body(...)
      if type(inner) == "function" then return inner(...) end
    end)
  end
end
local function remove_handlers()
  if not installed then return end
  installed = false
  for name, inner in pairs(saved_handlers) do rawset(G, name, inner or nil) end
  saved_handlers = {}
  rawset(G, "SW_SEEN", nil)
end
-- Two interface hotspots side by side, at the screen's top left (A) and
-- right of it (B), in the virtual screen's units as the pointer's place.
local function hotspot(name, x, w)
  local ok, h = pcall(E.hotspot, {name = name, rect = x .. ",0," .. w .. ",100", visible = true})
  return ok and h or nil
end
local function make_objects()
  install_handlers()
  if not SW.print_object or E.hs_getname(SW.print_object) == nil then
    SW.print_object = hotspot("sw_print", 0, 1)
  end
  SW.A, SW.B = hotspot("swa", 0, 100), hotspot("swb", 150, 400)
  pcall(E.hs_checkevents)
  SW.text = E.gtext_new("sw_text")
  SW.box = E.edit_create(E.rect_const(0, 200, 50, 20, 0), "main", 0, "FFFFFFFF")
end
local function pointer(x, y) E.fuzz_input("move", x, y) end
-- The two hotspots, and one of the cube scene's (what ge_deleteobject deletes).
local function both() return {SW.A, SW.B, E.hs_get("v_note")} end
local function current_is(name)
  return function()
    local ok, s = pcall(E.scene_get, 0)
    return ok and s ~= nil and s == E.scene_get(name) and not E.ge_istranstionfx()
  end
end
local PATHS = {
  -- The pointer from A onto B: B's move, the game's and A's leave, the
  -- game's and B's enter, the scene's move.
  ["path:hover"] = {prep = {function() make_objects() pointer(20, 20) end, function() end},
                    go = function() pointer(500, 20) end, objects = both},
  -- Within A: A's move alone.
  ["path:hover_move"] = {prep = {function() make_objects() pointer(20, 20) end, function() end},
                         go = function() pointer(40, 30) end, objects = both},
  -- From A to nothing: the leaves alone.
  ["path:hover_leave"] = {prep = {function() make_objects() pointer(20, 20) end, function() end},
                          go = function() pointer(600, 600) end, objects = both},
  -- A press and release on A: the downs, the ups and the click.
  ["path:click"] = {prep = {function() make_objects() pointer(20, 20) end, function() end},
                    go = function() E.fuzz_input("down", 1) E.fuzz_input("up", 1) end, objects = both},
  ["path:key"] = {prep = {function() make_objects() pointer(20, 20) end},
                  go = function() E.fuzz_input("key", "a", "tap") E.fuzz_input("text", "a") end, objects = both},
  -- A node switch and its handlers (the scene loads with its script).
  ["path:switch"] = {prep = {make_objects}, go = function() E.ge_switchscene("hall") end, objects = both,
                     frames = 4, done = current_is("hall")},
  ["path:walk"] = {prep = {make_objects}, go = function() E.ge_walk("hall", 1, 40) end, objects = both,
                   frames = 40, done = current_is("hall")},
  ["path:dissolve"] = {prep = {make_objects}, go = function() E.ge_dissolve("hall") end, objects = both,
                       frames = 40, done = current_is("hall")},
  ["path:zoom"] = {prep = {make_objects}, go = function() E.ge_zoomin("hall") end, objects = both,
                   frames = 40, done = current_is("hall")},
  -- A frame drawn: the scene's and the game's drawing handlers.
  ["path:draw"] = {prep = {make_objects}, go = function() end, objects = both, frames = 2},
  -- The video played and closed by a key: its drawing and OnGameVideoClosed.
  ["path:video"] = {prep = {make_objects}, go = function()
                      E.ge_playvideo("intro", false)
                      E.fuzz_input("key", "space", "tap")
                    end, objects = both, frames = 60, done = function() return SW.video_closed end},
  -- The statement queue: statements run one a frame.
  ["path:tasks"] = {prep = {make_objects}, go = function()
                      E.ge_stoptasks()
                      E.ge_task("SW_TASK(1);SW_TASK(2);SW_TASK(3)")
                      E.ge_settask()
                    end, objects = both, frames = 6},
  -- The script cache: a cached chunk run again, compiled again.
  ["path:runscript"] = {prep = {function() make_objects() E.runscript("sandbox/sw_chunk") end},
                        go = function() E.runscript("sandbox/sw_chunk") end, objects = both},
  ["path:dumpscript"] = {prep = {function() make_objects() E.dumpscript("sandbox/sw_chunk") end},
                         go = function() E.dumpscript("sandbox/sw_chunk") end, objects = both},
}
SW.paths = PATHS

-- The path's objects and handlers gone; the sandbox's script as it was.
local function restore_path()
  remove_handlers()
  for _, k in ipairs({"A", "B"}) do
    if SW[k] then pcall(E.hs_remove, SW[k]) SW[k] = nil end
  end
  if SW.box then pcall(E.edit_destroy, SW.box) SW.box = nil end
  if SW.text then pcall(E.gtext_remove, SW.text) SW.text = nil end
  SW.video_closed = nil
  -- The pointer off the hotspots, whatever path ran before.
  pcall(E.fuzz_input, "move", 1000, 700)
  local f = io_open("sandbox/sw_chunk.lua", "wb")
  if f then f:write("SW_CHUNK_RUNS = (SW_CHUNK_RUNS or 0) + 1\n") f:close() end
  rawset(G, "SW_SEEN", nil)
end
SW.restore_path = restore_path

-- The combinations of the slice from the starting place on, as
-- {function, list, action, trigger} (1-based).
local function key(f, l, a, t) return ((f * 100 + l) * 100 + a) * 100 + t end
local Q = {}
local from = key(SW.from[1], SW.from[2], SW.from[3], SW.from[4])
-- With a sample of n, a script function takes, for each argument list and
-- trigger, every n-th action (from an offset the list and trigger give, so
-- that each action meets each function); a replay of one combination and
-- the engine's paths take them all.
local replay = SW.only.list or SW.only.action or SW.only.trigger or SW.only.step
local function sampled(fi, li, ai, ti)
  return SW.sample <= 1 or replay or SW.paths_named[SW.fns[fi].name] or (ai + li + ti) % SW.sample == 0
end
for fi, fe in ipairs(SW.fns) do
  for li = 1, #fe.lists do
    for ai, an in ipairs(SW.actions) do
      for ti, tn in ipairs(SW.triggers) do
        if key(fi, li, ai, ti) >= from and sampled(fi, li, ai, ti) and (not SW.only.list or SW.only.list == li) and
           (not SW.only.action or SW.only.action == an) and (not SW.only.trigger or SW.only.trigger == tn) and
           not SW.known[fe.name] and not SW.known[fe.name .. " " .. an] and
           not SW.known[fe.name .. " " .. an .. " " .. tn] then
          Q[#Q + 1] = {fi, li, ai, ti}
        end
      end
    end
  end
end
local qi, step = 1, SW.only.step or 1
local noobject, never = {}, {}
local phase, waited, through = "restore", 0, false
local path_left, path_done, path_stage = 0, nil, 0

-- With a sample of n, a script function's dense steps after the first are
-- every n-th, from an offset the combination gives (the same in every
-- run), and the sparse ones grow n/2 as far again each; the engine's paths
-- take every step.
local function next_step(s, q)
  local n = SW.sample
  if n <= 1 or PATHS[SW.fns[q[1]].name] then
    if s < SW.dense then return s + 1 end
    return floor(s * 1.5)
  end
  if s < SW.dense then
    local offset = (q[1] * 7 + q[2] * 5 + q[3] * 3 + q[4]) % n
    repeat s = s + 1 until s >= SW.dense or (s + offset) % n == 0
    return s
  end
  return floor(s * (1 + 0.5 * n))
end

-- The end of a call (or, for a function whose work the engine does at the
-- next frame's start, of that frame's work too): the next step, or the next
-- combination when the action did not fire.
local function finish()
  local fired = disarm()
  through = false
  note(fired and "fired" or "quiet", SW.handled, SW.names or "")
  SW.handled, SW.names = 0, nil
  local q = Q[qi]
  if not fired and step == 1 and not SW.only.action then never[(q[1] * 100 + q[2]) * 100 + q[4]] = true end
  if fired and not SW.only.step and step < SW.cap then
    step = next_step(step, q)
    if step > SW.cap then step = SW.cap end
  else
    if fired and not SW.only.step then note("capped") end
    qi, step = qi + 1, SW.only.step or 1
  end
end

-- A run takes two frames: one puts the cube scene back, the next makes
-- the call, and the frame after it is drawn before the next restore.
function SW_STEP()
  if SW.done then return end
  if E.fuzz_unpaced then E.fuzz_unpaced() end
  if through then
    if path_left > 0 and not (path_done and path_done()) then
      path_left = path_left - 1
      return
    end
    finish()
  end
  if phase == "restore" then
    restore()
    phase, waited = "wait", 0
    return
  end
  if not ready() then
    waited = waited + 1
    if waited % 25 == 0 then restore() end
    if waited > 500 then
      note("stuck", "the cube scene did not come back")
      SW.done = true
      E.quit()
    end
    return
  end
  local q = Q[qi]
  -- (A list without objects skips the actions on objects; a trigger that
  -- never came inside the call, with one action, the other actions.)
  while q and ((NEEDS_OBJECT[SW.actions[q[3]]] and noobject[q[1] * 100 + q[2]]) or
               never[(q[1] * 100 + q[2]) * 100 + q[4]]) do
    qi, step = qi + 1, SW.only.step or 1
    q = Q[qi]
  end
  if not q then
    SW.done = true
    note("end")
    E.quit()
    return
  end
  local fe = SW.fns[q[1]]
  local action, trigger = SW.actions[q[3]], SW.triggers[q[4]]
  local path = PATHS[fe.name]
  if path then
    if path_stage < #path.prep then
      path_stage = path_stage + 1
      pcall(path.prep[path_stage])
      return
    end
    path_stage = 0
    local objects = path.objects()
    st.objects = objects
    st.check = action == "hs_remove" and objects or action == "ge_deleteobject" and {objects[#objects]} or nil
    through = true
    path_left, path_done = path.frames or 1, path.done
    note("run", q[1] - 1, q[2] - 1, q[3] - 1, q[4] - 1, step, fe.name, action, trigger, "through")
    arm(trigger, step, action)
    pcall(path.go)
    phase = "restore"
    return
  end
  st.check = nil
  fill_pool()
  local a = evaluate(fe.lists[q[2]])
  local fn = rawget(G, fe.name)
  local objects = {}
  for i = 1, a.n do if type(a[i]) == "userdata" then objects[#objects + 1] = a[i] end end
  if type(fn) ~= "function" or (NEEDS_OBJECT[action] and #objects == 0) then
    if type(fn) ~= "function" then note("missing", fe.name) end
    if #objects == 0 then noobject[q[1] * 100 + q[2]] = true end
    qi, step = qi + 1, SW.only.step or 1
    phase = "restore"
    return
  end
  st.objects = objects
  -- The index trigger also counts the reads of the argument tables' fields:
  -- each table's fields are served by its __index.
  if trigger == "index" then
    for i = 1, a.n do
      local t = a[i]
      if type(t) == "table" and getmetatable(t) == nil then
        local fields = {}
        for k, v in pairs(t) do fields[k] = v end
        for k in pairs(fields) do rawset(t, k, nil) end
        setmetatable(t, {__index = function(_, k)
          counted("index")
          return fields[k]
        end})
      end
    end
  end
  through = SW.through[fe.name] or false
  note("run", q[1] - 1, q[2] - 1, q[3] - 1, q[4] - 1, step, fe.name, action, trigger, through and "through" or "")
  arm(trigger, step, action)
  pcall(fn, unpack(a, 1, a.n))
  if not through then finish() end
  phase = "restore"
end

-- OnGameUpdate runs the sweep's step first, then the game's own; put back
-- whenever a script replaced it.
function SW_INSTALL()
  local current = rawget(G, "OnGameUpdate")
  if current ~= nil and current == SW.update then return end
  local inner = current
  SW.update = function(...)
    SW_STEP()
    SW_INSTALL()
    if type(inner) == "function" then return inner(...) end
  end
  rawset(G, "OnGameUpdate", SW.update)
end
note("start", #Q)
end
SW_INSTALL()
)lua";

}  // namespace

const std::vector<std::string>& SweepActions() {
    static const std::vector<std::string> v = {
        "scene_unloadall", "removeAllResources", "hs_remove",     "ge_deleteobject", "ge_switchscene", "scene_reload",
        "fclose",          "gtext_remove",       "gtext_freeall", "edit_destroy",    "removescript",   "dumpscript"};
    return v;
}

const std::vector<std::string>& SweepTriggers() {
    static const std::vector<std::string> v = {"gc", "index", "newindex"};
    return v;
}

const std::vector<std::pair<std::string, std::string>>& SweepSkipped() {
    static const std::vector<std::pair<std::string, std::string>> v = {
        {"quit", "ends the game"},
        {"errorbox", "shows a message box and waits for it"},
    };
    return v;
}

const std::vector<std::pair<std::string, std::string>>& SweepPlausibleOnly() {
    static const std::vector<std::pair<std::string, std::string>> v = {
        {"ge_resetdisplay", "a mode the display refuses ends the game"},
    };
    return v;
}

const std::vector<std::string>& SweepPaths() {
    static const std::vector<std::string> v = {
        "path:hover", "path:hover_move", "path:hover_leave", "path:click", "path:key",    "path:switch",
        "path:walk",  "path:dissolve",   "path:zoom",        "path:draw",  "path:video", "path:tasks",
        "path:runscript", "path:dumpscript"};
    return v;
}

const std::vector<std::string>& SweepSandboxed() {
    static const std::vector<std::string> v = {"removescript", "dumpscript", "runscript"};
    return v;
}

std::vector<std::string> SandboxArguments() {
    return {"\"sandbox/sw_chunk\"", "\"sandbox/sw_chunk.lua\", 1", "\"sandbox/sw_chunk.lua\""};
}

const std::vector<std::string>& SweepThrough() {
    static const std::vector<std::string> v = {
        "ge_switchscene", "ge_setscene",    "ge_dissolve",    "ge_zoomin",      "ge_walk",
        "ge_pagein",      "ge_setpage",     "ge_setnextpage", "ge_setprevpage", "ge_setlastpage",
        "ge_task",        "ge_settask",     "ge_nexttask",    "ge_playvideo",   "ge_saveshot",
        "freezescene",    "ge_resetdisplay"};
    return v;
}

SweepPlace SweepPlaceAfter(const SweepPlace& failed) {
    SweepPlace p = failed;
    if (++p.trigger < static_cast<int>(SweepTriggers().size())) return p;
    p.trigger = 0;
    if (++p.action < static_cast<int>(SweepActions().size())) return p;
    p.action = 0;
    ++p.list;  // (past the function's last list: its next function)
    return p;
}

std::string SweepScript(const std::string& demo_main, const std::vector<SweepEntry>& slice,
                        const SweepPlace& from, const SweepLimits& limits) {
    std::ostringstream s;
    // Short transitions: the cube scene is put back after each.
    s << demo_main << "\n-- The sweep of " << slice.size() << " functions.\nif not SW then\n"
      << "Gameplay.fadefxtime, Gameplay.pagefxtime, Gameplay.walkfxtime, Gameplay.dissolvefxtime = 40, 40, "
         "40, 40\n"
      << "SW = {from = {" << from.function + 1 << ", " << from.list + 1 << ", " << from.action + 1 << ", "
      << from.trigger + 1 << "}, dense = " << limits.dense << ", cap = " << limits.cap
      << ", sample = " << limits.sample << ", only = {";
    if (limits.list >= 0) s << "list = " << limits.list + 1 << ", ";
    if (!limits.action.empty()) s << "action = " << Long(limits.action) << ", ";
    if (!limits.trigger.empty()) s << "trigger = " << Long(limits.trigger) << ", ";
    if (limits.step > 0) s << "step = " << limits.step << ", ";
    s << "}, paths_named = {";
    for (const std::string& p : SweepPaths()) s << "[\"" << p << "\"] = true, ";
    s << "}, through = {";
    for (const std::string& f : SweepThrough()) s << "[\"" << f << "\"] = true, ";
    s << "}, known = {";
    for (const std::string& k : limits.known) s << "[ " << Long(k) << " ] = true, ";
    s << "}}\nSW.actions = {";
    for (const std::string& a : SweepActions()) s << "\"" << a << "\", ";
    s << "}\nSW.triggers = {";
    for (const std::string& t : SweepTriggers()) s << "\"" << t << "\", ";
    s << "}\nSW.fns = {\n";
    for (const SweepEntry& e : slice) {
        s << "{name = \"" << e.function << "\", lists = {";
        for (const std::string& l : e.lists) s << Long(l) << ", ";
        s << "}},\n";
    }
    s << "}\nend\n";
    // QUILD_SWEEP_DEBUG=1: the log names the handlers each run reached.
    if (const char* debug = std::getenv("QUILD_SWEEP_DEBUG"); debug && *debug) s << "SW_DEBUG = true\n";
    s << kSweepDriver;
    return s.str();
}

}  // namespace seqfuzz
