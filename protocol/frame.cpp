#include "protocol/frame.h"

uint8_t Check8(const uint8_t* data, size_t n) {
    uint8_t v = 0xFF;
    for (size_t i = 0; i < n; ++i) {
        v ^= data[i];
        v = uint8_t((v << 1) | (v >> 7));
    }
    return v;
}

namespace {

struct CrcTable {
    uint32_t entry[256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int b = 0; b < 8; ++b) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            entry[i] = c;
        }
    }
};

const CrcTable& crc_table() {
    static const CrcTable table;
    return table;
}

}  // namespace

uint32_t Crc32Words(uint32_t crc, const uint8_t* data, size_t n) {
    const uint32_t* t = crc_table().entry;
    for (size_t i = 0; i < n; i += 4) {
        uint8_t w[4] = {0, 0, 0, 0};
        for (size_t j = 0; j < 4 && i + j < n; ++j) w[j] = data[i + j];
        // Each little-endian word enters most significant byte first.
        for (int j = 3; j >= 0; --j) crc = (crc << 8) ^ t[((crc >> 24) ^ w[j]) & 0xFF];
    }
    return crc;
}

uint8_t ToBcd(uint8_t v) { return uint8_t(v + (v / 10) * 6); }
uint8_t FromBcd(uint8_t b) { return uint8_t((b >> 4) * 10 + (b & 0x0F)); }

int StatusToResult(uint8_t status) {
    switch (status) {
    case 0x00: return RES_OK;
    case 0xFF: return RES_REFUSED;
    case 0xFE: return RES_UNSUPPORTED;
    default: return RES_FAILED;
    }
}

void PutMemAddress(uint8_t* p, uint32_t address) {
    p[0] = uint8_t(address >> 8);
    p[1] = uint8_t(address >> 16);
    p[2] = uint8_t(address);
}

uint32_t GetMemAddress(const uint8_t* p) {
    return uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]);
}
