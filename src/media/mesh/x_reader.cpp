// The DirectX .x text reader: single-material, triangulated meshes with
// normals and texture coordinates, optionally skinned, with matrix
// animation keys. Blocks are read as fixed token sequences; unbalanced
// braces are reported and reading goes on. Counts and indices that would
// reach past the text or the arrays reject the whole file.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/byte_stream.h"
#include "base/log.h"
#include "base/string_pool.h"
#include "base/text.h"
#include "media/mesh/mesh_data.h"
#include "platform/gpu/d3dx/d3dx_math.h"

namespace {

constexpr const char* kSeparators = " \n\r,;";

class XReader {
public:
    XReader(MeshData& mesh, const char* text, size_t size, const char* path)
        : mesh_(mesh), tok_(text, kSeparators), size_(size), path_(path) {}
    ~XReader() { work_.Free(); }

    // The root frame, or null (the reason logged).
    MeshFrame* Run();

private:
    const char* Next() {
        const char* t = tok_.NextToken();
        return t ? t : "";
    }
    static bool Is(const char* t, const char* word) { return std::strcmp(t, word) == 0; }
    float Float() { return std::strtof(Next(), nullptr); }
    long long Integer() { return std::strtoll(Next(), nullptr, 10); }
    void Skip(uint64_t n) {
        for (uint64_t i = 0; i < n && !failed_; ++i) Next();
    }
    void Fail(const char* why) {
        if (!failed_) LogPrintf("[ERROR] Bad mesh text (%s) : %s", why, path_);
        failed_ = true;
    }
    void Warn(const char* block) { LogPrintf("[WARNING] No Matching { } for %s in %s", block, path_); }
    void ExpectClose(const char* block) {
        if (Next()[0] != '}') Warn(block);
    }
    // A count of items of tokens_each tokens: at most max, and no more
    // than the rest of the text can hold (a token and a separator each).
    uint32_t Count(uint32_t tokens_each, uint32_t max, const char* what) {
        long long n = Integer();
        size_t left = size_ > tok_.Position() ? size_ - tok_.Position() : 0;
        if (n < 0 || uint64_t(n) > max || uint64_t(n) * tokens_each > left / 2 + 1) {
            Fail(what);
            return 0;
        }
        return uint32_t(n);
    }
    void Matrix16(plat::Matrix& m) {
        for (int i = 0; i < 16; ++i) m.m[i / 4][i % 4] = Float();
    }
    // A name token without its first and last character.
    const char* Unwrapped(const char* t) {
        size_t n = std::strlen(t);
        return CommonStrings().InternBytes(n >= 2 ? t + 1 : "", n >= 2 ? n - 2 : 0);
    }

    void ReadFrame();
    void ReadFrameTransform();
    void ReadMesh();
    void ReadSkinWeights(MeshGeometry* g);
    void ReadAnimation();
    void BuildPending();

    MeshData& mesh_;
    Tokenizer tok_;
    size_t size_;
    const char* path_;
    bool failed_ = false;
    bool before_first_frame_ = true;
    MeshFrame* open_ = nullptr;
    MeshFrame* root_ = nullptr;
    MeshGeometry* pending_ = nullptr;
    MeshWorkArrays work_;
};

MeshFrame* XReader::Run() {
    mesh_.anim_length = 0;
    for (const char* t = tok_.NextToken(); t && !failed_; t = tok_.NextToken()) {
        if (t[0] == '}' && !before_first_frame_ && open_) open_ = open_->parent;
        if (std::strlen(t) < 4) continue;
        if (before_first_frame_ && !Is(t, "Frame")) continue;
        if (Is(t, "Frame"))
            ReadFrame();
        else if (Is(t, "Mesh"))
            ReadMesh();
        else if (Is(t, "FrameTransformMatrix"))
            ReadFrameTransform();
        else if (Is(t, "Animation"))
            ReadAnimation();
    }
    if (!failed_) BuildPending();
    return failed_ ? nullptr : root_;
}

void XReader::BuildPending() {
    if (!pending_) return;
    if (!mesh_.BuildBuffers(pending_, work_))
        LogPrintf("[WARNING] Mesh buffers could not be made in %s", path_);
    pending_ = nullptr;
}

void XReader::ReadFrame() {
    const char* n = Next();
    if (before_first_frame_ && n[0] == '{') return;  // the template declaration
    before_first_frame_ = false;
    const char* name = CommonStrings().Intern(n);
    if (Next()[0] != '{') return;
    MeshFrame* f = NewMeshRecord<MeshFrame>();
    if (!f || !mesh_.frames.Append(f)) {
        MemFree(f);
        Fail("out of memory");
        return;
    }
    f->name = name;
    f->index = mesh_.frames.count - 1;
    if (!root_) {
        root_ = f;
        f->parent = open_;
    } else {
        // A frame after the root has closed stands beside it.
        MeshFrame** link = open_ ? &open_->first_child : &root_->next_sibling;
        while (*link) link = &(*link)->next_sibling;
        *link = f;
        f->parent = open_;
    }
    open_ = f;
}

void XReader::ReadFrameTransform() {
    if (Next()[0] != '{') return;
    plat::Matrix m;
    Matrix16(m);
    if (open_) open_->local = m;
    ExpectClose("FrameTransformMatrix");
}

void XReader::ReadMesh() {
    BuildPending();
    MeshGeometry* g = NewMeshRecord<MeshGeometry>();
    if (!g) return Fail("out of memory");
    Next();  // the mesh's name
    if (Next()[0] != '{') {
        // Nothing to attach the blocks to: they are met as plain tokens.
        MemFree(g);
        return;
    }
    uint32_t n = Count(3, kMeshMaxVertices, "vertex count");
    if (!failed_ && !work_.positions.Resize(n)) Fail("out of memory");
    for (uint32_t i = 0; i < n && !failed_; ++i) {
        work_.positions.data[i].x = Float();
        work_.positions.data[i].y = Float();
        work_.positions.data[i].z = Float();
    }
    uint32_t m = Count(4, 0x7FFFFFFFu / 3, "face count");
    if (!failed_ && !work_.faces.Resize(m * 3)) Fail("out of memory");
    for (uint32_t i = 0; i < m && !failed_; ++i) {
        if (Integer() != 3) Fail("face without three corners");
        for (int c = 0; c < 3 && !failed_; ++c) {
            long long v = Integer();
            if (v < 0 || v >= n) Fail("vertex index out of range");
            work_.faces.data[i * 3 + c] = uint16_t(v);
        }
    }
    if (failed_) {
        MemFree(g);
        return;
    }
    g->vertex_size = 12;
    g->vertex_count = n;
    g->face_count = m;
    if (!open_) {
        LogPrintf("[WARNING] Mesh outside any frame in %s", path_);
        MemFree(g);
        return;
    }
    if (open_->geometry) {
        // A second Mesh in one frame replaces the first.
        if (mesh_.geometry == open_->geometry) mesh_.geometry = nullptr;
        open_->geometry->Release();
        MemFree(open_->geometry);
    }
    open_->geometry = g;
    mesh_.geometry = g;
    pending_ = g;

    // Each position below reads one token, matching or not.
    const char* t = Next();
    if (Is(t, "MeshMaterialList")) {
        if (Next()[0] == '{') {
            Next();  // material count
            Skip(Count(1, 0xFFFFFFFFu, "material face count"));
            t = Next();
            if (Is(t, "Material")) {
                Skip(12);  // "{", face colour, power, specular and emissive colours
                t = Next();
                if (Is(t, "TextureFilename")) {
                    for (int c = tok_.GetChar(); c && c != '}'; c = tok_.GetChar()) {
                    }
                    t = Next();
                }
            }
            if (t[0] != '}') Warn("Material");
            ExpectClose("MeshMaterialList");
        }
    }
    if (failed_) return;
    if (Is(Next(), "MeshNormals") && Next()[0] == '{') {
        uint32_t k = Count(3, 0xFFFFFFFFu, "normal count");
        if (!failed_ && !work_.normals.Resize(k)) Fail("out of memory");
        for (uint32_t i = 0; i < k && !failed_; ++i) {
            work_.normals.data[i].x = Float();
            work_.normals.data[i].y = Float();
            work_.normals.data[i].z = Float();
        }
        Skip(uint64_t(Count(4, 0xFFFFFFFFu, "normal face count")) * 4);
        g->vertex_size = 24;
        ExpectClose("MeshNormals");
    }
    if (failed_) return;
    if (Is(Next(), "MeshTextureCoords") && Next()[0] == '{') {
        uint32_t k = Count(2, 0xFFFFFFFFu, "texture coordinate count");
        if (!failed_ && !work_.tex_coords.Resize(k)) Fail("out of memory");
        for (uint32_t i = 0; i < k && !failed_; ++i) {
            work_.tex_coords.data[i].x = Float();
            work_.tex_coords.data[i].y = Float();
        }
        g->vertex_size = 32;
        ExpectClose("MeshTextureCoords");
    }
    if (failed_) return;
    if (Is(Next(), "XSkinMeshHeader")) Skip(5);
    for (t = Next(); Is(t, "SkinWeights") && !failed_; t = Next()) ReadSkinWeights(g);
    if (!failed_ && t[0] != '}') Warn("Mesh");
}

void XReader::ReadSkinWeights(MeshGeometry* g) {
    if (Next()[0] == '}') return;  // an empty block
    if (g->bones.count >= kMeshMaxBones) return Fail("more than 256 bones");
    const uint32_t b = g->bones.count;
    const char* name = Unwrapped(Next());
    MeshArray<MeshBone> bones;
    if (!bones.Resize(b + 1)) return Fail("out of memory");
    if (b) std::memcpy(static_cast<void*>(bones.data), g->bones.data, size_t(b) * sizeof(MeshBone));
    g->bones.Free();
    g->bones = bones;
    MeshBone& bone = g->bones.data[b];
    bone.name = name;
    bone.offset = plat::Matrix{};
    if (!g->skin.data && !g->skin.Resize(g->vertex_count)) return Fail("out of memory");

    uint32_t n = Count(2, kMeshMaxVertices * 4, "skin weight count");
    MeshArray<uint16_t> vertices;
    if (!failed_ && !vertices.Resize(n)) Fail("out of memory");
    for (uint32_t i = 0; i < n && !failed_; ++i) {
        long long v = Integer();
        if (v < 0 || v >= g->skin.count) Fail("skinned vertex out of range");
        vertices.data[i] = uint16_t(v);
    }
    for (uint32_t i = 0; i < n && !failed_; ++i) {
        double w = Float();
        uint8_t u = uint8_t(plat::SaturateToInt64(w * 255.0) & 0xFF);
        SkinInfluence& s = g->skin.data[vertices.data[i]];
        if (s.count < 4) {
            if (u != 0) {
                s.bones[s.count] = uint8_t(b);
                s.weights[s.count] = u;
                ++s.count;
            }
        } else {
            LogPrintf("[WARNING] Too many weight per bone[%s] in %s", name, path_);
        }
    }
    vertices.Free();
    if (failed_) return;
    Matrix16(bone.offset);
    ExpectClose("SkinWeights");
}

void XReader::ReadAnimation() {
    const char* t = Next();
    if (t[0] != '{') {
        if (t[0] != '}') Warn("Animation");
        return;
    }
    Skip(2);  // the key block's name and its "{"
    if (Integer() != 4) {
        // Only matrix keys are read; the rest is met as plain tokens.
        ExpectClose("Animation");
        return;
    }
    FrameAnimation* a = NewMeshRecord<FrameAnimation>();
    if (!a) return Fail("out of memory");
    uint32_t n = Count(18, 0xFFFFFFFFu, "animation key count");
    if (!failed_ && (!a->rotation_keys.Resize(n) || !a->translation_keys.Resize(n))) Fail("out of memory");
    float longest = 0;
    for (uint32_t i = 0; i < n && !failed_; ++i) {
        float time = Float();
        if (time > longest) longest = time;
        Next();  // the value count, 16
        plat::Matrix m;
        Matrix16(m);
        a->translation_keys.data[i] = VectorKey{time, m.m[3][0], m.m[3][1], m.m[3][2]};
        m.m[3][0] = m.m[3][1] = m.m[3][2] = 0;
        a->rotation_keys.data[i].time = time;
        plat::D3DXQuaternionRotationMatrix(&a->rotation_keys.data[i].q, &m);
    }
    if (!failed_) {
        Next();  // the key block's "}"
        a->frame_name = Unwrapped(Next());
        ReduceVectorKeys(a->translation_keys);
        ReduceRotationKeys(a->rotation_keys);
        ExpectClose("Animation");
    }
    // Tracks belong to the geometry being read; without one they are dropped.
    if (failed_ || !pending_ || !pending_->animations.Append(a)) {
        a->rotation_keys.Free();
        a->translation_keys.Free();
        MemFree(a);
        return;
    }
    if (longest > mesh_.anim_length) mesh_.anim_length = longest;
}

}  // namespace

void ReduceVectorKeys(MeshArray<VectorKey>& keys) {
    // From the first key on, a key equal (bit for bit) to the last kept one
    // is dropped.
    uint32_t kept = 0;
    for (uint32_t i = 0; i < keys.count; ++i) {
        const VectorKey& k = keys.data[i];
        if (kept && std::memcmp(&k.x, &keys.data[kept - 1].x, 12) == 0) continue;
        keys.data[kept++] = k;
    }
    keys.count = kept;
    if (kept == 0) keys.Free();
}

void ReduceRotationKeys(MeshArray<RotationKey>& keys) {
    uint32_t kept = 0;
    const uint32_t n = keys.count;
    for (uint32_t i = 0; i < n; ++i) {
        const RotationKey& k = keys.data[i];
        if (kept && std::memcmp(&k.q, &keys.data[kept - 1].q, sizeof(plat::Quat)) == 0) continue;
        keys.data[kept++] = k;
    }
    // With keys dropped, the last key as read keeps the track's end time.
    if (kept < n) keys.data[kept++] = keys.data[n - 1];
    keys.count = kept;
}

MeshFrame* MeshData::ParseText(const char* path) {
    ByteStream file;
    if (!path || !file.LoadFile(path)) return nullptr;
    const uint32_t size = file.Size();
    char* text = static_cast<char*>(MemAlloc(size_t(size) + 1));
    if (!text) return nullptr;
    if (size) std::memcpy(text, file.Data(), size);
    file.Close();
    MeshFrame* r;
    {
        XReader reader(*this, text, size, path);
        r = reader.Run();
    }
    MemFree(text);
    if (!r) Clear();
    return r;
}
