// The settings editor (xMainForm operations in settings/editor.cpp) moves the
// main and extra settings blocks between the controller and the "Main
// settings" / "Extra settings" tabs: read_settings after an identification,
// show_* fills the form from the copies, parse_* rebuilds the records with
// every check in its order, write_* refuses unchanged writes, passes the
// admin password gate, writes, reports and re-reads.
#pragma once
#include <cstdint>

// The controller's mode byte (area 2, address 0x24; bit 6 = imitator), as
// last read by read_settings; 0 when that read failed.
extern uint8_t mode_byte;
constexpr uint8_t MODE_IMITATOR_BIT = 0x40;
