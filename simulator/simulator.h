// The controller simulator: it takes the controller's place on the line so
// that the tool, its tests and its demo can run without a pump.
//
// How it works: a Simulator owns one transport (a pty it creates, a loopback
// TCP listening socket, a TCP connection to the tool's server, or a real
// serial device) and one thread. The thread reads the bytes the tool sends,
// cuts them into request frames, validates every check byte (a damaged frame
// gets no reply, as with a real controller) and hands each frame to the
// controller that answers at the frame's address. Replies are queued with a
// due time, so late, split and byte-timed replies need no sleeping on the
// thread. Every request and reply is traced; all state is guarded by one
// mutex, so tests may read and change it while the thread runs.
//
// Each controller answers at the side A and side B addresses stored in its
// own main settings block (area 0, 0x3101, bytes 3 and 4), so a main block
// write that moves an address moves the controller -- from its next restart
// on, as a real board takes new settings at start-up (set address moves it at
// once); the broadcast address 240 is answered by the first controller only.
//
// Area 0 is plain memory 0x0000..0xFFFF (reads beyond it give zeros, writes
// beyond it are answered 0xFE), except the restart byte 0x55 at 0x88FFFF.
// Area 2 reads are plain memory too (0x02 password flags, 0x03 lock byte,
// 0x04 service counts, 0x24 mode byte, 0x30 pressure readings), but writes
// below 0x10 are commands: 0x02 log in (2 bytes LE), 0x04 set the admin
// password, 0x05 set the calibration password (a new value of 0 removes the
// password), 0x08 controller clear, 0x09 clear a wrong-clear counter.
//
// Protected writes: every area 0 write except the restart byte, the area 2
// registers 0x04, 0x05, 0x08, 0x09 and the mode byte 0x24. They are refused
// (status 0xFF) with the last error 'X' while the configuration key is off,
// and, while an admin password is set, with '[' until a correct login since
// the last identify or restart ('\' instead while the admin entry is locked).
// A wrong login gives '[', a login while the admin entry is locked (lock
// byte AND 0x07 = 0x07) gives '\'. The last-error
// query (short command 0xF0) answers 16 bytes whose byte 7 is the last error.
// Refusals of 1-byte writes are sent too, but the tool does not examine them.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zsim {

// Memory locations the built-in controller fills (area 0 unless noted).
constexpr uint32_t MAIN_BLOCK = 0x3101;      // 68 bytes
constexpr uint32_t EXTRA_BLOCK = 0x5000;     // 60 bytes
constexpr uint32_t METER_BLOCK = 0x1000;     // + 0x100 * meter, 15 bytes
constexpr uint32_t SIDE_BLOCK = 0x4000;      // + 0x100 * side, 14 bytes
constexpr uint32_t TOTALS_BLOCK = 0x2000;    // + 0x100 * meter, 72 bytes
constexpr uint32_t RESTART_ADDR = 0x88FFFF;  // 1 byte 0x55
constexpr uint32_t REG_PASSWORD = 0x02;      // area 2: flags, lock
constexpr uint32_t REG_SERVICE_COUNTS = 0x04;
constexpr uint32_t REG_ADMIN_PASSWORD = 0x04;
constexpr uint32_t REG_CAL_PASSWORD = 0x05;
constexpr uint32_t REG_MODE = 0x24;
constexpr uint32_t REG_PRESSURE = 0x30;
constexpr int MAIN_SIZE = 68;
constexpr int EXTRA_SIZE = 60;
constexpr int MEMORY_SIZE = 0x10000;  // per area

constexpr uint8_t ERR_CONFIG_KEY = 0x58;      // 'X'
constexpr uint8_t ERR_WRONG_PASSWORD = 0x5B;  // '['
constexpr uint8_t ERR_ENTRY_LOCKED = 0x5C;    // '\'

// Kinds of request, for counters and for limiting faults.
enum Kind : int {
    K_ANY = -1,
    K_IDENTIFY = 0,
    K_TEXT_ID,
    K_MEM_READ,
    K_MEM_WRITE,
    K_SET_ADDRESS,
    K_SET_BAUD,
    K_READ_CLOCK,
    K_WRITE_CLOCK,
    K_ADJUST_CLOCK,
    K_LAST_ERROR,
    K_BOOT,        // 0xFA enter / 0xF1 leave the boot loader
    K_OTHER,       // a valid short frame with a command the simulator does not know
    K_BAD_FRAME,   // a frame whose check byte did not match (no reply)
    K_COUNT
};
const char* kind_name(int kind);
// "identify", "text_id", "mem_read", ... or "any"; -2 when unknown.
int kind_from_name(const char* name);

// Faults applied to replies (echo applies to every received byte).
struct Fault {
    bool no_reply = false;
    bool bad_check = false;        // the reply's check byte is wrong
    int split_bytes = 0;           // > 0: the reply goes out in parts of this size
    int split_delay_ms = 0;        // pause between the parts
    int late_ms = 0;               // delay before the first reply byte
    std::vector<uint8_t> stray;    // bytes sent right after the reply
    bool echo = false;             // every received byte is sent back at once
    int kind = K_ANY;              // only replies to this kind of request
    int count = -1;                // only this many replies (-1: all)
};

struct MemPatch {
    int area = 0;
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

struct ControllerConfig {
    uint8_t side_a = 1;
    uint8_t side_b = 2;
    uint8_t type = 0x24;           // 0x24 mass meter, 0x23 pulse meter
    uint8_t extra = 0;             // third byte of the identify reply
    std::string text_id;           // code page 866 bytes; empty: built-in text
    int text_terminator = 0x00;    // 0x00, 0x7F, or -1 for none (silence)
    bool boot_loader = false;
    std::string boot_text;         // code page 866; empty: built-in text
    int admin_password = -1;       // -1: not set
    int calibration_password = -1;
    uint8_t password_lock = 0;
    bool config_key_on = true;
    std::vector<MemPatch> memory;  // applied over the built-in blocks
};

struct Scenario {
    std::vector<ControllerConfig> controllers;  // empty: one built-in pump
    Fault fault;
    int baud_emulation = 0;  // 0: off; else emulate this line rate (8N1)
};

// Scenario JSON, e.g.
// {"controllers":[{"side_a":1,"side_b":2,"type":"0x24","text_id":"...",
//   "admin_password":1234,"memory":[{"area":0,"address":"0x3101","hex":"60 00"}]}],
//  "fault":{"late_ms":400,"kind":"identify","count":1},"baud_emulation":4800}
// Text identifiers are UTF-8 in the file and converted to code page 866;
// "text_id_hex" gives raw bytes instead. Numbers may be strings "0x..".
bool parse_scenario(const std::string& json, Scenario* out, std::string* error);
bool load_scenario_file(const char* path, Scenario* out, std::string* error);
bool utf8_to_cp866(const std::string& in, std::string* out);

struct RxChunk {
    double t_ms;                 // since the simulator was constructed
    std::vector<uint8_t> bytes;  // as one read() returned them
};

class Simulator {
public:
    explicit Simulator(const Scenario& scenario = Scenario());
    ~Simulator();  // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Transports; each returns 0 on success or an errno-style code, and starts
    // the thread. Only one transport per Simulator.
    int start_pty(std::string* slave_path, const char* link_path = nullptr);
    int start_tcp_listen(uint16_t port, uint16_t* chosen_port);  // 127.0.0.1
    int start_tcp_connect(const char* host, uint16_t port);      // reconnects
    int start_serial(const char* device, int baud);
    // Joins the thread (it wakes at least every 10 ms); removes the symlink.
    void stop();
    bool running() const;
    // TCP transports: true once a peer is connected (bounded wait).
    bool wait_connected(int timeout_ms) const;

    // Trace: "   123.4 ms  RX 60 01 21 BA  identify addr=1". Lines are kept
    // (the last 20000) and also handed to the sink, if any. The sink runs on
    // the simulator's thread with its lock held, so it must not call back
    // into the Simulator.
    void set_trace_sink(std::function<void(const std::string&)> sink);
    std::vector<std::string> trace() const;
    void clear_trace();

    int count(int kind) const;
    void reset_counters();
    // Waits until count(kind) >= n; false after timeout_ms.
    bool wait_count(int kind, int n, int timeout_ms) const;

    std::vector<RxChunk> received() const;  // the last 4096 chunks
    void clear_received();

    int controller_count() const;
    std::vector<uint8_t> read_memory(int ctrl, int area, uint32_t address, int n) const;
    void write_memory(int ctrl, int area, uint32_t address, const std::vector<uint8_t>& bytes);
    uint8_t side_a(int ctrl) const;
    uint8_t side_b(int ctrl) const;
    void set_type(int ctrl, uint8_t type);
    void set_text_id(int ctrl, const std::string& cp866, int terminator);
    void set_boot_loader(int ctrl, bool on);
    bool boot_loader(int ctrl) const;

    void set_admin_password(int ctrl, int password);  // -1: not set
    void set_calibration_password(int ctrl, int password);
    int admin_password(int ctrl) const;
    int calibration_password(int ctrl) const;
    void set_password_lock(int ctrl, uint8_t lock);
    void set_config_key(int ctrl, bool on);
    bool logged_in(int ctrl) const;
    uint8_t last_error(int ctrl) const;
    int restart_count(int ctrl) const;

    void set_fault(const Fault& fault);
    void clear_fault();
    Fault fault() const;
    void set_baud_emulation(int baud);

    double now_ms() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace zsim
