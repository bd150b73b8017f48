#pragma once
// Meshes: a tree of frames, one geometry in a vertex and an index buffer of
// the render device, bones with per-vertex skin influences, and animation
// tracks that move frames.
//
// A mesh is read from DirectX .x text (x_reader.cpp), stored beside its
// source as a binary ".msh" cache (mesh_cache.cpp) and always drawn as read
// back from that cache; skinning and animation are in mesh_animation.cpp.
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "base/memory.h"
#include "platform/gpu/d3dx/math_types.h"

struct VertexBufferRecord;
struct IndexBufferRecord;
struct MeshGeometry;

// A block of count entries from the global allocator (zero-filled).
template <typename T>
struct MeshArray {
    T* data = nullptr;
    uint32_t count = 0;

    // Frees the old block and makes one of n zeroed entries; false (and
    // empty) when memory runs out.
    bool Resize(uint32_t n) {
        Free();
        if (n == 0) return true;
        data = static_cast<T*>(MemAlloc(size_t(n) * sizeof(T)));
        if (!data) return false;
        count = n;
        return true;
    }
    void Free() {
        MemFree(data);
        data = nullptr;
        count = 0;
    }
};

// A growing list of pointers.
template <typename T>
struct PointerArray {
    T** data = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;

    // Makes room for n entries (old ones kept, new ones null); count = n.
    bool Reserve(uint32_t n) {
        if (n > capacity) {
            uint32_t cap = capacity < 8 ? 8 : capacity;
            while (cap < n) cap = cap > 0x7FFFFFFFu ? n : cap * 2;
            auto** block = static_cast<T**>(MemAlloc(size_t(cap) * sizeof(T*)));
            if (!block) return false;
            for (uint32_t i = 0; i < count; ++i) block[i] = data[i];
            MemFree(data);
            data = block;
            capacity = cap;
        }
        for (uint32_t i = count; i < n; ++i) data[i] = nullptr;
        count = n;
        return true;
    }
    bool Append(T* item) {
        if (!Reserve(count + 1)) return false;
        data[count - 1] = item;
        return true;
    }
    void Free() {
        MemFree(data);
        data = nullptr;
        count = capacity = 0;
    }
};

// A zero-filled record from the global allocator.
template <typename T>
T* NewMeshRecord() {
    void* block = MemAlloc(sizeof(T));
    return block ? new (block) T() : nullptr;
}

struct VectorKey {
    float time, x, y, z;
};

struct RotationKey {
    float time;
    plat::Quat q;  // x, y, z, w
};

// Bone indices, weights (255 = 1.0) and how many of the four are used; the
// same ten bytes in memory and in the cache file.
struct SkinInfluence {
    uint8_t bones[4];
    uint8_t weights[4];
    uint16_t count;
};
static_assert(sizeof(SkinInfluence) == 10);

struct MeshBone {
    const char* name;  // interned
    plat::Matrix offset;
};

struct FrameAnimation {
    const char* frame_name = nullptr;  // interned; set by the text reader
    MeshArray<VectorKey> scale_keys;
    MeshArray<RotationKey> rotation_keys;
    MeshArray<VectorKey> translation_keys;
    struct MeshFrame* target = nullptr;  // set by the cache reader; null when no frame has the name
};

struct MeshFrame {
    const char* name = nullptr;  // interned
    uint32_t index = 0;          // position in the frame list
    uint32_t has_geometry = 0;   // set by the cache reader
    plat::Matrix local;
    plat::Matrix combined;
    MeshGeometry* geometry = nullptr;
    MeshFrame* parent = nullptr;  // kept by the text reader only
    MeshFrame* next_sibling = nullptr;
    MeshFrame* first_child = nullptr;
};

struct MeshGeometry {
    MeshArray<plat::Vec3> bind_positions;  // positions as stored, the source of skinning
    PointerArray<FrameAnimation> animations;
    MeshArray<MeshBone> bones;
    MeshArray<const plat::Matrix*> bone_matrices;  // combined transform of each bone's frame, or null
    MeshArray<SkinInfluence> skin;                 // one per vertex, or empty
    plat::Vec3 box_min, box_max;
    plat::Vec3 sphere_centre;
    float sphere_radius = 0;
    uint32_t vertex_count = 0;
    uint32_t face_count = 0;
    uint32_t reserved = 0;
    uint32_t vertex_size = 0;  // 12, 24 or 32 while reading text; 32 once the buffer exists
    VertexBufferRecord* vertex_buffer = nullptr;
    IndexBufferRecord* index_buffer = nullptr;

    // Frees everything the geometry holds (not the record itself).
    void Release();
    void ReleaseAnimations();
};

// What the text reader collects for one Mesh block.
struct MeshWorkArrays {
    MeshArray<plat::Vec3> positions;
    MeshArray<plat::Vec3> normals;
    MeshArray<uint16_t> faces;  // three per triangle
    MeshArray<plat::Vec2> tex_coords;
    void Free() {
        positions.Free();
        normals.Free();
        faces.Free();
        tex_coords.Free();
    }
};

inline bool ResizeVectorKeys(MeshArray<VectorKey>& a, uint32_t n) { return a.Resize(n); }
inline bool ResizeRotationKeys(MeshArray<RotationKey>& a, uint32_t n) { return a.Resize(n); }
inline bool ResizeVec3Array(MeshArray<plat::Vec3>& a, uint32_t n) { return a.Resize(n); }

// Vertex layout of the buffer: position, normal, texture coordinates.
constexpr uint32_t kMeshVertexFormat = 0x5;
constexpr uint32_t kMeshVertexSize = 32;
constexpr uint32_t kMeshMaxVertices = 65536;  // 16-bit indices
constexpr uint32_t kMeshMaxBones = 256;       // 8-bit bone indices
// Handed to the cache reader as the expected key: any stored key is taken.
constexpr uint32_t kAnyMeshCacheKey = 0xCDCDCD;

struct MeshData {
    PoolRecordHeader header;
    MeshFrame* root;
    MeshGeometry* geometry;
    PointerArray<MeshFrame> frames;  // file order; a frame's position is its index
    MeshArray<plat::Matrix> skinning;  // one per bone when animated, else empty
    uint32_t byte_size;                // size of the ".msh" file it came from
    uint8_t dirty;                     // animation parameters changed since the last pose
    float anim_length;                 // largest key time
    float position1, position2;        // animation positions, 0..1
    float blend_weight;                // of position 2 against position 1

    // A pooled, empty record; and back to the pool after Release.
    static MeshData* New();
    static void Delete(MeshData* mesh);

    // Reads the ".msh" cache beside a .x (or .txt) text when its key matches
    // the text's CRC-32; otherwise reads the text, writes the cache and
    // loads the mesh back from the cache's bytes.
    bool Load(const char* path);
    // A ".msh" file, whatever key it holds.
    bool LoadCache(const char* path);
    // False with the mesh unchanged for a missing file, a key mismatch
    // (unless expected_key is kAnyMeshCacheKey), a corrupt file or buffers
    // the device refuses.
    bool ReadCache(const char* path, uint32_t expected_key);
    // The same from bytes in memory; path only names them in the log.
    bool ReadCacheImage(const uint8_t* data, size_t size, uint32_t expected_key, const char* path);
    // Writes the cache of a freshly parsed mesh (through a temporary file);
    // false when there is nothing to write or the file cannot be written.
    bool WriteCache(const char* path, uint32_t key);
    // The cache file's bytes; false for a mesh without geometry or buffers.
    bool WriteCacheImage(uint32_t key, std::vector<uint8_t>& out);
    // Reads the text into the frame list; the root, or null (logged) when
    // the file cannot be read, holds no frame or is malformed.
    MeshFrame* ParseText(const char* path);
    // Bounds, vertex and index buffers of a geometry from the work arrays.
    bool BuildBuffers(MeshGeometry* g, const MeshWorkArrays& work);
    // Frees every frame and geometry; the record stays usable.
    void Clear();
    void Release();

    // Animation and drawing.
    bool Animated() const { return skinning.count != 0; }
    void SetAnimTime(float t);
    void SetAnimTime2(float t);
    void SetAnimWeight(float w);
    // Poses (when animated and changed), combines the frames and draws.
    void Update();
    void LinkBones(MeshFrame* root_frame);
    void SampleBlend(float a, float b, float w);
    void ApplyPose(float t);
    void CombineFrames(MeshFrame* frame, const plat::Matrix* parent);
    void DrawFrames(MeshFrame* frame);
    void SkinVertices(uint8_t* vertices);
};

// Track sampling: the value at time t (tracks must not be empty).
plat::Vec3 SampleVectorKeys(const MeshArray<VectorKey>& keys, float t);
plat::Quat SampleRotationKeys(const MeshArray<RotationKey>& keys, float t);
// Drop repeated keys once after reading.
void ReduceVectorKeys(MeshArray<VectorKey>& keys);
void ReduceRotationKeys(MeshArray<RotationKey>& keys);

// Calls fn(frame, parent matrix) for a frame and its next siblings (with
// the given parent matrix) and, depth first, all their children (with the
// combined transform of their parent), without recursion. Trees come from
// the text reader or from a cache whose links were checked for loops.
template <typename Fn>
void ForEachMeshFrame(MeshFrame* first, const plat::Matrix* parent, Fn&& fn) {
    std::vector<std::pair<MeshFrame*, const plat::Matrix*>> stack;
    if (first) stack.emplace_back(first, parent);
    while (!stack.empty()) {
        auto [f, p] = stack.back();
        stack.pop_back();
        fn(f, p);
        if (f->next_sibling) stack.emplace_back(f->next_sibling, p);
        if (f->first_child) stack.emplace_back(f->first_child, &f->combined);
    }
}

// The resource manager's operations for mesh records.
struct ResourceKindOps;
extern const ResourceKindOps kMeshResourceOps;
