// Receipts and correction receipts as a whole: the package is checked before anything is opened,
// the taxation system is checked against the registration, the receipt is opened, its lines are
// sent in document order, and the closing answers the host with the receipt's numbers. Once the
// receipt is open, every failure cancels it.
#include "component/napi.h"
#include "component/variant.h"
#include "protocol/device_queries.h"
#include "protocol/encoding.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr uint8_t kOpenReceipt = 0x8D;
constexpr uint8_t kOpenCorrectionReceipt = 0xD6;
constexpr uint8_t kRegistrationRecord = 0xE8;
constexpr uint8_t kPrinterFlags = 0xF1;

constexpr uint16_t kPrintedReceipt = 4;
constexpr uint16_t kElectronicReceipt = 6;
constexpr size_t kTaxationSystemsAt = 45;

constexpr uint64_t kQuantityLimit = 10'000'000;  // thousandths: 9999.999 is the largest

constexpr std::u16string_view kClosingUnanswered =
    u"Нет ответа ККТ на закрытие чека, чек мог быть зарегистрирован. Перед повторной отправкой проверьте чек на "
    u"ККТ (например, CheckNumber метода GetCurrentStatus)";

struct Payments {
    int64_t Cash = 0, PrePayment = 0, Barter = 0, PostPayment = 0, ElectronicPayment = 0;
};

Payments ReadPayments(const pugi::xml_node& receipt) {
    const pugi::xml_node payments = Child(receipt, "Payments");
    Payments p;
    p.Cash = ParseScaledDecimal(AttributeText(payments, "Cash"), 2);
    p.PrePayment = ParseScaledDecimal(AttributeText(payments, "PrePayment"), 2);
    p.Barter = ParseScaledDecimal(AttributeText(payments, "Barter"), 2);
    p.PostPayment = ParseScaledDecimal(AttributeText(payments, "PostPayment"), 2);
    p.ElectronicPayment = ParseScaledDecimal(AttributeText(payments, "ElectronicPayment"), 2);
    return p;
}

// Sums of amounts already known to be non-negative; false when the sum leaves the 64-bit range.
bool AddAmount(uint64_t& sum, int64_t amount) {
    const auto add = static_cast<uint64_t>(amount);
    if (sum + add < sum || sum + add > static_cast<uint64_t>(INT64_MAX)) return false;
    sum += add;
    return true;
}

// "ProcessCheck" passes the flag as a boolean; an integer counts as set when it is not zero.
bool ElectronicFlag(const tVariant& variant) {
    if (variant.vt == VTYPE_BOOL) return variant.value.bVal;
    int64_t number = 0;
    return VariantInteger(variant, number) && number != 0;
}

uint8_t TaxationBit(int code) { return code >= 0 && code <= 5 ? static_cast<uint8_t>(1u << code) : 0; }

}  // namespace

bool nAPI::ValidateReceipt(std::u16string_view package, bool correction) {
    pugi::xml_document document;
    if (!ParseDocument(document, package)) return SetError(u"Невозможно проверить чек, ошибка загрузки");
    if (!QueryDeviceMode()) return SetError(u"ФН не зарестрирован");
    ReadRegistrationFlag(Link, DeviceModeByte, 1207, RegistrationData.IsExcisable);
    ReadRegistrationFlag(Link, DeviceModeByte, 1126, RegistrationData.IsLottery);
    ReadRegistrationFlag(Link, DeviceModeByte, 1193, RegistrationData.IsGambling);
    ReceiptTotal = 0;

    const pugi::xml_node receipt = document.document_element();
    const pugi::xml_node parameters = Child(receipt, "Parameters");
    if (!HasAttribute(parameters, "OperationType")) return SetError(u"Не задан тип операции");
    const int operationType = AttributeInt(parameters, "OperationType");
    if (operationType < 1 || operationType > 4) return SetError(u"Неверный тип операции");
    if (!HasAttribute(parameters, "TaxationSystem")) return SetError(u"Не задан код системы налогообложения");
    const int taxationSystem = AttributeInt(parameters, "TaxationSystem");
    if (taxationSystem < 0 || taxationSystem > 5) return SetError(u"Неверный код системы налогообложения");

    if (correction) {
        const pugi::xml_node data = Child(parameters, "CorrectionData");
        if (!HasAttribute(data, "Type")) return SetError(u"Не задан тип коррекции");
        if (!HasAttribute(data, "Description")) return SetError(u"Не задано описание коррекции");
        if (!HasAttribute(data, "Date")) return SetError(u"Не задана дата коррекции");
        if (!HasAttribute(data, "Number")) return SetError(u"Не задан номар коррекции");
        uint8_t type = 0;
        if (!AttributeByte(data, "Type", type)) return SetError(u"Неверный тип коррекции: " + AttributeText(data, "Type"));
    }

    // The host's sum of the receipt, compared with the device's subtotal before closing. Every
    // amount must be non-negative: the device reads them as unsigned numbers.
    uint64_t total = 0;
    for (const pugi::xml_node position : Child(receipt, "Positions").children()) {
        if (!NameIs(position, u"FiscalString")) continue;
        if (!HasAttribute(position, "Name")) return SetError(u"Отсутствует имя позиции");
        if (!HasAttribute(position, "Quantity")) return SetError(u"Отсутствует количество");
        const int64_t quantity = ParseScaledDecimal(AttributeText(position, "Quantity"), 3);
        if (quantity < 0) return SetError(u"Отрицательное количество в позиции");
        if (static_cast<uint64_t>(quantity) >= kQuantityLimit)
            return SetError(u"Максимальное количество товара в одной позиции 9999.999");
        if (!HasAttribute(position, "PriceWithDiscount")) return SetError(u"Отсутствует цена");
        if (ParseScaledDecimal(AttributeText(position, "PriceWithDiscount"), 2) < 0)
            return SetError(u"Отрицательная цена в позиции");
        if (!HasAttribute(position, "AmountWithDiscount")) return SetError(u"Отсутствует сумма");
        const int64_t amount = ParseScaledDecimal(AttributeText(position, "AmountWithDiscount"), 2);
        if (amount < 0) return SetError(u"Отрицательная сумма позиции");
        if (ParseScaledDecimal(AttributeText(position, "ExciseAmount"), 2) < 0)
            return SetError(u"Отрицательная сумма акциза в позиции");
        if (!AddAmount(total, amount)) return SetError(u"Сумма чека слишком велика");
        ReceiptTotal = static_cast<int64_t>(total);
        if (!HasAttribute(position, "VATRate")) return SetError(u"Отсутствует налоговая ставка");

        // Both travel as one byte: a larger value would reach the register as another one (258
        // as 2, excisable goods, past the registration check below).
        uint8_t subject = 0;
        if (!AttributeByte(position, "PaymentMethod", subject))
            return SetError(u"Неверный признак способа расчета в позиции: " + AttributeText(position, "PaymentMethod"));
        if (!AttributeByte(position, "CalculationSubject", subject))
            return SetError(u"Неверный признак предмета расчета в позиции: " +
                            AttributeText(position, "CalculationSubject"));
        if (!RegistrationData.IsExcisable && subject == 2)
            return SetError(u"Нет регистрации для продаж подакцизных товаров");
        if (!RegistrationData.IsLottery && (subject == 7 || subject == 8))
            return SetError(u"Нет регистрации для лотерей");
        if (!RegistrationData.IsGambling && (subject == 5 || subject == 6))
            return SetError(u"Нет регистрации для азартных игр");
    }
    Log(u"AmountWithDiscountSum: " + DecimalText(ReceiptTotal), Info);

    const Payments p = ReadPayments(receipt);
    for (int64_t amount : {p.Cash, p.PrePayment, p.Barter, p.PostPayment, p.ElectronicPayment})
        if (amount < 0) return SetError(u"Отрицательная сумма оплаты");
    uint64_t nonCash = 0;
    uint64_t paid = 0;
    if (!AddAmount(nonCash, p.ElectronicPayment) || !AddAmount(nonCash, p.PostPayment) ||
        !AddAmount(nonCash, p.Barter) || !AddAmount(nonCash, p.PrePayment) || !AddAmount(paid, p.Cash) ||
        !AddAmount(paid, static_cast<int64_t>(nonCash)))
        return SetError(u"Сумма оплаты слишком велика");

    // Change can only be given from cash.
    if (total > paid) return SetError(u"Сумма оплаты меньше суммы чека");
    if (total < nonCash) return SetError(u"Невозможно дать сдачу по безналичному расчету");
    return true;
}

bool nAPI::RegisterReceipt(tVariant* params, bool correction) {
    ReceiptSubtotal = 0;
    const std::u16string package = VariantString(params[correction ? 1 : 2]);
    const bool electronic = !correction && ElectronicFlag(params[1]);
    tVariant* output = &params[correction ? 2 : 3];
    ReceiptAttributes receiptRecord;

    pugi::xml_document document;
    ParseDocument(document, package);
    Logger.LogReceiptBlock(package);
    if (!ValidateReceipt(package, correction)) return false;
    Log(u"Check correct", Info);

    const pugi::xml_node receipt = document.document_element();
    const pugi::xml_node parameters = Child(receipt, "Parameters");
    receiptRecord.CashierName = AttributeText(parameters, "CashierName");
    receiptRecord.CashierInn = AttributeText(parameters, "CashierINN");
    const int operationType = AttributeInt(parameters, "OperationType");
    const int taxationSystem = AttributeInt(parameters, "TaxationSystem");
    receiptRecord.CustomerEmail = AttributeText(parameters, "CustomerEmail");
    receiptRecord.CustomerPhone = AttributeText(parameters, "CustomerPhone");
    ReadAgentData(Child(parameters, "AgentData"), Child(parameters, "VendorData"), receiptRecord);

    const pugi::xml_node correctionData = Child(parameters, "CorrectionData");
    const auto correctionType = static_cast<uint8_t>(AttributeInt(correctionData, "Type"));
    const std::u16string description = AttributeText(correctionData, "Description");
    std::u16string date = AttributeText(correctionData, "Date");
    const std::u16string number = AttributeText(correctionData, "Number");

    const uint8_t taxationBit = TaxationBit(taxationSystem);

    // The registration record says which taxation systems the register may use.
    if (!QueryDeviceMode()) return false;
    Link.PayloadBuffer = {DeviceModeByte};
    Link.ExecuteCommand(kRegistrationRecord, Link.PayloadBuffer);
    if (Link.ReplyBuffer.size() < 52) return false;
    if ((Link.ReplyBuffer[kTaxationSystemsAt] & taxationBit) == 0)
        return SetError(u"Система налогообложения не зарегистрирована!");

    Bytes& header = Link.PayloadBuffer;
    header.clear();
    AppendLittleEndian(header, electronic ? kElectronicReceipt : kPrintedReceipt, 2);
    header.push_back(static_cast<uint8_t>(operationType - 1));
    header.push_back(taxationBit);
    if (correction) {
        header.push_back(correctionType);
        AppendLengthPrefixedText(header, description);
        // A date shorter than YYYY-MM-DDT is left out; the number then follows the description.
        EncodeDeviceDate(date, header);
        AppendLengthPrefixedText(header, number);
    }
    // A refused opening leaves nothing to cancel. Without a usable reply the register may have
    // opened the receipt all the same: it is asked, and a receipt it opened is cancelled.
    if (!Link.ExecuteCommand(correction ? kOpenCorrectionReceipt : kOpenReceipt, Link.PayloadBuffer)) {
        if (!Link.RefusedByDevice() && QueryReceiptOnRegister() == ReceiptOnRegister::Open) CancelReceipt();
        return false;
    }

    for (const pugi::xml_node line : Child(receipt, "Positions").children()) {
        bool ok = true;
        if (NameIs(line, u"FiscalString"))
            ok = RegisterPosition(line, operationType - 1);
        else if (NameIs(line, u"TextString"))
            ok = PrintTextLine(AttributeText(line, "Text"));
        else if (NameIs(line, u"Barcode"))
            ok = PrintBarcode(AttributeText(line, "Type"), AttributeText(line, "ValueBase64"));
        if (!ok) {
            CancelReceipt();
            return false;
        }
    }

    SendReceiptAttributes(receiptRecord);

    const Payments p = ReadPayments(receipt);
    ClosingOutcome closing = CloseReceipt(p.Cash, p.PrePayment, p.Barter, p.PostPayment, p.ElectronicPayment);
    if (closing == ClosingOutcome::Unanswered) {
        // The closing may have been carried out: the register is asked whether the receipt is
        // still open. The closing command is never sent a second time.
        switch (QueryReceiptOnRegister()) {
            case ReceiptOnRegister::NotOpen:
                ReadNumbersOfUnansweredClosing();
                closing = ClosingOutcome::Closed;
                break;
            case ReceiptOnRegister::Open: closing = ClosingOutcome::Refused; break;
            case ReceiptOnRegister::Unknown:
                // Nothing more is sent: on a dead line each exchange only waits out its time limit.
                return SetError(kClosingUnanswered);
        }
    }
    if (closing != ClosingOutcome::Closed) {
        // With both, the cover is the text left.
        if (IsPaperOut()) SetErrorQuiet(u"В принтере нет бумаги");
        if (IsCoverOpen()) SetErrorQuiet(u"Открыта крышка");
        CancelReceipt();
        return false;
    }

    pugi::xml_document result;
    pugi::xml_node out = result.append_child(PUGIXML_TEXT("DocumentOutputParameters")).append_child(PUGIXML_TEXT("Parameters"));
    AppendUnsigned(out, "ShiftNumber", ShiftNumber);
    AppendUnsigned(out, "CheckNumber", LastDocumentNumber);
    AppendUnsigned(out, "ShiftClosingCheckNumber", ShiftReceiptNumber);
    AppendText(out, "AddressSiteInspections", FnsSiteAddress);
    AppendText(out, "FiscalSign", LastFiscalSign);
    AppendText(out, "DateTime", DeviceDateTime);
    const std::u16string text = SerializeDocument(result);
    ReturnString(text, output);

    Log(u"Check output parameteres:", Info);
    Log(text, Info);
    Log(u"Check ok", Info);
    return true;
}

void nAPI::ReadNumbersOfUnansweredClosing() {
    // Only the closing reply carries the fiscal sign. A number the register cannot tell either is
    // reported as 0, never as the previous receipt's.
    LastFiscalSign.clear();
    LastDocumentNumber = ShiftNumber = ShiftReceiptNumber = 0;
    DeviceDateTime.clear();
    QueryFnState();
    QueryShiftNumbers();
    ReadRegistrationText(Link, DeviceModeByte, 1060, FnsSiteAddress);
    if (LastDocumentNumber != 0) QueryDocumentDate(LastDocumentNumber);
    Log(u"Чек зарегистрирован, но его фискальный признак не получен", Warning);
}

bool nAPI::IsPaperOut() {
    return Link.ExecuteCommand(kPrinterFlags) && Link.ReplyBuffer.size() >= 12 && (Link.ReplyBuffer[8] & 0x02);
}

bool nAPI::IsCoverOpen() {
    return Link.ExecuteCommand(kPrinterFlags) && Link.ReplyBuffer.size() >= 12 && (Link.ReplyBuffer[8] & 0x01);
}

}  // namespace vesklink
