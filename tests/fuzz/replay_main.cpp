// Runs a fuzz target over every file of its corpus folder (and over a few
// synthetic inputs), so the targets build and run in the ordinary test build.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    std::vector<uint8_t> empty;
    LLVMFuzzerTestOneInput(empty.data(), 0);
    std::vector<uint8_t> junk(4096);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 131 + 7);
    LLVMFuzzerTestOneInput(junk.data(), junk.size());
    int runs = 2;
    for (int a = 1; a < argc; ++a) {
        std::error_code ec;
        if (!std::filesystem::is_directory(argv[a], ec)) continue;
        for (const auto& e : std::filesystem::recursive_directory_iterator(argv[a])) {
            if (!e.is_regular_file()) continue;
            std::ifstream in(e.path(), std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++runs;
        }
    }
    std::printf("replayed %d inputs\n", runs);
    return 0;
}
