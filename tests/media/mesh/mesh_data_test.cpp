#include "media/mesh/mesh_data.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>

#include <vector>
#include "base/crc32.h"
#include "media/image/image_builders.h"
#include "media/resource_manager.h"
#include "mesh_device.h"
#include "mesh_texts.h"
#include "render/render_device.h"
#include "support/test_support.h"

using media_test::kCubeX;
using media_test::kSkinnedX;
using media_test::LogRecorder;
using media_test::MeshDeviceScope;
using quild_test::ReadFile;
using quild_test::TempDir;
using quild_test::WriteFile;

namespace {

struct MeshHolder {
    MeshData* mesh = MeshData::New();
    ~MeshHolder() { MeshData::Delete(mesh); }
    MeshData* operator->() { return mesh; }
};

const float* Vertex(MeshDeviceScope& s, MeshGeometry* g, uint32_t i) {
    auto* b = s.device.FindVb(g->vertex_buffer);
    return reinterpret_cast<const float*>(b->bytes.data() + size_t(i) * 32);
}

class MeshTest : public ::testing::Test {
protected:
    TempDir dir;
    MeshDeviceScope scope;
    std::string Write(const std::string& name, const std::string& text) {
        std::string p = dir.file(name);
        WriteFile(p, text);
        return p;
    }
};

TEST_F(MeshTest, CubeTextReadsFramesGeometryAndBounds) {
    MeshHolder m;
    LogRecorder log;
    MeshFrame* root = m->ParseText(Write("cube.x", kCubeX).c_str());
    ASSERT_NE(root, nullptr);
    // The template declaration is skipped: the named frame is the root.
    ASSERT_EQ(m->frames.count, 1u);
    EXPECT_STREQ(root->name, "Cube");
    EXPECT_FLOAT_EQ(root->local.m[3][1], 2.0f);
    MeshGeometry* g = root->geometry;
    ASSERT_EQ(g, m->geometry);
    EXPECT_EQ(g->vertex_count, 8u);
    EXPECT_EQ(g->face_count, 12u);
    EXPECT_EQ(g->vertex_size, 32u);
    EXPECT_EQ(g->skin.count, 0u);
    EXPECT_EQ(g->bones.count, 0u);
    EXPECT_FLOAT_EQ(g->box_min.x, -1);
    EXPECT_FLOAT_EQ(g->box_max.z, 1);
    EXPECT_NEAR(g->sphere_centre.y, 0, 1e-6);
    EXPECT_NEAR(g->sphere_radius, std::sqrt(3.0f), 1e-5);
    // Vertex 7: position, normal, texture coordinates.
    const float* v = Vertex(scope, g, 7);
    EXPECT_FLOAT_EQ(v[0], 1);
    EXPECT_FLOAT_EQ(v[2], 1);
    EXPECT_FLOAT_EQ(v[5], 0.57735f);
    EXPECT_FLOAT_EQ(v[6], 1);
    EXPECT_FLOAT_EQ(v[7], 1);
    auto* ib = scope.device.FindIb(g->index_buffer);
    const auto* idx = reinterpret_cast<const uint16_t*>(ib->bytes.data());
    EXPECT_EQ(idx[0], 0);
    EXPECT_EQ(idx[1], 2);
    EXPECT_EQ(idx[35], 5);
    // The Mesh's own "}" is taken at the skin-header position; nothing is
    // reported for the material (texture name with a space skipped whole).
    EXPECT_FALSE(log.Has("WARNING"));
}

TEST_F(MeshTest, SkinnedTextReadsTreeSkinAndReducedKeys) {
    MeshHolder m;
    LogRecorder log;
    MeshFrame* root = m->ParseText(Write("body.x", kSkinnedX).c_str());
    ASSERT_NE(root, nullptr);
    EXPECT_FALSE(log.Has("WARNING"));
    ASSERT_EQ(m->frames.count, 4u);
    MeshFrame* bone1 = m->frames.data[1];
    MeshFrame* bone2 = m->frames.data[2];
    MeshFrame* body = m->frames.data[3];
    EXPECT_EQ(root->first_child, bone1);
    EXPECT_EQ(bone1->next_sibling, body);
    EXPECT_EQ(bone1->first_child, bone2);
    EXPECT_EQ(bone2->parent, bone1);
    EXPECT_EQ(body->parent, root);
    EXPECT_FLOAT_EQ(bone2->local.m[3][1], 1);
    ASSERT_EQ(body->geometry, m->geometry);
    MeshGeometry* g = m->geometry;
    ASSERT_EQ(g->bones.count, 2u);
    EXPECT_STREQ(g->bones.data[0].name, "Bone1");
    EXPECT_STREQ(g->bones.data[1].name, "Bone2");
    EXPECT_FLOAT_EQ(g->bones.data[1].offset.m[3][1], -1);
    ASSERT_EQ(g->skin.count, 6u);
    // 1.0 -> 255, 0.5 -> 127.
    EXPECT_EQ(g->skin.data[0].count, 1);
    EXPECT_EQ(g->skin.data[0].weights[0], 255);
    EXPECT_EQ(g->skin.data[2].count, 2);
    EXPECT_EQ(g->skin.data[2].bones[0], 0);
    EXPECT_EQ(g->skin.data[2].bones[1], 1);
    EXPECT_EQ(g->skin.data[2].weights[0], 127);
    EXPECT_EQ(g->skin.data[2].weights[1], 127);
    EXPECT_EQ(g->skin.data[5].bones[0], 1);
    // Four matrix keys: equal translations keep the first, rotations
    // (I, I, R, R) keep I@0, R@20 and the last key R@30.
    EXPECT_FLOAT_EQ(m->anim_length, 30);
    ASSERT_EQ(g->animations.count, 1u);
    FrameAnimation* a = g->animations.data[0];
    EXPECT_STREQ(a->frame_name, "Bone2");
    ASSERT_EQ(a->translation_keys.count, 1u);
    EXPECT_FLOAT_EQ(a->translation_keys.data[0].y, 1);
    ASSERT_EQ(a->rotation_keys.count, 3u);
    EXPECT_FLOAT_EQ(a->rotation_keys.data[1].time, 20);
    EXPECT_FLOAT_EQ(a->rotation_keys.data[2].time, 30);
    EXPECT_NEAR(a->rotation_keys.data[1].q.z, std::sqrt(0.5f), 1e-5);
    EXPECT_EQ(a->scale_keys.count, 0u);
}

TEST(MeshKeyReduction, RunsOfEqualKeys) {
    MeshArray<VectorKey> v;
    ASSERT_TRUE(ResizeVectorKeys(v, 4));
    v.data[0] = {0, 1, 2, 3};
    v.data[1] = {1, 1, 2, 3};
    v.data[2] = {2, 5, 5, 5};
    v.data[3] = {3, 5, 5, 5};
    ReduceVectorKeys(v);
    ASSERT_EQ(v.count, 2u);
    EXPECT_EQ(v.data[0].time, 0);
    EXPECT_EQ(v.data[1].time, 2);
    // A translation that stays at (1, 1, 1) is a real position, kept.
    v.data[0] = {0, 1, 1, 1};
    v.count = 1;
    ReduceVectorKeys(v);
    EXPECT_EQ(v.count, 1u);
    v.Free();

    MeshArray<RotationKey> r;
    ASSERT_TRUE(ResizeRotationKeys(r, 3));
    for (uint32_t i = 0; i < 3; ++i) r.data[i] = {float(i), {0, 0, float(i), 1}};
    ReduceRotationKeys(r);
    EXPECT_EQ(r.count, 3u);  // nothing dropped, nothing appended
    r.Free();
}

TEST_F(MeshTest, LoadWritesTheCacheAndReadsItBack) {
    std::string x = Write("body.x", kSkinnedX);
    MeshHolder m;
    ASSERT_TRUE(m->Load(x.c_str()));
    std::string cache = dir.file("body.msh");
    std::string bytes = ReadFile(cache);
    ASSERT_FALSE(bytes.empty());
    uint32_t key;
    std::memcpy(&key, bytes.data(), 4);
    EXPECT_EQ(key, Crc32OfFile(x.c_str()));
    EXPECT_EQ(m->byte_size, bytes.size());
    EXPECT_EQ(scope.device.live_buffers, 2);  // the parsed mesh's buffers were released

    // The drawn form: the first frame is "ROOT", links rebuilt, one geometry.
    ASSERT_EQ(m->frames.count, 4u);
    EXPECT_STREQ(m->root->name, "ROOT");
    EXPECT_EQ(m->root->first_child, m->frames.data[1]);
    EXPECT_EQ(m->frames.data[1]->next_sibling, m->frames.data[3]);
    EXPECT_EQ(m->frames.data[3]->geometry, m->geometry);
    EXPECT_EQ(m->frames.data[3]->has_geometry, 1u);
    EXPECT_EQ(m->frames.data[0]->geometry, nullptr);
    MeshGeometry* g = m->geometry;
    EXPECT_EQ(g->bind_positions.count, 6u);
    EXPECT_FLOAT_EQ(g->bind_positions.data[5].y, 2);
    EXPECT_EQ(g->animations.data[0]->target, m->frames.data[2]);
    EXPECT_TRUE(m->Animated());
    EXPECT_EQ(m->skinning.count, 2u);
    EXPECT_EQ(g->bone_matrices.data[1], &m->frames.data[2]->combined);
    EXPECT_TRUE(m->dirty);

    // Written again from what was read, the bytes are the same.
    std::vector<uint8_t> again;
    ASSERT_TRUE(m->WriteCacheImage(key, again));
    EXPECT_EQ(std::string(again.begin(), again.end()), bytes);

    // A matching key reads the cache; another key is refused, mesh unchanged.
    MeshHolder c;
    EXPECT_TRUE(c->ReadCache(cache.c_str(), key));
    EXPECT_FALSE(c->ReadCache(cache.c_str(), key ^ 1));
    EXPECT_EQ(c->frames.count, 4u);
    MeshHolder any;
    EXPECT_TRUE(any->LoadCache(cache.c_str()));

    // A changed text no longer matches: read again and the cache rewritten.
    WriteFile(x, std::string(kSkinnedX) + "\n");
    MeshHolder changed;
    LogRecorder log;
    ASSERT_TRUE(changed->Load(x.c_str()));
    std::memcpy(&key, ReadFile(cache).data(), 4);
    EXPECT_EQ(key, Crc32OfFile(x.c_str()));
}

TEST_F(MeshTest, CacheNamesAndMeshesWithoutBones) {
    MeshHolder m;
    ASSERT_TRUE(m->Load(Write("cube.txt", kCubeX).c_str()));
    std::string bytes = ReadFile(dir.file("cube.t.msh"));
    ASSERT_FALSE(bytes.empty());
    EXPECT_FALSE(m->Animated());
    EXPECT_EQ(m->geometry->skin.count, 0u);
    // No bone records: the animation length and count follow the bone count.
    ASSERT_GE(bytes.size(), 12u);
    const char* tail = bytes.data() + bytes.size() - 12;
    uint32_t bones, anims;
    std::memcpy(&bones, tail, 4);
    std::memcpy(&anims, tail + 8, 4);
    EXPECT_EQ(bones, 0u);
    EXPECT_EQ(anims, 0u);
}

TEST_F(MeshTest, RefusedBuffersLeaveNothingBehind) {
    std::string x = Write("cube.x", kCubeX);
    scope.device.refuse = true;
    MeshHolder m;
    LogRecorder log;
    EXPECT_FALSE(m->Load(x.c_str()));
    EXPECT_TRUE(log.Has("[ERROR] Can't Load Mesh : "));
    EXPECT_EQ(m->frames.count, 0u);
    EXPECT_EQ(m->geometry, nullptr);
    EXPECT_EQ(scope.device.live_buffers, 0);

    // A cache whose buffers are refused is refused whole, mesh unchanged.
    scope.device.refuse = false;
    ASSERT_TRUE(m->Load(x.c_str()));
    scope.device.refuse = true;
    MeshHolder c;
    EXPECT_FALSE(c->LoadCache(dir.file("cube.msh").c_str()));
    EXPECT_EQ(c->frames.count, 0u);
}

TEST_F(MeshTest, UnwritableCacheStillLoads) {
    std::string sub = dir.file("ro");
    std::string x = sub + "/cube.x";
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    WriteFile(x, kCubeX);
    ASSERT_EQ(::mkdir((sub + "/cube.msh").c_str(), 0755), 0);  // a folder where the file should go
    MeshHolder m;
    LogRecorder log;
    EXPECT_TRUE(m->Load(x.c_str()));
    EXPECT_TRUE(log.Has("Can't write mesh cache"));
    EXPECT_EQ(m->geometry->vertex_count, 8u);
}

TEST_F(MeshTest, MalformedTextIsRefused) {
    std::string cube = kCubeX;
    auto with = [&](const std::string& from, const std::string& to) {
        std::string s = cube;
        size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return s.replace(at, from.size(), to);
    };
    const std::string bad[] = {
        with("3;3,7,5;;\n    MeshMaterialList", "3;3,7,8;;\n    MeshMaterialList"),  // index past the vertices
        with("3;0,2,1;,\n    3;1,2,3;,\n    3;4", "4;0,2,1;,\n    3;1,2,3;,\n    3;4"),  // four corners
        with("    8;\n    -1.0", "    70000;\n    -1.0"),                                 // too many vertices
        with("    12;\n    3;0,2,1", "    99999999;\n    3;0,2,1"),                         // count past the text
        with("    8;\n    -1.0", "    -8;\n    -1.0"),
        "",
        "xof 0303txt 0032\nMesh Loose {\n}\n",  // no frame at all
    };
    for (const std::string& text : bad) {
        MeshHolder m;
        LogRecorder log;
        std::string p = Write("bad.x", text);
        EXPECT_FALSE(m->Load(p.c_str())) << text.substr(0, 40);
        EXPECT_TRUE(log.Has("[ERROR] Can't Load Mesh : ")) << text.substr(0, 40);
        EXPECT_EQ(m->frames.count, 0u);
        EXPECT_EQ(scope.device.live_buffers, 0);
        std::remove(dir.file("bad.msh").c_str());
    }

    // More than 256 bones.
    std::string skinned = kSkinnedX;
    std::string block = skinned.substr(skinned.find("      SkinWeights {"),
                                       skinned.find("    }\n  }\n}\nAnimationSet") -
                                           skinned.find("      SkinWeights {"));
    std::string many;
    for (int i = 0; i < 130; ++i) many += block;
    std::string text = skinned;
    text.replace(text.find("      SkinWeights {"), block.size(), many);
    MeshHolder m;
    LogRecorder log;
    EXPECT_FALSE(m->Load(Write("bones.x", text).c_str()));
    EXPECT_TRUE(log.Has("more than 256 bones"));
}

TEST_F(MeshTest, CorruptCacheIsRefused) {
    MeshHolder m;
    ASSERT_TRUE(m->Load(Write("body.x", kSkinnedX).c_str()));
    const std::string good = ReadFile(dir.file("body.msh"));
    LogRecorder log;
    // Every cut is refused.
    for (size_t n = 0; n < good.size(); ++n) {
        MeshHolder c;
        ASSERT_FALSE(c->ReadCacheImage(reinterpret_cast<const uint8_t*>(good.data()), n, kAnyMeshCacheKey, "cut"))
            << n;
        EXPECT_EQ(c->frames.count, 0u);
    }
    EXPECT_EQ(scope.device.live_buffers, 2);
    auto patched = [&](size_t at, uint32_t v) {
        std::string s = good;
        std::memcpy(&s[at], &v, 4);
        MeshHolder c;
        return c->ReadCacheImage(reinterpret_cast<const uint8_t*>(s.data()), s.size(), kAnyMeshCacheKey, "p");
    };
    // Frame 0's record: flag, "ROOT", matrix, then its links at 8+1+5+64.
    const size_t links = 8 + 1 + 5 + 64;
    EXPECT_FALSE(patched(4, 0));             // no frames
    EXPECT_FALSE(patched(links, 4));         // sibling past the list
    EXPECT_FALSE(patched(links + 4, 0));     // child loops to itself
    EXPECT_TRUE(patched(links, 0xFFFFFFF0)); // any negative link is none
    EXPECT_TRUE(log.Has("Bad mesh cache"));
}

TEST_F(MeshTest, ResourceManagerLoadsMeshes) {
    WriteFile(dir.file("body.x"), kSkinnedX);
    char cwd[1024];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    ResourceManager manager;
    ResourceRecord* r = manager.DeclareMesh("Body", 0);
    ASSERT_NE(r, nullptr);
    MeshData* mesh = manager.GetMesh(r);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->frames.count, 4u);
    EXPECT_GT(manager.TotalBytes(), 0u);
    EXPECT_EQ(manager.TotalBytes(), mesh->byte_size);
    EXPECT_FALSE(ReadFile(dir.file("body.msh")).empty());
    manager.Clear();
    EXPECT_EQ(scope.device.live_buffers, 0);
    EXPECT_EQ(chdir(cwd), 0);
}

}  // namespace
