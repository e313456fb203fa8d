// The table of open ports, addressed by small handles, and their
// non-blocking byte I/O. A port is chosen by name:
//   "STUB"            null port: writes are dropped, nothing is received
//   "TCPS_<port>"     TCP server; accepted clients share one receive stream
//   "TCPC_<ip>:<port>" TCP client, connected lazily and re-established
//   anything else     a serial device ("/dev/NAME", or the path itself when
//                     it begins with '/')
// Received bytes of every kind land in the port's receive ring, so callers
// see one uniform byte stream. Every operation accepts handle 0 and then does
// nothing. Results are plain integers; nothing here throws or blocks for long.
#pragma once
#include <cstdint>

using PortHandle = uint16_t;

enum PortKind : uint8_t {
    PORT_SERIAL = 0,
    PORT_STUB = 3,
    PORT_TCP_SERVER = 4,
    PORT_TCP_CLIENT = 6,
};

constexpr int PORT_SLOTS = 32;
constexpr int PORT_RING_SIZE = 10000;
constexpr int TCP_CLIENT_SLOTS = 16;
constexpr int PORT_LIST_SIZE = 16;
constexpr int PORT_NAME_LEN = 20;

extern char PortList[PORT_LIST_SIZE][PORT_NAME_LEN];
extern int PortCount;

void PortTableInit();
// 0 on success with *handle set; 1 table full, 3 empty name, 9 table not
// initialised, -1 TCP set-up failed, other values: errno of a serial open.
int PortOpen(PortHandle* handle, const char* name);
int PortClose(PortHandle handle);
// 0 on success, 2 for handle 0, otherwise errno.
int PortSetLine(PortHandle handle, int baud, uint8_t data_bits, char parity, uint8_t stop_bits);
int PortEnumerate();

// Bytes waiting in the ring (0..PORT_RING_SIZE-1) after one service and
// poll step. A full ring takes nothing more from the system: further bytes
// wait in the system's own queue until a reader makes room.
int PortAvailable(PortHandle handle);
// 1 and exactly n bytes in arrival order when at least n wait; otherwise 0
// and nothing is consumed.
int PortRead(PortHandle handle, void* dest, int n);
// 1 when handed to the port. A serial write always reports 1 (a failed one
// shows up as a missing reply). A TCP client port whose connect is still
// pending waits up to 500 ms for it; when not connected the data is dropped
// and 0 returned.
int PortWrite(PortHandle handle, const void* data, int n);
// Drops the ring and, on a serial port, what the system had queued.
void PortPurge(PortHandle handle);
// Waits up to ms for n bytes; non-zero (n) when they were delivered. On a
// time-out it returns 0 and every byte that did arrive stays in the ring for
// the next PortRead.
int PortReadTimeout(PortHandle handle, void* dest, int n, uint32_t ms);
// 1 = one byte delivered, 0 = time-out (ms at most 32767), -1 = no port or STUB.
int PortReadByte(PortHandle handle, uint8_t* dest, uint32_t ms);
// 1 when everything written has left a serial port; always 1 otherwise.
int PortTxEmpty(PortHandle handle);

// The local TCP port a TCPS_ port listens on (useful with "TCPS_0", where the
// system picks one); 0 for any other kind of port.
uint16_t PortTcpLocalPort(PortHandle handle);

// Test seam: the directory PortEnumerate reads the serial devices from
// (default "/sys/class/tty"). nullptr restores the default.
void PortSetSysfsRoot(const char* path);
