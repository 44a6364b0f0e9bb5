#include "operations/cash_register.h"

#include "protocol/commands.h"
#include "protocol/encoding.h"
#include "util/text.h"

#include <type_traits>

namespace vesklink {

std::u16string PortName(uint32_t port, const std::string& device) {
    std::u16string name = u"COM" + DecimalTextUnsigned(port);
    if (!device.empty()) name += u" (" + Utf8ToUtf16(device) + u")";
    return name;
}

// The link's handlers below hold on to the register they were made for.
static_assert(!std::is_copy_constructible_v<CashRegister> && !std::is_move_constructible_v<CashRegister>);

CashRegister::CashRegister(Logger& logger) : logger_(logger) {
    // The device going away and coming back is logged; a reopened port reads the record of a
    // receipt left unsettled on it.
    Port.SetEventSink([this](const PortEvent& event) {
        const std::u16string port = PortName(event.port, event.device);
        if (event.kind == PortEvent::DeviceLost) {
            Log(port + u": device lost (" + Utf8ToUtf16(event.why) + u")", Warning);
        } else {
            Log(port + u": reopened", Warning);
            Safeguard.LoadRecord(*this, event.port);
        }
    });
    // Whatever the call, a receipt left unsettled is settled before anything else is sent.
    Link.SetBeforeExchange([this] { Safeguard.SettleIfDue(*this); });
}

bool CashRegister::SetError(std::u16string_view text) {
    SetErrorQuiet(text);
    Log(text, Error);
    return false;
}

void CashRegister::SetErrorQuiet(std::u16string_view text) {
    LastError.Code = 1;
    LastError.Text = text;
    LastError.AskDevice = false;
}

void CashRegister::QueryDeviceError() {
    using namespace cmd::device_error;
    const Reply reply = Link.Exchange(cmd::DeviceError);
    if (!reply.Holds(Minimum)) return;
    LastError.Code = static_cast<int32_t>(reply.Integer(Code, Code + 1));
    LastError.Text = DecodeFixedDeviceText(reply.Data(), Text, TextWidth);
}

namespace {

// A fresh reading replaces what the register last said; a failed one leaves it.
template <typename Value, typename Field>
bool Keep(const std::optional<Value>& reading, Field& field) {
    if (reading) field = *reading;
    return reading.has_value();
}

}  // namespace

bool CashRegister::QueryDeviceMode() { return Keep(vesklink::QueryDeviceMode(Link), DeviceModeByte); }

std::optional<FnState> CashRegister::QueryFnState() {
    const std::optional<FnState> state = vesklink::QueryFnState(Link);
    if (state && state->FiscalMode) FnFiscalMode = true;
    if (state && state->LastDocumentNumber) NoteLastDocument(*state->LastDocumentNumber);
    return state;
}

std::optional<ShiftNumbers> CashRegister::QueryShift() {
    const std::optional<ShiftNumbers> numbers = QueryShiftNumbers(Link);
    if (!numbers) return {};
    if (const std::optional<uint8_t> code = QueryShiftState(Link)) ShiftState = *code == 3 ? 3 : *code + 1;
    return numbers;
}

bool CashRegister::QueryDocumentDate(uint64_t documentNumber) {
    return Keep(vesklink::QueryDocumentDate(Link, documentNumber), DeviceDateTime);
}

bool CashRegister::ReadFnsSiteAddress() { return Keep(ReadRegistrationText(Link, DeviceModeByte, 1060), FnsSiteAddress); }

bool CashRegister::QueryCashBalance() { return Keep(vesklink::QueryCashBalance(Link), CashBalance); }

bool CashRegister::SendShiftCommand(uint8_t command) {
    using namespace cmd::shift_document;
    FiscalDocumentAhead();
    const Reply reply = Link.Exchange(command, {0x00, 0x00});
    if (!reply.Holds(Minimum)) return false;
    NoteLastDocument(reply.Integer(Document, Document + 3));
    return true;
}

bool CashRegister::CancelReceipt() {
    Log(u"Попытка отмены чека", Warning);
    if (!Link.Exchange(cmd::CancelReceipt).Executed()) return false;
    Log(u"Чек отменен", Warning);
    // The only receipt the register can hold open is one whose closing was not carried out.
    Safeguard.ReceiptCancelled(*this);
    return true;
}

}  // namespace vesklink
