// Arbitrary serial rates (250000 and the like) through termios2 and BOTHER.
// <asm/termbits.h> redefines the termios structures of <termios.h>, so this
// code lives alone in its own translation unit and talks through plain ints.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "port/port_internal.h"

int serial_set_custom_baud(int fd, unsigned baud) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    // Same rate both ways: output in CBAUD, input in CIBAUD.
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &t) != 0) return errno;
    return 0;
}

int serial_get_baud(int fd, unsigned* baud) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    *baud = t.c_ospeed;
    return 0;
}
