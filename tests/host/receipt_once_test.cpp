// A sale is registered once, through the real library: the record of a receipt whose closing went
// unanswered outlives the host process, a record file that is no record is reported and never
// taken for one, and (under Wine) a dead line around the closing is settled by the identical retry.
// The whole table of moments and follow-ups runs in-process with an accelerated clock
// (tests/unit/receipt_link_loss_posix.cpp).
#include <filesystem>
#include <fstream>
#include <string>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "host/receipt_fixture.h"

namespace vktest {
namespace {

const std::string kSale = Sale(Position("Хлеб", "1", "45", "45"), "Cash=\"50\"");

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Fiscal documents on the paper tape (here only receipts): a cancelled receipt has no fiscal sign.
size_t Registered() { return Count(SimRegister::Tape(), "ФП:"); }

class ReceiptOnce : public ReceiptFixture {
protected:
    std::string RecordPath() {
        return (std::filesystem::path(DocumentsFolder()) / "VESKLINK" / ("unsettled-COM" + std::to_string(SimRegister::Port()) + ".xml"))
            .string();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(RecordPath(), ignored);
        ReceiptFixture::TearDown();
    }
    bool Reopen() {
        Params none(&memory_, 1);
        CallBool("Close", none);
        return Open();
    }
    // A receipt the register leaves unsettled at once: the closing's reply is unusable and so is the
    // answer to the question after it; the register still holds the receipt open.
    bool Unsettle() {
        SimRegister::Execute("fault 0x85 reply 00 00 00 00 once\nfault 0xF3 status 0x0001 once");
        return Check(kSale);
    }
};

// Empty, cut short, not XML, another port's record, a folder in its place, a file that cannot be
// opened: each is reported once, the sale goes on as usual, and a retry is never answered from it.
TEST_F(ReceiptOnce, ARecordFileThatIsNoRecordIsReportedOnceAndNeverAnswersARetry) {
    ASSERT_FALSE(Unsettle());
    const std::string genuine = ReadFile(RecordPath());
    ASSERT_NE(genuine.find("<UnsettledReceipt Port=\"" + std::to_string(SimRegister::Port()) + "\""), std::string::npos);
    ASSERT_TRUE(Open());  // settles it: the receipt is cancelled
    ASSERT_FALSE(std::filesystem::exists(RecordPath()));

    std::string otherPort = genuine;
    otherPort.replace(otherPort.find("Port=\"") + 6, std::to_string(SimRegister::Port()).size(), "99");
    struct Case {
        const char* name;
        std::string content;  // written as the record file, unless a folder or a loop stands there
    };
    const Case cases[] = {{"empty", ""}, {"cut short", genuine.substr(0, genuine.size() / 2)},
                          {"not XML", "this is not a record"}, {"another port's", otherPort},
                          {"a folder", ""},
#if !defined(_WIN32)
                          {"cannot be opened", ""},
#endif
    };
    for (const Case& c : cases) {
        const std::string what = c.name;
        std::error_code ignored;
        std::filesystem::remove_all(RecordPath(), ignored);
        if (what == "a folder") {
            std::filesystem::create_directory(RecordPath());
        } else if (what == "cannot be opened") {
            std::filesystem::create_symlink(RecordPath(), RecordPath());  // a loop: opening it fails
        } else {
            std::ofstream(RecordPath(), std::ios::binary) << c.content;
        }
        RemoveFile(TodayLogPath());
        const size_t before = Registered();
        EXPECT_TRUE(Reopen()) << what;
        EXPECT_TRUE(Reopen()) << what;
        std::string output;
        EXPECT_TRUE(Check(kSale, false, &output)) << what << LastError();
        EXPECT_EQ(Registered(), before + 1) << what << ": registered, not answered";
        EXPECT_EQ(output.find("FiscalSign=\"\""), std::string::npos) << what << output;
        const std::string log = LogText();
        EXPECT_EQ(Count(log, "[Warning] Файл "), 1u) << what << log;
        EXPECT_EQ(Count(log, "[Warning] "), what == "a folder" ? 2u : 1u) << what << log;  // and the record not written
    }
}

#if !defined(_WIN32)
// The host process is ended while it waits for the closing reply; a new one opens the port and
// retries the same receipt. Where the register carried the closing out, the retry is answered with
// that receipt; where it did not, the receipt left open is cancelled and the retry registers it.
TEST_F(ReceiptOnce, AHostProcessEndedWhileItWaitsForTheClosingReply) {
    for (const bool executed : {true, false}) {
        const char* where = executed ? "closing carried out" : "closing never arrived";
        SimRegister::Reset();
        SimRegister::Execute("set shift open");
        SimRegister::Execute(executed ? "fault 0x85 lost-reply once" : "fault 0x85 silence once");
        Params none(&memory_, 1);
        CallBool("Close", none);  // the port is the till client's
        const pid_t host = fork();
        ASSERT_GE(host, 0);
        if (host == 0) {
            // The till client: its own component, the closing reply never comes.
            Open();
            Check(kSale);
            _exit(0);
        }
        bool closing = false;
        for (int i = 0; i < 400 && !closing; ++i) {
            for (const Request& r : SimRegister::Journal()) closing = closing || r.command == wire::CloseReceipt;
            if (!closing) usleep(10000);
        }
        kill(host, SIGKILL);
        waitpid(host, nullptr, 0);
        ASSERT_TRUE(closing) << where;
        ASSERT_TRUE(std::filesystem::exists(RecordPath())) << where;
        // It holds the buyer's contacts: its user's alone, as the log is.
        EXPECT_EQ(std::filesystem::status(RecordPath()).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write) << where;

        RemoveFile(TodayLogPath());
        ASSERT_TRUE(Open()) << where;
        std::string output;
        EXPECT_TRUE(Check(kSale, false, &output)) << where << LastError();
        EXPECT_EQ(Registered(), 1u) << where;
        EXPECT_EQ(output.find("FiscalSign=\"\"") != std::string::npos, executed) << where << output;
        EXPECT_NE(LogText().find(executed ? "), зарегистрирован, номер документа " : "), не зарегистрирован и отменен"),
                  std::string::npos) << where << LogText();
        EXPECT_FALSE(std::filesystem::exists(RecordPath())) << where;
    }
}
#else
// Under Wine: the line is dead for the closing (the register carried it out) and the question after
// it; the call answers false, and the identical retry is answered with the registered receipt.
TEST_F(ReceiptOnce, ADeadLineAroundTheClosingAndTheIdenticalRetry) {
    SimRegister::Execute("fault 0x85 dead executed for 1");
    EXPECT_FALSE(Check(kSale));
    EXPECT_NE(LastError().find("чек мог быть зарегистрирован"), std::string::npos);
    std::string output;
    EXPECT_TRUE(Check(kSale, false, &output)) << LastError();
    EXPECT_EQ(Registered(), 1u);
    EXPECT_NE(output.find("FiscalSign=\"\""), std::string::npos) << output;
    EXPECT_NE(LogText().find("[Warning] Повторная отправка чека: ответ из зарегистрированного чека"), std::string::npos);
}
#endif

}  // namespace
}  // namespace vktest
