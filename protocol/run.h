// The one way every operation drives a step function to its end: step, sleep
// 1 ms, repeat while RES_PENDING.
#pragma once
#include "protocol/frame.h"
#include "port/clock.h"

template <class Step>
int run_to_completion(Step&& step) {
    int r;
    while ((r = step()) == RES_PENDING) SleepMs(1);
    return r;
}
