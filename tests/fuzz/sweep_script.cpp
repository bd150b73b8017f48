#include "sweep_script.h"

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
                    "quit", "fuzz_unpaced", "ge_postfx", "ge_istranstionfx", "hs_get"}) do
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

local function note(...)
  local f = io_open("sweep_runs.log", "a")
  if f then f:write(concat({...}, " "), "\n") f:close() end
end

-- The actions; the objects are the arguments that are userdata.
local ACT = {
  scene_unloadall = function() E.scene_unloadall() end,
  removeAllResources = function() E.removeAllResources() end,
  hs_remove = function(o) for i = 1, #o do E.hs_remove(o[i]) end end,
  ge_deleteobject = function(o) for i = 1, #o do E.ge_deleteobject(o[i]) end end,
  ge_switchscene = function() E.ge_switchscene("hall") end,
  scene_reload = function() E.scene_reload() end,
}
local NEEDS_OBJECT = {hs_remove = true, ge_deleteobject = true}

-- The armed state. `counting` names the trigger that counts.
local st = {counting = nil, renew = false, count = 0, target = 0, fired = false}
local function fire()
  st.counting, st.renew, st.fired = nil, false, true
  collectgarbage("setpause", 200)
  collectgarbage("setstepmul", 200)
  pcall(st.action, st.objects)
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
  st.count, st.target, st.fired, st.action = 0, step, false, ACT[action]
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

-- The combinations of the slice from the starting place on, as
-- {function, list, action, trigger} (1-based).
local function key(f, l, a, t) return ((f * 100 + l) * 100 + a) * 100 + t end
local Q = {}
local from = key(SW.from[1], SW.from[2], SW.from[3], SW.from[4])
for fi, fe in ipairs(SW.fns) do
  for li = 1, #fe.lists do
    for ai, an in ipairs(SW.actions) do
      for ti, tn in ipairs(SW.triggers) do
        if key(fi, li, ai, ti) >= from and (not SW.only.list or SW.only.list == li) and
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

local function next_step(s)
  if s < SW.dense then return s + 1 end
  return floor(s * 1.5)
end

-- The end of a call (or, for a function whose work the engine does at the
-- next frame's start, of that frame's work too): the next step, or the next
-- combination when the action did not fire.
local function finish()
  local fired = disarm()
  through = false
  note(fired and "fired" or "quiet")
  local q = Q[qi]
  if not fired and step == 1 and not SW.only.action then never[(q[1] * 100 + q[2]) * 100 + q[4]] = true end
  if fired and not SW.only.step and step < SW.cap then
    step = next_step(step)
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
  if through then finish() end
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
    static const std::vector<std::string> v = {"scene_unloadall", "removeAllResources", "hs_remove",
                                               "ge_deleteobject", "ge_switchscene",     "scene_reload"};
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
        {"removescript", "deletes script files of the game"},
    };
    return v;
}

const std::vector<std::pair<std::string, std::string>>& SweepPlausibleOnly() {
    static const std::vector<std::pair<std::string, std::string>> v = {
        {"ge_resetdisplay", "a mode the display refuses ends the game"},
    };
    return v;
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
      << from.trigger + 1 << "}, dense = " << limits.dense << ", cap = " << limits.cap << ", only = {";
    if (limits.list >= 0) s << "list = " << limits.list + 1 << ", ";
    if (!limits.action.empty()) s << "action = " << Long(limits.action) << ", ";
    if (!limits.trigger.empty()) s << "trigger = " << Long(limits.trigger) << ", ";
    if (limits.step > 0) s << "step = " << limits.step << ", ";
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
    s << "}\nend\n" << kSweepDriver;
    return s.str();
}

}  // namespace seqfuzz
