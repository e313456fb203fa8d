// The one millisecond clock. A background thread copies the monotonic
// millisecond counter into TickMs (32 bits) and Tick16 (its low 16 bits)
// about once per millisecond; readers load them without a lock. Deadlines are
// "now + duration" in the counter's own width, tested by signed difference,
// so they survive the wrap of either counter.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<uint32_t> TickMs;
extern std::atomic<uint16_t> Tick16;

constexpr int TIMER_SLOTS = 512;

void ClockStart();
void ClockStop();

inline uint32_t NowMs() { return TickMs.load(std::memory_order_relaxed); }
inline uint16_t Now16() { return Tick16.load(std::memory_order_relaxed); }

inline int DeadlineReached(uint32_t deadline) {
    return int32_t(NowMs() - deadline) >= 0 ? 1 : 0;
}
inline int Deadline16Reached(uint16_t deadline) {
    return (uint16_t(Now16() - deadline) & 0x8000u) == 0 ? 1 : 0;
}

int TimerStart(uint32_t ms);
int TimerExpired(int slot);
int TimerStop(int slot);
int TimerRestart(int slot, uint32_t ms);
void SleepMs(uint32_t ms);

// Test seam: the time source the clock thread samples. nullptr restores the
// monotonic clock. ClockSample() copies the source into the counters at once.
using ClockSource = uint32_t (*)();
void ClockSetSource(ClockSource source);
void ClockSample();
