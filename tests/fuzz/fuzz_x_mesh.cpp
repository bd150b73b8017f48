// Feeds arbitrary bytes to the .x text mesh reader, through the whole load:
// text, cache written, mesh read back from the cache's bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../media/mesh/mesh_device.h"
#include "media/mesh/mesh_data.h"
#include "fuzz_support.h"

namespace {

// A private folder for the text and its cache, removed at exit.
struct WorkFolder {
    std::string path;
    WorkFolder() {
        std::string t = (std::filesystem::temp_directory_path() / "quild-xmesh-XXXXXX").string();
        if (!mkdtemp(t.data())) std::abort();
        path = t;
    }
    ~WorkFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

const std::string& WorkDir() {
    static WorkFolder folder;
    return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzz::QuietLog();
    (void)quiet;
    static media_test::MeshDeviceScope scope;
    const std::string text = WorkDir() + "/m.x";
    const std::string cache = WorkDir() + "/m.msh";
    FILE* f = std::fopen(text.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::remove(cache.c_str());
    MeshData* mesh = MeshData::New();
    if (mesh->Load(text.c_str())) {
        mesh->SetAnimTime(0.5f);
        mesh->SetAnimTime2(0.25f);
        mesh->SetAnimWeight(0.5f);
        mesh->Update();
    }
    MeshData::Delete(mesh);
    scope.device.Forget();
    return 0;
}
