// The controller's settings blocks as exact byte images, and the pure
// conversions between their fields and the texts of the settings forms.
//
// Each record is a packed struct whose bytes are the block as it travels on
// the wire: no padding, multi-byte fields little-endian (the host is checked
// to be little-endian), several 16-bit fields at odd offsets. Members are
// read and written by name only (the compiler then emits unaligned-safe
// accesses); never take the address of a multi-byte member or bind a
// reference to it (test macros do: compare a copy). Whole records
// are copied and compared with memcpy/memcmp. Generic access by offset (the
// key tables of the image files) goes through key_get/key_set, which
// assemble the bytes one by one.
//
// Nothing here touches the GUI toolkit; block transfers go through the one
// ZOVEDevice of the caller.
#pragma once
#include <cstddef>
#include <cstdint>

#include "protocol/zove_device.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the records are byte images of little-endian blocks");

#pragma pack(push, 1)

struct MainSettings {
    uint16_t baud_main;      // primary channel baud / 100
    uint8_t marker;          // 0x22 whenever the tool builds the block
    uint8_t side_a_addr;
    uint8_t side_b_addr;
    uint16_t sat_channel;    // four 4-bit channels, 15 = not assigned
    uint16_t baud_periph;    // peripheral channel baud / 100
    uint8_t side_count;
    uint8_t noz_count;
    uint8_t zivu_addr[12];   // 2n: side A nozzle n, 2n + 1: side B nozzle n
    uint8_t reserved_23;
    uint8_t reserved_24;
    uint8_t slow_start;      // x100; 255 immediate start, 0 = 20 ml start
    uint8_t slow_load;       // x100
    uint8_t nozzle_fat;      // x10
    uint8_t met_timeout;
    uint8_t nozzle_wait;
    uint16_t trk_modes;
    uint16_t trk_modes2;
    uint8_t tbl_type[2];     // display type codes, 255 = none chosen
    uint8_t min_speed;
    uint8_t min_sp_time;
    uint8_t hydro_hit;       // x10; 255 no counting, 254 count for 3 s
    uint8_t pc_timeout;
    uint8_t shim_duration;
    uint8_t min_vol;         // x100
    uint8_t st_wait_force;
    uint8_t valve_delay;
    uint8_t pb_timeout;
    uint8_t reserved_45;
    uint32_t bmu_p_user[4];
    uint32_t bmu_p_adm;
    uint16_t tbl_dot_flags;  // bits 1..2 price dot, 3..5 shift, 6 volume dot
};

struct ExtraSettings {
    uint32_t dens_mult;
    uint16_t mass_mult;
    uint16_t temp_mult;
    uint16_t mass_flags;      // bits 0..5 options, 13..15 mass meter type
    uint16_t fail_pressure;   // tenths
    uint8_t fail_flow;
    uint8_t smart_fill_pressure;
    uint8_t smart_fill_tmt;
    uint8_t pressure_max;
    uint16_t density_manual;  // ten-thousandths
    uint16_t finish_pressure; // tenths
    uint16_t fall_pressure;   // tenths
    uint16_t pressure_offset; // shown in hex
    uint16_t pressure_top;    // shown in hex
    uint16_t line_max_flow[3];
    uint16_t vol_mult;
    uint8_t line_min_flow[3];
    uint8_t line_min_tmt[3];  // tenths
    uint8_t w_ip[4];
    uint8_t w_mask[4];
    uint8_t w_gw[4];
    uint16_t w_port;
    uint16_t reserved_54;
    int16_t heater_on;        // signed tenths of a degree
    int16_t heater_off;
};

struct MeterRecord {
    uint32_t coef_frac;       // fractional part, units of 2^-32
    uint8_t reserved_4[4];
    uint16_t meter_type;      // twice the value shown
    uint8_t phase;            // 0 "Phase 1", 1 "Phase 1+2", 2 "Phase 2"
    uint8_t coef_int;
    uint16_t cal_count;
    uint8_t reserved_14;
};

struct SideRecord {
    uint8_t active_nozzle;
    uint16_t cal_count;
    uint8_t cal_date[3];
    uint32_t delivery_count;
    uint16_t reserved_10;
    uint16_t wrong_clear_count;
};

struct ServiceCounts {
    uint16_t factory_clear_count;
    uint16_t reprogram_count;
};

struct PressureReadings {
    uint16_t raw[2];
};

#pragma pack(pop)

#define VX_AT(T, f, off) static_assert(offsetof(T, f) == (off), #T "." #f)
static_assert(sizeof(MainSettings) == 68, "MainSettings");
VX_AT(MainSettings, baud_main, 0);     VX_AT(MainSettings, marker, 2);
VX_AT(MainSettings, side_a_addr, 3);   VX_AT(MainSettings, side_b_addr, 4);
VX_AT(MainSettings, sat_channel, 5);   VX_AT(MainSettings, baud_periph, 7);
VX_AT(MainSettings, side_count, 9);    VX_AT(MainSettings, noz_count, 10);
VX_AT(MainSettings, zivu_addr, 11);    VX_AT(MainSettings, reserved_23, 23);
VX_AT(MainSettings, reserved_24, 24);  VX_AT(MainSettings, slow_start, 25);
VX_AT(MainSettings, slow_load, 26);    VX_AT(MainSettings, nozzle_fat, 27);
VX_AT(MainSettings, met_timeout, 28);  VX_AT(MainSettings, nozzle_wait, 29);
VX_AT(MainSettings, trk_modes, 30);    VX_AT(MainSettings, trk_modes2, 32);
VX_AT(MainSettings, tbl_type, 34);     VX_AT(MainSettings, min_speed, 36);
VX_AT(MainSettings, min_sp_time, 37);  VX_AT(MainSettings, hydro_hit, 38);
VX_AT(MainSettings, pc_timeout, 39);   VX_AT(MainSettings, shim_duration, 40);
VX_AT(MainSettings, min_vol, 41);      VX_AT(MainSettings, st_wait_force, 42);
VX_AT(MainSettings, valve_delay, 43);  VX_AT(MainSettings, pb_timeout, 44);
VX_AT(MainSettings, reserved_45, 45);  VX_AT(MainSettings, bmu_p_user, 46);
VX_AT(MainSettings, bmu_p_adm, 62);    VX_AT(MainSettings, tbl_dot_flags, 66);

static_assert(sizeof(ExtraSettings) == 60, "ExtraSettings");
VX_AT(ExtraSettings, dens_mult, 0);          VX_AT(ExtraSettings, mass_mult, 4);
VX_AT(ExtraSettings, temp_mult, 6);          VX_AT(ExtraSettings, mass_flags, 8);
VX_AT(ExtraSettings, fail_pressure, 10);     VX_AT(ExtraSettings, fail_flow, 12);
VX_AT(ExtraSettings, smart_fill_pressure, 13); VX_AT(ExtraSettings, smart_fill_tmt, 14);
VX_AT(ExtraSettings, pressure_max, 15);      VX_AT(ExtraSettings, density_manual, 16);
VX_AT(ExtraSettings, finish_pressure, 18);   VX_AT(ExtraSettings, fall_pressure, 20);
VX_AT(ExtraSettings, pressure_offset, 22);   VX_AT(ExtraSettings, pressure_top, 24);
VX_AT(ExtraSettings, line_max_flow, 26);     VX_AT(ExtraSettings, vol_mult, 32);
VX_AT(ExtraSettings, line_min_flow, 34);     VX_AT(ExtraSettings, line_min_tmt, 37);
VX_AT(ExtraSettings, w_ip, 40);              VX_AT(ExtraSettings, w_mask, 44);
VX_AT(ExtraSettings, w_gw, 48);              VX_AT(ExtraSettings, w_port, 52);
VX_AT(ExtraSettings, reserved_54, 54);       VX_AT(ExtraSettings, heater_on, 56);
VX_AT(ExtraSettings, heater_off, 58);

static_assert(sizeof(MeterRecord) == 15, "MeterRecord");
VX_AT(MeterRecord, coef_frac, 0);   VX_AT(MeterRecord, reserved_4, 4);
VX_AT(MeterRecord, meter_type, 8);  VX_AT(MeterRecord, phase, 10);
VX_AT(MeterRecord, coef_int, 11);   VX_AT(MeterRecord, cal_count, 12);
VX_AT(MeterRecord, reserved_14, 14);

static_assert(sizeof(SideRecord) == 14, "SideRecord");
VX_AT(SideRecord, active_nozzle, 0);   VX_AT(SideRecord, cal_count, 1);
VX_AT(SideRecord, cal_date, 3);        VX_AT(SideRecord, delivery_count, 6);
VX_AT(SideRecord, reserved_10, 10);    VX_AT(SideRecord, wrong_clear_count, 12);

static_assert(sizeof(ServiceCounts) == 4, "ServiceCounts");
VX_AT(ServiceCounts, reprogram_count, 2);
static_assert(sizeof(PressureReadings) == 4, "PressureReadings");
#undef VX_AT

// --- blocks in controller memory ------------------------------------------
struct SettingsBlock {
    uint8_t area;
    uint32_t address;
    uint8_t size;        // bytes of the whole block (variable blocks: per meter)
    uint8_t check_mode;  // memory-read check mode (2 = Crc32Words, 0 = none)
};

constexpr SettingsBlock BLOCK_MAIN{0, 0x3101, 68, 2};
constexpr SettingsBlock BLOCK_EXTRA{0, 0x5000, 60, 2};
constexpr SettingsBlock BLOCK_METER{0, 0x1000, 15, 2};    // + 0x100 x meter index
constexpr SettingsBlock BLOCK_SIDE{0, 0x4000, 14, 2};     // + 0x100 x side
constexpr SettingsBlock BLOCK_PHASES{0, 0x0000, 1, 2};    // write only: 1 byte per meter
constexpr SettingsBlock BLOCK_TYPES{0, 0x0010, 2, 2};     // write only: u16 per meter
constexpr SettingsBlock BLOCK_SERVICE_COUNTS{2, 0x0004, 4, 2};
constexpr SettingsBlock BLOCK_PRESSURE{2, 0x0030, 4, 2};
constexpr SettingsBlock BLOCK_PASSWORD_STATE{2, 0x0002, 2, 0};
constexpr SettingsBlock BLOCK_MODE_BYTE{2, 0x0024, 1, 0};

constexpr int METER_RECORD_COUNT = 10;
constexpr int SIDE_RECORD_COUNT = 2;
constexpr int NOZZLES_MAX = 5;

inline SettingsBlock meter_block(int meter) {
    SettingsBlock b = BLOCK_METER;
    b.address += 0x100u * uint32_t(meter);
    return b;
}
inline SettingsBlock side_block(int side) {
    SettingsBlock b = BLOCK_SIDE;
    b.address += 0x100u * uint32_t(side);
    return b;
}
// Meter index of nozzle n (0-based) of side s (0 = A, 1 = B).
inline int meter_index(int nozzle, int side) { return 2 * nozzle + side; }

// Reads block b whole into dest (b.size bytes, b.check_mode) and returns the
// final result; only RES_OK makes dest valid.
int read_block(ZOVEDevice& dev, const SettingsBlock& b, void* dest);
// Writes count bytes (0: b.size) of src to block b; returns the final result.
int write_block(ZOVEDevice& dev, const SettingsBlock& b, const void* src, int count = 0);

// --- the process-wide copies ----------------------------------------------
extern MainSettings main_read;   // as the controller holds it
extern MainSettings main_edit;   // built from the form for a write
extern ExtraSettings extra_settings;
extern MeterRecord meter_records[METER_RECORD_COUNT];
extern SideRecord side_records[SIDE_RECORD_COUNT];
extern uint16_t pressure_readings[2];  // already shifted right by 4

// --- code tables ------------------------------------------------------------
// Texts are catalog keys; callers pass them through tr() when they show them.
constexpr int BAUD_CODE_COUNT = 4;
extern const uint16_t BAUD_CODES[BAUD_CODE_COUNT];       // 48, 96, 192, 384
extern const char* const BAUD_ITEMS[BAUD_CODE_COUNT];    // "4800" .. "38400"
// Item index of a stored baud code, -1 when the code is none of the four.
int baud_item_of(uint16_t code);
// Stored code of item k, 0 when no item (k < 0 or k > 3).
uint16_t baud_code_of(int item);

constexpr int DISPLAY_TYPE_COUNT = 15;
constexpr uint8_t DISPLAY_TYPE_NONE = 255;
extern const char* const DISPLAY_TYPES[DISPLAY_TYPE_COUNT];

constexpr int PHASE_COUNT = 3;
extern const char* const PHASE_ITEMS[PHASE_COUNT];

constexpr int MASS_METER_COUNT = 4;
constexpr uint16_t MASS_TYPE_NONE = 7;
constexpr int MASS_TYPE_SHIFT = 13;
extern const char* const MASS_METER_TYPES[MASS_METER_COUNT];

constexpr int TRK_MODES_COUNT = 16;
constexpr int TRK_MODES2_COUNT = 7;
constexpr int MASS_FLAG_COUNT = 6;
extern const char* const TRK_MODES_ITEMS[TRK_MODES_COUNT];    // item k is bit k
extern const char* const TRK_MODES2_ITEMS[TRK_MODES2_COUNT];
extern const char* const MASS_FLAG_ITEMS[MASS_FLAG_COUNT];

// tbl_dot_flags
constexpr uint16_t DOT_PRICE_XXXX = 0x02;
constexpr uint16_t DOT_PRICE_XXX_Y = 0x04;
constexpr uint16_t DOT_PRICE_MASK = 0x06;
constexpr int DOT_SHIFT_POS = 3;
constexpr uint16_t DOT_SHIFT_MASK = 0x38;
constexpr uint16_t DOT_VOLUME = 0x40;

constexpr uint8_t MAIN_MARKER = 0x22;
constexpr uint16_t SAT_NONE = 0xFFFF;

// --- key tables of the settings image -------------------------------------
struct SettingsKey {
    uint16_t offset;
    uint8_t width;  // 1, 2 or 4 bytes
    const char* name;
};
constexpr int MAIN_KEY_COUNT = 39;
constexpr int MASS_KEY_COUNT = 37;
extern const SettingsKey MAIN_KEYS[MAIN_KEY_COUNT];
extern const SettingsKey MASS_KEYS[MASS_KEY_COUNT];
// Field value at key.offset of the record image rec (little-endian, unsigned).
uint32_t key_get(const void* rec, const SettingsKey& key);
// Stores the low key.width bytes of v at key.offset of rec.
void key_set(void* rec, const SettingsKey& key, uint32_t v);

// --- text <-> field conversions ---------------------------------------------
// Leading-integer parse: white space, optional sign, decimal digits; 0 when
// there are none. Digits beyond the 64-bit range wrap instead of overflowing.
int64_t parse_leading_int(const char* text);
// Leading decimal number as a double; 0 for no number or for nullptr.
double parse_decimal(const char* text);

// Integer field with a factor: parse / factor (toward zero), low bits kept
// (bits = 8, 16 or 32).
uint32_t field_from_text(const char* text, int factor, int bits);
// Tenths: text x 10 in double, truncated toward zero, low bits kept.
uint32_t tenths_from_text(const char* text, int bits);
// "%d.%d" of field / 10 and field % 10.
void tenths_to_text(unsigned field, char* out, size_t n);
// (text + 0.00005) x 10000, truncated, low 16 bits.
uint16_t density_from_text(const char* text);
void density_to_text(uint16_t field, char* out, size_t n);  // "%.4f"
// Signed tenths as 16 bits; shown "%.1f".
int16_t heater_from_text(const char* text);
void heater_to_text(int16_t field, char* out, size_t n);
// Hex after the first two characters (taken to be "0x"); low 16 bits.
uint16_t hex_from_text(const char* text);
void hex_to_text(uint16_t field, char* out, size_t n);  // "0x%X"
// "%u.%u.%u.%u" in stored order. Parsing stores each part that is present
// (low 8 bits) and leaves the bytes of missing parts as they were; returns
// the number of parts read.
void quad_to_text(const uint8_t q[4], char* out, size_t n);
int quad_from_text(const char* text, uint8_t q[4]);

// The "Satellite channel" text: four lines "%d\n", or the translated
// "15 - not assigned\n" for 15.
void sat_channel_to_text(uint16_t field, char* out, size_t n);
// Parses the text back. Returns 1 with *field set (0xFFFF when every slot
// came out 0), or 0 when two slots hold the same channel other than 15
// (the caller shows "Satellite channels overlap").
int sat_channel_from_text(const char* text, uint16_t* field);

// Meter coefficient coef_int + coef_frac / 2^32.
double meter_coefficient(const MeterRecord& m);
inline unsigned meter_type_shown(const MeterRecord& m) { return unsigned(m.meter_type) >> 1; }
inline uint16_t meter_type_stored(int64_t shown) { return uint16_t(uint64_t(shown) * 2u); }

// "0x%03X, 0x%03X" of the two shifted readings.
void pressure_to_text(const uint16_t readings[2], char* out, size_t n);
