#include "platform/gpu/driver_modules.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace plat::gpu {

namespace {

// Base names of the driver stack's modules, as the test build's leak
// suppressions name them.
constexpr const char* kDriverPatterns[] = {"libEGL_", "libGLX_", "libglapi", "libgallium", "_dri.so", "libLLVM"};

bool IsDriverModule(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    for (const char* p : kDriverPatterns)
        if (std::strstr(base, p)) return true;
    return false;
}

int CollectDriverModule(dl_phdr_info* info, size_t, void* out) {
    if (info->dlpi_name && info->dlpi_name[0] && IsDriverModule(info->dlpi_name))
        static_cast<std::vector<std::string>*>(out)->emplace_back(info->dlpi_name);
    return 0;
}

std::mutex g_mutex;
std::vector<std::string> g_kept;  // sorted

}  // namespace

std::vector<std::string> LoadedGLDriverModules() {
    std::vector<std::string> found;
    dl_iterate_phdr(&CollectDriverModule, &found);
    return found;
}

void KeepGLDriverModulesLoaded() {
    const std::vector<std::string> loaded = LoadedGLDriverModules();
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const std::string& path : loaded) {
        auto at = std::lower_bound(g_kept.begin(), g_kept.end(), path);
        if (at != g_kept.end() && *at == path) continue;
        // Opening an already loaded module with RTLD_NODELETE marks it as
        // never to be unloaded; RTLD_NOLOAD keeps this from loading anything.
        // The handle is kept for the life of the process on purpose.
        if (dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE)) g_kept.insert(at, path);
    }
}

}  // namespace plat::gpu
