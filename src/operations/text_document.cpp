// Non-fiscal text documents, the text lines and barcodes they (and receipts) print, and cash put
// into or taken out of the drawer.
#include "component/napi.h"
#include "component/variant.h"
#include "protocol/encoding.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr uint8_t kCashIn = 0x50;
constexpr uint8_t kCashOut = 0x51;
constexpr uint8_t kOpenTextDocument = 0xDA;
constexpr uint8_t kPrintLine = 0xDB;
constexpr uint8_t kPrintBarcode = 0xDE;
constexpr uint8_t kFinishTextDocument = 0xDF;

uint8_t LinearBarcodeType(std::u16string_view type) {
    if (EqualsIgnoreCase(type, u"EAN13") || EqualsIgnoreCase(type, u"EAN8")) return 1;
    if (EqualsIgnoreCase(type, u"CODE39")) return 4;
    return 0;
}

// The cash amount in hundredths from the host's variant: a number, or decimal text.
bool CashAmount(const tVariant& variant, int64_t& amount) {
    int64_t whole = 0;
    if (VariantInteger(variant, whole)) {
        amount = HundredthsFromInteger(whole);
    } else if (variant.vt == VTYPE_R8) {
        amount = HundredthsFromDouble(variant.value.dblVal);
    } else if (variant.vt == VTYPE_R4) {
        amount = HundredthsFromDouble(variant.value.fltVal);
    } else if (variant.vt == VTYPE_PWSTR) {
        amount = ParseScaledDecimal(VariantString(variant), 2);
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool nAPI::PrintTextDocument(std::u16string_view package) {
    pugi::xml_document document;
    ParseDocument(document, package);
    Link.PayloadBuffer = {0x00, 0x00};
    if (!Link.ExecuteCommand(kOpenTextDocument, Link.PayloadBuffer)) return false;
    // A line that fails does not stop the document.
    for (pugi::xml_node line : Child(Child(document, "Document"), "Positions").children()) {
        if (NameIs(line, u"TextString"))
            PrintTextLine(AttributeText(line, "Text"));
        else if (NameIs(line, u"Barcode"))
            PrintBarcode(AttributeText(line, "Type"), AttributeText(line, "ValueBase64"));
    }
    Link.PayloadBuffer = {0x00, 0x00};
    return Link.ExecuteCommand(kFinishTextDocument, Link.PayloadBuffer);
}

bool nAPI::PrintTextLine(std::u16string_view text) {
    Link.PayloadBuffer = {0x40, 0x00};
    AppendDeviceText(Link.PayloadBuffer, text);
    return Link.ExecuteCommand(kPrintLine, Link.PayloadBuffer);
}

bool nAPI::PrintBarcode(std::u16string_view type, std::u16string_view valueBase64) {
    Bytes data = DecodeBase64Lenient(valueBase64);
    // Barcode data is 7-bit.
    for (uint8_t& byte : data)
        if (byte >= 0x80) byte = 0x3F;
    if (EqualsIgnoreCase(type, u"QR")) {
        Link.PayloadBuffer = {0x01, 0x06, 0x00, 0x03, 0x00, 0x04, 0x00};
    } else {
        Link.PayloadBuffer = {0x00, 0x03, 0x00, 0x03, 0x00, 0x01, 0x00, LinearBarcodeType(type), 0x00};
    }
    Link.PayloadBuffer.insert(Link.PayloadBuffer.end(), data.begin(), data.end());
    Link.ExecuteCommand(kPrintBarcode, Link.PayloadBuffer);
    return true;
}

bool nAPI::CashInOutcome(tVariant* params) {
    int64_t amount = 0;
    if (!CashAmount(params[2], amount))
        return SetError(u"Сумма внесения или выемки должна быть числом или строкой");
    if (amount == 0) {
        Log(u"Внесение в кассу нулевой суммы", Info);
        return true;
    }
    const bool out = amount < 0;
    // The magnitude as an unsigned number, so even the most negative amount has one.
    const uint64_t magnitude = out ? 0 - static_cast<uint64_t>(amount) : static_cast<uint64_t>(amount);
    Link.PayloadBuffer = LittleEndianBytes(magnitude, 8);
    Log((out ? u"Выемка из кассы: " : u"Внесение в кассу: ") + DecimalTextUnsigned(magnitude), Info);
    return Link.ExecuteCommand(out ? kCashOut : kCashIn, Link.PayloadBuffer);
}

}  // namespace vesklink
