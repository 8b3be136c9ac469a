// The job's three run operations, one per subcommand: connect, get the bus,
// hand the work to the chip object, then report time and outcome, rebooting
// the chip after a failure. Each returns 1 on success and 0 on failure, which
// becomes the exit code.
#pragma once

class Download;

int run_download_job(Download& job);
int run_erase_job(Download& job);
int run_read_job(Download& job);
