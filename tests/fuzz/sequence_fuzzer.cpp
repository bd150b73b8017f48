// The call-sequence fuzzer. From each seed it makes a game folder (the
// bundled game, written by quild_demogen, and the fuzzer's own scenes) and
// a start-up script that plays a random sequence of script calls, then runs
// the engine on it in a process of its own (this program again, with
// --play: the engine's own main plus "fuzz_input", which pushes real input
// events). A sanitizer report, a fault the engine caught, a Lua panic, an
// exit with status 1 before the shut-down, a crash or a hang fails the
// seed: the seed, what went wrong and the last calls made are
// printed, and the seed's folder is kept. Every eighth seed is a stop test:
// its script enters an endless loop, the fuzzer sends the game one SIGTERM
// and the game has to log its end within three seconds (it takes a few
// hundred milliseconds; the rest is room for a loaded machine; a loop
// inside a finalizer, which no hook reaches: within the engine's grace for
// a held game and three seconds more); the process's exit after that, the
// sanitizers' leak check, has 30 s of its own.
//
//   quild_seqfuzz [--seeds 1-100,250,8-200/8] [--jobs N] [--calls N] [--timeout S] [--work DIR] [--keep]
//                 [--without name,name]
//   quild_seqfuzz --sweep [--jobs N] [--slices N] [--lists N] [--steps DENSE,CAP] [--sample N] [--whole]
//                 [--known FILE] [--function name,name] [--list N] [--action NAME] [--trigger gc|index|newindex] [--step N]
//   quild_seqfuzz --play            (in a game folder: the engine itself)
//
// The sweep (sweep_script.h) calls every script function, with destructive
// Lua run inside the call at each collection step and globals metamethod
// call; a failure prints the combination and the command that replays it
// alone (--function, --list, --action, --trigger, --step).
//
// A sequence depends on its seed, the call count and --without alone, so
// `--seeds N` replays one. --without leaves out every call that names one
// of the functions (to hunt on past a fault that is being mended);
// `--without newproxy` leaves out the finalizers with everything that came
// with them, giving each seed the sequence it gave before.
#include <SDL.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_main.h"
#include "app/app_window.h"
#include "app/engine.h"
#include "base/text.h"
#include "script/engine_work.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "sequence_script.h"
#include "sweep_script.h"
#include "support/test_support.h"

extern "C" {
#include <lauxlib.h>
}

namespace {

namespace fs = std::filesystem;
using quild_test::ReadFile;
using quild_test::WriteFile;

// ---------------------------------------------------------------- --play

SDL_Keycode KeyOf(const char* name) {
    if (!std::strcmp(name, "`")) return SDLK_BACKQUOTE;
    return SDL_GetKeyFromName(name);
}

// fuzz_input(kind, ...): "move", x, y (on the 1024x768 virtual screen); "down"/"up", button
// (1 left, 2 middle, 3 right); "key", name, "tap" or "down"; "text", text;
// "wheel", notches. The events are seen at the next frame's pump.
int FuzzInput(lua_State* L) {
    const char* kind = luaL_optstring(L, 1, "");
    SDL_Event e{};
    if (!std::strcmp(kind, "move")) {
        const Engine* engine = CurrentEngine();
        const int w = engine && engine->screenRect.w > 0 ? engine->screenRect.w : 1024;
        const int h = engine && engine->screenRect.h > 0 ? engine->screenRect.h : 768;
        e.type = SDL_MOUSEMOTION;
        // The engine's pointer may hold whatever ge_setmouse was given.
        auto rel = [](lua_Integer to, int size, int span, float from) {
            const double d = static_cast<double>(to) * size / span - static_cast<double>(from);
            return SaturateToInt(d);
        };
        e.motion.xrel = rel(luaL_optinteger(L, 2, 0), w, 1024, g_mouseX);
        e.motion.yrel = rel(luaL_optinteger(L, 3, 0), h, 768, g_mouseY);
        SDL_PushEvent(&e);
    } else if (!std::strcmp(kind, "down") || !std::strcmp(kind, "up")) {
        e.type = kind[0] == 'd' ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.button = static_cast<uint8_t>(luaL_optinteger(L, 2, 1));
        e.button.state = kind[0] == 'd' ? SDL_PRESSED : SDL_RELEASED;
        SDL_PushEvent(&e);
    } else if (!std::strcmp(kind, "key")) {
        const SDL_Keycode sym = KeyOf(luaL_optstring(L, 2, ""));
        if (sym == SDLK_UNKNOWN) return 0;
        e.type = SDL_KEYDOWN;
        e.key.state = SDL_PRESSED;
        e.key.keysym.sym = sym;
        e.key.keysym.scancode = SDL_GetScancodeFromKey(sym);
        SDL_PushEvent(&e);
        if (!std::strcmp(luaL_optstring(L, 3, "tap"), "tap")) {
            e.type = SDL_KEYUP;
            e.key.state = SDL_RELEASED;
            SDL_PushEvent(&e);
        }
    } else if (!std::strcmp(kind, "text")) {
        e.type = SDL_TEXTINPUT;
        SDL_strlcpy(e.text.text, luaL_optstring(L, 2, ""), sizeof e.text.text);
        SDL_PushEvent(&e);
    } else if (!std::strcmp(kind, "wheel")) {
        e.type = SDL_MOUSEWHEEL;
        e.wheel.y = static_cast<int>(luaL_optinteger(L, 2, 1));
        SDL_PushEvent(&e);
    }
    return 0;
}

ScriptFunctionRecord r_fuzz_input("fuzz_input", FuzzInput);

// fuzz_ceiling(bytes): the ceiling of the scripts' memory (0: the engine's
// own), so that a sequence can fill it without taking gigabytes.
int FuzzCeiling(lua_State* L) {
    const lua_Number bytes = luaL_optnumber(L, 1, 0);
    SetScriptMemoryCeiling(bytes > 0 && bytes < 1e15 ? static_cast<size_t>(bytes) : 0);
    return 0;
}

ScriptFunctionRecord r_fuzz_ceiling("fuzz_ceiling", FuzzCeiling);

// fuzz_hooked(): whether a hook reaches the running script now. Lua runs a
// finalizer, and whatever it calls (a node switch and its handlers), with
// its hooks off. The engine's hook is put back as it was.
bool g_hook_seen = false;
void SeeHook(lua_State*, lua_Debug*) { g_hook_seen = true; }
int FuzzHooked(lua_State* L) {
    const lua_Hook hook = lua_gethook(L);
    const int mask = lua_gethookmask(L), count = lua_gethookcount(L);
    g_hook_seen = false;
    lua_sethook(L, SeeHook, LUA_MASKCOUNT, 1);
    if (luaL_loadstring(L, "local a = 1 a = a + 1") == 0) lua_pcall(L, 0, 0, 0);
    lua_settop(L, 0);
    lua_sethook(L, hook, mask, count);
    lua_pushboolean(L, g_hook_seen);
    return 1;
}

ScriptFunctionRecord r_fuzz_hooked("fuzz_hooked", FuzzHooked);

// fuzz_unpaced(): frames as fast as they come. Without vertical sync the
// engine holds frames to the display's rate, which the sweep, a call a
// frame, need not wait for.
int FuzzUnpaced(lua_State*) {
    if (Engine* engine = CurrentEngine(); engine && engine->window) engine->window->SetFrameLimit(0);
    return 0;
}

ScriptFunctionRecord r_fuzz_unpaced("fuzz_unpaced", FuzzUnpaced);

// fuzz_mustwait(): whether a release asked for by a script function called
// here has to wait for the engine's work below (the sweep's handlers of
// paths that hold objects check it).
int FuzzMustWait(lua_State* L) {
    lua_pushboolean(L, ReleaseMustWait());
    return 1;
}

ScriptFunctionRecord r_fuzz_mustwait("fuzz_mustwait", FuzzMustWait);

// ---------------------------------------------------------------- driver

struct Options {
    std::vector<uint64_t> seeds;
    std::vector<std::string> without;
    int jobs = 2;
    int calls = 160;
    int timeout = 0;  // 0: the mode's own
    std::string work;
    bool keep = false;
    // The sweep (--sweep): its functions (all when empty), argument lists,
    // limits and the file of known failures.
    bool sweep = false;
    std::vector<std::string> functions;
    int lists = 3;
    int slices = 0;  // 0: four for each job
    seqfuzz::SweepLimits limits;
    std::string known;
    bool whole = false;  // --whole or QUILD_SWEEP_WHOLE=1: every step, whatever --sample says
};

std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string SelfPath() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

// The last lines of a text.
std::string Tail(const std::string& text, int lines) {
    size_t at = text.size();
    for (int n = 0; n <= lines && at > 0; ++n) {
        size_t nl = text.rfind('\n', at - 1);
        if (nl == std::string::npos) return text;
        at = nl;
        if (n == lines) return text.substr(at + 1);
    }
    return text;
}

// Lines of a text holding any of the words.
std::string LinesWith(const std::string& text, const std::vector<const char*>& words, int max_lines) {
    std::istringstream in(text);
    std::string line, out;
    int n = 0;
    while (std::getline(in, line) && n < max_lines) {
        for (const char* w : words) {
            if (line.find(w) != std::string::npos) {
                out += "    " + line + "\n";
                ++n;
                break;
            }
        }
    }
    return out;
}

using Clock = std::chrono::steady_clock;

// The game's log in a seed's folder.
std::string GameLog(const std::string& dir) { return ReadFile(dir + "/home/Documents/Quorvane/log.txt"); }


struct Running {
    pid_t pid = -1;
    uint64_t seed = 0;
    std::string dir;
    Clock::time_point start;
    // The stop test: the loop seen running, the signal sent, and the hang
    // when the game did not end in time.
    seqfuzz::Spin spin;
    pid_t game = -1;
    Clock::time_point spinning, signalled;
    bool shut_down = false;  // the game's last log line seen in time
    std::string hang;
};

// How long the process may take to end after the game's own end: the
// sanitizers' leak check at exit scans the whole heap, which takes seconds
// on a busy machine.
constexpr auto kExitAfterShutDown = std::chrono::seconds(30);

// The game's end in its log: the shut-down done, or a held game closed
// from outside.
bool ShutDownLogged(const std::string& log) {
    return log.find("[QUIT]") != std::string::npos || log.find("closed without the shut-down") != std::string::npos;
}

// Steps a stop test on: waits for the loop to start and for the seed's
// delay, sends the game one SIGTERM, and kills a game still running when
// its time is up.
void WatchStop(Running& r) {
    if (!r.spin.on || !r.hang.empty()) return;
    const Clock::time_point now = Clock::now();
    if (r.spinning == Clock::time_point{}) {
        if (!fs::exists(r.dir + "/" + seqfuzz::kSpinMark)) return;
        r.spinning = now;
        // A loop reached from inside a finalizer is held whatever its shape.
        if (!r.spin.held && ReadFile(r.dir + "/" + seqfuzz::kSpinMark).find(seqfuzz::kHooksOff) != std::string::npos) {
            r.spin.held = true;
            r.spin.from += " inside a finalizer";
        }
        return;
    }
    if (r.signalled == Clock::time_point{}) {
        if (now - r.spinning < std::chrono::milliseconds(r.spin.delay_ms)) return;
        r.game = static_cast<pid_t>(std::atol(ReadFile(r.dir + "/fuzz_pid.txt").c_str()));
        if (r.game > 1) kill(r.game, SIGTERM);
        r.signalled = now;
        return;
    }
    if (r.game <= 1 || now - r.signalled <= std::chrono::milliseconds(r.spin.WithinMs())) return;
    // The game's time is up when its log says it ended: what follows is
    // the process's exit, timed apart.
    if (!r.shut_down) {
        const std::string log = GameLog(r.dir);
        r.shut_down = ShutDownLogged(log);
        if (!r.shut_down) {
            // The log tells a loop that held on from a slow shut-down.
            const bool let_go = log.find("termination requested") != std::string::npos;
            r.hang = "hang: one SIGTERM did not end the game within " +
                     std::to_string(r.spin.WithinMs() / 1000.0).substr(0, 3) + " s (the " + r.spin.shape +
                     " loop from " + r.spin.from +
                     (let_go ? "; the loop let go, the shut-down did not end)" : "; the loop held on)");
            kill(r.game, SIGKILL);
            return;
        }
    }
    if (now - r.signalled > std::chrono::milliseconds(r.spin.WithinMs()) + kExitAfterShutDown) {
        r.hang = "hang: the game ended its shut-down but the process did not exit within " +
                 std::to_string(kExitAfterShutDown.count()) + " s";
        kill(r.game, SIGKILL);
    }
}

// What went wrong in a game that has ended: empty when nothing did.
std::string Why(const Running& r, int status, const Options& o, const std::string& out, const std::string& log) {
    std::string why;
    const bool panic = log.find("LUA PANIC") != std::string::npos || out.find("PANIC") != std::string::npos;
    // ("LeakSanitizer has encountered a fatal error" is the leak checker
    // failing to stop the threads at exit, not a report.)
    if (out.find("ERROR: AddressSanitizer") != std::string::npos ||
        out.find("ERROR: LeakSanitizer: detected") != std::string::npos ||
        out.find("runtime error:") != std::string::npos)
        why = panic ? "Lua panic, then a sanitizer report" : "sanitizer report";
    else if (!r.hang.empty())
        why = r.hang;
    else if (r.spin.on && !r.spin.held && log.find("closed without the shut-down") != std::string::npos)
        why = "the " + r.spin.shape + " loop from " + r.spin.from + " held on: the game was closed from outside";
    else if (WIFEXITED(status) && WEXITSTATUS(status) == 124)  // ended by `timeout`'s SIGTERM
        why = "hang: still running after " + std::to_string(o.timeout) + " s";
    else if ((WIFEXITED(status) && WEXITSTATUS(status) == 137) || (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL))
        // The SIGKILL that follows: `timeout` passes on the signal that
        // ended the game.
        why = "hang: still running after " + std::to_string(o.timeout) + " s, and 10 s after a SIGTERM";
    else if (WIFEXITED(status) && WEXITSTATUS(status) > 1 && log.find("[QUIT]") != std::string::npos &&
             seqfuzz::QuitsWithAStatus(ReadFile(r.dir + "/fuzz_calls.log")))
        ;  // a finalizer's quit(n): the game shut down and exited with the status asked for
    else if (WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) > 1))
        why = "crash (status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")";
    else if (panic)
        why = "Lua panic";
    else if (WIFEXITED(status) && WEXITSTATUS(status) == 1 && log.find("[QUIT]") == std::string::npos)
        // A frame that failed (a display reset the driver refused) ends the
        // game with 1 after its shut-down; without the shut-down the game
        // was cut off in the middle of a frame.
        why = "exit status 1 without the shut-down";
    else if (log.find("An exception thrown") != std::string::npos || log.find("Exception Occured") != std::string::npos)
        why = "fault caught by the engine";
    return why;
}

// What the run of one seed left: empty when it passed.
std::string Verdict(const Running& r, int status, const Options& o) {
    const std::string out = ReadFile(r.dir + "/out.txt");
    const std::string log = GameLog(r.dir);
    const std::string why = Why(r, status, o, out, log);
    if (why.empty()) return {};
    std::string report = "seed " + std::to_string(r.seed) + ": " + why + "\n";
    report += LinesWith(out, {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:", "SUMMARY:",
                              "    #0 ", "    #1 ", "    #2 ", "    #3 "},
                        14);
    report += LinesWith(log, {"exception", "Exception", "PANIC"}, 4);
    report += "  last calls (fuzz_calls.log):\n";
    std::istringstream calls(Tail(ReadFile(r.dir + "/fuzz_calls.log"), 12));
    std::string line;
    while (std::getline(calls, line)) report += "    " + line.substr(0, 400) + "\n";
    report += "  folder kept: " + r.dir + " (main.lua holds the whole sequence; out.txt the output)\n";
    return report;
}

pid_t Launch(const std::string& self, const std::string& dir, const Options& o) {
    const std::string cmd = "cd " + Quoted(dir) + " && exec env HOME=" + Quoted(dir + "/home") +
                            " SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy timeout -k 10 -s TERM " +
                            std::to_string(o.timeout) + " " + Quoted(self) + " --play > out.txt 2>&1";
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

std::string WorkFolder(const Options& o) {
    return o.work.empty() ? (fs::temp_directory_path() / ("quild_seqfuzz." + std::to_string(getpid()))).string() : o.work;
}

// Writes the game every run copies into work/game and gives its start-up
// script; empty when it cannot. Sets the environment every run shares.
std::string PrepareGame(const std::string& work) {
    std::error_code ec;
    const std::string base = work + "/game";
    fs::create_directories(work, ec);
    // Small faces: the sequences load scenes very often.
    const std::string gen = std::string(QUILD_DEMOGEN) + " " + Quoted(base) + " --faces 64 > /dev/null";
    if (std::system(gen.c_str()) != 0 || !seqfuzz::AddFuzzScenes(base)) {
        std::fprintf(stderr, "quild_seqfuzz: cannot write the game into %s\n", base.c_str());
        return {};
    }
    // The sandbox: a copy of the game's scripts that the sweep's
    // removescript and dumpscript may delete and replace.
    fs::create_directories(base + "/sandbox", ec);
    for (const auto& entry : fs::recursive_directory_iterator(base, ec)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".lua") continue;
        const std::string relative = fs::relative(entry.path(), base, ec).string();
        if (relative.rfind("sandbox/", 0) == 0) continue;
        std::string flat = relative;
        std::replace(flat.begin(), flat.end(), '/', '_');
        fs::copy_file(entry.path(), base + "/sandbox/" + flat, fs::copy_options::overwrite_existing, ec);
    }
    WriteFile(base + "/sandbox/sw_chunk.lua", "SW_CHUNK_RUNS = (SW_CHUNK_RUNS or 0) + 1\n");
    // A smaller display than the game's own: the frames are drawn in
    // software, under the sanitizers.
    std::string demo_main = ReadFile(base + "/main.lua");
    const std::string mode = "ge_resetdisplay(1024, 768,";
    if (const size_t at = demo_main.find(mode); at != std::string::npos)
        demo_main.replace(at, mode.size(), "ge_resetdisplay(400, 300,");

    // The options every run shares; the test preset's own leak suppressions.
    setenv("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0:allocator_may_return_null=1", 0);
    setenv("LSAN_OPTIONS", ("suppressions=" + std::string(QUILD_SOURCE_DIR) + "/tests/lsan.supp").c_str(), 0);
    setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1", 0);
    // The software rasteriser draws on the engine's own thread: its worker
    // threads (one per core, in every run at once) made each run several
    // times slower on a busy machine.
    setenv("LP_NUM_THREADS", "0", 0);
    return demo_main;
}

int Drive(const Options& o) {
    const std::string self = SelfPath();
    std::error_code ec;
    const std::string work = WorkFolder(o);
    const std::string base = work + "/game";
    const std::string demo_main = PrepareGame(work);
    if (demo_main.empty()) return 2;
    const auto functions = seqfuzz::ScriptFunctions(std::string(QUILD_SOURCE_DIR) + "/tools/script_functions.txt");

    std::deque<uint64_t> todo(o.seeds.begin(), o.seeds.end());
    std::map<pid_t, Running> running;
    int failed = 0, passed = 0, stop_tests = 0, stops_sent = 0;
    long long calls_made = 0;
    const auto start = std::chrono::steady_clock::now();
    while (!todo.empty() || !running.empty()) {
        while (!todo.empty() && static_cast<int>(running.size()) < o.jobs) {
            Running r;
            r.seed = todo.front();
            todo.pop_front();
            r.dir = work + "/seed-" + std::to_string(r.seed);
            fs::remove_all(r.dir, ec);
            fs::copy(base, r.dir, fs::copy_options::recursive, ec);
            fs::create_directories(r.dir + "/home", ec);
            if (ec || !WriteFile(r.dir + "/main.lua", seqfuzz::SequenceScript(demo_main, functions, r.seed, o.calls, o.without))) {
                std::fprintf(stderr, "quild_seqfuzz: cannot set up %s\n", r.dir.c_str());
                return 2;
            }
            r.start = Clock::now();
            r.spin = seqfuzz::SpinOf(r.seed, seqfuzz::Finalizers(o.without));
            r.pid = Launch(self, r.dir, o);
            running[r.pid] = r;
        }
        int status = 0;
        const pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid < 0) break;
        if (pid == 0) {
            for (auto& entry : running) WatchStop(entry.second);
            usleep(10000);
            continue;
        }
        auto it = running.find(pid);
        if (it == running.end()) continue;
        const Running r = it->second;
        running.erase(it);
        stop_tests += r.spin.on;
        stops_sent += r.signalled != Clock::time_point{};
        const std::string report = Verdict(r, status, o);
        const std::string calls = ReadFile(r.dir + "/fuzz_calls.log");
        size_t n = 0;
        for (char c : calls) n += c == '\n';
        calls_made += static_cast<long long>(n);
        if (!report.empty()) {
            ++failed;
            std::printf("FAIL %s", report.c_str());
        } else {
            ++passed;
            if (!o.keep) fs::remove_all(r.dir, ec);
        }
        // A long run says how far it has come.
        if ((passed + failed) % 500 == 0)
            std::printf("quild_seqfuzz: %d of %zu sequences run, %d failed; %lld calls in %.0f s\n", passed + failed,
                        o.seeds.size(), failed, calls_made,
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::fflush(stdout);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("quild_seqfuzz: %zu sequences: %d passed, %d failed; %lld calls in %.0f s\n", o.seeds.size(), passed,
                failed, calls_made, seconds);
    if (stop_tests) std::printf("quild_seqfuzz: %d stop tests, %d signalled in their loop\n", stop_tests, stops_sent);
    if (!failed && !o.keep && o.work.empty()) fs::remove_all(work, ec);
    return failed ? 1 : 0;
}

// ---------------------------------------------------------------- sweep

// The frames of a sanitizer's stack, shortened: "#N function file:line"
// without the address and the source folder.
std::string Frame(const std::string& line) {
    std::string f = line;
    const size_t hash = f.find('#');
    if (hash != std::string::npos) f = f.substr(hash);
    const size_t in = f.find(" in ");
    if (in != std::string::npos) f = f.substr(0, f.find(' ')) + " " + f.substr(in + 4);
    const std::string src = std::string(QUILD_SOURCE_DIR) + "/";
    for (size_t at; (at = f.find(src)) != std::string::npos;) f.erase(at, src.size());
    for (size_t at; (at = f.find("../")) != std::string::npos;) f.erase(at, 3);
    return f.size() > 220 ? f.substr(0, 220) : f;
}

// What a sanitizer said, cut to what tells one fault from another: its
// first line, the first frames of the access and of the free (or of a
// runtime error's stack), and the summary.
std::string Digest(const std::string& out, const std::string& log) {
    std::istringstream in(out);
    std::string line, digest;
    int stack = 0, frames = 0;  // which stack (1 the access, 2 the free), frames of it taken
    bool seen = false;
    while (std::getline(in, line)) {
        if (!seen && (line.find("ERROR: AddressSanitizer") != std::string::npos ||
                      line.find("runtime error:") != std::string::npos ||
                      line.find("ERROR: LeakSanitizer") != std::string::npos)) {
            seen = true;
            stack = 1;
            frames = 0;
            // ("==pid==ERROR: AddressSanitizer: what" from "AddressSanitizer"; a
            // runtime error's line names the source.)
            const size_t sep = line.find(": ");
            const bool runtime = line.find("runtime error:") != std::string::npos;
            digest += "    " + (runtime ? Frame(line) : line.substr(sep == std::string::npos ? 0 : sep + 2, 160)) + "\n";
            continue;
        }
        if (!seen) continue;
        if (line.find("freed by thread") != std::string::npos) {
            stack = 2;
            frames = 0;
            digest += "    freed by:\n";
            continue;
        }
        if (line.find("previously allocated by") != std::string::npos) {
            stack = 0;
            continue;
        }
        if (line.find("SUMMARY:") != std::string::npos) {
            digest += "    " + line.substr(0, 200) + "\n";
            break;
        }
        const size_t hash = line.find("    #");
        if (stack > 0 && hash != std::string::npos && frames < 6) {
            // The engine's own frames: the allocator's, Lua's and the C
            // library's tell nothing apart.
            if ((line.find(QUILD_SOURCE_DIR) == std::string::npos && line.find("/src/") == std::string::npos) ||
                line.find("libsanitizer") != std::string::npos)
                continue;
            digest += "      " + Frame(line) + "\n";
            ++frames;
        }
    }
    if (!seen) digest = LinesWith(log, {"exception", "Exception", "PANIC", "[ERROR]"}, 4);
    return digest;
}

// A slice of the functions, played by one game at a time from `from`;
// after a failure the next game goes on with the next trigger.
struct Slice {
    int index = 0;
    std::vector<seqfuzz::SweepEntry> entries;
    seqfuzz::SweepPlace from;
    int games = 0;
};

struct Finding {
    std::string function, action, trigger, arguments, why, digest, when, replay;
    int list = 0, step = 0;
};

// The finding for a combination and step, with the command that replays it.
Finding FindingAt(const std::vector<seqfuzz::SweepEntry>& entries, const seqfuzz::SweepPlace& place, int step) {
    Finding f;
    f.function = entries[static_cast<size_t>(place.function)].function;
    f.list = place.list;
    f.action = seqfuzz::SweepActions()[static_cast<size_t>(place.action)];
    f.trigger = seqfuzz::SweepTriggers()[static_cast<size_t>(place.trigger)];
    f.step = step;
    f.replay = "quild_seqfuzz --sweep --function " + f.function + " --list " + std::to_string(f.list) + " --action " +
               f.action + " --trigger " + f.trigger + " --step " + std::to_string(f.step);
    return f;
}

// The last call a slice's game began, from its log: the place, the step,
// and whether the call returned (the log says what it did).
struct LastRun {
    bool any = false, returned = false, ended = false, through = false, stuck = false;
    seqfuzz::SweepPlace place;
    int step = 0, runs = 0;
    // Runs whose release did not show at once: the place, the step, what.
    struct Stale {
        seqfuzz::SweepPlace place;
        int step = 0;
        std::string what;
    };
    std::vector<Stale> stale;
};

LastRun ReadSweepLog(const std::string& text) {
    LastRun last;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string tag;
        words >> tag;
        if (tag == "run") {
            last.any = true;
            last.returned = false;
            ++last.runs;
            std::string fn, action, trigger, through;
            words >> last.place.function >> last.place.list >> last.place.action >> last.place.trigger >> last.step >>
                fn >> action >> trigger >> through;
            last.through = through == "through";
        } else if (tag == "fired" || tag == "quiet") {
            last.returned = true;
        } else if (tag == "stale") {
            std::string what;
            words >> what;
            std::replace(what.begin(), what.end(), '_', ' ');
            last.stale.push_back({last.place, last.step, what});
        } else if (tag == "end") {
            last.ended = true;
        } else if (tag == "stuck") {
            last.stuck = true;
        }
    }
    return last;
}

std::vector<std::string> ReadKnown(const std::string& path) {
    std::vector<std::string> known;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::string w, key;
        for (int n = 0; n < 3 && words >> w; ++n) key += (key.empty() ? "" : " ") + w;
        if (!key.empty()) known.push_back(key);
    }
    return known;
}

int Sweep(const Options& o) {
    const std::string self = SelfPath();
    std::error_code ec;
    const std::string work = WorkFolder(o);
    const std::string base = work + "/game";
    const std::string demo_main = PrepareGame(work);
    if (demo_main.empty()) return 2;
    const auto all = seqfuzz::ScriptFunctions(std::string(QUILD_SOURCE_DIR) + "/tools/script_functions.txt");
    seqfuzz::SweepLimits limits = o.limits;
    if (!o.known.empty()) limits.known = ReadKnown(o.known);
    const char* whole = std::getenv("QUILD_SWEEP_WHOLE");
    if (o.whole || (whole && *whole && std::strcmp(whole, "0") != 0)) limits.sample = 1;

    std::vector<std::string> skipped_names;
    for (const auto& s : seqfuzz::SweepSkipped()) skipped_names.push_back(s.first);
    // Argument lists call no function that names a script: those are swept
    // on the sandbox's script alone.
    std::vector<std::string> not_in_lists = skipped_names;
    const auto& sandboxed = seqfuzz::SweepSandboxed();
    not_in_lists.insert(not_in_lists.end(), sandboxed.begin(), sandboxed.end());
    auto wanted = [&](const std::string& name) {
        return o.functions.empty() || std::find(o.functions.begin(), o.functions.end(), name) != o.functions.end();
    };
    std::vector<seqfuzz::SweepEntry> entries;
    for (const seqfuzz::FunctionInfo& f : all) {
        if (std::find(skipped_names.begin(), skipped_names.end(), f.name) != skipped_names.end()) continue;
        if (!wanted(f.name)) continue;
        if (std::find(sandboxed.begin(), sandboxed.end(), f.name) != sandboxed.end()) {
            entries.push_back({f.name, seqfuzz::SandboxArguments()});
            continue;
        }
        bool plausible_only = false;
        for (const auto& p : seqfuzz::SweepPlausibleOnly()) plausible_only |= p.first == f.name;
        entries.push_back({f.name, seqfuzz::SweepArguments(all, f, plausible_only ? 1 : o.lists, not_in_lists)});
    }
    for (const std::string& path : seqfuzz::SweepPaths())
        if (wanted(path)) entries.push_back({path, {"nil"}});
    if (entries.empty()) {
        std::fprintf(stderr, "quild_seqfuzz: no function to sweep\n");
        return 2;
    }
    // Slices of every n-th function: the heavy ones (scene loads) spread.
    const int n = std::clamp(o.slices > 0 ? o.slices : 4 * o.jobs, 1, static_cast<int>(entries.size()));
    std::vector<Slice> slices(static_cast<size_t>(n));
    for (size_t i = 0; i < entries.size(); ++i) slices[i % n].entries.push_back(entries[i]);
    for (int i = 0; i < n; ++i) slices[i].index = i;

    std::deque<int> todo;
    for (int i = 0; i < n; ++i) todo.push_back(i);
    std::map<pid_t, std::pair<int, Running>> running;
    std::vector<Finding> findings;
    std::set<std::string> stale_shown;
    long long runs = 0;
    int games = 0;
    const auto start = Clock::now();
    auto launch = [&](Slice& slice) {
        Running r;
        r.dir = work + "/slice-" + std::to_string(slice.index) + "." + std::to_string(slice.games++);
        fs::remove_all(r.dir, ec);
        fs::copy(base, r.dir, fs::copy_options::recursive, ec);
        fs::create_directories(r.dir + "/home", ec);
        if (ec || !WriteFile(r.dir + "/main.lua", seqfuzz::SweepScript(demo_main, slice.entries, slice.from, limits)))
            return false;
        r.start = Clock::now();
        r.pid = Launch(self, r.dir, o);
        running[r.pid] = {slice.index, r};
        ++games;
        return true;
    };
    while (!todo.empty() || !running.empty()) {
        while (!todo.empty() && static_cast<int>(running.size()) < o.jobs) {
            Slice& slice = slices[static_cast<size_t>(todo.front())];
            todo.pop_front();
            if (!launch(slice)) {
                std::fprintf(stderr, "quild_seqfuzz: cannot set up a game in %s\n", work.c_str());
                return 2;
            }
        }
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) break;
        auto it = running.find(pid);
        if (it == running.end()) continue;
        Slice& slice = slices[static_cast<size_t>(it->second.first)];
        const Running r = it->second.second;
        running.erase(it);
        const std::string out = ReadFile(r.dir + "/out.txt");
        const std::string log = GameLog(r.dir);
        const LastRun last = ReadSweepLog(ReadFile(r.dir + "/" + seqfuzz::kSweepLog));
        runs += last.runs;
        std::string why = Why(r, status, o, out, log);
        if (why.empty() && last.stuck) why = "the cube scene did not come back after the call";
        if (why.empty() && !last.ended) why = "the game ended before its sweep did";
        for (const LastRun::Stale& st : last.stale) {
            Finding f = FindingAt(slice.entries, st.place, st.step);
            f.why = "not shown at once: " + st.what;
            findings.push_back(f);
            // (The first step of a combination that shows it: each later
            // one only counts.)
            if (!stale_shown.insert(f.function + " " + std::to_string(f.list) + " " + f.action + " " + f.trigger).second)
                continue;
            std::printf("FAIL %s list %d, %s at %s %d: %s\n  replay: %s\n", f.function.c_str(), f.list,
                        f.action.c_str(), f.trigger.c_str(), f.step, f.why.c_str(), f.replay.c_str());
        }
        if (why.empty()) {
            if (!o.keep && last.stale.empty()) fs::remove_all(r.dir, ec);
        } else if (!last.any || last.ended) {
            // Nothing to go on from, or a report at the exit (a leak): the
            // slice fails whole.
            Finding f;
            f.function = "(slice " + std::to_string(slice.index) + " from " +
                         slice.entries[static_cast<size_t>(slice.from.function)].function + ")";
            f.why = why + (last.any ? ", after its sweep ended" : ", before its first call");
            f.digest = Digest(out, log);
            f.when = "folder kept: " + r.dir;
            findings.push_back(f);
            std::printf("FAIL %s: %s\n%s  %s\n", f.function.c_str(), f.why.c_str(), f.digest.c_str(), f.when.c_str());
        } else {
            const seqfuzz::SweepEntry& e = slice.entries[static_cast<size_t>(last.place.function)];
            Finding f = FindingAt(slice.entries, last.place, last.step);
            f.arguments = e.lists[static_cast<size_t>(last.place.list)];
            f.why = why;
            f.digest = Digest(out, log);
            f.when = last.returned      ? "after the call (the frame after it or the cube scene put back)"
                     : last.through ? "inside the call or the next frame's work it asked for"
                                    : "inside the call";
            findings.push_back(f);
            const std::string at = f.trigger == "gc" ? "collection step" : "_G.__" + f.trigger + " call";
            std::printf("FAIL %s(%s) list %d (%s), %s at %s %d: %s, %s\n%s  replay: %s\n  folder kept: %s\n",
                        f.function.c_str(), f.arguments.substr(0, 200).c_str(), f.list,
                        f.list % 2 ? "hostile" : "plausible", f.action.c_str(), at.c_str(), f.step, f.why.c_str(),
                        f.when.c_str(), f.digest.c_str(), f.replay.c_str(), r.dir.c_str());
            // Go on behind it, in the next game.
            slice.from = seqfuzz::SweepPlaceAfter(last.place);
            if (slice.from.list >= static_cast<int>(e.lists.size())) {
                slice.from = seqfuzz::SweepPlace{};
                slice.from.function = last.place.function + 1;
            }
            if (slice.from.function < static_cast<int>(slice.entries.size())) todo.push_front(slice.index);
        }
        std::fflush(stdout);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto& skipped = seqfuzz::SweepSkipped();
    std::printf("quild_seqfuzz: sweep of %zu functions (%zu skipped: ", entries.size(), skipped.size());
    for (size_t i = 0; i < skipped.size(); ++i)
        std::printf("%s%s %s", i ? "; " : "", skipped[i].first.c_str(), skipped[i].second.c_str());
    std::printf("): %lld calls in %d games, %.0f s\n", runs, games, seconds);
    if (!limits.known.empty())
        std::printf("quild_seqfuzz: %zu known failures not run (%s)\n", limits.known.size(), o.known.c_str());
    std::printf("quild_seqfuzz: %lld calls, %zu failed\n", runs, findings.size());
    if (findings.empty() && !o.keep && o.work.empty()) fs::remove_all(work, ec);
    return findings.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && !std::strcmp(argv[1], "--play")) {
        // For the stop tests: the game's own process id (the driver's child
        // is the `timeout` around it).
        WriteFile("fuzz_pid.txt", std::to_string(getpid()));
        return ApplicationMain("QUILD", "", "final");
    }
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--seeds" && v) {
            // "1-100,250,8-200/8": ranges (with a step), single seeds.
            std::stringstream list(argv[++i]);
            std::string part;
            while (std::getline(list, part, ',')) {
                const size_t dash = part.find('-'), slash = part.find('/');
                const uint64_t first = std::strtoull(part.c_str(), nullptr, 10);
                const uint64_t last = dash == std::string::npos ? first : std::strtoull(part.c_str() + dash + 1, nullptr, 10);
                const uint64_t step = slash == std::string::npos ? 1 : std::max<uint64_t>(1, std::strtoull(part.c_str() + slash + 1, nullptr, 10));
                for (uint64_t s = first; s <= last && o.seeds.size() < 10000000; s += step) o.seeds.push_back(s);
            }
        } else if (a == "--without" && v) {
            std::stringstream list(argv[++i]);
            std::string name;
            while (std::getline(list, name, ',')) if (!name.empty()) o.without.push_back(name);
        } else if (a == "--jobs" && v) {
            o.jobs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--calls" && v) {
            o.calls = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--timeout" && v) {
            o.timeout = std::max(5, std::atoi(argv[++i]));
        } else if (a == "--work" && v) {
            o.work = argv[++i];
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--sweep") {
            o.sweep = true;
        } else if (a == "--function" && v) {
            std::stringstream list(argv[++i]);
            std::string name;
            while (std::getline(list, name, ',')) if (!name.empty()) o.functions.push_back(name);
        } else if (a == "--lists" && v) {
            o.lists = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--slices" && v) {
            o.slices = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--list" && v) {
            o.limits.list = std::max(0, std::atoi(argv[++i]));
        } else if (a == "--action" && v) {
            o.limits.action = argv[++i];
        } else if (a == "--trigger" && v) {
            o.limits.trigger = argv[++i];
        } else if (a == "--step" && v) {
            o.limits.step = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--steps" && v) {
            // "dense,cap"
            const char* text = argv[++i];
            o.limits.dense = std::max(1, std::atoi(text));
            if (const char* comma = std::strchr(text, ',')) o.limits.cap = std::max(1, std::atoi(comma + 1));
        } else if (a == "--known" && v) {
            o.known = argv[++i];
        } else if (a == "--sample" && v) {
            o.limits.sample = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--whole") {
            o.whole = true;
        } else {
            std::fprintf(stderr,
                         "usage: quild_seqfuzz [--seeds 1-100,250,8-200/8] [--jobs N] [--calls N] [--timeout S] [--work DIR] "
                         "[--keep] [--without name,name]\n"
                         "       quild_seqfuzz --sweep [--jobs N] [--slices N] [--lists N] [--steps DENSE,CAP] [--sample N] [--whole]\n"
                         "                     [--known FILE]\n"
                         "                     [--function name,name] [--list N] [--action NAME] [--trigger gc|index|newindex]\n"
                         "                     [--step N] [--timeout S] [--work DIR] [--keep]\n");
            return 2;
        }
    }
    if (o.timeout == 0) o.timeout = o.sweep ? 1200 : 120;
    signal(SIGPIPE, SIG_IGN);
    if (o.sweep) return Sweep(o);
    if (o.seeds.empty())
        for (uint64_t s = 1; s <= 8; ++s) o.seeds.push_back(s);
    return Drive(o);
}
