// Whole-block transfers: kept apart from the records so that code using only
// the byte images and conversions does not need the protocol engine.
#include "protocol/run.h"
#include "settings/records.h"

int read_block(ZOVEDevice& dev, const SettingsBlock& b, void* dest) {
    return run_to_completion(
        dev, [&] { return dev.ReadMemory(b.address, b.area, b.size, dest, b.check_mode, 0); });
}

int write_block(ZOVEDevice& dev, const SettingsBlock& b, const void* src, int count) {
    if (count <= 0) count = b.size;
    // WriteMemory carries an 8-bit count; nothing in this system writes more
    // than one block of at most 68 bytes, so a larger request is a caller bug.
    if (count > 255) return RES_FAILED;
    return run_to_completion(
        dev, [&] { return dev.WriteMemory(b.address, b.area, src, uint8_t(count)); });
}
