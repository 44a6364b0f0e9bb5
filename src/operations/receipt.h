// A receipt package read once from the host's document: every value the validation checks and
// the sending uses. Missing elements and attributes read as empty text, false or 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesklink {

class CashRegister;

// Agent, supplier and buyer data of a receipt or of one position: fiscal attributes (tag and text,
// none empty) written to the device in this order, before the position or, for the receipt, after
// all positions.
struct FiscalAttribute {
    uint16_t Tag;
    std::u16string Text;
};
using ReceiptAttributes = std::vector<FiscalAttribute>;

// One line of the receipt: a "FiscalString" (position), "TextString" or "Barcode".
struct ReceiptLine {
    enum Kinds { FiscalString, TextString, Barcode } Kind = TextString;
    // A position: its required attributes' presence, amounts in hundredths, quantity in thousandths.
    bool HasName = false, HasQuantity = false, HasPrice = false, HasAmount = false, HasVatRate = false;
    std::u16string Name, Discount, AdditionalAttribute, CustomsDeclaration, CountryOfOrigin, VatRate, MarkingCode;
    int64_t Quantity = 0, Price = 0, Amount = 0, Excise = 0;
    int PaymentMethod = 0, CalculationSubject = 0;  // as written; each travels as one byte
    std::u16string PaymentMethodText, CalculationSubjectText;
    ReceiptAttributes Attributes;
    // A text line's text; a barcode's type and Base64 value.
    std::u16string Text, BarcodeType, BarcodeValue;
};

struct ReceiptPackage {
    bool Readable = false;  // the document could be parsed
    bool HasOperationType = false, HasTaxationSystem = false;
    int OperationType = 0, TaxationSystem = 0;
    struct CorrectionData {
        bool HasType = false, HasDescription = false, HasDate = false, HasNumber = false;
        int Type = 0;
        std::u16string TypeText, Description, Date, Number;
    } Correction;
    ReceiptAttributes Attributes;  // the buyer's contacts and the receipt's agent and supplier
    std::vector<ReceiptLine> Lines;
    int64_t Cash = 0, PrePayment = 0, Barter = 0, PostPayment = 0, ElectronicPayment = 0;
};

ReceiptPackage ReadReceiptPackage(std::u16string_view text);

// Checks the whole package, and its goods against the register's registration, before anything
// is opened; the receipt's sum in hundredths when it may be sent. A refusal is recorded for the
// host.
std::optional<uint64_t> ValidateReceipt(CashRegister& device, const ReceiptPackage& package, bool correction);

}  // namespace vesklink
