#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

TEST(System, ClockIsMonotonicAndSleepAdvancesIt) {
    int64_t a = plat::PerfCounter();
    plat::SleepMs(5);
    int64_t b = plat::PerfCounter();
    EXPECT_GE(b - a, plat::PerfFrequency() / 1000 * 4);
}

TEST(System, WaitReturnsLowestSignalledEventAndResetsIt) {
    plat::Event* ev[3] = {plat::CreateEvent(), plat::CreateEvent(), plat::CreateEvent()};
    EXPECT_EQ(plat::WaitForEvents(ev, 3, 10), plat::kWaitTimeout);
    plat::SetEvent(ev[2]);
    plat::SetEvent(ev[1]);
    EXPECT_EQ(plat::WaitForEvents(ev, 3, 0), 1);
    EXPECT_EQ(plat::WaitForEvents(ev, 3, 0), 2);
    EXPECT_EQ(plat::WaitForEvents(ev, 3, 0), plat::kWaitTimeout);
    for (auto* e : ev) plat::DestroyEvent(e);
}

TEST(System, ThreadWakesOnEventAndIsWaitedFor) {
    struct Shared {
        plat::Event* go;
        std::atomic<int> seen{0};
    } s{plat::CreateEvent()};
    plat::Thread* t = plat::CreateThread(
        [](void* arg) -> unsigned {
            auto* sh = static_cast<Shared*>(arg);
            plat::Event* e = sh->go;
            if (plat::WaitForEvents(&e, 1, 2000) == 0) sh->seen = 1;
            return 0;
        },
        &s);
    EXPECT_FALSE(plat::WaitThread(t, 20));
    plat::SetEvent(s.go);
    EXPECT_TRUE(plat::WaitThread(t, 2000));
    EXPECT_EQ(s.seen.load(), 1);
    plat::CloseThread(t);
    plat::DestroyEvent(s.go);
}

TEST(System, MemoryAndDateText) {
    plat::MemoryStatus m = plat::GetMemoryStatus();
    EXPECT_GT(m.total_physical, 0u);
    EXPECT_LE(m.available_physical, m.total_physical);
    EXPECT_EQ(plat::DateText().size(), 8u);
    EXPECT_EQ(plat::TimeText().size(), 8u);
}

// Every test program keeps the leak check away from the dynamic TLS the GL
// driver leaves behind (tests/support/test_main.cpp): its stale bounds
// crashed the check at exit.
extern "C" const char* __lsan_default_options();

TEST(TestPrograms, LeakCheckSkipsDynamicTls) {
    const char* options = __lsan_default_options();
    ASSERT_NE(options, nullptr);
    EXPECT_NE(std::string(options).find("intercept_tls_get_addr=0"), std::string::npos) << options;
}
