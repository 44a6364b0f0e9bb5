// The receipt package is checked before anything is opened: every rule's text as the host reads it
// back through GetLastError, the rules' order, the registration flags and the taxation system.
#include "host/receipt_fixture.h"

using namespace vktest;

namespace {

using Codes = std::vector<uint8_t>;
const Codes kValidation{0xE2, 0xE9, 0xE9, 0xE9};

class ReceiptValidation : public ReceiptFixture {
protected:
    // The package is refused without any opening command; returns the host's error text.
    std::string Refusal(const std::string& package, bool correction = false) {
        SimRegister::ClearJournal();
        EXPECT_FALSE(correction ? Correction(package) : Check(package)) << package;
        for (uint8_t code : Sent()) {
            EXPECT_NE(code, 0x8D) << package;
            EXPECT_NE(code, 0xD6) << package;
        }
        return LastError();
    }
    bool Registered(const std::string& package) {
        SimRegister::ClearJournal();
        return Check(package);
    }
};

const std::string kMilk = Position("Молоко", "1", "100", "100");

TEST_F(ReceiptValidation, PackageThatDoesNotParseSendsNothing) {
    EXPECT_EQ(Refusal(""), "Невозможно проверить чек, ошибка загрузки");
    EXPECT_FALSE(Check("<CheckPackage><Parameters"));
    EXPECT_TRUE(Sent().empty());
    uint32_t code = 0;
    EXPECT_EQ(LastError(&code), "Невозможно проверить чек, ошибка загрузки");
    EXPECT_EQ(code, 1u);
    // A character reference beyond Unicode would be read as another character (&#x110032; as 2).
    for (const char* quantity : {"&#x110032;", "&#x100000031;", "&#0;"})
        EXPECT_EQ(Refusal(Sale(Position("x", quantity, "1", "1"), "Cash=\"1\"")), "Невозможно проверить чек, ошибка загрузки")
            << quantity;
    EXPECT_TRUE(Sent().empty());
    // The receipt block is logged whatever the text holds.
    EXPECT_NE(LogText().find(std::string("<CheckPackage><Parameters") + kLogEol + "---------------chek end-----------------"),
              std::string::npos);
}

TEST_F(ReceiptValidation, DeviceModeFailureMeansNoRegisteredFn) {
    SimRegister::Execute("fault 0xE2 status 0x0010 once");
    EXPECT_EQ(Refusal(Sale(kMilk, "Cash=\"100\"")), "ФН не зарестрирован");
    EXPECT_EQ(Sent(), (Codes{0xE2}));
}

TEST_F(ReceiptValidation, OperationTypeAndTaxationSystem) {
    const std::string lines = kMilk, pay = "Cash=\"100\"";
    EXPECT_EQ(Refusal(Package("TaxationSystem=\"0\"", lines, pay)), "Не задан тип операции");
    EXPECT_EQ(Sent(), kValidation);  // the validation commands run before the first rule
    EXPECT_EQ(Refusal(Package("OperationType=\"0\" TaxationSystem=\"0\"", lines, pay)), "Неверный тип операции");
    EXPECT_EQ(Refusal(Package("OperationType=\"5\" TaxationSystem=\"0\"", lines, pay)), "Неверный тип операции");
    EXPECT_EQ(Refusal(Package("OperationType=\"\" TaxationSystem=\"0\"", lines, pay)), "Неверный тип операции");
    EXPECT_EQ(Refusal(Package("OperationType=\"1\"", lines, pay)), "Не задан код системы налогообложения");
    EXPECT_EQ(Refusal(Package("OperationType=\"1\" TaxationSystem=\"-1\"", lines, pay)),
              "Неверный код системы налогообложения");
    EXPECT_EQ(Refusal(Package("OperationType=\"1\" TaxationSystem=\"6\"", lines, pay)),
              "Неверный код системы налогообложения");
    // The operation type is checked first.
    EXPECT_EQ(Refusal(Package("OperationType=\"9\" TaxationSystem=\"9\"", lines, pay)), "Неверный тип операции");
}

TEST_F(ReceiptValidation, CorrectionDataIsCheckedInOrderForCorrectionReceiptsOnly) {
    const auto correction = [](const std::string& data) {
        return Package("OperationType=\"1\" TaxationSystem=\"0\"", kMilk, "Cash=\"100\"", "<CorrectionData " + data + " />");
    };
    EXPECT_EQ(Refusal(correction(""), true), "Не задан тип коррекции");
    EXPECT_EQ(Refusal(correction("Number=\"1\" Date=\"\" Description=\"\""), true), "Не задан тип коррекции");
    EXPECT_EQ(Refusal(correction("Type=\"0\" Number=\"1\" Date=\"\""), true), "Не задано описание коррекции");
    EXPECT_EQ(Refusal(correction("Type=\"0\" Description=\"\" Number=\"1\""), true), "Не задана дата коррекции");
    EXPECT_EQ(Refusal(correction("Type=\"0\" Description=\"\" Date=\"\""), true), "Не задан номар коррекции");
    // Present with empty values counts as present; a sale does not look at the element at all.
    SimRegister::ClearJournal();
    EXPECT_TRUE(Correction(correction("Type=\"0\" Description=\"\" Date=\"\" Number=\"\"")));
    EXPECT_TRUE(Registered(Sale(kMilk, "Cash=\"100\"")));
}

TEST_F(ReceiptValidation, PositionRulesInOrder) {
    const auto sale = [](const std::string& position) { return Sale(position, "Cash=\"100\""); };
    EXPECT_EQ(Refusal(sale("<FiscalString Quantity=\"1\" />")), "Отсутствует имя позиции");
    EXPECT_EQ(Refusal(sale("<fiscalstring Name=\"x\" PriceWithDiscount=\"1\" />")), "Отсутствует количество");
    EXPECT_EQ(Refusal(sale("<FiscalString Name=\"x\" Quantity=\"10000\" />")),
              "Максимальное количество товара в одной позиции 9999.999");
    EXPECT_EQ(Refusal(sale("<FiscalString Name=\"x\" Quantity=\"1\" AmountWithDiscount=\"1\" />")), "Отсутствует цена");
    EXPECT_EQ(Refusal(sale("<FiscalString Name=\"x\" Quantity=\"1\" PriceWithDiscount=\"1\" />")), "Отсутствует сумма");
    EXPECT_EQ(Refusal(sale("<FiscalString Name=\"x\" Quantity=\"1\" PriceWithDiscount=\"1\" AmountWithDiscount=\"1\" />")),
              "Отсутствует налоговая ставка");
    // Lines of other kinds are not checked; a bad second position refuses the whole receipt.
    EXPECT_EQ(Refusal(sale("<TextString /><Foo Quantity=\"1\" />" + kMilk + "<FiscalString />")), "Отсутствует имя позиции");
    // 9999.999 is the largest quantity; further fraction digits are cut.
    EXPECT_TRUE(Registered(Sale(Position("x", "9999.999", "0.01", "100"), "Cash=\"100\"")));
    EXPECT_TRUE(Registered(Sale(Position("x", "9999.9999", "0.01", "100"), "Cash=\"100\"")));
}

TEST_F(ReceiptValidation, CalculationSubjectsNeedTheirRegistration) {
    const auto subject = [](int code) {
        return Sale("<FiscalString Name=\"x\" Quantity=\"1\" PriceWithDiscount=\"1\" AmountWithDiscount=\"1\" VATRate=\"20\" "
                    "CalculationSubject=\"" + std::to_string(code) + "\" />",
                    "Cash=\"1\"");
    };
    EXPECT_EQ(Refusal(subject(2)), "Нет регистрации для продаж подакцизных товаров");
    EXPECT_EQ(Refusal(subject(7)), "Нет регистрации для лотерей");
    EXPECT_EQ(Refusal(subject(8)), "Нет регистрации для лотерей");
    EXPECT_EQ(Refusal(subject(5)), "Нет регистрации для азартных игр");
    EXPECT_EQ(Refusal(subject(6)), "Нет регистрации для азартных игр");
    // Each registration flag is read from its own attribute.
    SimRegister::Execute("set attr 1207 flag 1\nset attr 1126 flag 1\nset attr 1193 flag 1");
    for (int code : {2, 5, 6, 7, 8}) EXPECT_TRUE(Registered(subject(code))) << code;
    EXPECT_EQ(PayloadsOf(0xE9), (std::vector<std::string>{"01 B7 04", "01 66 04", "01 A9 04", "01 24 04"}));
}

// Values sent as one byte are refused when they do not fit it: 258 would reach the register as 2
// (excisable goods) past the registration check.
TEST_F(ReceiptValidation, ValuesSentAsOneByteMustFitIt) {
    const auto sale = [](const std::string& attribute) {
        return Sale("<FiscalString Name=\"x\" Quantity=\"1\" PriceWithDiscount=\"1\" AmountWithDiscount=\"1\" "
                    "VATRate=\"20\" " + attribute + " />",
                    "Cash=\"1\"");
    };
    for (const std::string subject : {"258", "263", "261", "-254", "256"})
        EXPECT_EQ(Refusal(sale("CalculationSubject=\"" + subject + "\"")),
                  "Неверный признак предмета расчета в позиции: " + subject);
    EXPECT_EQ(Refusal(sale("PaymentMethod=\"260\"")), "Неверный признак способа расчета в позиции: 260");
    EXPECT_EQ(Refusal(Package("OperationType=\"1\" TaxationSystem=\"1\"", kMilk, "Cash=\"100\"",
                              "<CorrectionData Type=\"257\" Description=\"x\" Date=\"2021-03-05T10:00:00\" Number=\"1\" />"),
                      true),
              "Неверный тип коррекции: 257");
}

TEST_F(ReceiptValidation, PaymentsCoverTheTotalAndChangeComesOnlyFromCash) {
    const std::string hundred = Position("x", "1", "100", "100");
    EXPECT_EQ(Refusal(Sale(hundred, "Cash=\"50\"")), "Сумма оплаты меньше суммы чека");
    EXPECT_EQ(Refusal(Sale(hundred, "ElectronicPayment=\"120\"")), "Невозможно дать сдачу по безналичному расчету");
    EXPECT_EQ(Refusal(Sale(hundred, "")), "Сумма оплаты меньше суммы чека");
    EXPECT_TRUE(Registered(Sale(hundred, "Cash=\"50\" ElectronicPayment=\"60\"")));
    // Two amounts cut to hundredths: 10.50 + 0.505 makes 11.00.
    EXPECT_TRUE(Registered(Sale(Position("a", "1", "10.50", "10.50") + Position("b", "1", "0.50", "0.505"), "Cash=\"11\"")));
    EXPECT_NE(LogText().find("[Info] AmountWithDiscountSum: 1100"), std::string::npos);
    EXPECT_EQ(Refusal(Sale(Position("a", "1", "10.50", "10.50") + Position("b", "1", "0.50", "0.505"), "Cash=\"10.99\"")),
              "Сумма оплаты меньше суммы чека");
}

// Negative amounts would reach the device as huge unsigned numbers; sums beyond 64 bits would wrap.
TEST_F(ReceiptValidation, NegativeAndOverflowingAmountsAreRefusedBeforeOpening) {
    EXPECT_EQ(Refusal(Sale(Position("x", "-1", "100", "100"), "Cash=\"100\"")), "Отрицательное количество в позиции");
    EXPECT_EQ(Refusal(Sale(Position("x", "1", "-100", "100"), "Cash=\"100\"")), "Отрицательная цена в позиции");
    EXPECT_EQ(Refusal(Sale(Position("x", "1", "100", "-100"), "Cash=\"0\"")), "Отрицательная сумма позиции");
    EXPECT_EQ(Refusal(Sale(Position("x", "1", "100", "100", "ExciseAmount=\"-1\""), "Cash=\"100\"")),
              "Отрицательная сумма акциза в позиции");
    // Combinations the unsigned comparisons alone would let through.
    EXPECT_EQ(Refusal(Sale(Position("a", "1", "200", "200") + Position("b", "1", "100", "-100"), "Cash=\"100\"")),
              "Отрицательная сумма позиции");
    EXPECT_EQ(Refusal(Sale(kMilk, "PrePayment=\"-100\" ElectronicPayment=\"200\"")), "Отрицательная сумма оплаты");
    EXPECT_EQ(Refusal(Sale(kMilk, "Cash=\"300\" ElectronicPayment=\"-200\"")), "Отрицательная сумма оплаты");
    const std::string most = "92233720368547758.07";  // the largest amount in hundredths
    EXPECT_EQ(Refusal(Sale(Position("a", "1", "1", most) + Position("b", "1", "1", "0.01"), "Cash=\"1\"")),
              "Сумма чека слишком велика");
    EXPECT_EQ(Refusal(Sale(kMilk, "Cash=\"" + most + "\" Barter=\"0.01\"")), "Сумма оплаты слишком велика");
}

TEST_F(ReceiptValidation, TaxationSystemMustBeRegistered) {
    const std::string package =
        Package("OperationType=\"1\" TaxationSystem=\"3\"", kMilk, "Cash=\"100\"");
    SimRegister::Execute("set taxation 1");
    EXPECT_EQ(Refusal(package), "Система налогообложения не зарегистрирована!");
    EXPECT_EQ(Sent(), (Codes{0xE2, 0xE9, 0xE9, 0xE9, 0xE2, 0xE8}));
    EXPECT_EQ(Hex(PayloadOf(0xE8)), "01");
    SimRegister::Execute("set taxation 9");
    EXPECT_TRUE(Registered(package));
    EXPECT_EQ(Hex(PayloadOf(0x8D)), "04 00 00 08");
}

TEST_F(ReceiptValidation, ShortRegistrationRecordOrRefusedOpeningEndsWithoutTextOfItsOwn) {
    SimRegister::Execute("fault 0xE8 reply 00 01 02 once");
    EXPECT_FALSE(Check(Sale(kMilk, "Cash=\"100\"")));
    EXPECT_EQ(Sent(), (Codes{0xE2, 0xE9, 0xE9, 0xE9, 0xE2, 0xE8}));
    SimRegister::Execute("set error 0x0077 Ошибка регистратора");
    EXPECT_EQ(DeviceErrorText(), "Ошибка регистратора");  // asked from the device

    // The register refuses the opening (the shift is closed): nothing to cancel.
    SimRegister::Execute("set shift closed");
    SimRegister::ClearJournal();
    EXPECT_FALSE(Check(Sale(kMilk, "Cash=\"100\"")));
    EXPECT_EQ(Sent(), (Codes{0xE2, 0xE9, 0xE9, 0xE9, 0xE2, 0xE8, 0x8D}));
}

}  // namespace
