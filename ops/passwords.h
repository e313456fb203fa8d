// The controller's two passwords as the tool sees them.
//
// The password state block (area 2, address 2, two bytes) is read by every
// settings read into password_flags / password_lock and shown on the "Main"
// tab. Protected writes first pass ensure_admin_access (an xMainForm
// operation, ops/passwords.cpp): with an admin password set it asks for it
// once, logs in by writing it to register 2 and keeps it in
// admin_password_cache until the next identification or refused login. A
// refused write is explained by query_last_error: short command 0xF0, a
// 16-byte reply whose byte 7 is the reason.
#pragma once
#include <cstdint>

extern uint8_t password_flags;   // bit 0 admin set, bit 1 calibration set
extern uint8_t password_lock;    // 0x07 all set: admin locked; 0x38: calibration locked
extern int32_t admin_password_cache;  // 0: none typed

constexpr uint8_t PW_ADMIN_SET = 0x01;
constexpr uint8_t PW_CAL_SET = 0x02;
constexpr uint8_t PW_ADMIN_LOCK = 0x07;
constexpr uint8_t PW_CAL_LOCK = 0x38;

constexpr uint8_t PW_AREA = 2;
constexpr uint32_t PW_REG_LOGIN = 0x02;
constexpr uint32_t PW_REG_ADMIN = 0x04;
constexpr uint32_t PW_REG_CAL = 0x05;

constexpr uint8_t CMD_LAST_ERROR = 0xF0;
constexpr uint8_t LAST_ERR_CONFIG_KEY = 0x58;   // 'X'
constexpr uint8_t LAST_ERR_WRONG_PW = 0x5B;     // '['
constexpr uint8_t LAST_ERR_LOCKED = 0x5C;       // '\'

// Colours of the password fields.
constexpr unsigned PW_COLOR_LOCKED = 88;
constexpr unsigned PW_COLOR_NORMAL = 49;

// Forgets everything known about the passwords (every identification).
void reset_password_state();
