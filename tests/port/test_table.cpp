// The port table: names and kinds, result codes, limits, exclusive serial
// opens, the line state of a fresh serial port and PortSetLine.
#include <sys/wait.h>

#include <cerrno>

#include "port/port_internal.h"
#include "tests/port/port_test_util.h"

using namespace porttest;

namespace {

struct NameCase {
    const char* label;
    std::string name;
    int result;
    int kind;  // -1: no record to look at
};

class PortNames : public ::testing::TestWithParam<NameCase> {};

}  // namespace

TEST_P(PortNames, OpenResultAndKind) {
    const NameCase& c = GetParam();
    PortHandle h = 0;
    int r = PortOpen(&h, c.name.c_str());
    EXPECT_EQ(r, c.result);
    if (c.result == 0) {
        ASSERT_NE(h, 0);
        EXPECT_EQ(int(port_record(h)->kind), c.kind);
        EXPECT_STREQ(port_record(h)->name, c.name.c_str());
    } else {
        EXPECT_EQ(h, 0) << "a failed open leaves the handle at 0";
    }
    EXPECT_EQ(PortClose(h), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PortNames,
    ::testing::Values(
        NameCase{"Stub", "STUB", 0, PORT_STUB},
        // Only the exact name is the null port; these are serial device names.
        NameCase{"Stub1IsSerial", "STUB1", ENOENT, -1},
        NameCase{"LowerStubIsSerial", "stub", ENOENT, -1},
        NameCase{"ServerWithLetterPicksAPort", "TCPS_x", 0, PORT_TCP_SERVER},
        NameCase{"Client", "TCPC_127.0.0.1:5000", 0, PORT_TCP_CLIENT},
        NameCase{"ClientWithoutColon", "TCPC_127.0.0.1", -1, -1},
        NameCase{"Empty", "", 3, -1},
        NameCase{"NotATerminal", "/dev/null", ENOTTY, -1},
        NameCase{"MissingPath", "/dev/does-not-exist", ENOENT, -1},
        NameCase{"TooLongToKeep", std::string(100, 'a'), ENAMETOOLONG, -1},
        NameCase{"LongestKept", "TCPC_1.2.3.4:" + std::string(99 - 13, '7'), 0, PORT_TCP_CLIENT}),
    [](const ::testing::TestParamInfo<NameCase>& i) { return std::string(i.param.label); });

TEST(PortTable, ServerWithLetterListensOnASystemPickedPort) {
    OpenPort p("TCPS_x");
    ASSERT_EQ(p.result, 0);
    EXPECT_NE(PortTcpLocalPort(p.h), 0);
}

// TCPS_502 listens on port 502 of every local address. Other test runs on
// this machine may hold 502 for a moment, so the open is retried; a refusal
// is only accepted while the port is really taken.
TEST(PortTable, ServerListensOnTheNumberedPort) {
    PortHandle h = 0;
    int r = -1;
    wait_until([&] { return (r = PortOpen(&h, "TCPS_502")) == 0; }, 10000);
    if (r != 0) {
        int probe = tcp_listen(502);
        EXPECT_LT(probe, 0) << "the open failed although 502 is free";
        if (probe >= 0) close(probe);
        return;
    }
    EXPECT_EQ(PortTcpLocalPort(h), 502);
    int c = tcp_connect(502);
    EXPECT_GE(c, 0);
    if (c >= 0) close(c);
    PortClose(h);
}

TEST(PortTable, OpenBeforeInitialisationReturnsNine) {
    // The table of this process is initialised; a fresh copy of the test
    // program makes the check before its initialisation.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("VX_PORT_UNINIT_CHILD", "1", 1);
        execl("/proc/self/exe", "test_port", "--gtest_filter=PortTable.CloseOfNothingChangesNothing", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(PortTable, ThirtyThirdOpenFindsNoRecord) {
    std::vector<PortHandle> open;
    for (int i = 0; i < PORT_SLOTS; ++i) {
        PortHandle h = 0;
        ASSERT_EQ(PortOpen(&h, "STUB"), 0);
        EXPECT_EQ(h, i + 1) << "the lowest free record is taken";
        open.push_back(h);
    }
    PortHandle h = 0;
    EXPECT_EQ(PortOpen(&h, "STUB"), 1);
    EXPECT_EQ(PortOpen(&h, ""), 1) << "a full table is reported before an empty name";
    EXPECT_EQ(h, 0);
    PortClose(open[4]);
    EXPECT_EQ(PortOpen(&h, ""), 3);
    EXPECT_EQ(PortOpen(&h, "STUB"), 0);
    EXPECT_EQ(h, 5);
    open[4] = h;
    for (PortHandle x : open) PortClose(x);
}

TEST(PortTable, OpenWithoutAHandleVariableIsRefused) {
    EXPECT_EQ(PortOpen(nullptr, "STUB"), EINVAL);
    PortHandle h = 0;
    ASSERT_EQ(PortOpen(&h, "STUB"), 0);
    EXPECT_EQ(h, 1) << "the refused open took no record";
    PortClose(h);
}

TEST(PortTable, CloseOfNothingChangesNothing) {
    EXPECT_EQ(PortClose(0), 1);
    EXPECT_EQ(PortClose(PORT_SLOTS + 1), 1);
    PortHandle h = 0;
    ASSERT_EQ(PortOpen(&h, "STUB"), 0);
    EXPECT_EQ(PortClose(h), 1);
    EXPECT_EQ(PortClose(h), 1);  // already free
}

TEST(PortTable, HandleZeroAndStubDoNothing) {
    uint8_t b[4];
    EXPECT_EQ(PortAvailable(0), 0);
    EXPECT_EQ(PortRead(0, b, 1), 0);
    EXPECT_EQ(PortWrite(0, b, 1), 0);
    PortPurge(0);
    EXPECT_EQ(PortReadTimeout(0, b, 1, 10), 0);
    EXPECT_EQ(PortReadByte(0, b, 10), -1);
    EXPECT_EQ(PortTxEmpty(0), 1);
    EXPECT_EQ(PortSetLine(0, 9600, 8, 'N', 1), 2);

    OpenPort s("STUB");
    EXPECT_EQ(PortWrite(s.h, "dropped", 7), 1);
    EXPECT_EQ(PortAvailable(s.h), 0);
    EXPECT_EQ(PortRead(s.h, b, 0), 0);
    EXPECT_EQ(PortReadTimeout(s.h, b, 1, 10), 0);
    EXPECT_EQ(PortReadByte(s.h, b, 10), -1);
    EXPECT_EQ(PortTxEmpty(s.h), 1);
}

TEST(PortTable, SetLineOnNetworkAndNullPortsChangesNothing) {
    for (const char* name : {"STUB", "TCPS_0", "TCPC_127.0.0.1:1"}) {
        OpenPort p(name);
        ASSERT_EQ(p.result, 0) << name;
        EXPECT_EQ(PortSetLine(p.h, 9600, 7, 'E', 2), 0) << name;
    }
}

// --- serial open ------------------------------------------------------------------

TEST(SerialOpen, FreshLineIsRaw4800EightNoneOne) {
    Pty pty;
    OpenPort p(pty.path);
    ASSERT_EQ(p.result, 0);
    termios t;
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B4800));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(SerialOpen, PortIsTakenExclusively) {
    Pty pty;
    PortHandle first = 0, second = 0;
    ASSERT_EQ(PortOpen(&first, pty.path.c_str()), 0);
    EXPECT_NE(PortOpen(&second, pty.path.c_str()), 0);
    EXPECT_EQ(second, 0);
    PortClose(first);
    EXPECT_EQ(PortOpen(&second, pty.path.c_str()), 0) << "closing gives the device back";
    PortClose(second);
}

TEST(SerialOpen, NameWithoutSlashIsLookedUpInDev) {
    Pty pty;
    ASSERT_EQ(pty.path.compare(0, 5, "/dev/"), 0);
    OpenPort p(pty.path.substr(5));  // "pts/N"
    EXPECT_EQ(p.result, 0);
}

// --- PortSetLine on a pty -------------------------------------------------------------
// A pty keeps the speed, PARODD, CMSPAR and CSTOPB but clears PARENB and forces
// CS8, so those are what can be checked here.

namespace {

struct LineCase {
    const char* label;
    int baud;
    uint8_t data_bits;
    char parity;
    uint8_t stop_bits;
    unsigned expect_baud;
    tcflag_t set;
    tcflag_t clear;
};

class SetLine : public ::testing::TestWithParam<LineCase> {};

}  // namespace

TEST_P(SetLine, AppliesWhatIsGivenAndKeepsTheRest) {
    const LineCase& c = GetParam();
    Pty pty;
    OpenPort p(pty.path);
    ASSERT_EQ(p.result, 0);
    // A known starting point: odd parity, two stop bits.
    ASSERT_EQ(PortSetLine(p.h, 38400, 8, 'O', 2), 0);
    ASSERT_EQ(PortSetLine(p.h, c.baud, c.data_bits, c.parity, c.stop_bits), 0);
    termios t;
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    unsigned baud = 0;
    ASSERT_EQ(serial_get_baud(pty.slave, &baud), 0);
    EXPECT_EQ(baud, c.expect_baud);
    EXPECT_EQ(t.c_cflag & c.set, c.set);
    EXPECT_EQ(t.c_cflag & c.clear, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetLine,
    ::testing::Values(
        LineCase{"BaudZeroIs4800", 0, 8, 'N', 1, 4800, 0, PARODD | CMSPAR | CSTOPB},
        LineCase{"UnknownParityAndStopBitsStay", 9600, 8, 'X', 3, 9600, PARODD | CSTOPB, CMSPAR},
        LineCase{"Even", 19200, 8, 'E', 1, 19200, 0, PARODD | CMSPAR | CSTOPB},
        LineCase{"Mark", 19200, 8, 'M', 1, 19200, PARODD | CMSPAR, CSTOPB},
        LineCase{"Space", 19200, 8, 'S', 2, 19200, CMSPAR | CSTOPB, PARODD},
        LineCase{"SpaceZ", 19200, 8, 'Z', 2, 19200, CMSPAR | CSTOPB, PARODD},
        LineCase{"NonStandardRate", 250000, 8, 'N', 1, 250000, 0, PARODD | CMSPAR | CSTOPB},
        LineCase{"OddDataBitsIgnored", 115200, 9, 'O', 1, 115200, PARODD, CSTOPB}),
    [](const ::testing::TestParamInfo<LineCase>& i) { return std::string(i.param.label); });

TEST(SetLineSerial, NonStandardRateAndBackAndBadRate) {
    Pty pty;
    OpenPort p(pty.path);
    ASSERT_EQ(p.result, 0);
    unsigned baud = 0;
    ASSERT_EQ(PortSetLine(p.h, 250000, 8, 'O', 2), 0);
    ASSERT_EQ(PortSetLine(p.h, 250000, 8, 'N', 1), 0);  // framing change keeps the rate
    ASSERT_EQ(serial_get_baud(pty.slave, &baud), 0);
    EXPECT_EQ(baud, 250000u);
    ASSERT_EQ(PortSetLine(p.h, 9600, 8, 'N', 1), 0);
    termios t;
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(PortSetLine(p.h, -5, 8, 'N', 1), EINVAL);
    ASSERT_EQ(serial_get_baud(pty.slave, &baud), 0);
    EXPECT_EQ(baud, 9600u) << "a refused setting leaves the line as it was";
}
