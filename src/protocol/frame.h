// Request frames of the cash register's serial protocol and the little-endian integer helpers
// every payload is built with.
//
// Request: 0x01, length L (2 bytes), command, access code (4 bytes), payload, checksum, where L
// counts the command, the access code and the payload, and the checksum covers everything after
// the start byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vesklink {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t FrameStart = 0x01;
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t NAK = 0x15;

// The largest body (access code and payload) whose length, with the command byte, still fits the
// 16-bit length field.
inline constexpr size_t MaximumFrameBody = 0xFFFF - 1;

// Sum of all bytes in 32 bits (wrapping), folded into one byte by XOR of the sum's four bytes.
uint8_t FrameChecksum(const uint8_t* data, size_t count);
uint8_t FrameChecksum(const Bytes& data);

// The whole request frame for a command and its body (the access code followed by the payload).
// A body longer than MaximumFrameBody cannot be counted; the caller refuses to send it.
Bytes BuildFrame(uint8_t command, const Bytes& body);

// The `count` low bytes of `value`, least significant first; bytes above the eighth are zero.
Bytes LittleEndianBytes(uint64_t value, size_t count);
void AppendLittleEndian(Bytes& out, uint64_t value, size_t count);

}  // namespace vesklink
