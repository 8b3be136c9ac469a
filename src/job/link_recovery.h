// Getting a lost link back in the middle of a flash procedure.
#pragma once

#include <functional>

class CBootIntf;
class Download;

// Rebuilds the link with `reconnect` (reboot, reconnect, get the bus again;
// 0 = failed) and brings it back to the job's working rate, reconnecting
// again while the rate is refused, up to the job's retry count. False, with
// "SWDL_ConnectRetry fail!" or "SWDL_SetBR5810N fail", when it cannot.
bool reestablish_link(CBootIntf& link, Download& job, const std::function<int()>& reconnect);
