// The shared clock: deadline arithmetic across the wrap of both counters,
// the timer slots, the injected time source and ClockStop.
#include <dirent.h>

#include "tests/port/port_test_util.h"

using namespace porttest;

namespace {

std::atomic<uint32_t> g_now{0};
uint32_t fake_now() { return g_now.load(); }

class FakeClock : public ::testing::Test {
protected:
    void SetUp() override { ClockSetSource(fake_now); }
    void TearDown() override { ClockSetSource(nullptr); }
    static void set(uint32_t t) {
        g_now = t;
        ClockSample();
    }
};

struct Probe {
    uint32_t at;
    int reached;
};

struct DeadlineCase {
    const char* label;
    bool wide;  // 32-bit TickMs deadline, else 16-bit Tick16
    uint32_t start;
    uint32_t duration;
    std::vector<Probe> probes;
};

class Deadlines : public FakeClock, public ::testing::WithParamInterface<DeadlineCase> {};

}  // namespace

TEST_P(Deadlines, ReachedOnlyFromTheDeadlineOn) {
    const DeadlineCase& c = GetParam();
    set(c.start);
    uint32_t d32 = NowMs() + c.duration;
    uint16_t d16 = uint16_t(Now16() + c.duration);
    for (const Probe& p : c.probes) {
        set(p.at);
        int r = c.wide ? DeadlineReached(d32) : Deadline16Reached(d16);
        EXPECT_EQ(r, p.reached) << "at " << p.at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Deadlines,
    ::testing::Values(
        // 256 ms before the 32-bit wrap, 512 ms ahead: 256 after the wrap.
        DeadlineCase{"Wide_AcrossWrap", true, 0xFFFFFF00u, 512,
                     {{0xFFFFFF00u, 0}, {0xFFFFFFFFu, 0}, {0, 0}, {255, 0}, {256, 1}, {1000, 1}}},
        DeadlineCase{"Wide_ZeroDuration", true, 12345, 0, {{12345, 1}}},
        DeadlineCase{"Narrow_AcrossWrap", false, 65280, 1000,
                     {{65535, 0}, {65536 + 743, 0}, {65536 + 744, 1}}},
        DeadlineCase{"Narrow_ZeroDuration", false, 777, 0, {{777, 1}}},
        // Tested for the first time 32768 ms after it passed: reads as pending.
        DeadlineCase{"Narrow_TestedTooLate", false, 1000, 100,
                     {{1100 + 32767, 1}, {1100 + 32768, 0}}}),
    [](const ::testing::TestParamInfo<DeadlineCase>& i) { return std::string(i.param.label); });

TEST_F(FakeClock, TimerSlotsAreOneShotAndLowestFirst) {
    set(5000);
    for (int i = 0; i < TIMER_SLOTS; ++i) ASSERT_EQ(TimerStart(100), i);
    EXPECT_EQ(TimerStart(100), -1);
    EXPECT_EQ(TimerExpired(-1), 1) << "no slot counts as expired";
    EXPECT_EQ(TimerExpired(TIMER_SLOTS), 1);

    EXPECT_EQ(TimerExpired(7), 0);
    set(5099);
    EXPECT_EQ(TimerExpired(7), 0);
    set(5100);
    EXPECT_EQ(TimerExpired(7), 1);  // ... and that frees it
    EXPECT_EQ(TimerExpired(7), 1);  // a free slot reads expired
    EXPECT_EQ(TimerStart(50), 7);   // the lowest free slot comes back

    EXPECT_EQ(TimerRestart(7, 200), 7);
    set(5299);
    EXPECT_EQ(TimerExpired(7), 0);
    set(5300);
    EXPECT_EQ(TimerExpired(7), 1);

    EXPECT_EQ(TimerStop(3), 3);
    EXPECT_EQ(TimerExpired(3), 1);
    EXPECT_EQ(TimerStart(1), 3);
    EXPECT_EQ(TimerStop(-1), -1);
    EXPECT_EQ(TimerRestart(-1, 5), -1);
    for (int i = 0; i < TIMER_SLOTS; ++i) TimerStop(i);
}

TEST_F(FakeClock, ThreadCopiesTheSource) {
    set(1);
    g_now = 0xABCDEF12u;  // not sampled by hand: the thread must pick it up
    EXPECT_TRUE(wait_until([] { return NowMs() == 0xABCDEF12u && Now16() == 0xEF12u; }));
}

namespace {
int task_count() {
    int n = 0;
    DIR* d = opendir("/proc/self/task");
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}
}  // namespace

TEST(ClockLifecycle, StopReturnsAfterTheThreadEnded) {
    int running = task_count();
    ClockStop();
    EXPECT_EQ(task_count(), running - 1) << "the clock thread is gone when ClockStop returns";
    ClockStart();
    EXPECT_EQ(task_count(), running);
    uint32_t t = NowMs();
    EXPECT_TRUE(wait_until([&] { return NowMs() != t; })) << "running again";
}

TEST(ClockLifecycle, SleepMsSleepsAtLeastThatLong) {
    auto t0 = std::chrono::steady_clock::now();
    SleepMs(20);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(20));
}
