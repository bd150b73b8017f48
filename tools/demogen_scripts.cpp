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
font{name = "console", file = "data/fonts/main", borderw = 1}
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

-- The name of the room in the corner while playing.
function OnGameRender()
  if Node ~= "" and Node ~= "title" then
    ge_drawstring(string.upper(Node), 16, 16, "FFF4E4C0")
  end
end

-- The ` key opens the console (type Lua there); Escape ends the game.
function OnGameKeyDown(key)
  if key == 192 then ge_toggleconsole() end
  if key == 27 then quit() end
end

-- One achievement, ACH_00: reaching the gallery.
Call("achieve_init", "ACH_", 1)

-- The tour: each stop is a node, a view and maybe a post effect; each
-- picture is taken two frames after the view is set.
TOUR = string.find(" " .. (ge_getcmdline() or "") .. " ", "%s%-tour%s") ~= nil
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
  if not stop then quit() return end
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
    ge_saveshot(string.format("tour_%02d_%s", Tour.index, stop[1]), 92)
    Tour.stage, Tour.wait = "next", 2
  else
    if stop[4] == "radial" then Call("ge_radialblurfx", 0) end
    Tour.index, Tour.stage = Tour.index + 1, "go"
  end
end

function OnGameUpdate(dt)
  if TOUR then TourStep() end
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
  credits = function() Call("ge_playvideo", "intro", false) end,
  quit = function() quit() end,
}
)lua";

const char* kHallData = R"lua(beginscene()
scene{name = "hall", cursor = "data/icons/arrow"}
cubefaces{name = "base"}
-- Hotspot-map value 1: the door ahead; 2: the arch behind.
hotspot{name = "door", cursor = "door", dest_scene = "corridor", action = "walk", snd_step = "data/sounds/steps"}
hotspot{name = "arch", cursor = "door", dest_scene = "title", action = "dissolve"}
-- Clouds drift across the window on the right wall; the moon glows.
if surffx then
  surffx{name = "clouds", texture = "data/fx/clouds", face = 1, width = 320, height = 167, distance = 511,
         position = "0,30,160", alpha = 190, scroll_speed = 0.02, scroll_direction = 0, tiling1 = 1}
end
if fx then fx{name = "moon", file = "data/fx/glow", x = 97.6, y = -6.1, scale = 2, power = 0} end
endscene()
)lua";

const char* kHallScript = R"lua(-- The painted hall.
SceneClicks = {
  door = function() Play("data/sounds/creak") Call("ge_radialblurfx", 0.02) ge_walk("corridor", 150) end,
  arch = function() ge_dissolve("title") end,
}
function OnSceneEnter(old)
  if old == "corridor" then ge_look(180, 0) end
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
     x = 0, y = 2, power = 0}
end
-- The torch on the left wall crackles where it hangs.
if sound3D then sound3D{name = "torch", sound = "data/sounds/fire", x = 270, y = 0, distance = 600} end
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
