// A whole day at the till outside receipts, against the simulated register.
#include <regex>

#include "support/device_fixture.h"

using namespace vktest;

namespace {

class Day : public DeviceFixture {};

TEST_F(Day, OpenShiftCashTextReportsStatusAndClose) {
    Params none(&memory_, 1);
    ASSERT_TRUE(CallBool("Open", none));

    bool ok = false;
    const std::string opened = CallWithDocument(
        "OpenShift", "<InputParameters><Parameters CashierName=\"Кассир Смирнова\" CashierINN=\"\" /></InputParameters>",
        &ok);
    ASSERT_TRUE(ok);
    std::smatch shift;
    ASSERT_TRUE(std::regex_search(opened, shift, std::regex("ShiftNumber=\"(\\d+)\" ShiftState=\"2\"")));

    Params cash(&memory_, 3);
    cash.Int(2, 1000);
    ASSERT_TRUE(CallBool("CashInOutcome", cash));

    Params text(&memory_, 2);
    text.Str(1,
             "<Document><Positions><TextString Text=\"Добро пожаловать\" />"
             "<Barcode Type=\"QR\" ValueBase64=\"aHR0cHM6Ly9leGFtcGxlLm9yZw==\" />"
             "<Barcode Type=\"EAN13\" ValueBase64=\"NDYwMDAwMDAwMDAwMw==\" /></Positions></Document>");
    ASSERT_TRUE(CallBool("PrintTextDocument", text));

    Params report(&memory_, 2);
    ASSERT_TRUE(CallBool("PrintXReport", report));

    const std::string status = CallWithDocument("GetCurrentStatus", "", &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(std::regex_match(
        status, std::regex("<\\?xml version=\"1.0\"\\?>\n<OutputParameters>\n\t<Parameters ShiftNumber=\"" +
                           shift[1].str() +
                           "\" ShiftState=\"2\" ShiftClosingCheckNumber=\"\\d+\" CheckNumber=\"\\d+\" "
                           "Cachebalance=\"0\" BacklogDocumentsCounter=\"\\d+\" BacklogDocumentFirstNumber=\"\\d+\" "
                           "BacklogDocumentFirstDateTime=\"[-0-9T:]+\" />\n</OutputParameters>\n")))
        << status;

    const std::string settlements = CallWithDocument("ReportCurrentStatusOfSettlements", "", &ok);
    ASSERT_TRUE(ok);
    EXPECT_NE(settlements.find("CashBalance=\"1000\""), std::string::npos) << settlements;

    const std::string closed = CallWithDocument("CloseShift", "", &ok);
    ASSERT_TRUE(ok);
    EXPECT_NE(closed.find("ShiftState=\"1\" CashBalance=\"1000\">"), std::string::npos) << closed;
    EXPECT_NE(closed.find("<CountersOperationType1 CheckCount=\"0\""), std::string::npos) << closed;
    ASSERT_TRUE(CallBool("Close", none));

    // The paper tape holds every printed document of the day.
    const std::string tape = SimRegister::Tape();
    size_t at = 0;
    for (const char* printed : {"ОТЧЕТ ОБ ОТКРЫТИИ СМЕНЫ", "ВНЕСЕНИЕ", "Добро пожаловать", "QR", "EAN",
                                "X-ОТЧЕТ", "ОТЧЕТ О ТЕКУЩЕМ СОСТОЯНИИ", "ОТЧЕТ О ЗАКРЫТИИ СМЕНЫ"}) {
        const size_t found = tape.find(printed, at);
        EXPECT_NE(found, std::string::npos) << printed << "\n" << tape;
        if (found != std::string::npos) at = found;
    }
}

}  // namespace
