// Feeds arbitrary bytes to the ".msh" mesh cache reader, then poses and
// draws what it accepted.
#include <cstddef>
#include <cstdint>

#include "../media/mesh/mesh_device.h"
#include "media/mesh/mesh_data.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzz::QuietLog();
    (void)quiet;
    static media_test::MeshDeviceScope scope;
    MeshData* mesh = MeshData::New();
    if (mesh->ReadCacheImage(data, size, kAnyMeshCacheKey, "fuzz.msh")) {
        mesh->SetAnimTime(0.5f);
        mesh->SetAnimTime2(0.25f);
        mesh->SetAnimWeight(0.5f);
        mesh->Update();
        mesh->SetAnimWeight(1.0f);
        mesh->Update();
    }
    MeshData::Delete(mesh);
    scope.device.Forget();
    return 0;
}
