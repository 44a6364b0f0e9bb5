// Status and settlement documents, the close-shift report and its counters.
#include <clocale>
#include <regex>

#include "support/device_fixture.h"
#include "support/wire.h"

using namespace vktest;
using namespace vktest::wire;

namespace {

class Status : public DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(Open());
    }
};

using Codes = std::vector<uint8_t>;

std::string Attribute(const std::string& document, const std::string& name) {
    const std::regex pattern("\\b" + name + "=\"([^\"]*)\"");
    std::smatch match;
    return std::regex_search(document, match, pattern) ? match[1].str() : "<missing>";
}

TEST_F(Status, BalanceIsReadBySettlementsAndShownByTheStatus) {
    SimRegister::Execute("set cash 123.13");
    // A fresh object has not read the balance yet.
    std::string status = CallWithDocument("GetCurrentStatus", "");
    EXPECT_EQ(Attribute(status, "Cachebalance"), "0");
    EXPECT_EQ(Sent(), (Codes{ShiftNumbers, ShiftState, Backlog, FnState}));

    SimRegister::ClearJournal();
    const std::string settlements = CallWithDocument("ReportCurrentStatusOfSettlements", "");
    EXPECT_EQ(Sent(), (Codes{CashBalance, ShiftNumbers, ShiftState, Backlog, SettlementReport}));
    EXPECT_EQ(Attribute(settlements, "CashBalance"), "123.13000000000001");
    status = CallWithDocument("GetCurrentStatus", "");
    EXPECT_EQ(Attribute(status, "Cachebalance"), "123.13");
}

TEST_F(Status, DocumentLayouts) {
    SimRegister::Execute(
        "set shift open\nset shift-number 12\nset shift-receipts 3\n"
        "fault 0xE4 reply 00 00 05 00 2A 00 00 00 18 03 07 09 05 once");
    const std::string status = CallWithDocument("GetCurrentStatus", "");
    const std::regex layout(
        "<\\?xml version=\"1.0\"\\?>\n<OutputParameters>\n\t<Parameters ShiftNumber=\"12\" ShiftState=\"2\" "
        "ShiftClosingCheckNumber=\"3\" CheckNumber=\"[0-9]+\" Cachebalance=\"0\" BacklogDocumentsCounter=\"5\" "
        "BacklogDocumentFirstNumber=\"42\" BacklogDocumentFirstDateTime=\"2024-03-07T09:05:00\" />\n"
        "</OutputParameters>\n");
    EXPECT_TRUE(std::regex_match(status, layout)) << status;

    // Nothing waiting: the computer's own time, with seconds.
    SimRegister::Execute("set backlog 0");
    const std::string settlements = CallWithDocument("ReportCurrentStatusOfSettlements", "");
    const std::regex layout2(
        "<\\?xml version=\"1.0\"\\?>\n<OutputParameters>\n\t<Parameters ShiftState=\"2\" CashBalance=\"[0-9.]+\" "
        "BacklogDocumentsCounter=\"0\" BacklogDocumentFirstNumber=\"[0-9]+\" "
        "BacklogDocumentFirstDateTime=\"" + Today() + "T\\d\\d:\\d\\d:\\d\\d\" />\n</OutputParameters>\n");
    EXPECT_TRUE(std::regex_match(settlements, layout2)) << settlements;
}

TEST_F(Status, ShiftStateCodes) {
    for (const auto& [device, host] : {std::pair{"closed", "1"}, {"open", "2"}, {"expired", "3"}}) {
        SimRegister::Execute(std::string("set shift ") + device);
        EXPECT_EQ(Attribute(CallWithDocument("GetCurrentStatus", ""), "ShiftState"), host) << device;
        EXPECT_EQ(Attribute(CallWithDocument("ReportCurrentStatusOfSettlements", ""), "ShiftState"), host) << device;
    }
    // Device byte 3 stays 3.
    SimRegister::Execute("fault 0xF2 reply 03 once");
    EXPECT_EQ(Attribute(CallWithDocument("GetCurrentStatus", ""), "ShiftState"), "3");
}

TEST_F(Status, FailedStepsProduceNoDocument) {
    SimRegister::Execute("fault 0x1F status 0x0001 once");
    bool ok = true;
    EXPECT_EQ(CallWithDocument("ReportCurrentStatusOfSettlements", "", &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Sent(), (Codes{CashBalance, ShiftNumbers, ShiftState, Backlog, SettlementReport}));
    SimRegister::Execute("fault 0xE4 reply 00 00 00 once");  // shorter than the backlog needs
    EXPECT_EQ(CallWithDocument("GetCurrentStatus", "", &ok), "");
    EXPECT_FALSE(ok);
    const std::string log = LogText();
    EXPECT_NE(log.find("[Error] ReportCurrentStatusOfSettlements error"), std::string::npos);
    EXPECT_NE(log.find("[Error] GetCurrentStatus error"), std::string::npos);
}

TEST_F(Status, CloseShiftReportAndCounters) {
    SimRegister::Execute(
        "set shift open\nset cash 100.5\n"
        "set counter 1 count 10 amount 1000.10 corrections 2 correction-amount 0.10\n"
        "set counter 3 count 1 amount 12.5");
    bool ok = false;
    const std::string report = CallWithDocument("CloseShift", "", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Sent(), (Codes{ShiftNumbers, ShiftState, Counters, CloseShift, FnState, Backlog, ShiftNumbers, ShiftState,
                             DocumentDate, CashBalance}));
    const std::regex layout(
        "<\\?xml version=\"1.0\"\\?>\n<OutputParameters>\n"
        "\t<Parameters DateTime=\"20\\d\\d-\\d\\d-\\d\\dT\\d\\d:\\d\\d:00\" BacklogDocumentsCounter=\"\\d+\" "
        "BacklogDocumentFirstNumber=\"\\d+\" BacklogDocumentFirstDateTime=\"[-0-9T:]+\" FNError=\"false\" "
        "FNFail=\"false\" FNOverflow=\"false\" ShiftState=\"1\" CashBalance=\"[0-9.]+\">\n"
        "\t\t<CountersOperationType1 CheckCount=\"8\" TotalChecksAmount=\"1000\" CorrectionCheckCount=\"2\" "
        "TotalCorrectionChecksAmount=\"0.10000000000000001\" />\n"
        "\t\t<CountersOperationType2 CheckCount=\"0\" TotalChecksAmount=\"0\" CorrectionCheckCount=\"0\" "
        "TotalCorrectionChecksAmount=\"0\" />\n"
        "\t\t<CountersOperationType3 CheckCount=\"1\" TotalChecksAmount=\"12.5\" CorrectionCheckCount=\"0\" "
        "TotalCorrectionChecksAmount=\"0\" />\n"
        "\t\t<CountersOperationType4 CheckCount=\"0\" TotalChecksAmount=\"0\" CorrectionCheckCount=\"0\" "
        "TotalCorrectionChecksAmount=\"0\" />\n"
        "\t</Parameters>\n</OutputParameters>\n");
    EXPECT_TRUE(std::regex_match(report, layout)) << report;

    // A closed shift is not closed again and the output stays untouched.
    SimRegister::ClearJournal();
    Params p(&memory_, 3);
    EXPECT_TRUE(CallBool("CloseShift", p));
    EXPECT_EQ(p[2].vt, VK_EMPTY);
    EXPECT_EQ(Sent(), (Codes{ShiftNumbers, ShiftState}));
    EXPECT_NE(LogText().find("[Warning] Смена уже была закрыта, не закрывать"), std::string::npos);
}

TEST_F(Status, ShortCounterReplyStopsTheCloseBeforeTheShiftIsClosed) {
    std::string hex;
    for (int i = 0; i < 361 - 9; ++i) hex += "00 ";
    SimRegister::Execute("set shift open\nfault 0xC0 reply " + hex + "once");
    bool ok = true;
    EXPECT_EQ(CallWithDocument("CloseShift", "", &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Sent(), (Codes{ShiftNumbers, ShiftState, Counters}));
    EXPECT_NE(LogText().find("[Error] Ошибка закрытия смены"), std::string::npos);
}

TEST_F(Status, AmountsIgnoreACommaDecimalLocale) {
    const std::u16string locale = U16(
#if defined(_WIN32)
        "Russian_Russia.1251"
#else
        "ru_RU.UTF-8"
#endif
    );
    vk_set_locale(component_, reinterpret_cast<const vk_wchar*>(locale.c_str()));
    SimRegister::Execute("set cash 123.13");
    EXPECT_EQ(Attribute(CallWithDocument("ReportCurrentStatusOfSettlements", ""), "CashBalance"),
              "123.13000000000001");
    EXPECT_EQ(Attribute(CallWithDocument("GetCurrentStatus", ""), "Cachebalance"), "123.13");
    std::setlocale(LC_ALL, "C");
}

}  // namespace
