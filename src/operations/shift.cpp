// OpenShift and CloseShift, and the cashier recorded on the register when a shift opens.
#include "operations/operations.h"
#include "protocol/commands.h"
#include "protocol/encoding.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr uint16_t kCashierTable = 320;

// The cashier's name and INN replace those of the register's first cashier record; an empty INN
// keeps the one recorded. Nothing is written without a name.
bool WriteCashier(CashRegister& device, std::u16string_view name, std::u16string_view inn) {
    if (name.empty()) return true;
    Bytes request = LittleEndianBytes(kCashierTable, 2);
    AppendLittleEndian(request, 1, 2);
    using namespace cmd::cashier;
    const Reply reply = device.Link.Exchange(cmd::ReadCashier, request);
    if (!reply.Holds(Minimum)) return false;
    const auto record = reply.Data().begin() + Record;

    Bytes payload = request;
    payload.insert(payload.end(), record, record + Name);
    AppendFixedDeviceText(payload, name, NameWidth);
    if (inn.empty()) {
        device.Log(u"ИНН не задан, используется существующий", Warning);
        payload.insert(payload.end(), record + Inn, record + Inn + InnWidth);
    } else {
        AppendFixedDeviceText(payload, inn, InnWidth);
    }
    payload.insert(payload.end(), record + Tail, record + RecordSize);
    if (device.Link.Exchange(cmd::WriteCashier, payload).Executed()) return true;
    device.Log(u"Имя кассира и ИНН не установлены, вероятно некорректный ИНН", Warning);
    return false;
}

// 0xD9 and the open-shift document.
std::optional<std::u16string> SendOpenShift(CashRegister& device) {
    device.QueryDeviceMode();
    if (device.DeviceModeByte == 0) {
        device.SetError(u"ФН не зарегтрирован");  // "зарегтрирован": the host contract's spelling, on purpose
        return {};
    }
    const std::optional<FnState> fn = device.QueryFnState();
    if (!fn) return {};
    if (!device.SendShiftCommand(cmd::OpenShift)) return {};
    const std::optional<ShiftNumbers> shift = device.QueryShift();
    if (!shift || !device.QueryDocumentDate(device.LastDocumentNumber)) return {};

    pugi::xml_document document;
    pugi::xml_node parameters = AppendOutputParameters(document);
    AppendText(parameters, "DateTime", device.DeviceDateTime);
    AppendFlag(parameters, "FNError", fn->Error);
    AppendFlag(parameters, "FNOverflow", fn->Overflow);
    AppendFlag(parameters, "FNFail", fn->Fail);
    AppendUnsigned(parameters, "ShiftNumber", shift->Shift);
    AppendSigned(parameters, "ShiftState", device.ShiftState);
    return SerializeDocument(document);
}

}  // namespace

DocumentResult OpenShift(CashRegister& device, std::u16string_view cashierXml) {
    pugi::xml_document input;
    ParseDocument(input, cashierXml);
    const pugi::xml_node cashier = Child(Child(input, "InputParameters"), "Parameters");
    // A cashier that cannot be recorded does not keep the shift from opening.
    WriteCashier(device, AttributeText(cashier, "CashierName"), AttributeText(cashier, "CashierINN"));

    DocumentResult result;
    // A shift still open (or expired) is closed first; without an answer none is assumed.
    if (QueryShiftState(device.Link).value_or(0) != 0) {
        device.Log(u"Смена уже была открыта или истекла, закрыть", Warning);
        result.Document = CloseShiftWithReport(device);
    }
    if (std::optional<std::u16string> opened = SendOpenShift(device)) result = {true, std::move(opened)};
    return result;
}

DocumentResult CloseShift(CashRegister& device) {
    device.QueryShift();
    if (device.ShiftState == 1) {
        device.Log(u"Смена уже была закрыта, не закрывать", Warning);
        return {true, {}};
    }
    std::optional<std::u16string> report = CloseShiftWithReport(device);
    return {report.has_value(), std::move(report)};
}

}  // namespace vesklink
