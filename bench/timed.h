#pragma once
// The timed loop of every benchmark. The body runs once untimed before the
// loop, so one-time work (the driver's code for a draw state it has not met,
// a first upload, caches and allocator pools filling) lands in no timed
// iteration: a benchmark's figure is the same alone, after its pair's other
// side, or anywhere in the whole program, at short minimum times too.
#include <benchmark/benchmark.h>

#include <cstdlib>

namespace bench {

// The C library's heap as it is in any process that has freed one large
// block: until then it hands blocks over 128 KiB back to the kernel when
// they are freed and trims its arenas at 128 KiB, so the driver's scene
// memory is page-faulted in afresh on every frame. Freeing a large block
// raises both limits for good, which the engine does within its first
// frames and some benchmarks do in their set-up; without this the order of
// the benchmarks decided which side of a pair paid (a raw baseline alone
// ran at three times its speed after the engine's side).
inline void SettleHeap() {
    static const bool settled = [] {
        void* block = std::malloc(size_t(16) << 20);
        benchmark::DoNotOptimize(block);
        std::free(block);
        return true;
    }();
    (void)settled;
}

template <class Body>
void Timed(benchmark::State& state, Body&& body) {
    SettleHeap();
    body();
    for (auto _ : state) body();
}

// The same with untimed set-up before every run of the body (the warm-up's
// included), for a body that undoes what the set-up readies.
template <class Setup, class Body>
void Timed(benchmark::State& state, Setup&& setup, Body&& body) {
    SettleHeap();
    setup();
    body();
    for (auto _ : state) {
        state.PauseTiming();
        setup();
        state.ResumeTiming();
        body();
    }
}

}  // namespace bench
