// Serial devices through termios.
//
// A device is opened non-blocking (so the open itself never waits for a
// carrier) and kept that way: reads take only what FIONREAD reports queued,
// writes wait with poll() for room, bounded like a write time-out of 20 ms
// plus 20 ms per byte, so a line nobody drains (a pty whose other end sleeps)
// cannot hang the caller. Exclusive use is TIOCEXCL plus flock(): TIOCEXCL
// does not stop a second program running as root, the lock does.
//
// A line that goes away (converter unplugged, the far end of a pty closed)
// leaves poll() reporting POLLHUP/POLLERR and reads failing; every operation
// then simply receives nothing, and the waits sleep out their time instead of
// spinning.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "port/clock.h"
#include "port/port_internal.h"

namespace {

struct SpeedEntry {
    int baud;
    speed_t code;
};

const SpeedEntry STANDARD_SPEEDS[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool standard_speed(int baud, speed_t* code) {
    for (const SpeedEntry& e : STANDARD_SPEEDS) {
        if (e.baud == baud) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

void close_device(int fd) {
    ioctl(fd, TIOCNXCL);  // the exclusive flag outlives our descriptor otherwise
    close(fd);
}

}  // namespace

int serial_open(PortRecord& r) {
    char path[sizeof r.name + 8];
    snprintf(path, sizeof path, r.name[0] == '/' ? "%s" : "/dev/%s", r.name);

    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;

    termios t;
    if (tcgetattr(fd, &t) != 0) {  // not a terminal device: refuse it
        int e = errno;
        close(fd);
        return e;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        int e = errno;
        close(fd);
        return e;
    }

    // Raw bytes, 4800 baud 8N1, receiver on, modem status lines ignored, no
    // flow control of either kind. Parity checking is on; it takes effect
    // once a parity is set.
    cfmakeraw(&t);
    t.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    t.c_iflag |= INPCK;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B4800);
    cfsetospeed(&t, B4800);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        int e = errno;
        close_device(fd);
        return e;
    }
    // DTR and RTS off, so an RS-485 converter switches direction by itself.
    // A pty has no modem lines and refuses this (ENOTTY): not an error.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);

    r.os_handle = fd;
    return 0;
}

void serial_close(PortRecord& r) {
    if (r.os_handle >= 0) close_device(r.os_handle);
    r.os_handle = -1;
}

int serial_set_line(PortRecord& r, int baud, uint8_t data_bits, char parity, uint8_t stop_bits) {
    if (baud < 0) return EINVAL;
    if (baud == 0) baud = 4800;
    termios old;
    if (tcgetattr(r.os_handle, &old) != 0) return errno;
    termios t = old;

    static const tcflag_t SIZES[] = {CS5, CS6, CS7, CS8};
    if (data_bits >= 5 && data_bits <= 8) {
        t.c_cflag &= ~tcflag_t(CSIZE);
        t.c_cflag |= SIZES[data_bits - 5];
    }
    if (stop_bits == 1) t.c_cflag &= ~tcflag_t(CSTOPB);
    if (stop_bits == 2) t.c_cflag |= CSTOPB;
    const tcflag_t PARITY_BITS = PARENB | PARODD | CMSPAR;
    switch (parity) {
        case 'N': t.c_cflag &= ~PARITY_BITS; break;
        case 'O': t.c_cflag = (t.c_cflag & ~PARITY_BITS) | PARENB | PARODD; break;
        case 'E': t.c_cflag = (t.c_cflag & ~PARITY_BITS) | PARENB; break;
        case 'M': t.c_cflag = (t.c_cflag & ~PARITY_BITS) | PARENB | CMSPAR | PARODD; break;
        case 'S':
        case 'Z': t.c_cflag = (t.c_cflag & ~PARITY_BITS) | PARENB | CMSPAR; break;
        default: break;  // unknown letter: parity stays as it was
    }

    speed_t code;
    bool standard = standard_speed(baud, &code);
    if (standard) {
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    }
    // For a non-standard rate the framing goes in first with the speed bits
    // as they were; termios2 then sets the rate itself.
    if (tcsetattr(r.os_handle, TCSANOW, &t) != 0) return errno;
    if (!standard) {
        int e = serial_set_custom_baud(r.os_handle, unsigned(baud));
        if (e != 0) {
            tcsetattr(r.os_handle, TCSANOW, &old);  // the previous state stays in force
            return e;
        }
    }
    return 0;
}

void serial_poll(PortRecord& r) {
    int queued = 0;
    if (ioctl(r.os_handle, FIONREAD, &queued) != 0 || queued <= 0) return;
    bool eof;
    ring_fill_from_fd(r, r.os_handle, queued, false, &eof);
}

void serial_write(PortRecord& r, const uint8_t* data, int n) {
    const uint64_t bound = 20 + 20 * uint64_t(n);
    const uint32_t start = port_monotonic_ms();
    int sent = 0;
    while (sent < n) {
        ssize_t k = write(r.os_handle, data + sent, size_t(n - sent));
        if (k > 0) {
            sent += int(k);
            continue;
        }
        if (k < 0 && errno == EINTR) continue;
        if (k < 0 && errno != EAGAIN) return;  // line gone (EIO) or similar
        uint64_t elapsed = uint32_t(port_monotonic_ms() - start);
        if (elapsed >= bound) return;
        uint64_t left = bound - elapsed;
        pollfd p{r.os_handle, POLLOUT, 0};
        int w = poll(&p, 1, left > 60000 ? 60000 : int(left));
        if (w < 0 && errno != EINTR) return;
        if (w > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return;
    }
}

void serial_purge(PortRecord& r) {
    tcflush(r.os_handle, TCIFLUSH);
    // Whatever slipped past the flush (bytes still on their way from the
    // driver) is read and dropped; bounded, since a line that keeps talking
    // would otherwise keep us here.
    uint8_t scratch[1024];
    for (int i = 0; i < 64; ++i) {
        ssize_t k = read(r.os_handle, scratch, sizeof scratch);
        if (k <= 0) break;
    }
}

void serial_wait_for(PortRecord& r, int n, uint32_t ms) {
    const uint32_t start = port_monotonic_ms();
    bool woke = false;
    for (;;) {
        int before = ring_count(r);
        serial_poll(r);
        if (ring_count(r) >= n) return;
        uint32_t elapsed = port_monotonic_ms() - start;
        if (elapsed >= ms) return;
        uint32_t left = ms - elapsed;
        if (woke && ring_count(r) == before) {
            // poll() said "ready" but nothing came: the line went away (or
            // the ring is full). Behave like a silent line until the time is
            // up rather than spin on poll().
            SleepMs(left);
            serial_poll(r);
            return;
        }
        pollfd p{r.os_handle, POLLIN, 0};
        int w = poll(&p, 1, int(left > 60000 ? 60000 : left));
        woke = w > 0 || (w < 0 && errno != EINTR);
    }
}

int serial_tx_empty(PortRecord& r) {
    int queued = 0;
    // A device that cannot answer (gone) counts as empty, so callers that
    // wait for the transmitter to drain do not wait forever.
    if (ioctl(r.os_handle, TIOCOUTQ, &queued) != 0) return 1;
    return queued == 0 ? 1 : 0;
}
