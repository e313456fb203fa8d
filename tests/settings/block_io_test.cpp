// Whole-block reads and writes of the settings records against the
// simulator on a fresh pty.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "port/clock.h"
#include "port/port.h"
#include "protocol/zove_device.h"
#include "settings/records.h"
#include "simulator/simulator.h"

namespace {

class BlockIo : public ::testing::Test {
protected:
    void SetUp() override {
        ClockStart();
        PortTableInit();
        std::string slave;
        ASSERT_EQ(sim.start_pty(&slave), 0);
        ASSERT_EQ(PortOpen(&handle, slave.c_str()), 0);
        ASSERT_EQ(PortSetLine(handle, 4800, 8, 'N', 1), 0);
        dev.port = handle;
        dev.address = 1;
    }
    void TearDown() override {
        PortClose(handle);
        sim.stop();
    }
    std::vector<uint8_t> bytes_of(const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        return std::vector<uint8_t>(b, b + n);
    }

    zsim::Simulator sim;
    PortHandle handle = 0;
    ZOVEDevice dev{0};
};

TEST_F(BlockIo, EveryReadableBlockArrivesAsItsByteImage) {
    struct { SettingsBlock block; } blocks[] = {
        {BLOCK_MAIN}, {BLOCK_EXTRA}, {meter_block(0)}, {meter_block(9)},
        {side_block(0)}, {side_block(1)}, {BLOCK_SERVICE_COUNTS}, {BLOCK_PRESSURE},
        {BLOCK_PASSWORD_STATE}, {BLOCK_MODE_BYTE}};
    for (auto& c : blocks) {
        uint8_t buf[80];
        memset(buf, 0xAA, sizeof buf);
        ASSERT_EQ(read_block(dev, c.block, buf), RES_OK) << std::hex << c.block.address;
        EXPECT_EQ(bytes_of(buf, c.block.size),
                  sim.read_memory(0, c.block.area, c.block.address, c.block.size))
            << std::hex << c.block.address;
        EXPECT_EQ(buf[c.block.size], 0xAA) << "nothing beyond the block is written";
    }
}

TEST_F(BlockIo, MainBlockWriteTakesEffect) {
    MainSettings m;
    ASSERT_EQ(read_block(dev, BLOCK_MAIN, &m), RES_OK);
    m.sat_channel = 0xFF21;
    m.bmu_p_adm = 123456;
    m.marker = MAIN_MARKER;
    ASSERT_EQ(write_block(dev, BLOCK_MAIN, &m), RES_OK);
    EXPECT_EQ(sim.read_memory(0, 0, BLOCK_MAIN.address, 68), bytes_of(&m, sizeof m));
    MainSettings back;
    ASSERT_EQ(read_block(dev, BLOCK_MAIN, &back), RES_OK);
    EXPECT_EQ(memcmp(&back, &m, sizeof m), 0);
}

TEST_F(BlockIo, RefusedAndDamagedTransfers) {
    ExtraSettings x;
    ASSERT_EQ(read_block(dev, BLOCK_EXTRA, &x), RES_OK);
    sim.set_config_key(0, false);
    EXPECT_EQ(write_block(dev, BLOCK_EXTRA, &x), RES_REFUSED);
    EXPECT_EQ(sim.last_error(0), zsim::ERR_CONFIG_KEY);

    zsim::Fault f;
    f.bad_check = true;
    f.kind = zsim::K_MEM_READ;
    f.count = 1;
    sim.set_fault(f);
    EXPECT_EQ(read_block(dev, BLOCK_EXTRA, &x), RES_BAD_CHECK);
    sim.clear_fault();
    EXPECT_EQ(read_block(dev, BLOCK_EXTRA, &x), RES_OK);
}

}  // namespace
