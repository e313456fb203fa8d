// Wire format of the controller protocol: constants, result codes and the
// two check values. Requests start with 0x60 and the controller address;
// replies carry no header, no length and no address -- their layout follows
// from the request. Controller memory addresses are 24 bits and travel as
// bits 8-15, bits 16-23, bits 0-7.
#pragma once
#include <cstddef>
#include <cstdint>

enum ResultCode : int {
    RES_PENDING = 0,
    RES_OK = 1,
    RES_FAILED = -1,
    RES_REFUSED = -3,
    RES_BAD_CHECK = -4,
    RES_TIMEOUT = -6,
    RES_UNSUPPORTED = -11,
};

constexpr uint8_t FRAME_START = 0x60;
constexpr uint8_t ADDR_ANY = 240;
constexpr uint8_t MEM_READ = 0x48;
constexpr uint8_t MEM_WRITE = 0x40;
constexpr int TEXT_REPLY = 255;
constexpr int EXCHANGE_BUFFER_SIZE = 300;

constexpr uint8_t CMD_TEXT_ID = 0x00;
constexpr uint8_t CMD_SET_ADDRESS = 0x20;
constexpr uint8_t CMD_IDENTIFY = 0x21;
constexpr uint8_t CMD_SET_BAUD = 0x30;
constexpr uint8_t CMD_READ_CLOCK = 0x60;
constexpr uint8_t CMD_WRITE_CLOCK = 0x61;
constexpr uint8_t CMD_ADJUST_CLOCK = 0x62;

uint8_t Check8(const uint8_t* data, size_t n);
// Feeds n bytes, taken as little-endian 32-bit words (a final partial word
// padded with zero bytes), into crc, most significant bit first, polynomial
// 0x04C11DB7, no reflection, no final XOR. The caller starts crc at 0xFFFFFFFF.
uint32_t Crc32Words(uint32_t crc, const uint8_t* data, size_t n);
uint8_t ToBcd(uint8_t v);
uint8_t FromBcd(uint8_t b);

// Maps a status reply byte: 0x00 ok, 0xFF refused, 0xFE unsupported, else failed.
int StatusToResult(uint8_t status);

// Stores a 24-bit memory address in wire order at p[0..2].
void PutMemAddress(uint8_t* p, uint32_t address);
uint32_t GetMemAddress(const uint8_t* p);
