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

INSTANTIATE_TEST_SUITE_P(Kinds, EveryKind,
                         ::testing::Values(Kind::Pty, Kind::Server, Kind::Client), kind_name);
