// ProcessCheck and ProcessCorrectionCheck: the package is read once and checked before anything is
// opened, the taxation system is checked against the registration, the receipt is opened, its
// lines are sent in document order, and the closing answers the host with the receipt's numbers.
// Once the receipt is open it is cancelled unless it was registered.
#include <algorithm>

#include "operations/operations.h"
#include "operations/receipt.h"
#include "protocol/commands.h"
#include "protocol/encoding.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr uint16_t kPrintedReceipt = 4, kElectronicReceipt = 6;
constexpr size_t kNameUnits = 120;
// The two bytes, the six bytes and the rest of a decoded marking code go into separate parts of
// the block; a code shorter than the first two parts cannot fill it.
constexpr size_t kMarkingCodeMinimum = 8;
constexpr uint16_t kSumCorrectionFlags = 0x1000;
// The position command follows the receipt's operation: sale, return of sale, purchase, return
// of purchase.
constexpr uint8_t kPositionCommands[] = {cmd::Sale, cmd::ReturnOfSale, cmd::Purchase, cmd::ReturnOfPurchase};

constexpr std::u16string_view kClosingUnanswered =
    u"Нет ответа ККТ на закрытие чека, чек мог быть зарегистрирован. Повторная отправка того же чека безопасна: "
    u"драйвер сначала узнает у ККТ, зарегистрирован ли он, и не зарегистрирует его дважды";
constexpr std::u16string_view kReceiptDropped =
    u"Чек не зарегистрирован: ККТ сбросила открытый чек, вероятно, при перезапуске. Чек можно отправить повторно";
constexpr std::u16string_view kEarlierReceiptUnsettled =
    u"Неизвестно, зарегистрирован ли предыдущий чек: ККТ не отвечает. Новый чек не отправлен";
constexpr std::u16string_view kRetryUnconfirmed =
    u"ККТ не отвечает: не удалось проверить, зарегистрирован ли этот чек. Чек не отправлен";

// An open receipt: cancelled on the register when it goes out of scope uncommitted.
class OpenReceipt {
public:
    explicit OpenReceipt(CashRegister& device) : device_(device) {}
    OpenReceipt(const OpenReceipt&) = delete;
    OpenReceipt& operator=(const OpenReceipt&) = delete;
    ~OpenReceipt() {
        if (committed_) return;
        try {
            device_.CancelReceipt();
        } catch (...) {
        }
    }
    // The receipt stays as the register has it.
    void Commit() { committed_ = true; }

private:
    CashRegister& device_;
    bool committed_ = false;
};

enum class ClosingOutcome {
    Closed,      // the reply carries the receipt's numbers
    Refused,     // the register answered with a refusal, or the closing was stopped before it was sent
    Unanswered,  // no usable reply: nothing came back, or the frame was cut short
    Failed,      // the call fails with its error recorded and no receipt left to cancel
};

uint8_t TaxationBit(int code) { return code >= 0 && code <= 5 ? static_cast<uint8_t>(1u << code) : 0; }

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

// A refused attribute does not stop the position or the receipt.
void SendAttributes(CashRegister& device, const ReceiptAttributes& attributes) {
    for (const FiscalAttribute& attribute : attributes) WriteTag(device.Link, attribute.Tag, attribute.Text);
}

// Right-aligned: the amount ends in the last column.
void PrintDiscountLine(CashRegister& device, std::u16string_view discount) {
    const std::u16string_view suffix = discount.find(u'.') != std::u16string_view::npos ? u" РУБ" : u".00 РУБ";
    const std::u16string_view label = u"Скидка: ";
    const size_t used = discount.size() + suffix.size() + label.size();
    std::u16string line(used < LineLength ? LineLength - used : 0, u' ');
    line.append(label).append(discount).append(suffix);
    PrintTextLine(device, line);
}

// The registration record says which taxation systems the register may use. A refused opening
// leaves nothing to cancel; without a usable reply the register may have opened the receipt all
// the same: it is asked, and a receipt it opened is cancelled.
bool OpenOnRegister(CashRegister& device, const ReceiptPackage& package, bool correction, bool electronic) {
    const uint8_t taxationBit = TaxationBit(package.TaxationSystem);
    if (!device.QueryDeviceMode()) return false;
    const Reply record = device.Link.Exchange(cmd::RegistrationRecord, {device.DeviceModeByte});
    if (record.Size() < cmd::registration_record::ForReceipt) return false;
    if ((record.Byte(cmd::registration_record::Taxation) & taxationBit) == 0)
        return device.SetError(u"Система налогообложения не зарегистрирована!");

    Bytes header = LittleEndianBytes(electronic ? kElectronicReceipt : kPrintedReceipt, 2);
    header.push_back(static_cast<uint8_t>(package.OperationType - 1));
    header.push_back(taxationBit);
    if (correction) {
        header.push_back(static_cast<uint8_t>(package.Correction.Type));
        AppendLengthPrefixedText(header, package.Correction.Description);
        // A date shorter than YYYY-MM-DDT is left out; the number then follows the description.
        std::u16string date = package.Correction.Date;
        EncodeDeviceDate(date, header);
        AppendLengthPrefixedText(header, package.Correction.Number);
    }
    const Reply opened = device.Link.Exchange(correction ? cmd::OpenCorrectionReceipt : cmd::OpenReceipt, header);
    if (opened.Executed()) return true;
    if (!opened.Refused() && QueryReceiptOnRegister(device.Link) == ReceiptOnRegister::Open) device.CancelReceipt();
    return false;
}

Bytes PositionPayload(const ReceiptLine& p, std::u16string_view name, const Bytes& markingCode) {
    uint8_t flags = 0;
    if (!p.AdditionalAttribute.empty()) flags |= 0x02;
    if (HasMarkingCode(p.MarkingCode)) flags |= 0x04;
    if (!p.CustomsDeclaration.empty()) flags |= 0x08;
    Bytes body{flags, 0x00, static_cast<uint8_t>(p.PaymentMethod), static_cast<uint8_t>(p.CalculationSubject)};
    AppendDeviceText(body, p.CountryOfOrigin.size() == 3 ? std::u16string_view(p.CountryOfOrigin) : u"000");
    AppendLittleEndian(body, static_cast<uint64_t>(p.Quantity), 5);
    AppendLittleEndian(body, static_cast<uint64_t>(p.Price), 8);
    AppendLittleEndian(body, static_cast<uint64_t>(p.Excise), 8);
    body.push_back(VatCode(p.VatRate));
    AppendLengthPrefixedText(body, name);
    if (flags & 0x02) AppendLengthPrefixedText(body, p.AdditionalAttribute);
    if (flags & 0x04) AppendMarkingBlock(body, markingCode);
    if (flags & 0x08) AppendLengthPrefixedText(body, p.CustomsDeclaration);
    return body;
}

// A refused position cancels the receipt at once (the receipt's guard then cancels it again).
bool SendPosition(CashRegister& device, const ReceiptLine& position, int operationIndex) {
    std::u16string name = position.Name;
    if (name.size() > kNameUnits) name.resize(kNameUnits);
    // A marked good is never sold without its code: a code too short for the block refuses the
    // position before anything of it reaches the device.
    Bytes markingCode;
    if (HasMarkingCode(position.MarkingCode)) {
        markingCode = DecodeBase64Lenient(position.MarkingCode);
        if (markingCode.size() < kMarkingCodeMinimum)
            return device.SetError(u"Код маркировки позиции \"" + name + u"\" короче 8 байт");
    }
    // The position's own agent and supplier attributes reach the device before the position.
    SendAttributes(device, position.Attributes);
    const Bytes body = PositionPayload(position, name, markingCode);
    if (operationIndex < 0 || operationIndex > 3) return true;
    if (!device.Link.Exchange(kPositionCommands[operationIndex], body).Executed()) {
        device.CancelReceipt();
        return false;
    }
    if (!position.Discount.empty() && !EqualsIgnoreCase(position.Discount, u"0"))
        PrintDiscountLine(device, position.Discount);
    return true;
}

bool SendLine(CashRegister& device, const ReceiptLine& line, int operationIndex) {
    switch (line.Kind) {
        case ReceiptLine::FiscalString: return SendPosition(device, line, operationIndex);
        case ReceiptLine::TextString: return PrintTextLine(device, line.Text);
        case ReceiptLine::Barcode: PrintBarcode(device, line.BarcodeType, line.BarcodeValue); return true;
    }
    return true;
}

// The device's subtotal (0x89), or 0 when it cannot be read.
int64_t ReadReceiptSubtotal(CashRegister& device) {
    const Reply reply = device.Link.Exchange(cmd::Subtotal, {0x00, 0x00});
    if (!reply.Holds(cmd::subtotal::Minimum)) return 0;
    const auto subtotal = static_cast<int64_t>(reply.Integer(cmd::subtotal::Amount, cmd::subtotal::Amount + 7));
    device.Log(u"Check subtotal: " + DecimalText(subtotal), Info);
    return subtotal;
}

// The closing with the payments. A subtotal less than one currency unit away from the package's
// sum is corrected to the sum's hundredths; further away, the receipt is cancelled.
ClosingOutcome CloseReceipt(CashRegister& device, const ReceiptPackage& p, int64_t total,
                            const UnsettledReceipt& record, ReceiptNumbers& numbers) {
    const int64_t subtotal = ReadReceiptSubtotal(device);
    Bytes payload = LittleEndianBytes(subtotal != total ? kSumCorrectionFlags : 0, 2);
    // The wire order differs from the package's order.
    for (int64_t amount : {p.Cash, p.ElectronicPayment, p.PrePayment, p.PostPayment, p.Barter})
        AppendLittleEndian(payload, static_cast<uint64_t>(amount), 8);
    if (subtotal != total) {
        // The distance in unsigned arithmetic: it cannot overflow.
        const auto [low, high] = std::minmax(subtotal, total);
        if (static_cast<uint64_t>(high) - static_cast<uint64_t>(low) >= 100) {
            device.SetError(u"Некорректируемый подытог");
            device.CancelReceipt();
            return ClosingOutcome::Refused;
        }
        const auto correction = static_cast<uint8_t>(static_cast<uint64_t>(total) % 100);
        device.Log(u"Коррекция суммы чека", Error);
        device.Log(u"Коррекция к: " + DecimalText(correction), Info);
        payload.push_back(correction);
    }
    using namespace cmd::closing;
    // From here until its outcome is known the receipt may be registered without the driver
    // learning it: its record outlives a line that dies and a host process that is ended.
    device.Safeguard.BeginClosing(device, record);
    const Reply reply = device.Link.Exchange(cmd::CloseReceipt, payload);
    // Without the receipt's numbers only a refusal tells that the receipt is still open; after
    // silence or a cut frame the register may well have registered it.
    if (!reply.Holds(Minimum) && !reply.Refused()) return ClosingOutcome::Unanswered;
    device.Safeguard.EndClosing(device);
    if (!reply.Holds(Minimum)) return ClosingOutcome::Refused;
    if (reply.Byte(Flags) & 0x80) {
        device.SetError(u"Сумма оплаты меньше суммы чека");
        return ClosingOutcome::Refused;
    }
    numbers = {reply.Integer(Shift, Shift + 1), reply.Integer(ShiftReceipt, ShiftReceipt + 1),
               reply.Integer(Document, Document + 3), DecimalTextUnsigned(reply.Integer(FiscalSign, FiscalSign + 3)),
               {}, {}};
    device.NoteLastDocument(numbers.Document);
    // The receipt is closed; a failed read leaves the previous value in the result.
    device.ReadFnsSiteAddress();
    device.QueryDocumentDate(numbers.Document);
    numbers.SiteAddress = device.FnsSiteAddress;
    numbers.DateTime = device.DeviceDateTime;
    return ClosingOutcome::Closed;
}

bool PrinterFlag(CashRegister& device, uint8_t bit) {
    const Reply reply = device.Link.Exchange(cmd::PrinterFlags);
    return reply.Holds(cmd::printer_flags::Minimum) && (reply.Byte(cmd::printer_flags::Flags) & bit);
}

// After a closing without a usable reply the register is asked what became of the receipt; the
// closing command is never sent a second time.
ClosingOutcome AskAboutClosing(CashRegister& device, const UnsettledReceipt& record, OpenReceipt& receipt,
                               ReceiptNumbers& numbers) {
    switch (AskAfterClosing(device, record, false, numbers)) {
        case ClosingFound::Registered: device.Safeguard.EndClosing(device); return ClosingOutcome::Closed;
        case ClosingFound::StillOpen: device.Safeguard.EndClosing(device); return ClosingOutcome::Refused;
        case ClosingFound::Dropped:
            // The register holds no receipt: there is nothing to cancel.
            receipt.Commit();
            device.Safeguard.EndClosing(device);
            device.SetError(kReceiptDropped);
            return ClosingOutcome::Failed;
        case ClosingFound::NoAnswer: break;
    }
    // Nothing more is sent: on a dead line each exchange only waits out its time limit. The
    // receipt stays unsettled until the register answers.
    receipt.Commit();
    device.Safeguard.LeaveUnsettled();
    device.SetError(kClosingUnanswered);
    return ClosingOutcome::Failed;
}

std::optional<ReceiptNumbers> SendReceipt(CashRegister& device, const ReceiptPackage& package,
                                          const UnsettledReceipt& record, uint64_t total) {
    if (!OpenOnRegister(device, package, record.Correction, record.Electronic)) return {};
    OpenReceipt receipt(device);
    for (const ReceiptLine& line : package.Lines)
        if (!SendLine(device, line, package.OperationType - 1)) return {};
    SendAttributes(device, package.Attributes);
    ReceiptNumbers numbers;
    ClosingOutcome closing = CloseReceipt(device, package, static_cast<int64_t>(total), record, numbers);
    if (closing == ClosingOutcome::Unanswered) closing = AskAboutClosing(device, record, receipt, numbers);
    if (closing == ClosingOutcome::Failed) return {};
    if (closing != ClosingOutcome::Closed) {
        // With both, the cover is the text left. The receipt is cancelled on the way out.
        if (PrinterFlag(device, 0x02)) device.SetErrorQuiet(u"В принтере нет бумаги");
        if (PrinterFlag(device, 0x01)) device.SetErrorQuiet(u"Открыта крышка");
        return {};
    }
    receipt.Commit();
    return numbers;
}

std::u16string ResultDocument(const ReceiptNumbers& numbers) {
    pugi::xml_document result;
    pugi::xml_node out =
        result.append_child(PUGIXML_TEXT("DocumentOutputParameters")).append_child(PUGIXML_TEXT("Parameters"));
    AppendUnsigned(out, "ShiftNumber", numbers.Shift);
    AppendUnsigned(out, "CheckNumber", numbers.Document);
    AppendUnsigned(out, "ShiftClosingCheckNumber", numbers.ShiftReceipt);
    AppendText(out, "AddressSiteInspections", numbers.SiteAddress);
    AppendText(out, "FiscalSign", numbers.FiscalSign);
    AppendText(out, "DateTime", numbers.DateTime);
    return SerializeDocument(result);
}

std::u16string Answer(CashRegister& device, const ReceiptNumbers& numbers) {
    const std::u16string document = ResultDocument(numbers);
    device.Log(u"Check output parameteres:", Info);  // "parameteres": the host contract's spelling, on purpose
    device.Log(document, Info);
    device.Log(u"Check ok", Info);
    return document;
}

}  // namespace

std::optional<std::u16string> RegisterReceipt(CashRegister& device, std::u16string_view text, bool correction,
                                              bool electronic) {
    const ReceiptPackage package = ReadReceiptPackage(text);
    device.LogReceiptBlock(text);
    // A receipt left unsettled is settled first. The same receipt sent again after an unknown
    // outcome is answered with the one the register registered, never registered twice.
    device.Safeguard.SettleIfDue(device);
    ReceiptNumbers numbers;
    switch (device.Safeguard.AnswerRetry(device, correction, electronic, text, numbers)) {
        case RetryAnswer::Answered: return Answer(device, numbers);
        case RetryAnswer::NoAnswer: device.SetError(kRetryUnconfirmed); return {};
        case RetryAnswer::NotARetry: break;
    }
    if (device.Safeguard.HasUnsettled()) {
        device.SetError(kEarlierReceiptUnsettled);
        return {};
    }
    const std::optional<uint64_t> total = ValidateReceipt(device, package, correction);
    if (!total) return {};
    device.Log(u"Check correct", Info);
    UnsettledReceipt record{correction, electronic, std::u16string(text), device.Port.ConnectedPort(),
                            FormatLocalNow("%Y-%m-%dT%H:%M:%S"), {}};
    if (device.LastDocumentKnown) record.LastDocumentBefore = device.LastDocumentNumber;
    const std::optional<ReceiptNumbers> sent = SendReceipt(device, package, record, *total);
    if (!sent) return {};
    return Answer(device, *sent);
}

}  // namespace vesklink
