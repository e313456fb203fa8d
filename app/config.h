// The one connection's settings and the one-line configuration file
// vantorix_v3.ini in the current directory:
//   "%s %d %d %c %d %d"  port name, baud, data bits, parity, stop bits, max baud
// with no newline. The pump address is asked at every start and never stored.
#pragma once
#include <cstdint>

struct ConnectionSettings {
    char port_name[100];
    int32_t baud_rate;
    int data_bits;
    char parity;
    int stop_bits;
    int32_t max_baud_rate;
    uint8_t pump_address;
};

extern ConnectionSettings connection_settings;

constexpr const char* CONFIG_FILE_NAME = "vantorix_v3.ini";

// Sets every field but the port name and the pump address to its default,
// then reads the file's first line field by field up to the first field that
// is missing or unreadable. Returns 1 when the file was read, -1 when it
// cannot be opened.
int load_config();

// Writes the settings. The line goes to a temporary file beside the real one
// and is renamed over it, so a crash or a full disk never leaves the old file
// empty or half-written. Returns 1, or -1 when the file cannot be written.
int save_config();
