// Particle sources: the birth sequence drawn from the source's generator,
// stepping and rebirth by flags, key curves, rebuilds with warm-up and
// their bounds, reseeding, and what a source gives back when deleted.
#include "scene/particle_source.h"

#include <cmath>
#include <limits>
#include <vector>

#include "base/memory.h"
#include "render/geometry.h"
#include "scene/scene_fixture.h"

using namespace scene_test;

namespace {

class ParticleTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        GameScene* s = Scene("yard");
        s->viewtype = kViewCube;
        engine.currentScene = s;
        src = NewSource();
        src->name = Intern("drips");
    }
    GameParticleSource* NewSource() {
        auto* p = static_cast<GameParticleSource*>(CreateObjectByClass("psource"));
        ListAppend(engine.currentScene->points, static_cast<PointSceneObject*>(p));
        return p;
    }
    void Ranges(GameParticleSource* p) {
        p->x = 90, p->y = 0, p->distance = 500;
        p->source_size = {10, 20, 30};
        p->lifetime[0] = 10, p->lifetime[1] = 40;
        p->velX[0] = -1, p->velX[1] = 1;
        p->velY[0] = 2, p->velY[1] = 4;
        p->velZ[0] = 0, p->velZ[1] = 0.5f;
        p->accelX[0] = -0.1f, p->accelX[1] = 0.1f;
        p->accelY[0] = 0, p->accelY[1] = -0.2f;
        p->accelZ[0] = 0.3f, p->accelZ[1] = 0.3f;
        p->scaleU[0] = 1, p->scaleU[1] = 2;
        p->scaleV[0] = 0.5f, p->scaleV[1] = 1;
    }
    static std::vector<const ParticleKey*> Keys(const RecordChain<ParticleKey>& c) {
        std::vector<const ParticleKey*> out;
        for (const ParticleKey* k = c.head; k; k = static_cast<const ParticleKey*>(k->link)) out.push_back(k);
        return out;
    }

    GameParticleSource* src = nullptr;
};

float Range(float lo, float hi, Rand48& r) { return lo + r.NextFloat() * (hi - lo); }

TEST_F(ParticleTest, BirthDrawsFromTheGeneratorInItsFixedOrder) {
    auto* p = static_cast<GameParticleSource*>(CreateObjectByClass("psource"));
    ASSERT_TRUE(p);
    Ranges(p);
    p->rotSpeed[0] = 10, p->rotSpeed[1] = 20;
    p->generator.SetSeed(1234, 0);
    Rand48 r;
    r.SetSeed(1234, 0);

    Particle a{}, b{};
    p->Spawn(&a);
    // Centre: the direction of yaw 90 (+x) times the distance.
    const float px = (2 * r.NextFloat() - 1) * 10 + 500;
    const float py = (2 * r.NextFloat() - 1) * 20;
    const float pz = (2 * r.NextFloat() - 1) * 30;
    EXPECT_NEAR(a.position.x, px, 1e-3);
    EXPECT_NEAR(a.position.y, py, 1e-3);
    EXPECT_NEAR(a.position.z, pz, 1e-2);
    EXPECT_FLOAT_EQ(a.velocity.x, Range(-1, 1, r));
    EXPECT_FLOAT_EQ(a.velocity.y, Range(2, 4, r));
    EXPECT_FLOAT_EQ(a.velocity.z, Range(0, 0.5f, r));
    EXPECT_FLOAT_EQ(a.acceleration.x, Range(-0.1f, 0.1f, r));
    EXPECT_FLOAT_EQ(a.acceleration.y, Range(0, -0.2f, r));
    EXPECT_FLOAT_EQ(a.acceleration.z, Range(0.3f, 0.3f, r));
    EXPECT_EQ(a.lifetime, int32_t(std::trunc(Range(10, 40, r))));
    EXPECT_FLOAT_EQ(a.scaleU, Range(1, 2, r));
    EXPECT_FLOAT_EQ(a.scaleV, Range(0.5f, 1, r));
    EXPECT_EQ(a.age, 0);
    EXPECT_EQ(a.alpha, 1.0f);
    EXPECT_FLOAT_EQ(a.angle, r.NextFloat() * 6.2831855f);
    EXPECT_FLOAT_EQ(a.spin, Range(10, 20, r) * 3.1415925f / 180.0f);

    // Without spin no angle is drawn: the next birth starts where the
    // scale draws ended.
    p->rotSpeed[0] = p->rotSpeed[1] = 0;
    p->Spawn(&b);
    for (int i = 0; i < 12; ++i) r.NextFloat();
    EXPECT_EQ(b.angle, 0.0f);
    EXPECT_EQ(b.spin, 0.0f);
    EXPECT_EQ(p->generator.low, r.low);
    EXPECT_EQ(p->generator.high, r.high);
    delete p;
}

TEST_F(ParticleTest, StepsMoveWithTheOldVelocityAndRebirthFollowsTheFlags) {
    Particle q{};
    q.velocity = {1, 0, 0};
    q.acceleration = {1, 0, 0};
    q.spin = 4.0f;
    q.angle = 3.0f;
    q.lifetime = 1;
    EXPECT_TRUE(src->Step(&q));
    EXPECT_EQ(q.position.x, 1.0f);  // moved by the old velocity
    EXPECT_EQ(q.velocity.x, 2.0f);
    EXPECT_NEAR(q.angle, 7.0f - 6.2831855f, 1e-5);  // wrapped once
    EXPECT_EQ(q.age, 1);
    EXPECT_TRUE(src->Step(&q));  // age 1 is still alive
    EXPECT_EQ(q.age, 2);

    src->flags() = kParticlesOneShot;
    EXPECT_FALSE(src->Step(&q));  // dead, stays dead
    EXPECT_EQ(q.age, 2);

    src->flags() = kParticlesContinuous;
    EXPECT_TRUE(src->Step(&q));  // reborn
    EXPECT_EQ(q.age, 0);

    Particle waiting{};
    waiting.age = -2;
    EXPECT_FALSE(src->Step(&waiting));
    EXPECT_EQ(waiting.age, -1);

    // Lifetimes of 0 alternate between one step and a rebirth.
    Particle z{};
    EXPECT_TRUE(src->Step(&z));
    EXPECT_EQ(z.age, 1);
    EXPECT_TRUE(src->Step(&z));
    EXPECT_EQ(z.age, 0);
}

TEST_F(ParticleTest, KeyCurvesInterpolateInWrittenOrderAndNeverDivideByZero) {
    RecordChain<ParticleKey> c;
    EXPECT_EQ(KeyCurveValue(c.head, 0.5f), 0.0f);
    ParseParticleKeys("0.2, 1, 0.6,3, 1.0,0", &c);
    ASSERT_EQ(Keys(c).size(), 3u);
    EXPECT_EQ(KeyCurveValue(c.head, 0.0f), 1.0f);  // before the first key
    EXPECT_NEAR(KeyCurveValue(c.head, 0.4f), 2.0f, 1e-5);
    EXPECT_NEAR(KeyCurveValue(c.head, 0.8f), 1.5f, 1e-5);
    EXPECT_EQ(KeyCurveValue(c.head, 2.0f), 0.0f);  // beyond the last

    // Odd counts empty the chain; junk reads as 0.
    ParseParticleKeys("0,1,0.5", &c);
    EXPECT_TRUE(Keys(c).empty());
    ParseParticleKeys("x,7", &c);
    ASSERT_EQ(Keys(c).size(), 1u);
    EXPECT_EQ(Keys(c)[0]->age, 0.0f);

    // Two keys at one age, and a NaN t.
    ParseParticleKeys("0,1,0.5,2,0.5,4", &c);
    const float v = KeyCurveValue(c.head, 0.5f);
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_EQ(v, 2.0f);
    EXPECT_EQ(KeyCurveValue(c.head, std::numeric_limits<float>::quiet_NaN()), 4.0f);
    // Unsorted keys are used as written: the first key at or after t wins.
    ParseParticleKeys("0.9,5,0.1,1", &c);
    EXPECT_EQ(KeyCurveValue(c.head, 0.05f), 5.0f);
    FreeParticleKeys(&c);
}

TEST_F(ParticleTest, RebuildWarmsUpAndReseedFollowsTheBuild) {
    Ranges(src);
    src->lifetime[0] = src->lifetime[1] = 100;
    src->particle_count = 5;
    src->rand_seed = 0x1234;
    src->generator.SetSeed(77, 0);
    Rand48 before = src->generator;
    src->OnChanged(kPsourceBitParticleCount | kPsourceBitRandSeed);
    EXPECT_EQ(src->ParticleCount(), 5u);
    // Built before the reseed: the generator moved on from seed 77 and was
    // then reseeded.
    Rand48 seeded;
    seeded.SetSeed(0x1234, 0);
    EXPECT_EQ(src->generator.low, seeded.low);
    EXPECT_NE(before.low, src->generator.low);
    // Warm-up: 100 steps over every particle. The same build without a
    // warm-up (one-shot) gives the starting ages a; a particle of lifetime
    // 100 counts up to 101, is reborn at 0 by the next step and counts on,
    // so after 100 steps it is a + 100 (a <= 1) or a - 2.
    src->particle_count = 40;
    src->flags() = kParticlesOneShot;
    src->generator.SetSeed(77, 0);
    src->OnChanged(kPsourceBitParticleCount);
    std::vector<int32_t> start;
    for (Particle* p = src->particles.head; p; p = static_cast<Particle*>(p->link)) start.push_back(p->age);
    ASSERT_EQ(start.size(), 40u);
    src->flags() = kParticlesContinuous;
    src->generator.SetSeed(77, 0);
    src->OnChanged(kPsourceBitParticleCount);
    size_t i = 0;
    int moved = 0;
    for (Particle* p = src->particles.head; p; p = static_cast<Particle*>(p->link), ++i) {
        ASSERT_LT(i, start.size());
        const int32_t a = start[i];
        EXPECT_EQ(p->age, a <= 1 ? a + 100 : a - 2) << "particle " << i << " started at " << a;
        moved += p->age != a;
    }
    EXPECT_EQ(moved, 40);

    // A negative seed extends its sign into the high word.
    src->rand_seed = 0x80000001u;
    src->OnChanged(kPsourceBitRandSeed);
    Rand48 neg;
    neg.SetSeed(0x80000001u, 0xFFFFFFFFu);
    EXPECT_EQ(src->generator.high, neg.high);

    // flags 2: all start together at age 0.
    src->flags() = kParticlesTogether;
    src->OnChanged(kPsourceBitParticleCount);
    for (Particle* p = src->particles.head; p; p = static_cast<Particle*>(p->link)) EXPECT_EQ(p->age, 0);
}

TEST_F(ParticleTest, AbsurdCountsAndLifetimesAreCappedWithOneLine) {
    Ranges(src);
    src->particle_count = 50000000;
    src->lifetime[0] = 1e30f, src->lifetime[1] = std::numeric_limits<float>::quiet_NaN();
    src->OnChanged(kPsourceBitParticleCount);
    EXPECT_EQ(src->ParticleCount(), size_t(kMaxParticles));
    EXPECT_TRUE(Logged("particles asked for"));

    LogLines().clear();
    src->particle_count = 20000;
    src->lifetime[0] = src->lifetime[1] = 1e9f;
    src->OnChanged(kPsourceBitParticleCount);  // returns: the warm-up is bounded
    EXPECT_EQ(src->ParticleCount(), 20000u);
    EXPECT_TRUE(Logged("warm-up"));

    // A range whose lifetimes are all 0 (inf to a finite end gives NaN):
    // every particle is born again at each step, so one step is the whole
    // warm-up, not the bounded millions of rebirths.
    LogLines().clear();
    src->lifetime[0] = std::numeric_limits<float>::infinity(), src->lifetime[1] = 4294967296.0f;
    src->OnChanged(kPsourceBitParticleCount);
    EXPECT_EQ(src->ParticleCount(), 20000u);
    EXPECT_FALSE(Logged("warm-up"));

    src->particle_count = -5;
    src->OnChanged(kPsourceBitParticleCount);
    EXPECT_EQ(src->ParticleCount(), 0u);
}

TEST_F(ParticleTest, DeletedSourcesGiveTheirRecordsBackToThePool) {
    GameParticleSource* p = NewSource();
    Ranges(p);
    p->particle_count = 3;
    p->sAlphaKeys = Intern("0,1,1,0");
    p->OnChanged(kPsourceBitParticleCount | kPsourceBitAlphaKeys);
    Particle* first = p->particles.head;
    ParticleKey* key = p->alphaKeys.head;
    ASSERT_TRUE(first && key);
    ListRemove(engine.currentScene->points, static_cast<PointSceneObject*>(p));
    delete p;
    EXPECT_TRUE(ObjectPool::IsFreed(first, sizeof(Particle)));
    EXPECT_TRUE(ObjectPool::IsFreed(key, sizeof(ParticleKey)));
}

TEST_F(ParticleTest, SavedWithEveryPropertyInOrder) {
    Ranges(src);
    src->sAlphaKeys = Intern("0,1");
    const std::string text = SavedText(src);
    const size_t a = text.find("source_size"), b = text.find("particle_count"), c = text.find("visible");
    EXPECT_NE(a, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_NE(text.find("class"), std::string::npos);
    EXPECT_NE(text.find("psource"), std::string::npos);
}

}  // namespace
