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

int PortAvailable(PortHandle handle);
int PortRead(PortHandle handle, void* dest, int n);
int PortWrite(PortHandle handle, const void* data, int n);
void PortPurge(PortHandle handle);
int PortReadTimeout(PortHandle handle, void* dest, int n, uint32_t ms);
int PortReadByte(PortHandle handle, uint8_t* dest, uint32_t ms);
int PortTxEmpty(PortHandle handle);

// The local TCP port a TCPS_ port listens on (useful with "TCPS_0", where the
// system picks one); 0 for any other kind of port.
uint16_t PortTcpLocalPort(PortHandle handle);

// Test seam: the directory PortEnumerate reads the serial devices from
// (default "/sys/class/tty"). nullptr restores the default.
void PortSetSysfsRoot(const char* path);
