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
//   quild_seqfuzz --play            (in a game folder: the engine itself)
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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_main.h"
#include "app/app_window.h"
#include "app/engine.h"
#include "base/text.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "sequence_script.h"
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

// ---------------------------------------------------------------- driver

struct Options {
    std::vector<uint64_t> seeds;
    std::vector<std::string> without;
    int jobs = 2;
    int calls = 160;
    int timeout = 120;
    std::string work;
    bool keep = false;
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

// What the run of one seed left: empty when it passed.
std::string Verdict(const Running& r, int status, const Options& o) {
    const std::string out = ReadFile(r.dir + "/out.txt");
    const std::string log = GameLog(r.dir);
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

int Drive(const Options& o) {
    const std::string self = SelfPath();
    std::error_code ec;
    const std::string work = o.work.empty() ? (fs::temp_directory_path() / ("quild_seqfuzz." + std::to_string(getpid()))).string()
                                            : o.work;
    const std::string base = work + "/game";
    fs::create_directories(work, ec);
    // Small faces: the sequences load scenes very often.
    const std::string gen = std::string(QUILD_DEMOGEN) + " " + Quoted(base) + " --faces 64 > /dev/null";
    if (std::system(gen.c_str()) != 0 || !seqfuzz::AddFuzzScenes(base)) {
        std::fprintf(stderr, "quild_seqfuzz: cannot write the game into %s\n", base.c_str());
        return 2;
    }
    // A smaller display than the game's own: the frames are drawn in
    // software, under the sanitizers.
    std::string demo_main = ReadFile(base + "/main.lua");
    const std::string mode = "ge_resetdisplay(1024, 768,";
    if (const size_t at = demo_main.find(mode); at != std::string::npos)
        demo_main.replace(at, mode.size(), "ge_resetdisplay(400, 300,");
    const auto functions = seqfuzz::ScriptFunctions(std::string(QUILD_SOURCE_DIR) + "/tools/script_functions.txt");

    // The options every run shares; the test preset's own leak suppressions.
    setenv("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0:allocator_may_return_null=1", 0);
    setenv("LSAN_OPTIONS", ("suppressions=" + std::string(QUILD_SOURCE_DIR) + "/tests/lsan.supp").c_str(), 0);
    setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1", 0);
    // The software rasteriser draws on the engine's own thread: its worker
    // threads (one per core, in every run at once) made each run several
    // times slower on a busy machine.
    setenv("LP_NUM_THREADS", "0", 0);

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
        } else {
            std::fprintf(stderr,
                         "usage: quild_seqfuzz [--seeds 1-100,250,8-200/8] [--jobs N] [--calls N] [--timeout S] [--work DIR] "
                         "[--keep] [--without name,name]\n");
            return 2;
        }
    }
    if (o.seeds.empty())
        for (uint64_t s = 1; s <= 8; ++s) o.seeds.push_back(s);
    signal(SIGPIPE, SIG_IGN);
    return Drive(o);
}
