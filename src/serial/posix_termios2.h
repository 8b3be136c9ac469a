// Line settings through the kernel's termios2 interface, which takes any baud
// rate (BOTHER), not only the ones with a B-constant. Kept apart because the
// kernel header that defines termios2 clashes with <termios.h>.
#pragma once

#include <cstdint>

struct SerialLineInfo {
    unsigned input_speed = 0;
    unsigned output_speed = 0;
    int data_bits = 0;
    bool parity = false;
    bool two_stop_bits = false;
    bool rts_cts = false;
    bool xon_xoff_out = false;
    bool xon_xoff_in = false;
    bool raw = false;       // no canonical mode, echo, signals or byte translation
    bool receiver_on = false;
    bool ignore_modem_status = false;
    unsigned char vmin = 0;
    unsigned char vtime = 0;
};

// Sets raw 8N1 without flow control at `baud` (both directions). Returns 0 or
// an errno value. `actual_baud` receives the rate the driver reports back,
// which a real UART may round to what its divider can make.
int termios2_set_raw_8n1(int fd, unsigned baud, unsigned& actual_baud);

// Opaque copy of the whole termios2 block, to put a device back as it was.
struct Termios2Saved {
    alignas(8) unsigned char bytes[64];
};
int termios2_save(int fd, Termios2Saved& saved);
int termios2_restore(int fd, const Termios2Saved& saved);

// Reads the settings of a tty. On a pseudo-terminal master this reports the
// slave's settings, custom rates included.
int termios2_read_line_info(int fd, SerialLineInfo& info);
