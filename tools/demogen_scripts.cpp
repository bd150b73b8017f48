// The game's scripts: the start-up script, the game logic with its
// headless tour, and every node's data and script files.
#include "demogen.h"

namespace demogen {
namespace {

const char* kMain = R"lua(-- The start-up script: the engine runs it first, in the game's folder.
DIR_ROOT = "."
DIR_STAGES = "stages"
DIR_SCRIPTS = "scripts"
_LOCAL = "."

Display = Display or {}
Display.fov = 70
Display.aspect = 1.3333
Display.useshaders = true

Gameplay = Gameplay or {}
Gameplay.fadefxtime = 500
Gameplay.pagefxtime = 700
Gameplay.walkfxtime = 900
Gameplay.dissolvefxtime = 800

ge_resetdisplay(1024, 768, 32, false, 0, "QUILD", 0)
run("game")
)lua";

const char* kGame = R"lua(-- The game: shaders, fonts, the movie, music, what clicks do, the title text
-- and the headless tour ("quild -tour" visits every room, saves a picture
-- of each in the per-user folder and quits).

run("shaders")
font{name = "main", file = "data/fonts/main", borderw = 1}
-- The console's rows three pixels apart, so that the letters of its last
-- history row stay clear of the edit line's frame.
font{name = "console", file = "data/fonts/main", borderw = 1, borderh = 3}
-- The script editor's letters stand in columns: the same image, each cell
-- taken 18 pixels wide from its left.
font{name = "code", file = "data/fonts/main", fontw = 18, fonth = 24}
gtext_load("data/texts/english.txt")
video{name = "intro", video = "data/videos/intro", sound = "data/music/theme"}

-- Features that may be missing from an engine build are called only when
-- their functions exist.
function Call(name, ...)
  local f = _G[name]
  if f then return f(...) end
end

function Play(sound) Call("snd_play", sound, false, 0) end

Node = ""
SceneClicks = {}

-- Every click on a hotspot lands here; the node's script says what its
-- hotspots do.
function OnGameHotspotClick(h)
  -- While a walk or a dissolve runs a click does nothing: no other walk
  -- could start, and its sound and rush would play for nothing.
  if ge_istranstionfx() then return end
  local name = ge_getproperty(h, "name")
  local f = name and SceneClicks[name]
  if f then f(h) end
end

function OnGameSceneStart(name, old)
  Node = name
  Call("ge_radialblurfx", 0)  -- a walk's rush ends on arrival
  if not MusicStarted then
    MusicStarted = true
    Call("snd_setstreamfadefx", 1, true)
    Call("snd_play", "data/music/theme", true, 1)
  end
end

-- Saved scene files hold object{class = "...", name = "...", ...} entries
-- for pages, flares, patches, points, particle sources, meshes, surfaces
-- and views: every property of the object except those that are false,
-- empty or zero. object() makes the object of that class and name in the
-- node (or finds it) and gives it exactly those properties, whatever their
-- order; the ones the entry leaves out are cleared. A page is made by its
-- constructor (the node becomes a page node) and so is a flare (it starts
-- at its opacity). A flare's format (it reads the lens list) and a particle
-- source's count (it makes the particles from the rest) are set last; a
-- patch's running clock, currentTime, starts again from 0.
OBJECT_MAKERS = {page = "page", fx = "fx"}
OBJECT_EMPTY = {number = 0, enum = 0, string = "", color = "0", hex = "0", vector3 = "0,0,0", color3 = "0,0,0"}
OBJECT_LAST = {format = true, particle_count = true}
OBJECT_SKIPPED = {name = true, currentTime = true}
function object(t)
  if type(t) ~= "table" or type(t.class) ~= "string" then return nil end
  local make = _G[OBJECT_MAKERS[t.class] or ""]
  local o = make and make{name = t.name, opacity = t.opacity} or ge_newsceneobject(t.class, t.name)
  local keys = o and ge_getpropertylist(o)
  if not keys then return nil end
  local first, last = {}, {}
  for _, key in ipairs(keys) do
    if not OBJECT_SKIPPED[key] then table.insert(OBJECT_LAST[key] and last or first, key) end
  end
  for _, list in ipairs({first, last}) do
    for _, key in ipairs(list) do
      local value = t[key]
      if value == nil then value = OBJECT_EMPTY[ge_getpropertytype(o, key)] or false end
      ge_setproperty(o, key, value)
    end
  end
  return o
end

-- The pointer. The engine hides the system's pointer, so the game draws
-- its own, last in the frame: over something that can be clicked the
-- hotspot's cursor (the door) centred on the pointer, elsewhere the
-- node's cursor (the arrow) with its tip at the pointer, held half its
-- size inside the right and bottom edges so that it shows while turning.
function DrawPointer()
  local x, y = ge_getmouse()
  x, y = math.floor(x), math.floor(y)
  local h = ge_gethotspot()
  local image = h and hs_getcursor(h)
  local w, hh = 0, 0
  if image then w, hh = im_getsize(image) end
  if (w or 0) > 0 then
    im_render(image, x - math.floor(w / 2), y - math.floor((hh or 0) / 2), "FFFFFFFF", 0)
  else
    local arrow = ge_getcursor()
    local aw, ah = 0, 0
    if arrow then aw, ah = im_getsize(arrow) end
    local _, _, sw, sh = rect_get(ge_screenrect())
    x = math.min(x, (sw or 1024) - math.floor((aw or 0) / 2))
    y = math.min(y, (sh or 768) - math.floor((ah or 0) / 2))
    im_render(arrow, x, y, "FFFFFFFF", 0)
  end
end

-- Looking around a panorama: the pointer near a screen edge turns the
-- view that way, faster the nearer the edge, easing in and out; the arrow
-- keys turn it too. The pitch stays within PITCH_LIMIT of the horizon.
EDGE = 72            -- pixels from an edge where turning starts
TURN = 0.12          -- degrees per millisecond at the very edge
PITCH_LIMIT = 55
Look = {yaw = 0, pitch = 0}

local function EdgePush(p, size)
  if p < EDGE then return -(EDGE - p) / EDGE end
  if p > size - 1 - EDGE then return (p - (size - 1 - EDGE)) / EDGE end
  return 0
end

function LookStep(dt)
  local free = scene_viewtype() == "3d" and not ge_istranstionfx() and not havetask() and not ScriptBox
               and not ge_consoleenabled()
  local want_yaw, want_pitch = 0, 0
  if free then
    local x, y = ge_getmouse()
    local _, _, w, h = rect_get(ge_screenrect())
    want_yaw, want_pitch = EdgePush(x, w or 1024), EdgePush(y, h or 768)
    if geteditormode() == 0 then
      if ge_getkey(37) then want_yaw = -1 elseif ge_getkey(39) then want_yaw = 1 end
      if ge_getkey(38) then want_pitch = -1 elseif ge_getkey(40) then want_pitch = 1 end
    end
  end
  local k = math.min(1, dt / 120)
  Look.yaw = Look.yaw + (want_yaw * TURN - Look.yaw) * k
  Look.pitch = Look.pitch + (want_pitch * TURN - Look.pitch) * k
  if not free then Look.yaw, Look.pitch = 0, 0 return end
  if math.abs(Look.yaw) < 0.0005 and math.abs(Look.pitch) < 0.0005 then return end
  local yaw, pitch = ge_getlook()
  pitch = math.max(-PITCH_LIMIT, math.min(PITCH_LIMIT, pitch + Look.pitch * dt))
  ge_look((yaw + Look.yaw * dt) % 360, pitch)
end

-- The scene editor (F1 on and off). F2 selects the next object of the
-- node (a map hotspot shows the hotspot map in its palette colours, with
-- the brush: Ctrl + left button paints, the arrows change the brush);
-- F3 places the selected point, flare or patch with the pointer; F4
-- saves the node's scene file. Ctrl + left drag draws the selected
-- hotspot's rectangle, Ctrl + right drag moves it; the arrow and page
-- keys and the wheel go to the selected object; Tab + click still clicks.
EDITOR_KINDS = {"hotspot", "point", "psource", "fx", "patch", "mesh", "surface"}

function EditorObjects()
  local list = {}
  for _, kind in ipairs(EDITOR_KINDS) do
    for _, o in ipairs(ge_getsceneobjectlist(kind) or {}) do list[#list + 1] = o end
  end
  return list
end

function EditorSelectNext()
  local list = EditorObjects()
  if #list == 0 then return end
  local current, next = ge_geteditorobject(), 1
  for i, o in ipairs(list) do if o == current then next = i % #list + 1 end end
  ge_selectobject(list[next])
end

function EditorKey(key)
  if key == 112 then
    setpositionmode(false)
    Saved = nil  -- the note of a save closes with the editor
    seteditormode(geteditormode() == 0 and 2 or 0)
    return true
  end
  if geteditormode() == 0 then return false end
  if key == 113 then EditorSelectNext()
  elseif key == 114 then setpositionmode(not getpositionmode())
  elseif key == 115 then scene_save() Saved, SavedNode = 90, Node
  elseif key == 32 or (key >= 33 and key <= 40) then ge_sendeditorinput(key, 0)
  else return false end
  return true
end

function DrawEditor()
  if geteditormode() == 0 then return end
  local o = ge_geteditorobject()
  local name = o and ge_getproperty(o, "name") or "-"
  ge_fillrect(0, 700, 1024, 68, "A0000000")
  ge_drawstring("EDITOR  " .. Node .. "  SELECTED: " .. name .. (getpositionmode() and "  POSITION" or "")
                .. ((Saved or 0) > 0 and SavedNode == Node and "  SAVED" or ""), 12, 704, "FFFFE080")
  ge_drawstring("F1 CLOSE EDITOR  F2 NEXT  F3 POSITION  F4 SAVE  CTRL+DRAG", 12, 736, "FFF4E4C0")
  if Saved then Saved = Saved - 1 end
end

-- The script editor (F5): a room's script in an edit box. It edits the
-- file it opened, also when a walk brings another room meanwhile. F5 again
-- saves the file and, when it is the current room's script, runs it; a
-- script that does not compile or fails keeps the editor open with the
-- error under the text and its line marked (the file stays saved as
-- typed). Escape closes the editor unsaved.
function ScriptPath() return DIR_STAGES .. "/" .. Node .. "/script.lua" end

function OpenScriptEditor()
  ScriptBox = edit_create(rect_const(32, 48, 960, 624, 3), "code", 3, "FF202020")
  if not ScriptBox then return end
  ScriptFile, ScriptError = ScriptPath(), nil
  edit_importfile(ScriptBox, ScriptFile)
  edit_setfocus(ScriptBox)
  enablescene(false)
end

function CloseScriptEditor()
  edit_destroy(ScriptBox)
  ScriptBox, ScriptFile, ScriptError = nil, nil, nil
  enablescene(true)
end

-- Runs a script file as the room runs it; the error text when it does not
-- compile or fails.
function RunScriptFile(path)
  local f = io.open(path, "rb")
  if not f then return "cannot read " .. path end
  local text = f:read("*a")
  f:close()
  local chunk, failure = loadstring(text, "=" .. path)
  if chunk then
    local ok, err = pcall(chunk)
    if ok then return nil end
    failure = err
  end
  return tostring(failure)
end

function SaveScriptEditor()
  edit_savetofile(ScriptBox)
  local failure = ScriptFile == ScriptPath() and RunScriptFile(ScriptFile)
  if not failure then CloseScriptEditor() return end
  _ALERT("[SCRIPT EDITOR] " .. failure)
  ScriptError = WrapText(failure, 928)
  edit_markline(ScriptBox, tonumber(string.match(failure, ":(%d+):") or "") or 0)
end

-- The rows a text takes in the current font within a width: broken after
-- blanks, and inside a word longer than a row.
function WrapText(text, width)
  local rows, row = {}, ""
  local function fits(s) return (ge_getstringwidth(s) or 0) <= width end
  for word in string.gmatch(text, "%S+%s*") do
    if row ~= "" and not fits(row .. word) then rows[#rows + 1], row = row, "" end
    while #word > 1 and not fits(word) do
      local n = 1
      while n < #word and fits(string.sub(word, 1, n + 1)) do n = n + 1 end
      rows[#rows + 1], word = string.sub(word, 1, n), string.sub(word, n + 1)
    end
    row = row .. word
  end
  if row ~= "" then rows[#rows + 1] = row end
  return rows
end

-- The keys at the right of the editor's top row; the file's name before
-- them, without the word SCRIPT where it leaves the name too little room,
-- then shortened from its start.
function ScriptEditorKeys()
  return (ScriptFile == ScriptPath() and "F5 SAVE AND RUN" or "F5 SAVE") .. "  ESC CLOSE"
end
function ScriptEditorTitle()
  local room = 992 - (ge_getstringwidth(ScriptEditorKeys()) or 0) - 56
  local function fits(s) return (ge_getstringwidth(s) or 0) <= room end
  local name = "SCRIPT " .. ScriptFile
  if not fits(name) then name = ScriptFile end
  while #name > 4 and not fits(name) do name = "..." .. string.sub(name, 5) end
  return name
end

-- The text on a light page, where every colour of the syntax colouring
-- reads; the frame around it stays dark for the top row and the error.
function DrawScriptEditor()
  ge_fillrect(16, 12, 992, 744, "E8080410")
  ge_fillrect(32, 48, 960, 624, "FFF8F4E8")
  local keys = ScriptEditorKeys()
  ge_drawstring(ScriptEditorTitle(), 32, 20, "FFFFE080")
  ge_drawstring(keys, 992 - (ge_getstringwidth(keys) or 0), 20, "FFFFE080")
  edit_render(ScriptBox)
  for i, row in ipairs(ScriptError or {}) do
    if i <= 3 then ge_drawstring(row, 32, 656 + i * 24, "FFFF7060") end
  end
end

function OnGameCharTyped(c)
  if ScriptBox and (c >= 32 or c == 13 or c == 9 or c == 8) then edit_sendchar(ScriptBox, c) end
end
function OnGameMouseDown(x, y) if ScriptBox then edit_mousedown(ScriptBox, x, y) end end
function OnGameMouseUp(x, y) if ScriptBox then edit_mouseup(ScriptBox, x, y) end end
function OnGameMouseWheel(d)
  if ScriptBox then edit_mousewheel(ScriptBox, d)
  elseif geteditormode() ~= 0 then ge_sendeditorinput(0, d) end
end

-- The title page tells the keys (not over the movie); while playing, the
-- room's name is in the corner. The pointer comes last, over everything.
CONTROLS = {
  {"LOOK: POINTER AT EDGE", "OR THE ARROW KEYS", "GO: CLICK A DOOR", "` CONSOLE  ESC QUIT"},
  {"F1 SCENE EDITOR", "F2 SELECT  F3 PLACE", "F4 SAVE SCENE", "F5 SCRIPT EDITOR"},
}
function OnGameVideoClosed() Movie = nil end
function OnGameRender()
  if Node == "title" then
    for side, lines in ipairs(Movie and {} or CONTROLS) do
      local x = side == 1 and 16 or 660
      ge_fillrect(x - 8, 540, 360, 132, "A0100818")
      for i, line in ipairs(lines) do ge_drawstring(line, x, 516 + i * 30, "FFF4E4C0") end
    end
  elseif Node ~= "" and not ge_consoleenabled() and not ScriptBox then
    ge_drawstring(string.upper(Node), 16, 16, "FFF4E4C0")
  end
  DrawEditor()
  if ScriptBox then DrawScriptEditor() end
  DrawPointer()
end

-- The ` key opens and closes the console (type Lua there). While it is
-- open the keys are the console's: the engine hands this handler also the
-- keys the console does not keep (Escape, Shift, Ctrl, the ` key
-- itself), and they do nothing here; with Shift the ` key types ~ (Lua's
-- ~=), so only the key alone closes the console. Escape ends the game;
-- Enter on the title page goes in.
function OnGameKeyDown(key)
  if ge_consoleenabled() then
    if key == 192 and not ge_getkey(16) then ge_toggleconsole() end
    return
  end
  if key == 116 and Node ~= "" then
    if ScriptBox then SaveScriptEditor() else OpenScriptEditor() end
    return
  end
  if ScriptBox then
    if key == 27 then CloseScriptEditor() else edit_keydown(ScriptBox, key) end
    return
  end
  if EditorKey(key) then return end
  if key == 192 then ge_toggleconsole() end
  if key == 13 and Node == "title" and not Movie then
    Play("data/sounds/click")
    ge_dissolve("hall")
  end
  if key == 27 then quit() end
end

-- One achievement, ACH_00: reaching the gallery.
Call("achieve_init", "ACH_", 1)

-- The tour: each stop is a node, a view and maybe a post effect; each
-- picture is taken two frames after the view is set, as a JPEG (or as
-- TOUR_PICTURES says: "tga" keeps every pixel). A picture that could not
-- be written is said on the terminal and ends the tour with exit status 1.
TOUR = string.find(" " .. (ge_getcmdline() or "") .. " ", "%s%-tour%s") ~= nil
TOUR_PICTURES = "jpg"
TourStops = {
  {"title", 0, 0},
  {"hall", 0, 5},
  {"hall", 270, 0},
  {"hall", 95, -5},
  {"corridor", 0, 0},
  {"corridor", 180, 0},
  {"corridor", 0, 0, "radial"},
  {"gallery", 0, 12},
  {"gallery", 180, -20},
}
Tour = {index = 1, wait = 0, stage = "go"}

function TourStep()
  if Tour.wait > 0 then Tour.wait = Tour.wait - 1 return end
  local stop = TourStops[Tour.index]
  if not stop then quit(Tour.failed and 1 or 0) return end
  if Tour.stage == "go" then
    if Node ~= stop[1] then
      ge_switchscene(stop[1])
      Tour.wait = 6
      return
    end
    ge_look(stop[2], stop[3])
    if stop[4] == "radial" then Call("ge_radialblurfx", 0.02) end
    Tour.stage, Tour.wait = "shoot", 2
  elseif Tour.stage == "shoot" then
    -- The last tour's picture goes first, so that only this one can be found.
    Tour.picture = string.format("tour_%02d_%s.%s", Tour.index, stop[1], TOUR_PICTURES)
    os.remove(ge_genospath(Tour.picture))
    ge_saveshot(Tour.picture, 92)
    Tour.stage, Tour.wait = "next", 2
  else
    if not fileexists(ge_genospath(Tour.picture)) then
      debug("[ERROR] - TOUR: could not write " .. ge_genospath(Tour.picture))
      Tour.failed = true
    end
    if stop[4] == "radial" then Call("ge_radialblurfx", 0) end
    Tour.index, Tour.stage = Tour.index + 1, "go"
  end
end

function OnGameUpdate(dt)
  if TOUR then TourStep() else LookStep(dt) end
end

if not TOUR then ge_switchscene("title") end
)lua";

const char* kShaders = R"lua(-- The shader programs meshes are drawn with: "diff" (ambient and diffuse
-- light) and "diff_spec" (with a highlight).
local vs = [[
float4x4 matViewProjection;
float3 fvLightPosition;
float3 fvEyePosition;
struct VS_INPUT { float4 Position : POSITION0; float3 Normal : NORMAL0; float2 Texcoord : TEXCOORD0; };
struct VS_OUTPUT { float4 Position : POSITION0; float3 Normal : TEXCOORD1; float3 Light : TEXCOORD2;
                   float3 View : TEXCOORD3; };
VS_OUTPUT vs_main(VS_INPUT Input) {
    VS_OUTPUT Output;
    Output.Position = mul(Input.Position, matViewProjection);
    Output.Normal = Input.Normal;
    Output.Light = fvLightPosition - Input.Position.xyz;
    Output.View = fvEyePosition - Input.Position.xyz;
    return Output;
}
]]

shader{name = "diff", vs = vs, ps = [[
float4 fvAmbient;
float4 fvDiffuse;
float4 ps_main(float3 normal : TEXCOORD1, float3 light : TEXCOORD2) : COLOR0 {
    float lit = saturate(dot(normalize(normal), normalize(light)));
    return float4(fvAmbient.rgb + fvDiffuse.rgb * lit, 1.0);
}
]]}

shader{name = "diff_spec", vs = vs, ps = [[
float4 fvAmbient;
float4 fvDiffuse;
float4 fvSpecular;
float fSpecularPower;
float4 ps_main(float3 normal : TEXCOORD1, float3 light : TEXCOORD2, float3 view : TEXCOORD3) : COLOR0 {
    float3 n = normalize(normal);
    float3 l = normalize(light);
    float lit = saturate(dot(n, l));
    float spec = lit > 0.0 ? pow(saturate(dot(reflect(-l, n), normalize(view))), fSpecularPower) : 0.0;
    return float4(fvAmbient.rgb + fvDiffuse.rgb * lit + fvSpecular.rgb * spec, 1.0);
}
]]}

-- The editor's view of a panorama's hotspot map: each pixel of the faces
-- tinted with the palette colour of the map cell in its direction. The
-- direction's yaw and pitch come from the angle table "data/misc/eqlookup"
-- (stage 2); the map's preview is stage 1.
shader{name = "hotspot_debug", vs = [[
float4x4 matViewProjection;
struct VS_OUTPUT { float4 Position : POSITION0; float2 Texcoord : TEXCOORD0; float3 Direction : TEXCOORD1; };
VS_OUTPUT vs_main(float4 Position : POSITION0, float2 Texcoord : TEXCOORD0) {
    VS_OUTPUT Output;
    Output.Position = mul(Position, matViewProjection);
    Output.Texcoord = Texcoord;
    Output.Direction = Position.xyz;
    return Output;
}
]], ps = [[
sampler2D Face : register(s0);
sampler2D Map : register(s1);
sampler2D Angles : register(s2);
float Turn(float2 ab) {
    ab /= max(abs(ab.x), abs(ab.y));
    // -1..1 onto the outer texels' centres, never onto the table's edge
    float4 t = tex2D(Angles, ab * (255.0 / 512.0) + 0.5);
    return t.r * (255.0 / 256.0) + t.g * (255.0 / 65536.0);
}
float4 ps_main(float2 tex : TEXCOORD0, float3 dir : TEXCOORD1) : COLOR0 {
    float3 d = normalize(dir);
    float yaw = Turn(d.xz);
    float pitch = frac(Turn(float2(-d.y, length(d.xz))) + 0.5) - 0.5;  // down is positive
    float4 cell = tex2D(Map, float2(yaw, pitch * 2.0 + 0.5));
    float4 face = tex2D(Face, tex);
    float marked = dot(cell.rgb, float3(1.0, 1.0, 1.0)) > 0.0 ? 0.6 : 0.0;
    return float4(lerp(face.rgb, cell.rgb, marked), 1.0);
}
]]}
)lua";

const char* kTitleData = R"lua(beginscene()
scene{name = "title", cursor = "data/icons/arrow"}
page{name = "cover", image = "stages/title/cover"}
hotspot{name = "panel", rect = "212,400,600,124", bgimage = "data/ui/panel"}
hotspot{name = "welcome", rect = "16,14,572,100", parent = "panel", font = "main", text = "welcome", color = "FFF4E4C0"}
hotspot{name = "start", rect = "384,540,256,64", bgimage = "data/ui/start", mouse_over = "data/ui/start_over",
        cursor = "door", snd_click = "data/sounds/click", dest_scene = "hall", action = "dissolve"}
hotspot{name = "credits", rect = "384,612,256,64", bgimage = "data/ui/credits", mouse_over = "data/ui/credits_over",
        snd_click = "data/sounds/click"}
hotspot{name = "quit", rect = "384,684,256,64", bgimage = "data/ui/quit", mouse_over = "data/ui/quit_over",
        cursor = "quit", snd_click = "data/sounds/click"}
endscene()
)lua";

const char* kTitleScript = R"lua(-- The title page: enter the game, watch the movie or leave.
SceneClicks = {
  start = function() ge_dissolve("hall") end,
  credits = function() Movie = true Call("ge_playvideo", "intro", false) end,
  quit = function() quit() end,
}
)lua";

const char* kHallData = R"lua(beginscene()
scene{name = "hall", cursor = "data/icons/arrow"}
cubefaces{name = "base"}
-- Hotspot-map value 1: the door ahead; 2: the arch behind.
hotspot{name = "door", cursor = "door", dest_scene = "corridor", action = "walk", snd_step = "data/sounds/steps"}
hotspot{name = "arch", cursor = "door", dest_scene = "title", action = "dissolve"}
-- Clouds drift across the window's glass on the right wall (a surface
-- reaches width and height either side of its centre); the moon glows.
if surffx then
  surffx{name = "clouds", texture = "data/fx/clouds", face = 1, width = 160, height = 84, distance = 511,
         position = "0,8.5,0", alpha = 190, scroll_speed = 0.02, scroll_direction = 0, tiling1 = 1}
end
if fx then fx{name = "moon", file = "data/fx/glow", x = 97.6, y = -6.1, scale = 2, power = 0} end
endscene()
)lua";

const char* kHallScript = R"lua(-- The painted hall.
SceneClicks = {
  door = function() Play("data/sounds/creak") Call("ge_radialblurfx", 0.02) ge_walk("corridor", 150) end,
  arch = function() ge_dissolve("title") end,
}
-- Back from the corridor the arch is ahead,
-- from the title page the door.
function OnSceneEnter(old)
  if old == "corridor" then ge_look(180, 0)
  else ge_look(0, 0) end
end
)lua";

const char* kCorridorData = R"lua(beginscene()
scene{name = "corridor", cursor = "data/icons/arrow"}
cubefaces{name = "base"}
-- Hotspot-map value 1: the glowing arch far ahead; 2: the door back.
hotspot{name = "onward", cursor = "door", dest_scene = "gallery", action = "walk", snd_step = "data/sounds/steps"}
hotspot{name = "back", cursor = "door", dest_scene = "hall", action = "dissolve"}
-- Flames flicker on the two nearest torches; the far arch shines and
-- throws a lens flare.
if patch then
  patch{name = "flame_left", format = "data/anim/flame", frame_count = 8, interval = 90, looping = true,
        flags = 1, face = 0, x = 105, y = 322, size = 2}
  patch{name = "flame_right", format = "data/anim/flame", frame_count = 8, interval = 110, looping = true,
        flags = 1, face = 0, x = 855, y = 322, size = 2}
end
if fx then
  fx{name = "arch_glow", file = "data/fx/glow", x = 0, y = 2, scale = 3, power = 0}
  fx{name = "flare", format = "data/fx/lens", lens_count = 3, lens_format = "0,1,2,1,-0.4,3,2,0.5,1.5",
     x = 0, y = 6, power = 0}
end
-- The torch on the left wall crackles where it hangs: flags = 1 plays it
-- looping while the corridor is shown (0, the default, keeps it silent).
if sound3D then sound3D{name = "torch", sound = "data/sounds/fire", x = 270, y = 0, distance = 600, flags = 1} end
endscene()
)lua";

const char* kCorridorScript = R"lua(-- The torch-lit corridor.
SceneClicks = {
  onward = function() Play("data/sounds/steps") ge_walk("gallery", 400) end,
  back = function() Play("data/sounds/creak") ge_dissolve("hall") end,
}
function OnSceneEnter(old)
  if old == "gallery" then ge_look(180, 0) else ge_look(0, 0) end
end
)lua";

const char* kGalleryData = R"lua(beginscene()
scene{name = "gallery", cursor = "data/icons/arrow"}
cubefaces{name = "base"}
-- Hotspot-map value 1: the way back.
hotspot{name = "back", cursor = "door", dest_scene = "corridor", action = "dissolve"}
-- The statue on its dais, lit from the lamp above, casting its shadow,
-- with sparks rising around it. (Engines without meshes show the dais.)
if mesh then
  mesh{name = "statue", file = "data/meshes/statue", position = "0,-160,250", rotation = "30,0,0",
       scaling = "70,70,70", diffuse = "ff806030", ambient = "ff806030", specular = "ffffffff",
       specularpow = 40, castshadow = true}
end
if lightsource then lightsource{x = 150, y = -35} end
if particlesource then
  particlesource{name = "sparks", image = "data/particles/spark", x = 0, y = 12, distance = 260,
                 particle_count = 60, lifetime = "40,80", source_size = "50,40,20", scaleU = "0.5,0.5",
                 scaleV = "0.5,0.5", velX = "-0.2,0.2", velY = "0.2,0.8", velZ = "-0.2,0.2",
                 accelX = "0,0", accelY = "0,0", accelZ = "0,0", alphaKeys = "0,1,1,0"}
end
endscene()
)lua";

const char* kGalleryScript = R"lua(-- The gallery of stars: reaching it earns the game's achievement and
-- makes the stars glow.
SceneClicks = {
  back = function() ge_dissolve("corridor") end,
}
function OnSceneEnter(old)
  Call("achieve_set", "ACH_00")
  Play("data/sounds/chime")
end
function OnSceneInit()
  if ge_getshadersupport and ge_getshadersupport() then Call("ge_glowfx", true) end
end
function OnSceneExit()
  Call("ge_glowfx", false)
end
)lua";

// The game's texts, by name: the title page's dialog.
const char* kTexts =
    "<welcome>\n"
    "Welcome, traveller. Walk the painted hall, follow the torch-lit corridor and find the gallery of "
    "stars at its end.\n"
    "</welcome>\n";

}  // namespace

void WriteScripts(const Output& out) {
    out.Text("main.lua", kMain);
    out.Text("data/texts/english.txt", kTexts);
    out.Text("scripts/game.lua", kGame);
    out.Text("scripts/shaders.lua", kShaders);
    const char* scenes[4][3] = {{"title", kTitleData, kTitleScript},
                                {"hall", kHallData, kHallScript},
                                {"corridor", kCorridorData, kCorridorScript},
                                {"gallery", kGalleryData, kGalleryScript}};
    for (auto& s : scenes) {
        out.Text(std::string("stages/") + s[0] + "/data.lua", s[1]);
        out.Text(std::string("stages/") + s[0] + "/script.lua", s[2]);
    }
}

}  // namespace demogen
