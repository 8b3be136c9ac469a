// Line settings through termios2, which carries any rate (BOTHER), not only
// the standard ones. Kept apart because <asm/termbits.h> cannot be mixed with
// <termios.h>.
#pragma once

namespace sim {

// The rate the tty behind fd is set to; on the master side of a
// pseudo-terminal this is what the program on the slave side set. 0 on failure.
int tty_get_baud(int fd);

// Raw 8N1 at `baud` (any rate), no echo, no line editing, reads return at once.
bool tty_set_raw(int fd, int baud);

// Changes only the rate, keeping every other setting.
bool tty_set_baud(int fd, int baud);

}  // namespace sim
