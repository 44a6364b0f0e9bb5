// Opening and closing shifts, and the cashier recorded on the device when a shift opens.
#include "component/napi.h"
#include "component/variant.h"
#include "protocol/encoding.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr uint8_t kReadCashier = 0x09;
constexpr uint8_t kWriteCashier = 0x0A;
constexpr uint8_t kOpenShift = 0xD9;
constexpr uint16_t kCashierTable = 320;

// The cashier record: 96 bytes at reply offsets 8 to 103.
constexpr size_t kRecordOffset = 8;
constexpr size_t kRecordSize = 96;
constexpr size_t kNameAt = 3, kNameWidth = 64;
constexpr size_t kInnAt = 67, kInnWidth = 12;
constexpr size_t kTailAt = 79;

}  // namespace

bool nAPI::OpenShift(tVariant* params) {
    // A cashier that cannot be recorded does not keep the shift from opening.
    ReadCashierInput(VariantTextLenient(params[1]));
    QueryShiftState();
    if (ShiftState != 0) {
        Log(u"Смена уже была открыта или истекла, закрыть", Warning);
        CloseShiftSequence(params);
    }
    if (RunOpenShift(params)) return true;
    Log(u"Ошибка открытия смены", Error);
    return false;
}

bool nAPI::ReadCashierInput(std::u16string_view inputXml) {
    pugi::xml_document document;
    ParseDocument(document, inputXml);
    const pugi::xml_node parameters = Child(Child(document, "InputParameters"), "Parameters");
    CashierName = AttributeText(parameters, "CashierName");
    CashierInn = AttributeText(parameters, "CashierINN");
    return WriteCashier(1);
}

bool nAPI::WriteCashier(uint16_t record) {
    if (CashierName.empty()) return true;
    Bytes request;
    AppendLittleEndian(request, kCashierTable, 2);
    AppendLittleEndian(request, record, 2);
    Link.PayloadBuffer = request;
    if (!Link.ExecuteCommand(kReadCashier, Link.PayloadBuffer) ||
        Link.ReplyBuffer.size() < kRecordOffset + kRecordSize + 1)
        return false;
    const auto recordBytes = Link.ReplyBuffer.begin() + kRecordOffset;

    Link.PayloadBuffer = request;
    Link.PayloadBuffer.insert(Link.PayloadBuffer.end(), recordBytes, recordBytes + kNameAt);
    AppendFixedDeviceText(Link.PayloadBuffer, CashierName, kNameWidth);
    if (CashierInn.empty()) {
        Log(u"ИНН не задан, используется существующий", Warning);
        Link.PayloadBuffer.insert(Link.PayloadBuffer.end(), recordBytes + kInnAt, recordBytes + kInnAt + kInnWidth);
    } else {
        AppendFixedDeviceText(Link.PayloadBuffer, CashierInn, kInnWidth);
    }
    Link.PayloadBuffer.insert(Link.PayloadBuffer.end(), recordBytes + kTailAt, recordBytes + kRecordSize);

    if (!Link.ExecuteCommand(kWriteCashier, Link.PayloadBuffer)) {
        Log(u"Имя кассира и ИНН не установлены, вероятно некорректный ИНН", Warning);
        return false;
    }
    return true;
}

bool nAPI::RunOpenShift(tVariant* params) {
    QueryDeviceMode();
    if (DeviceModeByte == 0) return SetError(u"ФН не зарегтрирован");
    if (!QueryFnState() || !SendOpenShift() || !QueryShift() || !QueryDocumentDate(LastDocumentNumber)) return false;

    pugi::xml_document document;
    pugi::xml_node parameters =
        document.append_child(PUGIXML_TEXT("OutputParameters")).append_child(PUGIXML_TEXT("Parameters"));
    AppendText(parameters, "DateTime", DeviceDateTime);
    AppendFlag(parameters, "FNError", FnError);
    AppendFlag(parameters, "FNOverflow", FnOverflow);
    AppendFlag(parameters, "FNFail", FnFail);
    AppendUnsigned(parameters, "ShiftNumber", ShiftNumber);
    AppendSigned(parameters, "ShiftState", ShiftState);
    ReturnString(SerializeDocument(document), &params[2]);
    return true;
}

bool nAPI::SendOpenShift() {
    Link.PayloadBuffer = {0x00, 0x00};
    if (!Link.ExecuteCommand(kOpenShift, Link.PayloadBuffer) || Link.ReplyBuffer.size() < 15) return false;
    ShiftNumber = Link.ReplyInteger(8, 9);
    LastDocumentNumber = Link.ReplyInteger(10, 13);
    return true;
}

bool nAPI::CloseShift(tVariant* params) {
    QueryShift();
    if (ShiftState == 1) {
        Log(u"Смена уже была закрыта, не закрывать", Warning);
        return true;
    }
    if (CloseShiftSequence(params)) return true;
    Log(u"Ошибка закрытия смены", Error);
    return false;
}

}  // namespace vesklink
