#include "protocol/device_queries.h"

#include "protocol/commands.h"
#include "protocol/encoding.h"
#include "util/text.h"

namespace vesklink {

bool WriteTag(DeviceLink& link, uint16_t tag, std::u16string_view text) {
    Bytes payload = LittleEndianBytes(tag, 2);
    payload.push_back(0x00);
    AppendLengthPrefixedText(payload, text);
    return link.Exchange(cmd::WriteTag, payload).Executed();
}

std::optional<Bytes> ReadRegistrationTag(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag) {
    Bytes payload{deviceModeByte};
    AppendLittleEndian(payload, tag, 2);
    using namespace cmd::registration_tag;
    const Reply reply = link.Exchange(cmd::RegistrationTag, payload);
    if (!reply.Holds(Value)) return {};
    const size_t length = static_cast<size_t>(reply.Integer(Length, Length + 1));
    if (reply.Size() < length + Value + 1) return {};
    const auto value = reply.Data().begin() + Value;
    return Bytes(value, value + static_cast<std::ptrdiff_t>(length));
}

std::optional<bool> ReadRegistrationFlag(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag) {
    const std::optional<Bytes> value = ReadRegistrationTag(link, deviceModeByte, tag);
    if (!value || value->empty()) return {};
    return (*value)[0] != 0;
}

std::optional<std::u16string> ReadRegistrationText(DeviceLink& link, uint8_t deviceModeByte, uint16_t tag) {
    const std::optional<Bytes> value = ReadRegistrationTag(link, deviceModeByte, tag);
    if (!value) return {};
    return DecodeDeviceText(*value);
}

std::optional<uint8_t> QueryDeviceMode(DeviceLink& link) {
    const Reply reply = link.Exchange(cmd::DeviceMode);
    if (!reply.Holds(cmd::device_mode::Minimum)) return {};
    return reply.Byte(cmd::device_mode::Mode);
}

std::optional<FnState> QueryFnState(DeviceLink& link) {
    using namespace cmd::fn_state;
    const Reply reply = link.Exchange(cmd::FnState);
    if (!reply.Holds(Minimum)) return {};
    FnState state;
    state.FiscalMode = reply.Byte(State) == 3;
    state.Error = (reply.Byte(Warnings) & 0x01) != 0;
    state.Fail = (reply.Byte(Warnings) & 0x02) != 0;
    state.Overflow = (reply.Byte(Warnings) & 0x04) != 0;
    if (reply.Size() >= WithDocument) state.LastDocumentNumber = reply.Integer(Document, Document + 3);
    return state;
}

std::optional<ShiftNumbers> QueryShiftNumbers(DeviceLink& link) {
    using namespace cmd::shift;
    const Reply reply = link.Exchange(cmd::Shift);
    if (!reply.Holds(Minimum)) return {};
    return ShiftNumbers{reply.Integer(Number, Number + 1), reply.Integer(Receipts, Receipts + 1)};
}

std::optional<uint8_t> QueryShiftState(DeviceLink& link) {
    const Reply reply = link.Exchange(cmd::ShiftState);
    if (!reply.Holds(cmd::shift_state::Minimum)) return {};
    return reply.Byte(cmd::shift_state::State);
}

std::optional<Backlog> QueryBacklog(DeviceLink& link) {
    using namespace cmd::backlog;
    const Reply reply = link.Exchange(cmd::Backlog);
    if (!reply.Holds(Minimum)) return {};
    bool dated = false;
    for (size_t i = Date; i <= DateLast; ++i) dated = dated || reply.Byte(i) != 0;
    // Nothing waiting: the device gives no date, the computer's own time is reported.
    return Backlog{reply.Integer(Count, Count + 1), reply.Integer(First, First + 3),
                   dated ? FormatDeviceDateTime(reply.Data(), Date) : Widen(FormatLocalNow("%Y-%m-%dT%H:%M:%S"))};
}

std::optional<std::u16string> QueryDocumentDate(DeviceLink& link, uint64_t documentNumber) {
    const Reply reply = link.Exchange(cmd::DocumentDate, LittleEndianBytes(documentNumber, 4));
    if (!reply.Holds(cmd::document_date::Minimum)) return {};
    return FormatDeviceDateTime(reply.Data(), cmd::document_date::DateTime);
}

std::optional<int64_t> QueryCashBalance(DeviceLink& link) {
    const Reply reply = link.Exchange(cmd::CashBalance);
    if (!reply.Holds(cmd::cash_balance::Minimum)) return {};
    return static_cast<int64_t>(reply.Integer(cmd::cash_balance::Amount, cmd::cash_balance::Amount + 7));
}

std::optional<ShiftCounters> QueryShiftCounters(DeviceLink& link) {
    using namespace cmd::counters;
    const Reply reply = link.Exchange(cmd::OperationCounters, {0x00});
    if (!reply.Holds(Minimum)) return {};
    ShiftCounters counters;
    for (size_t type = 0; type < 4; ++type) {
        const size_t all = All + AllStep * type;
        const size_t correction = Correction + CorrectionStep * type;
        const uint64_t corrections = reply.Integer(correction, correction + 3);
        const uint64_t correctionsAmount = reply.Integer(correction + 4, correction + 9);
        counters.Types[type] = {reply.Integer(all, all + 3) - corrections, corrections,
                                reply.Integer(all + 4, all + 9) - correctionsAmount, correctionsAmount};
    }
    return counters;
}

ReceiptOnRegister QueryReceiptOnRegister(DeviceLink& link) {
    using namespace cmd::receipt_state;
    const Reply reply = link.Exchange(cmd::ReceiptState);
    if (!reply.Holds(Minimum)) return ReceiptOnRegister::Unknown;
    return reply.Byte(Receipt) == 1 || reply.Byte(Correction) == 1 ? ReceiptOnRegister::Open
                                                                     : ReceiptOnRegister::NotOpen;
}

}  // namespace vesklink
