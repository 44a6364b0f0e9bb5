// Opening a shift with the cashier recorded on the device.
#include <algorithm>
#include <regex>

#include "support/device_fixture.h"
#include "support/wire.h"

using namespace vktest;
using namespace vktest::wire;

namespace {

class Shift : public DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(Open());
    }
    static std::string Cashier(const std::string& name, const std::string& inn) {
        return "<InputParameters><Parameters CashierName=\"" + name + "\" CashierINN=\"" + inn +
               "\" /></InputParameters>";
    }
};

using Codes = std::vector<uint8_t>;

TEST_F(Shift, OpenShiftRecordsTheCashierAndReportsTheShift) {
    bool ok = false;
    const std::string document = CallWithDocument("OpenShift", Cashier("Иванов И.И.", "7707083893"), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Sent(), (Codes{ReadCashier, WriteCashier, ShiftState, DeviceMode, FnState, OpenShift, ShiftNumbers, ShiftState,
                             DocumentDate}));
    const std::regex layout(
        "<\\?xml version=\"1.0\"\\?>\n<OutputParameters>\n\t<Parameters DateTime=\"20\\d\\d-\\d\\d-\\d\\dT\\d\\d:\\d\\d:00\" "
        "FNError=\"false\" FNOverflow=\"false\" FNFail=\"false\" ShiftNumber=\"[1-9][0-9]*\" ShiftState=\"2\" />\n"
        "</OutputParameters>\n");
    EXPECT_TRUE(std::regex_match(document, layout)) << document;

    // The cashier record: request bytes, the three leading bytes as read, the name cut or padded
    // to 64 bytes, the INN to 12, the trailing 17 bytes as read.
    const std::vector<uint8_t> read = PayloadOf(ReadCashier);
    EXPECT_EQ(Hex(read), "40 01 01 00");
    const std::vector<uint8_t> written = PayloadOf(WriteCashier);
    ASSERT_EQ(written.size(), 100u);
    EXPECT_EQ(Hex(Slice(written, cashier::Row)), "40 01 01 00");
    // Иванов И.И. in code page 866, then zeros.
    Codes name = {0x88, 0xA2, 0xA0, 0xAD, 0xAE, 0xA2, 0x20, 0x88, 0x2E, 0x88, 0x2E};
    name.resize(cashier::Name.size, 0);
    EXPECT_EQ(Slice(written, cashier::Name), name);
    EXPECT_EQ(Hex(Slice(written, cashier::Inn)), "37 37 30 37 30 38 33 38 39 33 00 00");
}

TEST_F(Shift, LongNamesAreCutAndAnEmptyInnKeepsTheDevicesOne) {
    // A record whose INN field holds 12 known bytes.
    std::string record = "AA BB CC ";
    for (int i = 0; i < 64; ++i) record += "00 ";
    record += "31 32 33 34 35 36 37 38 39 30 31 32 ";
    for (int i = 0; i < 17; ++i) record += "EE ";
    SimRegister::Execute("fault 0x09 reply " + record + "once");
    bool ok = false;
    CallWithDocument("OpenShift", Cashier(std::string(70, 'N'), ""), &ok);
    EXPECT_TRUE(ok);
    const std::vector<uint8_t> written = PayloadOf(WriteCashier);
    ASSERT_EQ(written.size(), 100u);
    EXPECT_EQ(Hex(Slice(written, cashier::Head)), "AA BB CC");
    EXPECT_EQ(Slice(written, cashier::Name), Codes(64, 'N'));
    EXPECT_EQ(Hex(Slice(written, cashier::Inn)), "31 32 33 34 35 36 37 38 39 30 31 32");
    EXPECT_EQ(Slice(written, cashier::Tail), Codes(17, 0xEE));
    EXPECT_NE(LogText().find("[Warning] ИНН не задан, используется существующий"), std::string::npos);
}

TEST_F(Shift, NoCashierSendsNoRecordAndARefusedRecordDoesNotStopTheShift) {
    bool ok = false;
    CallWithDocument("OpenShift", "<InputParameters><Parameters /></InputParameters>", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Sent().front(), ShiftState);

    CallWithDocument("CloseShift", "");
    SimRegister::ClearJournal();
    SimRegister::Execute("fault 0x0A status 0x0033 once");
    CallWithDocument("OpenShift", Cashier("Петров", "12"), &ok);
    EXPECT_TRUE(ok);
    EXPECT_NE(LogText().find("[Warning] Имя кассира и ИНН не установлены, вероятно некорректный ИНН"),
              std::string::npos);
}

TEST_F(Shift, AnOpenShiftIsClosedFirst) {
    SimRegister::Execute("set shift open");
    Params p(&memory_, 3);
    p.Str(1, Cashier("", ""));
    EXPECT_TRUE(CallBool("OpenShift", p));
    EXPECT_EQ(Sent(), (Codes{ShiftState, Counters, CloseShift, FnState, Backlog, ShiftNumbers, ShiftState, DocumentDate,
                             CashBalance, DeviceMode, FnState, OpenShift, ShiftNumbers, ShiftState, DocumentDate}));
    EXPECT_NE(LogText().find("[Warning] Смена уже была открыта или истекла, закрыть"), std::string::npos);
    EXPECT_NE(p.Text(2).find("ShiftState=\"2\""), std::string::npos);
}

// A shift state known from an earlier call never decides a closing: without an answer to 0xF2
// no shift is closed (no Z report is printed on a guess).
TEST_F(Shift, AShiftStateTheRegisterDoesNotTellClosesNothing) {
    SimRegister::Execute("set shift open");
    CallWithDocument("GetCurrentStatus", "");
    SimRegister::ClearJournal();
    SimRegister::Execute("fault 0xF2 status 0x0001 once");
    CallWithDocument("OpenShift", Cashier("", ""));
    const std::vector<uint8_t> sent = Sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), ShiftState);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), CloseShift), 0);
}

TEST_F(Shift, FailedOpenAfterASuccessfulCloseKeepsTheCloseReport) {
    SimRegister::Execute("set shift expired\nfault 0xD9 status 0x0016 once");
    Params p(&memory_, 3);
    p.Str(1, "");
    EXPECT_FALSE(CallBool("OpenShift", p));
    EXPECT_NE(p.Text(2).find("<CountersOperationType4"), std::string::npos);
    EXPECT_NE(LogText().find("[Error] Ошибка открытия смены"), std::string::npos);
}

TEST_F(Shift, UnregisteredFnCannotOpenAShift) {
    SimRegister::Reset(true);
    ASSERT_TRUE(Open());
    bool ok = true;
    EXPECT_EQ(CallWithDocument("OpenShift", Cashier("", ""), &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Sent(), (Codes{ShiftState, DeviceMode}));
    uint32_t code = 0;
    EXPECT_EQ(LastError(&code), "ФН не зарегтрирован");
    EXPECT_EQ(code, 1u);
}

}  // namespace
