#include "pty_termios.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace sim {

int tty_get_baud(int fd) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return 0;
    return int(t.c_ospeed);
}

static void put_rate(struct termios2& t, int baud) {
    t.c_cflag &= ~(CBAUD | CIBAUD);
    t.c_cflag |= BOTHER;
    t.c_ispeed = unsigned(baud);
    t.c_ospeed = unsigned(baud);
}

bool tty_set_raw(int fd, int baud) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    put_rate(t, baud);
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool tty_set_baud(int fd, int baud) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    put_rate(t, baud);
    return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace sim
