// zove_sim: the controller simulator as a program. It builds a scenario from
// a file and the command line, starts one transport, prints a readiness line
// (flushed, so scripts can wait for it) and runs until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "simulator/sim_internal.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

const char* const HELP =
    "Usage: zove_sim TRANSPORT [OPTIONS]\n"
    "Takes the place of fuel-dispenser controllers on the line for the service tool.\n"
    "\n"
    "Transport (exactly one):\n"
    "  --pty                 create a pty; prints \"pty /dev/pts/N\" (the tool opens that path)\n"
    "  --link PATH           with --pty: also make a symlink PATH to the pty\n"
    "  --tcp-listen PORT     listen on 127.0.0.1:PORT (0 = any free port); prints\n"
    "                        \"listening on 127.0.0.1:PORT\" (the tool uses TCPC_127.0.0.1:PORT)\n"
    "  --tcp-connect H:P     connect to the tool's TCP server (TCPS_P) at IPv4 H, port P;\n"
    "                        reconnects when the connection drops\n"
    "  --serial DEV          use a real serial device, 8N1\n"
    "  --serial-baud RATE    line rate of --serial (default 4800)\n"
    "\n"
    "Controllers (the built-in one is a two-sided mass-meter pump, two nozzles a side,\n"
    "side A at address 1, side B at 2, type 0x24, every settings block filled):\n"
    "  --scenario FILE       JSON scenario: controllers, memory patches, passwords, faults\n"
    "  --controllers N       N built-in controllers at addresses 1/2, 3/4, 5/6, ...\n"
    "  --addresses LIST      side addresses of the controllers, e.g. 1:2,3:4 (one pair each)\n"
    "  --type CODE           device type code of every controller (0x23, 0x24; 0x25 is refused by the tool)\n"
    "  --text-id TEXT        text identifier (UTF-8, sent as code page 866)\n"
    "  --text-end CODE       text terminator: 0 (default), 0x7F, or -1 for none\n"
    "  --boot-loader         start in the boot loader (identifier contains \"boot load\")\n"
    "  --admin-password N    admin password set to N (0..65535)\n"
    "  --calibration-password N\n"
    "  --lock BYTE           password lock byte (0x07 admin locked, 0x38 calibration locked)\n"
    "  --config-key-off      refuse protected writes with last error 'X'\n"
    "\n"
    "Faults (applied to replies; --fault-kind and --fault-count limit them):\n"
    "  --no-reply            do not answer\n"
    "  --bad-check           answer with a wrong check byte\n"
    "  --split N[:MS]        send replies in parts of N bytes, MS ms apart (default 20)\n"
    "  --late MS             answer MS ms late\n"
    "  --stray HEX           send these bytes after every reply, e.g. AA55\n"
    "  --echo                send every received byte back (RS-485 converter without echo suppression)\n"
    "  --fault-kind KIND     only replies to: identify, text_id, mem_read, mem_write, set_address,\n"
    "                        set_baud, read_clock, write_clock, adjust_clock, last_error, boot\n"
    "  --fault-count N       only the next N replies\n"
    "\n"
    "Line and trace:\n"
    "  --baud-emulation RATE emulate the byte time of a RATE baud 8N1 line on the replies\n"
    "  --trace FILE          write the trace (time, hex bytes, meaning) to FILE instead of stderr\n"
    "  --quiet               no trace\n"
    "  --help                this text\n";

bool parse_long(const char* s, long lo, long hi, long* out) {
    if (s == nullptr || *s == 0) return false;
    char* end = nullptr;
    long v = std::strtol(s, &end, 0);
    if (*end != 0 || v < lo || v > hi) return false;
    *out = v;
    return true;
}

int usage_error(const char* what, const char* arg) {
    std::fprintf(stderr, "zove_sim: %s%s%s\nTry zove_sim --help.\n", what, arg ? ": " : "", arg ? arg : "");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zsim;
    Scenario sc;
    bool scenario_loaded = false;
    enum { NONE, PTY, LISTEN, CONNECT, SERIAL } transport = NONE;
    std::string link, host, serial_dev, trace_path, text_id;
    long port = 0, serial_baud = 4800, ncontrollers = 0, v = 0;
    long type = -1, admin = -2, calib = -2, lock = -1, text_end = -2;
    bool boot = false, key_off = false, quiet = false;
    std::string addresses;
    Fault fault;
    bool fault_given = false;
    long baud_emulation = -1;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        auto need = [&](long lo, long hi, long* out) {
            if (!parse_long(next, lo, hi, out)) return false;
            ++i;
            return true;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(HELP, stdout);
            return 0;
        } else if (a == "--pty") {
            transport = PTY;
        } else if (a == "--link" && next) {
            link = next, ++i;
        } else if (a == "--tcp-listen") {
            if (!need(0, 65535, &port)) return usage_error("--tcp-listen needs a port", next);
            transport = LISTEN;
        } else if (a == "--tcp-connect" && next) {
            std::string hp = next;
            ++i;
            size_t colon = hp.rfind(':');
            if (colon == std::string::npos || !parse_long(hp.c_str() + colon + 1, 1, 65535, &port))
                return usage_error("--tcp-connect needs HOST:PORT", hp.c_str());
            host = hp.substr(0, colon);
            if (host == "localhost") host = "127.0.0.1";
            transport = CONNECT;
        } else if (a == "--serial" && next) {
            serial_dev = next, ++i;
            transport = SERIAL;
        } else if (a == "--serial-baud") {
            if (!need(1, 4000000, &serial_baud)) return usage_error("bad --serial-baud", next);
        } else if (a == "--scenario" && next) {
            std::string err;
            if (!load_scenario_file(next, &sc, &err)) return usage_error("scenario", err.c_str());
            scenario_loaded = true;
            ++i;
        } else if (a == "--controllers") {
            if (!need(1, 64, &ncontrollers)) return usage_error("--controllers needs 1..64", next);
        } else if (a == "--addresses" && next) {
            addresses = next, ++i;
        } else if (a == "--type") {
            if (!need(0, 255, &type)) return usage_error("--type needs 0..255", next);
        } else if (a == "--text-id" && next) {
            text_id = next, ++i;
        } else if (a == "--text-end") {
            if (!need(-1, 255, &text_end)) return usage_error("--text-end needs -1..255", next);
        } else if (a == "--boot-loader") {
            boot = true;
        } else if (a == "--admin-password") {
            if (!need(0, 65535, &admin)) return usage_error("--admin-password needs 0..65535", next);
        } else if (a == "--calibration-password") {
            if (!need(0, 65535, &calib)) return usage_error("--calibration-password needs 0..65535", next);
        } else if (a == "--lock") {
            if (!need(0, 255, &lock)) return usage_error("--lock needs 0..255", next);
        } else if (a == "--config-key-off") {
            key_off = true;
        } else if (a == "--no-reply") {
            fault.no_reply = fault_given = true;
        } else if (a == "--bad-check") {
            fault.bad_check = fault_given = true;
        } else if (a == "--split" && next) {
            std::string s = next;
            ++i;
            size_t colon = s.find(':');
            long ms = 20;
            if (!parse_long(s.substr(0, colon).c_str(), 1, 300, &v) ||
                (colon != std::string::npos && !parse_long(s.c_str() + colon + 1, 0, 60000, &ms)))
                return usage_error("--split needs N[:MS]", s.c_str());
            fault.split_bytes = int(v);
            fault.split_delay_ms = int(ms);
            fault_given = true;
        } else if (a == "--late") {
            if (!need(0, 60000, &v)) return usage_error("--late needs 0..60000 ms", next);
            fault.late_ms = int(v);
            fault_given = true;
        } else if (a == "--stray" && next) {
            if (!parse_hex(next, &fault.stray) || fault.stray.empty() || fault.stray.size() > 256)
                return usage_error("--stray needs hexadecimal bytes", next);
            fault_given = true;
            ++i;
        } else if (a == "--echo") {
            fault.echo = fault_given = true;
        } else if (a == "--fault-kind" && next) {
            int k = kind_from_name(next);
            if (k == -2) return usage_error("unknown request kind", next);
            fault.kind = k;
            fault_given = true;
            ++i;
        } else if (a == "--fault-count") {
            if (!need(-1, 1000000, &v)) return usage_error("--fault-count needs a number", next);
            fault.count = int(v);
            fault_given = true;
        } else if (a == "--baud-emulation") {
            if (!need(0, 4000000, &baud_emulation)) return usage_error("bad --baud-emulation", next);
        } else if (a == "--trace" && next) {
            trace_path = next, ++i;
        } else if (a == "--quiet") {
            quiet = true;
        } else {
            return usage_error("unknown or incomplete option", argv[i]);
        }
    }
    if (transport == NONE) return usage_error("choose a transport (--pty, --tcp-listen, --tcp-connect, --serial)", nullptr);

    // Command-line controllers replace the scenario's list; single settings
    // apply to every controller.
    if (ncontrollers > 0 || !addresses.empty()) {
        sc.controllers.clear();
        std::string rest = addresses;
        int n = 0;
        while (!rest.empty()) {
            size_t comma = rest.find(',');
            std::string pair = rest.substr(0, comma);
            rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
            size_t colon = pair.find(':');
            long a = 0, b = 0;
            if (colon == std::string::npos || !parse_long(pair.substr(0, colon).c_str(), 1, 239, &a) ||
                !parse_long(pair.c_str() + colon + 1, 1, 239, &b) || ++n > 64)
                return usage_error("--addresses needs A:B pairs of 1..239", pair.c_str());
            ControllerConfig c;
            c.side_a = uint8_t(a);
            c.side_b = uint8_t(b);
            sc.controllers.push_back(c);
        }
        for (long k = long(sc.controllers.size()); k < ncontrollers; ++k) {
            ControllerConfig c;
            c.side_a = uint8_t(2 * k + 1);
            c.side_b = uint8_t(2 * k + 2);
            sc.controllers.push_back(c);
        }
    }
    if (sc.controllers.empty()) sc.controllers.push_back(ControllerConfig());
    std::string text_cp866;
    if (!text_id.empty() && !utf8_to_cp866(text_id, &text_cp866))
        return usage_error("--text-id cannot be written in code page 866", text_id.c_str());
    for (ControllerConfig& c : sc.controllers) {
        if (type >= 0) c.type = uint8_t(type);
        if (!text_cp866.empty()) c.text_id = text_cp866;
        if (text_end >= -1) c.text_terminator = int(text_end);
        if (boot) c.boot_loader = true;
        if (admin >= 0) c.admin_password = int(admin);
        if (calib >= 0) c.calibration_password = int(calib);
        if (lock >= 0) c.password_lock = uint8_t(lock);
        if (key_off) c.config_key_on = false;
    }
    if (fault_given) sc.fault = fault;
    if (baud_emulation >= 0) sc.baud_emulation = int(baud_emulation);
    (void)scenario_loaded;

    FILE* trace = stderr;
    if (!trace_path.empty()) {
        trace = std::fopen(trace_path.c_str(), "w");
        if (trace == nullptr) return usage_error("cannot open the trace file", trace_path.c_str());
    }

    Simulator sim(sc);
    if (!quiet) {
        sim.set_trace_sink([trace](const std::string& line) {
            std::fprintf(trace, "%s\n", line.c_str());
            std::fflush(trace);
        });
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);

    int r = 0;
    std::string ready;
    if (transport == PTY) {
        std::string path;
        r = sim.start_pty(&path, link.empty() ? nullptr : link.c_str());
        ready = "pty " + path + (link.empty() ? "" : " linked at " + link);
    } else if (transport == LISTEN) {
        uint16_t chosen = 0;
        r = sim.start_tcp_listen(uint16_t(port), &chosen);
        ready = "listening on 127.0.0.1:" + std::to_string(chosen);
    } else if (transport == CONNECT) {
        r = sim.start_tcp_connect(host.c_str(), uint16_t(port));
        ready = "connecting to " + host + ":" + std::to_string(port);
    } else {
        r = sim.start_serial(serial_dev.c_str(), int(serial_baud));
        ready = "serial " + serial_dev + " at " + std::to_string(serial_baud);
    }
    if (r != 0) {
        std::fprintf(stderr, "zove_sim: cannot start: %s\n", std::strerror(r));
        return 1;
    }
    std::printf("%s\n", ready.c_str());
    for (int i = 0; i < sim.controller_count(); ++i)
        std::printf("controller %d: side A %d, side B %d\n", i, sim.side_a(i), sim.side_b(i));
    std::fflush(stdout);

    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sim.stop();
    if (trace != stderr) std::fclose(trace);
    return 0;
}
