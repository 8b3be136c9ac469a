#include "job/link_counters.h"

LinkCounters& link_counters() {
    static LinkCounters counters;
    return counters;
}
