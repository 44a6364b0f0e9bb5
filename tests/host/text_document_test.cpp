// Text documents with lines and barcodes, and cash in and out of the drawer.
#include "support/device_fixture.h"
#include "support/wire.h"

using namespace vktest;
using namespace vktest::wire;

namespace {

class TextDocument : public DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(Open());
    }
    bool Print(const std::string& package) {
        Params p(&memory_, 2);
        p.Str(1, package);
        return CallBool("PrintTextDocument", p);
    }
    std::vector<std::string> Payloads(uint8_t command) {
        std::vector<std::string> out;
        for (const Request& r : SimRegister::Journal())
            if (r.command == command) out.push_back(Hex(r.payload));
        return out;
    }
};

using Codes = std::vector<uint8_t>;

TEST_F(TextDocument, LinesAndBarcodesInDocumentOrder) {
    EXPECT_TRUE(Print(
        "<Document><Positions>"
        "<TextString Text=\"Итого\" /><textstring Text=\"x\" />"
        "<Barcode Type=\"ean13\" ValueBase64=\"MTIzNDU2Nzg5MDEyOA==\" />"
        "<BARCODE Type=\"qr\" ValueBase64=\"QUI=\" /><Barcode Type=\"PDF417\" ValueBase64=\"QUI=\" />"
        "<Barcode Type=\"CODE39\" ValueBase64=\"/w==\" /><Other Text=\"skipped\" />"
        "</Positions></Document>"));
    EXPECT_EQ(Sent(), Then({{OpenText, PrintLine, PrintLine}, Codes(4, PrintBarcode), {CloseText}}));
    EXPECT_EQ(Payloads(PrintLine), (std::vector<std::string>{"40 00 88 E2 AE A3 AE", "40 00 78"}));
    EXPECT_EQ(Payloads(PrintBarcode), (std::vector<std::string>{
                                  "00 03 00 03 00 01 00 01 00 31 32 33 34 35 36 37 38 39 30 31 32 38",
                                  "01 06 00 03 00 04 00 41 42",
                                  "00 03 00 03 00 01 00 00 00 41 42",
                                  "00 03 00 03 00 01 00 04 00 3F",  // 0xFF is not 7-bit
                              }));
    EXPECT_EQ(Hex(PayloadOf(OpenText)), "00 00");
    EXPECT_EQ(Hex(PayloadOf(CloseText)), "00 00");
    EXPECT_NE(SimRegister::Tape().find("Итого"), std::string::npos);
}

TEST_F(TextDocument, WrongRootOrBrokenPackagePrintsAnEmptyDocument) {
    EXPECT_TRUE(Print("<document><Positions><TextString Text=\"a\" /></Positions></document>"));
    EXPECT_TRUE(Print("<Document><Positions>"));
    EXPECT_EQ(Sent(), (Codes{OpenText, CloseText, OpenText, CloseText}));
}

TEST_F(TextDocument, FailedLineDoesNotStopTheDocument) {
    SimRegister::Execute("fault 0xDB status 0x0001 once after 1");
    EXPECT_TRUE(Print("<Document><Positions><TextString Text=\"1\" /><TextString Text=\"2\" />"
                      "<TextString Text=\"3\" /></Positions></Document>"));
    EXPECT_EQ(Sent(), (Codes{OpenText, PrintLine, PrintLine, PrintLine, CloseText}));
    EXPECT_EQ(Payloads(PrintLine).back(), "40 00 33");
}

TEST_F(TextDocument, OpeningOrClosingFailureFailsTheMethod) {
    SimRegister::Execute("fault 0xDA status 0x0001 once");
    EXPECT_FALSE(Print("<Document><Positions><TextString Text=\"1\" /></Positions></Document>"));
    EXPECT_EQ(Sent(), (Codes{OpenText}));
    SimRegister::Execute("fault 0xDF status 0x0001 once");
    EXPECT_FALSE(Print("<Document><Positions /></Document>"));
    EXPECT_NE(LogText().find("[Error] PrintTextDocument error"), std::string::npos);
}

class Cash : public TextDocument {
protected:
    bool CashInOut(Params& p) { return CallBool("CashInOutcome", p); }
};

TEST_F(Cash, AmountsFromEveryKindOfNumber) {
    SimRegister::Execute("set shift open\nset cash 1000");
    Params p(&memory_, 3);
    p.Int(2, 150);
    EXPECT_TRUE(CashInOut(p));
    EXPECT_EQ(Hex(PayloadOf(CashIn)), "98 3A 00 00 00 00 00 00");  // 15000
    p.Dbl(2, -20.5);
    EXPECT_TRUE(CashInOut(p));
    EXPECT_EQ(Hex(PayloadOf(CashOut)), "02 08 00 00 00 00 00 00");  // 2050
    p.Str(2, "150.759");
    EXPECT_TRUE(CashInOut(p));
    EXPECT_EQ(Hex(PayloadOf(CashIn)), "E3 3A 00 00 00 00 00 00");  // 15075, cut
    p.Int(2, 0);
    EXPECT_TRUE(CashInOut(p));
    EXPECT_EQ(Sent(), (Codes{CashIn, CashOut, CashIn}));
    const std::string log = LogText();
    EXPECT_NE(log.find("[Info] Внесение в кассу: 15000"), std::string::npos);
    EXPECT_NE(log.find("[Info] Выемка из кассы: 2050"), std::string::npos);
    EXPECT_NE(log.find("[Info] Внесение в кассу нулевой суммы"), std::string::npos);
}

TEST_F(Cash, AnAmountOfAnotherTypeIsRefusedWithAText) {
    Params p(&memory_, 3);
    p.Bool(2, true);
    EXPECT_FALSE(CashInOut(p));
    EXPECT_TRUE(Sent().empty());
    uint32_t code = 0;
    EXPECT_EQ(LastError(&code), "Сумма внесения или выемки должна быть числом или строкой");
    EXPECT_EQ(code, 1u);
}

TEST_F(Cash, RefusedCommandFails) {
    SimRegister::Execute("fault 0x51 status 0x0046 once");
    Params p(&memory_, 3);
    p.Int(2, -5);
    EXPECT_FALSE(CashInOut(p));
    EXPECT_EQ(Sent(), (Codes{CashOut}));
}

}  // namespace
