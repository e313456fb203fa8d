// Exchange engine and device edge cases through the real port layer against
// the simulator, once over a pty and once over loopback TCP.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/protocol/sim_link.h"

namespace {

using zsim::Fault;

class Exchange : public ::testing::TestWithParam<Transport> {
protected:
    SimLink link;
    void SetUp() override { ASSERT_TRUE(link.open(GetParam())); }

    int identify(DeviceIdent* id, uint8_t address = 1) {
        return link.run([&] { return link.dev.Identify(id, address); });
    }
    // Arrival time of byte i of everything the simulator received.
    double arrival_of_byte(size_t i) {
        size_t seen = 0;
        for (const zsim::RxChunk& c : link.sim.received()) {
            if (i < seen + c.bytes.size()) return c.t_ms;
            seen += c.bytes.size();
        }
        return -1;
    }
    size_t received_bytes() {
        size_t n = 0;
        for (const zsim::RxChunk& c : link.sim.received()) n += c.bytes.size();
        return n;
    }
};

TEST_P(Exchange, ReplyInTwoPartsCompletes) {
    Fault f;
    f.split_bytes = 2;
    f.split_delay_ms = 80;
    f.kind = zsim::K_IDENTIFY;
    link.sim.set_fault(f);
    DeviceIdent id{};
    const uint32_t t0 = NowMs();
    EXPECT_EQ(identify(&id), RES_OK);
    EXPECT_GE(NowMs() - t0, 70u);  // it did wait for the second part
    EXPECT_EQ(id.type, 0x24);
}

TEST_P(Exchange, LateReplyTimesOutAndNextRequestPurgesIt) {
    Fault f;
    f.late_ms = 324 + 40;  // just after the identify deadline, with a margin for a loaded machine
    f.kind = zsim::K_IDENTIFY;
    f.count = 1;
    link.sim.set_fault(f);
    DeviceIdent id{};
    EXPECT_EQ(identify(&id), RES_TIMEOUT);
    ASSERT_GE(link.wait_available(4), 4);  // the late reply lands in the ring
    // The next request must not take those bytes for its reply.
    uint8_t mode = 0xEE;
    EXPECT_EQ(link.run([&] { return link.dev.ReadMemory(zsim::REG_MODE, 2, 1, &mode, 0, 0); }), RES_OK);
    EXPECT_EQ(mode, 0x00);
}

TEST_P(Exchange, StrayByteAfterStatusReplyIsPurged) {
    Fault f;
    f.stray = {0xAA};
    f.kind = zsim::K_MEM_WRITE;
    f.count = 1;
    link.sim.set_fault(f);
    const uint8_t counts[2] = {0x00, 0x00};
    EXPECT_EQ(link.run([&] { return link.dev.WriteMemory(zsim::REG_MODE, 2, counts, 2); }), RES_OK);
    ASSERT_GE(link.wait_available(1), 1);
    DeviceIdent id{};
    EXPECT_EQ(identify(&id), RES_OK);  // AA taken as the reply's first byte would fail its check
    EXPECT_EQ(id.address, 1);
}

struct TextCase {
    const char* name;
    std::string text;
    int terminator;
    int result;
    std::string expected;
    int left_in_ring;
};

const TextCase kTexts[] = {
    {"EndsIn00", "ABC", 0x00, RES_OK, "ABC", 0},
    {"EndsIn7F", "ABC", 0x7F, RES_OK, "ABC", 0},
    {"EndsInSilence", "ABC", -1, RES_OK, "ABC", 0},
    {"Silence", "", -1, RES_TIMEOUT, "", 0},
    {"TwoHundredWithoutTerminator", std::string(200, 'x'), -1, RES_OK, std::string(128, 'x'), 71},
};

TEST_P(Exchange, TextReplies) {
    for (const TextCase& c : kTexts) {
        SCOPED_TRACE(c.name);
        link.sim.set_text_id(0, c.text, c.terminator);
        char text[160];
        std::memset(text, '?', sizeof text);
        const int r = link.run([&] { return link.dev.ReadTextId(text); });
        EXPECT_EQ(r, c.result);
        if (r == RES_OK) {
            EXPECT_EQ(std::string(text), c.expected);
        } else {
            EXPECT_EQ(link.dev.buffer[0], 0);  // an empty string
        }
        EXPECT_EQ(link.wait_available(c.left_in_ring, 500), c.left_in_ring);
    }
}

TEST_P(Exchange, LongMemoryWriteGoesOutAsHeaderPausePayload) {
    const uint8_t two[2] = {0x12, 0x34};
    link.sim.clear_received();
    EXPECT_EQ(link.run([&] { return link.dev.WriteMemory(0x7000, 0, two, 2); }), RES_OK);
    ASSERT_EQ(received_bytes(), 14u);
    EXPECT_EQ(arrival_of_byte(11), arrival_of_byte(0));          // the header in one piece
    EXPECT_GE(arrival_of_byte(12) - arrival_of_byte(11), 45.0);  // the pause
    EXPECT_EQ(arrival_of_byte(13), arrival_of_byte(12));
    EXPECT_EQ(link.sim.read_memory(0, 0, 0x7000, 2), std::vector<uint8_t>({0x12, 0x34}));
}

TEST_P(Exchange, TwelveByteFramesGoOutInOnePiece) {
    uint8_t b[4];
    const uint8_t one = 0x07;
    link.sim.clear_received();
    EXPECT_EQ(link.run([&] { return link.dev.ReadMemory(0x7000, 0, 4, b, 2, 0); }), RES_OK);
    EXPECT_EQ(link.run([&] { return link.dev.WriteMemory(0x7000, 0, &one, 1); }), RES_OK);
    const auto chunks = link.sim.received();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].bytes.size(), 12u);
    EXPECT_EQ(chunks[1].bytes.size(), 12u);
}

TEST_P(Exchange, SixtyEightByteWriteRefusedThenAcceptedAfterLogin) {
    link.sim.set_admin_password(0, 1234);
    const std::vector<uint8_t> main_block = link.sim.read_memory(0, 0, zsim::MAIN_BLOCK, zsim::MAIN_SIZE);
    link.sim.clear_received();
    auto write_main = [&] {
        return link.run([&] { return link.dev.WriteMemory(zsim::MAIN_BLOCK, 0, main_block.data(), 68); });
    };
    EXPECT_EQ(write_main(), RES_REFUSED);
    EXPECT_EQ(received_bytes(), 80u);
    const uint8_t pw[2] = {1234 & 0xFF, 1234 >> 8};
    EXPECT_EQ(link.run([&] { return link.dev.WriteMemory(zsim::REG_PASSWORD, 2, pw, 2); }), RES_OK);
    EXPECT_EQ(write_main(), RES_OK);
}

TEST_P(Exchange, MemoryReadChecks) {
    const struct {
        uint8_t mode;
        bool bad;
        int result;
    } cases[] = {{0, false, RES_OK}, {1, false, RES_OK}, {2, false, RES_OK}, {3, false, RES_OK},
                 {1, true, RES_BAD_CHECK}, {2, true, RES_BAD_CHECK}};
    const std::vector<uint8_t> want = link.sim.read_memory(0, 0, zsim::MAIN_BLOCK, 24);
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode) * 10 + c.bad);
        Fault f;
        f.bad_check = c.bad;
        link.sim.set_fault(f);
        uint8_t got[24] = {};
        EXPECT_EQ(link.run([&] { return link.dev.ReadMemory(zsim::MAIN_BLOCK, 0, 24, got, c.mode, 0); }),
                  c.result);
        EXPECT_EQ(std::vector<uint8_t>(got, got + 24), want);  // delivered even when the check fails
    }
}

TEST_P(Exchange, RejectedArgumentsSendNothing) {
    uint8_t b[256];
    const struct {
        const char* name;
        std::function<int()> op;
        int result;
    } cases[] = {
        {"SetAddress240", [&] { return link.dev.SetAddress(240); }, RES_REFUSED},
        {"SetAddress255", [&] { return link.dev.SetAddress(255); }, RES_REFUSED},
        {"SetBaud600", [&] { return link.dev.SetBaudRate(600); }, RES_UNSUPPORTED},
        {"SetBaud0", [&] { return link.dev.SetBaudRate(0); }, RES_UNSUPPORTED},
        {"Read254NoCheck", [&] { return link.dev.ReadMemory(0, 0, 254, b, 0, 0); }, RES_UNSUPPORTED},
        {"Read253Check8", [&] { return link.dev.ReadMemory(0, 0, 253, b, 1, 0); }, RES_UNSUPPORTED},
        {"Read250Crc", [&] { return link.dev.ReadMemory(0, 0, 250, b, 2, 0); }, RES_UNSUPPORTED},
        {"ReadIntoNothing", [&] { return link.dev.ReadMemory(0, 0, 4, nullptr, 0, 0); }, RES_UNSUPPORTED},
        {"WriteFromNothing", [&] { return link.dev.WriteMemory(0x7000, 0, nullptr, 4); }, RES_UNSUPPORTED},
        {"AdjustBy100", [&] { return link.dev.AdjustClock(100); }, RES_UNSUPPORTED},
        {"AdjustByMinInt", [&] { return link.dev.AdjustClock(-2147483647 - 1); }, RES_UNSUPPORTED},
    };
    link.sim.clear_received();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.op(), c.result);
        EXPECT_EQ(link.dev.CommandStep, 0);
        EXPECT_EQ(link.dev.IsBusy(), 0);
    }
    // The first bytes the simulator sees are those of the next real request.
    DeviceIdent id{};
    EXPECT_EQ(identify(&id), RES_OK);
    EXPECT_EQ(received_bytes(), 4u);
    EXPECT_EQ(link.sim.count(zsim::K_ANY), 1);
}

TEST_P(Exchange, LongestReadThatFitsWorks) {
    uint8_t b[253];
    EXPECT_EQ(link.run([&] { return link.dev.ReadMemory(0x3000, 0, 253, b, 0, 0); }), RES_OK);
    EXPECT_EQ(link.run([&] { return link.dev.ReadMemory(0x3000, 0, 249, b, 2, 0); }), RES_OK);
}

TEST_P(Exchange, ShortCommandsAndClock) {
    EXPECT_EQ(link.run([&] { return link.dev.SetBaudRate(9600); }), RES_OK);
    DeviceClock c{};
    EXPECT_EQ(link.run([&] { return link.dev.ReadClock(&c); }), RES_OK);
    EXPECT_GE(c.year, 2020);
    EXPECT_LE(c.bcd0, 59);
    const DeviceClock set = {3, 24, 12, 2031, 0, 30, 17};
    const double before = link.sim.now_ms();
    EXPECT_EQ(link.run([&] { return link.dev.WriteClock(&set); }), RES_OK);
    ASSERT_TRUE(link.sim.wait_count(zsim::K_WRITE_CLOCK, 1, 1000));
    const auto chunks = link.sim.received();
    EXPECT_GE(chunks.back().t_ms - before, 480.0);  // nothing goes out during the first 500 ms
    EXPECT_EQ(link.run([&] { return link.dev.ReadClock(&c); }), RES_OK);
    EXPECT_EQ(c.year, 2031);
    EXPECT_EQ(c.bcd5, 12);
    EXPECT_EQ(link.run([&] { return link.dev.AdjustClock(-5); }), RES_OK);
    EXPECT_EQ(link.run([&] { return link.dev.SetAddress(9); }), RES_OK);
    EXPECT_EQ(link.dev.address, 9);
    EXPECT_EQ(link.sim.side_a(0), 9);
}

TEST_P(Exchange, SendShortCommandWritesFourBytes) {
    link.sim.clear_received();
    EXPECT_EQ(SendShortCommand(link.port, 1, 0xF0), 1);
    uint8_t reply[16];
    ASSERT_NE(PortReadTimeout(link.port, reply, 16, 1000), 0);
    ASSERT_EQ(received_bytes(), 4u);
    const uint8_t head[3] = {0x60, 0x01, 0xF0};
    EXPECT_EQ(link.sim.received()[0].bytes, std::vector<uint8_t>({0x60, 0x01, 0xF0, Check8(head, 3)}));
}

TEST_P(Exchange, EchoedRequestIsTakenForTheReply) {
    // An RS-485 converter without echo suppression: the tool reads its own
    // identify request back as the reply, and since that carries a valid
    // check byte it is accepted, with the frame start 0x60 as the address.
    Fault f;
    f.echo = true;
    link.sim.set_fault(f);
    DeviceIdent id{};
    EXPECT_EQ(identify(&id), RES_OK);
    EXPECT_EQ(id.address, 0x60);
    EXPECT_EQ(id.type, 0x01);
    EXPECT_EQ(link.dev.IsBusy(), 0);
}

TEST_P(Exchange, NoReplyTimesOut) {
    Fault f;
    f.no_reply = true;
    link.sim.set_fault(f);
    DeviceIdent id{};
    const uint32_t t0 = NowMs();
    EXPECT_EQ(identify(&id), RES_TIMEOUT);
    EXPECT_GE(NowMs() - t0, 320u);
    EXPECT_EQ(link.dev.ExchangeState, EX_IDLE);
}

INSTANTIATE_TEST_SUITE_P(Line, Exchange, ::testing::Values(Transport::Pty, Transport::Tcp), transport_name);

// A clock that does not run must not hang the run loop: it gives up with a
// time-out and leaves the device ready for a fresh request.
TEST(RunLoop, GivesUpWhenTheClockStands) {
    start_clock_and_ports();
    static uint32_t frozen = 0;
    frozen = NowMs();
    ClockSetSource([]() -> uint32_t { return frozen; });
    ZOVEDevice dev(0);
    DeviceIdent id{};
    const int r = run_to_completion(dev, [&] { return dev.Identify(&id, 1); });
    ClockSetSource(nullptr);
    EXPECT_EQ(r, RES_TIMEOUT);
    EXPECT_EQ(dev.CommandStep, 0);
    EXPECT_EQ(dev.ExchangeState, EX_IDLE);
}

}  // namespace
