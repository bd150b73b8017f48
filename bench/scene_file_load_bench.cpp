// A scene file's hotspot constructors run into an empty scene: N hotspots;
// N hotspots of which the last tenth name a hotspot near the end of the
// list as their parent; N hotspots each renamed as soon as it is made (no
// index outlives a rename: each lookup walks, as it did before indexes).
// The baseline is the same load at a twentieth of the entries: a load whose
// time grows with its entries alone takes the same time an entry at both
// sizes (items_per_second).
#include <benchmark/benchmark.h>

#include <string>

#include "timed.h"

#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/object_list.h"
#include "base/string_pool.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "script/lua_host.h"
#include "script/object_model.h"

namespace {

// Hotspot i (1..n) of the scene "bench_load"; those past nine tenths have
// the hotspot at nine tenths as their parent when asked.
enum class Shape { kPlain, kParents, kRenamed };

std::string SceneFile(int n, Shape shape) {
    if (shape == Shape::kRenamed)
        return "beginscene('bench_load') for i = 1, " + std::to_string(n) +
               " do hs_setname(hotspot{name = 'h' .. i, rect = '0,0,8,8'}, 'r' .. i) end endscene()";
    const int first_child = shape == Shape::kParents ? n * 9 / 10 + 1 : n + 1;
    return "beginscene('bench_load') "
           "for i = 1, " + std::to_string(n) + " do "
           "  if i >= " + std::to_string(first_child) + " then "
           "    hotspot{name = 'h' .. i, rect = '0,0,8,8', parent = 'h" + std::to_string(first_child - 1) + "'} "
           "  else hotspot{name = 'h' .. i, rect = '0,0,8,8'} end "
           "end endscene()";
}

void Load(benchmark::State& state, Shape shape) {
    static Engine* engine = new Engine();
    Engine* saved = CurrentEngine();
    SetCurrentEngine(engine);
    RegisterAllClassProperties();
    if (!ScriptState()) CreateScriptState();
    GameScene* scene = ListFindOrAdd(engine->scenes, CommonStrings().Intern("bench_load"));
    const int n = int(state.range(0));
    const std::string text = SceneFile(n, shape);
    bench::Timed(state, [&] { scene->FreeObjects(); }, [&] {
        if (ScriptRun(text.c_str()) != 0) state.SkipWithError("the scene file failed");
    });
    if (ListCount(scene->hotspots) != size_t(n)) state.SkipWithError("not every hotspot was made");
    // Nothing is kept for the next run: a benchmark run between two of
    // these may have shut an engine down and emptied the pools and strings.
    DeleteAllScenes(engine);
    state.SetItemsProcessed(state.iterations() * n);
    SetCurrentEngine(saved);
}

void BM_SceneFileHotspots(benchmark::State& state) { Load(state, Shape::kPlain); }
BENCHMARK(BM_SceneFileHotspots)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_SceneFileHotspotsNamingParents(benchmark::State& state) { Load(state, Shape::kParents); }
BENCHMARK(BM_SceneFileHotspotsNamingParents)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_SceneFileHotspotsRenamedAtOnce(benchmark::State& state) { Load(state, Shape::kRenamed); }
BENCHMARK(BM_SceneFileHotspotsRenamedAtOnce)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace
