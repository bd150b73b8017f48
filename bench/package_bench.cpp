// Reading a file from a mounted package of 10,000 entries beside reading
// the same bytes from a loose file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "timed.h"
#include "base/crc32.h"
#include "base/file_stream.h"
#include "base/package.h"
#include "temp_folder.h"

namespace {

constexpr uint32_t kEntries = 10000;
constexpr uint32_t kBigSize = 1u << 20;

struct Setup {
    std::string loose;
    std::string packed_name;
    std::string package;
};

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

const Setup& Files() {
    static Setup s = [] {
        static bench::TempFolder folder("quild-pkbench");
        const std::string& dir = folder.path();
        Setup r;
        r.loose = dir + "/big.bin";
        r.packed_name = "data/big.bin";
        std::vector<uint8_t> big(kBigSize);
        for (uint32_t i = 0; i < kBigSize; ++i) big[i] = uint8_t(i * 131);
        FILE* f = std::fopen(r.loose.c_str(), "wb");
        std::fwrite(big.data(), 1, big.size(), f);
        std::fclose(f);
        // 9,999 small entries, then the big one last.
        std::vector<uint8_t> pak;
        Put32(pak, kEntries | 0x10000000u);
        uint32_t offset = 0;
        for (uint32_t i = 0; i < kEntries; ++i) {
            std::string name = i + 1 == kEntries ? r.packed_name : "data/small" + std::to_string(i) + ".txt";
            uint32_t size = i + 1 == kEntries ? kBigSize : 16;
            Put32(pak, Crc32OfString(name.c_str()));
            Put32(pak, offset);
            Put32(pak, size);
            Put32(pak, 0);
            offset += size;
        }
        pak.resize(pak.size() + 16 * (kEntries - 1));
        pak.insert(pak.end(), big.begin(), big.end());
        std::string pak_path = dir + "/bench.pak";
        f = std::fopen(pak_path.c_str(), "wb");
        std::fwrite(pak.data(), 1, pak.size(), f);
        std::fclose(f);
        r.package = pak_path;
        return r;
    }();
    return s;
}

void BM_PackageOpenRead1MiB(benchmark::State& state) {
    const Setup& s = Files();
    // Mounted for the run: an engine run in this process unmounts every
    // package when it ends.
    FileStream probe;
    if (!probe.OpenRead(s.packed_name.c_str())) MountPackage(s.package.c_str());
    probe.Close();
    std::vector<uint8_t> buffer(kBigSize);
    uint32_t read = 0;
    bench::Timed(state, [&] {
        FileStream stream;
        stream.OpenRead(s.packed_name.c_str());
        benchmark::DoNotOptimize(read = stream.Read(buffer.data(), stream.Size()));
    });
    if (read != kBigSize) state.SkipWithError("the packed file was not read");
    state.SetBytesProcessed(int64_t(state.iterations()) * kBigSize);
}
BENCHMARK(BM_PackageOpenRead1MiB)->Unit(benchmark::kMicrosecond);

void BM_LooseFopenFreadBaseline(benchmark::State& state) {
    const Setup& s = Files();
    std::vector<uint8_t> buffer(kBigSize);
    bench::Timed(state, [&] {
        FILE* f = std::fopen(s.loose.c_str(), "rb");
        benchmark::DoNotOptimize(std::fread(buffer.data(), 1, kBigSize, f));
        std::fclose(f);
    });
    state.SetBytesProcessed(int64_t(state.iterations()) * kBigSize);
}
BENCHMARK(BM_LooseFopenFreadBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace
