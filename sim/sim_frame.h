// The register's side of the line protocol: request frames in, acknowledgement and reply frames
// out. Written apart from the driver's frame code on purpose: the simulator is its independent check.
//
//   request: 01, L (2, LE), command, access code (4, LE), payload, checksum   L = 5 + payload
//   reply:   ACK, 01, L (2, LE), command, status (2, LE), 00, data, checksum   L = 4 + data
//
// The checksum covers everything after the start byte: the bytes are summed into 32 bits and the
// four bytes of the sum are XORed together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vesklink::sim {

constexpr uint8_t kStartByte = 0x01;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint32_t kAccessCode = 482917;

uint8_t FrameChecksum(const uint8_t* data, size_t size);

// ACK followed by the reply frame.
std::vector<uint8_t> BuildReply(uint8_t command, uint16_t status, const std::vector<uint8_t>& data);

struct Request {
    std::vector<uint8_t> frame;  // the raw bytes, start byte to checksum
    bool checksumOk = false;
    bool wellFormed = false;  // long enough for a command and an access code
    uint8_t command = 0;
    uint32_t accessCode = 0;
    std::vector<uint8_t> payload;
};

Request ParseRequest(std::vector<uint8_t> frame);

// Collects request frames from the byte stream. Bytes outside a frame (line noise, a late byte of
// an abandoned exchange) are dropped while it waits for the start byte. A frame whose bytes stop
// arriving is abandoned by Expire after the inter-byte time limit, so a cut request never glues
// itself to the next one.
class FrameAssembler {
public:
    // One byte in; a complete frame out when this byte finished one.
    std::optional<std::vector<uint8_t>> Push(uint8_t byte);
    bool InFrame() const { return !buffer_.empty(); }
    void Reset() { buffer_.clear(); }

private:
    std::vector<uint8_t> buffer_;
};

}  // namespace vesklink::sim
