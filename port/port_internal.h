// Internals of the port table shared by the per-transport files.
//
// port_table.cpp owns the static table of PORT_SLOTS records and the receive
// rings, parses names, and dispatches every public operation on the record's
// kind once. serial.cpp, tcp_server.cpp and tcp_client.cpp implement the
// transports against a PortRecord; serial_baud.cpp holds the termios2 code
// for rates termios cannot express (its header cannot share a translation
// unit with <termios.h>).
//
// The receive ring never overflows: a transport asks ring_free() first and
// takes at most that many bytes from the operating system, so bytes that do
// not fit stay queued in the kernel (policy "refuse new": nothing already
// received is ever overwritten, and nothing is lost while the kernel can
// still hold it). The ring stores at most PORT_RING_SIZE - 1 bytes, so
// head == tail always means empty.
#pragma once
#include <cstdint>

#include "port/port.h"

struct PortRecord {
    char name[100];                 // as opened, NUL-terminated
    int os_handle;                  // device fd, listening socket or connection socket
    uint8_t* ring;                  // PORT_RING_SIZE bytes while in use
    uint32_t in_use;
    uint16_t head;                  // next byte is stored here
    uint16_t tail;                  // next byte handed to a reader
    uint16_t connect_deadline;      // Tick16 deadline of a pending client connect
    PortKind kind;
    int clients[TCP_CLIENT_SLOTS];  // server: accepted clients; client: [0] = os_handle
    uint32_t client_deadline[TCP_CLIENT_SLOTS];  // server: TickMs idle deadlines
    uint32_t connected;             // client: 1 once established
    uint32_t connect_state;         // client: 0 idle, 1 connect pending
    uint32_t peer_addr;             // client: IPv4, network byte order
    uint16_t peer_port;             // client: host byte order
    uint32_t client_ready;          // server: bit i = client i has input or an error (last service step)
};

constexpr uint32_t TCP_IDLE_MS = 60000;
constexpr uint16_t TCP_CONNECT_MS = 10000;
// A write on a client port whose connect is still pending waits at most this
// long for the connection to come up (the first request after opening).
constexpr int TCP_WRITE_CONNECT_WAIT_MS = 500;
// Upper bound for handing one buffer to a socket whose send buffer is full.
constexpr int TCP_SEND_WAIT_MS = 1000;

// The record behind a handle, or nullptr for 0, out of range or free.
PortRecord* port_record(PortHandle handle);

// --- ring -------------------------------------------------------------------
inline int ring_count(const PortRecord& r) {
    int n = int(r.head) - int(r.tail);
    return n < 0 ? n + PORT_RING_SIZE : n;
}
inline int ring_free(const PortRecord& r) { return PORT_RING_SIZE - 1 - ring_count(r); }
// Contiguous room at the head (at most ring_free()).
int ring_contig_free(const PortRecord& r);
// Advances the head after n bytes were stored at ring + head (n <= contig).
void ring_commit(PortRecord& r, int n);
// Appends up to n bytes, returns how many fit.
int ring_append(PortRecord& r, const uint8_t* data, int n);
// Moves exactly n bytes (n <= ring_count) to dest.
void ring_take(PortRecord& r, uint8_t* dest, int n);

// Reads from a non-blocking fd straight into the ring, at most `limit` bytes
// and never more than fits. Returns bytes stored, 0 when nothing came, or the
// negative result of the failing read/recv (errno in errno); `eof` is set
// when the read reported end of stream.
int ring_fill_from_fd(PortRecord& r, int fd, int limit, bool is_socket, bool* eof);

// atoi without its undefined behaviour on overflow: digits wrap modulo 2^32.
int port_atoi(const char* text);

// Milliseconds of CLOCK_MONOTONIC, for the few real waits (poll time-outs)
// that must stay bounded even when the shared clock is driven by a test.
uint32_t port_monotonic_ms();

// --- serial (serial.cpp, serial_baud.cpp) -------------------------------------
int serial_open(PortRecord& r);  // 0 or errno
void serial_close(PortRecord& r);
int serial_set_line(PortRecord& r, int baud, uint8_t data_bits, char parity, uint8_t stop_bits);
void serial_poll(PortRecord& r);
void serial_write(PortRecord& r, const uint8_t* data, int n);
void serial_purge(PortRecord& r);
// Waits up to ms (real time) until the ring holds at least n bytes.
void serial_wait_for(PortRecord& r, int n, uint32_t ms);
int serial_tx_empty(PortRecord& r);

// termios2: sets an arbitrary rate on both directions; 0 or errno.
int serial_set_custom_baud(int fd, unsigned baud);
// Reads the output rate back through termios2; 0 or errno.
int serial_get_baud(int fd, unsigned* baud);

// --- TCP (tcp_server.cpp, tcp_client.cpp) --------------------------------------
// Common socket set-up: IPv4 stream, non-blocking, close-on-exec,
// SO_KEEPALIVE and TCP_NODELAY. Returns the fd or -1.
int tcp_socket();
void tcp_close_socket(int fd);  // shutdown both ways, close
// The decimal text of a port number as atoi reads it, cut to 16 bits.
uint16_t tcp_parse_port(const char* text);
// Sends the whole buffer (MSG_NOSIGNAL), waiting at most `wait_ms` while the
// send buffer is full. 1 when everything was handed over, 0 otherwise.
int tcp_send_all(int fd, const uint8_t* data, int n, int wait_ms);

int tcp_server_open(PortRecord& r, const char* arg);  // 0 or -1
void tcp_server_close(PortRecord& r);
void tcp_server_service(PortRecord& r);
void tcp_server_poll(PortRecord& r);
int tcp_server_write(PortRecord& r, const uint8_t* data, int n);
uint16_t tcp_server_local_port(const PortRecord& r);

int tcp_client_open(PortRecord& r, const char* arg);  // 0 or -1
void tcp_client_close(PortRecord& r);
void tcp_client_service(PortRecord& r);
void tcp_client_poll(PortRecord& r);
int tcp_client_write(PortRecord& r, const uint8_t* data, int n);
