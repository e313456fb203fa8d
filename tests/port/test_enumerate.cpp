// PortEnumerate over fixture directories laid out like /sys/class/tty.
#include <ftw.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "tests/port/port_test_util.h"

using namespace porttest;

namespace {

struct Entry {
    std::string name;
    bool device;      // has a device link (a driver behind it)
    const char* type; // content of the type file, nullptr for none
};

struct EnumCase {
    const char* label;
    std::vector<Entry> entries;
    std::vector<std::string> expected;
};

int remove_entry(const char* path, const struct stat*, int, FTW*) { return remove(path); }

Entry dev(const std::string& n) { return {n, true, nullptr}; }

std::vector<Entry> numbered(const std::string& prefix, int count) {
    std::vector<Entry> v;
    for (int i = count - 1; i >= 0; --i) v.push_back(dev(prefix + std::to_string(i)));
    return v;
}

std::vector<std::string> numbered_names(const std::string& prefix, int count) {
    std::vector<std::string> v;
    for (int i = 0; i < count; ++i) v.push_back(prefix + std::to_string(i));
    return v;
}

class Enumerate : public ::testing::TestWithParam<EnumCase> {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_tty_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
    }
    void TearDown() override {
        PortSetSysfsRoot(nullptr);
        nftw(root.c_str(), remove_entry, 8, FTW_DEPTH | FTW_PHYS);
    }
    void add(const Entry& e) {
        std::string d = root + "/" + e.name;
        ASSERT_EQ(mkdir(d.c_str(), 0755), 0) << d;
        if (e.device) {
            ASSERT_EQ(symlink("../../devices/fake", (d + "/device").c_str()), 0);
        }
        if (e.type) std::ofstream(d + "/type") << e.type << "\n";
    }
    std::vector<std::string> listed() {
        std::vector<std::string> v;
        for (int i = 0; i < PortCount; ++i) v.push_back(PortList[i]);
        return v;
    }
    std::string root;
};

}  // namespace

TEST_P(Enumerate, ListsSortsAndLimits) {
    for (const Entry& e : GetParam().entries) add(e);
    PortSetSysfsRoot(root.c_str());
    EXPECT_EQ(PortEnumerate(), 1);
    EXPECT_EQ(listed(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, Enumerate,
    ::testing::Values(
        EnumCase{"ComNumbersSortNumerically",
                 {dev("COM10"), dev("COM2"), dev("COM1"), dev("USB0")},
                 {"COM1", "COM2", "COM10", "USB0"}},
        EnumCase{"LinuxNamesSortByTrailingNumber",
                 {dev("ttyUSB10"), dev("ttyUSB2"), dev("ttyACM1"), dev("ttyACM0")},
                 {"ttyACM0", "ttyACM1", "ttyUSB2", "ttyUSB10"}},
        EnumCase{"OnlyDevicesWithHardwareBehindThem",
                 {dev("ttyUSB0"), dev("ttyACM0"), {"ttyS0", true, "4"}, {"ttyS1", true, "0"},
                  {"ttyS2", true, nullptr}, {"tty0", false, nullptr}, {"console", false, nullptr},
                  {"ttyS3", false, "4"}},
                 {"ttyACM0", "ttyS0", "ttyUSB0"}},
        EnumCase{"AtMostSixteen", numbered("ttyUSB", 20), numbered_names("ttyUSB", 16)},
        EnumCase{"LongNamesCutToNineteen",
                 {dev("ttyUSB_abcdefghijklmnopq")},  // 25 characters
                 {"ttyUSB_abcdefghijkl"}},
        EnumCase{"EmptyDirectory", {}, {}}),
    [](const ::testing::TestParamInfo<EnumCase>& i) { return std::string(i.param.label); });

TEST(EnumerateSource, MissingDirectoryGivesAnEmptyList) {
    PortSetSysfsRoot("/nonexistent/vx/tty");
    EXPECT_EQ(PortEnumerate(), 1);
    EXPECT_EQ(PortCount, 0);
    PortSetSysfsRoot(nullptr);
}

TEST(EnumerateSource, RealSystemListIsWithinLimits) {
    EXPECT_EQ(PortEnumerate(), 1);
    EXPECT_LE(PortCount, PORT_LIST_SIZE);
    for (int i = 0; i < PortCount; ++i) EXPECT_LE(strlen(PortList[i]), 19u);
}
