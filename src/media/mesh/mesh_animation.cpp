// Mesh animation and drawing: frame poses sampled from key tracks at two
// positions and blended, the frame tree combined, vertex positions skinned
// on the processor into the vertex buffer, one indexed draw.
#include <cmath>
#include <cstring>

#include "media/mesh/mesh_data.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/render_device.h"

namespace {

// Index of the first key whose time is not below t.
template <typename K>
uint32_t FirstKeyAtOrAfter(const MeshArray<K>& keys, float t) {
    uint32_t k = 0;
    while (k < keys.count && keys.data[k].time < t) ++k;
    return k;
}

plat::Vec3 Lerp(const plat::Vec3& a, const plat::Vec3& b, float f) {
    return {a.x * (1 - f) + b.x * f, a.y * (1 - f) + b.y * f, a.z * (1 - f) + b.z * f};
}

// Columns 0..2 of the matrix scaled by s.
void ScaleColumns(plat::Matrix& m, const plat::Vec3& s) {
    for (int r = 0; r < 4; ++r) {
        m.m[r][0] *= s.x;
        m.m[r][1] *= s.y;
        m.m[r][2] *= s.z;
    }
}

void Translate(plat::Matrix& m, const plat::Vec3& p) {
    m.m[3][0] += p.x;
    m.m[3][1] += p.y;
    m.m[3][2] += p.z;
}

}  // namespace

plat::Vec3 SampleVectorKeys(const MeshArray<VectorKey>& keys, float t) {
    const uint32_t k = FirstKeyAtOrAfter(keys, t);
    const VectorKey& b = keys.data[k == keys.count ? k - 1 : k];
    if (k == 0 || k == keys.count || b.time == t) return {b.x, b.y, b.z};
    const VectorKey& a = keys.data[k - 1];
    const float f = (t - a.time) / (b.time - a.time);
    return Lerp({a.x, a.y, a.z}, {b.x, b.y, b.z}, f);
}

plat::Quat SampleRotationKeys(const MeshArray<RotationKey>& keys, float t) {
    uint32_t k = FirstKeyAtOrAfter(keys, t);
    if (k == 0) return keys.data[0].q;
    if (k == keys.count) return keys.data[keys.count - 1].q;
    if (keys.data[k].time == t) return keys.data[k].q;
    const RotationKey& a = keys.data[k - 1];
    const RotationKey& b = keys.data[k];
    float f = (t - a.time) / (b.time - a.time);
    plat::Quat q;
    plat::D3DXQuaternionSlerp(&q, &a.q, &b.q, f);
    return q;
}

void MeshData::SetAnimTime(float t) {
    if (!Animated() || t == position1) return;
    dirty = 1;
    position1 = float(std::fmod(t, 1.0));
}

void MeshData::SetAnimTime2(float t) {
    if (!Animated() || t == position2) return;
    dirty = 1;
    position2 = float(std::fmod(t, 1.0));
}

void MeshData::SetAnimWeight(float w) {
    if (!Animated() || w == blend_weight) return;
    dirty = 1;
    blend_weight = w;
}

void MeshData::Update() {
    if (!root) return;
    if (Animated() && dirty) SampleBlend(position1 * anim_length, position2 * anim_length, blend_weight);
    CombineFrames(root, nullptr);
    DrawFrames(root);
}

void MeshData::ApplyPose(float t) {
    if (!geometry) return;
    for (uint32_t i = 0; i < geometry->animations.count; ++i) {
        const FrameAnimation* a = geometry->animations.data[i];
        if (!a || !a->target) continue;
        plat::Matrix& l = a->target->local;
        if (a->rotation_keys.count) {
            plat::Quat q = SampleRotationKeys(a->rotation_keys, t);
            plat::D3DXMatrixRotationQuaternion(&l, &q);
        } else {
            plat::D3DXMatrixIdentity(&l);
        }
        if (a->scale_keys.count) ScaleColumns(l, SampleVectorKeys(a->scale_keys, t));
        if (a->translation_keys.count) Translate(l, SampleVectorKeys(a->translation_keys, t));
    }
}

void MeshData::SampleBlend(float a, float b, float w) {
    if (a == b || w <= 0) return ApplyPose(a);
    if (w >= 1) return ApplyPose(b);
    if (!geometry) return;
    for (uint32_t i = 0; i < geometry->animations.count; ++i) {
        const FrameAnimation* track = geometry->animations.data[i];
        if (!track || !track->target) continue;
        plat::Matrix& l = track->target->local;
        if (track->rotation_keys.count) {
            plat::Quat qa = SampleRotationKeys(track->rotation_keys, a);
            plat::Quat qb = SampleRotationKeys(track->rotation_keys, b);
            plat::Quat q;
            plat::D3DXQuaternionSlerp(&q, &qa, &qb, w);
            plat::D3DXMatrixRotationQuaternion(&l, &q);
        } else {
            plat::D3DXMatrixIdentity(&l);
        }
        if (track->scale_keys.count)
            ScaleColumns(l, Lerp(SampleVectorKeys(track->scale_keys, a), SampleVectorKeys(track->scale_keys, b), w));
        if (track->translation_keys.count)
            Translate(l, Lerp(SampleVectorKeys(track->translation_keys, a),
                              SampleVectorKeys(track->translation_keys, b), w));
    }
}

void MeshData::CombineFrames(MeshFrame* frame, const plat::Matrix* parent) {
    ForEachMeshFrame(frame, parent, [](MeshFrame* f, const plat::Matrix* p) {
        if (p)
            plat::D3DXMatrixMultiply(&f->combined, &f->local, p);
        else
            f->combined = f->local;
    });
}

void MeshData::DrawFrames(MeshFrame* frame) {
    RenderDevice* device = g_renderDevice;
    ForEachMeshFrame(frame, nullptr, [&](MeshFrame* f, const plat::Matrix*) {
        MeshGeometry* g = f->geometry;
        if (!g || !g->vertex_buffer || !g->index_buffer || !device) return;
        if (Animated() && dirty) {
            for (uint32_t i = 0; i < skinning.count; ++i) {
                const plat::Matrix* bone = i < g->bone_matrices.count ? g->bone_matrices.data[i] : nullptr;
                // A bone whose frame is missing stays where it was bound.
                if (bone && i < g->bones.count)
                    plat::D3DXMatrixMultiply(&skinning.data[i], &g->bones.data[i].offset, bone);
                else
                    plat::D3DXMatrixIdentity(&skinning.data[i]);
            }
            device->LockVertexBuffer(g->vertex_buffer);
            if (g->vertex_buffer->position) SkinVertices(static_cast<uint8_t*>(g->vertex_buffer->position));
            device->UnlockVertexBuffer(g->vertex_buffer);
            dirty = 0;
        }
        device->SetVertexBuffer(g->vertex_buffer);
        device->SetIndexBuffer(g->index_buffer);
        device->DrawIndexed(0, g->face_count * 3);
        device->SetVertexBuffer(nullptr);
        device->SetIndexBuffer(nullptr);
    });
}

void MeshData::SkinVertices(uint8_t* vertices) {
    MeshGeometry* g = geometry;
    if (!g || !vertices) return;
    const uint32_t n = g->bind_positions.count;
    for (uint32_t i = 0; i < n; ++i) {
        const plat::Vec3& p = g->bind_positions.data[i];
        plat::Vec3 out = p;
        const SkinInfluence* s = i < g->skin.count ? &g->skin.data[i] : nullptr;
        if (s && s->count) {
            out = {};
            for (int j = 0; j < s->count && j < 4; ++j) {
                const uint32_t b = s->bones[j];
                if (b >= skinning.count) continue;
                const auto& m = skinning.data[b].m;
                const float w = float(s->weights[j]) * 0.0039215689f;
                out.x += (p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0]) * w;
                out.y += (p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1]) * w;
                out.z += (p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2]) * w;
            }
        }
        std::memcpy(vertices + size_t(i) * g->vertex_size, &out, 12);
    }
}

void MeshData::LinkBones(MeshFrame* root_frame) {
    ForEachMeshFrame(root_frame, nullptr, [&](MeshFrame* f, const plat::Matrix*) {
        f->combined = f->local;
        MeshGeometry* g = f->geometry;
        if (!g || !Animated()) return;
        if (!g->bone_matrices.Resize(g->bones.count)) return;
        for (uint32_t i = 0; i < g->bones.count; ++i) {
            for (uint32_t k = 0; k < frames.count; ++k) {
                MeshFrame* named = frames.data[k];
                if (named && named->name && g->bones.data[i].name &&
                    std::strcmp(named->name, g->bones.data[i].name) == 0) {
                    g->bone_matrices.data[i] = &named->combined;
                    break;
                }
            }
        }
    });
}
