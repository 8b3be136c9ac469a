#include "serial/posix_termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <errno.h>
#include <string.h>
#include <sys/ioctl.h>

static_assert(sizeof(struct termios2) <= sizeof(Termios2Saved::bytes), "termios2 block does not fit");

int termios2_set_raw_8n1(int fd, unsigned baud, unsigned& actual_baud) {
    actual_baud = 0;
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;

    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK |
                   IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    // CLOCAL: reads and writes must not depend on a carrier the bridge never raises.
    t.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    // Reads never block in the kernel; the device waits with poll() itself.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &t) != 0) return errno;

    struct termios2 back;
    if (ioctl(fd, TCGETS2, &back) != 0) return errno;
    actual_baud = back.c_ospeed;
    return 0;
}

int termios2_save(int fd, Termios2Saved& saved) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    memcpy(saved.bytes, &t, sizeof t);
    return 0;
}

int termios2_restore(int fd, const Termios2Saved& saved) {
    struct termios2 t;
    memcpy(&t, saved.bytes, sizeof t);
    return ioctl(fd, TCSETS2, &t) != 0 ? errno : 0;
}

int termios2_read_line_info(int fd, SerialLineInfo& info) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    info.input_speed = t.c_ispeed;
    info.output_speed = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: info.data_bits = 5; break;
    case CS6: info.data_bits = 6; break;
    case CS7: info.data_bits = 7; break;
    default: info.data_bits = 8; break;
    }
    info.parity = (t.c_cflag & PARENB) != 0;
    info.two_stop_bits = (t.c_cflag & CSTOPB) != 0;
    info.rts_cts = (t.c_cflag & CRTSCTS) != 0;
    info.xon_xoff_out = (t.c_iflag & IXON) != 0;
    info.xon_xoff_in = (t.c_iflag & IXOFF) != 0;
    info.raw = (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 && (t.c_oflag & OPOST) == 0 &&
               (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) == 0;
    info.receiver_on = (t.c_cflag & CREAD) != 0;
    info.ignore_modem_status = (t.c_cflag & CLOCAL) != 0;
    info.vmin = t.c_cc[VMIN];
    info.vtime = t.c_cc[VTIME];
    return 0;
}
