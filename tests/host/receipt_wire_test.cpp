// Receipt requests byte for byte: the position record and its optional parts, the discount line,
// the attribute writes, the subtotal comparison, the closing payload and the closing failures.
#include "host/receipt_fixture.h"
#include "support/wire.h"

using namespace vktest;
using namespace vktest::wire;

namespace {

using Codes = std::vector<uint8_t>;

class ReceiptWire : public ReceiptFixture {
protected:
    // Registers a sale with these lines paid in cash; returns the method's result.
    bool Sell(const std::string& lines, const std::string& cash) {
        SimRegister::ClearJournal();
        return Check(Sale(lines, "Cash=\"" + cash + "\""));
    }
    // The commands after the validation and the opening.
    std::vector<uint8_t> AfterOpening() {
        const Codes all = Sent();
        Codes out;
        bool opened = false;
        for (uint8_t c : all) {
            if (opened) out.push_back(c);
            opened = opened || c == OpenReceipt || c == OpenCorrection;
        }
        return out;
    }
};

std::string Spaces(size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += i ? " 20" : "20";
    return out;
}

TEST_F(ReceiptWire, PositionRecordWithoutOptionalParts) {
    ASSERT_TRUE(Sell(Position("Тест", "2", "10.005", "20.00"), "20"));
    // Flags, 0, payment method 4, subject 1, "000", quantity 2000 (5 bytes), price cut to 1000
    // hundredths, no excise, VAT code 1, the name with its length.
    EXPECT_EQ(Hex(PayloadOf(SalePosition)),
              "00 00 04 01 30 30 30 D0 07 00 00 00 E8 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 04 00 92 A5 E1 E2");
}

TEST_F(ReceiptWire, VatCodesCountryExciseAndNameLength) {
    std::string lines;
    for (const char* rate : {"20", "18", "", "NONE", "10", "0", "20/120", "10/110"})
        lines += "<FiscalString Name=\"x\" Quantity=\"1\" PriceWithDiscount=\"1\" AmountWithDiscount=\"1\" VATRate=\"" +
                 std::string(rate) + "\" />";
    ASSERT_TRUE(Sell(lines, "8"));
    std::string codes;
    for (const Codes& record : EveryPayloadOf(SalePosition)) codes += Hex(Slice(record, position::Vat));
    EXPECT_EQ(codes, "0101010402030506");

    const std::string name130(130, 'N');
    ASSERT_TRUE(Sell(Position(name130, "1", "1", "1", "CountryOfOrigin=\"643\" ExciseAmount=\"12.345\""), "1"));
    const Codes record = PayloadOf(SalePosition);
    EXPECT_EQ(Hex(Slice(record, position::Country)), "36 34 33");
    EXPECT_EQ(Number(record, position::Excise), 1234u);  // hundredths, the rest cut
    EXPECT_EQ(Number(record, position::NameLength), 120u);
    EXPECT_EQ(Slice(record, position::Name), Codes(120, 'N'));
    for (const char* country : {"RU", "", "6430"}) {
        ASSERT_TRUE(Sell(Position("x", "1", "1", "1", std::string("CountryOfOrigin=\"") + country + "\""), "1"));
        EXPECT_EQ(Hex(Slice(PayloadOf(SalePosition), position::Country)), "30 30 30") << country;
    }
}

TEST_F(ReceiptWire, AdditionalAttributeMarkingCodeAndCustomsDeclaration) {
    ASSERT_TRUE(Sell(Position("x", "1", "1", "1", "AdditionalAttribute=\"AB\" CustomsDeclaration=\"10702020/1\"",
                              "<GoodCodeData MarkingCode=\"MDEwNDYwMTI=\" />"),
                     "1"));
    // Flags 0x0E; after the name: the additional attribute, the block of an 8-byte code (nothing
    // after its first eight bytes), the customs declaration.
    const Codes record = PayloadOf(SalePosition);
    EXPECT_EQ(Hex(Slice(record, position::Flags)), "0E");
    EXPECT_EQ(Hex(Slice(record, position::AfterVat)),
              "01 00 78 02 00 41 42 0E 00 00 00 31 30 06 00 30 34 36 30 31 32 00 00 0A 00 31 30 37 30 32 30 32 30 2F 31");

    // "AAA=" stands for no marking code.
    ASSERT_TRUE(Sell(Position("x", "1", "1", "1", "", "<GoodCodeData MarkingCode=\"AAA=\" />"), "1"));
    EXPECT_EQ(Hex(Slice(PayloadOf(SalePosition), position::Flags)), "00");
    EXPECT_EQ(Hex(Slice(PayloadOf(SalePosition), position::AfterVat)), "01 00 78");
}

TEST_F(ReceiptWire, MarkingCodeTooShortForItsBlockRefusesThePositionAndCancels) {
    EXPECT_FALSE(Sell(Position("Туфли", "1", "1", "1", "", "<GoodCodeData MarkingCode=\"MDEwNDYwMQ==\" />"), "1"));
    // Nothing of the position reaches the device; the receipt is cancelled once.
    EXPECT_EQ(AfterOpening(), (Codes{CancelReceipt}));
    uint32_t code = 0;
    EXPECT_EQ(LastError(&code), "Код маркировки позиции \"Туфли\" короче 8 байт");
    EXPECT_EQ(code, 1u);
    EXPECT_NE(SimRegister::Tape().find("ЧЕК АННУЛИРОВАН"), std::string::npos);
}

TEST_F(ReceiptWire, PositionCommandFollowsTheOperationType) {
    SimRegister::Execute("set cash 1000");
    const uint8_t expected[] = {SalePosition, ReturnOfSalePosition, PurchasePosition, ReturnOfPurchasePosition};
    for (int type = 1; type <= 4; ++type) {
        SimRegister::ClearJournal();
        ASSERT_TRUE(Check(Package("OperationType=\"" + std::to_string(type) + "\" TaxationSystem=\"0\"",
                                  Position("x", "1", "1", "1"), "Cash=\"1\"")));
        EXPECT_EQ(AfterOpening(), Then({{expected[type - 1], Subtotal, CloseReceipt}, kAfterClosing})) << type;
        EXPECT_EQ(Number(PayloadOf(OpenReceipt), open_receipt::OperationType), type - 1u);
    }
}

TEST_F(ReceiptWire, DiscountLineIsRightAlignedToFortyColumns) {
    const std::string label = "91 AA A8 A4 AA A0 3A 20";  // "Скидка: "
    const std::string rub = "20 90 93 81";               // " РУБ"
    ASSERT_TRUE(Sell(Position("x", "1", "1", "1", "DiscountAmount=\"15.50\""), "1"));
    EXPECT_EQ(AfterOpening(), Then({{SalePosition, PrintLine, Subtotal, CloseReceipt}, kAfterClosing}));
    EXPECT_EQ(Hex(PayloadOf(PrintLine)), "40 00 " + Spaces(23) + " " + label + " 31 35 2E 35 30 " + rub);
    ASSERT_TRUE(Sell(Position("x", "1", "1", "1", "DiscountAmount=\"15\""), "1"));
    EXPECT_EQ(Hex(PayloadOf(PrintLine)), "40 00 " + Spaces(23) + " " + label + " 31 35 2E 30 30 " + rub);
    ASSERT_TRUE(Sell(Position("x", "1", "1", "1", "DiscountAmount=\"15,5\""), "1"));
    EXPECT_EQ(Hex(PayloadOf(PrintLine)), "40 00 " + Spaces(21) + " " + label + " 31 35 2C 35 2E 30 30 " + rub);
    ASSERT_TRUE(Sell(Position("x", "1", "1", "1", "DiscountAmount=\"0.00\""), "1"));
    EXPECT_EQ(PayloadsOf(PrintLine).size(), 1u);
    // No line for 0 or for an empty or missing discount.
    ASSERT_TRUE(Sell(Position("a", "1", "1", "1", "DiscountAmount=\"0\"") + Position("b", "1", "1", "1", "DiscountAmount=\"\"") +
                         Position("c", "1", "1", "1"),
                     "3"));
    EXPECT_TRUE(PayloadsOf(PrintLine).empty());
    // A discount text longer than the line is printed without padding.
    const std::string long_(40, '9');
    ASSERT_TRUE(Sell(Position("x", "1", "1", "1", "DiscountAmount=\"" + long_ + "\""), "1"));
    EXPECT_TRUE(Hex(Slice(PayloadOf(PrintLine), print_line::Text)).starts_with(label));
}

TEST_F(ReceiptWire, PositionAttributesPrecedeTheirPositionReceiptAttributesFollowAll) {
    ASSERT_TRUE(Check(Sale(Position("a", "1", "1", "1", "", "<AgentData AgentPhone=\"+7\" />") + Position("b", "1", "1", "1"),
                           "Cash=\"2\"",
                           "CustomerPhone=\"+7900\""),
                      false));
    EXPECT_EQ(AfterOpening(), Then({{WriteTag, SalePosition, SalePosition, WriteTag, Subtotal, CloseReceipt}, kAfterClosing}));
    EXPECT_EQ(PayloadsOf(WriteTag), (std::vector<std::string>{"31 04 00 02 00 2B 37", "F0 03 00 05 00 2B 37 39 30 30"}));

    // Receipt-level agent and supplier data, in the tags' order, after the buyer's contacts.
    SimRegister::ClearJournal();
    ASSERT_TRUE(Check(Package("OperationType=\"1\" TaxationSystem=\"0\" CustomerEmail=\"a@b\"", Position("a", "1", "1", "1"),
                              "Cash=\"1\"",
                              "<AgentData AgentOperation=\"op\" AcquirerOperatorINN=\"12\" /><VendorData VendorINN=\"34\" />")));
    EXPECT_EQ(PayloadsOf(WriteTag), (std::vector<std::string>{"F0 03 00 03 00 61 40 62", "F8 03 00 02 00 31 32",
                                                          "14 04 00 02 00 6F 70", "CA 04 00 02 00 33 34"}));
    EXPECT_EQ(AfterOpening(), Then({{SalePosition}, Codes(4, WriteTag), {Subtotal, CloseReceipt}, kAfterClosing}));
}

TEST_F(ReceiptWire, RefusedAttributeWriteDoesNotStopTheReceipt) {
    SimRegister::Execute("fault 0xD8 status 0x0004 always");
    ASSERT_TRUE(Check(Sale(Position("a", "1", "1", "1", "", "<VendorData VendorName=\"V\" />"), "Cash=\"1\"",
                           "CustomerEmail=\"a@b\"")));
    EXPECT_EQ(AfterOpening(), Then({{WriteTag, SalePosition, WriteTag, Subtotal, CloseReceipt}, kAfterClosing}));
}

TEST_F(ReceiptWire, SubtotalWithinOneUnitIsCorrectedToTheHostsHundredths) {
    // Device 100.03 against the host's 100.00: flags 0x1000 and correction byte 0.
    SimRegister::Execute("fault 0x89 reply 13 27 00 00 00 00 00 00 once");
    ASSERT_TRUE(Sell(Position("x", "1", "100", "100"), "100"));
    const Codes close = PayloadOf(CloseReceipt);
    EXPECT_EQ(Hex(Slice(close, close_receipt::Flags)), "00 10");
    EXPECT_EQ(close.size(), close_receipt::Correction.at + 1);
    EXPECT_EQ(Number(close, close_receipt::Correction), 0u);
    const std::string log = LogText();
    EXPECT_NE(log.find("[Info] Check subtotal: 10003"), std::string::npos);
    const size_t corrected = log.find("[Error] Коррекция суммы чека");
    EXPECT_LT(corrected, log.find("[Info] Коррекция к: 0", corrected));

    // The device's 0.60 against the host's 0.57: the byte is 57 and the register closes at 0.57.
    SimRegister::ClearTape();
    ASSERT_TRUE(Sell(Position("y", "1", "0.60", "0.57"), "0.57"));
    EXPECT_EQ(Number(PayloadOf(CloseReceipt), close_receipt::Correction), 57u);
    EXPECT_NE(SimRegister::Tape().find("=0.57"), std::string::npos) << SimRegister::Tape();

    // 99 hundredths apart is still corrected.
    SimRegister::Execute("fault 0x89 reply 73 27 00 00 00 00 00 00 once");
    ASSERT_TRUE(Sell(Position("x", "1", "100", "100"), "100"));
    EXPECT_EQ(Hex(Slice(PayloadOf(CloseReceipt), close_receipt::Flags)), "00 10");
    // Equal sums: no flags and no byte.
    ASSERT_TRUE(Sell(Position("x", "1", "100", "100"), "100"));
    EXPECT_EQ(PayloadOf(CloseReceipt).size(), close_receipt::Correction.at);
}

TEST_F(ReceiptWire, SubtotalOneUnitOrMoreApartCancelsTheReceipt) {
    for (const char* subtotal : {"A6 27 00 00 00 00 00 00" /* 101.50 */, "AC 26 00 00 00 00 00 00" /* 99.00 */}) {
        SimRegister::Execute(std::string("fault 0x89 reply ") + subtotal + " once");
        SimRegister::ClearTape();
        EXPECT_FALSE(Sell(Position("x", "1", "100", "100"), "100"));
        // CloseReceipt cancels, then the receipt's own failure path cancels once more.
        EXPECT_EQ(AfterOpening(), Then({{SalePosition, Subtotal, CancelReceipt}, kAfterFailedClosing})) << subtotal;
        EXPECT_EQ(LastError(), "Некорректируемый подытог");
        EXPECT_NE(SimRegister::Tape().find("ЧЕК АННУЛИРОВАН"), std::string::npos);
    }
    // Without the device's subtotal the comparison runs against 0.
    SimRegister::Execute("fault 0x89 status 0x0031 once");
    EXPECT_FALSE(Sell(Position("x", "1", "100", "100"), "100"));
    EXPECT_EQ(LastError(), "Некорректируемый подытог");
}

TEST_F(ReceiptWire, ClosingPayloadCarriesThePaymentsInWireOrder) {
    ASSERT_TRUE(Check(Sale(Position("x", "1", "15", "15"), "Cash=\"1\" ElectronicPayment=\"2\" PrePayment=\"3\" PostPayment=\"4\" Barter=\"5\"")));
    EXPECT_EQ(Hex(PayloadOf(CloseReceipt)),
              "00 00 64 00 00 00 00 00 00 00 C8 00 00 00 00 00 00 00 2C 01 00 00 00 00 00 00 90 01 00 00 00 00 00 00 "
              "F4 01 00 00 00 00 00 00");
}

TEST_F(ReceiptWire, ClosingFailuresCancelTheReceipt) {
    // The register refuses: no text of the driver's own, the device's reason is asked for.
    SimRegister::Execute("fault 0x85 status 0x0036 once");
    EXPECT_FALSE(Sell(Position("x", "1", "1", "1"), "1"));
    EXPECT_EQ(AfterOpening(), Then({{SalePosition, Subtotal, CloseReceipt}, kAfterFailedClosing}));
    EXPECT_EQ(DeviceErrorText(), "Сумма оплаты меньше суммы чека");

    // A reply without the receipt's numbers and without a refusal: the register is asked whether
    // the receipt is still open (0xF3). It is, so it is cancelled.
    SimRegister::Execute("fault 0x85 reply 00 00 00 00 once");
    EXPECT_FALSE(Sell(Position("x", "1", "1", "1"), "1"));
    EXPECT_EQ(AfterOpening(), Then({{SalePosition, Subtotal, CloseReceipt, ReceiptState}, kAfterFailedClosing}));

    // The reply's flag says the payments do not cover the receipt.
    SimRegister::Execute("fault 0x85 reply 00 00 00 00 00 00 00 80 01 00 01 00 02 00 00 00 01 00 00 00 00 once");
    EXPECT_FALSE(Sell(Position("x", "1", "1", "1"), "1"));
    EXPECT_EQ(AfterOpening(), Then({{SalePosition, Subtotal, CloseReceipt}, kAfterFailedClosing}));
    uint32_t code = 0;
    EXPECT_EQ(LastError(&code), "Сумма оплаты меньше суммы чека");
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(SimRegister::Tape().find("ИТОГ"), std::string::npos) << "no receipt was registered";
}

// A closing reply that neither carries the numbers nor refuses: the register is asked (0xF3). A
// register that no longer holds the receipt open has registered it.
TEST_F(ReceiptWire, UnusableClosingReplyAsksTheRegisterWhetherTheReceiptIsStillOpen) {
    SimRegister::Execute("fault 0x85 reply 00 00 00 00 once\nfault 0xF3 reply 00 00 00 00 once");
    std::string output;
    ASSERT_TRUE(Check(Sale(Position("x", "1", "1", "1"), "Cash=\"1\""), false, &output));
    EXPECT_EQ(AfterOpening(),
              Then({{SalePosition, Subtotal, CloseReceipt, ReceiptState, FnState, ShiftNumbers}, kAfterClosing}));
    EXPECT_NE(output.find("ShiftNumber=\"1\" CheckNumber=\"1\" ShiftClosingCheckNumber=\"0\" "
                          "AddressSiteInspections=\"www.nalog.gov.ru\" FiscalSign=\"\" DateTime=\"20"),
              std::string::npos) << output;
    EXPECT_NE(LogText().find("[Warning] Чек зарегистрирован, но его фискальный признак не получен"), std::string::npos);

    // No usable answer to the question either: a text of its own, and nothing more is sent.
    ASSERT_TRUE(Open());  // the simulated register never closed the receipt
    SimRegister::Execute("fault 0x85 reply 00 00 00 00 once\nfault 0xF3 status 0x0001 once");
    EXPECT_FALSE(Sell(Position("x", "1", "1", "1"), "1"));
    EXPECT_EQ(AfterOpening(), (Codes{SalePosition, Subtotal, CloseReceipt, ReceiptState}));
    EXPECT_EQ(LastError(), "Нет ответа ККТ на закрытие чека, чек мог быть зарегистрирован. Повторная отправка того же "
                           "чека безопасна: драйвер сначала узнает у ККТ, зарегистрирован ли он, и не зарегистрирует "
                           "его дважды");
    // The next call settles it first: the register still holds the receipt, which is cancelled.
    ASSERT_TRUE(Open());
    EXPECT_NE(LogText().find("), не зарегистрирован и отменен"), std::string::npos) << LogText();
}

TEST_F(ReceiptWire, PaperOutAndCoverOpenExplainAFailedClosing) {
    SimRegister::Execute("fault 0x85 paper-out once");
    EXPECT_FALSE(Sell(Position("x", "1", "1", "1"), "1"));
    EXPECT_EQ(AfterOpening(), Then({{SalePosition, Subtotal, CloseReceipt}, kAfterFailedClosing}));
    uint32_t code = 0;
    EXPECT_EQ(LastError(&code), "В принтере нет бумаги");
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(LogText().find("В принтере нет бумаги"), std::string::npos) << "recorded without a log line";

    SimRegister::Execute("set paper ok\nfault 0x85 cover-open once");
    EXPECT_FALSE(Sell(Position("x", "1", "1", "1"), "1"));
    EXPECT_EQ(LastError(), "Открыта крышка");

    // Both at once: the cover's text is the one left.
    SimRegister::Execute("set paper out\nset cover open");
    EXPECT_FALSE(Sell(Position("x", "1", "1", "1"), "1"));
    EXPECT_EQ(LastError(), "Открыта крышка");

    // An electronic receipt does not need the printer.
    SimRegister::ClearJournal();
    EXPECT_TRUE(Check(Sale(Position("x", "1", "1", "1"), "Cash=\"1\""), true));
}

TEST_F(ReceiptWire, FailedReadsAfterClosingKeepThePreviousValues) {
    // The first receipt's date as the register reports it: 2021-03-07 09:05.
    SimRegister::Execute("fault 0xE5 reply 03 00 15 03 07 09 05 00 00 00 00 once");
    std::string first;
    ASSERT_TRUE(Check(Sale(Position("x", "1", "1", "1"), "Cash=\"1\""), false, &first));
    EXPECT_NE(first.find("DateTime=\"2021-03-07T09:05:00\""), std::string::npos) << first;
    SimRegister::Execute("set attr 1060 text other.example\nfault 0xE9 status 0x0013 from 4\nfault 0xE5 status 0x0014 once");
    SimRegister::ClearJournal();
    std::string second;
    ASSERT_TRUE(Check(Sale(Position("x", "1", "1", "1"), "Cash=\"1\""), false, &second));
    EXPECT_EQ(AfterOpening(), Then({{SalePosition, Subtotal, CloseReceipt}, kAfterClosing}));
    EXPECT_NE(second.find("AddressSiteInspections=\"www.nalog.gov.ru\""), std::string::npos) << second;
    EXPECT_NE(second.find("DateTime=\"2021-03-07T09:05:00\""), std::string::npos) << second;
    EXPECT_NE(second, first);  // the numbers of the closing reply are the new receipt's
}

}  // namespace
