// ZOVEDevice: the tool's model of one controller on the line -- its address,
// the port it is reached through, an exchange buffer and one step function
// per controller operation. A step function is called repeatedly (with a
// 1 ms sleep between calls) until it returns something other than
// RES_PENDING; the first call builds and sends the request, later calls look
// for the reply. One operation at a time per object.
#pragma once
#include <cstdint>

#include "port/port.h"
#include "protocol/frame.h"

struct DeviceIdent {
    uint8_t address;
    uint8_t type;
    uint8_t extra;
};

struct DeviceClock {
    uint8_t raw;       // body byte 3, unconverted
    uint8_t bcd4;      // body byte 4
    uint8_t bcd5;      // body byte 5
    uint16_t year;     // body byte 6: BCD 00..99 meaning 2000..2099
    uint8_t bcd0;      // body byte 0
    uint8_t bcd1;      // body byte 1
    uint8_t bcd2;      // body byte 2
};

enum ExchangeStateCode : uint8_t { EX_IDLE = 0, EX_AWAIT_REPLY = 1, EX_AWAIT_TEXT = 2 };

class ZOVEDevice {
public:
    explicit ZOVEDevice(PortHandle port);

    virtual int SetAddress(uint8_t new_address);
    virtual int SetBaudRate(int baud);
    virtual int Identify(DeviceIdent* ident, uint8_t address);
    virtual int ReadClock(DeviceClock* clock);
    virtual int WriteClock(const DeviceClock* clock);
    virtual int AdjustClock(int value);
    virtual int IsBusy();

    // dest must hold at least 129 bytes.
    int ReadTextId(char* dest);
    int ReadMemory(uint32_t address, uint8_t area, uint8_t count, void* dest, uint8_t check_mode,
                   uint8_t option);
    int WriteMemory(uint32_t address, uint8_t area, const void* data, uint8_t count);

    // The exchange engine: one request, one reply of reply_len bytes, or a
    // text reply when reply_len is TEXT_REPLY. Returns RES_PENDING, RES_OK or
    // RES_TIMEOUT; a frame or reply length that does not fit the exchange
    // buffer is refused with RES_UNSUPPORTED before anything is sent.
    int Exchange(uint8_t* frame, int frame_len, int reply_len);

    // Forgets the operation in progress (CommandStep 0, exchange Idle, timer
    // slot released). Only for a caller that must give up on a request whose
    // deadline can never come (the clock is not running).
    void Abort();

    int32_t read_check_len = 0;
    uint8_t buffer[EXCHANGE_BUFFER_SIZE] = {};
    int32_t text_len = 0;
    uint32_t deadline = 0;
    uint8_t default_address = ADDR_ANY;
    uint8_t address = 0;
    PortHandle port = 0;
    uint8_t CommandStep = 0;
    uint8_t ExchangeState = EX_IDLE;
    int16_t timer_slot = -1;
    // Lengths of the request in progress, kept between its steps.
    int16_t req_frame_len = 0;
    int16_t req_reply_len = 0;
};

int SendShortCommand(PortHandle port, uint8_t address, uint8_t command);
