// Foundation hot paths, each beside its baseline in the same run.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "timed.h"
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
    bench::Timed(state, [&] { benchmark::DoNotOptimize(Crc32Register(d.data(), d.size())); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(BM_Crc32Engine)->Unit(benchmark::kMillisecond);

void BM_Crc32ZlibBaseline(benchmark::State& state) {
    const auto& d = Data64M();
    bench::Timed(state, [&] { benchmark::DoNotOptimize(crc32(0, d.data(), static_cast<uInt>(d.size()))); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(BM_Crc32ZlibBaseline)->Unit(benchmark::kMillisecond);

void BM_ObjectPool48(benchmark::State& state) {
    bench::Timed(state, [&] {
        for (int i = 0; i < kBatch; ++i) {
            void* p = ObjectPool::Alloc(48);
            benchmark::DoNotOptimize(p);
            ObjectPool::Free(p, 48);
        }
    });
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_ObjectPool48);

void BM_Malloc48Baseline(benchmark::State& state) {
    bench::Timed(state, [&] {
        for (int i = 0; i < kBatch; ++i) {
            void* p = std::malloc(48);
            benchmark::DoNotOptimize(p);
            std::free(p);
        }
    });
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Malloc48Baseline);

// The global new/delete against the standard library's own, in the same
// process: with the replacement built in (release), operator new and delete
// here are ours, and the library's are the next definitions the dynamic
// linker finds after the program. The plain forms are taken: the library's
// array forms call the plain ones through the program, which would land in
// ours. Both are called through pointers, so the two loops are the same
// code.
using NewFn = void* (*)(size_t);
using DeleteFn = void (*)(void*);
struct NewDelete {
    NewFn alloc;
    DeleteFn free;
};

NewDelete Ours() {
    return {static_cast<NewFn>(&::operator new), static_cast<DeleteFn>(&::operator delete)};
}

// Null members when the library's definitions cannot be found. (In a build
// without the replacement both sides are the library's.)
NewDelete StandardLibrary() {
    return {reinterpret_cast<NewFn>(dlsym(RTLD_NEXT, "_Znwm")), reinterpret_cast<DeleteFn>(dlsym(RTLD_NEXT, "_ZdlPv"))};
}

void NewDelete64(benchmark::State& state, NewDelete nd) {
    if (!nd.alloc || !nd.free) {
        state.SkipWithError("the standard library's operator new is not reachable");
        return;
    }
    // Volatile: every call goes through the pointer.
    NewFn volatile alloc = nd.alloc;
    DeleteFn volatile release = nd.free;
    bench::Timed(state, [&] {
        for (int i = 0; i < kBatch; ++i) {
            void* p = alloc(64);
            benchmark::DoNotOptimize(p);
            release(p);
        }
    });
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_GlobalNew64(benchmark::State& state) {
    NewDelete64(state, Ours());
    if (Ours().alloc == StandardLibrary().alloc) state.SetLabel("built without the replacement");
}
BENCHMARK(BM_GlobalNew64)->Threads(1)->Threads(8);

void BM_StdNew64Baseline(benchmark::State& state) {
    NewDelete64(state, StandardLibrary());
}
BENCHMARK(BM_StdNew64Baseline)->Threads(1)->Threads(8);

std::vector<std::string> Names() {
    std::vector<std::string> n;
    for (int i = 0; i < 100000; ++i) n.push_back("object_name_" + std::to_string(i * 7919));
    return n;
}

void BM_StringPoolInternFind(benchmark::State& state) {
    static const auto names = Names();
    bench::Timed(state, [&] {
        StringPool pool(64 * 1024);
        for (const auto& s : names) benchmark::DoNotOptimize(pool.Intern(s.c_str()));
        for (const auto& s : names) benchmark::DoNotOptimize(pool.Find(s.data(), s.size()));
    });
}
BENCHMARK(BM_StringPoolInternFind)->Unit(benchmark::kMillisecond);

// The baseline set and its strings take memory from the C library, not
// through the global operator new (which is ours in this build).
template <typename T>
struct SystemAllocator {
    using value_type = T;
    SystemAllocator() = default;
    template <typename U>
    SystemAllocator(const SystemAllocator<U>&) {}
    T* allocate(size_t n) {
        if (void* p = std::malloc(n * sizeof(T))) return static_cast<T*>(p);
        std::abort();
    }
    void deallocate(T* p, size_t) { std::free(p); }
    template <typename U>
    bool operator==(const SystemAllocator<U>&) const {
        return true;
    }
};
using SystemString = std::basic_string<char, std::char_traits<char>, SystemAllocator<char>>;
struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};
struct NameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return a == b; }
};

void BM_UnorderedSetBaseline(benchmark::State& state) {
    static const auto names = Names();
    bench::Timed(state, [&] {
        std::unordered_set<SystemString, NameHash, NameEqual, SystemAllocator<SystemString>> set;
        for (const auto& s : names) benchmark::DoNotOptimize(set.emplace(s.data(), s.size()));
        for (const auto& s : names) benchmark::DoNotOptimize(set.find(std::string_view(s)));
    });
}
BENCHMARK(BM_UnorderedSetBaseline)->Unit(benchmark::kMillisecond);

}  // namespace
