// Connecting, the device test, the simple device actions and the device's error text, through the
// real library against the simulated register.
#include "support/device_fixture.h"
#include "support/wire.h"

using namespace vktest;
using namespace vktest::wire;

namespace {

class Connection : public DeviceFixture {};

using Codes = std::vector<uint8_t>;

TEST_F(Connection, OpenCancelsNothingWhenNoReceiptIsOpenAndAdjustsBlock20) {
    // A known block 20, so the write-back can be checked byte for byte.
    SimRegister::Execute("fault 0x04 reply 10 11 12 13 14 15 16 17 18 19 1A 1B 1C once");
    Params none(&memory_, 1);
    EXPECT_TRUE(CallBool("Open", none));
    EXPECT_EQ(Sent(), (Codes{ReceiptState, ReadTable, WriteTable}));
    EXPECT_EQ(Hex(PayloadOf(ReadTable)), "14 00");
    EXPECT_EQ(Hex(PayloadOf(WriteTable)), "14 00 01 01 12 13 14 15 16 17 18 19 01 1B 1C");
    EXPECT_NE(LogText().find("[Info] Установка параметров чека"), std::string::npos);
}

TEST_F(Connection, OpenCancelsAHungReceipt) {
    SimRegister::Execute("fault 0xF3 reply 00 01 00 00 once\nfault 0x88 reply once");
    const std::string path = TodayLogPath();
    RemoveFile(path);
    Params none(&memory_, 1);
    EXPECT_TRUE(CallBool("Open", none));
    EXPECT_EQ(Sent(), (Codes{ReceiptState, CancelReceipt, ReadTable, WriteTable}));
    const std::string log = ReadFile(path);
    const size_t a = log.find("[Warning] Попытка отмены чека");
    const size_t b = log.find("[Warning] Чек отменен");
    const size_t c = log.find("[Warning] Отмена зависшего чека");
    ASSERT_NE(a, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_NE(c, std::string::npos);
}

TEST_F(Connection, OpenOnAnOpenPortKeepsItAndRunsTheProceduresAgain) {
    ASSERT_TRUE(Open());
    // A changed port number applies only after Close.
    vk_variant port;
    vk_variant_set_int(&port, 99);
    ASSERT_TRUE(vk_set_prop_val(component_, 0, &port));
    Params none(&memory_, 1);
    EXPECT_TRUE(CallBool("Open", none));
    EXPECT_EQ(Sent(), (Codes{ReceiptState, ReadTable, WriteTable}));
    EXPECT_TRUE(CallBool("Close", none));
    EXPECT_TRUE(CallBool("Close", none));  // closing a closed port is fine
    EXPECT_FALSE(CallBool("Open", none));  // port 99 does not exist
    // The line before the failure names the device and why it could not be opened: Linux says
    // the device is missing, Windows gives its own reason and error number.
    const std::string log = LogText();
#if defined(_WIN32)
    const std::string reason = "[Error] Cannot open COM99 (\\\\.\\COM99): ";
#else
    const std::string reason = "[Error] Cannot open COM99 (/dev/ttyS98): no such device";
#endif
    const size_t at = log.find(reason);
    ASSERT_NE(at, std::string::npos) << log;
    const size_t next = log.find(kLogEol, at) + std::string(kLogEol).size();
    EXPECT_TRUE(log.substr(next, log.find(kLogEol, next) - next).ends_with("] [Error] Open error")) << log;
#if defined(_WIN32)
    EXPECT_NE(log.find(" (error ", at), std::string::npos) << log;
#endif
}

TEST_F(Connection, CommandsOnAClosedPortFailWithoutTraffic) {
    Params two(&memory_, 2);
    EXPECT_FALSE(CallBool("PrintXReport", two));
    Params one(&memory_, 1);
    EXPECT_FALSE(CallBool("OpenCashDrawer", one));
    EXPECT_TRUE(Sent().empty());
}

TEST_F(Connection, DeviceTestLeavesThePortAsItFoundItOnSuccess) {
    Params p(&memory_, 2);
    p.Str(1, "stale");
    EXPECT_TRUE(CallBool("DeviceTest", p));  // port closed before: opened, tested, closed
    EXPECT_EQ(p.Text(0), "Test OK");
    EXPECT_EQ(p[1].vt, VK_PWSTR);
    EXPECT_EQ(p.Text(1), "");
    EXPECT_EQ(Sent(), (Codes{DeviceTest}));
    Params two(&memory_, 2);
    EXPECT_FALSE(CallBool("PrintXReport", two));  // closed again
    EXPECT_EQ(Sent(), (Codes{DeviceTest}));

    ASSERT_TRUE(Open());
    Params again(&memory_, 2);
    EXPECT_TRUE(CallBool("DeviceTest", again));
    EXPECT_TRUE(CallBool("PrintXReport", two));  // still open
}

TEST_F(Connection, FailedDeviceTestDisconnects) {
    ASSERT_TRUE(Open());
    SimRegister::Execute("fault 0x13 status 0x0001 once");
    Params p(&memory_, 2);
    EXPECT_FALSE(CallBool("DeviceTest", p));
    EXPECT_EQ(p.Text(0), "Test not OK");
    EXPECT_NE(LogText().find("[Error] Ошибка теста устройства!"), std::string::npos);
    Params two(&memory_, 2);
    EXPECT_FALSE(CallBool("PrintXReport", two));
    EXPECT_EQ(Sent(), (Codes{DeviceTest}));
}

TEST_F(Connection, SimpleDeviceActions) {
    ASSERT_TRUE(Open());
    Params p(&memory_, 2);
    EXPECT_TRUE(CallBool("PrintXReport", p));
    Params drawer(&memory_, 1);
    EXPECT_TRUE(CallBool("OpenCashDrawer", drawer));
    EXPECT_EQ(Hex(PayloadOf(OpenDrawer)), "00");

    // A copy of document 15; text without digits asks for document 0; an integer is its number.
    SimRegister::Execute("fault 0x8C reply always");
    p.Str(1, "15");
    EXPECT_TRUE(CallBool("PrintCheckCopy", p));
    EXPECT_EQ(Hex(PayloadOf(PrintCopy)), "0F 00 00 00 0F 00 00 00 02 00");
    p.Str(1, "abc");
    EXPECT_TRUE(CallBool("PrintCheckCopy", p));
    EXPECT_EQ(Hex(PayloadOf(PrintCopy)), "00 00 00 00 00 00 00 00 02 00");
    p.Int(1, 258);
    EXPECT_TRUE(CallBool("PrintCheckCopy", p));
    EXPECT_EQ(Hex(PayloadOf(PrintCopy)), "02 01 00 00 02 01 00 00 02 00");
    EXPECT_EQ(Sent(), (Codes{XReport, OpenDrawer, PrintCopy, PrintCopy, PrintCopy}));
}

TEST_F(Connection, DeviceActionFailuresAreLogged) {
    ASSERT_TRUE(Open());
    SimRegister::Execute("fault 0x40 status 0x0010 once\nfault 0x28 status 0x0010 once\nfault 0x8C status 0x0010 once");
    Params p(&memory_, 2);
    p.Str(1, "1");
    EXPECT_FALSE(CallBool("PrintXReport", p));
    EXPECT_FALSE(CallBool("PrintCheckCopy", p));
    Params drawer(&memory_, 1);
    EXPECT_FALSE(CallBool("OpenCashDrawer", drawer));
    const std::string log = LogText();
    for (const char* line : {"[Error] PrintXReport error", "[Error] PrintCheckCopy error", "[Error] OpenCashDrawer error"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(Connection, LastErrorComesFromTheDeviceUnlessTheDriverRecordedOne) {
    ASSERT_TRUE(Open());
    SimRegister::Execute("set error 0x0123 Тестовая ошибка");
    uint32_t code = 0;
    const std::string text = LastError(&code);
    EXPECT_EQ(code, 0x0123u);
    EXPECT_EQ(text.substr(0, std::string("Тестовая ошибка").size()), "Тестовая ошибка");
    // 40 bytes of device text: the space fill is part of it.
    EXPECT_EQ(text.size(), std::string("Тестовая ошибка").size() + 40 - 15);
    EXPECT_EQ(Sent(), (Codes{DeviceError}));

    // A reply shorter than 51 bytes, or none, leaves the previous text and code.
    SimRegister::Execute("fault 0xD7 reply 01 00 41 42 once");
    EXPECT_EQ(LastError(&code), text);
    EXPECT_EQ(code, 0x0123u);

    // A text filled with zero bytes ends at the first of them.
    std::string zeros;
    for (int i = 0; i < 30; ++i) zeros += " 00";
    SimRegister::Execute("fault 0xD7 reply 40 00 8D A5 E2 20 A1 E3 AC A0 A3 A8" + zeros + " once");
    EXPECT_EQ(LastError(&code), "Нет бумаги");
    EXPECT_EQ(code, 0x40u);
}

TEST_F(Connection, RecordedErrorIsAnsweredOnceWithoutAskingTheDevice) {
    SimRegister::Reset(true);  // an unregistered FN
    ASSERT_TRUE(Open());
    bool ok = true;
    CallWithDocument("OpenShift", "", &ok);
    EXPECT_FALSE(ok);
    SimRegister::ClearJournal();
    uint32_t code = 0;
    EXPECT_EQ(LastError(&code), "ФН не зарегтрирован");
    EXPECT_EQ(code, 1u);
    EXPECT_TRUE(Sent().empty());
    LastError(&code);
    EXPECT_EQ(Sent(), (Codes{DeviceError}));
}

}  // namespace
