// Byte I/O on every kind of port: both directions, PortRead all or nothing,
// the ring's wrap, purge, the timed reads, a line that goes away.
#include <memory>

#include "port/port_internal.h"
#include "tests/port/port_test_util.h"

using namespace porttest;

static ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new PortEnvironment);

namespace {

// An open port and the test's end of its line, whatever the kind.
struct Link {
    virtual ~Link() = default;
    PortHandle h = 0;
    virtual bool far_send(const std::vector<uint8_t>& d) = 0;
    virtual std::vector<uint8_t> far_receive(size_t n) = 0;
};

struct PtyLink : Link {
    Pty pty;
    PtyLink() { PortOpen(&h, pty.path.c_str()); }
    ~PtyLink() override { PortClose(h); }
    bool far_send(const std::vector<uint8_t>& d) override { return pty.send(d); }
    std::vector<uint8_t> far_receive(size_t n) override { return pty.receive(n); }
};

struct ServerLink : Link {
    int peer = -1;
    ServerLink() {
        PortOpen(&h, "TCPS_0");
        peer = tcp_connect(PortTcpLocalPort(h));
        // Accepted by the next I/O call.
        wait_until([&] {
            PortAvailable(h);
            return port_record(h)->clients[0] >= 0;
        });
    }
    ~ServerLink() override {
        PortClose(h);
        if (peer >= 0) close(peer);
    }
    bool far_send(const std::vector<uint8_t>& d) override { return fd_send(peer, d); }
    std::vector<uint8_t> far_receive(size_t n) override { return fd_receive(peer, n); }
};

struct ClientLink : Link {
    int listener = -1;
    int peer = -1;
    ClientLink() {
        listener = tcp_listen();
        std::string name = "TCPC_127.0.0.1:" + std::to_string(local_port(listener));
        PortOpen(&h, name.c_str());
        PortAvailable(h);  // starts the connect
        peer = tcp_accept(listener);
        wait_until([&] {
            PortAvailable(h);
            return port_record(h)->connected == 1;
        });
    }
    ~ClientLink() override {
        PortClose(h);
        if (peer >= 0) close(peer);
        if (listener >= 0) close(listener);
    }
    bool far_send(const std::vector<uint8_t>& d) override { return fd_send(peer, d); }
    std::vector<uint8_t> far_receive(size_t n) override { return fd_receive(peer, n); }
};

enum class Kind { Pty, Server, Client };

std::unique_ptr<Link> make_link(Kind k) {
    switch (k) {
        case Kind::Pty: return std::make_unique<PtyLink>();
        case Kind::Server: return std::make_unique<ServerLink>();
        case Kind::Client: return std::make_unique<ClientLink>();
    }
    return nullptr;
}

std::string kind_name(const ::testing::TestParamInfo<Kind>& info) {
    switch (info.param) {
        case Kind::Pty: return "Pty";
        case Kind::Server: return "TcpServer";
        case Kind::Client: return "TcpClient";
    }
    return "?";
}

class EveryKind : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        link = make_link(GetParam());
        ASSERT_NE(link->h, 0);
    }
    std::unique_ptr<Link> link;
};

}  // namespace

TEST_P(EveryKind, BytesFlowBothWays) {
    auto out = pattern(300, 1);
    ASSERT_EQ(PortWrite(link->h, out.data(), int(out.size())), 1);
    EXPECT_EQ(link->far_receive(out.size()), out);

    auto in = pattern(700, 2);
    ASSERT_TRUE(link->far_send(in));
    EXPECT_EQ(port_take(link->h, int(in.size())), in);
    EXPECT_EQ(PortAvailable(link->h), 0);
}

TEST_P(EveryKind, ReadIsAllOrNothing) {
    ASSERT_TRUE(link->far_send(bytes("abcd")));
    ASSERT_TRUE(wait_until([&] { return PortAvailable(link->h) == 4; }));
    uint8_t buf[8] = {};
    EXPECT_EQ(PortRead(link->h, buf, 5), 0);
    EXPECT_EQ(PortAvailable(link->h), 4);  // nothing consumed
    EXPECT_EQ(PortRead(link->h, buf, 4), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
    EXPECT_EQ(PortRead(link->h, buf, 1), 0);
}

TEST_P(EveryKind, ReadTimeoutKeepsPartialBytesForTheNextRead) {
    ASSERT_TRUE(link->far_send(bytes("xyz")));
    ASSERT_TRUE(wait_until([&] { return PortAvailable(link->h) == 3; }));
    uint8_t buf[8] = {};
    EXPECT_EQ(PortReadTimeout(link->h, buf, 5, 50), 0);
    ASSERT_TRUE(link->far_send(bytes("12")));
    EXPECT_NE(PortReadTimeout(link->h, buf, 5, 5000), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "xyz12");
}

TEST_P(EveryKind, ReadTimeoutWaitsForLateBytes) {
    uint8_t buf[4] = {};
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        link->far_send(bytes("LATE"));
    });
    int r = PortReadTimeout(link->h, buf, 4, 10000);
    late.join();
    EXPECT_NE(r, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "LATE");
}

TEST_P(EveryKind, ReadByte) {
    uint8_t b = 0;
    EXPECT_EQ(PortReadByte(link->h, &b, 0), 0);  // one look, then time-out
    ASSERT_TRUE(link->far_send(bytes("Q")));
    EXPECT_EQ(PortReadByte(link->h, &b, 10000), 1);
    EXPECT_EQ(b, 'Q');
}

TEST_P(EveryKind, PurgeDropsTheRing) {
    ASSERT_TRUE(link->far_send(bytes("old")));
    ASSERT_TRUE(wait_until([&] { return PortAvailable(link->h) == 3; }));
    PortPurge(link->h);
    EXPECT_EQ(PortAvailable(link->h), 0);
    ASSERT_TRUE(link->far_send(bytes("new")));
    EXPECT_EQ(port_take(link->h, 3), bytes("new"));
}

TEST_P(EveryKind, TxEmpty) {
    ASSERT_EQ(PortWrite(link->h, "abc", 3), 1);
    link->far_receive(3);
    EXPECT_TRUE(wait_until([&] { return PortTxEmpty(link->h) == 1; }));
}


TEST_P(EveryKind, RingWrapsInArrivalOrder) {
    auto first = pattern(6000, 3);
    ASSERT_TRUE(link->far_send(first));
    EXPECT_EQ(port_take(link->h, 6000), first);
    auto second = pattern(6000, 4);  // crosses the end of the ring
    ASSERT_TRUE(link->far_send(second));
    EXPECT_EQ(port_take(link->h, 6000), second);
    EXPECT_EQ(port_record(link->h)->head, 12000 - PORT_RING_SIZE);
}

// A full ring refuses new bytes: they stay queued in the system until a
// reader makes room, so nothing is overwritten and nothing is lost.
TEST_P(EveryKind, FullRingLeavesNewBytesQueued) {
    const int total = 12000;
    auto data = pattern(total, 5);
    std::thread feeder([&] { link->far_send(data); });
    int most = 0;
    bool full = wait_until([&] {
        int a = PortAvailable(link->h);
        most = std::max(most, a);
        return a == PORT_RING_SIZE - 1;
    }, 10000);
    std::vector<uint8_t> got(static_cast<size_t>(total));
    ASSERT_TRUE(full);
    ASSERT_EQ(PortRead(link->h, got.data(), PORT_RING_SIZE - 1), 1);
    int rest = total - (PORT_RING_SIZE - 1);
    EXPECT_TRUE(wait_until([&] { return PortAvailable(link->h) >= rest; }, 10000));
    feeder.join();
    EXPECT_EQ(PortAvailable(link->h), rest);
    ASSERT_EQ(PortRead(link->h, got.data() + PORT_RING_SIZE - 1, rest), 1);
    EXPECT_LE(most, PORT_RING_SIZE - 1);
    EXPECT_EQ(got, data);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryKind,
                         ::testing::Values(Kind::Pty, Kind::Server, Kind::Client), kind_name);

// --- serial specifics ------------------------------------------------------------

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(PortOpen(&h, pty.path.c_str()), 0); }
    void TearDown() override { PortClose(h); }
    Pty pty;
    PortHandle h = 0;
};

TEST_F(SerialPort, PurgeDropsRingAndSystemQueue) {
    ASSERT_TRUE(pty.send(bytes("in-ring")));
    ASSERT_TRUE(wait_until([&] { return PortAvailable(h) == 7; }));
    ASSERT_TRUE(pty.send(bytes("in-queue")));
    ASSERT_TRUE(wait_until([&] { return pty.queued_at_slave() == 8; }));
    PortPurge(h);
    EXPECT_EQ(pty.queued_at_slave(), 0);
    EXPECT_EQ(PortAvailable(h), 0);
    ASSERT_TRUE(pty.send(bytes("after")));
    EXPECT_EQ(port_take(h, 5), bytes("after"));
}

TEST_F(SerialPort, PartialBytesFromTheSystemSurviveATimeout) {
    ASSERT_TRUE(pty.send(bytes("ab")));
    ASSERT_TRUE(wait_until([&] { return pty.queued_at_slave() == 2; }));
    uint8_t buf[4];
    EXPECT_EQ(PortReadTimeout(h, buf, 4, 30), 0);
    EXPECT_EQ(port_take(h, 2), bytes("ab"));
}

static double thread_cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// The far end of the line closes (as when a USB converter is unplugged):
// nothing may spin, hang or fail loudly; the port just stops receiving.
TEST_F(SerialPort, LineThatGoesAwayEndsInTimeOuts) {
    ASSERT_TRUE(pty.send(bytes("last")));
    ASSERT_TRUE(wait_until([&] { return pty.queued_at_slave() == 4; }));
    pty.close_master();
    EXPECT_EQ(PortAvailable(h) <= 4, true);
    PortPurge(h);
    EXPECT_EQ(PortAvailable(h), 0);

    auto t0 = std::chrono::steady_clock::now();
    double cpu0 = thread_cpu_ms();
    uint8_t buf[4];
    EXPECT_EQ(PortReadTimeout(h, buf, 4, 300), 0);
    uint8_t b;
    EXPECT_EQ(PortReadByte(h, &b, 100), 0);
    EXPECT_EQ(PortWrite(h, "data", 4), 1);
    PortTxEmpty(h);
    double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    double cpu = thread_cpu_ms() - cpu0;
    EXPECT_GE(wall, 300.0);
    EXPECT_LT(wall, 5000.0);
    EXPECT_LT(cpu, wall / 2) << "the waits must sleep, not spin";
}
