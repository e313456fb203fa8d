// TCP server and client ports over real loopback connections.
#include <csignal>
#include <memory>

#include "port/port_internal.h"
#include "tests/port/port_test_util.h"

using namespace porttest;

namespace {

int queued(int fd) {
    int q = 0;
    ioctl(fd, FIONREAD, &q);
    return q;
}

class TcpServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(PortOpen(&h, "TCPS_0"), 0);
        port = PortTcpLocalPort(h);
        ASSERT_NE(port, 0);
    }
    void TearDown() override {
        PortClose(h);
        for (int fd : peers)
            if (fd >= 0) close(fd);
    }
    // Connects one more client and steps the port until it took it into
    // `slot`.
    int connect_client(int slot) {
        int fd = tcp_connect(port);
        peers.push_back(fd);
        EXPECT_TRUE(wait_until([&] {
            PortAvailable(h);
            return rec()->clients[slot] >= 0;
        })) << "slot " << slot;
        return fd;
    }
    PortRecord* rec() { return port_record(h); }
    PortHandle h = 0;
    uint16_t port = 0;
    std::vector<int> peers;
};

}  // namespace

TEST_F(TcpServer, ClientsMergeInSlotOrderAndWritesReachAll) {
    int c0 = connect_client(0);
    int c1 = connect_client(1);
    ASSERT_TRUE(fd_send(c1, bytes("BBB")));
    ASSERT_TRUE(fd_send(c0, bytes("AAA")));
    // Both are queued in the system before the one poll that takes them.
    ASSERT_TRUE(wait_until([&] { return queued(rec()->clients[0]) == 3 && queued(rec()->clients[1]) == 3; }));
    ASSERT_EQ(PortAvailable(h), 6);
    uint8_t buf[6];
    ASSERT_EQ(PortRead(h, buf, 6), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 6), "AAABBB");

    ASSERT_EQ(PortWrite(h, "hello", 5), 1);
    EXPECT_EQ(fd_receive(c0, 5), bytes("hello"));
    EXPECT_EQ(fd_receive(c1, 5), bytes("hello"));
}

TEST_F(TcpServer, WriteWithoutClientsSucceeds) { EXPECT_EQ(PortWrite(h, "x", 1), 1); }

TEST_F(TcpServer, SeventeenthClientWaitsForAFreeSlot) {
    for (int i = 0; i < TCP_CLIENT_SLOTS; ++i) connect_client(i);
    int extra = tcp_connect(port);  // completes in the listen queue
    ASSERT_GE(extra, 0);
    peers.push_back(extra);
    ASSERT_TRUE(fd_send(extra, bytes("X")));
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(PortAvailable(h), 0);
        SleepMs(1);
    }
    close(peers[0]);  // client 0 leaves: its slot frees, the waiting one moves in
    peers[0] = -1;
    ASSERT_TRUE(wait_until([&] { return PortAvailable(h) == 1; }));
    uint8_t b = 0;
    ASSERT_EQ(PortRead(h, &b, 1), 1);
    EXPECT_EQ(b, 'X');
    EXPECT_GE(rec()->clients[0], 0);
}

// Peers that close in order or reset the connection are dropped by the poll.
class TcpServerPeerGoes : public TcpServer, public ::testing::WithParamInterface<bool> {};

TEST_P(TcpServerPeerGoes, ClientIsDropped) {
    int c = connect_client(0);
    if (GetParam()) {
        linger l{1, 0};  // close with a reset
        setsockopt(c, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    close(c);
    peers[0] = -1;
    EXPECT_TRUE(wait_until([&] {
        PortAvailable(h);
        return rec()->clients[0] < 0;
    }));
}
INSTANTIATE_TEST_SUITE_P(CloseOrReset, TcpServerPeerGoes, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Reset" : "Close"; });

// --- idle clients, on injected time ---------------------------------------------

namespace {
std::atomic<uint32_t> g_fake_now{0};
uint32_t fake_now() { return g_fake_now.load(); }
}  // namespace

class TcpServerIdle : public TcpServer {
protected:
    void SetUp() override {
        g_fake_now = NowMs();
        ClockSetSource(fake_now);
        TcpServer::SetUp();
    }
    void TearDown() override {
        TcpServer::TearDown();
        ClockSetSource(nullptr);
    }
    void advance_to(uint32_t t) {
        g_fake_now = t;
        ClockSample();
    }
};

TEST_F(TcpServerIdle, IdleClientIsDroppedAfterSixtySeconds) {
    uint32_t t0 = NowMs();
    int c = connect_client(0);
    advance_to(t0 + 30000);
    ASSERT_TRUE(fd_send(c, bytes("k")));  // traffic refreshes the deadline
    ASSERT_EQ(port_take(h, 1), bytes("k"));
    advance_to(t0 + 30000 + 59999);
    PortAvailable(h);
    EXPECT_GE(rec()->clients[0], 0);
    advance_to(t0 + 30000 + 60000);
    PortAvailable(h);
    EXPECT_LT(rec()->clients[0], 0);
    EXPECT_TRUE(fd_sees_close(c));
}

TEST_F(TcpServer, ReopenAtOnceAfterClose) {
    int c = connect_client(0);
    ASSERT_EQ(PortWrite(h, "x", 1), 1);
    fd_receive(c, 1);
    PortClose(h);  // our side closes first and keeps the address in TIME_WAIT
    h = 0;
    std::string name = "TCPS_" + std::to_string(port);
    EXPECT_EQ(PortOpen(&h, name.c_str()), 0);
}

// --- client ---------------------------------------------------------------------

namespace {

std::string client_name(uint16_t port) { return "TCPC_127.0.0.1:" + std::to_string(port); }

}  // namespace

TEST(TcpClient, FirstWriteWaitsForTheConnect) {
    int listener = tcp_listen();
    OpenPort p(client_name(local_port(listener)));
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(PortWrite(p.h, "first", 5), 1);  // right after opening: not lost
    int peer = tcp_accept(listener);
    EXPECT_EQ(fd_receive(peer, 5), bytes("first"));
    close(peer);
    close(listener);
}

TEST(TcpClient, RefusedThenConnectsOnceThePeerListens) {
    uint16_t port = free_tcp_port();
    OpenPort p(client_name(port));
    ASSERT_EQ(p.result, 0);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(PortWrite(p.h, "lost", 4), 0);
        EXPECT_EQ(PortAvailable(p.h), 0);
        SleepMs(1);
    }
    int listener = tcp_listen(port);
    ASSERT_GE(listener, 0);
    ASSERT_TRUE(wait_until([&] {
        PortAvailable(p.h);
        return port_record(p.h)->connected == 1;
    }));
    int peer = tcp_accept(listener);
    ASSERT_EQ(PortWrite(p.h, "now", 3), 1);
    EXPECT_EQ(fd_receive(peer, 3), bytes("now"));
    close(peer);
    close(listener);
}

TEST(TcpClient, ReconnectsAfterThePeerWentAwayAndCameBack) {
    int listener = tcp_listen();
    uint16_t port = local_port(listener);
    OpenPort p(client_name(port));
    ASSERT_EQ(PortWrite(p.h, "a", 1), 1);
    int peer = tcp_accept(listener);
    ASSERT_EQ(fd_receive(peer, 1), bytes("a"));

    close(peer);  // the converter restarts
    close(listener);
    EXPECT_TRUE(wait_until([&] {
        PortAvailable(p.h);
        return port_record(p.h)->connected == 0;
    }));
    EXPECT_EQ(PortWrite(p.h, "b", 1), 0);

    listener = tcp_listen(port);
    ASSERT_GE(listener, 0);
    EXPECT_TRUE(wait_until([&] { return PortWrite(p.h, "c", 1) == 1; }));
    peer = tcp_accept(listener);
    EXPECT_EQ(fd_receive(peer, 1), bytes("c"));
    ASSERT_TRUE(fd_send(peer, bytes("reply")));
    EXPECT_EQ(port_take(p.h, 5), bytes("reply"));
    close(peer);
    close(listener);
}

TEST(TcpClient, MalformedAddressOpensButNeverConnects) {
    OpenPort p("TCPC_300.1.2.3:4000");
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(port_record(p.h)->peer_addr, 0xFFFFFFFFu);
    EXPECT_EQ(PortWrite(p.h, "x", 1), 0);
    EXPECT_EQ(PortAvailable(p.h), 0);
}

// Writing to a peer that went away must never raise SIGPIPE (which would
// end the program): the write just fails.
TEST(TcpPorts, VanishedPeerDoesNotRaiseSigpipe) {
    ASSERT_EQ(signal(SIGPIPE, SIG_DFL), SIG_DFL);
    // Server side.
    {
        OpenPort s("TCPS_0");
        int c = tcp_connect(PortTcpLocalPort(s.h));
        ASSERT_TRUE(wait_until([&] {
            PortAvailable(s.h);
            return port_record(s.h)->clients[0] >= 0;
        }));
        close(c);
        EXPECT_TRUE(wait_until([&] { return PortWrite(s.h, "x", 1) == 0 || port_record(s.h)->clients[0] < 0; }));
    }
    // Client side.
    {
        int listener = tcp_listen();
        OpenPort cl(client_name(local_port(listener)));
        ASSERT_EQ(PortWrite(cl.h, "x", 1), 1);
        close(tcp_accept(listener));
        close(listener);
        EXPECT_TRUE(wait_until([&] { return PortWrite(cl.h, "y", 1) == 0; }));
    }
}

// A listener whose accept queue is full drops new connection requests, so a
// connect to it stays pending: the write bound and the connect deadline can
// be seen at work.
class TcpClientPending : public ::testing::Test {
protected:
    void SetUp() override {
        listener = tcp_listen_backlog0();
        ASSERT_GE(listener, 0);
        filler = tcp_connect(local_port(listener));  // takes the one place in the queue
        ASSERT_GE(filler, 0);
    }
    void TearDown() override {
        ClockSetSource(nullptr);
        if (filler >= 0) close(filler);
        if (listener >= 0) close(listener);
    }
    static int tcp_listen_backlog0() {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 0) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }
    int listener = -1;
    int filler = -1;
};

TEST_F(TcpClientPending, WriteWaitsAtMostHalfASecondThenDrops) {
    OpenPort p(client_name(local_port(listener)));
    ASSERT_EQ(p.result, 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(PortWrite(p.h, "x", 1), 0);
    auto waited = std::chrono::steady_clock::now() - t0;
    if (port_record(p.h)->connect_state != 1) GTEST_SKIP() << "the system did not keep the connect pending";
    EXPECT_GE(waited, std::chrono::milliseconds(450));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
}

TEST_F(TcpClientPending, PendingConnectIsStartedAgainAfterTenSeconds) {
    g_fake_now = NowMs();
    ClockSetSource(fake_now);
    OpenPort p(client_name(local_port(listener)));
    ASSERT_EQ(p.result, 0);
    PortAvailable(p.h);
    PortRecord* r = port_record(p.h);
    if (r->connect_state != 1) GTEST_SKIP() << "the system did not keep the connect pending";
    uint16_t first_deadline = r->connect_deadline;
    EXPECT_EQ(first_deadline, uint16_t(Now16() + 10000));

    g_fake_now = g_fake_now + 9999;
    ClockSample();
    PortAvailable(p.h);
    EXPECT_EQ(r->connect_state, 1u);
    g_fake_now = g_fake_now + 1;
    ClockSample();
    PortAvailable(p.h);  // gives the attempt up
    EXPECT_EQ(r->connect_state, 0u);
    PortAvailable(p.h);  // and starts a new one
    EXPECT_EQ(r->connect_state, 1u);
    EXPECT_EQ(r->connect_deadline, uint16_t(Now16() + 10000));
}
