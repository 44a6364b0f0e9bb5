// Whole receipts and correction receipts registered by the simulated register: the result
// document, the order of the device commands, the printed receipt and the log.
#include <regex>

#include "host/receipt_fixture.h"
#include "support/wire.h"

using namespace vktest;
using namespace vktest::wire;

namespace {

using Codes = std::vector<uint8_t>;

class Receipt : public ReceiptFixture {};

// The result document with its numbers captured: shift, document, receipt in the shift, sign.
const std::regex kOutput(
    "<\\?xml version=\"1.0\"\\?>\n<DocumentOutputParameters>\n\t<Parameters ShiftNumber=\"(\\d+)\" "
    "CheckNumber=\"(\\d+)\" ShiftClosingCheckNumber=\"(\\d+)\" AddressSiteInspections=\"www.nalog.gov.ru\" "
    "FiscalSign=\"(\\d+)\" DateTime=\"20\\d\\d-\\d\\d-\\d\\dT\\d\\d:\\d\\d:00\" />\n</DocumentOutputParameters>\n");

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

TEST_F(Receipt, SaleWithSeveralPositionsAndMixedPaymentGivesChangeFromCash) {
    const std::string package = Sale(Position("Молоко", "2", "89.90", "179.80") + Position("Хлеб", "1", "45.50", "45.50") +
                                         Position("Сыр", "0.350", "799", "279.65"),
                                     "Cash=\"400\" ElectronicPayment=\"200\"");
    RemoveFile(TodayLogPath());  // the log of this receipt alone
    std::string output;
    ASSERT_TRUE(Check(package, false, &output));
    std::smatch first;
    ASSERT_TRUE(std::regex_match(output, first, kOutput)) << output;
    EXPECT_EQ(first[3].str(), "1");
    EXPECT_EQ(Sent(), Then({kBeforeOpening, {OpenReceipt, SalePosition, SalePosition, SalePosition, Subtotal, CloseReceipt},
                            kAfterClosing}));
    EXPECT_EQ(Hex(PayloadOf(OpenReceipt)), "04 00 00 01");
    // Cash, electronic, prepayment, postpayment, barter.
    EXPECT_EQ(Hex(PayloadOf(CloseReceipt)),
              "00 00 40 9C 00 00 00 00 00 00 20 4E 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
              "00 00 00 00 00 00 00 00");

    const std::string tape = SimRegister::Tape();
    EXPECT_NE(tape.find("КАССОВЫЙ ЧЕК"), std::string::npos) << tape;
    EXPECT_NE(tape.find("=504.95"), std::string::npos) << tape;
    EXPECT_NE(tape.find("=95.05"), std::string::npos) << tape;  // change

    // The next receipt carries the next numbers.
    SimRegister::ClearJournal();
    std::string second;
    ASSERT_TRUE(Check(Sale(Position("Вода", "1", "30", "30"), "Cash=\"30\""), false, &second));
    std::smatch next;
    ASSERT_TRUE(std::regex_match(second, next, kOutput)) << second;
    EXPECT_EQ(next[1].str(), first[1].str());
    EXPECT_EQ(std::stoul(next[2].str()), std::stoul(first[2].str()) + 1);
    EXPECT_EQ(next[3].str(), "2");
    EXPECT_NE(next[4].str(), first[4].str());

    const std::string log = LogText();
    const size_t block = log.find("---------------check begin--------------");
    const size_t correct = log.find("[Info] Check correct", block);
    const size_t sum = log.find("[Info] AmountWithDiscountSum: 50495");
    const size_t subtotal = log.find("[Info] Check subtotal: 50495");
    const size_t out = log.find("[Info] Check output parameteres:", subtotal);
    const size_t ok = log.find("[Info] Check ok", out);
    ASSERT_NE(block, std::string::npos) << log;
    EXPECT_NE(log.find("Молоко", block), std::string::npos);
    EXPECT_LT(sum, correct);
    EXPECT_LT(correct, subtotal);
    EXPECT_LT(subtotal, out);
    EXPECT_NE(ok, std::string::npos) << log;
    EXPECT_NE(log.find("<DocumentOutputParameters>", out), std::string::npos);
}

TEST_F(Receipt, ReturnOfSaleUsesItsPositionCommandAndPaysCashOut) {
    SimRegister::Execute("set cash 500");
    std::string output;
    ASSERT_TRUE(Check(Package("OperationType=\"2\" TaxationSystem=\"1\"", Position("Чайник", "1", "120", "120"),
                              "Cash=\"120\""),
                      false, &output));
    EXPECT_TRUE(std::regex_match(output, kOutput)) << output;
    EXPECT_EQ(Hex(PayloadOf(OpenReceipt)), "04 00 01 02");
    EXPECT_EQ(PayloadsOf(ReturnOfSalePosition).size(), 1u);
    EXPECT_TRUE(PayloadsOf(SalePosition).empty());

    bool ok = false;
    const std::string settlements = CallWithDocument("ReportCurrentStatusOfSettlements", "", &ok);
    ASSERT_TRUE(ok);
    EXPECT_NE(settlements.find("CashBalance=\"380\""), std::string::npos) << settlements;
    EXPECT_NE(SimRegister::Tape().find("ВОЗВРАТ ПРИХОДА"), std::string::npos);
}

TEST_F(Receipt, ElectronicReceiptWithBuyerContactsWritesTag1008TwiceAfterThePositions) {
    std::string output;
    ASSERT_TRUE(Check(Sale(Position("Книга", "1", "350", "350"), "ElectronicPayment=\"350\"",
                           "CustomerEmail=\"buyer@example.ru\" CustomerPhone=\"+79001234567\""),
                      true, &output));
    EXPECT_TRUE(std::regex_match(output, kOutput)) << output;
    EXPECT_EQ(Hex(PayloadOf(OpenReceipt)), "06 00 00 01");
    EXPECT_EQ(Sent(), Then({kBeforeOpening, {OpenReceipt, SalePosition, WriteTag, WriteTag, Subtotal, CloseReceipt},
                            kAfterClosing}));
    const auto tags = PayloadsOf(WriteTag);
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0], "F0 03 00 10 00 62 75 79 65 72 40 65 78 61 6D 70 6C 65 2E 72 75");
    EXPECT_EQ(tags[1], "F0 03 00 0C 00 2B 37 39 30 30 31 32 33 34 35 36 37");
    const std::string tape = SimRegister::Tape();
    EXPECT_NE(tape.find("ЭЛЕКТРОННЫЙ ЧЕК"), std::string::npos) << tape;
    EXPECT_NE(tape.find("ПОКУПАТЕЛЬ: buyer@example.ru"), std::string::npos) << tape;
}

TEST_F(Receipt, ElectronicFlagIsReadFromAnIntegerToo) {
    for (int flag : {1, 0}) {
        Params p(&memory_, 4);
        p.Str(0, "").Int(1, flag).Str(2, Sale(Position("Книга", "1", "10", "10"), "Cash=\"10\""));
        SimRegister::ClearJournal();
        ASSERT_TRUE(CallBool("ProcessCheck", p));
        EXPECT_EQ(Hex(PayloadOf(OpenReceipt)), flag ? "06 00 00 01" : "04 00 00 01");
    }
}

TEST_F(Receipt, CorrectionReceiptWithDateAndWithoutOne) {
    const std::string data = "<CorrectionData Type=\"1\" Description=\"Предписание\" Date=\"2021-03-05T10:00:00\" Number=\"17\" />";
    std::string output;
    ASSERT_TRUE(Correction(Package("OperationType=\"1\" TaxationSystem=\"1\"", Position("Выручка", "1", "1500", "1500"),
                                   "Cash=\"1500\"", data),
                           &output));
    EXPECT_TRUE(std::regex_match(output, kOutput)) << output;
    EXPECT_EQ(Sent(), Then({kBeforeOpening, {OpenCorrection, SalePosition, Subtotal, CloseReceipt}, kAfterClosing}));
    // Mode 4, sale, taxation bit 0x02, type 1, description, date 21-03-05, number "17".
    EXPECT_EQ(Hex(PayloadOf(OpenCorrection)), "04 00 00 02 01 0B 00 8F E0 A5 A4 AF A8 E1 A0 AD A8 A5 15 03 05 02 00 31 37");
    std::string tape = SimRegister::Tape();
    EXPECT_NE(tape.find("КАССОВЫЙ ЧЕК КОРРЕКЦИИ"), std::string::npos) << tape;
    EXPECT_NE(tape.find("05.03.21"), std::string::npos) << tape;

    // A date of ten characters is left out: the number follows the description directly.
    SimRegister::ClearJournal();
    SimRegister::ClearTape();
    ASSERT_TRUE(Correction(Package("OperationType=\"1\" TaxationSystem=\"1\"", Position("Выручка", "1", "10", "10"),
                                   "Cash=\"10\"",
                                   "<CorrectionData Type=\"0\" Description=\"x\" Date=\"05.03.2021\" Number=\"9\" />")));
    EXPECT_EQ(Hex(PayloadOf(OpenCorrection)), "04 00 00 02 00 01 00 78 01 00 39");
    tape = SimRegister::Tape();
    EXPECT_NE(tape.find("ДОКУМЕНТ ОСНОВАНИЯ №9"), std::string::npos) << tape;

    // A correction receipt is never electronic, and its failures are logged by the dispatcher.
    EXPECT_FALSE(Correction(Package("OperationType=\"1\" TaxationSystem=\"1\"", "", "")));
    EXPECT_NE(LogText().find("[Error] ProcessCorrectionCheck"), std::string::npos);
    EXPECT_EQ(LastError(), "Не задан тип коррекции");
}

TEST_F(Receipt, PositionWithAgentDataAndMarkingCode) {
    const std::string agent =
        "<AgentData AgentOperation=\"Оплата\" AgentPhone=\"+74950000001\" PaymentProcessorPhone=\"+74950000002\" "
        "AcquirerOperatorPhone=\"+74950000003\" AcquirerOperatorName=\"Банк\" AcquirerOperatorAddress=\"Москва\" "
        "AcquirerOperatorINN=\"7700000001\" /><VendorData VendorPhone=\"+74950000004\" VendorName=\"Завод\" "
        "VendorINN=\"7700000002\" /><GoodCodeData MarkingCode=\"MDEwNDYwMTIzNDU2Nzg5MDIxNUFCQ0RFRg==\" />";
    ASSERT_TRUE(Check(Sale(Position("Обувь", "1", "2500", "2500", "", agent), "Cash=\"2500\"")));
    EXPECT_EQ(Sent(), Then({kBeforeOpening, {OpenReceipt}, Codes(10, WriteTag), {SalePosition, Subtotal, CloseReceipt},
                            kAfterClosing}));
    // Tags in their fixed order: 1005, 1016, 1026, 1044, 1073, 1074, 1075, 1171, 1225, 1226.
    std::vector<uint64_t> tags;
    for (const Codes& payload : EveryPayloadOf(WriteTag)) tags.push_back(Number(payload, write_tag::Tag));
    EXPECT_EQ(tags, (std::vector<uint64_t>{1005, 1016, 1026, 1044, 1073, 1074, 1075, 1171, 1225, 1226}));
    // Flag 0x04 and the marking block at the end of the record: 25 decoded bytes split 2 + 6 + 17.
    const Codes record = PayloadOf(SalePosition);
    EXPECT_EQ(Hex(Slice(record, position::Flags)), "04");
    const std::string block = "1F 00 00 00 31 30 06 00 30 34 36 30 31 32 11 00 33 34 35 36 37 38 39 30 32 31 35 41 42 43 44 45 46";
    EXPECT_TRUE(Hex(record).ends_with(block)) << Hex(record);
    const std::string tape = SimRegister::Tape();
    EXPECT_NE(tape.find("[М+] КОД МАРКИРОВКИ"), std::string::npos) << tape;
    EXPECT_NE(tape.find("ПОСТАВЩИК: Завод"), std::string::npos) << tape;
}

TEST_F(Receipt, TextLinesBarcodesAndDiscountLinesPrintInDocumentOrder) {
    const std::string lines = "<TextString Text=\"Добро пожаловать\" />" +
                              Position("Кофе", "1", "150", "150", "DiscountAmount=\"15.50\"") +
                              "<Barcode Type=\"QR\" ValueBase64=\"aHR0cHM6Ly9leGFtcGxlLm9yZy9yPzE=\" />"
                              "<Other Text=\"skipped\" /><textstring Text=\"Спасибо\" />"
                              "<BARCODE Type=\"ean13\" ValueBase64=\"NDYwMDAwMDAwMDAwMw==\" />";
    ASSERT_TRUE(Check(Sale(lines, "Cash=\"150\"")));
    EXPECT_EQ(Sent(), Then({kBeforeOpening,
                            {OpenReceipt, PrintLine, SalePosition, PrintLine, PrintBarcode, PrintLine, PrintBarcode, Subtotal,
                             CloseReceipt},
                            kAfterClosing}));
    const auto barcodes = EveryPayloadOf(PrintBarcode);
    ASSERT_EQ(barcodes.size(), 2u);
    EXPECT_EQ(Hex(Slice(barcodes[0], barcode::QrHead)), "01 06 00 03 00 04 00");
    EXPECT_EQ(Hex(barcodes[1]), "00 03 00 03 00 01 00 01 00 34 36 30 30 30 30 30 30 30 30 30 30 33");
    const std::string tape = SimRegister::Tape();
    size_t at = 0;
    for (const char* printed : {"Добро пожаловать", "Кофе", "Скидка: 15.50 РУБ", "[QR: https://example.org/r?1]", "Спасибо",
                                "[EAN: 4600000000003]", "ИТОГ"}) {
        const size_t found = tape.find(printed, at);
        EXPECT_NE(found, std::string::npos) << printed << "\n" << tape;
        if (found != std::string::npos) at = found;
    }
    EXPECT_EQ(Count(tape, "skipped"), 0u);
}

TEST_F(Receipt, ReceiptWithoutFiscalLinesIsRefusedByTheRegisterAndCancelled) {
    // Valid for the driver (total 0, nothing paid), but the register closes no empty receipt.
    EXPECT_FALSE(Check(Sale("<TextString Text=\"Только текст\" />", "")));
    EXPECT_EQ(Sent(), Then({kBeforeOpening, {OpenReceipt, PrintLine, Subtotal, CloseReceipt}, kAfterFailedClosing}));
    EXPECT_NE(SimRegister::Tape().find("ЧЕК АННУЛИРОВАН"), std::string::npos);
    // The device's own reason reaches the host.
    EXPECT_FALSE(LastError().empty());
}

}  // namespace
