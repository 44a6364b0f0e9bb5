#include "protocol/frame.h"

namespace vesklink {

uint8_t FrameChecksum(const uint8_t* data, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum += data[i];
    return static_cast<uint8_t>((sum & 0xFF) ^ ((sum >> 8) & 0xFF) ^ ((sum >> 16) & 0xFF) ^ (sum >> 24));
}

uint8_t FrameChecksum(const Bytes& data) { return FrameChecksum(data.data(), data.size()); }

void AppendLittleEndian(Bytes& out, uint64_t value, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out.push_back(i < 8 ? static_cast<uint8_t>(value & 0xFF) : 0);
        if (i < 8) value >>= 8;
    }
}

Bytes LittleEndianBytes(uint64_t value, size_t count) {
    Bytes out;
    out.reserve(count);
    AppendLittleEndian(out, value, count);
    return out;
}

Bytes BuildFrame(uint8_t command, const Bytes& body) {
    Bytes frame;
    frame.reserve(body.size() + 5);
    frame.push_back(FrameStart);
    AppendLittleEndian(frame, body.size() + 1, 2);
    frame.push_back(command);
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(FrameChecksum(frame.data() + 1, frame.size() - 1));
    return frame;
}

}  // namespace vesklink
