// Inside an open receipt: one position record per "FiscalString", the agent, supplier and buyer
// attributes, the discount line, and the closing with the subtotal check and the payments.
#include "component/names.h"
#include "component/napi.h"
#include "protocol/device_queries.h"
#include "protocol/encoding.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr uint8_t kCloseReceipt = 0x85;
constexpr uint8_t kSubtotal = 0x89;

constexpr size_t kNameUnits = 120;
// The two bytes, the six bytes and the rest of a decoded marking code go into separate parts of
// the block; a code shorter than the first two parts cannot fill it.
constexpr size_t kMarkingCodeMinimum = 8;
constexpr uint16_t kSumCorrectionFlags = 0x1000;

// The position command follows the receipt's operation: sale, return of sale, purchase, return
// of purchase.
bool PositionCommand(int operationIndex, uint8_t& command) {
    switch (operationIndex) {
        case 0: command = 0x80; return true;
        case 1: command = 0x82; return true;
        case 2: command = 0x81; return true;
        case 3: command = 0x83; return true;
        default: return false;
    }
}

uint8_t VatCode(std::u16string_view rate) {
    if (EqualsIgnoreCase(rate, u"10")) return 2;
    if (EqualsIgnoreCase(rate, u"0")) return 3;
    if (EqualsIgnoreCase(rate, u"none")) return 4;
    if (EqualsIgnoreCase(rate, u"20/120")) return 5;
    if (EqualsIgnoreCase(rate, u"10/110")) return 6;
    return 1;
}

// "AAA=" stands for a position without a marking code.
bool HasMarkingCode(std::u16string_view code) { return !code.empty() && code != u"AAA="; }

// The marking code block: the whole length, two zero bytes, the first two decoded bytes in
// reverse order, the 16-bit 6 and the next six bytes, then the rest with its own length.
void AppendMarkingBlock(Bytes& out, const Bytes& d) {
    const size_t n = d.size();
    AppendLittleEndian(out, n + 6, 2);
    out.push_back(0x00);
    out.push_back(0x00);
    out.push_back(d[1]);
    out.push_back(d[0]);
    AppendLittleEndian(out, 6, 2);
    out.insert(out.end(), d.begin() + 2, d.begin() + 8);
    AppendLittleEndian(out, n - 8, 2);
    out.insert(out.end(), d.begin() + 8, d.end());
}

uint64_t AbsoluteDifference(int64_t a, int64_t b) {
    return a >= b ? static_cast<uint64_t>(a) - static_cast<uint64_t>(b)
                  : static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
}

}  // namespace

bool nAPI::ReadAgentData(const pugi::xml_node& agent, const pugi::xml_node& vendor, ReceiptAttributes& record) {
    record.AgentOperation = AttributeText(agent, "AgentOperation");
    record.AgentPhone = AttributeText(agent, "AgentPhone");
    record.PaymentProcessorPhone = AttributeText(agent, "PaymentProcessorPhone");
    record.AcquirerOperatorPhone = AttributeText(agent, "AcquirerOperatorPhone");
    record.AcquirerOperatorName = AttributeText(agent, "AcquirerOperatorName");
    record.AcquirerOperatorAddress = AttributeText(agent, "AcquirerOperatorAddress");
    record.AcquirerOperatorInn = AttributeText(agent, "AcquirerOperatorINN");
    record.VendorPhone = AttributeText(vendor, "VendorPhone");
    record.VendorName = AttributeText(vendor, "VendorName");
    record.VendorInn = AttributeText(vendor, "VendorINN");
    return true;
}

bool nAPI::SendReceiptAttributes(const ReceiptAttributes& record) {
    const std::pair<uint16_t, const std::u16string*> tags[] = {
        {1008, &record.CustomerEmail},         {1008, &record.CustomerPhone},
        {1005, &record.AcquirerOperatorAddress}, {1016, &record.AcquirerOperatorInn},
        {1026, &record.AcquirerOperatorName},  {1044, &record.AgentOperation},
        {1073, &record.AgentPhone},            {1074, &record.PaymentProcessorPhone},
        {1075, &record.AcquirerOperatorPhone}, {1171, &record.VendorPhone},
        {1225, &record.VendorName},            {1226, &record.VendorInn},
    };
    // A refused attribute does not stop the position or the receipt.
    for (const auto& [tag, text] : tags)
        if (!text->empty()) WriteTag(Link, tag, *text);
    return true;
}

bool nAPI::RegisterPosition(const pugi::xml_node& position, int operationIndex) {
    std::u16string name = AttributeText(position, "Name");
    if (name.size() > kNameUnits) name.resize(kNameUnits);
    const int64_t quantity = ParseScaledDecimal(AttributeText(position, "Quantity"), 3);
    const int64_t price = ParseScaledDecimal(AttributeText(position, "PriceWithDiscount"), 2);
    const std::u16string discount = AttributeText(position, "DiscountAmount");
    const std::u16string additional = AttributeText(position, "AdditionalAttribute");
    const std::u16string customs = AttributeText(position, "CustomsDeclaration");
    const std::u16string country = AttributeText(position, "CountryOfOrigin");
    const auto paymentMethod = static_cast<uint8_t>(AttributeInt(position, "PaymentMethod"));
    const auto subject = static_cast<uint8_t>(AttributeInt(position, "CalculationSubject"));
    const uint8_t vat = VatCode(AttributeText(position, "VATRate"));
    const int64_t excise = ParseScaledDecimal(AttributeText(position, "ExciseAmount"), 2);
    const std::u16string marking = AttributeText(Child(position, "GoodCodeData"), "MarkingCode");

    // A marked good is never sold without its code: a code too short for the block refuses the
    // position before anything of it reaches the device.
    Bytes markingCode;
    if (HasMarkingCode(marking)) {
        markingCode = DecodeBase64Lenient(marking);
        if (markingCode.size() < kMarkingCodeMinimum)
            return SetError(u"Код маркировки позиции \"" + name + u"\" короче 8 байт");
    }

    // The position's own agent and supplier attributes reach the device before the position.
    ReceiptAttributes record;
    ReadAgentData(Child(position, "AgentData"), Child(position, "VendorData"), record);
    SendReceiptAttributes(record);

    const bool discountLine = !discount.empty() && !EqualsIgnoreCase(discount, u"0");
    uint8_t flags = 0;
    if (!additional.empty()) flags |= 0x02;
    if (HasMarkingCode(marking)) flags |= 0x04;
    if (!customs.empty()) flags |= 0x08;

    Bytes& body = Link.PayloadBuffer;
    body.clear();
    body.push_back(flags);
    body.push_back(0x00);
    body.push_back(paymentMethod);
    body.push_back(subject);
    if (country.size() == 3)
        AppendDeviceText(body, country);
    else
        body.insert(body.end(), {'0', '0', '0'});
    AppendLittleEndian(body, static_cast<uint64_t>(quantity), 5);
    AppendLittleEndian(body, static_cast<uint64_t>(price), 8);
    AppendLittleEndian(body, static_cast<uint64_t>(excise), 8);
    body.push_back(vat);
    AppendLengthPrefixedText(body, name);
    if (flags & 0x02) AppendLengthPrefixedText(body, additional);
    if (flags & 0x04) AppendMarkingBlock(body, markingCode);
    if (flags & 0x08) AppendLengthPrefixedText(body, customs);

    uint8_t command = 0;
    if (!PositionCommand(operationIndex, command)) return true;
    if (!Link.ExecuteCommand(command, Link.PayloadBuffer)) {
        CancelReceipt();
        return false;
    }
    if (discountLine) PrintDiscountLine(discount);
    return true;
}

bool nAPI::PrintDiscountLine(std::u16string_view discount) {
    const std::u16string_view suffix = discount.find(u'.') != std::u16string_view::npos ? u" РУБ" : u".00 РУБ";
    const std::u16string_view label = u"Скидка: ";
    const size_t used = discount.size() + suffix.size() + label.size();
    // Right-aligned: the amount ends in the last column.
    std::u16string line(used < LineLength ? LineLength - used : 0, u' ');
    line.append(label).append(discount).append(suffix);
    PrintTextLine(line);
    return true;
}

bool nAPI::ReadReceiptSubtotal() {
    Link.PayloadBuffer = {0x00, 0x00};
    if (!Link.ExecuteCommand(kSubtotal, Link.PayloadBuffer) || Link.ReplyBuffer.size() < 16) return false;
    ReceiptSubtotal = static_cast<int64_t>(Link.ReplyInteger(8, 15));
    Log(u"Check subtotal: " + DecimalText(ReceiptSubtotal), Info);
    return true;
}

ClosingOutcome nAPI::CloseReceipt(int64_t cash, int64_t prePayment, int64_t barter, int64_t postPayment,
                                  int64_t electronicPayment) {
    // Without the device's sum the comparison runs against the 0 the receipt started with.
    ReadReceiptSubtotal();

    uint16_t flags = 0;
    bool correct = false;
    uint8_t correction = 0;
    if (ReceiptSubtotal != ReceiptTotal) {
        if (AbsoluteDifference(ReceiptSubtotal, ReceiptTotal) >= 100) {
            SetError(u"Некорректируемый подытог");
            CancelReceipt();
            return ClosingOutcome::Refused;
        }
        // Less than one currency unit apart: the device takes the hundredths of the host's sum.
        correction = static_cast<uint8_t>(static_cast<uint64_t>(ReceiptTotal) % 100);
        Log(u"Коррекция суммы чека", Error);
        Log(u"Коррекция к: " + DecimalText(correction), Info);
        flags = kSumCorrectionFlags;
        correct = true;
    }

    Bytes& payload = Link.PayloadBuffer;
    payload.clear();
    AppendLittleEndian(payload, flags, 2);
    // The wire order differs from the argument order.
    for (int64_t amount : {cash, electronicPayment, prePayment, postPayment, barter})
        AppendLittleEndian(payload, static_cast<uint64_t>(amount), 8);
    if (correct) payload.push_back(correction);
    if (!Link.ExecuteCommand(kCloseReceipt, Link.PayloadBuffer) || Link.ReplyBuffer.size() < 29) {
        // Without the receipt's numbers only a refusal tells that the receipt is still open; after
        // silence or a cut frame the register may well have registered it.
        return Link.RefusedByDevice() ? ClosingOutcome::Refused : ClosingOutcome::Unanswered;
    }
    if (Link.ReplyBuffer[15] & 0x80) {
        SetError(u"Сумма оплаты меньше суммы чека");
        return ClosingOutcome::Refused;
    }

    ShiftNumber = Link.ReplyInteger(16, 17);
    ShiftReceiptNumber = Link.ReplyInteger(18, 19);
    LastDocumentNumber = Link.ReplyInteger(20, 23);
    LastFiscalSign = DecimalTextUnsigned(Link.ReplyInteger(24, 27));
    // The receipt is closed; a failed read leaves the previous value in the result.
    ReadRegistrationText(Link, DeviceModeByte, 1060, FnsSiteAddress);
    QueryDocumentDate(LastDocumentNumber);
    return ClosingOutcome::Closed;
}

}  // namespace vesklink
