// Identification of the controller at an address, and what it leaves behind.
//
// identify_controller (an xMainForm operation, ops/identify.cpp) forgets the
// previous controller first -- its main settings copy, password state, cached
// admin password, active settings tabs -- then runs Identify, accepts only
// the supported device types, adopts the answering address after a
// broadcast, reads the text identifier, derives boot_mode from it and logs it
// converted from code page 866 to UTF-8.
#pragma once
#include <cstddef>
#include <cstdint>

#include "protocol/zove_device.h"

// Device types the tool works with (second byte of the identify reply).
constexpr uint8_t DEVICE_TYPE_PULSE = 0x23;  // '#'
constexpr uint8_t DEVICE_TYPE_MASS = 0x24;   // '$', has mass meters

// 1 while the identified controller runs its boot loader; changed only by an
// identification that read the text identifier.
extern int boot_mode;
// The last successful Identify reply: address, device type, third byte.
extern DeviceIdent last_ident;

// Room for the longest text identifier and its terminator, and for its UTF-8
// form (a code page 866 character becomes at most 3 bytes).
constexpr size_t TEXT_ID_SIZE = 129;
constexpr size_t TEXT_ID_UTF8_SIZE = 3 * TEXT_ID_SIZE + 1;

// Converts the NUL-terminated code page 866 text in to UTF-8 in out (always
// terminated, cut at a character boundary when out is too small). Uses
// glibc's iconv; without its converter, bytes above 0x7F become '?'.
void cp866_to_utf8(const char* in, char* out, size_t out_size);
