// The worked examples of the wire format and of the controller operations:
// check values, BCD, address order, and every request frame with a scripted
// reply. The peer is a pty held by the test, reached through the real port
// layer, so the exact bytes on the line are seen and any reply can be given.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "tests/protocol/sim_link.h"

using Bytes = std::vector<uint8_t>;

namespace {

// ---- check values, BCD, address order --------------------------------------

struct CheckCase {
    Bytes data;
    uint8_t check8;
};

TEST(Check8, WorkedValues) {
    const CheckCase cases[] = {
        {{}, 0xFF}, {{0x60, 0x01, 0x21}, 0xBA}, {{0x60, 0xF0, 0x21}, 0x7D}, {{0x00}, 0xFF}, {{0x05}, 0xF5},
    };
    for (const CheckCase& c : cases) EXPECT_EQ(Check8(c.data.data(), c.data.size()), c.check8);
}

uint32_t crc_bitwise(const Bytes& d) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < d.size(); i += 4) {
        uint32_t w = 0;
        for (size_t j = 0; j < 4 && i + j < d.size(); ++j) w |= uint32_t(d[i + j]) << (8 * j);
        for (int b = 31; b >= 0; --b) {
            const bool top = ((crc >> 31) ^ (w >> b)) & 1;
            crc = top ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

TEST(Crc32Words, WorkedValues) {
    const struct {
        Bytes data;
        uint32_t crc;
    } cases[] = {
        {{0x01, 0x02, 0x03, 0x04}, 0x1DABE74Fu},
        {{0x61, 0x62, 0x63}, 0xE1208697u},
        {{0x61, 0x62, 0x63, 0x00}, 0xE1208697u},
        {{0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39}, 0xAFF19057u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Crc32Words(0xFFFFFFFFu, c.data.data(), c.data.size()), c.crc);
        EXPECT_EQ(crc_bitwise(c.data), c.crc);
    }
}

TEST(Crc32Words, TableEqualsBitwiseDefinition) {
    std::mt19937 rng(7);
    for (int len = 0; len < 80; ++len) {
        Bytes d(static_cast<size_t>(len));
        for (uint8_t& b : d) b = uint8_t(rng());
        EXPECT_EQ(Crc32Words(0xFFFFFFFFu, d.data(), d.size()), crc_bitwise(d)) << "length " << len;
    }
}

TEST(Bcd, WorkedValuesAndRoundTrip) {
    EXPECT_EQ(ToBcd(59), 0x59);
    EXPECT_EQ(FromBcd(0x59), 59);
    for (int v = 0; v < 100; ++v) {
        EXPECT_EQ(ToBcd(uint8_t(v)), (v / 10) << 4 | (v % 10));
        EXPECT_EQ(FromBcd(ToBcd(uint8_t(v))), v);
    }
}

TEST(MemAddress, TravelsMiddleHighLow) {
    const struct {
        uint32_t address;
        Bytes wire;
    } cases[] = {{0x29, {0x00, 0x00, 0x29}}, {0x3101, {0x31, 0x00, 0x01}}, {0x123456, {0x34, 0x12, 0x56}}};
    for (const auto& c : cases) {
        uint8_t p[3];
        PutMemAddress(p, c.address);
        EXPECT_EQ(Bytes(p, p + 3), c.wire);
        EXPECT_EQ(GetMemAddress(p), c.address);
    }
}

TEST(StatusByte, MapsToResult) {
    EXPECT_EQ(StatusToResult(0x00), RES_OK);
    EXPECT_EQ(StatusToResult(0xFF), RES_REFUSED);
    EXPECT_EQ(StatusToResult(0xFE), RES_UNSUPPORTED);
    EXPECT_EQ(StatusToResult(0x01), RES_FAILED);
    EXPECT_EQ(StatusToResult(0x80), RES_FAILED);
}

// ---- request frames and replies over a pty ----------------------------------

Bytes with_check(Bytes b, size_t from) {
    b.push_back(Check8(b.data() + from, b.size() - from));
    return b;
}

Bytes crc_le(const Bytes& d) {
    const uint32_t c = Crc32Words(0xFFFFFFFFu, d.data(), d.size());
    return {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(c >> 24)};
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Short frame head to address 1.
Bytes head(uint8_t cmd) { return with_check({0x60, 0x01, cmd}, 0); }

Bytes seq(int n, uint8_t first) {
    Bytes b(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) b[size_t(i)] = uint8_t(first + i);
    return b;
}

// Results the operations leave behind for the checks of a case.
struct Outcome {
    DeviceIdent ident{};
    DeviceClock clock{};
    char text[160] = {};
    uint8_t data[300] = {};
};

struct FrameCase {
    const char* name;
    std::function<int(ZOVEDevice&, Outcome&)> op;
    Bytes request;
    Bytes reply;
    int result;
    std::function<void(const ZOVEDevice&, const Outcome&)> check;
};

const DeviceClock kClock = {3, 24, 12, 2031, 45, 30, 17};  // raw, bcd4, bcd5, year, bcd0..2

const FrameCase kFrames[] = {
    {"IdentifyBroadcast", [](ZOVEDevice& d, Outcome& o) { return d.Identify(&o.ident, 0); },
     {0x60, 0xF0, 0x21, 0x7D}, {0x05, 0x24, 0x00, 0x47}, RES_OK,
     [](const ZOVEDevice& d, const Outcome& o) {
         EXPECT_EQ(d.address, 5);
         EXPECT_EQ(o.ident.address, 5);
         EXPECT_EQ(o.ident.type, 0x24);
     }},
    {"IdentifyBadCheck", [](ZOVEDevice& d, Outcome& o) { return d.Identify(&o.ident, 0); },
     {0x60, 0xF0, 0x21, 0x7D}, {0x05, 0x24, 0x00, 0x48}, RES_BAD_CHECK,
     [](const ZOVEDevice& d, const Outcome&) { EXPECT_EQ(d.address, 1); }},
    {"IdentifyAddressed", [](ZOVEDevice& d, Outcome& o) { return d.Identify(&o.ident, 1); },
     {0x60, 0x01, 0x21, 0xBA}, with_check({0x01, 0x23, 0x07}, 0), RES_OK,
     [](const ZOVEDevice&, const Outcome& o) {
         EXPECT_EQ(o.ident.type, 0x23);
         EXPECT_EQ(o.ident.extra, 0x07);
     }},
    {"TextId", [](ZOVEDevice& d, Outcome& o) { return d.ReadTextId(o.text); },
     {0x60, 0x01, 0x00, 0xF8, 0x31}, {'A', 'B', 'C', 0x00, 'D'}, RES_OK,
     [](const ZOVEDevice&, const Outcome& o) { EXPECT_STREQ(o.text, "ABC"); }},
    {"ReadWithCrc", [](ZOVEDevice& d, Outcome& o) { return d.ReadMemory(0x29, 2, 24, o.data, 2, 0); },
     {0x60, 0x01, 0x4A, 0x6C, 0x02, 0x00, 0x00, 0x00, 0x29, 0x00, 0x18, 0x87},
     cat(cat(seq(24, 1), crc_le(seq(24, 1))), {0x99}), RES_OK,
     [](const ZOVEDevice&, const Outcome& o) { EXPECT_EQ(Bytes(o.data, o.data + 24), seq(24, 1)); }},
    {"ReadWithWrongCrcKeepsData",
     [](ZOVEDevice& d, Outcome& o) { return d.ReadMemory(0x29, 2, 24, o.data, 2, 0); },
     {0x60, 0x01, 0x4A, 0x6C, 0x02, 0x00, 0x00, 0x00, 0x29, 0x00, 0x18, 0x87},
     cat(cat(seq(24, 1), {0, 0, 0, 0}), {0x99}), RES_BAD_CHECK,
     [](const ZOVEDevice&, const Outcome& o) { EXPECT_EQ(Bytes(o.data, o.data + 24), seq(24, 1)); }},
    {"ReadWithCheck8", [](ZOVEDevice& d, Outcome& o) { return d.ReadMemory(0x3101, 0, 3, o.data, 1, 0); },
     with_check(cat(head(0x48), {0x01, 0x00, 0x31, 0x00, 0x01, 0x00, 0x03}), 4),
     {0x0A, 0x0B, 0x0C, Check8((const uint8_t*)"\x0A\x0B\x0C", 3), 0x00}, RES_OK,
     [](const ZOVEDevice&, const Outcome& o) { EXPECT_EQ(Bytes(o.data, o.data + 3), Bytes({0x0A, 0x0B, 0x0C})); }},
    {"ReadNoCheckIgnoresLastByte",
     [](ZOVEDevice& d, Outcome& o) { return d.ReadMemory(0x3101, 0, 2, o.data, 0, 0); },
     with_check(cat(head(0x48), {0x00, 0x00, 0x31, 0x00, 0x01, 0x00, 0x02}), 4), {0x22, 0x01, 0x5A},
     RES_OK, [](const ZOVEDevice&, const Outcome& o) { EXPECT_EQ(o.data[0], 0x22); }},
    {"WriteOneByte",
     [](ZOVEDevice& d, Outcome&) { const uint8_t b = 0x05; return d.WriteMemory(0x25, 2, &b, 1); },
     {0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x25, 0x05, 0x01, 0xC0}, {0xFF, 0xFF}, RES_OK, nullptr},
    {"WriteTwoBytesRefused",
     [](ZOVEDevice& d, Outcome&) { const uint8_t b[2] = {0x34, 0x12}; return d.WriteMemory(2, 2, b, 2); },
     {0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x02, 0x34, 0x02, 0x3B, 0x12, 0xDB}, {0xFF},
     RES_REFUSED, nullptr},
    {"WriteTwoBytesFeIsOk",
     [](ZOVEDevice& d, Outcome&) { const uint8_t b[2] = {0x34, 0x12}; return d.WriteMemory(2, 2, b, 2); },
     {0x60, 0x01, 0x42, 0x7C, 0x00, 0x00, 0x00, 0x00, 0x02, 0x34, 0x02, 0x3B, 0x12, 0xDB}, {0xFE}, RES_OK,
     nullptr},
    {"SetAddress239", [](ZOVEDevice& d, Outcome&) { return d.SetAddress(239); },
     cat(head(0x20), with_check({0xEF}, 0)),
     {0x00}, RES_OK, [](const ZOVEDevice& d, const Outcome&) { EXPECT_EQ(d.address, 239); }},
    {"SetAddressUnsupported", [](ZOVEDevice& d, Outcome&) { return d.SetAddress(7); },
     cat(with_check({0x60, 0x01, 0x20}, 0), with_check({0x07}, 0)), {0xFE}, RES_UNSUPPORTED,
     [](const ZOVEDevice& d, const Outcome&) { EXPECT_EQ(d.address, 1); }},
    {"SetBaudFailedStatus", [](ZOVEDevice& d, Outcome&) { return d.SetBaudRate(9600); },
     cat(with_check({0x60, 0x01, 0x30}, 0), with_check({0x02}, 0)), {0x33}, RES_FAILED, nullptr},
    {"ReadClock", [](ZOVEDevice& d, Outcome& o) { return d.ReadClock(&o.clock); },
     with_check({0x60, 0x01, 0x60}, 0), with_check({0x45, 0x30, 0x17, 0x03, 0x24, 0x12, 0x31}, 0), RES_OK,
     [](const ZOVEDevice&, const Outcome& o) {
         EXPECT_EQ(o.clock.bcd0, 45);
         EXPECT_EQ(o.clock.bcd2, 17);
         EXPECT_EQ(o.clock.raw, 3);
         EXPECT_EQ(o.clock.bcd4, 24);
         EXPECT_EQ(o.clock.bcd5, 12);
         EXPECT_EQ(o.clock.year, 2031);
     }},
    {"ReadClockBadCheck", [](ZOVEDevice& d, Outcome& o) { return d.ReadClock(&o.clock); },
     with_check({0x60, 0x01, 0x60}, 0), {0x45, 0x30, 0x17, 0x03, 0x24, 0x12, 0x31, 0x00}, RES_BAD_CHECK,
     nullptr},
    {"WriteClock", [](ZOVEDevice& d, Outcome&) { return d.WriteClock(&kClock); },
     cat(with_check({0x60, 0x01, 0x61}, 0), with_check({0x45, 0x30, 0x17, 0x03, 0x24, 0x12, 0x31}, 0)),
     {0x00}, RES_OK, nullptr},
    {"AdjustClockNegative", [](ZOVEDevice& d, Outcome&) { return d.AdjustClock(-5); },
     cat(with_check({0x60, 0x01, 0x62}, 0), with_check({0xFF, 0x05, 0, 0, 0, 0, 0}, 0)), {0xFF}, RES_REFUSED,
     nullptr},
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class FrameExample : public ::testing::TestWithParam<FrameCase> {
protected:
    int master = -1, slave = -1;
    PortHandle port = 0;

    void SetUp() override {
        start_clock_and_ports();
        char name[256];
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        termios t;
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        ASSERT_EQ(PortOpen(&port, name), 0);
    }
    void TearDown() override {
        PortClose(port);
        close(slave);
        close(master);
    }
    // Bytes the tool has put on the line so far.
    Bytes drain() {
        Bytes got;
        pollfd pf{master, POLLIN, 0};
        uint8_t b[512];
        while (poll(&pf, 1, 0) == 1) {
            ssize_t n = read(master, b, sizeof b);
            if (n <= 0) break;
            got.insert(got.end(), b, b + n);
        }
        return got;
    }
};

TEST_P(FrameExample, SendsFrameAndDecodesReply) {
    const FrameCase& c = GetParam();
    ZOVEDevice dev(port);
    dev.address = 1;
    Outcome o;
    // Step until the whole request is on the line (WriteClock first waits).
    Bytes sent;
    int r = RES_PENDING;
    const uint32_t until = NowMs() + 3000;
    while (sent.size() < c.request.size() && r == RES_PENDING && !DeadlineReached(until)) {
        r = c.op(dev, o);
        SleepMs(1);
        Bytes more = drain();
        sent.insert(sent.end(), more.begin(), more.end());
    }
    ASSERT_EQ(sent, c.request);
    ASSERT_EQ(write(master, c.reply.data(), c.reply.size()), ssize_t(c.reply.size()));
    if (r == RES_PENDING) r = run_to_completion(dev, [&] { return c.op(dev, o); });
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(dev.CommandStep, 0);
    EXPECT_EQ(dev.ExchangeState, EX_IDLE);
    if (c.check) c.check(dev, o);
}

INSTANTIATE_TEST_SUITE_P(Worked, FrameExample, ::testing::ValuesIn(kFrames),
                         [](const ::testing::TestParamInfo<FrameCase>& i) { return std::string(i.param.name); });

// Deadlines: 300 ms plus 3 ms per byte of request and expected reply.
TEST(Deadline, FollowsFrameAndReplyLength) {
    start_clock_and_ports();
    const struct {
        std::function<int(ZOVEDevice&)> op;
        uint32_t ms;
    } cases[] = {
        {[](ZOVEDevice& d) { DeviceIdent i; return d.Identify(&i, 1); }, 324},
        {[](ZOVEDevice& d) { return d.SetAddress(3); }, 321},
        {[](ZOVEDevice& d) { DeviceClock c; return d.ReadClock(&c); }, 336},
        {[](ZOVEDevice& d) { return d.AdjustClock(1); }, 339},
        {[](ZOVEDevice& d) { char t[160]; return d.ReadTextId(t); }, 1080},
        {[](ZOVEDevice& d) { uint8_t b[24]; return d.ReadMemory(0x29, 2, 24, b, 2, 0); }, 423},
        {[](ZOVEDevice& d) { uint8_t b[60] = {}; return d.WriteMemory(0x5000, 0, b, 60); }, 519},
    };
    for (const auto& c : cases) {
        ZOVEDevice dev(0);  // no port: nothing is sent, only the deadline is set
        const uint32_t before = NowMs();
        ASSERT_EQ(c.op(dev), RES_PENDING);
        const uint32_t after = NowMs();
        EXPECT_GE(dev.deadline - before, c.ms);
        EXPECT_LE(dev.deadline - after, c.ms);
        dev.Abort();
    }
}

}  // namespace
