// Device commands that several operations share: writing one fiscal attribute (0xD8), reading
// registration attributes (0xE9), the device mode byte (0xE2) and the FN state (0xE0). Each takes
// the link and references to the component fields it writes, and returns true on success.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/device_link.h"

namespace vesklink {

// 0xD8: the tag (2 bytes), 0x00, the text length-prefixed. Sends whatever text it is given;
// callers skip empty texts themselves.
bool WriteTag(DeviceLink& link, uint16_t tag, std::u16string_view text);

// 0xE9 with the device mode byte and the tag. Succeeds when the command does and the reply holds
// the whole value announced by its 16-bit length at offsets 10-11; `value` then holds the value
// bytes from offset 12 (possibly none). On failure `value` is empty.
bool ReadRegistrationTag(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag, Bytes& value);
// The flag is cleared first; a value of at least one byte sets it from the first byte and
// succeeds. An empty value fails and leaves the flag false.
bool ReadRegistrationFlag(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag, bool& flag);
// The decoded value on success; on failure the text keeps what it held.
bool ReadRegistrationText(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag, std::u16string& text);

// 0xE2: the device mode byte at offset 12 (0: the FN is not registered). Unchanged on failure.
bool QueryDeviceMode(DeviceLink& link, uint8_t& deviceModeByte);

// 0xE0: clears the three warning flags, then reads the FN state. Fiscal mode is set when the
// state byte (offset 8) is 3 and is never cleared here. Warning bits of offset 12: bit 0 error,
// bit 1 fail, bit 2 overflow. The last document number (offsets 34-37) is taken only from a reply
// that holds it; a shorter reply leaves it unchanged.
bool QueryFnState(DeviceLink& link, bool& fnFiscalMode, bool& fnError, bool& fnFail, bool& fnOverflow,
                  uint64_t& lastDocumentNumber);

}  // namespace vesklink
