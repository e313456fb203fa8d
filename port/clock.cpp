#include "port/clock.h"

#include <ctime>
#include <mutex>
#include <thread>

std::atomic<uint32_t> TickMs{0};
std::atomic<uint16_t> Tick16{0};

namespace {

struct TimerSlot {
    uint8_t active;
    uint32_t deadline;
};

std::atomic<int> g_running{0};
std::mutex g_clock_lock;
std::thread g_clock_thread;
TimerSlot g_timers[TIMER_SLOTS];
std::atomic<ClockSource> g_source{nullptr};

// The application never stops the clock, but a std::thread still running
// when the program returns from main would call std::terminate, and the lock
// would be destroyed under the running thread. Defined after the thread and
// the lock, this is destroyed before them: it ends the thread first.
struct StopAtExit {
    ~StopAtExit() { ClockStop(); }
} g_stop_at_exit;

uint32_t monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

void sample() {
    ClockSource src = g_source.load(std::memory_order_relaxed);
    uint32_t now = src ? src() : monotonic_ms();
    std::lock_guard<std::mutex> hold(g_clock_lock);
    TickMs.store(now, std::memory_order_relaxed);
    Tick16.store(uint16_t(now), std::memory_order_relaxed);
}

void clock_thread_body() {
    while (g_running.load(std::memory_order_relaxed)) {
        SleepMs(1);
        sample();
    }
}

}  // namespace

void ClockStart() {
    if (g_clock_thread.joinable()) return;  // started once; a second start changes nothing
    g_running.store(1);
    sample();
    for (auto& t : g_timers) t = TimerSlot{0, 0};
    // A thread that cannot be created leaves the counters at their start
    // values (every future deadline then never comes), but must not take the
    // program down.
    try {
        g_clock_thread = std::thread(clock_thread_body);
    } catch (...) {
        g_running.store(0);
    }
}

void ClockStop() {
    g_running.store(0);
    if (g_clock_thread.joinable()) g_clock_thread.join();
}

void ClockSetSource(ClockSource source) {
    g_source.store(source);
    sample();
}

void ClockSample() { sample(); }

int TimerStart(uint32_t ms) {
    for (int i = 0; i < TIMER_SLOTS; ++i) {
        if (!g_timers[i].active) {
            g_timers[i].active = 1;
            g_timers[i].deadline = NowMs() + ms;
            return i;
        }
    }
    return -1;
}

int TimerExpired(int slot) {
    if (slot < 0 || slot >= TIMER_SLOTS || !g_timers[slot].active) return 1;
    if (int32_t(NowMs() - g_timers[slot].deadline) < 0) return 0;
    g_timers[slot].active = 0;
    return 1;
}

int TimerStop(int slot) {
    if (slot >= 0 && slot < TIMER_SLOTS) g_timers[slot].active = 0;
    return slot;
}

int TimerRestart(int slot, uint32_t ms) {
    if (slot >= 0 && slot < TIMER_SLOTS) g_timers[slot].deadline = NowMs() + ms;
    return slot;
}

void SleepMs(uint32_t ms) {
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}
