#include "protocol/device_link.h"

namespace vesklink {

namespace {

class SteadyReplyClock final : public ReplyClock {
public:
    std::chrono::steady_clock::duration Now() override { return std::chrono::steady_clock::now().time_since_epoch(); }
    void WaitForInput(ByteStream& stream, int milliseconds) override { stream.WaitForInput(milliseconds); }
};

}  // namespace

ReplyClock& SystemReplyClock() {
    static SteadyReplyClock clock;
    return clock;
}

LinkOutcome Reply::Outcome() const {
    if (!sent_) return LinkOutcome::NotSent;
    if (bytes_.size() >= 9) return bytes_[5] != 0 || bytes_[6] != 0 ? LinkOutcome::Refused : LinkOutcome::Executed;
    if (bytes_.empty()) return LinkOutcome::Silence;
    return bytes_[0] == NAK ? LinkOutcome::Nak : LinkOutcome::CutFrame;
}

uint64_t Reply::Integer(size_t first, size_t last) const {
    if (first > last || last >= bytes_.size()) return 0;
    uint64_t value = 0;
    for (size_t i = first; i <= last && i - first < 8; ++i) value |= static_cast<uint64_t>(bytes_[i]) << (8 * (i - first));
    return value;
}

Reply DeviceLink::Exchange(uint8_t command, const Bytes& payload) {
    try {
        if (beforeExchange_) beforeExchange_();
        if (!Send(command, payload)) return Reply();
        return Reply(ReceiveReply(), true);
    } catch (...) {
        return Reply();
    }
}

bool DeviceLink::Send(uint8_t command, const Bytes& payload) {
    Bytes body = LittleEndianBytes(AccessCode, 4);
    body.insert(body.end(), payload.begin(), payload.end());
    // A device that went away, since the last exchange or before it, is reached again here,
    // once; one still away fails the exchange at once, and so does a closed stream.
    if (!stream_.Reconnect()) return false;
    if (body.size() > MaximumFrameBody) return false;  // the length field cannot count it

    // A late reply to an earlier request must never mix with the reply to this one.
    DiscardStaleInput();

    const Bytes frame = BuildFrame(command, body);
    const int32_t size = static_cast<int32_t>(frame.size());
    // A frame that did not go out whole cannot be answered; waiting 10 s for nothing would
    // only block the caller.
    return stream_.WriteBytes(frame.data(), size) == size;
}

void DeviceLink::DiscardStaleInput() {
    // Only what is waiting now: a line that keeps sending must not hold the request back forever.
    int32_t waiting = stream_.PollInput();
    uint8_t scratch[256];
    while (waiting > 0) {
        const int32_t got = stream_.ReadBytes(scratch, waiting < 256 ? waiting : 256);
        if (got <= 0) break;
        waiting -= got;
    }
}

// One byte from the line, waiting for it as long as the time limit allows.
bool DeviceLink::NextByte(uint8_t& byte, std::chrono::steady_clock::duration start) {
    for (;;) {
        // A device that goes away during the exchange cannot answer it any more.
        if (!stream_.IsOpen()) return false;
        if (clock_->Now() - start >= ReplyTimeout) return false;
        if (stream_.PollInput() < 1) {
            clock_->WaitForInput(stream_, PollPauseMs);
            continue;
        }
        if (stream_.ReadBytes(&byte, 1) == 1) return true;
        // Bytes reported but none delivered: pause as for an empty queue rather than spin.
        clock_->WaitForInput(stream_, PollPauseMs);
    }
}

Bytes DeviceLink::ReceiveReply() {
    Bytes reply;
    const auto start = clock_->Now();
    uint8_t byte = 0;
    // Nothing can be done with the reply before its acknowledgement, frame start and length are
    // in; after that, before the rest of the frame is.
    stream_.ExpectBytes(4);
    struct ExpectOneAfter {
        ByteStream& stream;
        ~ExpectOneAfter() { stream.ExpectBytes(1); }
    } reset{stream_};

    // Handshake: everything before the first ACK or NAK is line noise.
    do {
        if (!NextByte(byte, start)) return reply;
    } while (byte != ACK && byte != NAK);
    reply.push_back(byte);

    // Start of the reply frame, after ACK and NAK alike.
    do {
        if (!NextByte(byte, start)) return reply;
    } while (byte != FrameStart);
    reply.push_back(byte);

    // Length, then the L bytes it counts and the checksum.
    for (int i = 0; i < 2; ++i) {
        if (!NextByte(byte, start)) return reply;
        reply.push_back(byte);
    }
    size_t remaining = static_cast<size_t>(reply[2]) + (static_cast<size_t>(reply[3]) << 8) + 1;
    reply.reserve(reply.size() + remaining);
    while (remaining > 0) {
        stream_.ExpectBytes(static_cast<int32_t>(remaining));
        if (!NextByte(byte, start)) return reply;
        reply.push_back(byte);
        --remaining;
        // The rest of the frame may be queued already: take it in one read, never beyond the frame.
        const int32_t queued = stream_.PollInput();
        if (remaining > 0 && queued > 0) {
            const size_t take = remaining < static_cast<size_t>(queued) ? remaining : static_cast<size_t>(queued);
            const size_t at = reply.size();
            reply.resize(at + take);
            const int32_t got = stream_.ReadBytes(reply.data() + at, static_cast<int32_t>(take));
            reply.resize(at + static_cast<size_t>(got > 0 ? got : 0));
            remaining -= static_cast<size_t>(got > 0 ? got : 0);
        }
    }
    return reply;
}

}  // namespace vesklink
