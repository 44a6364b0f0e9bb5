// Reading the receipt package of ProcessCheck and ProcessCorrectionCheck, and its validation.
#include "operations/receipt.h"
#include "operations/cash_register.h"
#include "protocol/encoding.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr uint64_t kQuantityLimit = 10'000'000;  // thousandths: 9999.999 is the largest

int64_t Money(pugi::xml_node node, const char* name) { return ParseScaledDecimal(AttributeText(node, name), 2); }

// Where each fiscal attribute is read (the element itself or its AgentData or VendorData child),
// in the order the attributes are written. The buyer's contacts belong to the receipt only.
struct AttributeSource {
    const char* Child;  // none: the element itself
    const char* Name;
    uint16_t Tag;
};
constexpr AttributeSource kAttributeSources[] = {
    {nullptr, "CustomerEmail", 1008},               {nullptr, "CustomerPhone", 1008},
    {"AgentData", "AcquirerOperatorAddress", 1005}, {"AgentData", "AcquirerOperatorINN", 1016},
    {"AgentData", "AcquirerOperatorName", 1026},    {"AgentData", "AgentOperation", 1044},
    {"AgentData", "AgentPhone", 1073},              {"AgentData", "PaymentProcessorPhone", 1074},
    {"AgentData", "AcquirerOperatorPhone", 1075},   {"VendorData", "VendorPhone", 1171},
    {"VendorData", "VendorName", 1225},             {"VendorData", "VendorINN", 1226},
};

ReceiptAttributes ReadAttributes(pugi::xml_node element, bool withBuyer) {
    ReceiptAttributes attributes;
    for (const AttributeSource& source : kAttributeSources) {
        if (!source.Child && !withBuyer) continue;
        std::u16string text = AttributeText(source.Child ? Child(element, source.Child) : element, source.Name);
        if (!text.empty()) attributes.push_back({source.Tag, std::move(text)});
    }
    return attributes;
}

ReceiptLine ReadPosition(pugi::xml_node node) {
    ReceiptLine p;
    p.Kind = ReceiptLine::FiscalString;
    p.HasName = HasAttribute(node, "Name");
    p.HasQuantity = HasAttribute(node, "Quantity");
    p.HasPrice = HasAttribute(node, "PriceWithDiscount");
    p.HasAmount = HasAttribute(node, "AmountWithDiscount");
    p.HasVatRate = HasAttribute(node, "VATRate");
    p.Name = AttributeText(node, "Name");
    p.Quantity = ParseScaledDecimal(AttributeText(node, "Quantity"), 3);
    p.Price = Money(node, "PriceWithDiscount");
    p.Amount = Money(node, "AmountWithDiscount");
    p.Excise = Money(node, "ExciseAmount");
    p.Discount = AttributeText(node, "DiscountAmount");
    p.AdditionalAttribute = AttributeText(node, "AdditionalAttribute");
    p.CustomsDeclaration = AttributeText(node, "CustomsDeclaration");
    p.CountryOfOrigin = AttributeText(node, "CountryOfOrigin");
    p.VatRate = AttributeText(node, "VATRate");
    p.MarkingCode = AttributeText(Child(node, "GoodCodeData"), "MarkingCode");
    p.PaymentMethod = AttributeInt(node, "PaymentMethod");
    p.PaymentMethodText = AttributeText(node, "PaymentMethod");
    p.CalculationSubject = AttributeInt(node, "CalculationSubject");
    p.CalculationSubjectText = AttributeText(node, "CalculationSubject");
    p.Attributes = ReadAttributes(node, false);
    return p;
}

void ReadParameters(pugi::xml_node parameters, ReceiptPackage& r) {
    r.HasOperationType = HasAttribute(parameters, "OperationType");
    r.OperationType = AttributeInt(parameters, "OperationType");
    r.HasTaxationSystem = HasAttribute(parameters, "TaxationSystem");
    r.TaxationSystem = AttributeInt(parameters, "TaxationSystem");
    r.Attributes = ReadAttributes(parameters, true);
    const pugi::xml_node data = Child(parameters, "CorrectionData");
    ReceiptPackage::CorrectionData& c = r.Correction;
    c.HasType = HasAttribute(data, "Type");
    c.HasDescription = HasAttribute(data, "Description");
    c.HasDate = HasAttribute(data, "Date");
    c.HasNumber = HasAttribute(data, "Number");
    c.Type = AttributeInt(data, "Type");
    c.TypeText = AttributeText(data, "Type");
    c.Description = AttributeText(data, "Description");
    c.Date = AttributeText(data, "Date");
    c.Number = AttributeText(data, "Number");
}

// The error text that refuses the receipt's parameters, or empty text.
std::u16string ParametersError(const ReceiptPackage& r, bool correction) {
    if (!r.HasOperationType) return u"Не задан тип операции";
    if (r.OperationType < 1 || r.OperationType > 4) return u"Неверный тип операции";
    if (!r.HasTaxationSystem) return u"Не задан код системы налогообложения";
    if (r.TaxationSystem < 0 || r.TaxationSystem > 5) return u"Неверный код системы налогообложения";
    if (!correction) return {};
    const ReceiptPackage::CorrectionData& c = r.Correction;
    if (!c.HasType) return u"Не задан тип коррекции";
    if (!c.HasDescription) return u"Не задано описание коррекции";
    if (!c.HasDate) return u"Не задана дата коррекции";
    if (!c.HasNumber) return u"Не задан номар коррекции";  // "номар": the host contract's spelling, on purpose
    if (c.Type < 0 || c.Type > 0xFF) return u"Неверный тип коррекции: " + c.TypeText;
    return {};
}

// Sums of amounts already known to be non-negative; false when the sum leaves the 64-bit range.
bool AddAmount(uint64_t& sum, int64_t amount) {
    const auto add = static_cast<uint64_t>(amount);
    if (sum + add < sum || sum + add > static_cast<uint64_t>(INT64_MAX)) return false;
    sum += add;
    return true;
}

// What the register is registered for: excisable goods, lotteries, gambling.
struct SalesRegistration {
    bool Excisable = false, Lottery = false, Gambling = false;
};

// The error text that refuses a position, or empty text; its amount is added to the sum. Every
// amount must be non-negative: the device reads them as unsigned numbers.
std::u16string PositionError(const ReceiptLine& p, const SalesRegistration& registered, uint64_t& total) {
    if (!p.HasName) return u"Отсутствует имя позиции";
    if (!p.HasQuantity) return u"Отсутствует количество";
    if (p.Quantity < 0) return u"Отрицательное количество в позиции";
    if (static_cast<uint64_t>(p.Quantity) >= kQuantityLimit) return u"Максимальное количество товара в одной позиции 9999.999";
    if (!p.HasPrice) return u"Отсутствует цена";
    if (p.Price < 0) return u"Отрицательная цена в позиции";
    if (!p.HasAmount) return u"Отсутствует сумма";
    if (p.Amount < 0) return u"Отрицательная сумма позиции";
    if (p.Excise < 0) return u"Отрицательная сумма акциза в позиции";
    if (!AddAmount(total, p.Amount)) return u"Сумма чека слишком велика";
    if (!p.HasVatRate) return u"Отсутствует налоговая ставка";
    // Both travel as one byte: a larger value would reach the register as another one (258 as
    // 2, excisable goods, past the registration check below).
    if (p.PaymentMethod < 0 || p.PaymentMethod > 0xFF)
        return u"Неверный признак способа расчета в позиции: " + p.PaymentMethodText;
    const int subject = p.CalculationSubject;
    if (subject < 0 || subject > 0xFF) return u"Неверный признак предмета расчета в позиции: " + p.CalculationSubjectText;
    if (!registered.Excisable && subject == 2) return u"Нет регистрации для продаж подакцизных товаров";
    if (!registered.Lottery && (subject == 7 || subject == 8)) return u"Нет регистрации для лотерей";
    if (!registered.Gambling && (subject == 5 || subject == 6)) return u"Нет регистрации для азартных игр";
    return {};
}

// Change can only be given from cash.
std::u16string PaymentsError(const ReceiptPackage& r, uint64_t total) {
    for (int64_t amount : {r.Cash, r.PrePayment, r.Barter, r.PostPayment, r.ElectronicPayment})
        if (amount < 0) return u"Отрицательная сумма оплаты";
    uint64_t nonCash = 0;
    uint64_t paid = 0;
    if (!AddAmount(nonCash, r.ElectronicPayment) || !AddAmount(nonCash, r.PostPayment) ||
        !AddAmount(nonCash, r.Barter) || !AddAmount(nonCash, r.PrePayment) || !AddAmount(paid, r.Cash) ||
        !AddAmount(paid, static_cast<int64_t>(nonCash)))
        return u"Сумма оплаты слишком велика";
    if (total > paid) return u"Сумма оплаты меньше суммы чека";
    if (total < nonCash) return u"Невозможно дать сдачу по безналичному расчету";
    return {};
}

}  // namespace

ReceiptPackage ReadReceiptPackage(std::u16string_view text) {
    ReceiptPackage r;
    pugi::xml_document document;
    r.Readable = static_cast<bool>(ParseDocument(document, text));
    const pugi::xml_node receipt = document.document_element();
    ReadParameters(Child(receipt, "Parameters"), r);
    for (const pugi::xml_node node : Child(receipt, "Positions").children()) {
        ReceiptLine line;
        if (NameIs(node, u"FiscalString")) {
            line = ReadPosition(node);
        } else if (NameIs(node, u"TextString")) {
            line.Text = AttributeText(node, "Text");
        } else if (NameIs(node, u"Barcode")) {
            line.Kind = ReceiptLine::Barcode;
            line.BarcodeType = AttributeText(node, "Type");
            line.BarcodeValue = AttributeText(node, "ValueBase64");
        } else {
            continue;
        }
        r.Lines.push_back(std::move(line));
    }
    const pugi::xml_node payments = Child(receipt, "Payments");
    r.Cash = Money(payments, "Cash");
    r.PrePayment = Money(payments, "PrePayment");
    r.Barter = Money(payments, "Barter");
    r.PostPayment = Money(payments, "PostPayment");
    r.ElectronicPayment = Money(payments, "ElectronicPayment");
    return r;
}

std::optional<uint64_t> ValidateReceipt(CashRegister& device, const ReceiptPackage& package, bool correction) {
    if (!package.Readable) return device.SetError(u"Невозможно проверить чек, ошибка загрузки"), std::nullopt;
    // "зарестрирован" is spelled so on purpose: the host contract's own text (OpenShift's differs).
    if (!device.QueryDeviceMode()) return device.SetError(u"ФН не зарестрирован"), std::nullopt;
    const auto flag = [&](uint16_t tag) {
        return ReadRegistrationFlag(device.Link, device.DeviceModeByte, tag).value_or(false);
    };
    SalesRegistration registered;
    registered.Excisable = flag(1207);
    registered.Lottery = flag(1126);
    registered.Gambling = flag(1193);

    std::u16string error = ParametersError(package, correction);
    uint64_t total = 0;
    for (const ReceiptLine& line : package.Lines)
        if (error.empty() && line.Kind == ReceiptLine::FiscalString) error = PositionError(line, registered, total);
    if (!error.empty()) return device.SetError(error), std::nullopt;
    device.Log(u"AmountWithDiscountSum: " + DecimalText(static_cast<int64_t>(total)), Info);
    error = PaymentsError(package, total);
    if (!error.empty()) return device.SetError(error), std::nullopt;
    return total;
}

}  // namespace vesklink
