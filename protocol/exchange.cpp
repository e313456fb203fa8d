// The exchange engine: one request, one reply, without ever blocking for the
// reply. The first call purges stale input, writes the frame and sets the
// deadline; later calls look whether the reply is complete. A text reply is
// taken one character per call so that its terminator is seen exactly.
#include "port/clock.h"
#include "port/port.h"
#include "protocol/zove_device.h"

namespace {

// Longest text a reply may deliver; the character after it is replaced by
// the terminator.
constexpr int TEXT_MAX = 128;
// A memory write longer than its header goes out as header, pause, payload:
// the controller needs the time to prepare for the payload.
constexpr int MEM_HEADER_LEN = 12;
constexpr uint32_t PAYLOAD_PAUSE_MS = 50;

}  // namespace

int ZOVEDevice::Exchange(uint8_t* frame, int frame_len, int reply_len) {
    if (ExchangeState == EX_AWAIT_REPLY) {
        if (PortAvailable(port) >= reply_len) {
            PortRead(port, frame, reply_len);
            ExchangeState = EX_IDLE;
            return RES_OK;
        }
        if (DeadlineReached(deadline)) {
            ExchangeState = EX_IDLE;
            return RES_TIMEOUT;
        }
        return RES_PENDING;
    }

    if (ExchangeState == EX_AWAIT_TEXT) {
        if (PortAvailable(port) > 0) {
            uint8_t c = 0;
            PortRead(port, &c, 1);
            buffer[text_len] = c;
            if (c == 0x00 || c == 0x7F || text_len >= TEXT_MAX) {
                buffer[text_len] = 0;
                ExchangeState = EX_IDLE;
                return RES_OK;
            }
            ++text_len;
            return RES_PENDING;
        }
        if (DeadlineReached(deadline)) {
            buffer[text_len] = 0;
            ExchangeState = EX_IDLE;
            return text_len > 0 ? RES_OK : RES_TIMEOUT;
        }
        return RES_PENDING;
    }

    // Idle: a new request. Lengths that would run past the buffer are refused
    // before anything goes out, so a bad caller can never overrun it.
    if (frame == nullptr || frame_len < 0 || frame_len > EXCHANGE_BUFFER_SIZE ||
        (reply_len != TEXT_REPLY && (reply_len < 0 || reply_len > EXCHANGE_BUFFER_SIZE)))
        return RES_UNSUPPORTED;

    // Stale bytes, a late reply to an earlier request included, must never be
    // taken for this reply.
    PortPurge(port);
    if (frame_len > MEM_HEADER_LEN && (frame[2] & (MEM_READ | MEM_WRITE)) == MEM_WRITE) {
        PortWrite(port, frame, MEM_HEADER_LEN);
        SleepMs(PAYLOAD_PAUSE_MS);
        PortWrite(port, frame + MEM_HEADER_LEN, frame_len - MEM_HEADER_LEN);
    } else {
        PortWrite(port, frame, frame_len);
    }
    // Counted from the moment the writes returned: a base for the
    // controller's turnaround plus the line time of request and reply.
    deadline = NowMs() + 300u + 3u * uint32_t(frame_len + reply_len);
    if (reply_len == TEXT_REPLY) {
        text_len = 0;
        ExchangeState = EX_AWAIT_TEXT;
    } else {
        ExchangeState = EX_AWAIT_REPLY;
    }
    return RES_PENDING;
}

void ZOVEDevice::Abort() {
    CommandStep = 0;
    ExchangeState = EX_IDLE;
    if (timer_slot >= 0) TimerStop(timer_slot);
    timer_slot = -1;
}
