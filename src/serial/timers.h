// Stopwatches for time-outs, in seconds, on the monotonic clock.
#pragma once

#include <cstdint>

class MTimer {
public:
    explicit MTimer(bool start_now = false) {
        if (start_now) start();
    }
    virtual ~MTimer() = default;

    // Takes the clock's frequency and the current count.
    bool start();
    // Seconds since start().
    double elapsed() const;
    // False for a negative t; otherwise whether t seconds have passed.
    bool has_elapsed(double t) const;
    // Restarts, then busy-waits until t seconds have passed (for waits that
    // must not be stretched by the scheduler's sleep granularity).
    int wait(double t);

    // Counter ticks per second and the count at start(). Read and written
    // directly by the transaction engine.
    int64_t m_frequency = 0;
    int64_t m_start = 0;

    static int64_t counter();
    static int64_t frequency();
};

// The stopwatch procedures create on the stack while they wait for a chip.
class CalcTimer : public MTimer {
public:
    using MTimer::MTimer;
};
