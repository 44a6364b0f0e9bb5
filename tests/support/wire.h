// The register's side of the wire, as the tests write it: the frames a register sends back.
#pragma once

#include <cstdint>
#include <vector>

namespace vktest {

// ACK, then a reply frame: 0x01, L, the command, the status word, one reserved byte, the data,
// the checksum (the sum of the bytes after the start byte, its four bytes folded by XOR), where
// L = 4 + the data's size.
inline std::vector<uint8_t> ReplyFrame(uint8_t command, uint16_t status, const std::vector<uint8_t>& data = {}) {
    const size_t length = 4 + data.size();
    std::vector<uint8_t> frame;
    frame.reserve(length + 5);
    for (uint8_t b : {uint8_t{0x06}, uint8_t{0x01}, static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8),
                      command, static_cast<uint8_t>(status & 0xFF), static_cast<uint8_t>(status >> 8), uint8_t{0x00}})
        frame.push_back(b);
    for (uint8_t b : data) frame.push_back(b);
    uint32_t sum = 0;
    for (size_t i = 2; i < frame.size(); ++i) sum += frame[i];
    frame.push_back(static_cast<uint8_t>(sum ^ (sum >> 8) ^ (sum >> 16) ^ (sum >> 24)));
    return frame;
}

}  // namespace vktest
