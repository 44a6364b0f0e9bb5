// Device commands that several operations share, each returning what it read as a small value:
// writing one fiscal attribute, reading registration attributes, and the register's state (device
// mode, FN, shift, backlog, cash, counters, an unfinished receipt). A query that fails returns
// nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/device_link.h"

namespace vesklink {

// 0xD8: the tag (2 bytes), 0x00, the text length-prefixed. Sends whatever text it is given;
// callers skip empty texts themselves.
bool WriteTag(DeviceLink& link, uint16_t tag, std::u16string_view text);

// 0xE9 with the device mode byte and the tag: the value bytes (possibly none), when the reply
// holds the whole value its length announces.
std::optional<Bytes> ReadRegistrationTag(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag);
// The first byte of a value of at least one byte.
std::optional<bool> ReadRegistrationFlag(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag);
std::optional<std::u16string> ReadRegistrationText(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag);

// 0xE2: the device mode byte (0: the FN is not registered).
std::optional<uint8_t> QueryDeviceMode(DeviceLink& link);

// 0xE0. The last document number comes only with a reply long enough to hold it.
struct FnState {
    bool FiscalMode = false, Error = false, Fail = false, Overflow = false;
    std::optional<uint64_t> LastDocumentNumber;
};
std::optional<FnState> QueryFnState(DeviceLink& link);

// 0xEC: the shift's number and the receipts in it.
struct ShiftNumbers {
    uint64_t Shift = 0, Receipts = 0;
};
std::optional<ShiftNumbers> QueryShiftNumbers(DeviceLink& link);
// 0xF2: the device's code, 0 closed, 1 open, 2 expired.
std::optional<uint8_t> QueryShiftState(DeviceLink& link);

// 0xE4: the documents not yet sent to the tax service.
struct Backlog {
    uint64_t Count = 0, FirstNumber = 0;
    std::u16string FirstDateTime;  // the computer's own time when the device gives no date
};
std::optional<Backlog> QueryBacklog(DeviceLink& link);

// 0xE5: the date and time of a fiscal document.
std::optional<std::u16string> QueryDocumentDate(DeviceLink& link, uint64_t documentNumber);
// 0xFA: cash in the drawer, in hundredths.
std::optional<int64_t> QueryCashBalance(DeviceLink& link);

// 0xC0: the shift's counters per operation type (sale, return of sale, purchase, return of
// purchase); receipts exclude the correction receipts.
struct ShiftCounters {
    struct Type {
        uint64_t Receipts = 0, Corrections = 0, ReceiptsAmount = 0, CorrectionsAmount = 0;
    } Types[4];
};
std::optional<ShiftCounters> QueryShiftCounters(DeviceLink& link);

// 0xF3: whether a receipt is open on the register; Unknown without a usable reply.
enum class ReceiptOnRegister { Open, NotOpen, Unknown };
ReceiptOnRegister QueryReceiptOnRegister(DeviceLink& link);

}  // namespace vesklink
