// Scenario loading and the built-in pump. A scenario is JSON read with cJSON;
// every controller starts as the built-in pump and the scenario overrides
// what it names. Texts in the file are UTF-8 and are converted to code page
// 866 with iconv, because that is what the controller sends.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cjson/cJSON.h>
#include <iconv.h>

#include "simulator/sim_internal.h"

namespace zsim {

namespace {

const char* const KIND_NAMES[K_COUNT] = {
    "identify", "text_id",     "mem_read",     "mem_write",  "set_address", "set_baud",  "read_clock",
    "write_clock", "adjust_clock", "last_error", "boot",        "other",     "bad_frame",
};

void put16(std::vector<uint8_t>& m, uint32_t at, uint16_t v) {
    m[at] = uint8_t(v);
    m[at + 1] = uint8_t(v >> 8);
}

void put32(std::vector<uint8_t>& m, uint32_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) m[at + i] = uint8_t(v >> (8 * i));
}

std::string to_cp866_or(const char* utf8, const char* fallback) {
    std::string out;
    return utf8_to_cp866(utf8, &out) ? out : std::string(fallback);
}

// Reads an integer given as a JSON number or as a string ("0x24", "36").
bool get_int(const cJSON* obj, const char* name, long* out, std::string* error) {
    const cJSON* it = cJSON_GetObjectItemCaseSensitive(obj, name);
    if (it == nullptr || cJSON_IsNull(it)) return false;
    if (cJSON_IsNumber(it)) {
        *out = long(it->valuedouble);
        return true;
    }
    if (cJSON_IsString(it) && it->valuestring) {
        char* end = nullptr;
        errno = 0;
        long v = std::strtol(it->valuestring, &end, 0);
        if (end != it->valuestring && *end == 0 && errno == 0) {
            *out = v;
            return true;
        }
    }
    if (cJSON_IsBool(it)) {
        *out = cJSON_IsTrue(it) ? 1 : 0;
        return true;
    }
    if (error->empty()) *error = std::string("\"") + name + "\" is not a number";
    return false;
}

bool get_ranged(const cJSON* obj, const char* name, long lo, long hi, long* out, std::string* error) {
    long v = 0;
    if (!get_int(obj, name, &v, error)) return false;
    if (v < lo || v > hi) {
        if (error->empty())
            *error = std::string("\"") + name + "\" must be " + std::to_string(lo) + ".." + std::to_string(hi);
        return false;
    }
    *out = v;
    return true;
}

bool get_bool(const cJSON* obj, const char* name, bool* out) {
    const cJSON* it = cJSON_GetObjectItemCaseSensitive(obj, name);
    if (it == nullptr) return false;
    if (cJSON_IsBool(it)) *out = cJSON_IsTrue(it);
    else if (cJSON_IsNumber(it)) *out = it->valuedouble != 0;
    else return false;
    return true;
}

const char* get_string(const cJSON* obj, const char* name) {
    const cJSON* it = cJSON_GetObjectItemCaseSensitive(obj, name);
    return cJSON_IsString(it) ? it->valuestring : nullptr;
}

// A text given as UTF-8 ("name") or as raw bytes ("name_hex").
bool get_text(const cJSON* obj, const char* name, std::string* out, std::string* error) {
    std::string hex_name = std::string(name) + "_hex";
    if (const char* hex = get_string(obj, hex_name.c_str())) {
        std::vector<uint8_t> bytes;
        if (!parse_hex(hex, &bytes)) {
            *error = "\"" + hex_name + "\" is not hexadecimal";
            return false;
        }
        out->assign(bytes.begin(), bytes.end());
        return true;
    }
    if (const char* text = get_string(obj, name)) {
        if (!utf8_to_cp866(text, out)) {
            *error = std::string("\"") + name + "\" cannot be written in code page 866";
            return false;
        }
        return true;
    }
    return false;
}

bool parse_fault(const cJSON* f, Fault* out, std::string* error) {
    long v = 0;
    get_bool(f, "no_reply", &out->no_reply);
    get_bool(f, "bad_check", &out->bad_check);
    get_bool(f, "echo", &out->echo);
    if (get_ranged(f, "split_bytes", 0, 300, &v, error)) out->split_bytes = int(v);
    if (get_ranged(f, "split_delay_ms", 0, 60000, &v, error)) out->split_delay_ms = int(v);
    if (get_ranged(f, "late_ms", 0, 60000, &v, error)) out->late_ms = int(v);
    if (get_ranged(f, "count", -1, 1000000, &v, error)) out->count = int(v);
    if (const char* stray = get_string(f, "stray")) {
        if (!parse_hex(stray, &out->stray) || out->stray.size() > 256) {
            *error = "\"stray\" must be at most 256 hexadecimal bytes";
            return false;
        }
    }
    if (const char* kind = get_string(f, "kind")) {
        int k = kind_from_name(kind);
        if (k == -2) {
            *error = std::string("unknown request kind \"") + kind + "\"";
            return false;
        }
        out->kind = k;
    }
    return error->empty();
}

bool parse_controller(const cJSON* c, ControllerConfig* out, std::string* error) {
    if (!cJSON_IsObject(c)) {
        *error = "a controller must be an object";
        return false;
    }
    long v = 0;
    if (get_ranged(c, "side_a", 1, 239, &v, error)) out->side_a = uint8_t(v);
    if (get_ranged(c, "side_b", 1, 239, &v, error)) out->side_b = uint8_t(v);
    if (get_ranged(c, "type", 0, 255, &v, error)) out->type = uint8_t(v);
    if (get_ranged(c, "extra", 0, 255, &v, error)) out->extra = uint8_t(v);
    if (get_ranged(c, "text_terminator", -1, 255, &v, error)) out->text_terminator = int(v);
    if (get_ranged(c, "admin_password", -1, 65535, &v, error)) out->admin_password = int(v);
    if (get_ranged(c, "calibration_password", -1, 65535, &v, error)) out->calibration_password = int(v);
    if (get_ranged(c, "password_lock", 0, 255, &v, error)) out->password_lock = uint8_t(v);
    get_bool(c, "boot_loader", &out->boot_loader);
    get_bool(c, "config_key_on", &out->config_key_on);
    if (!error->empty()) return false;
    if (!get_text(c, "text_id", &out->text_id, error) && !error->empty()) return false;
    if (!get_text(c, "boot_text", &out->boot_text, error) && !error->empty()) return false;
    if (out->text_id.size() > 1000 || out->boot_text.size() > 1000) {
        *error = "text identifiers are limited to 1000 bytes";
        return false;
    }
    const cJSON* mem = cJSON_GetObjectItemCaseSensitive(c, "memory");
    if (mem && !cJSON_IsArray(mem)) {
        *error = "\"memory\" must be an array";
        return false;
    }
    const cJSON* m = nullptr;
    cJSON_ArrayForEach(m, mem) {
        MemPatch p;
        long area = 0, address = 0;
        if (!get_ranged(m, "area", 0, 2, &area, error) || (area != 0 && area != 2)) {
            if (error->empty()) *error = "memory areas are 0 and 2";
            return false;
        }
        if (!get_ranged(m, "address", 0, MEMORY_SIZE - 1, &address, error)) {
            if (error->empty()) *error = "a memory patch needs an \"address\"";
            return false;
        }
        const char* hex = get_string(m, "hex");
        if (hex == nullptr || !parse_hex(hex, &p.bytes) || address + long(p.bytes.size()) > MEMORY_SIZE) {
            *error = "a memory patch needs \"hex\" bytes that fit the area";
            return false;
        }
        p.area = int(area);
        p.address = uint32_t(address);
        out->memory.push_back(std::move(p));
    }
    return true;
}

}  // namespace

const char* kind_name(int kind) {
    if (kind == K_ANY) return "any";
    return kind >= 0 && kind < K_COUNT ? KIND_NAMES[kind] : "?";
}

int kind_from_name(const char* name) {
    if (name == nullptr) return -2;
    if (std::strcmp(name, "any") == 0) return K_ANY;
    for (int k = 0; k < K_COUNT; ++k)
        if (std::strcmp(name, KIND_NAMES[k]) == 0) return k;
    return -2;
}

bool utf8_to_cp866(const std::string& in, std::string* out) {
    iconv_t cd = iconv_open("CP866", "UTF-8");
    if (cd == iconv_t(-1)) return false;
    std::string result(in.size() + 1, '\0');  // never longer than the UTF-8 text
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char* dst = &result[0];
    size_t dst_left = result.size();
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    if (r == size_t(-1)) return false;
    result.resize(result.size() - dst_left);
    *out = result;
    return true;
}

std::string hex_bytes(const uint8_t* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

bool parse_hex(const char* text, std::vector<uint8_t>* out) {
    out->clear();
    int hi = -1;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (c == ' ' || c == ',' || c == ':' || c == '\t' || c == '\n') {
            if (hi >= 0) return false;  // a lone digit
            continue;
        }
        int d = (c >= '0' && c <= '9') ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        if (hi < 0) {
            hi = d;
        } else {
            out->push_back(uint8_t(hi << 4 | d));
            hi = -1;
        }
    }
    return hi < 0;
}

std::string default_text_id() {
    return to_cp866_or("ТРК ZOVE-K77 v5.14 массомер, 2 стороны, 4 рукава, сборка 12.03.2024",
                       "ZOVE-K77 v5.14 mass meter, 2 sides, 4 nozzles, build 12.03.2024");
}

std::string default_boot_text() {
    return to_cp866_or("ZOVE-K77 boot loader v2.1 (загрузчик)", "ZOVE-K77 boot loader v2.1");
}

void fill_default_memory(Controller& c) {
    std::vector<uint8_t>& a0 = c.area0;
    // Main settings: 9600 baud on both channels, two sides of two nozzles,
    // satellite lines unassigned, every value on the form's own scale.
    const uint32_t m = MAIN_BLOCK;
    put16(a0, m + 0, 96);          // baud_main
    a0[m + 2] = 0x22;              // marker
    a0[m + 3] = 1;                 // side_a_addr
    a0[m + 4] = 2;                 // side_b_addr
    put16(a0, m + 5, 0xFFFF);      // sat_channel
    put16(a0, m + 7, 96);          // baud_periph
    a0[m + 9] = 2;                 // side_count
    a0[m + 10] = 2;                // noz_count
    const uint8_t zivu[4] = {11, 12, 13, 14};  // A1, B1, A2, B2
    for (int i = 0; i < 4; ++i) a0[m + 11 + i] = zivu[i];
    a0[m + 25] = 20;               // slow_start: 2000
    a0[m + 26] = 15;               // slow_load: 1500
    a0[m + 27] = 5;                // nozzle_fat: 50
    a0[m + 28] = 30;               // met_timeout
    put16(a0, m + 30, 0x0004);     // trk_modes: nozzle down suspends filling
    put16(a0, m + 32, 0x0001);     // trk_modes2: mains 220V for valves
    a0[m + 34] = 3;                // tbl_type[0]: "217"
    a0[m + 35] = 3;                // tbl_type[1]
    a0[m + 36] = 10;               // min_speed
    a0[m + 37] = 30;               // min_sp_time
    a0[m + 38] = 20;               // hydro_hit: 200
    a0[m + 39] = 30;               // pc_timeout
    a0[m + 40] = 50;               // shim_duration
    a0[m + 41] = 2;                // min_vol: 200
    a0[m + 42] = 5;                // st_wait_force
    a0[m + 43] = 2;                // valve_delay
    a0[m + 44] = 60;               // pb_timeout
    put32(a0, m + 46, 1111);       // bmu_p_user[0..3]
    put32(a0, m + 50, 2222);
    put32(a0, m + 54, 3333);
    put32(a0, m + 58, 4444);
    put32(a0, m + 62, 9999);       // bmu_p_adm
    put16(a0, m + 66, 0x0040);     // price XX.YY, no shift, volume dot XXXX.YYY

    // Extra (mass-meter) settings.
    const uint32_t e = EXTRA_BLOCK;
    put32(a0, e + 0, 1000);        // dens_mult
    put16(a0, e + 4, 1000);        // mass_mult
    put16(a0, e + 6, 1000);        // temp_mult
    put16(a0, e + 8, 0x0001);      // mass_flags: pressure meter, Micromotion
    put16(a0, e + 10, 150);        // fail_pressure 15.0
    a0[e + 12] = 5;                // fail_flow
    a0[e + 13] = 0;                // smart_fill_pressure
    a0[e + 14] = 0;                // smart_fill_tmt
    a0[e + 15] = 250;              // pressure_max
    put16(a0, e + 16, 7500);       // density_manual 0.7500
    put16(a0, e + 18, 200);        // finish_pressure 20.0
    put16(a0, e + 20, 5);          // fall_pressure 0.5
    put16(a0, e + 22, 0x0320);     // pressure_offset
    put16(a0, e + 24, 0x0FA0);     // pressure_top
    put16(a0, e + 26, 600);        // line_max_flow[0..2]
    put16(a0, e + 28, 600);
    put16(a0, e + 30, 600);
    put16(a0, e + 32, 1000);       // vol_mult
    for (int i = 0; i < 3; ++i) a0[e + 34 + i] = 5;   // line_min_flow
    for (int i = 0; i < 3; ++i) a0[e + 37 + i] = 30;  // line_min_tmt 3.0
    const uint8_t ip[12] = {192, 168, 1, 100, 255, 255, 255, 0, 192, 168, 1, 1};
    for (int i = 0; i < 12; ++i) a0[e + 40 + i] = ip[i];
    put16(a0, e + 52, 502);        // w_port
    put16(a0, e + 56, 50);         // heater_on 5.0
    put16(a0, e + 58, 150);        // heater_off 15.0

    // Meter records of the four meters (index = 2 x nozzle + side).
    for (int i = 0; i < 4; ++i) {
        const uint32_t r = METER_BLOCK + 0x100u * i;
        put32(a0, r + 0, 0x00831200u + 0x1000u * i);  // coef_frac, about 0.002
        put16(a0, r + 8, 200);     // meter_type: 100 pulses per litre
        a0[r + 10] = 0;            // phase 1
        a0[r + 11] = 1;            // coef_int
        put16(a0, r + 12, uint16_t(3 + i));  // cal_count
    }
    // Side records.
    for (int s = 0; s < 2; ++s) {
        const uint32_t r = SIDE_BLOCK + 0x100u * s;
        a0[r + 0] = 1;             // active_nozzle
        put16(a0, r + 1, 7);       // cal_count
        a0[r + 3] = 15;            // cal_date 15.06.25
        a0[r + 4] = 6;
        a0[r + 5] = 25;
        put32(a0, r + 6, 12345u + 1000u * s);  // delivery_count
        put16(a0, r + 12, uint16_t(s));        // wrong_clear_count
    }
    // The totals records stay zero: a fresh controller has delivered nothing.

    std::vector<uint8_t>& a2 = c.area2;
    put16(a2, REG_SERVICE_COUNTS, 2);      // factory clear count
    put16(a2, REG_SERVICE_COUNTS + 2, 5);  // reprogram count
    a2[REG_MODE] = 0x00;
    put16(a2, REG_PRESSURE, 0x0A50);       // raw readings; the tool shows 0x0A5, 0x0A6
    put16(a2, REG_PRESSURE + 2, 0x0A60);
}

Controller make_controller(const ControllerConfig& cfg) {
    Controller c;
    fill_default_memory(c);
    c.type = cfg.type;
    c.extra = cfg.extra;
    c.text_id = cfg.text_id.empty() ? default_text_id() : cfg.text_id;
    c.text_terminator = cfg.text_terminator;
    c.boot_loader = cfg.boot_loader;
    c.boot_text = cfg.boot_text.empty() ? default_boot_text() : cfg.boot_text;
    c.admin_password = cfg.admin_password;
    c.calibration_password = cfg.calibration_password;
    c.config_key_on = cfg.config_key_on;
    c.area0[MAIN_BLOCK + 3] = cfg.side_a;
    c.area0[MAIN_BLOCK + 4] = cfg.side_b;
    for (const MemPatch& p : cfg.memory) {
        std::vector<uint8_t>& area = p.area == 2 ? c.area2 : c.area0;
        for (size_t i = 0; i < p.bytes.size() && p.address + i < area.size(); ++i)
            area[p.address + i] = p.bytes[i];
    }
    c.area2[REG_PASSWORD + 1] = cfg.password_lock;
    c.sync_password_flags();
    return c;
}

bool parse_scenario(const std::string& json, Scenario* out, std::string* error) {
    std::string err;
    Scenario s;
    cJSON* root = cJSON_Parse(json.c_str());
    if (root == nullptr) {
        if (error) *error = "the scenario is not valid JSON";
        return false;
    }
    bool ok = cJSON_IsObject(root);
    if (!ok) err = "the scenario must be a JSON object";
    const cJSON* ctrls = ok ? cJSON_GetObjectItemCaseSensitive(root, "controllers") : nullptr;
    if (ok && ctrls && !cJSON_IsArray(ctrls)) {
        err = "\"controllers\" must be an array";
        ok = false;
    }
    const cJSON* c = nullptr;
    if (ok) {
        cJSON_ArrayForEach(c, ctrls) {
            ControllerConfig cc;
            if (!parse_controller(c, &cc, &err)) {
                ok = false;
                break;
            }
            s.controllers.push_back(std::move(cc));
        }
    }
    if (ok && s.controllers.size() > 64) {
        err = "at most 64 controllers";
        ok = false;
    }
    const cJSON* f = ok ? cJSON_GetObjectItemCaseSensitive(root, "fault") : nullptr;
    if (ok && f && !parse_fault(f, &s.fault, &err)) ok = false;
    long v = 0;
    if (ok && get_ranged(root, "baud_emulation", 0, 4000000, &v, &err)) s.baud_emulation = int(v);
    if (!err.empty()) ok = false;
    cJSON_Delete(root);
    if (!ok) {
        if (error) *error = err;
        return false;
    }
    *out = std::move(s);
    return true;
}

bool load_scenario_file(const char* path, Scenario* out, std::string* error) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        if (error) *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (1u << 24)) text.append(buf, n);
    std::fclose(f);
    return parse_scenario(text, out, error);
}

}  // namespace zsim
