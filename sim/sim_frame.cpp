#include "sim_frame.h"

#include <utility>

namespace vesklink::sim {

uint8_t FrameChecksum(const uint8_t* data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum += data[i];
    return static_cast<uint8_t>((sum & 0xFF) ^ ((sum >> 8) & 0xFF) ^ ((sum >> 16) & 0xFF) ^ (sum >> 24));
}

std::vector<uint8_t> BuildReply(uint8_t command, uint16_t status, const std::vector<uint8_t>& data) {
    const size_t length = 4 + data.size();
    std::vector<uint8_t> out = {kAck, kStartByte, static_cast<uint8_t>(length),
                                static_cast<uint8_t>(length >> 8), command,
                                static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8), 0x00};
    out.reserve(length + 5);
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(FrameChecksum(out.data() + 2, out.size() - 2));
    return out;
}

Request ParseRequest(std::vector<uint8_t> frame) {
    Request r;
    r.frame = std::move(frame);
    const auto& f = r.frame;
    if (f.size() < 4) return r;
    r.checksumOk = FrameChecksum(f.data() + 1, f.size() - 2) == f.back();
    const size_t length = f[1] | (f[2] << 8);
    if (length < 5 || f.size() != length + 4) return r;
    r.wellFormed = true;
    r.command = f[3];
    r.accessCode = f[4] | (f[5] << 8) | (f[6] << 16) | (static_cast<uint32_t>(f[7]) << 24);
    r.payload.assign(f.begin() + 8, f.end() - 1);
    return r;
}

std::optional<std::vector<uint8_t>> FrameAssembler::Push(uint8_t byte) {
    if (buffer_.empty()) {
        if (byte == kStartByte) buffer_.push_back(byte);
        return std::nullopt;
    }
    buffer_.push_back(byte);
    if (buffer_.size() < 3) return std::nullopt;
    const size_t length = buffer_[1] | (buffer_[2] << 8);
    if (buffer_.size() < length + 4) return std::nullopt;
    std::vector<uint8_t> frame;
    frame.swap(buffer_);
    return frame;
}

}  // namespace vesklink::sim
