// The settings records as byte images and the text <-> field conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/records.h"

namespace {

std::string text_of(void (*fn)(uint16_t, char*, size_t), uint16_t v) {
    char buf[200];
    fn(v, buf, sizeof buf);
    return buf;
}

TEST(Records, MultiByteFieldsAreLittleEndianAtTheirOffsets) {
    MainSettings m;
    memset(&m, 0, sizeof m);
    m.sat_channel = 0xFF21;       // odd offset 5
    m.baud_periph = 0x0180;       // odd offset 7
    m.bmu_p_adm = 0x11223344;     // offset 62
    m.bmu_p_user[1] = 0xA1B2C3D4; // offset 50
    m.tbl_dot_flags = 0x0044;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&m);
    EXPECT_EQ(b[5], 0x21);
    EXPECT_EQ(b[6], 0xFF);
    EXPECT_EQ(b[7], 0x80);
    EXPECT_EQ(b[8], 0x01);
    EXPECT_EQ(b[62], 0x44);
    EXPECT_EQ(b[65], 0x11);
    EXPECT_EQ(b[50], 0xD4);
    EXPECT_EQ(b[53], 0xA1);
    EXPECT_EQ(b[66], 0x44);

    ExtraSettings x;
    memset(&x, 0, sizeof x);
    x.heater_on = -10;
    x.density_manual = 0x1234;
    const uint8_t* e = reinterpret_cast<const uint8_t*>(&x);
    EXPECT_EQ(e[56], 0xF6);
    EXPECT_EQ(e[57], 0xFF);
    EXPECT_EQ(e[16], 0x34);

    SideRecord s;
    memset(&s, 0, sizeof s);
    s.cal_count = 0x0102;  // offset 1
    s.delivery_count = 0x0A0B0C0D;
    const uint8_t* sb = reinterpret_cast<const uint8_t*>(&s);
    EXPECT_EQ(sb[1], 0x02);
    EXPECT_EQ(sb[2], 0x01);
    EXPECT_EQ(sb[6], 0x0D);
}

TEST(Records, KeyTablesCoverTheImageFieldsInOrder) {
    EXPECT_STREQ(MAIN_KEYS[0].name, "sat_channel");
    EXPECT_EQ(MAIN_KEYS[0].offset, 5);
    EXPECT_EQ(MAIN_KEYS[0].width, 2);
    EXPECT_STREQ(MAIN_KEYS[14].name, "zivu_addr[11]");
    EXPECT_EQ(MAIN_KEYS[14].offset, 22);
    EXPECT_STREQ(MAIN_KEYS[38].name, "tbl_dot_flags");
    EXPECT_EQ(MAIN_KEYS[38].offset, 66);
    EXPECT_STREQ(MASS_KEYS[36].name, "w_port");
    EXPECT_EQ(MASS_KEYS[36].offset, 52);

    // Every key lies inside its record, and no two keys share a byte.
    struct { const SettingsKey* keys; int n; int size; } tables[] = {
        {MAIN_KEYS, MAIN_KEY_COUNT, 68}, {MASS_KEYS, MASS_KEY_COUNT, 60}};
    for (auto& t : tables) {
        int owner[68];
        for (int& o : owner) o = -1;
        for (int i = 0; i < t.n; ++i) {
            const SettingsKey& k = t.keys[i];
            ASSERT_TRUE(k.width == 1 || k.width == 2 || k.width == 4) << k.name;
            ASSERT_LE(k.offset + k.width, t.size) << k.name;
            for (int b = k.offset; b < k.offset + k.width; ++b) {
                EXPECT_EQ(owner[b], -1) << k.name;
                owner[b] = i;
            }
        }
    }
    // The image never carries side addresses, baud codes or heater values.
    for (int i = 0; i < MAIN_KEY_COUNT; ++i) {
        EXPECT_NE(MAIN_KEYS[i].offset, 0);
        EXPECT_NE(MAIN_KEYS[i].offset, 3);
        EXPECT_NE(MAIN_KEYS[i].offset, 4);
        EXPECT_NE(MAIN_KEYS[i].offset, 7);
    }
    for (int i = 0; i < MASS_KEY_COUNT; ++i) EXPECT_LT(MASS_KEYS[i].offset, 54);
}

TEST(Records, KeyAccessIsByteWise) {
    MainSettings m;
    memset(&m, 0, sizeof m);
    const SettingsKey& adm = MAIN_KEYS[37];
    ASSERT_STREQ(adm.name, "bmu_p_adm");
    key_set(&m, adm, 0xDEADBEEF);
    EXPECT_EQ(uint32_t(m.bmu_p_adm), 0xDEADBEEFu);
    EXPECT_EQ(key_get(&m, adm), 0xDEADBEEFu);
    key_set(&m, MAIN_KEYS[0], 0x12345);  // only the low 16 bits fit
    EXPECT_EQ(int(m.sat_channel), 0x2345);
    EXPECT_EQ(int(m.baud_periph), 0);
}

TEST(Records, BlockTable) {
    EXPECT_EQ(BLOCK_MAIN.address, 0x3101u);
    EXPECT_EQ(BLOCK_MAIN.size, 68);
    EXPECT_EQ(BLOCK_EXTRA.address, 0x5000u);
    EXPECT_EQ(meter_block(9).address, 0x1900u);
    EXPECT_EQ(side_block(1).address, 0x4100u);
    EXPECT_EQ(BLOCK_SERVICE_COUNTS.area, 2);
    EXPECT_EQ(BLOCK_PRESSURE.address, 0x30u);
    EXPECT_EQ(BLOCK_PASSWORD_STATE.check_mode, 0);
    EXPECT_EQ(meter_index(2, 1), 5);
}

TEST(Records, CodeTables) {
    EXPECT_EQ(baud_item_of(48), 0);
    EXPECT_EQ(baud_item_of(384), 3);
    EXPECT_EQ(baud_item_of(50), -1);
    EXPECT_EQ(baud_code_of(2), 192);
    EXPECT_EQ(baud_code_of(-1), 0);
    EXPECT_STREQ(DISPLAY_TYPES[1], "reserved");
    EXPECT_STREQ(DISPLAY_TYPES[14], "MI-18 soft");
    EXPECT_STREQ(TRK_MODES_ITEMS[15], "'Sever' mode / Report nozzle down AZT2.0");
    EXPECT_STREQ(TRK_MODES2_ITEMS[6], "Disable simultaneous satellite and main nozzle load");
    EXPECT_STREQ(MASS_METER_TYPES[1], "Flomak");
}

struct FactorCase {
    const char* text;
    int factor;
    int bits;
    uint32_t field;
};

class FactorConversion : public ::testing::TestWithParam<FactorCase> {};

TEST_P(FactorConversion, ParsesLeadingIntegerDividesAndKeepsLowBits) {
    const FactorCase& c = GetParam();
    EXPECT_EQ(field_from_text(c.text, c.factor, c.bits), c.field) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FactorConversion,
    ::testing::Values(FactorCase{"25500", 100, 8, 255}, FactorCase{"2540", 10, 8, 254},
                      FactorCase{"199", 100, 8, 1}, FactorCase{"  42abc", 1, 8, 42},
                      FactorCase{"abc", 1, 8, 0}, FactorCase{"", 10, 8, 0},
                      FactorCase{"300", 1, 8, 44}, FactorCase{"-1", 1, 8, 255},
                      FactorCase{"-150", 100, 8, 255},  // -1 after truncation toward zero
                      FactorCase{"4294967295", 1, 32, 0xFFFFFFFFu},
                      FactorCase{"4294967296", 1, 32, 0},
                      FactorCase{"123456789012", 1, 32, 3197704724u}));

struct RealCase {
    const char* text;
    uint32_t tenths;
    uint16_t density;
    int16_t heater;
};

class RealConversion : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealConversion, TruncatesTowardZero) {
    const RealCase& c = GetParam();
    EXPECT_EQ(tenths_from_text(c.text, 16), c.tenths) << c.text;
    EXPECT_EQ(density_from_text(c.text), c.density) << c.text;
    EXPECT_EQ(heater_from_text(c.text), c.heater) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RealConversion,
    ::testing::Values(RealCase{"2.9", 29, 29000, 29}, RealCase{"0.35", 3, 3500, 3},
                      RealCase{"-2.5", uint16_t(-25), uint16_t(-24999), -25},
                      RealCase{"0.7215", 7, 7215, 7}, RealCase{"", 0, 0, 0},
                      RealCase{"x", 0, 0, 0}, RealCase{"1e300", 0, 0, 0},
                      RealCase{"nan", 0, 0, 0}, RealCase{"99.9", 999, 15960, 999}));

TEST(Conversions, ShowFormats) {
    char b[64];
    tenths_to_text(999, b, sizeof b);
    EXPECT_STREQ(b, "99.9");
    tenths_to_text(5, b, sizeof b);
    EXPECT_STREQ(b, "0.5");
    density_to_text(7215, b, sizeof b);
    EXPECT_STREQ(b, "0.7215");
    heater_to_text(int16_t(uint16_t(0xFFF6)), b, sizeof b);
    EXPECT_STREQ(b, "-1.0");
    hex_to_text(0x3A0, b, sizeof b);
    EXPECT_STREQ(b, "0x3A0");
    uint16_t pr[2] = {0x12, 0xABC};
    pressure_to_text(pr, b, sizeof b);
    EXPECT_STREQ(b, "0x012, 0xABC");
    const uint8_t q[4] = {192, 168, 0, 254};
    quad_to_text(q, b, sizeof b);
    EXPECT_STREQ(b, "192.168.0.254");
}

TEST(Conversions, HexAfterTwoCharactersStaysInItsSixteenBits) {
    struct { const char* text; uint16_t v; } cases[] = {
        {"0x3A0", 0x3A0}, {"0xffff", 0xFFFF}, {"0x1FFFF", 0xFFFF}, {"0x10000", 0},
        {"ab12", 0x12},   {"0x", 0},          {"0", 0},            {"", 0},
        {"0xzz", 0},      {"0x00000000000000000001", 1}};
    for (auto& c : cases) EXPECT_EQ(hex_from_text(c.text), c.v) << c.text;
    EXPECT_EQ(hex_from_text(nullptr), 0);

    // Parsing into the record leaves the neighbouring field alone.
    ExtraSettings x;
    memset(&x, 0, sizeof x);
    x.line_max_flow[0] = 0x1234;
    x.pressure_top = hex_from_text("0x1FFFF");
    EXPECT_EQ(int(x.pressure_top), 0xFFFF);
    EXPECT_EQ(int(x.line_max_flow[0]), 0x1234);
}

TEST(Conversions, DottedQuads) {
    struct { const char* text; int parts; uint8_t q[4]; } cases[] = {
        {"10.0.0.1", 4, {10, 0, 0, 1}},
        {"256.1.2.3", 4, {0, 1, 2, 3}},
        {"10.20", 2, {10, 20, 9, 9}},  // missing parts keep their bytes
        {"", 0, {9, 9, 9, 9}},
        {"Text", 0, {9, 9, 9, 9}},
        {"1.2.3.4.5", 4, {1, 2, 3, 4}}};
    for (auto& c : cases) {
        uint8_t q[4] = {9, 9, 9, 9};
        EXPECT_EQ(quad_from_text(c.text, q), c.parts) << c.text;
        EXPECT_EQ(memcmp(q, c.q, 4), 0) << c.text;
    }
}

TEST(Conversions, SatelliteChannelText) {
    EXPECT_EQ(text_of(sat_channel_to_text, 0xFF21), "1\n2\n15 - not assigned\n15 - not assigned\n");
    EXPECT_EQ(text_of(sat_channel_to_text, 0x0000), "0\n0\n0\n0\n");
    char small[6];
    sat_channel_to_text(0xFFFF, small, sizeof small);  // never overruns
    EXPECT_LT(strlen(small), sizeof small);
}

struct SatCase {
    const char* text;
    int ok;
    uint16_t field;
};

class SatParse : public ::testing::TestWithParam<SatCase> {};

TEST_P(SatParse, FollowsTheLineRules) {
    const SatCase& c = GetParam();
    uint16_t f = 0x5555;
    EXPECT_EQ(sat_channel_from_text(c.text, &f), c.ok) << c.text;
    if (c.ok) {
        EXPECT_EQ(f, c.field) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SatParse,
    ::testing::Values(SatCase{"1\n2\n15\n15\n", 1, 0xFF21}, SatCase{"1\n1\n15\n15\n", 0, 0},
                      SatCase{"15\n15\n15\n15\n", 1, 0xFFFF}, SatCase{"", 1, 0xFFFF},
                      SatCase{"3", 0, 0}, SatCase{"1\n2\n", 0, 0},
                      SatCase{"1\n2\n15 - not assigned\n15 - not assigned\n", 1, 0xFF21},
                      SatCase{"1\n2\n3\n", 1, 0x0321},  // the fourth line gets channel 0
                      SatCase{"0\n0\n0\n0\n", 1, 0xFFFF},
                      SatCase{"1\n2\n3\n4\n5\n", 1, 0x4321},  // a fifth line is ignored
                      SatCase{"4\n3\n2\n1", 1, 0x1234},       // last line without newline
                      SatCase{nullptr, 1, 0xFFFF}));

TEST(Conversions, SatelliteChannelHugeTextIsCut) {
    std::string big(5000, '7');
    uint16_t f = 0;
    // One slot filled, two left at 0: an overlap; and no overflow trap.
    EXPECT_EQ(sat_channel_from_text(big.c_str(), &f), 0);
}

TEST(Conversions, MeterCoefficientAndType) {
    MeterRecord m;
    memset(&m, 0, sizeof m);
    m.coef_int = 1;
    m.coef_frac = 0x80000000u;
    char b[32];
    snprintf(b, sizeof b, "%f", meter_coefficient(m));
    EXPECT_STREQ(b, "1.500000");
    m.coef_int = 0;
    m.coef_frac = 0xFFFFFFFFu;
    snprintf(b, sizeof b, "%f", meter_coefficient(m));
    EXPECT_STREQ(b, "1.000000");
    m.meter_type = 201;
    EXPECT_EQ(meter_type_shown(m), 100u);
    EXPECT_EQ(meter_type_stored(100), 200);
}

TEST(Conversions, LeadingInteger) {
    EXPECT_EQ(parse_leading_int(" -12x"), -12);
    EXPECT_EQ(parse_leading_int("+7"), 7);
    EXPECT_EQ(parse_leading_int("- 7"), 0);
    EXPECT_EQ(parse_leading_int(nullptr), 0);
}

}  // namespace
