// The simulator's own behaviour: scenarios, the built-in pump's blocks,
// addresses that follow the main block, passwords and refusals, the
// last-error query, restart, several controllers, bad frames, the other
// transports and the command line.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "tests/protocol/sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- scenarios --------------------------------------------------------------

TEST(Scenario, LoadsControllersTextsMemoryAndFaults) {
    const char* json = R"({
      "controllers": [
        {"side_a": 5, "side_b": "0x06", "type": "0x23", "text_id": "Пример",
         "admin_password": 1234, "password_lock": 56,
         "memory": [{"area": 2, "address": "0x24", "hex": "41"}]},
        {"side_a": 7, "side_b": 8, "text_id_hex": "41 42", "text_terminator": -1, "boot_loader": true}
      ],
      "fault": {"late_ms": 400, "kind": "identify", "count": 2, "stray": "AA55"},
      "baud_emulation": 4800})";
    zsim::Scenario s;
    std::string err;
    ASSERT_TRUE(zsim::parse_scenario(json, &s, &err)) << err;
    ASSERT_EQ(s.controllers.size(), 2u);
    EXPECT_EQ(s.controllers[0].side_b, 6);
    EXPECT_EQ(s.controllers[0].type, 0x23);
    EXPECT_EQ(s.controllers[0].text_id, std::string("\x8F\xE0\xA8\xAC\xA5\xE0"));  // code page 866
    EXPECT_EQ(s.controllers[1].text_id, "AB");
    EXPECT_EQ(s.controllers[1].text_terminator, -1);
    EXPECT_TRUE(s.controllers[1].boot_loader);
    EXPECT_EQ(s.fault.kind, zsim::K_IDENTIFY);
    EXPECT_EQ(s.fault.stray, Bytes({0xAA, 0x55}));
    EXPECT_EQ(s.baud_emulation, 4800);

    zsim::Simulator sim(s);
    EXPECT_EQ(sim.side_a(0), 5);
    EXPECT_EQ(sim.read_memory(0, 2, zsim::REG_MODE, 1), Bytes({0x41}));
    EXPECT_EQ(sim.read_memory(0, 2, zsim::REG_PASSWORD, 2), Bytes({0x01, 56}));
    EXPECT_EQ(sim.admin_password(0), 1234);
}

TEST(Scenario, RejectsBadInputWithAReason) {
    const char* bad[] = {
        "",
        "not json",
        "[1, 2]",
        R"({"controllers": {}})",
        R"({"controllers": [{"side_a": 0}]})",
        R"({"controllers": [{"side_a": "x"}]})",
        R"({"controllers": [{"type": 300}]})",
        R"({"controllers": [{"memory": [{"area": 1, "address": 0, "hex": "00"}]}]})",
        R"({"controllers": [{"memory": [{"area": 0, "address": "0xFFFF", "hex": "00 00"}]}]})",
        R"({"controllers": [{"memory": [{"area": 0, "address": 0, "hex": "0G"}]}]})",
        R"({"controllers": [{"text_id_hex": "123"}]})",
        R"({"fault": {"kind": "nonsense"}})",
        R"({"fault": {"late_ms": -5}})",
        R"({"baud_emulation": "fast"})",
    };
    for (const char* json : bad) {
        zsim::Scenario s;
        std::string err;
        EXPECT_FALSE(zsim::parse_scenario(json, &s, &err)) << json;
        EXPECT_FALSE(err.empty()) << json;
    }
    std::string err;
    zsim::Scenario s;
    EXPECT_FALSE(zsim::load_scenario_file("/nonexistent/scenario.json", &s, &err));
}

// ---- the built-in pump over the line ------------------------------------------

class Pump : public ::testing::Test {
protected:
    SimLink link;
    void SetUp() override { ASSERT_TRUE(link.open(Transport::Pty)); }
    int identify(uint8_t address, DeviceIdent* id = nullptr) {
        DeviceIdent tmp{};
        return link.run([&] { return link.dev.Identify(id ? id : &tmp, address); });
    }
    int write(uint32_t address, uint8_t area, const Bytes& data) {
        return link.run([&] { return link.dev.WriteMemory(address, area, data.data(), uint8_t(data.size())); });
    }
    int read(uint32_t address, uint8_t area, uint8_t n, Bytes* out) {
        out->assign(n, 0);
        return link.run([&] { return link.dev.ReadMemory(address, area, n, out->data(), 2, 0); });
    }
    uint8_t last_error() {
        uint8_t reply[16] = {};
        SendShortCommand(link.port, link.dev.address, 0xF0);
        return PortReadTimeout(link.port, reply, 16, 300) ? reply[7] : 0;
    }
};

TEST_F(Pump, BlocksAreLaidOutForTheForm) {
    DeviceIdent id{};
    ASSERT_EQ(identify(1, &id), RES_OK);
    EXPECT_EQ(id.type, 0x24);
    Bytes m, e, counts, pressure, pw, mode;
    ASSERT_EQ(read(zsim::MAIN_BLOCK, 0, 68, &m), RES_OK);
    ASSERT_EQ(read(zsim::EXTRA_BLOCK, 0, 60, &e), RES_OK);
    ASSERT_EQ(read(zsim::REG_SERVICE_COUNTS, 2, 4, &counts), RES_OK);
    ASSERT_EQ(read(zsim::REG_PRESSURE, 2, 4, &pressure), RES_OK);
    ASSERT_EQ(read(zsim::REG_PASSWORD, 2, 2, &pw), RES_OK);
    ASSERT_EQ(read(zsim::REG_MODE, 2, 1, &mode), RES_OK);
    EXPECT_EQ(m[2], 0x22);                      // marker
    EXPECT_EQ(m[3], 1);                         // side A
    EXPECT_EQ(m[4], 2);                         // side B
    EXPECT_EQ(m[9], 2);                         // sides
    EXPECT_EQ(m[10], 2);                        // nozzles per side
    EXPECT_EQ(m[29], 0);                        // nozzle_wait, not on the form
    EXPECT_EQ(m[23] | m[24] | m[45], 0);        // reserved bytes
    EXPECT_EQ((m[32] | m[33] << 8) & 0xFF80, 0);  // trk_modes2 only in the list's bits
    EXPECT_EQ((m[66] | m[67] << 8) & 0xFF81, 0);  // tbl_dot_flags: bits 0, 7..15 clear
    EXPECT_EQ((e[8] | e[9] << 8) & 0x1FC0, 0);    // mass_flags bits 6..12 clear
    EXPECT_EQ(counts, Bytes({2, 0, 5, 0}));
    EXPECT_EQ(pressure, Bytes({0x50, 0x0A, 0x60, 0x0A}));
    EXPECT_EQ(pw, Bytes({0, 0}));
    EXPECT_EQ(mode, Bytes({0}));
    for (int i = 0; i < 4; ++i) {
        Bytes r;
        ASSERT_EQ(read(zsim::METER_BLOCK + 0x100u * i, 0, 15, &r), RES_OK);
        EXPECT_EQ(r[11], 1);  // coef_int
    }
    char text[160];
    ASSERT_EQ(link.run([&] { return link.dev.ReadTextId(text); }), RES_OK);
    EXPECT_EQ(std::strstr(text, "boot load"), nullptr);
}

TEST_F(Pump, MainBlockWriteMovesTheAddressesAtTheRestart) {
    Bytes m = link.sim.read_memory(0, 0, zsim::MAIN_BLOCK, 68);
    m[3] = 3;
    m[4] = 4;
    ASSERT_EQ(write(zsim::MAIN_BLOCK, 0, m), RES_OK);
    EXPECT_EQ(link.sim.side_a(0), 3);
    DeviceIdent id{};
    // The new addresses are stored at once but answered only after a restart.
    EXPECT_EQ(identify(1, &id), RES_OK);
    EXPECT_EQ(identify(3), RES_TIMEOUT);
    ASSERT_EQ(write(0x88FFFF, 0, {0x55}), RES_OK);
    EXPECT_EQ(identify(1), RES_TIMEOUT);
    EXPECT_EQ(identify(3, &id), RES_OK);
    EXPECT_EQ(id.address, 3);
    EXPECT_EQ(identify(4, &id), RES_OK);
    EXPECT_EQ(id.address, 4);
    EXPECT_EQ(identify(0, &id), RES_OK);  // the broadcast answers with side A
    EXPECT_EQ(id.address, 3);
}

struct PasswordCase {
    const char* name;
    int admin;          // -1: not set
    uint8_t lock;
    bool key_on;
    int login;          // -1: no login
    int login_result;
    int write_result;   // the protected write after it
    uint8_t error;      // last error afterwards
};

const PasswordCase kPasswords[] = {
    {"NoPasswordWritesFreely", -1, 0, true, -1, RES_OK, RES_OK, 0},
    {"NoLoginRefused", 1234, 0, true, -1, RES_OK, RES_REFUSED, zsim::ERR_WRONG_PASSWORD},
    {"RightLogin", 1234, 0, true, 1234, RES_OK, RES_OK, 0},
    {"WrongLogin", 1234, 0, true, 4321, RES_REFUSED, RES_REFUSED, zsim::ERR_WRONG_PASSWORD},
    {"LockedEntry", 1234, 0x07, true, 1234, RES_REFUSED, RES_REFUSED, zsim::ERR_ENTRY_LOCKED},
    {"CalibrationLockDoesNotBlockAdmin", 1234, 0x38, true, 1234, RES_OK, RES_OK, 0},
    {"KeyOff", -1, 0, false, -1, RES_OK, RES_REFUSED, zsim::ERR_CONFIG_KEY},
    {"KeyOffAfterLogin", 1234, 0, false, 1234, RES_OK, RES_REFUSED, zsim::ERR_CONFIG_KEY},
};

void PrintTo(const PasswordCase& c, std::ostream* os) { *os << c.name; }

class Passwords : public Pump, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(Passwords, LoginAndProtectedWrite) {
    const PasswordCase& c = GetParam();
    link.sim.set_admin_password(0, c.admin);
    link.sim.set_password_lock(0, c.lock);
    link.sim.set_config_key(0, c.key_on);
    ASSERT_EQ(identify(1), RES_OK);
    if (c.login >= 0) {
        EXPECT_EQ(write(zsim::REG_PASSWORD, 2, {uint8_t(c.login), uint8_t(c.login >> 8)}), c.login_result);
    }
    const Bytes extra = link.sim.read_memory(0, 0, zsim::EXTRA_BLOCK, 60);
    EXPECT_EQ(write(zsim::EXTRA_BLOCK, 0, extra), c.write_result);
    EXPECT_EQ(last_error(), c.error);
}

INSTANTIATE_TEST_SUITE_P(Cases, Passwords, ::testing::ValuesIn(kPasswords),
                         [](const ::testing::TestParamInfo<PasswordCase>& i) { return std::string(i.param.name); });

TEST_F(Pump, IdentifyAndRestartEndTheLogin) {
    link.sim.set_admin_password(0, 1111);
    const Bytes login = {0x57, 0x04};  // 1111
    const Bytes pw = {0x39, 0x30};     // 12345 (registers take any 16-bit value)
    ASSERT_EQ(write(zsim::REG_PASSWORD, 2, login), RES_OK);
    EXPECT_TRUE(link.sim.logged_in(0));
    ASSERT_EQ(identify(1), RES_OK);
    EXPECT_FALSE(link.sim.logged_in(0));
    EXPECT_EQ(write(zsim::REG_CAL_PASSWORD, 2, pw), RES_REFUSED);
    ASSERT_EQ(write(zsim::REG_PASSWORD, 2, login), RES_OK);
    EXPECT_EQ(write(zsim::REG_CAL_PASSWORD, 2, pw), RES_OK);
    EXPECT_EQ(link.sim.calibration_password(0), 12345);
    Bytes state;
    ASSERT_EQ(read(zsim::REG_PASSWORD, 2, 2, &state), RES_OK);
    EXPECT_EQ(state[0], 0x03);  // both passwords set
    ASSERT_EQ(write(zsim::RESTART_ADDR, 0, {0x55}), RES_OK);
    EXPECT_EQ(link.sim.restart_count(0), 1);
    EXPECT_FALSE(link.sim.logged_in(0));
    ASSERT_EQ(write(zsim::REG_PASSWORD, 2, login), RES_OK);
    EXPECT_EQ(write(zsim::REG_ADMIN_PASSWORD, 2, {0, 0}), RES_OK);  // 0 removes it
    EXPECT_EQ(link.sim.admin_password(0), -1);
}

TEST_F(Pump, BadFramesGetNoReply) {
    const uint8_t set_address[3] = {0x60, 0x01, 0x20};
    const Bytes frames[] = {
        {0x60, 0x01, 0x21, 0xBB},                                            // head check
        {0x60, 0x01, 0x20, Check8(set_address, 3), 0x05, 0x00},              // data check
        {0x60, 0x01, 0x42, 0x7C, 0, 0, 0, 0, 0x02, 0x34, 0x02, 0x3B, 0x12, 0x00},  // payload check
        {0x60, 0x01, 0x4A, 0x6C, 0x02, 0x00, 0x00, 0x00, 0x29, 0x00, 0x18, 0x00},  // header body check
    };
    for (const Bytes& f : frames) {
        link.sim.reset_counters();
        PortPurge(link.port);
        PortWrite(link.port, f.data(), int(f.size()));
        ASSERT_TRUE(link.sim.wait_count(zsim::K_BAD_FRAME, 1, 2000));
        DeviceIdent id{};
        EXPECT_EQ(identify(1, &id), RES_OK);  // nothing came back in between
        EXPECT_EQ(id.address, 1);
    }
}

TEST_F(Pump, GarbageNeverStopsTheController) {
    std::mt19937 rng(42);
    Bytes junk(4000);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = i % 7 == 0 ? 0x60 : uint8_t(rng());
    junk.insert(junk.end(), 300, 0x00);  // completes whatever frame the junk began
    PortWrite(link.port, junk.data(), int(junk.size()));
    const uint32_t until = NowMs() + 5000;
    size_t got = 0;
    while (got < junk.size() && !DeadlineReached(until)) {
        SleepMs(5);
        got = 0;
        for (const zsim::RxChunk& c : link.sim.received()) got += c.bytes.size();
    }
    ASSERT_EQ(got, junk.size());
    EXPECT_GT(link.sim.count(zsim::K_BAD_FRAME), 0);
    // Replies to frames that happened to be valid may still be on their way;
    // the controller must answer a clean request within a few attempts.
    int r = RES_TIMEOUT;
    for (int attempt = 0; attempt < 3 && r != RES_OK; ++attempt) r = identify(1);
    EXPECT_EQ(r, RES_OK);
}

TEST_F(Pump, BootLoaderIdentifiesItself) {
    ASSERT_EQ(SendShortCommand(link.port, 1, 0xFA), 1);
    uint8_t ack = 0xEE;
    ASSERT_EQ(PortReadByte(link.port, &ack, 500), 1);
    EXPECT_EQ(ack, 0x00);
    EXPECT_TRUE(link.sim.boot_loader(0));
    char text[160];
    ASSERT_EQ(link.run([&] { return link.dev.ReadTextId(text); }), RES_OK);
    EXPECT_NE(std::strstr(text, "boot load"), nullptr);
    ASSERT_EQ(SendShortCommand(link.port, 1, 0xF1), 1);
    ASSERT_EQ(PortReadByte(link.port, &ack, 500), 1);
    EXPECT_FALSE(link.sim.boot_loader(0));
}

TEST(Line, SeveralControllersAndTheBroadcast) {
    zsim::Scenario s;
    s.controllers.resize(2);
    s.controllers[0].side_a = 3;
    s.controllers[0].side_b = 4;
    s.controllers[1].side_a = 1;
    s.controllers[1].side_b = 2;
    s.controllers[1].type = 0x25;
    SimLink link(s);
    ASSERT_TRUE(link.open(Transport::Pty));
    const struct {
        uint8_t to, answers_as, type;
    } cases[] = {{0, 3, 0x24}, {3, 3, 0x24}, {4, 4, 0x24}, {1, 1, 0x25}, {2, 2, 0x25}};
    for (const auto& c : cases) {
        DeviceIdent id{};
        ASSERT_EQ(link.run([&] { return link.dev.Identify(&id, c.to); }), RES_OK);
        EXPECT_EQ(id.address, c.answers_as);
        EXPECT_EQ(id.type, c.type);
    }
    DeviceIdent id{};
    EXPECT_EQ(link.run([&] { return link.dev.Identify(&id, 5); }), RES_TIMEOUT);
}

TEST(Line, PtyLinkFollowsTheSimulator) {
    char dir[] = "/tmp/zsim_link_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string link_path = std::string(dir) + "/pump";
    std::string slave;
    {
        zsim::Simulator sim;
        ASSERT_EQ(sim.start_pty(&slave, link_path.c_str()), 0);
        char target[256] = {};
        ASSERT_GT(readlink(link_path.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(slave, target);
        EXPECT_NE(sim.trace().front().find("pty " + slave), std::string::npos);
    }
    EXPECT_NE(access(link_path.c_str(), F_OK), 0);  // removed on stop
    rmdir(dir);
}

TEST(Line, ByteTimeEmulationSlowsReplies) {
    SimLink link;
    ASSERT_TRUE(link.open(Transport::Pty));
    link.sim.set_baud_emulation(1200);  // 8.3 ms a byte: 4 request + 4 reply bytes
    DeviceIdent id{};
    const uint32_t t0 = NowMs();
    ASSERT_EQ(link.run([&] { return link.dev.Identify(&id, 1); }), RES_OK);
    EXPECT_GE(NowMs() - t0, 60u);
}

// The simulator connecting to the tool's TCP server port.
TEST(Line, ConnectsToTheToolsServer) {
    start_clock_and_ports();
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t sl = sizeof sa;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&sa), &sl), 0);
    const int port_no = ntohs(sa.sin_port);
    close(probe);  // the tool's server takes this free port over
    PortHandle port = 0;
    ASSERT_EQ(PortOpen(&port, ("TCPS_" + std::to_string(port_no)).c_str()), 0);
    zsim::Simulator sim;
    ASSERT_EQ(sim.start_tcp_connect("127.0.0.1", uint16_t(port_no)), 0);
    const uint32_t until = NowMs() + 5000;
    while (!sim.wait_connected(5) && !DeadlineReached(until)) PortAvailable(port);
    ASSERT_TRUE(sim.wait_connected(0));
    for (int i = 0; i < 100; ++i) PortAvailable(port);  // let the server accept
    ZOVEDevice dev(port);
    DeviceIdent id{};
    int r = RES_TIMEOUT;
    for (int attempt = 0; attempt < 5 && r != RES_OK; ++attempt)
        r = run_to_completion(dev, [&] { return dev.Identify(&id, 1); });
    EXPECT_EQ(r, RES_OK);
    EXPECT_EQ(id.type, 0x24);
    PortClose(port);
    sim.stop();
}

// ---- the program --------------------------------------------------------------

std::string run_and_read(const char* cmd) {
    std::string out;
    FILE* p = popen(cmd, "r");
    if (!p) return out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

TEST(ProgramHelp, DescribesEveryOption) {
    const std::string help = run_and_read(VX_BINARY_DIR "/zove_sim --help");
    const char* options[] = {"--pty", "--link", "--tcp-listen", "--tcp-connect", "--serial", "--scenario",
                             "--controllers", "--addresses", "--type", "--admin-password", "--lock",
                             "--config-key-off", "--no-reply", "--bad-check", "--split", "--late", "--stray",
                             "--echo", "--fault-kind", "--fault-count", "--baud-emulation", "--trace"};
    for (const char* o : options) EXPECT_NE(help.find(o), std::string::npos) << o;
    EXPECT_NE(run_and_read(VX_BINARY_DIR "/zove_sim --bogus 2>&1").find("--help"), std::string::npos);
}

// zove_sim started as a program with its options; the test waits for the
// readiness line, talks to it over TCP and ends it with SIGTERM by its pid.
struct ProgramCase {
    const char* name;
    std::vector<std::string> args;
    int first;   // result of the first identify
    int second;  // result of the next one
    uint8_t type;
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

// A fresh scenario file; the caller removes it.
std::string scenario_file() {
    char name[] = "/tmp/zsim_scenario_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return "";
    const std::string json = R"({"controllers":[{"type":"0x23"}],"fault":{"no_reply":true,"count":1}})";
    const bool ok = ::write(fd, json.data(), json.size()) == ssize_t(json.size());
    close(fd);
    return ok ? name : "";
}

class Program : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(Program, PrintsReadinessAndAnswersOverTcp) {
    const ProgramCase& c = GetParam();
    start_clock_and_ports();
    std::vector<std::string> args = {"zove_sim", "--tcp-listen", "0", "--quiet"};
    std::string scenario;
    for (const std::string& a : c.args) {
        if (a == "@scenario") scenario = scenario_file();
        args.push_back(a == "@scenario" ? scenario : a);
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execv(VX_BINARY_DIR "/zove_sim", argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string line;
    pollfd pf{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&pf, 1, 5000) == 1) {
        char buf[256];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, size_t(n));
    }
    if (!scenario.empty()) unlink(scenario.c_str());  // read before the readiness line
    int port_no = 0;
    EXPECT_EQ(std::sscanf(line.c_str(), "listening on 127.0.0.1:%d", &port_no), 1) << line;
    PortHandle port = 0;
    if (port_no > 0) {
        ASSERT_EQ(PortOpen(&port, ("TCPC_127.0.0.1:" + std::to_string(port_no)).c_str()), 0);
        ZOVEDevice dev(port);
        DeviceIdent id{};
        EXPECT_EQ(run_to_completion(dev, [&] { return dev.Identify(&id, 1); }), c.first);
        EXPECT_EQ(run_to_completion(dev, [&] { return dev.Identify(&id, 1); }), c.second);
        EXPECT_EQ(id.type, c.type);
        PortClose(port);
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(out[0]);
}

const ProgramCase kPrograms[] = {
    {"TypeOption", {"--type", "0x23"}, RES_OK, RES_OK, 0x23},
    {"FaultOptions", {"--no-reply", "--fault-kind", "identify", "--fault-count", "1"}, RES_TIMEOUT, RES_OK, 0x24},
    {"BadCheckOption", {"--bad-check", "--fault-count", "1"}, RES_BAD_CHECK, RES_OK, 0x24},
    {"ScenarioFile", {"--scenario", "@scenario"}, RES_TIMEOUT, RES_OK, 0x23},
    {"Addresses", {"--addresses", "5:1"}, RES_OK, RES_OK, 0x24},
};

INSTANTIATE_TEST_SUITE_P(Options, Program, ::testing::ValuesIn(kPrograms),
                         [](const ::testing::TestParamInfo<ProgramCase>& i) { return std::string(i.param.name); });

}  // namespace
