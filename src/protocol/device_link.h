// The request/reply exchange with the cash register: one request frame out, then the
// acknowledgement byte and one reply frame back into ReplyBuffer, all within 10 seconds.
//
// ReplyBuffer offsets: 0 acknowledgement (ACK or NAK), 1 start byte, 2-3 length L, 4 echo of the
// command, 5-6 status word (0 = executed), 7 reserved, 8 onward the command's data, 4 + L the
// checksum (not verified). A complete reply is L + 5 bytes long.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "protocol/frame.h"
#include "serial/serial_port.h"

namespace vesklink {

// Time and waiting as the exchange sees them; tests replace them to run the 10-second limit in
// microseconds.
class ReplyClock {
public:
    virtual ~ReplyClock() = default;
    // A monotonic reading: a change of the wall clock must never stretch or cut an exchange.
    virtual std::chrono::steady_clock::duration Now() = 0;
    // Waits up to `milliseconds` for input on the port; returns at once when bytes are waiting.
    virtual void WaitForInput(SerialPort& port, int milliseconds) = 0;
};

// steady_clock and SerialPort::WaitForInput.
ReplyClock& SystemReplyClock();

class DeviceLink {
public:
    static constexpr std::chrono::seconds ReplyTimeout{10};  // the whole reply, all phases together
    static constexpr int PollPauseMs = 10;                    // longest wait between polls

    SerialPort SerialLink;
    uint64_t AccessCode = 482917;  // its four low bytes open every request body
    Bytes ReplyBuffer;             // the last reply exactly as received, acknowledgement first
    Bytes PayloadBuffer;           // where operations assemble a command's payload

    // Sends one command and collects its reply. True when the reply holds at least 9 bytes and
    // its status word is zero. Fails at once on a closed port (the port is never opened here), on
    // a lost port that cannot be opened again (SerialPort::Reconnect), on a payload too long to
    // be counted in the frame, and when the frame could not be written whole; ends as soon as the
    // device goes away. Never logs, never retries.
    bool ExecuteCommand(uint8_t command, const Bytes* payload = nullptr);
    bool ExecuteCommand(uint8_t command, const Bytes& payload) { return ExecuteCommand(command, &payload); }

    // True when the last reply carries a non-zero status word: the register received the
    // request and refused it. Silence, a lone NAK or a frame cut before its status word is no
    // such answer: the request may or may not have been carried out.
    bool RefusedByDevice() const {
        return ReplyBuffer.size() >= 9 && (ReplyBuffer[5] != 0 || ReplyBuffer[6] != 0);
    }

    // Collects the acknowledgement and one reply frame into ReplyBuffer, within ReplyTimeout.
    void ReceiveReply();

    // ReplyBuffer bytes first..last (inclusive) as an unsigned little-endian number. 0 when first
    // lies beyond last or when any byte of the range lies outside the reply; only the first eight
    // bytes of a longer range count.
    uint64_t ReplyInteger(size_t first, size_t last) const;

    // The clock of the time limit; nullptr restores the system clock. Not owned.
    void SetReplyClock(ReplyClock* clock) { clock_ = clock ? clock : &SystemReplyClock(); }

private:
    bool NextByte(uint8_t& byte, std::chrono::steady_clock::duration start);
    void DiscardStaleInput();

    ReplyClock* clock_ = &SystemReplyClock();
};

}  // namespace vesklink
