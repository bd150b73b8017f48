// The store's achievements file from hostile bytes: read back as names.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/store.h"

namespace {
char g_folder[] = "/tmp/quild-fuzz-store-XXXXXX";
char g_file[sizeof g_folder + 32];

void RemoveFolder() {
    std::remove(g_file);
    rmdir(g_folder);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        if (!mkdtemp(g_folder)) std::abort();
        std::snprintf(g_file, sizeof g_file, "%s/achievements.txt", g_folder);
        std::atexit(RemoveFolder);
        return true;
    }();
    (void)ready;
    plat::store::SetDataFolderForTesting(g_folder);
    FILE* f = std::fopen(g_file, "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    if (plat::store::Init()) {
        bool achieved = false;
        plat::store::GetAchievement("ACH_01", &achieved);
        plat::store::Shutdown();
    }
    return 0;
}
