// The receipt package is checked before anything is opened: every rule's text as the host reads it
// back through GetLastError, the rules' order, the registration flags and the taxation system.
#include "host/receipt_fixture.h"
#include "support/wire.h"

using namespace vktest;
using namespace vktest::wire;

namespace {

using Codes = std::vector<uint8_t>;

class ReceiptValidation : public ReceiptFixture {
protected:
    // The package is refused without any opening command; returns the host's error text.
    std::string Refusal(const std::string& package, bool correction = false) {
        SimRegister::ClearJournal();
        EXPECT_FALSE(correction ? Correction(package) : Check(package)) << package;
        for (uint8_t code : Sent()) {
            EXPECT_NE(code, OpenReceipt) << package;
            EXPECT_NE(code, OpenCorrection) << package;
        }
        return LastError();
    }
    bool Registered(const std::string& package) {
        SimRegister::ClearJournal();
        return Check(package);
    }
};

const std::string kMilk = Position("Молоко", "1", "100", "100");
const std::string kPay = "Cash=\"100\"";

std::string WithParameters(const std::string& parameters) { return Package(parameters, kMilk, kPay); }
std::string WithPosition(const std::string& position, const std::string& payments = kPay) {
    return Sale(position, payments);
}
std::string WithCorrectionData(const std::string& data) {
    return Package("OperationType=\"1\" TaxationSystem=\"0\"", kMilk, kPay, "<CorrectionData " + data + " />");
}
// A position complete but for one attribute of the caller's.
std::string WithAttribute(const std::string& attribute) {
    return WithPosition("<FiscalString Name=\"x\" Quantity=\"1\" PriceWithDiscount=\"1\" AmountWithDiscount=\"1\" "
                        "VATRate=\"20\" " + attribute + " />",
                        "Cash=\"1\"");
}

struct Refused {
    std::string package;
    std::string text;  // as GetLastError reads it
    bool correction = false;
};

TEST_F(ReceiptValidation, EachRuleRefusesThePackageWithItsText) {
    const std::string unreadable = "Невозможно проверить чек, ошибка загрузки";
    const std::string most = "92233720368547758.07";  // the largest amount in hundredths
    const Refused rows[] = {
        {"", unreadable},
        // A character reference beyond Unicode would be read as another character (&#x110032; as 2).
        {WithPosition(Position("x", "&#x110032;", "1", "1")), unreadable},
        {WithPosition(Position("x", "&#x100000031;", "1", "1")), unreadable},
        {WithPosition(Position("x", "&#0;", "1", "1")), unreadable},
        // The operation type, then the taxation system.
        {WithParameters("TaxationSystem=\"0\""), "Не задан тип операции"},
        {WithParameters("OperationType=\"0\" TaxationSystem=\"0\""), "Неверный тип операции"},
        {WithParameters("OperationType=\"5\" TaxationSystem=\"0\""), "Неверный тип операции"},
        {WithParameters("OperationType=\"\" TaxationSystem=\"0\""), "Неверный тип операции"},
        {WithParameters("OperationType=\"9\" TaxationSystem=\"9\""), "Неверный тип операции"},
        {WithParameters("OperationType=\"1\""), "Не задан код системы налогообложения"},
        {WithParameters("OperationType=\"1\" TaxationSystem=\"-1\""), "Неверный код системы налогообложения"},
        {WithParameters("OperationType=\"1\" TaxationSystem=\"6\""), "Неверный код системы налогообложения"},
        // The correction data of a correction receipt, in order.
        {WithCorrectionData(""), "Не задан тип коррекции", true},
        {WithCorrectionData("Number=\"1\" Date=\"\" Description=\"\""), "Не задан тип коррекции", true},
        {WithCorrectionData("Type=\"0\" Number=\"1\" Date=\"\""), "Не задано описание коррекции", true},
        {WithCorrectionData("Type=\"0\" Description=\"\" Number=\"1\""), "Не задана дата коррекции", true},
        {WithCorrectionData("Type=\"0\" Description=\"\" Date=\"\""), "Не задан номар коррекции", true},
        // The positions' rules in order; lines of other kinds are not checked, and a bad second
        // position refuses the whole receipt.
        {WithPosition("<FiscalString Quantity=\"1\" />"), "Отсутствует имя позиции"},
        {WithPosition("<fiscalstring Name=\"x\" PriceWithDiscount=\"1\" />"), "Отсутствует количество"},
        {WithPosition("<FiscalString Name=\"x\" Quantity=\"10000\" />"), "Максимальное количество товара в одной позиции 9999.999"},
        {WithPosition("<FiscalString Name=\"x\" Quantity=\"1\" AmountWithDiscount=\"1\" />"), "Отсутствует цена"},
        {WithPosition("<FiscalString Name=\"x\" Quantity=\"1\" PriceWithDiscount=\"1\" />"), "Отсутствует сумма"},
        {WithPosition("<FiscalString Name=\"x\" Quantity=\"1\" PriceWithDiscount=\"1\" AmountWithDiscount=\"1\" />"),
         "Отсутствует налоговая ставка"},
        {WithPosition("<TextString /><Foo Quantity=\"1\" />" + kMilk + "<FiscalString />"), "Отсутствует имя позиции"},
        // Calculation subjects the register is not registered for.
        {WithAttribute("CalculationSubject=\"2\""), "Нет регистрации для продаж подакцизных товаров"},
        {WithAttribute("CalculationSubject=\"7\""), "Нет регистрации для лотерей"},
        {WithAttribute("CalculationSubject=\"8\""), "Нет регистрации для лотерей"},
        {WithAttribute("CalculationSubject=\"5\""), "Нет регистрации для азартных игр"},
        {WithAttribute("CalculationSubject=\"6\""), "Нет регистрации для азартных игр"},
        // Values sent as one byte must fit it: 258 would reach the register as 2 (excisable
        // goods) past the registration check.
        {WithAttribute("CalculationSubject=\"258\""), "Неверный признак предмета расчета в позиции: 258"},
        {WithAttribute("CalculationSubject=\"263\""), "Неверный признак предмета расчета в позиции: 263"},
        {WithAttribute("CalculationSubject=\"261\""), "Неверный признак предмета расчета в позиции: 261"},
        {WithAttribute("CalculationSubject=\"-254\""), "Неверный признак предмета расчета в позиции: -254"},
        {WithAttribute("CalculationSubject=\"256\""), "Неверный признак предмета расчета в позиции: 256"},
        {WithAttribute("PaymentMethod=\"260\""), "Неверный признак способа расчета в позиции: 260"},
        {Package("OperationType=\"1\" TaxationSystem=\"1\"", kMilk, kPay,
                 "<CorrectionData Type=\"257\" Description=\"x\" Date=\"2021-03-05T10:00:00\" Number=\"1\" />"),
         "Неверный тип коррекции: 257", true},
        // The payments cover the total, and change comes only from cash; 10.50 + 0.505 is cut to 11.00.
        {WithPosition(kMilk, "Cash=\"50\""), "Сумма оплаты меньше суммы чека"},
        {WithPosition(kMilk, "ElectronicPayment=\"120\""), "Невозможно дать сдачу по безналичному расчету"},
        {WithPosition(kMilk, ""), "Сумма оплаты меньше суммы чека"},
        {WithPosition(Position("a", "1", "10.50", "10.50") + Position("b", "1", "0.50", "0.505"), "Cash=\"10.99\""),
         "Сумма оплаты меньше суммы чека"},
        // Negative amounts would reach the device as huge unsigned numbers, also in combinations
        // the unsigned comparisons alone would let through; sums beyond 64 bits would wrap.
        {WithPosition(Position("x", "-1", "100", "100")), "Отрицательное количество в позиции"},
        {WithPosition(Position("x", "1", "-100", "100")), "Отрицательная цена в позиции"},
        {WithPosition(Position("x", "1", "100", "-100"), "Cash=\"0\""), "Отрицательная сумма позиции"},
        {WithPosition(Position("x", "1", "100", "100", "ExciseAmount=\"-1\"")), "Отрицательная сумма акциза в позиции"},
        {WithPosition(Position("a", "1", "200", "200") + Position("b", "1", "100", "-100")), "Отрицательная сумма позиции"},
        {WithPosition(kMilk, "PrePayment=\"-100\" ElectronicPayment=\"200\""), "Отрицательная сумма оплаты"},
        {WithPosition(kMilk, "Cash=\"300\" ElectronicPayment=\"-200\""), "Отрицательная сумма оплаты"},
        {WithPosition(Position("a", "1", "1", most) + Position("b", "1", "1", "0.01"), "Cash=\"1\""), "Сумма чека слишком велика"},
        {WithPosition(kMilk, "Cash=\"" + most + "\" Barter=\"0.01\""), "Сумма оплаты слишком велика"},
    };
    for (const Refused& row : rows) {
        SCOPED_TRACE(row.package);
        EXPECT_EQ(Refusal(row.package, row.correction), row.text);
    }
}

TEST_F(ReceiptValidation, PackageThatDoesNotParseSendsNothingAndIsLogged) {
    EXPECT_FALSE(Check("<CheckPackage><Parameters"));
    EXPECT_TRUE(Sent().empty());
    uint32_t code = 0;
    EXPECT_EQ(LastError(&code), "Невозможно проверить чек, ошибка загрузки");
    EXPECT_EQ(code, 1u);
    // The receipt block is logged whatever the text holds.
    EXPECT_NE(LogText().find(std::string("<CheckPackage><Parameters") + kLogEol + "---------------chek end-----------------"),
              std::string::npos);
}

TEST_F(ReceiptValidation, TheDeviceIsAskedBeforeTheFirstRule) {
    EXPECT_EQ(Refusal(WithParameters("TaxationSystem=\"0\"")), "Не задан тип операции");
    EXPECT_EQ(Sent(), (Codes{DeviceMode, ReadTag, ReadTag, ReadTag}));
    // Without the device mode there is no registered FN.
    SimRegister::Execute("fault 0xE2 status 0x0010 once");
    EXPECT_EQ(Refusal(Sale(kMilk, kPay)), "ФН не зарестрирован");
    EXPECT_EQ(Sent(), (Codes{DeviceMode}));
}

TEST_F(ReceiptValidation, WhatTheRulesLetThrough) {
    // Correction data present with empty values counts as present; a sale does not look at it.
    SimRegister::ClearJournal();
    EXPECT_TRUE(Correction(WithCorrectionData("Type=\"0\" Description=\"\" Date=\"\" Number=\"\"")));
    EXPECT_TRUE(Registered(WithPosition(kMilk)));
    // 9999.999 is the largest quantity; further fraction digits are cut.
    EXPECT_TRUE(Registered(WithPosition(Position("x", "9999.999", "0.01", "100"))));
    EXPECT_TRUE(Registered(WithPosition(Position("x", "9999.9999", "0.01", "100"))));
    EXPECT_TRUE(Registered(WithPosition(kMilk, "Cash=\"50\" ElectronicPayment=\"60\"")));
    EXPECT_TRUE(Registered(WithPosition(Position("a", "1", "10.50", "10.50") + Position("b", "1", "0.50", "0.505"), "Cash=\"11\"")));
    EXPECT_NE(LogText().find("[Info] AmountWithDiscountSum: 1100"), std::string::npos);
}

TEST_F(ReceiptValidation, EachRegistrationFlagIsReadFromItsOwnAttribute) {
    SimRegister::Execute("set attr 1207 flag 1\nset attr 1126 flag 1\nset attr 1193 flag 1");
    for (int code : {2, 5, 6, 7, 8})
        EXPECT_TRUE(Registered(WithAttribute("CalculationSubject=\"" + std::to_string(code) + "\""))) << code;
    // The device mode, then the tags 1207, 1126 and 1193, and 1060 after the closing.
    EXPECT_EQ(PayloadsOf(ReadTag), (std::vector<std::string>{"01 B7 04", "01 66 04", "01 A9 04", "01 24 04"}));
}

TEST_F(ReceiptValidation, TaxationSystemMustBeRegistered) {
    const std::string package = WithParameters("OperationType=\"1\" TaxationSystem=\"3\"");
    SimRegister::Execute("set taxation 1");
    EXPECT_EQ(Refusal(package), "Система налогообложения не зарегистрирована!");
    EXPECT_EQ(Sent(), kBeforeOpening);
    EXPECT_EQ(Hex(PayloadOf(RegistrationRecord)), "01");
    SimRegister::Execute("set taxation 9");
    EXPECT_TRUE(Registered(package));
    EXPECT_EQ(Hex(PayloadOf(OpenReceipt)), "04 00 00 08");
}

TEST_F(ReceiptValidation, ShortRegistrationRecordOrRefusedOpeningEndsWithoutTextOfItsOwn) {
    SimRegister::Execute("fault 0xE8 reply 00 01 02 once");
    EXPECT_FALSE(Check(Sale(kMilk, kPay)));
    EXPECT_EQ(Sent(), kBeforeOpening);
    SimRegister::Execute("set error 0x0077 Ошибка регистратора");
    EXPECT_EQ(DeviceErrorText(), "Ошибка регистратора");  // asked from the device

    // The register refuses the opening (the shift is closed): nothing to cancel.
    SimRegister::Execute("set shift closed");
    SimRegister::ClearJournal();
    EXPECT_FALSE(Check(Sale(kMilk, kPay)));
    EXPECT_EQ(Sent(), Then({kBeforeOpening, {OpenReceipt}}));
}

}  // namespace
