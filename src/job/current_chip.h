// The chip object the last chip selection created, kept for the rest of the
// process.
#pragma once

#include <memory>

#include "job/chip_operations.h"

// The current chip object (null before a chip selection, or when the last
// selection found no family class).
ChipOperations* current_chip();

// Makes `chip` the current object. The one it replaces is kept alive until
// the process ends (or reset_current_chip): a reconnect started from inside a
// chip procedure selects a new object while the old one is still running.
void set_current_chip(std::unique_ptr<ChipOperations> chip);

// Drops the current and all replaced objects (tests).
void reset_current_chip();
