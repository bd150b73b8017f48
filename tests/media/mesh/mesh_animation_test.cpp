#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "media/mesh/mesh_data.h"
#include "mesh_device.h"
#include "mesh_texts.h"
#include "support/test_support.h"

using media_test::MeshDeviceScope;

namespace {

constexpr float kHalf = 0.70710678f;

class MeshAnimationTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string x = dir.file("body.x");
        quild_test::WriteFile(x, media_test::kSkinnedX);
        ASSERT_TRUE(mesh->Load(x.c_str()));
        ASSERT_TRUE(mesh->Animated());
    }
    void TearDown() override { MeshData::Delete(mesh); }
    // Position of vertex i as drawn (read from the vertex buffer).
    plat::Vec3 Drawn(uint32_t i) {
        auto* b = scope.device.FindVb(mesh->geometry->vertex_buffer);
        const float* f = reinterpret_cast<const float*>(b->bytes.data() + size_t(i) * 32);
        return {f[0], f[1], f[2]};
    }
    void ExpectDrawn(uint32_t i, float x, float y, float z) {
        plat::Vec3 v = Drawn(i);
        EXPECT_NEAR(v.x, x, 1e-5) << "vertex " << i;
        EXPECT_NEAR(v.y, y, 1e-5) << "vertex " << i;
        EXPECT_NEAR(v.z, z, 1e-5) << "vertex " << i;
    }

    quild_test::TempDir dir;
    MeshDeviceScope scope;
    MeshData* mesh = MeshData::New();
};

TEST(MeshSampling, VectorAndRotationTracks) {
    MeshArray<VectorKey> v;
    ASSERT_TRUE(v.Resize(3));
    v.data[0] = {0, 0, 0, 0};
    v.data[1] = {10, 10, 20, 30};
    v.data[2] = {30, 30, 20, 10};
    auto at = [&](float t) { return SampleVectorKeys(v, t); };
    EXPECT_EQ(at(-5).x, 0);    // before the first key
    EXPECT_EQ(at(10).y, 20);   // exactly a key
    EXPECT_EQ(at(99).z, 10);   // past the last
    EXPECT_FLOAT_EQ(at(5).z, 15);
    EXPECT_FLOAT_EQ(at(20).x, 20);
    EXPECT_FLOAT_EQ(at(20).z, 20);
    v.Free();

    MeshArray<RotationKey> r;
    ASSERT_TRUE(r.Resize(2));
    r.data[0] = {0, {0, 0, 0, 1}};
    r.data[1] = {20, {0, 0, kHalf, kHalf}};  // a quarter turn about z
    plat::Quat q = SampleRotationKeys(r, 10);
    EXPECT_NEAR(q.z, std::sin(3.14159265f / 8), 1e-5);
    EXPECT_NEAR(q.w, std::cos(3.14159265f / 8), 1e-5);
    EXPECT_EQ(SampleRotationKeys(r, 20).z, kHalf);
    EXPECT_EQ(SampleRotationKeys(r, -1).w, 1);
    r.Free();
}

TEST_F(MeshAnimationTest, PositionsWrapAndOnlyChangesDirty) {
    mesh->Update();
    EXPECT_FALSE(mesh->dirty);
    mesh->SetAnimTime(1.25f);
    EXPECT_FLOAT_EQ(mesh->position1, 0.25f);
    EXPECT_TRUE(mesh->dirty);
    mesh->Update();
    mesh->SetAnimTime(0.25f);  // the same again
    EXPECT_FALSE(mesh->dirty);
    mesh->SetAnimTime(-0.25f);
    EXPECT_FLOAT_EQ(mesh->position1, -0.25f);
    mesh->SetAnimTime2(2.5f);
    EXPECT_FLOAT_EQ(mesh->position2, 0.5f);
    mesh->SetAnimWeight(3);
    EXPECT_FLOAT_EQ(mesh->blend_weight, 3);  // not wrapped
}

TEST_F(MeshAnimationTest, RestPoseKeepsBindPositions) {
    mesh->Update();
    // The first key puts Bone2 one unit up, where its offset undoes it.
    for (uint32_t i = 0; i < 6; ++i) {
        const plat::Vec3& b = mesh->geometry->bind_positions.data[i];
        // The shared row carries weights 127 + 127 of 255.
        const float k = i == 2 || i == 3 ? 254.0f / 255 : 1;
        ExpectDrawn(i, b.x * k, b.y * k, b.z * k);
    }
    EXPECT_EQ(scope.device.draws.size(), 1u);
    EXPECT_EQ(scope.device.draws[0], 12u);
    EXPECT_NE(scope.device.Joined().find("vb set;ib set;draw 12;vb none;ib none;"), std::string::npos);
}

TEST_F(MeshAnimationTest, QuarterTurnSkinsByHand) {
    mesh->SetAnimTime(0.75f);  // key time 22.5: the quarter turn
    mesh->Update();
    // Rigid on Bone2: (p - (0,1,0)) turned a quarter about z, then up by 1.
    ExpectDrawn(4, -1, 1, 0);
    ExpectDrawn(5, -1, 2, 0);
    // Rigid on Bone1 (identity).
    ExpectDrawn(0, 0, 0, 0);
    ExpectDrawn(1, 1, 0, 0);
    // Weights 127 and 127: (1,1,0) on Bone1 and (0,2,0) on Bone2.
    ExpectDrawn(3, 127.0f / 255, 127.0f / 255 * 3, 0);
    // Frames were combined: Bone2's world transform is its pose.
    EXPECT_NEAR(mesh->frames.data[2]->combined.m[0][1], 1, 1e-6);
    EXPECT_FALSE(mesh->dirty);
}

TEST_F(MeshAnimationTest, BlendWeights) {
    mesh->SetAnimTime(0);
    mesh->SetAnimTime2(0.75f);
    mesh->SetAnimWeight(0.5f);  // halfway: an eighth turn
    mesh->Update();
    ExpectDrawn(4, -kHalf, 1 + kHalf, 0);
    mesh->SetAnimWeight(1);  // position 2 alone
    mesh->Update();
    ExpectDrawn(4, -1, 1, 0);
    mesh->SetAnimWeight(0);  // position 1 alone
    mesh->Update();
    ExpectDrawn(4, 0, 2, 0);
    mesh->SetAnimTime(0.75f);  // equal positions, whatever the weight
    mesh->SetAnimWeight(0.5f);
    mesh->Update();
    ExpectDrawn(4, -1, 1, 0);
}

TEST(MeshAnimationStatic, MeshWithoutBonesIsNeverPosed) {
    quild_test::TempDir dir;
    MeshDeviceScope scope;
    std::string x = dir.file("cube.x");
    quild_test::WriteFile(x, media_test::kCubeX);
    MeshData* m = MeshData::New();
    ASSERT_TRUE(m->Load(x.c_str()));
    EXPECT_FALSE(m->Animated());
    m->dirty = 0;
    m->SetAnimTime(0.5f);
    m->SetAnimWeight(0.5f);
    EXPECT_FALSE(m->dirty);
    EXPECT_EQ(m->position1, 0);
    m->Update();
    EXPECT_EQ(scope.device.draws.size(), 1u);
    MeshData::Delete(m);
}

}  // namespace
