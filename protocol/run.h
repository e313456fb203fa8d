// The one way every operation drives a step function to its end: step, sleep
// 1 ms, repeat while RES_PENDING.
//
// Every request has a deadline of at most about 1.2 s on the millisecond
// clock, so a step function that is still pending after RUN_STEP_LIMIT steps
// (each followed by a sleep of at least 1 ms, so at least 5 s of real time)
// can only be waiting on a clock that does not run. The loop then gives up
// with RES_TIMEOUT instead of hanging. Pass the device as well where there is
// one: it is then also put back to "no operation in progress", so the next
// operation starts a fresh request instead of continuing the stuck one.
#pragma once
#include "port/clock.h"
#include "protocol/frame.h"
#include "protocol/zove_device.h"

constexpr int RUN_STEP_LIMIT = 5000;

template <class Step>
int run_to_completion(Step&& step) {
    int r;
    int steps = 0;
    while ((r = step()) == RES_PENDING) {
        if (++steps >= RUN_STEP_LIMIT) return RES_TIMEOUT;
        SleepMs(1);
    }
    return r;
}

template <class Step>
int run_to_completion(ZOVEDevice& device, Step&& step) {
    int r = run_to_completion(step);
    if (r == RES_TIMEOUT && device.IsBusy()) device.Abort();
    return r;
}
