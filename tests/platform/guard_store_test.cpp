#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "platform/guard.h"
#include "platform/store.h"
#include "support/test_support.h"

TEST(Guard, CatchesAnAccessViolationAndRecordsTheWrite) {
    plat::ExceptionRecord rec;
    bool ok = plat::RunGuarded([](void*) { plat::RaiseAccessViolationForTesting(); }, nullptr, &rec);
    EXPECT_FALSE(ok);
    EXPECT_EQ(rec.code, plat::kExceptionAccessViolation);
    EXPECT_EQ(rec.num_params, 2u);
    EXPECT_EQ(rec.params[0], 1u);
    EXPECT_NE(rec.params[1], 0u);
    EXPECT_NE(rec.address, 0u);
    // The guard is gone afterwards and a clean run reports success.
    int ran = 0;
    EXPECT_TRUE(plat::RunGuarded([](void* a) { ++*static_cast<int*>(a); }, &ran, &rec));
    EXPECT_EQ(ran, 1);
}

TEST(Guard, NestedGuardsAndSignalKinds) {
    plat::ExceptionRecord outer, inner;
    struct Ctx {
        plat::ExceptionRecord* inner;
        bool inner_ok = true;
    } ctx{&inner};
    bool ok = plat::RunGuarded(
        [](void* a) {
            auto* c = static_cast<Ctx*>(a);
            c->inner_ok = plat::RunGuarded([](void*) { raise(SIGFPE); }, nullptr, c->inner);
            raise(SIGILL);
        },
        &ctx, &outer);
    EXPECT_FALSE(ctx.inner_ok);
    EXPECT_EQ(inner.code, plat::kExceptionIntDivideByZero);
    EXPECT_FALSE(ok);
    EXPECT_EQ(outer.code, plat::kExceptionIllegalInstruction);
}

namespace {
struct Counter : plat::store::CallbackBase {
    int runs = 0;
    int64_t last_result = -1;
    void Run(void* p) override {
        ++runs;
        if (id == plat::store::UserStatsReceived::kId)
            last_result = static_cast<plat::store::UserStatsReceived*>(p)->result;
    }
    void RunWithResult(void* p, bool, uint64_t) override { Run(p); }
    int GetCallbackSize() override { return 24; }
};
}  // namespace

TEST(Store, CallbacksArriveFromRunCallbacksAndAchievementsPersist) {
    quild_test::TempDir dir;
    plat::store::SetDataFolderForTesting(dir.path().c_str());
    ASSERT_TRUE(plat::store::Init());
    Counter received, stored;
    plat::store::RegisterCallback(&received, plat::store::UserStatsReceived::kId);
    plat::store::RegisterCallback(&stored, plat::store::UserAchievementStored::kId);
    EXPECT_TRUE(plat::store::RequestCurrentStats());
    EXPECT_EQ(received.runs, 0);  // nothing before the callbacks run
    plat::store::RunCallbacks();
    EXPECT_EQ(received.runs, 1);
    EXPECT_EQ(received.last_result, 1);

    EXPECT_TRUE(plat::store::SetAchievement("ACH_03"));
    // One name a line: a name the file would read back as others is refused.
    EXPECT_FALSE(plat::store::SetAchievement("ACH_04\nACH_05"));
    EXPECT_FALSE(plat::store::SetAchievement("ACH_04\r"));
    EXPECT_FALSE(plat::store::SetAchievement(std::string(128, 'L').c_str()));
    EXPECT_TRUE(plat::store::SetAchievement(std::string(127, 'L').c_str()));
    EXPECT_FALSE(plat::store::AchievementNameFits("ACH_04\0X", 8));
    EXPECT_TRUE(plat::store::StoreStats());
    plat::store::RunCallbacks();
    EXPECT_EQ(stored.runs, 2);
    plat::store::Shutdown();

    ASSERT_TRUE(plat::store::Init());  // a new session reads them back
    bool got = true;
    EXPECT_TRUE(plat::store::GetAchievement("ACH_05", &got));
    EXPECT_FALSE(got);
    EXPECT_TRUE(plat::store::GetAchievement(std::string(127, 'L').c_str(), &got));
    EXPECT_TRUE(got);
    EXPECT_TRUE(plat::store::GetAchievement("ACH_03", &got));
    EXPECT_TRUE(got);
    EXPECT_STREQ(plat::store::GetAchievementDisplayAttribute("ACH_03", "name"), "ACH_03");
    EXPECT_TRUE(plat::store::ClearAchievement("ACH_03"));
    EXPECT_TRUE(plat::store::GetAchievement("ACH_03", &got));
    EXPECT_FALSE(got);
    plat::store::UnregisterCallback(&received);
    plat::store::UnregisterCallback(&stored);
    EXPECT_EQ(received.flags & 1, 0);
    plat::store::Shutdown();

    plat::store::SetAvailableForTesting(false);
    EXPECT_FALSE(plat::store::Init());
    EXPECT_FALSE(plat::store::RequestCurrentStats());
    EXPECT_FALSE(plat::store::SetAchievement("X"));
    plat::store::SetAvailableForTesting(true);
    plat::store::SetDataFolderForTesting(nullptr);
}

TEST(Store, AchievementsAreWrittenDurablyAndReadFromARegularFileOnly) {
    quild_test::TempDir dir;
    plat::store::SetDataFolderForTesting(dir.path().c_str());
    // A link where a fixed temporary name would go is never written through.
    quild_test::WriteFile(dir.file("victim"), "victim");
    ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("achievements.txt.tmp").c_str()), 0);
    ASSERT_TRUE(plat::store::Init());
    EXPECT_TRUE(plat::store::SetAchievement("ACH_01"));
    EXPECT_TRUE(plat::store::StoreStats());
    plat::store::Shutdown();
    EXPECT_EQ(quild_test::ReadFile(dir.file("victim")), "victim");
    EXPECT_EQ(quild_test::ReadFile(dir.file("achievements.txt")), "ACH_01\n");

    // An over-long line is skipped whole; the names around it stay.
    quild_test::WriteFile(dir.file("achievements.txt"), "A1\r\n" + std::string(300, 'x') + "\nA2\n");
    ASSERT_TRUE(plat::store::Init());
    bool got = false;
    EXPECT_TRUE(plat::store::GetAchievement("A1", &got) && got);
    EXPECT_TRUE(plat::store::GetAchievement("A2", &got) && got);
    EXPECT_TRUE(plat::store::GetAchievement(std::string(300 - 256 + 1, 'x').c_str(), &got) && !got);
    plat::store::Shutdown();

    // A FIFO in the file's place reads as no achievements, without waiting.
    ASSERT_EQ(std::remove(dir.file("achievements.txt").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("achievements.txt").c_str(), 0644), 0);
    ASSERT_TRUE(plat::store::Init());
    EXPECT_TRUE(plat::store::GetAchievement("A1", &got) && !got);
    plat::store::Shutdown();
    plat::store::SetDataFolderForTesting(nullptr);
}
