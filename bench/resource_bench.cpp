// The resource manager's name lookups and per-frame tick among 10,000
// records, beside a plain hash map of names.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "timed.h"
#include "kept.h"
#include "media/resource_manager.h"

namespace {

constexpr int kRecords = 10000;

std::string NameOf(int i, bool upper) {
    char text[32];
    std::snprintf(text, sizeof text, upper ? "Stage/Scene/PIC%05d" : "stage/scene/pic%05d", i);
    return text;
}

// Fake images: 4 KiB each, so nothing is ever purged.
void* Create() {
    return new int(0);
}
bool Load(void*, const ResourceRecord&) {
    return true;
}
uint32_t ByteSize(void*) {
    return 4096;
}
void Destroy(void* o) {
    delete static_cast<int*>(o);
}
const ResourceKindOps kOps = {"bench images", Create, Load, nullptr, nullptr, ByteSize, Destroy};

// The fake images stand in for the real ones only while these benchmarks
// use them: the benchmarks that follow load real textures.
class FakeImages {
public:
    FakeImages() : saved_(GetResourceKindOps(kResourceImage)) { SetResourceKindOps(kResourceImage, &kOps); }
    ~FakeImages() { SetResourceKindOps(kResourceImage, saved_); }
    FakeImages(const FakeImages&) = delete;
    FakeImages& operator=(const FakeImages&) = delete;

private:
    const ResourceKindOps* saved_;
};

// 10,000 declared (and loaded) images, files in a temporary folder.
struct Fixture {
    std::string dir;
    ResourceManager manager;
    std::vector<std::string> names;  // as scripts write them, other case
    Fixture() {
        dir = (std::filesystem::temp_directory_path() / ("quild-bench-res-" + std::to_string(getpid())))
                  .string();
        std::filesystem::create_directories(dir + "/stage/scene");
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
        if (chdir(dir.c_str()) != 0) return;
        FakeImages fake;
        for (int i = 0; i < kRecords; ++i) {
            std::FILE* f = std::fopen((NameOf(i, false) + ".tga").c_str(), "wb");
            if (f) std::fclose(f);
            names.push_back(NameOf(i, true));
            manager.GetImage(manager.DeclareImage(names.back().c_str(), 0));
        }
        if (chdir(cwd) != 0) return;
    }
    ~Fixture() {
        FakeImages fake;
        manager.Clear();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Fixture& Shared() {
    return bench::Kept<Fixture>();
}

void BM_ResourceDeclareExisting(benchmark::State& state) {
    Fixture& f = Shared();
    FakeImages fake;
    size_t i = 0;
    bench::Timed(state, [&] {
        benchmark::DoNotOptimize(f.manager.DeclareImage(f.names[i].c_str(), 0));
        i = (i + 7919) % f.names.size();
    });
}
BENCHMARK(BM_ResourceDeclareExisting);

void BM_ResourceFindByName(benchmark::State& state) {
    Fixture& f = Shared();
    FakeImages fake;
    size_t i = 0;
    bench::Timed(state, [&] {
        benchmark::DoNotOptimize(f.manager.FindByName(f.names[i].c_str()));
        i = (i + 7919) % f.names.size();
    });
}
BENCHMARK(BM_ResourceFindByName);

// Baseline: lower-case the name and look it up in a hash map of strings.
void BM_ResourceFindHashMapBaseline(benchmark::State& state) {
    Fixture& f = Shared();
    FakeImages fake;
    std::unordered_map<std::string, int> map;
    for (int i = 0; i < kRecords; ++i) map[NameOf(i, false)] = i;
    size_t i = 0;
    std::string key;
    bench::Timed(state, [&] {
        key = f.names[i];
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        benchmark::DoNotOptimize(map.find(key));
        i = (i + 7919) % f.names.size();
    });
}
BENCHMARK(BM_ResourceFindHashMapBaseline);

void BM_ResourceTickNothingToPurge(benchmark::State& state) {
    Fixture& f = Shared();
    FakeImages fake;
    g_resource_budget = kDefaultResourceBudget;
    bench::Timed(state, [&] { f.manager.Tick(); });
}
BENCHMARK(BM_ResourceTickNothingToPurge);

// The worst case: an episode running with nothing it may take (every record
// small), so every 15th frame scans all 10,000 records.
void BM_ResourceTickPurgingNothingEligible(benchmark::State& state) {
    Fixture& f = Shared();
    FakeImages fake;
    g_resource_budget = 1u << 20;
    bench::Timed(state, [&] { f.manager.Tick(); });
    g_resource_budget = kDefaultResourceBudget;
}
BENCHMARK(BM_ResourceTickPurgingNothingEligible);

}  // namespace
