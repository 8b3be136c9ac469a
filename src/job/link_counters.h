// Counters the link keeps for the whole process: they decide which messages a
// later connect or get-bus repeats, and how long the control-word helpers
// wait on busy bits. One job runs per process, so one set is enough.
#pragma once

#include <cstdint>

struct LinkCounters {
    // Successful Connect calls; the success line is logged only for the first.
    int32_t connects = 0;
    // GetBus time-outs; the first get-bus of a process logs the reset lines,
    // later time-outs log "LinkCheck Timeout".
    int32_t getbus_timeouts = 0;
    // Busy status words seen by sctrl_read and sctrl_write; every fifth
    // gives up. Never reset during a run.
    int32_t control_read_busy = 0;
    int32_t control_write_busy = 0;
    // Failed attempts within the current register read or write; the failure
    // line is logged for the first only.
    int32_t read_failures = 0;
    int32_t write_failures = 0;

    // Back to the start-of-process state (for tests that run many links).
    void reset() { *this = LinkCounters{}; }
};

LinkCounters& link_counters();
