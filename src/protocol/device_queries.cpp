#include "protocol/device_queries.h"

#include "protocol/encoding.h"

namespace vesklink {

namespace {

constexpr uint8_t WriteTagCommand = 0xD8;
constexpr uint8_t FnStateCommand = 0xE0;
constexpr uint8_t DeviceModeCommand = 0xE2;
constexpr uint8_t RegistrationTagCommand = 0xE9;

}  // namespace

bool WriteTag(DeviceLink& link, uint16_t tag, std::u16string_view text) {
    Bytes& payload = link.PayloadBuffer;
    payload.clear();
    AppendLittleEndian(payload, tag, 2);
    payload.push_back(0x00);
    AppendLengthPrefixedText(payload, text);
    return link.ExecuteCommand(WriteTagCommand, &payload);
}

bool ReadRegistrationTag(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag, Bytes& value) {
    value.clear();
    Bytes& payload = link.PayloadBuffer;
    payload.clear();
    payload.push_back(deviceModeByte);
    AppendLittleEndian(payload, tag, 2);
    if (!link.ExecuteCommand(RegistrationTagCommand, &payload)) return false;
    const Bytes& reply = link.ReplyBuffer;
    if (reply.size() < 12) return false;
    const size_t length = static_cast<size_t>(link.ReplyInteger(10, 11));
    if (reply.size() < length + 13) return false;
    value.assign(reply.begin() + 12, reply.begin() + 12 + static_cast<std::ptrdiff_t>(length));
    return true;
}

bool ReadRegistrationFlag(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag, bool& flag) {
    flag = false;
    Bytes value;
    if (!ReadRegistrationTag(link, deviceModeByte, tag, value) || value.empty()) return false;
    flag = value[0] != 0;
    return true;
}

bool ReadRegistrationText(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag, std::u16string& text) {
    Bytes value;
    if (!ReadRegistrationTag(link, deviceModeByte, tag, value)) return false;
    text = DecodeDeviceText(value);
    return true;
}

bool QueryDeviceMode(DeviceLink& link, uint8_t& deviceModeByte) {
    if (!link.ExecuteCommand(DeviceModeCommand) || link.ReplyBuffer.size() < 13) return false;
    deviceModeByte = link.ReplyBuffer[12];
    return true;
}

bool QueryFnState(DeviceLink& link, bool& fnFiscalMode, bool& fnError, bool& fnFail, bool& fnOverflow,
                  uint64_t& lastDocumentNumber) {
    fnError = false;
    fnOverflow = false;
    fnFail = false;
    if (!link.ExecuteCommand(FnStateCommand) || link.ReplyBuffer.size() < 14) return false;
    const Bytes& reply = link.ReplyBuffer;
    if (reply[8] == 3) fnFiscalMode = true;
    fnError = (reply[12] & 0x01) != 0;
    fnFail = (reply[12] & 0x02) != 0;
    fnOverflow = (reply[12] & 0x04) != 0;
    if (reply.size() >= 38) lastDocumentNumber = link.ReplyInteger(34, 37);
    return true;
}

}  // namespace vesklink
