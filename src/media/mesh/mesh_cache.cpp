// The ".msh" mesh cache: the frame tree, the one geometry with its vertex
// and index data, bones, skin and animation tracks, keyed by the CRC-32 of
// the source text. Little-endian, field by field, no header magic.
#include <cstring>
#include <vector>

#include "base/byte_stream.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "base/string_pool.h"
#include "media/mesh/mesh_data.h"
#include "render/render_device.h"

namespace {

class CacheWriter {
public:
    explicit CacheWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Write(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        out_.insert(out_.end(), b, b + n);
    }
    void U8(uint8_t v) { out_.push_back(v); }
    void U32(uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        Write(b, 4);
    }
    void F32(float f) {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        U32(v);
    }
    void Floats(const float* f, int n) {
        for (int i = 0; i < n; ++i) F32(f[i]);
    }
    void Vec3(const plat::Vec3& v) { Floats(&v.x, 3); }
    void Matrix(const plat::Matrix& m) { Floats(&m.m[0][0], 16); }
    // Names longer than 255 bytes are cut.
    void Name(const char* s) {
        size_t n = s ? std::strlen(s) : 0;
        if (n > 255) n = 255;
        U8(uint8_t(n));
        Write(s, n);
    }
    void VectorKeys(const MeshArray<VectorKey>& k) {
        U32(k.count);
        for (uint32_t i = 0; i < k.count; ++i) Floats(&k.data[i].time, 4);
    }

private:
    std::vector<uint8_t>& out_;
};

class CacheReader {
public:
    CacheReader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
    bool ok() const { return ok_; }
    size_t left() const { return left_; }
    const uint8_t* Bytes(size_t n) {
        if (!ok_ || n > left_) {
            ok_ = false;
            return nullptr;
        }
        const uint8_t* r = p_;
        p_ += n;
        left_ -= n;
        return r;
    }
    uint8_t U8() {
        const uint8_t* b = Bytes(1);
        return b ? b[0] : 0;
    }
    uint32_t U32() {
        const uint8_t* b = Bytes(4);
        return b ? uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24 : 0;
    }
    float F32() {
        uint32_t v = U32();
        float f;
        std::memcpy(&f, &v, 4);
        return f;
    }
    void Floats(float* f, int n) {
        for (int i = 0; i < n; ++i) f[i] = F32();
    }
    void Vec3(plat::Vec3& v) { Floats(&v.x, 3); }
    void Matrix(plat::Matrix& m) { Floats(&m.m[0][0], 16); }
    const char* Name() {
        uint8_t n = U8();
        const uint8_t* b = Bytes(n);
        return b ? CommonStrings().InternBytes(reinterpret_cast<const char*>(b), n) : nullptr;
    }
    // A count of items of at least min_bytes each that the rest can hold.
    uint32_t Count(size_t min_bytes) {
        uint32_t n = U32();
        if (ok_ && uint64_t(n) * min_bytes > left_) ok_ = false;
        return ok_ ? n : 0;
    }
    template <typename K>
    bool Keys(MeshArray<K>& keys) {
        uint32_t n = Count(sizeof(K));
        if (!ok_ || !keys.Resize(n)) return false;
        for (uint32_t i = 0; i < n; ++i) Floats(reinterpret_cast<float*>(&keys.data[i]), int(sizeof(K) / 4));
        return ok_;
    }

private:
    const uint8_t* p_;
    size_t left_;
    bool ok_ = true;
};

constexpr size_t kMinFrameRecord = 1 + 1 + 64 + 4 + 4;
constexpr size_t kMinAnimationRecord = 1 + 4 * 3;

// True when the links from frame 0 reach no frame twice (no loops, no
// shared subtrees), so the tree walks end.
bool LinksFormTree(const std::vector<int32_t>& sibling, const std::vector<int32_t>& child) {
    std::vector<uint8_t> seen(sibling.size(), 0);
    std::vector<int32_t> stack{0};
    while (!stack.empty()) {
        int32_t i = stack.back();
        stack.pop_back();
        if (seen[size_t(i)]) return false;
        seen[size_t(i)] = 1;
        if (sibling[size_t(i)] >= 0) stack.push_back(sibling[size_t(i)]);
        if (child[size_t(i)] >= 0) stack.push_back(child[size_t(i)]);
    }
    return true;
}

}  // namespace

bool MeshData::WriteCacheImage(uint32_t key, std::vector<uint8_t>& out) {
    MeshGeometry* g = geometry;
    RenderDevice* device = g_renderDevice;
    if (frames.count == 0 || !g || !g->vertex_buffer || !g->index_buffer || !device) return false;
    CacheWriter w(out);
    w.U32(key);
    w.U32(frames.count);
    for (uint32_t i = 0; i < frames.count; ++i) {
        const MeshFrame* f = frames.data[i];
        w.U8(f->geometry ? 1 : 0);
        w.Name(i == 0 ? "ROOT" : f->name);
        w.Matrix(f->local);
        w.U32(uint32_t(f->next_sibling ? int32_t(f->next_sibling->index) : -1));
        w.U32(uint32_t(f->first_child ? int32_t(f->first_child->index) : -1));
    }
    w.U32(g->bones.count ? 1 : 0);
    w.U32(g->vertex_size);
    w.U32(g->vertex_count);
    w.U32(g->face_count);
    w.U32(g->reserved);
    device->LockVertexBuffer(g->vertex_buffer);
    const void* vertices = g->vertex_buffer->position;
    if (vertices) w.Write(vertices, size_t(g->vertex_size) * g->vertex_count);
    device->UnlockVertexBuffer(g->vertex_buffer);
    device->LockIndexBuffer(g->index_buffer);
    const void* indices = g->index_buffer->locked;
    if (indices) w.Write(indices, size_t(g->face_count) * 6);
    device->UnlockIndexBuffer(g->index_buffer);
    if (!vertices || !indices) return false;
    w.Vec3(g->sphere_centre);
    w.F32(g->sphere_radius);
    w.Vec3(g->box_min);
    w.Vec3(g->box_max);
    w.U32(g->bones.count);
    if (g->bones.count) {
        for (uint32_t i = 0; i < g->bones.count; ++i) {
            w.Name(g->bones.data[i].name);
            w.Matrix(g->bones.data[i].offset);
        }
        for (uint32_t i = 0; i < g->vertex_count; ++i) {
            SkinInfluence s = i < g->skin.count ? g->skin.data[i] : SkinInfluence{{0, 0, 0, 0}, {255, 0, 0, 0}, 1};
            w.Write(s.bones, 4);
            w.Write(s.weights, 4);
            w.U8(uint8_t(s.count));
            w.U8(uint8_t(s.count >> 8));
        }
    }
    w.F32(anim_length);
    w.U32(g->animations.count);
    for (uint32_t i = 0; i < g->animations.count; ++i) {
        const FrameAnimation* a = g->animations.data[i];
        w.Name(a->frame_name);
        w.VectorKeys(a->translation_keys);
        w.U32(a->rotation_keys.count);
        for (uint32_t k = 0; k < a->rotation_keys.count; ++k) {
            w.F32(a->rotation_keys.data[k].time);
            w.Floats(&a->rotation_keys.data[k].q.x, 4);
        }
        w.VectorKeys(a->scale_keys);
    }
    return true;
}

bool MeshData::WriteCache(const char* path, uint32_t key) {
    std::vector<uint8_t> image;
    if (!path || !WriteCacheImage(key, image)) return false;
    return WriteFileAtomic(path, image.data(), image.size());
}

bool MeshData::ReadCache(const char* path, uint32_t expected_key) {
    ByteStream file;
    if (!path || !file.LoadFile(path)) return false;
    return ReadCacheImage(file.Data(), file.Size(), expected_key, path);
}

bool MeshData::ReadCacheImage(const uint8_t* data, size_t size, uint32_t expected_key, const char* path) {
    CacheReader r(data, size);
    const uint32_t stored_key = r.U32();
    if (!r.ok() || (expected_key != kAnyMeshCacheKey && expected_key != stored_key)) {
        if (!r.ok()) LogPrintf("[ERROR] Bad mesh cache (cut short) : %s", path);
        return false;
    }
    // Built aside and taken over only when the whole file is sound.
    MeshData staged{};
    const char* why = nullptr;
    auto fail = [&](const char* reason) {
        if (!why) why = reason;
        return false;
    };
    auto read = [&]() -> bool {
        const uint32_t frame_count = r.Count(kMinFrameRecord);
        if (!r.ok() || frame_count == 0) return fail("no frames");
        if (!staged.frames.Reserve(frame_count)) return fail("out of memory");
        std::vector<int32_t> sibling(frame_count), child(frame_count);
        for (uint32_t i = 0; i < frame_count; ++i) {
            MeshFrame* f = NewMeshRecord<MeshFrame>();
            if (!f) return fail("out of memory");
            staged.frames.data[i] = f;
            f->index = i;
            f->has_geometry = r.U8();
            f->name = r.Name();
            r.Matrix(f->local);
            f->combined = f->local;
            sibling[i] = int32_t(r.U32());
            child[i] = int32_t(r.U32());
            if (!r.ok()) return fail("cut short");
            if (sibling[i] >= int64_t(frame_count) || child[i] >= int64_t(frame_count))
                return fail("frame link out of range");
            if (sibling[i] < 0) sibling[i] = -1;
            if (child[i] < 0) child[i] = -1;
        }
        if (!LinksFormTree(sibling, child)) return fail("frame links loop");
        for (uint32_t i = 0; i < frame_count; ++i) {
            MeshFrame* f = staged.frames.data[i];
            f->next_sibling = sibling[i] >= 0 ? staged.frames.data[sibling[i]] : nullptr;
            f->first_child = child[i] >= 0 ? staged.frames.data[child[i]] : nullptr;
        }

        MeshGeometry* g = staged.geometry = NewMeshRecord<MeshGeometry>();
        if (!g) return fail("out of memory");
        r.U32();  // skinned: the bone count says it
        g->vertex_size = r.U32();
        g->vertex_count = r.U32();
        g->face_count = r.U32();
        g->reserved = r.U32();
        if (!r.ok()) return fail("cut short");
        if (g->vertex_size != kMeshVertexSize) return fail("vertex size");
        if (g->vertex_count == 0 || g->vertex_count > kMeshMaxVertices) return fail("vertex count");
        if (g->face_count == 0 || uint64_t(g->face_count) * 6 > r.left()) return fail("face count");
        const uint8_t* vertices = r.Bytes(size_t(g->vertex_count) * kMeshVertexSize);
        const uint8_t* indices = r.Bytes(size_t(g->face_count) * 6);
        if (!r.ok()) return fail("cut short");
        for (uint32_t i = 0; i < g->face_count * 3; ++i)
            if ((indices[i * 2] | indices[i * 2 + 1] << 8) >= int(g->vertex_count))
                return fail("vertex index out of range");
        if (!g->bind_positions.Resize(g->vertex_count)) return fail("out of memory");
        for (uint32_t i = 0; i < g->vertex_count; ++i) {
            CacheReader v(vertices + size_t(i) * kMeshVertexSize, 12);
            v.Vec3(g->bind_positions.data[i]);
        }
        r.Vec3(g->sphere_centre);
        g->sphere_radius = r.F32();
        r.Vec3(g->box_min);
        r.Vec3(g->box_max);

        const uint32_t bone_count = r.Count(1 + 64);
        if (!r.ok()) return fail("cut short");
        if (bone_count > kMeshMaxBones) return fail("more than 256 bones");
        if (bone_count) {
            if (!g->bones.Resize(bone_count) || !g->skin.Resize(g->vertex_count)) return fail("out of memory");
            for (uint32_t i = 0; i < bone_count; ++i) {
                g->bones.data[i].name = r.Name();
                r.Matrix(g->bones.data[i].offset);
            }
            for (uint32_t i = 0; i < g->vertex_count && r.ok(); ++i) {
                SkinInfluence& s = g->skin.data[i];
                const uint8_t* b = r.Bytes(10);
                if (!b) break;
                std::memcpy(s.bones, b, 4);
                std::memcpy(s.weights, b + 4, 4);
                s.count = uint16_t(b[8] | b[9] << 8);
                if (s.count > 4) return fail("skin influence count");
                for (int j = 0; j < s.count; ++j)
                    if (s.bones[j] >= bone_count) return fail("skin bone out of range");
            }
            if (!r.ok()) return fail("cut short");
        }

        staged.anim_length = r.F32();
        const uint32_t anim_count = r.Count(kMinAnimationRecord);
        if (!r.ok()) return fail("cut short");
        if (anim_count && !g->animations.Reserve(anim_count)) return fail("out of memory");
        for (uint32_t i = 0; i < anim_count; ++i) {
            FrameAnimation* a = g->animations.data[i] = NewMeshRecord<FrameAnimation>();
            if (!a) return fail("out of memory");
            const char* name = a->frame_name = r.Name();
            if (!r.Keys(a->translation_keys) || !r.Keys(a->rotation_keys) || !r.Keys(a->scale_keys))
                return fail(r.ok() ? "out of memory" : "cut short");
            for (uint32_t k = 0; k < frame_count && name; ++k) {
                if (std::strcmp(staged.frames.data[k]->name, name) == 0) {
                    a->target = staged.frames.data[k];
                    break;
                }
            }
        }
        for (uint32_t i = 0; i < frame_count; ++i) {
            MeshFrame* f = staged.frames.data[i];
            f->geometry = f->has_geometry ? g : nullptr;
        }
        if (anim_count && bone_count && !staged.skinning.Resize(bone_count)) return fail("out of memory");

        // Device buffers last, once everything else is known to be sound.
        RenderDevice* device = g_renderDevice;
        if (!device) return fail("no render device");
        g->vertex_buffer = device->CreateVertexBuffer(kMeshVertexFormat, g->vertex_count, 0);
        g->index_buffer = device->CreateIndexBuffer(g->face_count * 3);
        if (!g->vertex_buffer || !g->index_buffer) return fail("buffers refused");
        device->LockVertexBuffer(g->vertex_buffer);
        auto* dst = static_cast<uint8_t*>(g->vertex_buffer->position);
        const uint32_t stride = g->vertex_buffer->vertexSize;
        if (dst && stride >= kMeshVertexSize)
            for (uint32_t i = 0; i < g->vertex_count; ++i)
                std::memcpy(dst + size_t(i) * stride, vertices + size_t(i) * kMeshVertexSize, kMeshVertexSize);
        device->UnlockVertexBuffer(g->vertex_buffer);
        device->LockIndexBuffer(g->index_buffer);
        void* idst = g->index_buffer->locked;
        if (idst) std::memcpy(idst, indices, size_t(g->face_count) * 6);
        device->UnlockIndexBuffer(g->index_buffer);
        if (!dst || stride < kMeshVertexSize || !idst) return fail("buffers refused");
        g->vertex_size = stride;
        return true;
    };
    if (!read()) {
        LogPrintf("[ERROR] Bad mesh cache (%s) : %s", why ? why : "cut short", path);
        staged.Release();
        return false;
    }
    Release();
    root = staged.frames.data[0];
    geometry = staged.geometry;
    frames = staged.frames;
    skinning = staged.skinning;
    anim_length = staged.anim_length;
    position1 = position2 = blend_weight = 0;
    dirty = 1;
    byte_size = uint32_t(size);
    LinkBones(root);
    return true;
}
