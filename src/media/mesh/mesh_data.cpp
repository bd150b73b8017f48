#include "media/mesh/mesh_data.h"

#include <cstring>
#include <string>

#include "base/crc32.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "media/resource_manager.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/render_device.h"

MeshData* MeshData::New() { return static_cast<MeshData*>(ObjectPool::NewRecord(sizeof(MeshData))); }

void MeshData::Delete(MeshData* mesh) {
    if (!mesh) return;
    mesh->Release();
    ObjectPool::DeleteRecord(mesh);
}

void MeshGeometry::ReleaseAnimations() {
    for (uint32_t i = 0; i < animations.count; ++i) {
        FrameAnimation* a = animations.data[i];
        if (!a) continue;
        a->scale_keys.Free();
        a->rotation_keys.Free();
        a->translation_keys.Free();
        MemFree(a);
    }
    animations.Free();
}

void MeshGeometry::Release() {
    ReleaseAnimations();
    if (g_renderDevice) {
        if (vertex_buffer) g_renderDevice->ReleaseVertexBuffer(vertex_buffer);
        if (index_buffer) g_renderDevice->ReleaseIndexBuffer(index_buffer);
    }
    vertex_buffer = nullptr;
    index_buffer = nullptr;
    skin.Free();
    bone_matrices.Free();
    bones.Free();
    bind_positions.Free();
}

static void FreeGeometry(MeshGeometry* g) {
    if (!g) return;
    g->Release();
    MemFree(g);
}

void MeshData::Clear() {
    // After a cache read every frame holding geometry points to the one
    // geometry; after a text read each further geometry is held by exactly
    // one frame.
    for (uint32_t i = 0; i < frames.count; ++i) {
        MeshFrame* f = frames.data[i];
        if (!f) continue;
        if (f->geometry && f->geometry != geometry) FreeGeometry(f->geometry);
        MemFree(f);
        frames.data[i] = nullptr;
    }
    FreeGeometry(geometry);
    geometry = nullptr;
    frames.Free();
    root = nullptr;
    skinning.Free();
}

void MeshData::Release() {
    Clear();
    skinning.Free();
    frames.Free();
}

bool MeshData::BuildBuffers(MeshGeometry* g, const MeshWorkArrays& work) {
    const uint32_t n = work.positions.count;
    if (n) {
        plat::D3DXComputeBoundingBox(work.positions.data, n, sizeof(plat::Vec3), &g->box_min, &g->box_max);
        plat::D3DXComputeBoundingSphere(work.positions.data, n, sizeof(plat::Vec3), &g->sphere_centre,
                                        &g->sphere_radius);
    }
    RenderDevice* device = g_renderDevice;
    if (!device || n == 0 || work.faces.count == 0) return false;
    VertexBufferRecord* vb = device->CreateVertexBuffer(kMeshVertexFormat, n, 0);
    if (!vb) return false;
    IndexBufferRecord* ib = device->CreateIndexBuffer(work.faces.count);
    bool ok = ib != nullptr;
    if (ok) {
        device->LockIndexBuffer(ib);
        ok = ib->locked != nullptr;
        if (ok) std::memcpy(ib->locked, work.faces.data, size_t(work.faces.count) * 2);
        device->UnlockIndexBuffer(ib);
    }
    if (ok) {
        device->LockVertexBuffer(vb);
        ok = vb->position && vb->normal && vb->texCoord && vb->vertexSize >= kMeshVertexSize;
        if (ok) {
            g->vertex_size = vb->vertexSize;
            auto* pos = static_cast<uint8_t*>(vb->position);
            auto* nor = static_cast<uint8_t*>(vb->normal);
            auto* tex = static_cast<uint8_t*>(vb->texCoord);
            const plat::Vec3 zero3{};
            const plat::Vec2 zero2{};
            for (uint32_t i = 0; i < n; ++i) {
                // Blocks shorter than the vertex list leave zeros.
                size_t at = size_t(i) * g->vertex_size;
                std::memcpy(pos + at, &work.positions.data[i], 12);
                std::memcpy(nor + at, i < work.normals.count ? &work.normals.data[i] : &zero3, 12);
                std::memcpy(tex + at, i < work.tex_coords.count ? &work.tex_coords.data[i] : &zero2, 8);
            }
        }
        device->UnlockVertexBuffer(vb);
    }
    if (!ok) {
        device->ReleaseVertexBuffer(vb);
        if (ib) device->ReleaseIndexBuffer(ib);
        return false;
    }
    g->vertex_buffer = vb;
    g->index_buffer = ib;
    // A vertex that no SkinWeights block names follows the first bone.
    for (uint32_t i = 0; i < g->skin.count; ++i) {
        SkinInfluence& s = g->skin.data[i];
        if (s.count == 0) {
            s.bones[0] = 0;
            s.weights[0] = 255;
            s.count = 1;
        }
    }
    return true;
}

// The cache beside a text: its last two characters replaced by ".msh"
// ("a.x" -> "a.msh", "a.txt" -> "a.t.msh").
static std::string MeshCachePath(const char* path) {
    std::string p(path);
    if (p.size() >= 2) p.resize(p.size() - 2);
    return p + ".msh";
}

bool MeshData::Load(const char* path) {
    if (!path || !*path) return false;
    const std::string cache = MeshCachePath(path);
    const uint32_t crc = Crc32OfFile(path);
    if (ReadCache(cache.c_str(), crc)) return true;

    Clear();
    MeshFrame* parsed = ParseText(path);
    if (!parsed) {
        LogPrintf("[ERROR] Can't Load Mesh : %s", path);
        Clear();
        return false;
    }
    root = parsed;
    std::vector<uint8_t> image;
    const bool built = WriteCacheImage(crc, image);
    if (built && !WriteFileAtomic(cache.c_str(), image.data(), image.size()))
        LogPrintf("[WARNING] Can't write mesh cache : %s", cache.c_str());
    Clear();
    // What is drawn always comes from the cache's bytes, also when the file
    // could not be written.
    if (!built || !ReadCacheImage(image.data(), image.size(), kAnyMeshCacheKey, cache.c_str())) {
        LogPrintf("[ERROR] Can't Load Mesh : %s", path);
        return false;
    }
    return true;
}

bool MeshData::LoadCache(const char* path) { return ReadCache(path, kAnyMeshCacheKey); }

const ResourceKindOps kMeshResourceOps = {
    "the mesh loader",
    []() -> void* { return MeshData::New(); },
    [](void* o, const ResourceRecord& r) { return static_cast<MeshData*>(o)->Load(r.path); },
    [](void* o, const ResourceRecord& r) { return static_cast<MeshData*>(o)->LoadCache(r.path); },
    nullptr,
    [](void* o) { return static_cast<MeshData*>(o)->byte_size; },
    [](void* o) { MeshData::Delete(static_cast<MeshData*>(o)); },
};

namespace {
struct MeshOpsInstaller {
    MeshOpsInstaller() { SetResourceKindOps(kResourceMesh, &kMeshResourceOps); }
} g_mesh_ops_installer;
}  // namespace
