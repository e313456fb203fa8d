#include "settings/records.h"

#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/catalog.h"

MainSettings main_read;
MainSettings main_edit;
ExtraSettings extra_settings;
MeterRecord meter_records[METER_RECORD_COUNT];
SideRecord side_records[SIDE_RECORD_COUNT];
uint16_t pressure_readings[2];

// --- code tables ------------------------------------------------------------
const uint16_t BAUD_CODES[BAUD_CODE_COUNT] = {48, 96, 192, 384};
const char* const BAUD_ITEMS[BAUD_CODE_COUNT] = {"4800", "9600", "19200", "38400"};

int baud_item_of(uint16_t code) {
    for (int k = 0; k < BAUD_CODE_COUNT; ++k)
        if (BAUD_CODES[k] == code) return k;
    return -1;
}

uint16_t baud_code_of(int item) {
    return (item >= 0 && item < BAUD_CODE_COUNT) ? BAUD_CODES[item] : 0;
}

const char* const DISPLAY_TYPES[DISPLAY_TYPE_COUNT] = {
    "China LCD", "reserved", "202",   "217",   "218",       "209",       "209_17",    "MI-21",
    "Shelf",     "Tokheim",  "485",   "Spi",   "Shelf led", "MI-21 i2c", "MI-18 soft"};

const char* const PHASE_ITEMS[PHASE_COUNT] = {"Phase 1", "Phase 1+2", "Phase 2"};

const char* const MASS_METER_TYPES[MASS_METER_COUNT] = {"Micromotion", "Flomak", "Shtraymass",
                                                        "AMF"};

const char* const TRK_MODES_ITEMS[TRK_MODES_COUNT] = {
    "Inverse nozzles",
    "Push nozzle button to start",
    "Nozzle down suspends filling",
    "Autostart when nozzle up",
    "BMU mirror",
    "BMU allow load",
    "enable BMU only for preset",
    "Strict meter phase control",
    "Divide displayed summ by 10",
    "Non-inverted signal to the displays",
    "Preset summ round-up",
    "Satellite pump support",
    "Fast dresser wayne",
    "Use sound relay",
    "Fueler counter",
    "'Sever' mode / Report nozzle down AZT2.0"};

const char* const TRK_MODES2_ITEMS[TRK_MODES2_COUNT] = {
    "Use mains 220V for valves", "Fast S&B",         "Fast tokheim", "Proportional valves",
    "No valve stop prediction",  "Enable BMU",
    "Disable simultaneous satellite and main nozzle load"};

const char* const MASS_FLAG_ITEMS[MASS_FLAG_COUNT] = {
    "Use pressure meter",        "Work with pressure line 3",
    "Work with pressure line 2", "Use manual density for volume calculation",
    "Use mass for retail",       "Leave line 1 open"};

// --- key tables -------------------------------------------------------------
#define MK(f, w, n) {uint16_t(offsetof(MainSettings, f)), w, n}
const SettingsKey MAIN_KEYS[MAIN_KEY_COUNT] = {
    MK(sat_channel, 2, "sat_channel"),
    MK(side_count, 1, "side_count"),
    MK(noz_count, 1, "noz_count"),
    MK(zivu_addr[0], 1, "zivu_addr[0]"),
    MK(zivu_addr[1], 1, "zivu_addr[1]"),
    MK(zivu_addr[2], 1, "zivu_addr[2]"),
    MK(zivu_addr[3], 1, "zivu_addr[3]"),
    MK(zivu_addr[4], 1, "zivu_addr[4]"),
    MK(zivu_addr[5], 1, "zivu_addr[5]"),
    MK(zivu_addr[6], 1, "zivu_addr[6]"),
    MK(zivu_addr[7], 1, "zivu_addr[7]"),
    MK(zivu_addr[8], 1, "zivu_addr[8]"),
    MK(zivu_addr[9], 1, "zivu_addr[9]"),
    MK(zivu_addr[10], 1, "zivu_addr[10]"),
    MK(zivu_addr[11], 1, "zivu_addr[11]"),
    MK(slow_start, 1, "slow_start"),
    MK(slow_load, 1, "slow_load"),
    MK(nozzle_fat, 1, "nozzle_fat"),
    MK(met_timeout, 1, "met_timeout"),
    MK(nozzle_wait, 1, "nozzle_wait"),
    MK(trk_modes, 2, "trk_modes"),
    MK(trk_modes2, 2, "trk_modes2"),
    MK(tbl_type[0], 1, "tbl_type[0]"),
    MK(tbl_type[1], 1, "tbl_type[1]"),
    MK(min_speed, 1, "min_speed"),
    MK(min_sp_time, 1, "min_sp_time"),
    MK(hydro_hit, 1, "hydro_hit"),
    MK(pc_timeout, 1, "pc_timeout"),
    MK(shim_duration, 1, "shim_duration"),
    MK(min_vol, 1, "min_vol"),
    MK(st_wait_force, 1, "st_wait_force"),
    MK(valve_delay, 1, "valve_delay"),
    MK(pb_timeout, 1, "pb_timeout"),
    MK(bmu_p_user[0], 4, "bmu_p_user[0]"),
    MK(bmu_p_user[1], 4, "bmu_p_user[1]"),
    MK(bmu_p_user[2], 4, "bmu_p_user[2]"),
    MK(bmu_p_user[3], 4, "bmu_p_user[3]"),
    MK(bmu_p_adm, 4, "bmu_p_adm"),
    MK(tbl_dot_flags, 2, "tbl_dot_flags"),
};
#undef MK

#define XK(f, w, n) {uint16_t(offsetof(ExtraSettings, f)), w, n}
const SettingsKey MASS_KEYS[MASS_KEY_COUNT] = {
    XK(dens_mult, 4, "dens_mult"),
    XK(mass_mult, 2, "mass_mult"),
    XK(temp_mult, 2, "temp_mult"),
    XK(mass_flags, 2, "mass_flags"),
    XK(fail_pressure, 2, "fail_pressure"),
    XK(fail_flow, 1, "fail_flow"),
    XK(smart_fill_pressure, 1, "smart_fill_pressure"),
    XK(smart_fill_tmt, 1, "smart_fill_tmt"),
    XK(pressure_max, 1, "pressure_max"),
    XK(density_manual, 2, "density_manual"),
    XK(finish_pressure, 2, "finish_pressure"),
    XK(fall_pressure, 2, "fall_pressure"),
    XK(pressure_offset, 2, "pressure_offset"),
    XK(pressure_top, 2, "pressure_top"),
    XK(line_max_flow[0], 2, "line_max_flow[0]"),
    XK(line_max_flow[1], 2, "line_max_flow[1]"),
    XK(line_max_flow[2], 2, "line_max_flow[2]"),
    XK(vol_mult, 2, "vol_mult"),
    XK(line_min_flow[0], 1, "line_min_flow[0]"),
    XK(line_min_flow[1], 1, "line_min_flow[1]"),
    XK(line_min_flow[2], 1, "line_min_flow[2]"),
    XK(line_min_tmt[0], 1, "line_min_tmt[0]"),
    XK(line_min_tmt[1], 1, "line_min_tmt[1]"),
    XK(line_min_tmt[2], 1, "line_min_tmt[2]"),
    XK(w_ip[0], 1, "w_ip[0]"),
    XK(w_ip[1], 1, "w_ip[1]"),
    XK(w_ip[2], 1, "w_ip[2]"),
    XK(w_ip[3], 1, "w_ip[3]"),
    XK(w_mask[0], 1, "w_mask[0]"),
    XK(w_mask[1], 1, "w_mask[1]"),
    XK(w_mask[2], 1, "w_mask[2]"),
    XK(w_mask[3], 1, "w_mask[3]"),
    XK(w_gw[0], 1, "w_gw[0]"),
    XK(w_gw[1], 1, "w_gw[1]"),
    XK(w_gw[2], 1, "w_gw[2]"),
    XK(w_gw[3], 1, "w_gw[3]"),
    XK(w_port, 2, "w_port"),
};
#undef XK

uint32_t key_get(const void* rec, const SettingsKey& key) {
    const uint8_t* p = static_cast<const uint8_t*>(rec) + key.offset;
    uint32_t v = 0;
    for (int i = key.width - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void key_set(void* rec, const SettingsKey& key, uint32_t v) {
    uint8_t* p = static_cast<uint8_t*>(rec) + key.offset;
    for (int i = 0; i < key.width; ++i) {
        p[i] = uint8_t(v);
        v >>= 8;
    }
}

// --- conversions ------------------------------------------------------------
namespace {

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

uint32_t low_bits(uint64_t v, int bits) {
    return bits >= 32 ? uint32_t(v) : uint32_t(v & ((uint64_t(1) << bits) - 1));
}

// Truncates toward zero into 64 bits. Values outside the 64-bit range (and
// NaN) would make the cast undefined; a form never means them, so they
// become 0 instead of garbage.
int64_t trunc_to_i64(double d) {
    if (!(d > -9.2e18 && d < 9.2e18)) return 0;
    return int64_t(d);
}

void put(char* out, size_t n, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void put(char* out, size_t n, const char* fmt, ...) {
    if (!out || n == 0) return;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(out, n, fmt, ap);
    va_end(ap);
}

}  // namespace

int64_t parse_leading_int(const char* text) {
    if (!text) return 0;
    const char* p = text;
    while (is_space(*p)) ++p;
    bool neg = false;
    if (*p == '+' || *p == '-') neg = (*p++ == '-');
    uint64_t v = 0;
    while (*p >= '0' && *p <= '9') v = v * 10u + uint64_t(*p++ - '0');
    return neg ? int64_t(0 - v) : int64_t(v);
}

double parse_decimal(const char* text) {
    if (!text) return 0.0;
    char* end = nullptr;
    double d = strtod(text, &end);
    if (end == text) return 0.0;
    return d;
}

uint32_t field_from_text(const char* text, int factor, int bits) {
    int64_t v = parse_leading_int(text);
    if (factor > 1) v /= factor;
    return low_bits(uint64_t(v), bits);
}

uint32_t tenths_from_text(const char* text, int bits) {
    return low_bits(uint64_t(trunc_to_i64(parse_decimal(text) * 10.0)), bits);
}

void tenths_to_text(unsigned field, char* out, size_t n) {
    put(out, n, "%d.%d", int(field / 10), int(field % 10));
}

uint16_t density_from_text(const char* text) {
    return uint16_t(trunc_to_i64((parse_decimal(text) + 0.00005) * 10000.0));
}

void density_to_text(uint16_t field, char* out, size_t n) {
    put(out, n, "%.4f", double(field) / 10000.0);
}

int16_t heater_from_text(const char* text) {
    return int16_t(uint16_t(trunc_to_i64(parse_decimal(text) * 10.0)));
}

void heater_to_text(int16_t field, char* out, size_t n) {
    put(out, n, "%.1f", double(field) / 10.0);
}

uint16_t hex_from_text(const char* text) {
    // The text is taken to start with "0x"; a shorter text has no digits.
    if (!text || !text[0] || !text[1]) return 0;
    const char* p = text + 2;
    uint32_t v = 0;
    for (;; ++p) {
        int d;
        if (*p >= '0' && *p <= '9') d = *p - '0';
        else if (*p >= 'a' && *p <= 'f') d = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'F') d = *p - 'A' + 10;
        else break;
        v = (v << 4) | uint32_t(d);
    }
    // Only this field's own 16 bits: a wider value never spills over into
    // the field that follows it in the block.
    return uint16_t(v);
}

void hex_to_text(uint16_t field, char* out, size_t n) { put(out, n, "0x%X", unsigned(field)); }

void quad_to_text(const uint8_t q[4], char* out, size_t n) {
    put(out, n, "%u.%u.%u.%u", unsigned(q[0]), unsigned(q[1]), unsigned(q[2]), unsigned(q[3]));
}

int quad_from_text(const char* text, uint8_t q[4]) {
    if (!text) return 0;
    const char* p = text;
    int parts = 0;
    while (parts < 4) {
        if (parts > 0) {
            if (*p != '.') break;
            ++p;
        }
        while (is_space(*p)) ++p;  // as the %u conversion does
        if (*p == '+') ++p;
        if (*p < '0' || *p > '9') break;
        uint32_t v = 0;
        while (*p >= '0' && *p <= '9') v = v * 10u + uint32_t(*p++ - '0');
        q[parts++] = uint8_t(v);
    }
    return parts;
}

void sat_channel_to_text(uint16_t field, char* out, size_t n) {
    if (!out || n == 0) return;
    out[0] = 0;
    size_t used = 0;
    for (int k = 0; k < 4; ++k) {
        unsigned c = (field >> (4 * k)) & 0xF;
        char line[128];
        if (c == 15)
            snprintf(line, sizeof line, "%s", tr("15 - not assigned\n"));
        else
            snprintf(line, sizeof line, "%u\n", c);
        size_t len = strlen(line);
        if (used + len >= n) break;
        memcpy(out + used, line, len + 1);
        used += len;
    }
}

int sat_channel_from_text(const char* text, uint16_t* field) {
    char buf[1000];
    snprintf(buf, sizeof buf, "%s", text ? text : "");
    uint32_t c[4] = {0, 0, 0, 0};
    int k = 0;
    uint32_t v = 0;
    for (const char* p = buf; *p; ++p) {
        if (k == 4) break;
        if (*p >= '0' && *p <= '9') {
            v = v * 10u + uint32_t(*p - '0');
        } else if (*p == '\n') {
            c[k++] = v;
            v = 0;
        } else {
            // Skip the rest of the line ("15 - not assigned") but keep v.
            while (p[1] && p[1] != '\n') ++p;
        }
    }
    if (v != 0 && k <= 3) c[k] = v;
    uint16_t packed = uint16_t((c[3] << 12) | (c[2] << 8) | (c[1] << 4) | c[0]);
    if (packed == 0) {
        *field = SAT_NONE;
        return 1;
    }
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            if (c[i] == c[j] && c[i] != 15) return 0;
    *field = packed;
    return 1;
}

double meter_coefficient(const MeterRecord& m) {
    return (double(m.coef_int) * 4294967296.0 + double(m.coef_frac)) / 4294967296.0;
}

void pressure_to_text(const uint16_t readings[2], char* out, size_t n) {
    put(out, n, "0x%03X, 0x%03X", unsigned(readings[0]), unsigned(readings[1]));
}
