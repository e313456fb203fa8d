// The simulator's thread, transports, frame parser and controllers.
//
// The thread polls its one data descriptor (and the listening socket) with a
// timeout of at most 10 ms, so stop() is always answered quickly. Received
// bytes go to a parser that knows each request's length from its command
// byte; a frame is handled only when every check byte matched. A partial
// frame that sees no new byte for FRAME_GAP_MS is dropped, as a controller's
// receive time-out would. Replies are put on a queue with a due time and
// written by the thread when due; faults and the line-time emulation only
// change those due times and the bytes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include "protocol/frame.h"
#include "simulator/sim_internal.h"

namespace zsim {

namespace {

constexpr double FRAME_GAP_MS = 500.0;
constexpr int POLL_MS = 10;
constexpr size_t TRACE_KEEP = 20000;
constexpr size_t RX_KEEP = 4096;
constexpr double RECONNECT_MS = 200.0;

enum Transport { T_NONE, T_PTY, T_TCP_LISTEN, T_TCP_CONNECT, T_SERIAL };

struct OutChunk {
    double due_ms;
    std::vector<uint8_t> bytes;
};

// What a handled request answers.
struct Reply {
    std::vector<uint8_t> bytes;
    int check_pos = -1;  // index of the byte a "wrong check" fault damages
    bool none = false;   // the controller stays silent
};

void set_nonblock(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

speed_t speed_of(int baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

}  // namespace

struct Simulator::Impl {
    mutable std::mutex mu;
    mutable std::condition_variable changed;  // counters or connection changed
    std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();
    std::vector<Controller> ctrls;
    Fault fault;
    int baud_emulation = 0;

    std::function<void(const std::string&)> sink;
    std::deque<std::string> trace_lines;
    int counts[K_COUNT] = {};
    std::deque<RxChunk> rx_chunks;

    std::vector<uint8_t> pending;  // bytes of a frame not yet complete
    double last_rx_ms = 0;
    std::vector<OutChunk> out;     // sorted by due time

    Transport transport = T_NONE;
    int data_fd = -1;
    int listen_fd = -1;
    int pty_slave = -1;   // kept open so the pty survives the tool closing it
    std::string link_path;
    std::string connect_host;
    uint16_t connect_port = 0;
    double next_connect_ms = 0;
    bool connected = false;

    std::thread thread;
    std::atomic<bool> stop_flag{false};

    double now() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    }

    // --- trace ------------------------------------------------------------
    void log(const std::string& what) {
        char head[32];
        std::snprintf(head, sizeof head, "%10.1f ms  ", now());
        std::string line = head + what;
        trace_lines.push_back(line);
        if (trace_lines.size() > TRACE_KEEP) trace_lines.pop_front();
        if (sink) sink(line);
    }
    void log_bytes(const char* dir, const uint8_t* p, size_t n, const std::string& meaning) {
        log(std::string(dir) + " " + hex_bytes(p, n) + (meaning.empty() ? "" : "  " + meaning));
    }

    // --- addressing -------------------------------------------------------
    // The controller answering at addr and the address it answers with.
    Controller* find(uint8_t addr, uint8_t* as) {
        if (addr == ADDR_ANY) {
            if (ctrls.empty()) return nullptr;
            *as = ctrls[0].addr_a();
            return &ctrls[0];
        }
        for (Controller& c : ctrls) {
            if (c.addr_a() == addr || c.addr_b() == addr) {
                *as = addr;
                return &c;
            }
        }
        return nullptr;
    }

    // --- requests ---------------------------------------------------------
    static Reply status(uint8_t s) {
        Reply r;
        r.bytes.push_back(s);
        return r;
    }

    // A protected write may go ahead: returns 0, or the refusal's last error.
    static uint8_t refusal(const Controller& c) {
        if (!c.config_key_on) return ERR_CONFIG_KEY;
        if (c.admin_password >= 0 && !c.logged_in)
            return (c.area2[REG_PASSWORD + 1] & 0x07) == 0x07 ? ERR_ENTRY_LOCKED : ERR_WRONG_PASSWORD;
        return 0;
    }

    static bool protected_write(int area, uint32_t address) {
        if (area == 0) return address != RESTART_ADDR;
        return address == REG_ADMIN_PASSWORD || address == REG_CAL_PASSWORD || address == 0x08 ||
               address == 0x09 || address == REG_MODE;
    }

    Reply mem_read(Controller& c, const uint8_t* f, std::string* meaning) {
        const int area = f[2] & 0x07;
        const uint32_t address = GetMemAddress(&f[6]);
        const int count = f[10];
        const int mode = f[4] & 3;
        Reply r;
        for (int i = 0; i < count; ++i) {
            const uint32_t a = address + uint32_t(i);
            uint8_t v = 0;
            if (a < uint32_t(MEMORY_SIZE)) v = area == 0 ? c.area0[a] : area == 2 ? c.area2[a] : 0;
            r.bytes.push_back(v);
        }
        if (mode == 1) {
            r.check_pos = int(r.bytes.size());
            r.bytes.push_back(Check8(r.bytes.data(), size_t(count)));
        } else if (mode == 2) {
            r.check_pos = int(r.bytes.size());
            const uint32_t crc = Crc32Words(0xFFFFFFFFu, r.bytes.data(), size_t(count));
            for (int i = 0; i < 4; ++i) r.bytes.push_back(uint8_t(crc >> (8 * i)));
        }
        r.bytes.push_back(Check8(r.bytes.data(), r.bytes.size()));  // the final, unexamined byte
        char b[96];
        std::snprintf(b, sizeof b, "read area %d at 0x%06X, %d bytes, check mode %d", area, address, count, mode);
        *meaning = b;
        return r;
    }

    // Applies a write the controller accepted to its memory or registers.
    // Returns the status byte.
    uint8_t apply_write(Controller& c, int area, uint32_t address, const uint8_t* data, int count,
                        std::string* note) {
        if (area == 0 && address == RESTART_ADDR) {
            if (count == 1 && data[0] == 0x55) {
                ++c.restarts;
                c.logged_in = false;
                c.answer_a = c.answer_b = -1;
                *note = "restart";
                return 0x00;
            }
            *note = "bad restart request";
            return 0xFE;
        }
        if (area == 2 && address == REG_PASSWORD && count == 2) {
            const int pw = data[0] | data[1] << 8;
            if (c.admin_password < 0) {
                c.logged_in = true;
                *note = "login (no admin password set)";
                return 0x00;
            }
            if ((c.area2[REG_PASSWORD + 1] & 0x07) == 0x07) {
                c.last_error = ERR_ENTRY_LOCKED;
                *note = "login refused: admin entry locked";
                return 0xFF;
            }
            if (pw != c.admin_password) {
                c.logged_in = false;
                c.last_error = ERR_WRONG_PASSWORD;
                *note = "login refused: wrong password " + std::to_string(pw);
                return 0xFF;
            }
            c.logged_in = true;
            *note = "login ok";
            return 0x00;
        }
        if (protected_write(area, address)) {
            if (uint8_t err = refusal(c)) {
                c.last_error = err;
                *note = err == ERR_CONFIG_KEY ? "refused: configuration key off" : "refused: not logged in";
                return 0xFF;
            }
        }
        if (area == 2 && (address == REG_ADMIN_PASSWORD || address == REG_CAL_PASSWORD) && count == 2) {
            const int pw = data[0] | data[1] << 8;
            int& slot = address == REG_ADMIN_PASSWORD ? c.admin_password : c.calibration_password;
            slot = pw == 0 ? -1 : pw;
            c.sync_password_flags();
            *note = std::string(address == REG_ADMIN_PASSWORD ? "admin" : "calibration") +
                    (pw == 0 ? " password removed" : " password set to " + std::to_string(pw));
            return 0x00;
        }
        if (area == 2 && address == 0x08 && count == 1) {
            if (data[0] != 0x55) return 0xFE;
            for (int i = 0; i < 10; ++i)
                std::fill_n(c.area0.begin() + TOTALS_BLOCK + 0x100 * i, 72, uint8_t(0));
            *note = "controller clear: all totals 0";
            return 0x00;
        }
        if (area == 2 && address == 0x09 && count == 1) {
            if (data[0] > 1) return 0xFE;
            const uint32_t at = SIDE_BLOCK + 0x100u * data[0] + 12;
            c.area0[at] = c.area0[at + 1] = 0;
            *note = std::string("wrong-clear counter of side ") + (data[0] ? "B" : "A") + " cleared";
            return 0x00;
        }
        if (area == 2 && address < 0x10) {
            *note = "unknown register";
            return 0xFE;
        }
        if ((area != 0 && area != 2) || address + uint32_t(count) > uint32_t(MEMORY_SIZE)) {
            *note = "outside memory";
            return 0xFE;
        }
        const uint8_t old_a = c.addr_a(), old_b = c.addr_b();
        std::vector<uint8_t>& mem = area == 0 ? c.area0 : c.area2;
        std::copy(data, data + count, mem.begin() + address);
        if (c.side_a() != old_a || c.side_b() != old_b) {
            c.answer_a = old_a;
            c.answer_b = old_b;
            *note = "will answer at " + std::to_string(c.side_a()) + " and " + std::to_string(c.side_b()) +
                    " after a restart";
        } else {
            c.answer_a = c.answer_b = -1;
        }
        return 0x00;
    }

    Reply mem_write(Controller& c, const uint8_t* f, std::string* meaning) {
        const int area = f[2] & 0x07;
        const uint32_t address = GetMemAddress(&f[6]);
        const int count = f[10];
        uint8_t data[256];
        if (count > 0) data[0] = f[9];
        if (count > 1) std::memcpy(&data[1], &f[12], size_t(count - 1));
        std::string note;
        const uint8_t st = count == 0 ? 0x00 : apply_write(c, area, address, data, count, &note);
        char b[96];
        std::snprintf(b, sizeof b, "write area %d at 0x%06X, %d bytes -> %s", area, address, count,
                      st == 0 ? "ok" : st == 0xFF ? "refused" : "unsupported");
        *meaning = b + (note.empty() ? "" : " (" + note + ")");
        Reply r;
        if (count == 1) r.bytes.push_back(data[0]);  // count 1: two bytes, the first not examined
        r.bytes.push_back(st);
        return r;
    }

    void clock_body(const Controller& c, uint8_t body[7]) {
        time_t t = time(nullptr) + time_t(c.clock_offset_s);
        struct tm tm;
        gmtime_r(&t, &tm);
        body[0] = ToBcd(uint8_t(tm.tm_sec % 60));
        body[1] = ToBcd(uint8_t(tm.tm_min));
        body[2] = ToBcd(uint8_t(tm.tm_hour));
        body[3] = uint8_t(tm.tm_wday == 0 ? 7 : tm.tm_wday);
        body[4] = ToBcd(uint8_t(tm.tm_mday));
        body[5] = ToBcd(uint8_t(tm.tm_mon + 1));
        body[6] = ToBcd(uint8_t(tm.tm_year % 100));
    }

    void set_clock(Controller& c, const uint8_t* body) {
        struct tm tm = {};
        tm.tm_sec = FromBcd(body[0]);
        tm.tm_min = FromBcd(body[1]);
        tm.tm_hour = FromBcd(body[2]);
        tm.tm_mday = FromBcd(body[4]);
        tm.tm_mon = FromBcd(body[5]) - 1;
        tm.tm_year = FromBcd(body[6]) + 100;
        c.clock_offset_s = (long long)timegm(&tm) - (long long)time(nullptr);
    }

    // Handles one complete, checked frame. kind is set for the counters.
    Reply handle(const uint8_t* f, int len, int* kind, std::string* meaning) {
        const uint8_t addr = f[1], cmd = f[2];
        uint8_t as = addr;
        Controller* c = find(addr, &as);
        char b[128];
        Reply r;
        if (cmd == CMD_IDENTIFY) *kind = K_IDENTIFY;
        else if (cmd == CMD_TEXT_ID) *kind = K_TEXT_ID;
        else if (cmd == CMD_SET_ADDRESS) *kind = K_SET_ADDRESS;
        else if (cmd == CMD_SET_BAUD) *kind = K_SET_BAUD;
        else if (cmd == CMD_READ_CLOCK) *kind = K_READ_CLOCK;
        else if (cmd == CMD_WRITE_CLOCK) *kind = K_WRITE_CLOCK;
        else if (cmd == CMD_ADJUST_CLOCK) *kind = K_ADJUST_CLOCK;
        else if ((cmd & 0xF8) == MEM_READ) *kind = K_MEM_READ;
        else if ((cmd & 0xF8) == MEM_WRITE) *kind = K_MEM_WRITE;
        else if (cmd == 0xF0) *kind = K_LAST_ERROR;
        else if (cmd == 0xFA || cmd == 0xF1) *kind = K_BOOT;
        else *kind = K_OTHER;
        std::snprintf(b, sizeof b, "%s addr=%d", kind_name(*kind), addr);
        *meaning = b;
        if (c == nullptr) {
            *meaning += " (no controller at this address)";
            r.none = true;
            return r;
        }
        std::string m;
        switch (*kind) {
        case K_IDENTIFY:
            c->logged_in = false;
            r.bytes = {as, c->type, c->extra, 0};
            r.bytes[3] = Check8(r.bytes.data(), 3);
            r.check_pos = 3;
            std::snprintf(b, sizeof b, "identify addr=%d: answers as %d, type 0x%02X", addr, as, c->type);
            *meaning = b;
            return r;
        case K_TEXT_ID: {
            const std::string& t = c->boot_loader ? c->boot_text : c->text_id;
            r.bytes.assign(t.begin(), t.end());
            if (c->text_terminator >= 0) r.bytes.push_back(uint8_t(c->text_terminator));
            *meaning += c->boot_loader ? " (boot loader)" : "";
            return r;
        }
        case K_SET_ADDRESS: {
            const uint8_t na = f[4];
            if (na == 0 || na >= ADDR_ANY) return status(0xFF);
            c->area0[MAIN_BLOCK + (as == c->addr_b() && as != c->addr_a() ? 4 : 3)] = na;
            c->answer_a = c->answer_b = -1;
            *meaning += " -> " + std::to_string(na);
            return status(0x00);
        }
        case K_SET_BAUD:
            if (f[4] > 4) return status(0xFE);
            c->baud_code = f[4];
            *meaning += " code " + std::to_string(f[4]);
            return status(0x00);
        case K_READ_CLOCK:
            r.bytes.resize(8);
            clock_body(*c, r.bytes.data());
            r.bytes[7] = Check8(r.bytes.data(), 7);
            r.check_pos = 7;
            return r;
        case K_WRITE_CLOCK:
            set_clock(*c, &f[4]);
            return status(0x00);
        case K_ADJUST_CLOCK: {
            const int v = FromBcd(f[5]);
            c->clock_offset_s += f[4] == 0xFF ? -v : v;
            *meaning += " by " + std::string(f[4] == 0xFF ? "-" : "+") + std::to_string(v);
            return status(0x00);
        }
        case K_MEM_READ:
            r = mem_read(*c, f, &m);
            *meaning = "addr=" + std::to_string(addr) + " " + m;
            return r;
        case K_MEM_WRITE:
            r = mem_write(*c, f, &m);
            *meaning = "addr=" + std::to_string(addr) + " " + m;
            return r;
        case K_LAST_ERROR:
            r.bytes.assign(16, 0);
            r.bytes[0] = as;
            r.bytes[1] = c->type;
            r.bytes[7] = c->last_error;
            r.bytes[15] = Check8(r.bytes.data(), 15);
            std::snprintf(b, sizeof b, "last error addr=%d: 0x%02X", addr, c->last_error);
            *meaning = b;
            return r;
        case K_BOOT:
            c->boot_loader = cmd == 0xFA;
            *meaning += cmd == 0xFA ? " enter boot loader" : " leave boot loader";
            return status(0x00);
        default:
            std::snprintf(b, sizeof b, "short command 0x%02X addr=%d (not simulated, no reply)", cmd, addr);
            *meaning = b;
            r.none = true;
            (void)len;
            return r;
        }
    }

    // --- replies and faults -----------------------------------------------
    double byte_ms() const { return baud_emulation > 0 ? 10000.0 / baud_emulation : 0.0; }

    void queue(double due, std::vector<uint8_t> bytes) {
        OutChunk oc{due, std::move(bytes)};
        auto at = std::upper_bound(out.begin(), out.end(), due,
                                   [](double d, const OutChunk& c) { return d < c.due_ms; });
        out.insert(at, std::move(oc));
    }

    // Puts bytes on the line from 'start' on, byte by byte when the line time
    // is emulated.
    void queue_line(double start, const std::vector<uint8_t>& bytes) {
        const double bm = byte_ms();
        if (bm <= 0) {
            queue(start, bytes);
            return;
        }
        for (size_t i = 0; i < bytes.size(); ++i) queue(start + bm * double(i + 1), {bytes[i]});
    }

    void send_reply(Reply r, int kind, int request_len) {
        const bool hit = (fault.kind == K_ANY || fault.kind == kind) && fault.count != 0;
        const bool faulty = hit && (fault.no_reply || fault.bad_check || fault.split_bytes > 0 ||
                                    fault.late_ms > 0 || !fault.stray.empty());
        if (faulty && fault.count > 0) --fault.count;
        if (r.none) return;
        if (faulty && fault.no_reply) {
            log("   reply suppressed (fault: no reply)");
            return;
        }
        std::string note;
        if (faulty && fault.bad_check && !r.bytes.empty()) {
            const int pos = r.check_pos >= 0 ? r.check_pos : int(r.bytes.size()) - 1;
            r.bytes[size_t(pos)] ^= 0x5A;
            note += " [fault: wrong check]";
        }
        double t = now() + byte_ms() * request_len;
        if (faulty && fault.late_ms > 0) {
            t += fault.late_ms;
            note += " [fault: late " + std::to_string(fault.late_ms) + " ms]";
        }
        if (faulty && fault.split_bytes > 0 && int(r.bytes.size()) > fault.split_bytes) {
            note += " [fault: split in parts of " + std::to_string(fault.split_bytes) + ", " +
                    std::to_string(fault.split_delay_ms) + " ms apart]";
            for (size_t i = 0; i < r.bytes.size(); i += size_t(fault.split_bytes)) {
                const size_t n = std::min(r.bytes.size() - i, size_t(fault.split_bytes));
                std::vector<uint8_t> part(r.bytes.begin() + long(i), r.bytes.begin() + long(i + n));
                queue_line(t, part);
                t += fault.split_delay_ms + byte_ms() * double(n);
            }
        } else {
            queue_line(t, r.bytes);
            t += byte_ms() * double(r.bytes.size());
        }
        log_bytes("TX", r.bytes.data(), r.bytes.size(), std::string("reply to ") + kind_name(kind) + note);
        if (faulty && !fault.stray.empty()) {
            queue_line(t, fault.stray);
            log_bytes("TX", fault.stray.data(), fault.stray.size(), "stray bytes (fault)");
        }
    }

    // --- frame parser -----------------------------------------------------
    // Length of the frame at p, given at least 4 bytes with a good head;
    // 0 when more bytes are needed to know it.
    static int frame_length(const uint8_t* p, size_t have) {
        const uint8_t cmd = p[2];
        if (cmd == CMD_TEXT_ID) return 5;
        if (cmd == CMD_SET_ADDRESS || cmd == CMD_SET_BAUD) return 6;
        if (cmd == CMD_WRITE_CLOCK || cmd == CMD_ADJUST_CLOCK) return 12;
        if (cmd == CMD_READ_CLOCK) return 4;
        if ((cmd & 0xF8) == MEM_READ) return 12;
        if ((cmd & 0xF8) == MEM_WRITE) {
            if (have < 12) return 0;
            return p[10] >= 2 ? 12 + p[10] : 12;
        }
        return 4;
    }

    static bool body_ok(const uint8_t* p, int len) {
        const uint8_t cmd = p[2];
        if (cmd == CMD_TEXT_ID) return p[4] == 0x31;
        if (len == 6) return p[5] == Check8(&p[4], 1);
        if (len >= 12) {
            if (p[11] != Check8(&p[4], 7)) return false;
            if (len > 12) return p[len - 1] == Check8(&p[12], size_t(len - 13));
        }
        return true;
    }

    void bad_frame(const uint8_t* p, size_t n, const char* why) {
        ++counts[K_BAD_FRAME];
        log_bytes("RX", p, n, std::string("bad frame, no reply: ") + why);
        changed.notify_all();
    }

    void parse() {
        for (;;) {
            size_t skip = 0;
            while (skip < pending.size() && pending[skip] != FRAME_START) ++skip;
            if (skip > 0) {
                log_bytes("RX", pending.data(), skip, "noise, ignored");
                pending.erase(pending.begin(), pending.begin() + long(skip));
            }
            if (pending.size() < 4) return;
            const uint8_t* p = pending.data();
            if (Check8(p, 3) != p[3]) {
                bad_frame(p, 4, "head check");
                pending.erase(pending.begin());
                continue;
            }
            int len = frame_length(p, pending.size());
            if (len == 0 || pending.size() < size_t(len)) {
                // A memory write whose header is damaged must not make us wait
                // for a payload that is not coming.
                if (pending.size() >= 12 && (p[2] & 0xF8) == MEM_WRITE && p[11] != Check8(&p[4], 7)) {
                    bad_frame(p, 12, "header check");
                    pending.erase(pending.begin());
                    continue;
                }
                return;
            }
            if (!body_ok(p, len)) {
                bad_frame(p, size_t(len), "body check");
                pending.erase(pending.begin(), pending.begin() + len);
                continue;
            }
            int kind = K_OTHER;
            std::string meaning;
            Reply r = handle(p, len, &kind, &meaning);
            log_bytes("RX", p, size_t(len), meaning);
            ++counts[kind];
            send_reply(std::move(r), kind, len);
            pending.erase(pending.begin(), pending.begin() + len);
            changed.notify_all();
        }
    }

    void on_bytes(const uint8_t* p, size_t n) {
        const double t = now();
        rx_chunks.push_back(RxChunk{t, std::vector<uint8_t>(p, p + n)});
        if (rx_chunks.size() > RX_KEEP) rx_chunks.pop_front();
        if (fault.echo) queue(t, std::vector<uint8_t>(p, p + n));
        if (!pending.empty() && t - last_rx_ms > FRAME_GAP_MS) {
            log_bytes("RX", pending.data(), pending.size(), "incomplete frame dropped");
            pending.clear();
        }
        last_rx_ms = t;
        pending.insert(pending.end(), p, p + n);
        parse();
    }

    // --- transport ----------------------------------------------------------
    void close_data() {
        if (data_fd >= 0 && transport != T_PTY) close(data_fd);
        if (transport != T_PTY) data_fd = -1;
        connected = transport == T_PTY || transport == T_SERIAL;
        out.clear();
        pending.clear();
    }

    void try_connect() {
        next_connect_ms = now() + RECONNECT_MS;
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) return;
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(connect_port);
        if (inet_pton(AF_INET, connect_host.c_str(), &sa.sin_addr) != 1) {
            close(fd);
            return;
        }
        set_nonblock(fd);
        int r = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        if (r != 0 && errno == EINPROGRESS) {
            pollfd pf{fd, POLLOUT, 0};
            int err = 0;
            socklen_t el = sizeof err;
            if (poll(&pf, 1, 100) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el) == 0 && err == 0) r = 0;
        }
        if (r != 0) {
            close(fd);
            return;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        data_fd = fd;
        connected = true;
        log("connected to " + connect_host + ":" + std::to_string(connect_port));
        changed.notify_all();
    }

    void flush_due() {
        const double t = now();
        while (!out.empty() && out.front().due_ms <= t) {
            OutChunk& oc = out.front();
            if (data_fd < 0) {
                out.erase(out.begin());
                continue;
            }
            ssize_t n = write(data_fd, oc.bytes.data(), oc.bytes.size());
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;  // the peer is slow; later
            if (n < 0) {
                out.erase(out.begin());
                continue;
            }
            oc.bytes.erase(oc.bytes.begin(), oc.bytes.begin() + n);
            if (!oc.bytes.empty()) return;
            out.erase(out.begin());
        }
    }

    void run() {
        uint8_t buf[4096];
        while (!stop_flag.load()) {
            int timeout = POLL_MS;
            {
                std::lock_guard<std::mutex> hold(mu);
                if (transport == T_TCP_CONNECT && data_fd < 0 && now() >= next_connect_ms) try_connect();
                if (!out.empty()) {
                    const double wait = out.front().due_ms - now();
                    timeout = std::max(0, std::min(POLL_MS, int(wait + 0.999)));
                }
            }
            pollfd pf[2];
            int n = 0, data_at = -1, listen_at = -1;
            if (data_fd >= 0) {
                data_at = n;
                pf[n++] = pollfd{data_fd, POLLIN, 0};
            }
            if (listen_fd >= 0) {
                listen_at = n;
                pf[n++] = pollfd{listen_fd, POLLIN, 0};
            }
            int pr = 0;
            if (n > 0) pr = poll(pf, nfds_t(n), timeout);
            else std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
            std::lock_guard<std::mutex> hold(mu);
            if (pr > 0 && listen_at >= 0 && (pf[listen_at].revents & POLLIN)) {
                int fd = accept(listen_fd, nullptr, nullptr);
                if (fd >= 0) {
                    if (data_fd >= 0) {
                        log("a new client replaces the connected one");
                        close_data();
                    }
                    set_nonblock(fd);
                    int one = 1;
                    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    data_fd = fd;
                    connected = true;
                    log("client connected");
                    changed.notify_all();
                }
            }
            if (pr > 0 && data_at >= 0 && pf[data_at].fd == data_fd &&
                (pf[data_at].revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t got = read(data_fd, buf, sizeof buf);
                if (got > 0) {
                    on_bytes(buf, size_t(got));
                } else if (transport == T_TCP_LISTEN || transport == T_TCP_CONNECT) {
                    if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                        log("peer closed the connection");
                        close_data();
                        changed.notify_all();
                    }
                } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
                    // A pty whose other side is closed reports EIO/HUP; keep
                    // the poll from spinning.
                    std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
                }
            }
            if (!pending.empty() && now() - last_rx_ms > FRAME_GAP_MS) {
                log_bytes("RX", pending.data(), pending.size(), "incomplete frame dropped");
                pending.clear();
            }
            flush_due();
        }
    }

    int start_thread() {
        stop_flag.store(false);
        thread = std::thread([this] { run(); });
        return 0;
    }

    Controller* ctrl(int i) { return i >= 0 && i < int(ctrls.size()) ? &ctrls[size_t(i)] : nullptr; }
    const Controller* ctrl(int i) const {
        return i >= 0 && i < int(ctrls.size()) ? &ctrls[size_t(i)] : nullptr;
    }
};

Simulator::Simulator(const Scenario& scenario) : impl_(new Impl) {
    if (scenario.controllers.empty()) {
        impl_->ctrls.push_back(make_controller(ControllerConfig()));
    } else {
        for (const ControllerConfig& c : scenario.controllers) impl_->ctrls.push_back(make_controller(c));
    }
    impl_->fault = scenario.fault;
    impl_->baud_emulation = scenario.baud_emulation;
}

Simulator::~Simulator() { stop(); }

int Simulator::start_pty(std::string* slave_path, const char* link_path) {
    Impl& d = *impl_;
    if (d.transport != T_NONE) return EBUSY;
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return errno ? errno : EIO;
    termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    set_nonblock(master);
    if (link_path && *link_path) {
        unlink(link_path);
        if (symlink(name, link_path) != 0) {
            int e = errno;
            close(master);
            close(slave);
            return e;
        }
        d.link_path = link_path;
    }
    d.transport = T_PTY;
    d.data_fd = master;
    d.pty_slave = slave;
    d.connected = true;
    if (slave_path) *slave_path = name;
    {
        std::lock_guard<std::mutex> hold(d.mu);
        d.log(std::string("pty ") + name + (d.link_path.empty() ? "" : " linked at " + d.link_path));
    }
    return d.start_thread();
}

int Simulator::start_tcp_listen(uint16_t port, uint16_t* chosen_port) {
    Impl& d = *impl_;
    if (d.transport != T_NONE) return EBUSY;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return errno;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t sl = sizeof sa;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &sl) != 0) {
        int e = errno;
        close(fd);
        return e;
    }
    set_nonblock(fd);
    d.transport = T_TCP_LISTEN;
    d.listen_fd = fd;
    if (chosen_port) *chosen_port = ntohs(sa.sin_port);
    {
        std::lock_guard<std::mutex> hold(d.mu);
        d.log("listening on 127.0.0.1:" + std::to_string(ntohs(sa.sin_port)));
    }
    return d.start_thread();
}

int Simulator::start_tcp_connect(const char* host, uint16_t port) {
    Impl& d = *impl_;
    if (d.transport != T_NONE) return EBUSY;
    in_addr probe;
    if (host == nullptr || inet_pton(AF_INET, host, &probe) != 1) return EINVAL;
    d.transport = T_TCP_CONNECT;
    d.connect_host = host;
    d.connect_port = port;
    {
        std::lock_guard<std::mutex> hold(d.mu);
        d.log("connecting to " + d.connect_host + ":" + std::to_string(port));
    }
    return d.start_thread();
}

int Simulator::start_serial(const char* device, int baud) {
    Impl& d = *impl_;
    if (d.transport != T_NONE) return EBUSY;
    const speed_t sp = speed_of(baud);
    if (sp == B0) return EINVAL;
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno;
    termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        int e = errno;
        close(fd);
        return e;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~CRTSCTS;
    cfsetispeed(&tio, sp);
    cfsetospeed(&tio, sp);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        int e = errno;
        close(fd);
        return e;
    }
    d.transport = T_SERIAL;
    d.data_fd = fd;
    d.connected = true;
    {
        std::lock_guard<std::mutex> hold(d.mu);
        d.log(std::string("serial ") + device + " at " + std::to_string(baud));
    }
    return d.start_thread();
}

void Simulator::stop() {
    Impl& d = *impl_;
    d.stop_flag.store(true);
    if (d.thread.joinable()) d.thread.join();
    if (d.data_fd >= 0) close(d.data_fd);
    if (d.listen_fd >= 0) close(d.listen_fd);
    if (d.pty_slave >= 0) close(d.pty_slave);
    d.data_fd = d.listen_fd = d.pty_slave = -1;
    if (!d.link_path.empty()) unlink(d.link_path.c_str());
    d.link_path.clear();
    d.connected = false;
}

bool Simulator::running() const { return impl_->thread.joinable() && !impl_->stop_flag.load(); }

bool Simulator::wait_connected(int timeout_ms) const {
    std::unique_lock<std::mutex> hold(impl_->mu);
    return impl_->changed.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                   [&] { return impl_->connected; });
}

void Simulator::set_trace_sink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    impl_->sink = std::move(sink);
}

std::vector<std::string> Simulator::trace() const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    return std::vector<std::string>(impl_->trace_lines.begin(), impl_->trace_lines.end());
}

void Simulator::clear_trace() {
    std::lock_guard<std::mutex> hold(impl_->mu);
    impl_->trace_lines.clear();
}

int Simulator::count(int kind) const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    if (kind == K_ANY) {
        int n = 0;
        for (int k = 0; k < K_COUNT; ++k) n += impl_->counts[k];
        return n;
    }
    return kind >= 0 && kind < K_COUNT ? impl_->counts[kind] : 0;
}

void Simulator::reset_counters() {
    std::lock_guard<std::mutex> hold(impl_->mu);
    std::fill(std::begin(impl_->counts), std::end(impl_->counts), 0);
}

bool Simulator::wait_count(int kind, int n, int timeout_ms) const {
    std::unique_lock<std::mutex> hold(impl_->mu);
    return impl_->changed.wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] {
        if (kind == K_ANY) {
            int total = 0;
            for (int k = 0; k < K_COUNT; ++k) total += impl_->counts[k];
            return total >= n;
        }
        return kind >= 0 && kind < K_COUNT && impl_->counts[kind] >= n;
    });
}

std::vector<RxChunk> Simulator::received() const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    return std::vector<RxChunk>(impl_->rx_chunks.begin(), impl_->rx_chunks.end());
}

void Simulator::clear_received() {
    std::lock_guard<std::mutex> hold(impl_->mu);
    impl_->rx_chunks.clear();
}

int Simulator::controller_count() const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    return int(impl_->ctrls.size());
}

std::vector<uint8_t> Simulator::read_memory(int ctrl, int area, uint32_t address, int n) const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    std::vector<uint8_t> v;
    const Controller* c = impl_->ctrl(ctrl);
    if (c == nullptr || (area != 0 && area != 2)) return v;
    const std::vector<uint8_t>& mem = area == 0 ? c->area0 : c->area2;
    for (int i = 0; i < n && address + uint32_t(i) < mem.size(); ++i) v.push_back(mem[address + uint32_t(i)]);
    return v;
}

void Simulator::write_memory(int ctrl, int area, uint32_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    Controller* c = impl_->ctrl(ctrl);
    if (c == nullptr || (area != 0 && area != 2)) return;
    std::vector<uint8_t>& mem = area == 0 ? c->area0 : c->area2;
    for (size_t i = 0; i < bytes.size() && address + i < mem.size(); ++i) mem[address + i] = bytes[i];
}

uint8_t Simulator::side_a(int ctrl) const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    const Controller* c = impl_->ctrl(ctrl);
    return c ? c->side_a() : 0;
}

uint8_t Simulator::side_b(int ctrl) const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    const Controller* c = impl_->ctrl(ctrl);
    return c ? c->side_b() : 0;
}

void Simulator::set_type(int ctrl, uint8_t type) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    if (Controller* c = impl_->ctrl(ctrl)) c->type = type;
}

void Simulator::set_text_id(int ctrl, const std::string& cp866, int terminator) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    if (Controller* c = impl_->ctrl(ctrl)) {
        c->text_id = cp866;
        c->text_terminator = terminator;
    }
}

void Simulator::set_boot_loader(int ctrl, bool on) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    if (Controller* c = impl_->ctrl(ctrl)) c->boot_loader = on;
}

bool Simulator::boot_loader(int ctrl) const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    const Controller* c = impl_->ctrl(ctrl);
    return c && c->boot_loader;
}

void Simulator::set_admin_password(int ctrl, int password) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    if (Controller* c = impl_->ctrl(ctrl)) {
        c->admin_password = password < 0 ? -1 : password & 0xFFFF;
        c->sync_password_flags();
    }
}

void Simulator::set_calibration_password(int ctrl, int password) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    if (Controller* c = impl_->ctrl(ctrl)) {
        c->calibration_password = password < 0 ? -1 : password & 0xFFFF;
        c->sync_password_flags();
    }
}

int Simulator::admin_password(int ctrl) const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    const Controller* c = impl_->ctrl(ctrl);
    return c ? c->admin_password : -1;
}

int Simulator::calibration_password(int ctrl) const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    const Controller* c = impl_->ctrl(ctrl);
    return c ? c->calibration_password : -1;
}

void Simulator::set_password_lock(int ctrl, uint8_t lock) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    if (Controller* c = impl_->ctrl(ctrl)) c->area2[REG_PASSWORD + 1] = lock;
}

void Simulator::set_config_key(int ctrl, bool on) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    if (Controller* c = impl_->ctrl(ctrl)) c->config_key_on = on;
}

bool Simulator::logged_in(int ctrl) const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    const Controller* c = impl_->ctrl(ctrl);
    return c && c->logged_in;
}

uint8_t Simulator::last_error(int ctrl) const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    const Controller* c = impl_->ctrl(ctrl);
    return c ? c->last_error : 0;
}

int Simulator::restart_count(int ctrl) const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    const Controller* c = impl_->ctrl(ctrl);
    return c ? c->restarts : 0;
}

void Simulator::set_fault(const Fault& fault) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    impl_->fault = fault;
}

void Simulator::clear_fault() { set_fault(Fault()); }

Fault Simulator::fault() const {
    std::lock_guard<std::mutex> hold(impl_->mu);
    return impl_->fault;
}

void Simulator::set_baud_emulation(int baud) {
    std::lock_guard<std::mutex> hold(impl_->mu);
    impl_->baud_emulation = baud < 0 ? 0 : baud;
}

double Simulator::now_ms() const { return impl_->now(); }

}  // namespace zsim
