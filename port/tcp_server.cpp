// TCP server ports ("TCPS_<port>"), plus the socket helpers both TCP kinds
// share.
//
// The listening socket is non-blocking; every I/O call first runs the
// service step (drop clients idle for TCP_IDLE_MS, accept at most one new
// client into the lowest free slot) and then reads each client in slot
// order straight into the one receive ring, so the bytes of all clients merge
// client by client. With all TCP_CLIENT_SLOTS taken nobody is accepted and
// further connections wait in the listen queue.
//
// One poll() over the listening socket and the clients finds which of them
// need attention; only those are read, with one recv() each rather than
// FIONREAD first: a recv() of 0 tells that the peer closed, which FIONREAD
// never does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "port/clock.h"
#include "port/port_internal.h"

namespace {

void set_stream_options(int fd) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void drop_client(PortRecord& r, int slot) {
    tcp_close_socket(r.clients[slot]);
    r.clients[slot] = -1;
}

bool would_block(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }

}  // namespace

uint16_t tcp_parse_port(const char* s) { return uint16_t(port_atoi(s)); }

int tcp_socket() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void tcp_close_socket(int fd) {
    if (fd < 0) return;
    shutdown(fd, SHUT_RDWR);
    close(fd);
}

int tcp_send_all(int fd, const uint8_t* data, int n, int wait_ms) {
    const uint32_t start = port_monotonic_ms();
    int sent = 0;
    while (sent < n) {
        // MSG_NOSIGNAL: a peer that went away must not raise SIGPIPE.
        ssize_t k = send(fd, data + sent, size_t(n - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k > 0) {
            sent += int(k);
            continue;
        }
        if (k < 0 && errno == EINTR) continue;
        if (k == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return 0;
        int elapsed = int(port_monotonic_ms() - start);
        if (elapsed >= wait_ms) return 0;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, wait_ms - elapsed) < 0 && errno != EINTR) return 0;
    }
    return 1;
}

int tcp_server_open(PortRecord& r, const char* arg) {
    for (int& c : r.clients) c = -1;
    int fd = tcp_socket();
    if (fd < 0) return -1;
    // Closing the port and opening it again at once must work, even with
    // old connections still in TIME_WAIT.
    int on = 1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(tcp_parse_port(arg));
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 5) != 0) {
        close(fd);
        return -1;
    }
    r.os_handle = fd;
    return 0;
}

void tcp_server_close(PortRecord& r) {
    for (int i = 0; i < TCP_CLIENT_SLOTS; ++i)
        if (r.clients[i] >= 0) drop_client(r, i);
    tcp_close_socket(r.os_handle);
    r.os_handle = -1;
}

void tcp_server_service(PortRecord& r) {
    int free_slot = -1;
    for (int i = 0; i < TCP_CLIENT_SLOTS; ++i) {
        if (r.clients[i] >= 0 && DeadlineReached(r.client_deadline[i])) drop_client(r, i);
        if (r.clients[i] < 0 && free_slot < 0) free_slot = i;
    }
    // One poll() tells which clients have input (or went away) and whether a
    // connection waits, so an idle port costs a single system call.
    pollfd fds[TCP_CLIENT_SLOTS + 1];
    int slot_of[TCP_CLIENT_SLOTS + 1];
    int n = 0;
    if (free_slot >= 0) {
        fds[n] = pollfd{r.os_handle, POLLIN, 0};
        slot_of[n++] = -1;
    }
    for (int i = 0; i < TCP_CLIENT_SLOTS; ++i) {
        if (r.clients[i] < 0) continue;
        fds[n] = pollfd{r.clients[i], POLLIN, 0};
        slot_of[n++] = i;
    }
    r.client_ready = 0;
    if (n == 0) return;
    int k = poll(fds, nfds_t(n), 0);
    if (k < 0) {
        r.client_ready = ~0u;  // cannot tell: let the poll step try every client
        return;
    }
    bool pending_connection = false;
    for (int j = 0; j < n && k > 0; ++j) {
        if (fds[j].revents == 0) continue;
        if (slot_of[j] < 0)
            pending_connection = true;
        else
            r.client_ready |= 1u << slot_of[j];
    }
    if (!pending_connection) return;
    // At most one client per step, into the lowest free slot.
    int c = accept4(r.os_handle, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c < 0) return;  // the connection died in the queue
    set_stream_options(c);
    r.clients[free_slot] = c;
    r.client_deadline[free_slot] = NowMs() + TCP_IDLE_MS;
    r.client_ready |= 1u << free_slot;  // it may have sent already: read it in this pass
}

void tcp_server_poll(PortRecord& r) {
    for (int i = 0; i < TCP_CLIENT_SLOTS; ++i) {
        if (r.clients[i] < 0 || !(r.client_ready & (1u << i))) continue;
        if (ring_free(r) == 0) return;  // the rest stays queued in the kernel
        bool eof = false;
        int k = ring_fill_from_fd(r, r.clients[i], INT_MAX, true, &eof);
        if (k > 0) r.client_deadline[i] = NowMs() + TCP_IDLE_MS;
        if (eof || (k < 0 && !would_block(errno))) drop_client(r, i);
    }
}

int tcp_server_write(PortRecord& r, const uint8_t* data, int n) {
    tcp_server_service(r);
    for (int i = 0; i < TCP_CLIENT_SLOTS; ++i) {
        if (r.clients[i] < 0) continue;
        if (!tcp_send_all(r.clients[i], data, n, TCP_SEND_WAIT_MS)) {
            // The failing client goes; the clients after it get nothing.
            drop_client(r, i);
            return 0;
        }
        r.client_deadline[i] = NowMs() + TCP_IDLE_MS;
    }
    return 1;
}

uint16_t tcp_server_local_port(const PortRecord& r) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(r.os_handle, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}
