// The register's cached readings and a whole operation, over its own COM port on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "operations/operations.h"
#include "pty_peer_posix.h"
#include "support/step_clock.h"
#include "support/temp_folder.h"
#include "support/wire.h"
#include "util/text.h"

using namespace vesklink;
using vktest::ReplyFrame;

namespace {

constexpr uint32_t Port = 44;

// A register (with its log in a folder of its own) on a scripted line.
class CashRegisterOnALine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer_.Ok());
        peer_.MapPort(Port);
        ASSERT_FALSE(temp_.Path().empty());
        folder_ = temp_.Path();
        setenv("XDG_DOCUMENTS_DIR", folder_.c_str(), 1);
        logger_ = std::make_unique<Logger>();
        device_ = std::make_unique<CashRegister>(*logger_);
        device_->Link.SetReplyClock(&clock_);
        ASSERT_TRUE(device_->Port.OpenPort(Port, 57600));
    }
    void TearDown() override {
        peer_.Stop();
        device_.reset();
        logger_.reset();
    }
    vktest::TempFolder temp_{"vesklink-queries"};
    vesklink::testing::PtyPeer peer_;
    vktest::StepClock clock_{200};
    std::string folder_;
    std::unique_ptr<Logger> logger_;
    std::unique_ptr<CashRegister> device_;
};

// The register keeps what a shorter reply leaves out: fiscal mode once seen, the last document
// number last read.
TEST_F(CashRegisterOnALine, FiscalModeAndTheLastKnownDocumentOutliveAShorterReply) {
    Bytes full(30, 0);
    full[0] = 3;
    full[26] = 7;
    int call = 0;
    peer_.Start([&](const Bytes&) { return call++ == 0 ? ReplyFrame(0xE0, 0, full) : ReplyFrame(0xE0, 0, {1, 0, 0, 0, 0}); });
    ASSERT_TRUE(device_->QueryFnState());
    ASSERT_TRUE(device_->QueryFnState());
    EXPECT_TRUE(device_->FnFiscalMode);
    EXPECT_EQ(device_->LastDocumentNumber, 7u);
}

// GetDataKKT reads the registration record (0xE8) by its length alone: a register that answers it
// with a non-zero status word but the whole record still has its fields reported.
TEST_F(CashRegisterOnALine, RegistrationRecordIsReadWhateverItsStatusWord) {
    Bytes record(45, 0);  // offsets 8-52: date, KKT number at 25, taxation at 45, document at 48
    record[0] = 24, record[1] = 3, record[2] = 7;
    record[17] = '7';
    record[37] = 0x01;
    record[40] = 42;
    peer_.Start([&](const Bytes& request) {
        switch (request.at(3)) {
            case 0xE2: return ReplyFrame(0xE2, 0, Bytes(5, 0));
            case 0xFF: return ReplyFrame(0xFF, 0, Bytes(70, 0));
            case 0xE1: return ReplyFrame(0xE1, 0, Bytes(16, '1'));
            case 0xE8: return ReplyFrame(0xE8, 0x0033, record);
            default: return ReplyFrame(request.at(3), 0x0001);
        }
    });
    const std::optional<std::u16string> document = GetDataKKT(*device_);
    ASSERT_TRUE(document.has_value());
    const std::string text = Utf16ToUtf8(*document);
    for (const char* field : {"KKTNumber=\"7\"", "DateTime=\"2024-03-07T00:00:00\"", "TaxationSystems=\"0\"",
                              "DocumentNumber=\"42\""})
        EXPECT_NE(text.find(field), std::string::npos) << field << " in " << text;
}

}  // namespace
