#include "serial/timers.h"

#include <time.h>

int64_t MTimer::counter() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t MTimer::frequency() { return 1000000000; }

bool MTimer::start() {
    m_frequency = frequency();
    m_start = counter();
    return true;
}

double MTimer::elapsed() const {
    if (m_frequency <= 0) return 0.0;
    return (double(counter()) - double(m_start)) / double(m_frequency);
}

bool MTimer::has_elapsed(double t) const {
    if (t < 0) return false;
    return elapsed() >= t;
}

int MTimer::wait(double t) {
    start();
    while (elapsed() < t) {
    }
    return 1;
}
