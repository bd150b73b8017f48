// Foundation hot paths, each beside its baseline in the same run.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/crc32.h"
#include "base/memory.h"
#include "base/string_pool.h"

namespace {

// Operations per timed iteration, so the loop's own cost stays out.
constexpr int kBatch = 1024;

const std::vector<uint8_t>& Data64M() {
    static std::vector<uint8_t> data = [] {
        std::vector<uint8_t> d(64u << 20);
        for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
        return d;
    }();
    return data;
}

void BM_Crc32Engine(benchmark::State& state) {
    const auto& d = Data64M();
    for (auto _ : state) benchmark::DoNotOptimize(Crc32Register(d.data(), d.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(BM_Crc32Engine)->Unit(benchmark::kMillisecond);

void BM_Crc32ZlibBaseline(benchmark::State& state) {
    const auto& d = Data64M();
    for (auto _ : state) benchmark::DoNotOptimize(crc32(0, d.data(), static_cast<uInt>(d.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(BM_Crc32ZlibBaseline)->Unit(benchmark::kMillisecond);

void BM_ObjectPool48(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            void* p = ObjectPool::Alloc(48);
            benchmark::DoNotOptimize(p);
            ObjectPool::Free(p, 48);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_ObjectPool48);

void BM_Malloc48Baseline(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            void* p = std::malloc(48);
            benchmark::DoNotOptimize(p);
            std::free(p);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Malloc48Baseline);

// With the replacement built in (release), new goes through our allocator.
void BM_GlobalNew64(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            char* p = new char[64];
            benchmark::DoNotOptimize(p);
            delete[] p;
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_GlobalNew64)->Threads(1)->Threads(8);

void BM_Malloc64Baseline(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            void* p = std::malloc(64);
            benchmark::DoNotOptimize(p);
            std::free(p);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Malloc64Baseline)->Threads(1)->Threads(8);

// Our blocks come zeroed; this baseline pays for the same zeroing.
void BM_Malloc64ZeroedBaseline(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            void* p = std::malloc(64);
            benchmark::DoNotOptimize(p);  // keeps the pair from becoming calloc
            std::memset(p, 0, 64);
            benchmark::ClobberMemory();
            std::free(p);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Malloc64ZeroedBaseline)->Threads(1)->Threads(8);

std::vector<std::string> Names() {
    std::vector<std::string> n;
    for (int i = 0; i < 100000; ++i) n.push_back("object_name_" + std::to_string(i * 7919));
    return n;
}

void BM_StringPoolInternFind(benchmark::State& state) {
    static const auto names = Names();
    for (auto _ : state) {
        StringPool pool(64 * 1024);
        for (const auto& s : names) benchmark::DoNotOptimize(pool.Intern(s.c_str()));
        for (const auto& s : names) benchmark::DoNotOptimize(pool.Find(s.data(), s.size()));
    }
}
BENCHMARK(BM_StringPoolInternFind)->Unit(benchmark::kMillisecond);

void BM_UnorderedSetBaseline(benchmark::State& state) {
    static const auto names = Names();
    for (auto _ : state) {
        std::unordered_set<std::string> set;
        for (const auto& s : names) benchmark::DoNotOptimize(set.insert(s));
        for (const auto& s : names) benchmark::DoNotOptimize(set.find(s));
    }
}
BENCHMARK(BM_UnorderedSetBaseline)->Unit(benchmark::kMillisecond);

}  // namespace
