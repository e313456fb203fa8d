// TCP client ports ("TCPC_<a.b.c.d>:<port>").
//
// Opening only prepares a socket; the first I/O call starts the connect and
// later calls finish it (state idle -> connect pending -> connected). A
// pending connect that neither completes nor fails within TCP_CONNECT_MS is
// abandoned and started again. Whenever the connection fails, or the peer
// closes it, the socket is replaced by a fresh one, so the following service
// steps connect again: a converter that restarts is picked up by itself.
//
// A write while the connect is still pending waits for it, bounded by
// TCP_WRITE_CONNECT_WAIT_MS, and then sends: otherwise the first request
// after opening the port would always be lost on a real network, where a
// connect takes tens of milliseconds. When the connect fails or the bound
// passes, the write is dropped and reported as 0.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "port/clock.h"
#include "port/port_internal.h"

namespace {

// Back to idle with a fresh socket; address and port are kept.
void reset_connection(PortRecord& r) {
    tcp_close_socket(r.os_handle);
    r.os_handle = tcp_socket();  // -1 if that failed: the next step tries again
    r.clients[0] = r.os_handle;
    r.connected = 0;
    r.connect_state = 0;
}

void start_connect(PortRecord& r) {
    if (r.os_handle < 0) {
        reset_connection(r);
        if (r.os_handle < 0) return;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = r.peer_addr;
    a.sin_port = htons(r.peer_port);
    if (connect(r.os_handle, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || errno == EISCONN) {
        r.connected = 1;
        r.connect_state = 0;
    } else if (errno == EINPROGRESS) {
        r.connect_state = 1;
        r.connect_deadline = uint16_t(Now16() + TCP_CONNECT_MS);
    } else {
        // Refused at once, unreachable, bad address: a fresh socket for the
        // next step's attempt (a socket whose connect failed is not reused).
        reset_connection(r);
    }
}

// Looks at a pending connect, waiting up to wait_ms for it to settle.
void check_pending(PortRecord& r, int wait_ms) {
    pollfd p{r.os_handle, POLLOUT, 0};
    int w = poll(&p, 1, wait_ms);
    if (w < 0) {
        if (errno != EINTR) reset_connection(r);
        return;
    }
    if (w == 0) {
        // Still pending. Past the connect deadline the attempt is given up;
        // a new socket is needed, since connecting again on this one would
        // only report that a connect is already under way.
        if (Deadline16Reached(r.connect_deadline)) reset_connection(r);
        return;
    }
    // Writable, or an error: a failed connect also wakes poll() up, so the
    // socket's error decides.
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(r.os_handle, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
        reset_connection(r);
        return;
    }
    r.connected = 1;
    r.connect_state = 0;
}

bool would_block(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }

}  // namespace

int tcp_client_open(PortRecord& r, const char* arg) {
    const char* colon = strchr(arg, ':');
    if (!colon) return -1;
    char addr[sizeof r.name];
    size_t len = size_t(colon - arg);
    memcpy(addr, arg, len);
    addr[len] = '\0';
    // A malformed address becomes 255.255.255.255: the connection simply
    // never comes up.
    r.peer_addr = inet_addr(addr);
    r.peer_port = tcp_parse_port(colon + 1);
    for (int& c : r.clients) c = -1;
    r.os_handle = tcp_socket();
    if (r.os_handle < 0) return -1;
    r.clients[0] = r.os_handle;
    r.connected = 0;
    r.connect_state = 0;
    return 0;
}

void tcp_client_close(PortRecord& r) {
    tcp_close_socket(r.os_handle);
    r.os_handle = -1;
    r.clients[0] = -1;
    r.connected = 0;
    r.connect_state = 0;
}

void tcp_client_service(PortRecord& r) {
    if (r.connected) return;
    if (r.connect_state == 0)
        start_connect(r);
    else
        check_pending(r, 0);
}

void tcp_client_poll(PortRecord& r) {
    if (!r.connected) return;
    if (ring_free(r) == 0) return;  // the rest stays queued in the kernel
    bool eof = false;
    int k = ring_fill_from_fd(r, r.os_handle, 1024, true, &eof);
    // A peer that closed will never send again: set up the next connect now
    // rather than wait for a send to fail.
    if (eof || (k < 0 && !would_block(errno))) reset_connection(r);
}

int tcp_client_write(PortRecord& r, const uint8_t* data, int n) {
    tcp_client_service(r);
    if (!r.connected && r.connect_state == 1) {
        const uint32_t start = port_monotonic_ms();
        while (!r.connected && r.connect_state == 1) {
            int left = TCP_WRITE_CONNECT_WAIT_MS - int(port_monotonic_ms() - start);
            if (left <= 0) break;
            check_pending(r, left);
        }
    }
    if (!r.connected) return 0;  // the data is dropped
    if (tcp_send_all(r.os_handle, data, n, TCP_SEND_WAIT_MS)) return 1;
    reset_connection(r);
    return 0;
}
