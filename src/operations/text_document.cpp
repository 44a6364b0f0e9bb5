// PrintTextDocument: a non-fiscal document of text lines and barcodes; the lines and barcodes
// are printed the same way inside a receipt.
#include "operations/operations.h"
#include "protocol/commands.h"
#include "protocol/encoding.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

uint8_t LinearBarcodeType(std::u16string_view type) {
    if (EqualsIgnoreCase(type, u"EAN13") || EqualsIgnoreCase(type, u"EAN8")) return 1;
    if (EqualsIgnoreCase(type, u"CODE39")) return 4;
    return 0;
}

}  // namespace

bool PrintTextDocument(CashRegister& device, std::u16string_view package) {
    pugi::xml_document document;
    ParseDocument(document, package);
    if (!device.Link.Exchange(cmd::OpenTextDocument, {0x00, 0x00}).Executed()) return false;
    // A line that fails does not stop the document.
    for (pugi::xml_node line : Child(Child(document, "Document"), "Positions").children()) {
        if (NameIs(line, u"TextString"))
            PrintTextLine(device, AttributeText(line, "Text"));
        else if (NameIs(line, u"Barcode"))
            PrintBarcode(device, AttributeText(line, "Type"), AttributeText(line, "ValueBase64"));
    }
    return device.Link.Exchange(cmd::FinishTextDocument, {0x00, 0x00}).Executed();
}

bool PrintTextLine(CashRegister& device, std::u16string_view text) {
    Bytes payload{0x40, 0x00};
    AppendDeviceText(payload, text);
    return device.Link.Exchange(cmd::PrintLine, payload).Executed();
}

void PrintBarcode(CashRegister& device, std::u16string_view type, std::u16string_view valueBase64) {
    Bytes data = DecodeBase64Lenient(valueBase64);
    // Barcode data is 7-bit.
    for (uint8_t& byte : data)
        if (byte >= 0x80) byte = 0x3F;
    Bytes payload;
    if (EqualsIgnoreCase(type, u"QR"))
        payload = {0x01, 0x06, 0x00, 0x03, 0x00, 0x04, 0x00};
    else
        payload = {0x00, 0x03, 0x00, 0x03, 0x00, 0x01, 0x00, LinearBarcodeType(type), 0x00};
    payload.insert(payload.end(), data.begin(), data.end());
    device.Link.Exchange(cmd::PrintBarcode, payload);
}

}  // namespace vesklink
