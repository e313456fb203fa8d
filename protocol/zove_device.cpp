// The controller object's operations. Every operation is one step function of
// the same shape, written once in run_step(): on the first call validate the
// arguments and build the request (a rejected argument returns at once and
// sends nothing), then drive the exchange, and on its end check and convert
// the reply. CommandStep is 0 between operations and after every final
// result, so a failed operation leaves the object ready for the next one.
#include <cstring>

#include "port/clock.h"
#include "protocol/zove_device.h"

namespace {

constexpr int MEM_HEADER_LEN = 12;
constexpr uint32_t WRITE_CLOCK_DELAY_MS = 500;

// A write of 255 bytes, the most an 8-bit count can say, always fits.
static_assert(255 + MEM_HEADER_LEN <= EXCHANGE_BUFFER_SIZE, "memory write frame fits the buffer");

// Fills the 4-byte short frame head at p.
void put_head(uint8_t* p, uint8_t address, uint8_t command) {
    p[0] = FRAME_START;
    p[1] = address;
    p[2] = command;
    p[3] = Check8(p, 3);
}

// Request built on the first step: the frame is in the exchange buffer.
struct Request {
    int result;     // RES_PENDING when built, else the rejection
    int frame_len;
    int reply_len;
};

Request built(int frame_len, int reply_len) { return Request{RES_PENDING, frame_len, reply_len}; }
Request rejected(int result) { return Request{result, 0, 0}; }

// The one shape of every step function. build() runs on the first call only;
// finish() runs once, on a RES_OK exchange, and gives the final result.
template <class Build, class Finish>
int run_step(ZOVEDevice& d, Build&& build, Finish&& finish) {
    if (d.CommandStep == 0) {
        Request r = build();
        if (r.result != RES_PENDING) return r.result;
        d.req_frame_len = int16_t(r.frame_len);
        d.req_reply_len = int16_t(r.reply_len);
        d.CommandStep = 1;
    }
    int r = d.Exchange(d.buffer, d.req_frame_len, d.req_reply_len);
    if (r == RES_PENDING) return RES_PENDING;
    d.CommandStep = 0;
    if (r != RES_OK) return r;
    return finish();
}

int status_result(const ZOVEDevice& d) { return StatusToResult(d.buffer[0]); }

// Frame with one data byte: head, data, Check8 of the data.
Request build_data_frame(ZOVEDevice& d, uint8_t command, uint8_t data) {
    put_head(d.buffer, d.address, command);
    d.buffer[4] = data;
    d.buffer[5] = Check8(&d.buffer[4], 1);
    return built(6, 1);
}

// Frame with a seven-byte body: head, body, Check8 of the body.
Request build_body_frame(ZOVEDevice& d, uint8_t command, const uint8_t body[7]) {
    put_head(d.buffer, d.address, command);
    std::memcpy(&d.buffer[4], body, 7);
    d.buffer[11] = Check8(&d.buffer[4], 7);
    return built(12, 1);
}

int baud_code(int baud) {
    switch (baud) {
    case 38400: return 0;
    case 19200: return 1;
    case 9600: return 2;
    case 4800: return 3;
    case 1200: return 4;
    default: return -1;
    }
}

}  // namespace

ZOVEDevice::ZOVEDevice(PortHandle p) : port(p) {}

int ZOVEDevice::SetAddress(uint8_t new_address) {
    return run_step(
        *this,
        [&] {
            if (new_address >= ADDR_ANY) return rejected(RES_REFUSED);
            return build_data_frame(*this, CMD_SET_ADDRESS, new_address);
        },
        [&] {
            int r = status_result(*this);
            if (r == RES_OK) address = new_address;
            return r;
        });
}

int ZOVEDevice::SetBaudRate(int baud) {
    return run_step(
        *this,
        [&] {
            int code = baud_code(baud);
            if (code < 0) return rejected(RES_UNSUPPORTED);
            return build_data_frame(*this, CMD_SET_BAUD, uint8_t(code));
        },
        [&] { return status_result(*this); });
}

int ZOVEDevice::Identify(DeviceIdent* ident, uint8_t to) {
    return run_step(
        *this,
        [&] {
            put_head(buffer, to == 0 ? default_address : to, CMD_IDENTIFY);
            return built(4, 4);
        },
        [&] {
            if (Check8(buffer, 3) != buffer[3]) return int(RES_BAD_CHECK);
            address = buffer[0];
            if (ident) *ident = DeviceIdent{buffer[0], buffer[1], buffer[2]};
            return int(RES_OK);
        });
}

int ZOVEDevice::ReadClock(DeviceClock* clock) {
    return run_step(
        *this,
        [&] {
            put_head(buffer, address, CMD_READ_CLOCK);
            return built(4, 8);
        },
        [&] {
            if (Check8(buffer, 7) != buffer[7]) return int(RES_BAD_CHECK);
            if (clock) {
                clock->bcd0 = FromBcd(buffer[0]);
                clock->bcd1 = FromBcd(buffer[1]);
                clock->bcd2 = FromBcd(buffer[2]);
                clock->raw = buffer[3];
                clock->bcd4 = FromBcd(buffer[4]);
                clock->bcd5 = FromBcd(buffer[5]);
                clock->year = uint16_t(FromBcd(buffer[6]) + 2000);
            }
            return int(RES_OK);
        });
}

int ZOVEDevice::WriteClock(const DeviceClock* clock) {
    // The request goes out only after a 500 ms delay that the first call
    // starts (step 2 waits for it); the object's own deadline stands in when
    // every timer slot is taken, so the delay is kept either way.
    if (CommandStep == 0) {
        if (clock == nullptr) return RES_UNSUPPORTED;
        timer_slot = int16_t(TimerStart(WRITE_CLOCK_DELAY_MS));
        deadline = NowMs() + WRITE_CLOCK_DELAY_MS;
        CommandStep = 2;
        return RES_PENDING;
    }
    if (CommandStep == 2) {
        bool expired = timer_slot >= 0 ? TimerExpired(timer_slot) != 0 : DeadlineReached(deadline) != 0;
        if (!expired) return RES_PENDING;
        timer_slot = -1;
        CommandStep = 0;
    }
    return run_step(
        *this,
        [&] {
            const uint8_t body[7] = {ToBcd(clock->bcd0), ToBcd(clock->bcd1),
                                     ToBcd(clock->bcd2), clock->raw,
                                     ToBcd(clock->bcd4), ToBcd(clock->bcd5),
                                     ToBcd(uint8_t(clock->year % 100))};
            return build_body_frame(*this, CMD_WRITE_CLOCK, body);
        },
        [&] { return status_result(*this); });
}

int ZOVEDevice::AdjustClock(int value) {
    return run_step(
        *this,
        [&] {
            // Only two decimal digits travel; a larger magnitude has no encoding.
            if (value < -99 || value > 99) return rejected(RES_UNSUPPORTED);
            const uint8_t magnitude = uint8_t(value < 0 ? -value : value);
            const uint8_t body[7] = {uint8_t(value < 0 ? 0xFF : 0x00), ToBcd(magnitude), 0, 0, 0, 0, 0};
            return build_body_frame(*this, CMD_ADJUST_CLOCK, body);
        },
        [&] { return status_result(*this); });
}

int ZOVEDevice::IsBusy() { return CommandStep != 0 ? 1 : 0; }

int ZOVEDevice::ReadTextId(char* dest) {
    return run_step(
        *this,
        [&] {
            put_head(buffer, address, CMD_TEXT_ID);
            buffer[4] = 0x31;
            return built(5, TEXT_REPLY);
        },
        [&] {
            // The engine stores at most 128 characters and a terminator.
            if (dest) std::memcpy(dest, buffer, std::strlen(reinterpret_cast<char*>(buffer)) + 1);
            return int(RES_OK);
        });
}

int ZOVEDevice::ReadMemory(uint32_t mem_address, uint8_t area, uint8_t count, void* dest,
                           uint8_t check_mode, uint8_t option) {
    return run_step(
        *this,
        [&] {
            const int k = (check_mode & 3) == 1 ? 1 : (check_mode & 3) == 2 ? 4 : 0;
            const int reply = count + k + 1;
            // A reply length of 255 would be taken for a text reply, and a
            // longer one would not fit the buffer: refuse before sending.
            if (reply >= TEXT_REPLY || reply > EXCHANGE_BUFFER_SIZE) return rejected(RES_UNSUPPORTED);
            if (dest == nullptr && count > 0) return rejected(RES_UNSUPPORTED);
            read_check_len = k;
            put_head(buffer, address, uint8_t(area | MEM_READ));
            buffer[4] = check_mode;
            buffer[5] = option;
            PutMemAddress(&buffer[6], mem_address);
            buffer[9] = 0;
            buffer[10] = count;
            buffer[11] = Check8(&buffer[4], 7);
            return built(MEM_HEADER_LEN, reply);
        },
        [&] {
            // The data reaches the destination before the check, as callers
            // expect; on a mismatch it is there unverified.
            if (count > 0) std::memcpy(dest, buffer, count);
            const uint8_t* check = buffer + count;
            if (read_check_len == 1 && check[0] != Check8(buffer, count)) return int(RES_BAD_CHECK);
            if (read_check_len == 4) {
                const uint32_t got = uint32_t(check[0]) | uint32_t(check[1]) << 8 |
                                     uint32_t(check[2]) << 16 | uint32_t(check[3]) << 24;
                if (got != Crc32Words(0xFFFFFFFFu, buffer, count)) return int(RES_BAD_CHECK);
            }
            return int(RES_OK);
        });
}

int ZOVEDevice::WriteMemory(uint32_t mem_address, uint8_t area, const void* data, uint8_t count) {
    return run_step(
        *this,
        [&] {
            if (data == nullptr && count > 0) return rejected(RES_UNSUPPORTED);
            const uint8_t* src = static_cast<const uint8_t*>(data);
            put_head(buffer, address, uint8_t(area | MEM_WRITE));
            buffer[4] = 0;
            buffer[5] = 0;
            PutMemAddress(&buffer[6], mem_address);
            buffer[9] = count > 0 ? src[0] : 0;
            buffer[10] = count;
            buffer[11] = Check8(&buffer[4], 7);
            if (count < 2) return built(MEM_HEADER_LEN, count == 1 ? 2 : 1);
            std::memcpy(&buffer[MEM_HEADER_LEN], src + 1, count - 1);
            buffer[MEM_HEADER_LEN + count - 1] = Check8(&buffer[MEM_HEADER_LEN], count - 1);
            return built(MEM_HEADER_LEN + count, 1);
        },
        [&] {
            if (count >= 2 && buffer[0] == 0xFF) return int(RES_REFUSED);
            return int(RES_OK);
        });
}

int SendShortCommand(PortHandle port, uint8_t address, uint8_t command) {
    uint8_t frame[4];
    put_head(frame, address, command);
    PortPurge(port);
    return PortWrite(port, frame, 4);
}
