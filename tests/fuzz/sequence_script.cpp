#include "sequence_script.h"

#include <cctype>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "script/script_function.h"
#include "support/test_support.h"

namespace seqfuzz {
namespace {

namespace fs = std::filesystem;

// A cube scene with an object of every class, reusing the gallery's faces
// and hotspot map: hotspot-map value 1 leads into the page scene below it.
const char* kVaultData = R"lua(beginscene()
scene{name = "vault", cursor = "data/icons/arrow"}
cubefaces{name = "base"}
cubefaces{name = "alt", front = "stages/hall/01", right = "stages/hall/02", back = "stages/hall/03",
          left = "stages/hall/04", top = "stages/hall/05", bottom = "stages/hall/06"}
hotspot{name = "v_door", cursor = "door", dest_scene = "vault/inner", action = "dissolve",
        snd_click = "data/sounds/click"}
hotspot{name = "v_note", rect = "300,300,400,160", font = "main", text = "welcome", color = "FFF4E4C0",
        bgimage = "data/ui/panel", mouse_over = "data/ui/start_over"}
hotspot{name = "v_tag", rect = "20,20,200,60", parent = "v_note", font = "main", text = "tag", color = "FFFFFFFF"}
mesh{name = "statue", file = "data/meshes/statue", position = "0,-160,250", rotation = "30,0,0",
     scaling = "70,70,70", diffuse = "ff806030", ambient = "ff806030", specular = "ffffffff",
     specularpow = 0, castshadow = true}
mesh{name = "bust", file = "data/meshes/statue", position = "0,-60,-250", scaling = "30,30,30",
     specularpow = 40}
lightsource{name = "lamp", x = 150, y = -35}
particlesource{name = "sparks", image = "data/particles/spark", x = 0, y = 12, distance = 260,
               particle_count = 40, lifetime = "20,60", source_size = "50,40,20", scaleU = "0.5,0.5",
               scaleV = "0.5,0.5", velX = "-0.2,0.2", velY = "0.2,0.8", velZ = "-0.2,0.2",
               accelX = "0,0", accelY = "0,0", accelZ = "0,0", alphaKeys = "0,1,1,0", scaleKeys = "1,2"}
patch{name = "flame", format = "data/anim/flame", frame_count = 8, interval = 90, looping = true,
      flags = 1, face = 0, x = 105, y = 322, size = 2}
fx{name = "moon", file = "data/fx/glow", x = 20, y = -6, scale = 2, power = 0}
fx{name = "flare", format = "data/fx/lens", lens_count = 3, lens_format = "0,1,2,1,-0.4,3,2,0.5,1.5",
   x = 0, y = 2, power = 0}
surffx{name = "clouds", texture = "data/fx/clouds", face = 1, width = 160, height = 84, distance = 511,
       position = "0,8.5,0", alpha = 190, scroll_speed = 0.02, scroll_direction = 0, tiling1 = 1, shader = "diff"}
sound3D{name = "torch", sound = "data/sounds/fire", x = 270, y = 0, distance = 600}
view{fov = 70, znear = 1, zfar = 5000}
endscene()
)lua";

const char* kVaultScript = R"lua(SceneClicks = {
  v_door = function() ge_dissolve("vault/inner") end,
  v_note = function() gtext_settext(gtext_new("welcome"), "clicked") end,
}
)lua";

// A page scene below the vault: three pages, a parent hotspot with
// children, a hotspot showing a game text and a global hotspot.
const char* kInnerData = R"lua(beginscene()
scene{name = "vault/inner", cursor = "data/icons/arrow"}
page{name = "p1", image = "stages/title/cover"}
page{name = "p2", image = "data/ui/panel"}
page{name = "p3", image = "stages/title/cover"}
hotspot{name = "frame", rect = "100,100,600,400", bgimage = "data/ui/panel", page = "p1"}
hotspot{name = "caption", rect = "10,10,500,100", parent = "frame", font = "main", text = "welcome",
        color = "FFF4E4C0"}
hotspot{name = "knob", rect = "20,200,100,64", parent = "frame", bgimage = "data/ui/start",
        mouse_over = "data/ui/start_over", cursor = "door", snd_click = "data/sounds/click"}
hotspot{name = "up", rect = "800,600,200,100", bgimage = "data/ui/credits", dest_scene = "vault", action = "zoomin"}
hotspot{name = "turn", rect = "800,100,200,100", bgimage = "data/ui/quit", page = "p2"}
endscene()
)lua";

const char* kInnerScript = R"lua(SceneClicks = {
  up = function() ge_zoomin("vault") end,
  knob = function() ge_setnextpage() end,
  turn = function() ge_pagein(1) end,
}
)lua";

// Everything the scripts can name, grouped by what it is.
const std::vector<std::string> kScenes = {"title", "hall", "corridor", "gallery", "vault", "vault/inner"};
const std::vector<std::string> kHotspots = {"panel", "welcome", "start", "credits", "door", "arch", "onward", "back",
                                            "v_door", "v_note", "v_tag", "frame", "caption", "knob", "up", "turn",
                                            "g1"};
const std::vector<std::string> kMeshes = {"statue", "bust"};
const std::vector<std::string> kFx = {"moon", "flare", "arch_glow"};
const std::vector<std::string> kPatches = {"flame", "flame_left", "flame_right"};
const std::vector<std::string> kPoints = {"torch", "sparks", "lamp"};
const std::vector<std::string> kImages = {"data/ui/panel",       "data/icons/arrow", "data/fx/glow",
                                          "stages/title/cover", "data/particles/spark", "data/fx/clouds",
                                          "data/ui/start_over", "data/icons/door"};
const std::vector<std::string> kSounds = {"data/sounds/click", "data/sounds/fire", "data/music/theme",
                                          "data/sounds/chime", "data/sounds/steps"};
const std::vector<std::string> kFonts = {"main", "console"};
const std::vector<std::string> kVideos = {"intro"};
const std::vector<std::string> kTexts = {"welcome", "tag", "fz"};
const std::vector<std::string> kShaders = {"diff", "diff_spec", "hotspot_debug"};
const std::vector<std::string> kScripts = {"shaders", "fz_extra", "stages/vault/script"};
const std::vector<std::string> kFiles = {"main.lua",        "data/texts/english.txt", "scripts/shaders.lua",
                                         "data/meshes/statue.x", "stages/vault/data.lua", "fz_out.txt",
                                         "data/sounds/click.ogg", "data/videos/intro.ogg", "out/fz.bin"};
const std::vector<std::string> kKinds = {"hotspot", "mesh",     "patch",  "fx",   "point", "psource",
                                         "surface", "cubeface", "page",   "font", "view",  "scene"};
const std::vector<std::string> kClasses = {"hotspot", "view", "mesh", "fx", "patch", "point", "psource",
                                           "surface", "page", "font", "scene", "light", "sound"};

// Numbers at every edge a script can reach.
const std::vector<std::string> kHostileNumbers = {
    "(0/0)",      "(1/0)",       "(-1/0)",      "(-0.0)",      "1e308",      "-1e308",     "1e30",
    "-1e30",      "2147483647",  "2147483648",  "-2147483648", "-2147483649", "4294967295", "4294967296",
    "2^31",       "-(2^31)",     "2^53+1",      "1e-310",      "-1",         "-65536",     "65536",
    "1e15",       "-0.5",        "0.5",         "255.9",       "-255"};
const std::vector<std::string> kHostileStrings = {
    "\"\"",         "\"nosuch\"",  "string.rep(\"A\", 5000)", "\"%s%s%n%d%x\"", "\"a\\0b\"",
    "\"\\255\\254\\128\\1\"", "\"a/b/c\"", "\"nan\"", "\"inf\"", "\"-1\"", "\"1e999\"", "\",,,,,,\"",
    "\"0,0,0,0,0,0,0,0,0,0,0,0\"", "\"FFFFFFFF\"", "\"  \"", "\"\\n\\r\\t\"", "\"<welcome>\"", "\"data/\"",
    "\".\"", "\"-1,-1,-1,-1\"", "\"1e308,1e308\"", "\"2147483648,2147483648\"", "\"nan,nan,nan\"",
    "string.rep(\"/\", 300)", "\"\\\\\\\\\"", "\"::::\""};

class Generator {
public:
    Generator(const std::vector<FunctionInfo>& functions, uint64_t seed) : functions_(functions), rng_(seed) {
        for (const FunctionInfo& f : functions_) by_name_[f.name] = &f;
    }

    // One call statement of the sequence; `depth` limits nesting through
    // exec, eval and tasks.
    std::string Call(int depth = 0) {
        const int pick = Below(100);
        if (pick < 8) return Input();
        if (pick < 16) return Focused(depth);
        const FunctionInfo& f = functions_[Below(functions_.size())];
        return "FZ_KEEP(" + f.name + "(" + Args(f, depth) + "))";
    }

    // 0 to 99, for the caller's own choices.
    int Percent() { return static_cast<int>(Below(100)); }

    // The argument list of one call of `f`, as the sequences draw it.
    std::string ArgumentsOf(const FunctionInfo& f) { return Args(f, 0); }

    // An argument list of plausible values only: live objects of the kinds
    // the arguments name, found in the cube scene (which the sweep keeps
    // current), names that exist, small numbers, and files written only
    // under out/.
    std::string PlausibleArguments(const FunctionInfo& f, int variant) {
        variant_ = variant;
        // (The display the fuzzer's game has: another mode may fail, and
        // the game ends when its display cannot be reset.)
        if (f.name == "ge_resetdisplay") return "400, 300, 32, false, 0, \"QUILD\", 0";
        // The second list leaves out the optional arguments at the end.
        // (An argument inside brackets is optional: "[x, y]" comes as "[x"
        // and "y]".)
        std::vector<bool> optional;
        int depth = 0;
        for (const std::string& a : f.args) {
            optional.push_back(depth > 0 || a.find('[') != std::string::npos);
            depth += static_cast<int>(std::count(a.begin(), a.end(), '['));
            depth -= static_cast<int>(std::count(a.begin(), a.end(), ']'));
        }
        size_t n = f.args.size();
        while (variant % 2 && n > 0 && optional[n - 1]) --n;
        std::string out;
        for (size_t i = 0; i < n; ++i) out += (i ? ", " : "") + Plausible(f.name, f.args[i]);
        return out;
    }

    // An exchange of two objects that are alive, of any kinds the scripts
    // can hold: mostly two of one kind (the pairs the engine exchanges),
    // else of two kinds.
    std::string Swap() {
        const size_t a = Below(kHeldKinds.size());
        const size_t b = Chance(60) ? a : Below(kHeldKinds.size());
        return "FZ_KEEP(ge_swap_object(" + Held(a) + ", " + Held(b) + "))";
    }

    // Two scenes loaded one after the other and exchanged; `gap` calls
    // later, something walks or frees them (and the quit at the sequence's
    // end frees them all). The steps in call order, the gap's calls left to
    // the caller.
    struct ScenePair {
        std::vector<std::string> before;
        std::string after;
        int gap;
    };
    ScenePair SwapScenes() {
        const std::string a = Pick(kScenes);
        std::string b = Pick(kScenes);
        while (b == a) b = Pick(kScenes);
        ScenePair p;
        p.before = {"ge_switchscene(" + Quote(a) + ")", "ge_switchscene(" + Quote(b) + ")"};
        const std::string ha = "scene_get(" + Quote(a) + ")", hb = Chance(70) ? "scene_get(" + Quote(b) + ")" : "scene_get(0)";
        p.before.push_back("FZ_KEEP(ge_swap_object(" + (Chance(50) ? ha + ", " + hb : hb + ", " + ha) + "))");
        static const std::vector<std::string> walkers = {
            "scene_unloadall()", "ge_switchscene(%A)", "ge_switchscene(%C)", "ge_setscene(%A)", "ge_dissolve(%C)",
            "scene_save()", "scene_save(%A)", "scene_reset()", "scene_reload()", "scene_cache(%A)",
            "FZ_KEEP(ge_getsceneobjectslist(%A))", "FZ_KEEP(scene_get(%A), scene_get(-1))"};
        p.after = Fill(Pick(walkers), [&](char slot) -> std::string {
            return slot == 'A' ? Quote(Chance(50) ? a : b) : NameOf(kScenes);
        });
        p.gap = static_cast<int>(Below(12));
        return p;
    }

    // A finalizer: a proxy whose __gc calls the engine (frees or unloads
    // objects of every kind, switches scenes, walks lists), raises or
    // yields. The proxy is dropped at once or held in FZ.gc until a later
    // step lets it go, so the finalizer runs at whatever collection comes
    // next: a step of the script's, the engine's own full collection at a
    // node switch, an allocation inside an engine function, the shut-down.
    std::string Finalizer() {
        std::string body;
        for (int n = 1 + static_cast<int>(Below(3)); n > 0; --n) body += FinalizerStep() + " ";
        std::string s = "local p = newproxy(true) getmetatable(p).__gc = function(p) " + Guarded(body) + " end";
        s += Chance(40) ? " FZ.gc[" + std::to_string(1 + Below(8)) + "] = p" : " p = nil";
        if (Chance(40)) s += " " + Collect();
        return s;
    }

    // What makes a collection run, or run more often: the collector's own
    // steps and settings, allocation-heavy calls, walks of the engine's
    // lists (a step may come with any string they push), node switches
    // (a full collection after loading), and letting the held proxies go.
    std::string Collect() {
        static const std::vector<std::string> v = {
            "collectgarbage()", "collectgarbage(\"step\", %K)", "collectgarbage(\"step\", %K)",
            "collectgarbage(\"setpause\", %P)", "collectgarbage(\"setstepmul\", %M)",
            "collectgarbage(\"setpause\", %P) collectgarbage(\"setstepmul\", %M)",
            "FZ.gc = {}", "FZ.gc = {} collectgarbage(\"step\", %K)",
            "local t = {} for i = 1, 20000 do t[i] = {i} end", "FZ_KEEP(string.rep(\"x\", 1000000))",
            "FZ_KEEP(ge_getpatcheslist())", "FZ_KEEP(ge_getsceneslist())", "FZ_KEEP(ge_getmesheslist())",
            "FZ_KEEP(ge_getsceneobjectslist(%S))", "FZ_KEEP(ge_getobjectslist(false))", "FZ_KEEP(ge_getpagelist())",
            "ge_switchscene(%S)", "ge_switchscene(%S)", "ge_setscene(%S)"};
        return Fill(Pick(v), [&](char slot) -> std::string {
            switch (slot) {
                case 'K': return Pick(std::vector<std::string>{"0", "1", "10", "100", "10000"});
                case 'P': return Pick(std::vector<std::string>{"0", "1", "10", "50", "100", "200"});
                case 'M': return Pick(std::vector<std::string>{"1", "10", "100", "200", "1000", "1000000"});
                case 'S': return Quote(Pick(kScenes));
                default: return {};
            }
        });
    }

    // Many finalizers that free what one of the engine's lists holds, all
    // pending at once: the collector, stepped one small step at a time
    // until the last proxy's finalizer has run, then runs one finalizer
    // for about every kilobyte the walks of that list allocate, inside the
    // walks themselves.
    std::string Storm() {
        struct Walk {
            const char* walk;
            std::vector<std::string> frees;
            const char* scene;  // switched to first: one that has what the walk goes through
        };
        static const std::vector<Walk> walks = {
            {"ge_getsceneslist()", {"scene_unloadall()", "removeAllResources()", "ge_deleteobject(scene_get(%S))",
                                    "ge_deleteobject(scene_get(0))"}, nullptr},
            {"ge_getpatcheslist()", {"for _, n in ipairs(ge_getpatcheslist() or {}) do ge_deleteobject(patch_get(n)) end",
                                     "ge_deleteobject(patch_get(%P))", "scene_unloadall()"}, "vault"},
            {"ge_getmesheslist()", {"for _, n in ipairs(ge_getmesheslist() or {}) do ge_deleteobject(mesh_get(n)) end",
                                    "ge_deleteobject(mesh_get(%M))", "removeAllResources()"}, "vault"},
            {"ge_getsceneobjectslist()", {"for _, o in ipairs(ge_getsceneobjectslist()) do ge_deleteobject(o) end",
                                          "scene_unloadall()"}, "vault"},
            {"ge_getpagelist()", {"ge_deleteobject(ge_getsceneobject(\"page\", %G, \"vault/inner\"))",
                                  "scene_unloadall()"}, "vault/inner"},
            {"ge_getobjectslist(false)", {"removeAllResources()", "gtext_freeall()", "ge_deleteobject(P(%U))"}, nullptr},
        };
        const Walk& w = Pick(walks);
        const std::string body = Chance(80) ? Fill(Pick(w.frees), [&](char slot) -> std::string {
            switch (slot) {
                case 'S': return Quote(Pick(kScenes));
                case 'P': return Quote(Pick(kPatches));
                case 'M': return Quote(Pick(kMeshes));
                case 'G': return Quote(Pick(std::vector<std::string>{"p1", "p2", "p3"}));
                case 'U': return std::to_string(Below(64));
                default: return {};
            }
        })
                                            : FinalizerStep();
        std::string s = w.scene && Chance(70) ? "ge_switchscene(" + Quote(w.scene) + ") " : "";
        s += "collectgarbage(\"setpause\", 0) collectgarbage(\"setstepmul\", 1) for i = 1, " +
             std::to_string(4 + Below(40)) + " do local p = newproxy(true) getmetatable(p).__gc = function(p) " +
             Guarded(body) + " end end local s = newproxy(true) getmetatable(s).__gc = function() FZ.finalizing = "
             "true end s = nil FZ.finalizing = false for i = 1, 400000 do collectgarbage(\"step\", 0) if "
             "FZ.finalizing then break end end for i = 1, 60 do local l = " + std::string(w.walk) +
             " end collectgarbage(\"setpause\", 200) collectgarbage(\"setstepmul\", 200)";
        return s;
    }

    // Whether the finalizers raise and yield: in half the seeds, so that
    // the other half run on past the collections that would catch them
    // (their finalizers catch what the engine's calls raise).
    void Raising(bool on) { raising_ = on; }

    // A raise out of OnGameUpdate itself, outside the step's protected
    // call; sometimes with the scripts' memory filled to its ceiling first.
    std::string Throw() {
        static const std::vector<std::string> values = {"42", "\"fz thrown\"", "{}", "(0/0)", "true"};
        std::string s = "FZ.throw = " + Pick(values);
        if (Chance(50)) s += " FZ_FILL(" + std::to_string(1 + Below(8)) + ")";
        return s;
    }

private:
    std::string Guarded(const std::string& body) const {
        return raising_ ? body : "pcall(function() " + body + " end)";
    }
    // One statement of a finalizer's body.
    std::string FinalizerStep() {
        const int k = static_cast<int>(Below(100));
        if (k < 40) {
            static const std::vector<std::string> frees = {
                "ge_deleteobject(%X)", "ge_deleteobject(%X)", "ge_deleteobject(%X)", "ge_deleteobject(P(%U))",
                "scene_unloadall()", "removeAllResources()", "hs_remove(%X)", "im_remove(im_get(%I))",
                "snd_remove(%N)", "gtext_freeall()", "gtext_remove(gtext_get(%T))", "edit_destroy(P(%U))",
                "scene_reset()", "scene_reload()", "ge_switchscene(%S)", "ge_setscene(%S)", "ge_stoptasks()",
                "ge_stopvideo()", "FZ.gc = {}", "clearHotspots()", "fclose(P(%U))", "snd_stop(snd_get(%N))",
                "snd_stopall()", "removescript(\"fz_extra\")", "ge_deleteobject(dlg_new())"};
            return Fill(Pick(frees), [&](char slot) -> std::string {
                switch (slot) {
                    case 'X': return Held(Below(kHeldKinds.size()));
                    case 'U': return std::to_string(Below(64));
                    case 'I': return Quote(Pick(kImages));
                    case 'N': return Quote(Pick(kSounds));
                    case 'T': return Quote(Pick(kTexts));
                    case 'S': return Quote(Pick(kScenes));
                    default: return {};
                }
            });
        }
        if (k < 55) return Pick(std::vector<std::string>{"FZ_KEEP(ge_getpatcheslist())", "FZ_KEEP(ge_getsceneslist())",
                                                         "FZ_KEEP(ge_getmesheslist())", "FZ_KEEP(ge_getpagelist())",
                                                         "FZ_KEEP(ge_getsceneobjectslist())"});
        if (k < 67 || (!raising_ && k < 92)) return Chance(50) ? Focused(1) : Call(1);
        if (k < 82) {
            static const std::vector<std::string> raises = {
                "error(\"fz finalizer\")", "error(42)", "error({})", "error(0/0)", "error()",
                "error(setmetatable({}, {__tostring = function() return \"fz\" end}))",
                "error(setmetatable({}, {__tostring = function() error(\"fz\") end}))"};
            return Pick(raises);
        }
        if (k < 92) return Pick(std::vector<std::string>{"coroutine.yield()", "coroutine.yield(1, 2)"});
        // A finalizer that leaves another behind, or steps the collector.
        if (Chance(50)) return "collectgarbage(\"step\", 1)";
        return "local q = newproxy(true) getmetatable(q).__gc = function() " + Guarded(FinalizerLeaf()) + " end" +
               (Chance(50) ? " FZ.gc[" + std::to_string(1 + Below(8)) + "] = q" : "");
    }
    std::string FinalizerLeaf() {
        std::vector<std::string> leaves = {"scene_unloadall()", "ge_switchscene(\"hall\")", "FZ_KEEP(ge_getpatcheslist())"};
        if (raising_) leaves.insert(leaves.end(), {"error(7)", "coroutine.yield()"});
        return Pick(leaves);
    }

    // Expressions giving a live object of each kind the scripts can hold
    // (%-slots as in Handle).
    inline static const std::vector<std::vector<std::string>> kHeldKinds = {
        {"scene_get(%S)", "scene_get(0)", "scene_get(-1)"},
        {"hs_get(%H)", "ge_getsceneobject(\"hotspot\", %H, %S)", "ge_newobject(\"hotspot\", \"g1\")"},
        {"ge_getsceneobject(\"page\", %G, \"vault/inner\")", "FZ_AT(ge_getpagelist(), %U)"},
        {"ge_getsceneobject(\"cubeface\", %E, \"vault\")", "FZ_AT(ge_getsceneobjectlist(\"cubeface\", %S), %U)"},
        {"mesh_get(%M)", "ge_getnextmesh()", "ge_getsceneobject(\"mesh\", %M, \"vault\")"},
        {"point_get(%O)", "ge_getnextpoint()"},
        {"pobject_get(\"sparks\")", "ge_getsceneobject(\"psource\", \"sparks\", \"vault\")"},
        {"patch_get(%P)", "FZ_AT(ge_getsceneobjectlist(\"patch\", %S), %U)"},
        {"ge_getsceneobject(\"surface\", \"clouds\", \"vault\")"},
        {"fx_get(%F)", "ge_getnextfx()"},
        {"ge_getview()", "ge_getsceneobject(\"view\", \"v\", %S)"},
        {"ge_getfont()", "FZ_AT(ge_getsceneobjectlist(\"font\"), %U)"},
        {"FZ_AT(ge_getobjectslist(false), %U)", "FZ_AT(ge_getobjectslist(true), %U)"},  // globals, fonts, videos
        {"im_get(%I)", "ge_getnextresource()", "hs_getcursor(hs_get(%H))"},
        {"snd_get(%N)"},
        {"gtext_get(%T)", "gtext_new(%T)"},
        {"dlg_new()"},
        {"edit_create(%R, \"main\", 1, \"FFFFFFFF\")"},
        {"matrix_new()", "quaternion_new()", "mesh_gettransform(mesh_get(%M))"},
        {"FZ_AT(ge_getsceneobjectslist(%S), %U)", "P(%U)"},
    };

    // One plausible value for argument `raw` of function `fn`.
    std::string Plausible(const std::string& fn, const std::string& raw) {
        std::string a = raw;
        a.erase(std::remove(a.begin(), a.end(), '['), a.end());
        a.erase(std::remove(a.begin(), a.end(), ']'), a.end());
        while (!a.empty() && a.front() == ' ') a.erase(a.begin());
        while (!a.empty() && a.back() == ' ') a.pop_back();
        auto has = [&](const char* w) { return a.find(w) != std::string::npos; };
        auto in = [&](const char* prefix) { return fn.rfind(prefix, 0) == 0; };
        auto pick = [&](std::vector<std::string> v) { return Pick(v); };
        // The scenes a load may take, one for each plausible list: a cube
        // scene, the page scene.
        const std::string other_scene = variant_ % 2 ? "vault/inner" : "hall";
        const bool saves = fn.find("save") != std::string::npos && !in("scene_");
        const bool writes = has("destination") || has("output") || saves || fn.find("Write") != std::string::npos ||
                            in("package_open") || in("mkdir") || in("removescript") || in("ge_copyfile");
        if (!a.empty() && a.front() == '{') {
            // A constructor: every key, plausible.
            std::string out = "{";
            std::string key;
            for (char c : a + ",") {
                if (c == '{' || c == '}' || c == ' ') continue;
                if (c != ',') {
                    key += c;
                    continue;
                }
                if (!key.empty() && (key == "name" || Chance(50))) out += key + " = " + Plausible(fn, key) + ", ";
                key.clear();
            }
            return out + "}";
        }
        if (has("statements") || has("Lua text")) return Quote("FZ_EXTRA = (FZ_EXTRA or 0) + 1");
        if (has("expression")) return Quote("(FZ_EXTRA or 0) + 1");
        if (has("function")) return "function(p, e) FZ_EXTRA = p end";
        if (has("colour") || has("color") || has("tint") || has("ambient") || has("diffuse") ||
            (has("specular") && !has("pow")))
            return Quote(pick({"FFFFFFFF", "80FF0000", "ff806030"}));
        if (has("file handle")) return "fopenRead(\"main.lua\")";
        if (has("edit box")) return "edit_create(rect_const(10, 10, 300, 120, 1), \"main\", 1, \"FFFFFFFF\")";
        if (has("dialog")) return "dlg_new()";
        if (has("rect")) return "rect_const(" + std::to_string(Below(100)) + ", " + std::to_string(Below(100)) +
                                ", 200, 100, " + std::to_string(Below(4)) + ")";
        if (a == "q" || a == "q1" || a == "q2") return "quaternion_new()";
        if (a == "m" || a == "matrix" || a == "out" || ((a == "a" || a == "b") && in("matrix_")))
            return "matrix_new()";
        // (The scenes but the cube scene are unloaded: a switch to one loads
        // it; the rest act on the cube scene.)
        if (has("scene"))
            return Quote(in("ge_switchscene") || in("ge_setscene") || in("ge_dissolve") || in("ge_zoomin") ||
                                 in("ge_walk") || in("scene_cache")
                             ? other_scene
                             : "vault");
        if (has("hotspot") || has("parent")) return "hs_get(" + Quote(pick({"v_note", "v_tag", "v_door"})) + ")";
        if (has("mesh")) return "mesh_get(" + Quote(Pick(kMeshes)) + ")";
        if (a == "point" || (a == "fx" && !in("ge_"))) return a == "fx" ? "fx_get(\"moon\")" : "point_get(\"torch\")";
        if (has("sound")) return Quote(Pick(kSounds));
        if (has("image name") || has("texture") || has("cursor") || has("mask") || has("bgimage") ||
            has("mouse_") || (has("image") && a != "image"))
            return Quote(Pick(kImages));
        if (a == "image") return "im_get(" + Quote(Pick(kImages)) + ")";
        if (has("shader")) return Quote(pick({"diff", "diff_spec"}));
        if (has("font")) return Quote(Pick(kFonts));
        if (has("video")) return Quote("intro");
        if (has("page")) return pick({"1", "2", "\"p1\""});
        if (has("extensions")) return Quote(";lua;txt;");
        if (has("folder")) return Quote(pick({"scripts", "data/texts"}));
        if (writes && (has("path") || has("file") || has("destination") || has("output") || has("name")))
            return Quote("out/fz_" + std::to_string(Below(4)) + ".txt");
        if (has("path") || has("file") || has("source"))
            return Quote(pick({"main.lua", "data/texts/english.txt", "scripts/fz_extra.lua", "stages/vault/data.lua"}));
        if (has("class") || has("kind")) return Quote(pick({"hotspot", "mesh", "patch", "fx", "point"}));
        if (has("key code") || has("character")) return std::to_string(65 + Below(26));
        if (has("key") && !has("Keys"))
            return Quote(pick({"name", "rect", "visible", "text", "position", "color", "x", "y", "order"}));
        if (a == "text" && in("gtext_")) return "gtext_get(\"welcome\")";
        if (has("handle") || has("object") || has("resource") || a == "any" || a == "value" || a == "a" || a == "b")
            return pick({"hs_get(\"v_note\")", "mesh_get(\"statue\")", "fx_get(\"moon\")", "patch_get(\"flame\")",
                         "point_get(\"torch\")", "pobject_get(\"sparks\")", "scene_get(0)", "ge_getview()",
                         "ge_getsceneobject(\"surface\", \"clouds\", \"vault\")", "im_get(\"data/ui/panel\")",
                         "ge_getsceneobject(\"cubeface\", \"base\", \"vault\")", "ge_getfont()",
                         "gtext_get(\"welcome\")", "snd_get(\"data/sounds/click\")"});
        if (has("name")) {
            if (in("hs_")) return Quote(pick({"v_note", "v_tag", "v_door"}));
            if (in("mesh_")) return Quote(Pick(kMeshes));
            if (in("patch_")) return Quote("flame");
            if (in("fx_")) return Quote("moon");
            if (in("point_") || in("pobject_")) return Quote(pick({"torch", "lamp", "sparks"}));
            if (in("snd_")) return Quote(Pick(kSounds));
            if (in("scene_cache") || in("scene_create")) return Quote(other_scene);
            if (in("scene_") || in("ge_")) return Quote("vault");
            if (in("run") || in("dumpscript")) return Quote("fz_extra");
            return Quote(Pick(kTexts));
        }
        if (has("text") || has("string") || has("caption") || has("title")) return Quote(pick({"welcome", "a b c", "x"}));
        if (has("mode") && has("build")) return Quote("final");
        if (has("on") || has("loop") || has("nowait") || has("recursive") || has("fullscreen") || has("only") ||
            has("visible") || has("projected") || has("castshadow"))
            return pick({"true", "false"});
        if (has("format") && !has("lens")) return Quote("data/anim/flame");
        if (has("command")) return Quote(pick({"undo", "redo", "symbol"}));
        if (has("seed")) return Quote("DEADBEEF");
        if (has("lifetime") || has("vel") || has("accel") || has("scale") || has("size") || has("position") ||
            has("rotation") || has("Keys") || has("eye") || has("lookat") || has("tiling"))
            return Quote(std::to_string(Below(10)) + "," + std::to_string(Below(10)));
        if (has("width")) return "400";
        if (has("height")) return "300";
        if (has("bits")) return "32";
        return std::to_string(Below(11));
    }

    std::string Held(size_t kind) {
        return Fill(Pick(kHeldKinds[kind]), [&](char slot) -> std::string {
            switch (slot) {
                case 'S': return Quote(Pick(kScenes));
                case 'H': return Quote(Pick(kHotspots));
                case 'G': return Quote(Pick(std::vector<std::string>{"p1", "p2", "p3"}));
                case 'E': return Quote(Pick(std::vector<std::string>{"base", "alt"}));
                case 'M': return Quote(Pick(kMeshes));
                case 'O': return Quote(Pick(kPoints));
                case 'P': return Quote(Pick(kPatches));
                case 'F': return Quote(Pick(kFx));
                case 'I': return Quote(Pick(kImages));
                case 'N': return Quote(Pick(kSounds));
                case 'T': return Quote(Pick(kTexts));
                case 'R': return Rect();
                case 'U': return std::to_string(Below(64));
                default: return {};
            }
        });
    }

    const std::vector<FunctionInfo>& functions_;
    std::map<std::string, const FunctionInfo*> by_name_;
    bool raising_ = true;
    int variant_ = 0;  // of the plausible lists
    std::mt19937_64 rng_;

    size_t Below(size_t n) { return n ? static_cast<size_t>(rng_() % n) : 0; }
    bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
    template <class T>
    const T& Pick(const std::vector<T>& v) {
        return v[Below(v.size())];
    }
    static std::string Quote(const std::string& s) {
        std::string out = "\"";
        for (char c : s) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        return out + "\"";
    }

    std::string Number() {
        const int k = Below(10);
        if (k < 3) return std::to_string(static_cast<int>(Below(11)));
        if (k < 6) return std::to_string(static_cast<int>(Below(1100)) - 40);
        if (k < 7) return std::to_string(static_cast<int>(Below(720)) - 360) + "." + std::to_string(Below(10));
        return Pick(kHostileNumbers);
    }
    std::string Bool() {
        static const std::vector<std::string> v = {"true", "false", "nil", "0", "1", "\"yes\""};
        return Pick(v);
    }
    std::string Colour() {
        static const std::vector<std::string> v = {"\"FFFFFFFF\"", "\"80FF0000\"", "\"00000000\"", "\"ff806030\"",
                                                   "\"zz\"", "\"FFFFFFFFFFFF\"", "\"\"", "4294967295"};
        return Chance(80) ? Pick(v) : Any(1);
    }
    std::string Rect() {
        const int k = Below(6);
        if (k < 3)
            return "rect_const(" + Number() + ", " + Number() + ", " + Number() + ", " + Number() + ", " +
                   (Chance(85) ? std::to_string(Below(4)) : Number()) + ")";
        if (k == 3) return "ge_screenrect()";
        if (k == 4) return "rect_screen2d()";
        return Quote(Number() + "," + Number() + "," + Number() + "," + Number());
    }
    std::string NameOf(const std::vector<std::string>& pool) {
        if (Chance(85)) return Quote(Pick(pool));
        return Chance(50) ? Quote("missing_" + std::to_string(Below(3))) : Pick(kHostileStrings);
    }
    std::string AnyName() {
        static const std::vector<const std::vector<std::string>*> pools = {
            &kScenes, &kHotspots, &kMeshes, &kFx, &kPatches, &kPoints, &kImages, &kSounds,
            &kFonts,  &kVideos,   &kTexts,  &kShaders, &kScripts, &kFiles, &kKinds};
        return NameOf(*Pick(pools));
    }
    // A handle: kept from earlier calls (live, stale or of another kind),
    // or found afresh.
    std::string Handle() {
        const int k = Below(10);
        if (k < 4) return "P(" + std::to_string(Below(64)) + ")";
        if (k < 5) return Pick(std::vector<std::string>{"nil", "0", "\"welcome\"", "{}", "true", "-1", "FZ_STALE"});
        static const std::vector<std::string> getters = {
            "hs_get(%H)", "mesh_get(%M)", "fx_get(%F)", "patch_get(%P)", "point_get(%O)", "pobject_get(%O)",
            "scene_get(%S)", "scene_get(0)", "scene_get(-1)", "ge_getview()", "snd_get(%N)", "im_get(%I)",
            "gtext_get(%T)", "gtext_new(%T)", "gtext_new()", "dlg_new()", "matrix_new()", "quaternion_new()",
            "ge_getfont()", "ge_newobject(%C, %H)", "ge_getsceneobject(%K, %A)", "ge_newsceneobject(%K, %A)",
            "ge_getnextresource()", "ge_getnextfx()", "ge_getnextmesh()", "ge_getnextpoint()", "ge_gethotspot()",
            "ge_getrealhotspot()", "ge_geteditorobject()", "ge_getcursor()", "hs_nextchild(hs_get(%H))",
            "hs_getparent(hs_get(%H))", "gtext_next()", "mesh_gettransform(mesh_get(%M))", "matrix_const()",
            "edit_create(%R, %N, 1, \"FFFFFFFF\")", "fopenRead(%L)", "fopenWrite(\"out/w.txt\")"};
        return Fill(Pick(getters), [&](char slot) -> std::string {
            switch (slot) {
                case 'H': return NameOf(kHotspots);
                case 'M': return NameOf(kMeshes);
                case 'F': return NameOf(kFx);
                case 'P': return NameOf(kPatches);
                case 'O': return NameOf(kPoints);
                case 'S': return NameOf(kScenes);
                case 'N': return Chance(50) ? NameOf(kSounds) : NameOf(kFonts);
                case 'I': return NameOf(kImages);
                case 'T': return NameOf(kTexts);
                case 'C': return NameOf(kClasses);
                case 'K': return NameOf(kKinds);
                case 'A': return AnyName();
                case 'R': return Rect();
                case 'L': return NameOf(kFiles);
                default: return {};
            }
        });
    }
    // A template with its %-slots filled in, left to right.
    template <class F>
    static std::string Fill(const std::string& g, F&& slot) {
        std::string out;
        for (size_t i = 0; i < g.size(); ++i) {
            if (g[i] != '%' || i + 1 == g.size())
                out += g[i];
            else
                out += slot(g[++i]);
        }
        return out;
    }
    std::string Table(const std::string& spec) {
        // "{name, rect, ...}": a random subset of the keys, in any order.
        std::vector<std::string> keys;
        std::string key;
        for (char c : spec) {
            if (c == '{' || c == '}' || c == ' ') continue;
            if (c == ',') {
                if (!key.empty()) keys.push_back(key);
                key.clear();
            } else {
                key += c;
            }
        }
        if (!key.empty()) keys.push_back(key);
        std::string out = "{";
        for (const std::string& k : keys) {
            if (k != "name" && !Chance(40)) continue;
            out += k + " = " + ArgFor(k, 1) + ", ";
        }
        return out + "}";
    }
    // What an argument named like this usually is; often anything at all.
    std::string ArgFor(const std::string& raw, int depth) {
        std::string a = raw;
        a.erase(std::remove(a.begin(), a.end(), '['), a.end());
        a.erase(std::remove(a.begin(), a.end(), ']'), a.end());
        while (!a.empty() && a.front() == ' ') a.erase(a.begin());
        while (!a.empty() && a.back() == ' ') a.pop_back();
        if (Chance(22)) return Any(depth);
        auto has = [&](const char* w) { return a.find(w) != std::string::npos; };
        if (!a.empty() && a.front() == '{') return Table(a);
        if (has("statements") || has("Lua")) return Quote(Nested(depth));
        if (has("function")) return "function(p, e) FZ_HANDLE(\"findallfiles\") end";
        if (has("colour") || has("color") || has("tint") || has("ambient") || has("diffuse") ||
            (has("specular") && !has("pow")))
            return Colour();
        if (has("rect")) return Rect();
        if (has("scene")) return Chance(70) ? NameOf(kScenes) : Handle();
        if (has("hotspot") || has("parent")) return Chance(75) ? Handle() : NameOf(kHotspots);
        if (has("mesh")) return Chance(70) ? Handle() : NameOf(kMeshes);
        if (has("sound")) return Chance(50) ? NameOf(kSounds) : Handle();
        if (has("image") || has("bgimage") || has("cursor") || has("texture") || has("mouse_") || has("mask"))
            return Chance(70) ? NameOf(kImages) : Handle();
        if (has("shader")) return NameOf(kShaders);
        if (has("font")) return NameOf(kFonts);
        if (has("video")) return NameOf(kVideos);
        if (has("path") || has("file") || has("folder") || has("source") || has("destination") || has("output"))
            return NameOf(kFiles);
        if (has("class") || has("kind")) return Chance(50) ? NameOf(kClasses) : NameOf(kKinds);
        if (has("key") && !has("code") && !has("Keys")) return Quote(Pick(std::vector<std::string>{
                                                           "name", "rect", "visible", "text", "position", "color",
                                                           "x", "y", "power", "order", "lifetime", "file"}));
        if (has("name") || has("text") || has("string") || has("caption") || has("title") ||
            (has("mode") && has("build")))
            return Chance(60) ? AnyName() : Pick(kHostileStrings);
        if (has("handle") || has("dialog") || has("edit box") || has("matrix") || has("q") || has("out") ||
            has("resource") || has("object") || has("fx") || has("point") || has("camera") || a == "m" ||
            a == "a" || a == "b" || a == "any" || a == "value" || a == "page")
            return Handle();
        if (has("on") || has("loop") || has("nowait") || has("recursive") || has("fullscreen") || has("only") ||
            has("visible") || has("looping") || has("projected") || has("castshadow"))
            return Chance(70) ? Bool() : Number();
        if (has("extensions")) return Quote(Pick(std::vector<std::string>{";lua;txt;", "lua", "", ";;;", ";x"}));
        if (has("format") && !has("lens")) return Chance(50) ? Quote("%d %s %f") : Quote("data/anim/flame");
        if (has("command")) return Quote(Pick(std::vector<std::string>{"undo", "redo", "symbol", "x"}));
        if (has("seed")) return Chance(50) ? Quote("DEADBEEF") : Any(depth);
        if (has("lifetime") || has("vel") || has("accel") || has("scale") || has("size") || has("position") ||
            has("rotation") || has("Keys") || has("lens_format") || has("eye") || has("lookat") || has("tiling"))
            return Quote(Number() + "," + Number() + (Chance(50) ? "," + Number() : ""));
        return Number();
    }
    std::string Any(int depth) {
        switch (Below(7)) {
            case 0: return Number();
            case 1: return Pick(kHostileStrings);
            case 2: return AnyName();
            case 3: return Handle();
            case 4: return Rect();
            case 5: return Bool();
            default: return depth < 1 ? "{" + Number() + ", " + AnyName() + "}" : "nil";
        }
    }
    std::string Args(const FunctionInfo& f, int depth) {
        std::vector<std::string> args;
        const int n = f.args.empty() ? static_cast<int>(Below(5)) : static_cast<int>(f.args.size());
        for (int i = 0; i < n; ++i) args.push_back(f.args.empty() ? Any(depth) : ArgFor(f.args[i], depth));
        // Sometimes fewer or more arguments than the function wants.
        if (!args.empty() && Chance(8)) args.resize(Below(args.size()));
        if (Chance(5)) args.push_back(Any(depth));
        std::string out;
        for (size_t i = 0; i < args.size(); ++i) out += (i ? ", " : "") + args[i];
        return out;
    }
    // A statement for exec, eval or a task (one call, or a few joined).
    std::string Nested(int depth) {
        if (depth >= 1) return Pick(std::vector<std::string>{"1+1", "nil", "ge_stoptasks()", "x = ", "error('e')"});
        std::string s = Call(depth + 1);
        if (Chance(40)) s += "; " + Call(depth + 1);
        return s;
    }
    // Real input: the pointer moved over something that can be clicked,
    // buttons, keys (the editor's, the script editor's, the console's,
    // arrows), typed text and the wheel.
    std::string Input() {
        static const std::vector<std::pair<int, int>> spots = {
            {512, 384}, {500, 570}, {500, 640}, {300, 450}, {350, 380}, {150, 250}, {900, 650},
            {900, 150}, {10, 10},   {1020, 760}, {512, 100}, {700, 450}, {60, 300}};
        switch (Below(8)) {
            case 0:
            case 1: {
                const auto& s = Pick(spots);
                return "fuzz_input(\"move\", " + std::to_string(s.first + static_cast<int>(Below(21)) - 10) + ", " +
                       std::to_string(s.second + static_cast<int>(Below(21)) - 10) + ")";
            }
            case 2:
            case 3: return "fuzz_input(\"down\", " + std::to_string(1 + Below(3)) + ")";
            case 4: return "fuzz_input(\"up\", " + std::to_string(1 + Below(3)) + ")";
            case 5: {
                static const std::vector<std::string> keys = {"F1",   "F2",        "F3",    "F4",    "F5",
                                                              "Left", "Right",     "Up",    "Down",  "Return",
                                                              "`",    "Backspace", "Tab",   "Space", "PageUp",
                                                              "a",    "Delete",    "Left Ctrl", "Escape"};
                std::string key = Pick(keys);
                if (key == "Escape" && !Chance(10)) key = "F2";  // Escape ends the game
                return "fuzz_input(\"key\", " + Quote(key) + ", " + (Chance(70) ? "\"tap\"" : "\"down\"") + ")";
            }
            case 6: return "fuzz_input(\"text\", " + Quote(Pick(std::vector<std::string>{"a", "hello", "x = 1", "("})) + ")";
            default: return "fuzz_input(\"wheel\", " + std::to_string(static_cast<int>(Below(7)) - 3) + ")";
        }
    }
    // Calls that free, replace or switch what is being drawn or used, and
    // transitions cut by transitions: drawn more often than the rest.
    std::string Focused(int depth) {
        static const std::vector<std::string> v = {
            "gtext_freeall()", "gtext_remove(gtext_get(%T))", "gtext_load(\"data/texts/english.txt\")",
            "run(\"shaders\")", "ge_enableshaders(%B)", "ge_resetdisplay(%D, %D, 32, false, 0, \"Q\", 0)", "ge_resetdisplay(400, 300, 32, false, 0, \"Q\", 0)",
            "im_remove(im_get(%I))", "snd_remove(%N)", "removeAllResources()", "reloadAllResources()",
            "scene_unloadall()", "scene_reset()", "scene_reload()", "ge_deleteobject(%X)", "ge_initobject(%X)",
            "ge_swap_object(%X, %X)", "font{name = \"main\", file = \"data/fonts/main\"}",
            "video{name = \"intro\", video = \"data/videos/intro\"}", "ge_playvideo(\"intro\", %B)", "ge_stopvideo()",
            "ge_switchscene(%S)", "ge_dissolve(%S)", "ge_walk(%S, %D)", "ge_zoomin(%S)", "ge_setscene(%S)",
            "ge_pagein(%D)", "ge_setpage(%D)", "ge_setnextpage()", "hs_remove(%X)", "ge_look(%D, %D)",
            "scene_setcenter(%D, %D, %D)", "seteditormode(%D)", "ge_seteditorobject(%X)", "ge_selectobject(%X)",
            "ge_sendeditorinput(%D, %D)", "setpositionmode(%B)", "ge_task(%Q)", "ge_settask()", "ge_nexttask()",
            "ge_stoptasks()", "mesh_draw(mesh_get(%M), %R, \"FFFFFFFF\")", "ge_postfx(%Z)", "ge_glowfx(%B)",
            "ge_radialblurfx(%D)", "ge_motionblurfx(%B)", "ge_crabfx(%D)", "ge_lensviewfx(%B)",
            "shader{name = %Z, vs = \"\", ps = \"\"}", "snd_play(%N, %B, %D)", "snd_stopall()",
            "ge_toggleconsole()", "freezescene(%B)", "scene_setcubeface(\"alt\")",
            "scene_setcubetransition(\"alt\", %D)", "scene_cache(%S)", "ge_setfont(%Z)", "ge_setsysfont(%Z)",
            "edit_destroy(P(%U))", "hs_setbgimage(%X, im_get(%I))", "hs_setcursor(%X, nil)",
            "ge_setproperty(%X, \"text\", %Z)", "ge_setproperty(%X, \"name\", %Z)", "hs_checkevents(%X)",
            "ge_getproperty(%X, \"text\")", "ge_setproperty(%X, \"lifetime\", \"1e30,1e30\")",
            "particlesource{name = \"sparks\", lifetime = %W}", "fx{name = %F, x = %D, y = %D}",
            "runscript(\"stages/vault/script.lua\", \"FILE\")", "removescript(\"fz_extra\")",
            "ge_newobject(\"hotspot\", \"g1\")", "hotspot{name = \"g2\", rect = \"0,0,100,100\", text = \"welcome\"}"};
        return "FZ_KEEP(" + Fill(Pick(v), [&](char slot) -> std::string {
                   switch (slot) {
                       case 'T': return NameOf(kTexts);
                       case 'B': return Bool();
                       case 'I': return NameOf(kImages);
                       case 'N': return NameOf(kSounds);
                       case 'X': return Handle();
                       case 'S': return NameOf(kScenes);
                       case 'D': return Number();
                       case 'Q': return Quote(Nested(depth));
                       case 'M': return NameOf(kMeshes);
                       case 'R': return Rect();
                       case 'Z': return Chance(50) ? NameOf(kShaders) : AnyName();
                       case 'U': return std::to_string(Below(64));
                       case 'F': return NameOf(kFx);
                       case 'W': return Quote(Number() + "," + Number());
                       default: return {};
                   }
               }) + ")";
    }
};

// Long brackets whose level the text cannot close.
std::string LongString(const std::string& s) {
    std::string eq;
    while (s.find("]" + eq + "]") != std::string::npos) eq += "=";
    return "[" + eq + "[" + s + "]" + eq + "]";
}

// The endless loops of the stop tests: each runs until the game is asked
// to end, some of them through calls that catch script errors.
struct SpinShape {
    const char* name;
    const char* body;
    bool held = false;  // no hook of the engine's reaches the loop
};
const std::vector<SpinShape> kSpinShapes = {
    {"exec", "while true do exec(\"while FZ_SPINNING do end\") end"},
    {"run", "while true do run(\"fz_spin\") end"},
    {"eval", "while true do eval(\"(function() while FZ_SPINNING do end end)()\") end"},
    {"pcall", "while true do pcall(function() while FZ_SPINNING do end end) end"},
    {"xpcall", "while true do xpcall(function() while FZ_SPINNING do end end, function(e) return e end) end"},
    {"findallfiles", "FZ_WALK = function() exec(\"findallfiles('scripts', ';lua;', FZ_WALK, true)\") end FZ_WALK()"},
    {"coroutine", "while true do coroutine.resume(coroutine.create(function() while FZ_SPINNING do end end)) end"},
    {"runscript", "while true do runscript(\"scripts/fz_spin.lua\", \"FILE\") end"},
    {"pcall of exec of run", "while true do pcall(exec, \"while true do run('fz_spin') end\") end"},
    {"coroutine.wrap", "while true do pcall(coroutine.wrap(function() while FZ_SPINNING do end end)) end"},
    {"xpcall handler", "while true do xpcall(error, function() while FZ_SPINNING do end end) end"},
    {"loop", "while FZ_SPINNING do end"},
    {"gsub", "string.gsub(string.rep(\"a\", 64), \"a\", function() while FZ_SPINNING do end end)"},
    // Lua runs finalizers with its hooks off: the engine closes a game
    // they hold after a grace. A script can also take the engine's hook
    // off (the engine puts it back).
    {"finalizer", "local p = newproxy(true) getmetatable(p).__gc = function() while FZ_SPINNING do end end p = nil "
                  "collectgarbage()", true},
    {"finalizer at a node switch", "local p = newproxy(true) getmetatable(p).__gc = function() while FZ_SPINNING do end "
                                   "end p = nil ge_switchscene(\"hall\") ge_switchscene(\"vault\")", true},
    {"sethook", "package.loaded.debug.sethook() while FZ_SPINNING do end"},
    {"finalizer at the shut-down", "FZ_LAST = newproxy(true) getmetatable(FZ_LAST).__gc = function() "
                                   "package.loaded.debug.sethook() while FZ_SPINNING do end end "
                                   "while FZ_SPINNING do end", true},
};
// The shapes before finalizers were learnt: without them (--without
// newproxy) every seed's stop test is the one it was.
constexpr size_t kSpinShapesBeforeFinalizers = 13;
// Where the loop starts: the start-up script, a call of the sequence, a
// handler, a queued statement.
const std::vector<std::string> kSpinPlaces = {"main", "call", "handler", "task"};

// FZ_SPIN(): marks the loop's start for the driver (the file and the call
// log) and enters the loop.
std::string SpinScript(const Spin& spin) {
    std::string what = spin.shape + " from " + spin.from;
    std::string body;
    for (const SpinShape& shape : kSpinShapes)
        if (spin.shape == shape.name) body = shape.body;
    // The mark appears whole (written aside, then renamed).
    return "function FZ_SPIN()\n  FZ_SPINNING = true\n  FZ_LOG(\"spin\", FZ.i, \"" + what +
           "\")\n  local held = fuzz_hooked() and \"\" or \"" + kHooksOff +
           "\\n\"\n  local f = io.open(\"fuzz_spin.tmp\", \"w\")\n  if f then f:write(\"" + what +
           "\\n\", held) f:close() os.rename(\"fuzz_spin.tmp\", \"" + kSpinMark + "\") end\n  " + body +
           "\nend\n";
}

// The driver. Each frame's OnGameUpdate runs the next step (usually one
// call, sometimes a burst); the handlers of the game, the scenes and every
// hotspot run the next harmful call of their own list. Every call is
// appended to fuzz_calls.log before it runs, so the log ends with the call
// that broke the engine. The wrappers are put back whenever a script
// replaces them (a rerun of this start-up script, a scene's script).
const char* kDriver = R"lua(
function FZ_LOG(tag, n, text)
  local f = io.open("fuzz_calls.log", "a")
  if f then f:write(tag, " ", n, ": ", text, "\n") f:close() end
end
function FZ_KEEP(...)
  for i = 1, select("#", ...) do
    local v = select(i, ...)
    local t = type(v)
    if t == "userdata" or t == "lightuserdata" then
      FZ.kept = FZ.kept % 64 + 1
      FZ.pool[FZ.kept] = v
    end
  end
  return ...
end
function P(k)
  return FZ_AT(FZ.pool, k)
end
function FZ_AT(t, k)
  if type(t) ~= "table" or #t == 0 then return nil end
  return t[k % #t + 1]
end
function FZ_RUN(tag, n, text)
  if FZ.depth > 3 then return end
  FZ.depth = FZ.depth + 1
  FZ_LOG(tag, n, text)
  local f = loadstring(text, "=fuzz")
  if f then pcall(f) end
  FZ.depth = FZ.depth - 1
  -- (A raise to come finds the memory as the call left it.)
  if FZ.throw == nil then FZ_INSTALL() end
end
function FZ_HANDLE(name)
  FZ.h = FZ.h + 1
  local c = FZ.handler[(FZ.h - 1) % #FZ.handler + 1]
  if c ~= "" then FZ_RUN("h " .. name, FZ.h, c) end
end
function FZ_FILL(mb)
  fuzz_ceiling(collectgarbage("count") * 1024 + mb * 1048576)
  local n = 0
  for _, size in ipairs({65536, 1024, 16, 1}) do
    pcall(function() while true do n = n + 1 FZ.fill = {FZ.fill, string.rep("f", size) .. n} end end)
  end
end
function FZ_STEP()
  if FZ.done then return end
  if FZ.fill then
    FZ.fill = nil
    fuzz_ceiling(0)
  end
  FZ.frame = FZ.frame + 1
  for k = 1, FZ.burst[FZ.frame] or 1 do
    FZ.i = FZ.i + 1
    local c = FZ.calls[FZ.i]
    if not c then
      FZ.done = true
      FZ_LOG("end", FZ.i - 1, "")
      quit()
      return
    end
    FZ_RUN("c", FZ.i, c)
    if FZ.throw ~= nil then
      local e = FZ.throw
      FZ.throw = nil
      error(e, 0)
    end
  end
end
local function wrap(name, handler)
  local cur = rawget(_G, name)
  if cur ~= nil and FZ.wrappers[cur] then return end
  local w = function(...)
    handler(name, ...)
    if type(cur) == "function" then return cur(...) end
  end
  FZ.wrappers[w] = true
  rawset(_G, name, w)
end
function FZ_INSTALL()
  wrap("OnGameUpdate", function() FZ_STEP() end)
  for _, name in ipairs(FZ.handlers) do
    wrap(name, function(n) FZ_HANDLE(n) end)
  end
end
FZ.gc = FZ.gc or {}
if FZ_STALE == nil then
  FZ_STALE = FZ_KEEP(edit_create(rect_const(0, 0, 10, 10, 0), "main", 0, "FFFFFFFF"))
  edit_destroy(FZ_STALE)
end
FZ_INSTALL()
)lua";

}  // namespace

std::vector<FunctionInfo> ScriptFunctions(const std::string& reference_path) {
    std::map<std::string, std::vector<std::string>> described;
    std::ifstream in(reference_path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == '=') continue;
        const size_t bar = line.find(" | ");
        if (bar == std::string::npos) continue;
        std::string name = line.substr(0, bar);
        const size_t bar2 = line.find(" | ", bar + 3);
        std::string args = line.substr(bar + 3, bar2 == std::string::npos ? std::string::npos : bar2 - bar - 3);
        std::vector<std::string> list;
        if (args != "none") {
            // Commas inside a constructor's braces do not split.
            std::string cur;
            int braces = 0;
            for (char c : args) {
                if (c == '{') ++braces;
                if (c == '}') --braces;
                if (c == ',' && braces == 0) {
                    list.push_back(cur);
                    cur.clear();
                } else {
                    cur += c;
                }
            }
            if (!cur.empty()) list.push_back(cur);
        }
        described[name] = list;
    }
    std::set<std::string> names;
    for (ScriptFunctionRecord* r = ScriptFunctionListHead(); r; r = r->next) names.insert(r->name);
    for (ScriptFunctionAlias* a = ScriptFunctionAliasListHead(); a; a = a->next)
        if (ScriptAliasFunction(a)) names.insert(a->name);
    std::vector<FunctionInfo> out;
    for (const std::string& n : names) {
        if (n.rfind("fuzz_", 0) == 0) continue;  // the fuzzer's own, drawn as steps of their own
        auto it = described.find(n);
        out.push_back({n, it == described.end() ? std::vector<std::string>{} : it->second});
    }
    return out;
}

bool AddFuzzScenes(const std::string& root) {
    std::error_code ec;
    fs::create_directories(root + "/stages/vault/inner", ec);
    for (const auto& e : fs::directory_iterator(root + "/stages/gallery", ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("0", 0) == 0 || name == "hotspots.bin")
            fs::copy_file(e.path(), root + "/stages/vault/" + name, fs::copy_options::overwrite_existing, ec);
    }
    fs::create_directories(root + "/out", ec);
    return quild_test::WriteFile(root + "/stages/vault/data.lua", kVaultData) &&
           quild_test::WriteFile(root + "/stages/vault/script.lua", kVaultScript) &&
           quild_test::WriteFile(root + "/stages/vault/inner/data.lua", kInnerData) &&
           quild_test::WriteFile(root + "/stages/vault/inner/script.lua", kInnerScript) &&
           quild_test::WriteFile(root + "/scripts/fz_extra.lua", "FZ_EXTRA = (FZ_EXTRA or 0) + 1\n") &&
           quild_test::WriteFile(root + "/scripts/fz_spin.lua", "while FZ_SPINNING do end\n") &&
           quild_test::WriteFile(root + "/data/texts/fuzz.txt", "<welcome>\nAgain.\n</welcome>\n<tag>\nTag\n</tag>\n");
}

bool Finalizers(const std::vector<std::string>& without) {
    return std::find(without.begin(), without.end(), "newproxy") == without.end();
}

bool QuitsWithAStatus(const std::string& call) {
    for (size_t at = call.find("quit("); at != std::string::npos; at = call.find("quit(", at + 5)) {
        const bool name_starts = at == 0 || !(std::isalnum(static_cast<unsigned char>(call[at - 1])) || call[at - 1] == '_');
        if (name_starts && call.compare(at, 6, "quit()") != 0) return true;
    }
    return false;
}

Spin SpinOf(uint64_t seed, bool finalizers) {
    Spin spin;
    if (seed == 0 || seed % 8 != 0) return spin;
    // Seeds 8, 16, ... 8 * shapes meet every shape once, and the places in
    // turn.
    const uint64_t k = seed / 8 - 1;
    const size_t shapes = finalizers ? kSpinShapes.size() : kSpinShapesBeforeFinalizers;
    spin.on = true;
    spin.shape = kSpinShapes[k % shapes].name;
    spin.held = kSpinShapes[k % shapes].held;
    spin.from = kSpinPlaces[(k + k / shapes) % kSpinPlaces.size()];
    spin.delay_ms = static_cast<int>(50 + (seed * 0x9E3779B97F4A7C15ull >> 40) % 400);
    return spin;
}

std::string SequenceScript(const std::string& demo_main, const std::vector<FunctionInfo>& functions, uint64_t seed,
                           int calls, const std::vector<std::string>& without) {
    auto refused = [&](const std::string& c) {
        for (const std::string& w : without)
            if (c.find(w + "(") != std::string::npos || c.find(w + "{") != std::string::npos) return true;
        return false;
    };
    const bool finalizers = Finalizers(without);
    Generator gen(functions, seed);
    auto call = [&] {
        for (;;) {
            std::string c = gen.Call();
            // The hotspot-map shader as a post effect normalises a zero
            // vector, and the NaN texture coordinates crash the software
            // rasteriser's generated code (SIGILL inside the GL driver).
            if (c.find("ge_postfx") != std::string::npos && c.find("hotspot_debug") != std::string::npos) continue;
            // quit(status) ends the game with the status the script asks for,
            // which the verdict would read as a crash: the game quits plainly.
            if (QuitsWithAStatus(c)) continue;
            if (!refused(c)) return c;
        }
    };
    // Exchanges and the stop test take the places of some calls; they come
    // from a generator of their own, so the rest of the sequence is the one
    // the seed always gave.
    std::vector<std::string> planned(static_cast<size_t>(calls));
    Generator side(functions, seed ^ 0x5851F42D4C957F2Dull);
    auto plan = [&](int at, const std::string& c) {
        if (at >= 0 && at < calls && planned[at].empty() && !refused(c)) planned[at] = c;
    };
    if (side.Percent() < 75) {
        const Generator::ScenePair pair = side.SwapScenes();
        const int at = refused(pair.before.back()) ? calls : static_cast<int>(side.Percent() * calls / 200);
        for (size_t k = 0; k < pair.before.size(); ++k) plan(at + static_cast<int>(k), pair.before[k]);
        plan(at + static_cast<int>(pair.before.size()) + pair.gap, pair.after);
    }
    for (int i = 0; i < calls; ++i)
        if (side.Percent() < 4) plan(i, side.Swap());
    // Finalizers, collections and raises out of OnGameUpdate: from a
    // generator of their own too, in the places of more calls.
    Generator fin(functions, seed ^ 0xC2B2AE3D27D4EB4Full);
    if (finalizers) {
        // (--without error: none raise.)
        const bool raising = fin.Percent() < 50;
        fin.Raising(raising && !refused("error("));
        // Now and then a storm: the collector running all the time, proxies
        // dropped and the engine's lists walked while their finalizers run.
        if (fin.Percent() < 40) {
            const int at = fin.Percent() * calls / 100;
            static const char* const kStepmul[] = {"1", "50", "200", "5000"};
            plan(at, std::string("collectgarbage(\"setpause\", 0) collectgarbage(\"setstepmul\", ") +
                         kStepmul[fin.Percent() % 4] + ")");
            for (int j = 1; j <= 8; ++j) plan(at + j, j % 4 == 0 ? fin.Storm() : j % 2 ? fin.Finalizer() : fin.Collect());
            plan(at + 9, "collectgarbage(\"setpause\", 200) collectgarbage(\"setstepmul\", 200)");
        }
        for (int i = 0; i < calls; ++i) {
            const int r = fin.Percent();
            if (r < 6) plan(i, fin.Finalizer());
            else if (r < 10) plan(i, fin.Collect());
            else if (r == 10 && fin.Percent() < 60) plan(i, fin.Throw());
            else if (r == 11) plan(i, fin.Storm());
        }
    }
    const Spin spin = SpinOf(seed, finalizers);
    const int spin_at = std::min(1 + side.Percent() % 16, std::max(calls - 1, 0));
    std::string spin_call = "FZ_SPIN()";
    if (spin.on && spin.from == "call") planned[spin_at] = spin_call;
    if (spin.on && spin.from == "task") planned[spin_at] = "ge_stoptasks() ge_task(\"FZ_SPIN()\") ge_settask()";

    std::mt19937_64 rng(seed ^ 0x9E3779B97F4A7C15ull);
    std::ostringstream s;
    s << demo_main << "\n-- The call sequence of seed " << seed << ".\nif not FZ then\n"
      << "FZ = {i = 0, h = 0, frame = 0, depth = 0, kept = 0, pool = {}, wrappers = {}, burst = {}}\n"
      << "FZ.handlers = {\"OnGameHotspotClick\", \"OnGameMouseDown\", \"OnGameMouseUp\", \"OnGameKeyDown\",\n"
      << "  \"OnGameKeyUp\", \"OnGameCharTyped\", \"OnGameMouseWheel\", \"OnGameSceneStart\", \"OnGameVideoClosed\",\n"
      << "  \"OnSceneEnter\", \"OnSceneExit\", \"OnSceneInit\", \"OnSceneLeave\", \"OnSceneMouseDown\", \"OnSceneMouseUp\",\n"
      << "  \"OnSceneKeyDown\", \"OnSceneRender\", \"OnSceneUpdate\", \"OnGameMouseEnter\", \"OnGameMouseLeave\"}\n";
    for (const std::string& h : kHotspots)
        for (const char* ev : {"_MouseDown", "_MouseUp", "_MouseClick", "_MouseMove", "_MouseEnter", "_MouseLeave"})
            s << "table.insert(FZ.handlers, \"" << h << ev << "\")\n";
    s << "FZ.calls = {\n";
    for (int i = 0; i < calls; ++i) {
        std::string c = call();
        s << LongString(planned[i].empty() ? c : planned[i]) << ",\n";
    }
    s << "}\nFZ.handler = {\n";
    // Most handler runs do nothing more: the render and update handlers
    // run every frame.
    for (int i = 0; i < 400; ++i) {
        std::string c = rng() % 100 < 12 ? LongString(call()) : std::string("\"\"");
        if (finalizers && fin.Percent() < 2) {
            const std::string f = fin.Finalizer();
            if (!refused(f)) c = LongString(f);
        }
        if (spin.on && spin.from == "handler" && i == spin_at) c = LongString(spin_call);
        s << c << ",\n";
    }
    s << "}\n";
    // Now and then a burst of calls in one frame, or a frame without any
    // (a transition or a task runs on).
    for (int f = 1; f <= calls; ++f) {
        const uint64_t r = rng() % 100;
        if (r < 6) s << "FZ.burst[" << f << "] = " << 2 + rng() % 6 << "\n";
        else if (r < 12) s << "FZ.burst[" << f << "] = 0\n";
    }
    s << "end\n" << kDriver;
    if (spin.on) {
        s << SpinScript(spin);
        if (spin.from == "main") s << spin_call << "\n";
    }
    return s.str();
}

std::vector<std::string> SweepArguments(const std::vector<FunctionInfo>& functions, const FunctionInfo& f, int lists,
                                        const std::vector<std::string>& without) {
    std::vector<std::string> out;
    uint64_t seed = 0xCBF29CE484222325ull;  // from the name alone: a list stays what it was
    for (char c : f.name) seed = (seed ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    auto refused = [&](const std::string& c) {
        for (const std::string& w : without)
            if (c.find(w + "(") != std::string::npos || c.find(w + "{") != std::string::npos) return true;
        // Escape ends the game; the hotspot-map shader as a post effect
        // crashes the software rasteriser (see SequenceScript).
        return c.find("Escape") != std::string::npos || QuitsWithAStatus(c) ||
               (c.find("ge_postfx") != std::string::npos && c.find("hotspot_debug") != std::string::npos);
    };
    for (int k = 0; k < lists; ++k) {
        Generator gen(functions, seed + static_cast<uint64_t>(k));
        for (int tries = 0; tries < 100; ++tries) {
            // Even lists plausible, odd ones hostile.
            const std::string args = k % 2 == 0 ? gen.PlausibleArguments(f, k / 2) : gen.ArgumentsOf(f);
            if (!refused(args)) {
                out.push_back(args);
                break;
            }
        }
    }
    return out;
}

}  // namespace seqfuzz
