// The request/reply exchange with the cash register: one request frame out, then the
// acknowledgement byte and one reply frame back into a Reply, all within 10 seconds.
//
// Reply offsets: 0 acknowledgement (ACK or NAK), 1 start byte, 2-3 length L, 4 echo of the
// command, 5-6 status word (0 = executed), 7 reserved, 8 onward the command's data, 4 + L the
// checksum (not verified). A complete reply is L + 5 bytes long.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "protocol/frame.h"
#include "serial/byte_stream.h"

namespace vesklink {

// Time and waiting as the exchange sees them; tests replace them to run the 10-second limit in
// microseconds.
class ReplyClock {
public:
    virtual ~ReplyClock() = default;
    // A monotonic reading: a change of the wall clock must never stretch or cut an exchange.
    virtual std::chrono::steady_clock::duration Now() = 0;
    // Waits up to `milliseconds` for input on the stream; returns at once when bytes are waiting.
    virtual void WaitForInput(ByteStream& stream, int milliseconds) = 0;
};

// steady_clock and ByteStream::WaitForInput.
ReplyClock& SystemReplyClock();

// What became of one exchange, from the reply as received.
enum class LinkOutcome {
    NotSent,   // the stream is closed, its device is away, or the frame did not go out whole
    Silence,   // nothing came back within the time limit
    Nak,       // the register rejected the frame and no reply followed
    CutFrame,  // the reply stopped before its status word
    Refused,   // the register answered with a non-zero status word
    Executed,  // the register answered with status 0
};

// One reply exactly as received, acknowledgement first, and bounds-checked readers of its fields;
// a field beyond the reply reads as 0.
class Reply {
public:
    Reply() = default;
    Reply(Bytes bytes, bool sent) : bytes_(std::move(bytes)), sent_(sent) {}

    LinkOutcome Outcome() const;
    bool Executed() const { return Outcome() == LinkOutcome::Executed; }
    // The register received the request and refused it. Silence, a lone NAK or a frame cut
    // before its status word is no such answer: the request may or may not have been carried out.
    bool Refused() const { return Outcome() == LinkOutcome::Refused; }
    // Executed, and long enough for every field below `size`.
    bool Holds(size_t size) const { return Executed() && bytes_.size() >= size; }
    size_t Size() const { return bytes_.size(); }
    const Bytes& Data() const { return bytes_; }
    uint8_t Byte(size_t at) const { return at < bytes_.size() ? bytes_[at] : 0; }
    // Bytes first..last (inclusive) as an unsigned little-endian number. 0 when first lies beyond
    // last or any byte of the range lies outside the reply; only the first eight bytes count.
    uint64_t Integer(size_t first, size_t last) const;

private:
    Bytes bytes_;
    bool sent_ = false;
};

// The exchange over a byte stream that it does not own (the register's COM port).
class DeviceLink {
public:
    static constexpr std::chrono::seconds ReplyTimeout{10};  // the whole reply, all phases together
    static constexpr int PollPauseMs = 10;                    // longest wait between polls

    explicit DeviceLink(ByteStream& stream) : stream_(stream) {}

    uint64_t AccessCode = 482917;  // its four low bytes open every request body

    // Sends one command and collects its reply. Nothing is sent on a closed stream (it is never
    // opened here), on one whose device is away and cannot be reached again (Reconnect) or a
    // payload too long to be counted in the frame; a frame not written whole is not waited for,
    // and the wait ends as soon as the device goes away. Never logs, never retries.
    Reply Exchange(uint8_t command, const Bytes& payload = {});

    // Runs at the start of every exchange, before anything is sent (the register settles a receipt
    // whose closing went unanswered); exchanges it makes itself run it again.
    void SetBeforeExchange(std::function<void()> hook) { beforeExchange_ = std::move(hook); }

    // The clock of the time limit; nullptr restores the system clock. Not owned.
    void SetReplyClock(ReplyClock* clock) { clock_ = clock ? clock : &SystemReplyClock(); }

private:
    bool Send(uint8_t command, const Bytes& payload);
    void DiscardStaleInput();
    // The acknowledgement and one reply frame as they came within ReplyTimeout.
    Bytes ReceiveReply();
    bool NextByte(uint8_t& byte, std::chrono::steady_clock::duration start);

    ByteStream& stream_;
    ReplyClock* clock_ = &SystemReplyClock();
    std::function<void()> beforeExchange_;
};

}  // namespace vesklink
