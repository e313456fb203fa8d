// Helpers for the port tests: a pty pair held by the test, loopback TCP
// endpoints on ports the system picks, and bounded waits for readiness.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "port/clock.h"
#include "port/port.h"

namespace porttest {

// Polls `cond` (every millisecond) until it holds or `limit_ms` of real time
// pass; generous limits keep this robust on a loaded machine.
inline bool wait_until(const std::function<bool()>& cond, int limit_ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Both ends of a fresh pty. The port under test opens `path` (the slave);
// the test talks through `master` and inspects the line through `slave`.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty() {
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            path = name;
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
            // The far end of the line should not echo or translate either.
            termios t;
            tcgetattr(slave, &t);
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
    }
    ~Pty() {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    void close_master() {
        close(master);
        master = -1;
    }
    // Writes everything from the far end (the pty buffer is large enough for
    // the sizes the tests use, but the loop tolerates a short write).
    bool send(const std::vector<uint8_t>& data) {
        size_t done = 0;
        return wait_until([&] {
            ssize_t k = write(master, data.data() + done, data.size() - done);
            if (k > 0) done += size_t(k);
            return done == data.size();
        });
    }
    // Collects n bytes from the far end.
    std::vector<uint8_t> receive(size_t n, int limit_ms = 5000) {
        std::vector<uint8_t> out;
        wait_until([&] {
            uint8_t buf[4096];
            ssize_t k = read(master, buf, std::min(sizeof buf, n - out.size()));
            if (k > 0) out.insert(out.end(), buf, buf + k);
            return out.size() >= n;
        }, limit_ms);
        return out;
    }
    int queued_at_slave() const {
        int q = 0;
        ioctl(slave, FIONREAD, &q);
        return q;
    }
};

inline std::vector<uint8_t> bytes(const char* s) {
    return std::vector<uint8_t>(s, s + strlen(s));
}

inline std::vector<uint8_t> pattern(size_t n, unsigned seed = 0) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t((i * 7 + seed + i / 251) & 0xff);
    return v;
}

// Reads n bytes from a port, waiting for them to arrive.
inline std::vector<uint8_t> port_take(PortHandle h, int n, int limit_ms = 5000) {
    std::vector<uint8_t> out(static_cast<size_t>(n));
    if (!wait_until([&] { return PortAvailable(h) >= n; }, limit_ms)) return {};
    if (PortRead(h, out.data(), n) != 1) return {};
    return out;
}

inline uint16_t local_port(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// A listening loopback socket on a port the system picks.
inline int tcp_listen(uint16_t port = 0) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A port number nothing listens on right now (bound, then released).
inline uint16_t free_tcp_port() {
    int fd = tcp_listen();
    uint16_t p = local_port(fd);
    close(fd);
    return p;
}

inline int tcp_connect(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Accepts one connection, waiting at most limit_ms.
inline int tcp_accept(int listen_fd, int limit_ms = 5000) {
    pollfd p{listen_fd, POLLIN, 0};
    if (poll(&p, 1, limit_ms) != 1) return -1;
    return accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
}

inline bool fd_send(int fd, const std::vector<uint8_t>& data) {
    return send(fd, data.data(), data.size(), MSG_NOSIGNAL) == ssize_t(data.size());
}

// Collects n bytes from a socket (blocking fd, bounded by poll).
inline std::vector<uint8_t> fd_receive(int fd, size_t n, int limit_ms = 5000) {
    std::vector<uint8_t> out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (out.size() < n) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           end - std::chrono::steady_clock::now()).count());
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) != 1) break;
        uint8_t buf[4096];
        ssize_t k = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (k <= 0) break;
        out.insert(out.end(), buf, buf + k);
    }
    return out;
}

// True once the peer has closed the connection (recv gives 0 or an error).
inline bool fd_sees_close(int fd, int limit_ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    for (;;) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           end - std::chrono::steady_clock::now()).count());
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) != 1) return false;
        uint8_t b[256];
        ssize_t k = recv(fd, b, sizeof b, MSG_DONTWAIT);
        if (k <= 0) return true;
    }
}

// Starts the clock and the table once for the whole test program.
class PortEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // A child started by the "table not initialised" test checks that
        // case before anything initialises the table, and ends there.
        if (getenv("VX_PORT_UNINIT_CHILD")) {
            PortHandle h = 0;
            int r = PortOpen(&h, "STUB");
            _exit(r == 9 && h == 0 ? 0 : 1);
        }
        ClockStart();
        PortTableInit();
    }
};

// Closes whatever a test opened, even when an assertion ended it early.
struct OpenPort {
    PortHandle h = 0;
    int result = -100;
    explicit OpenPort(const std::string& name) { result = PortOpen(&h, name.c_str()); }
    ~OpenPort() { PortClose(h); }
    OpenPort(const OpenPort&) = delete;
    OpenPort& operator=(const OpenPort&) = delete;
};

}  // namespace porttest
