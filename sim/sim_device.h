// The register: executes one request (command, access code, payload) against its state and
// answers with a status word and the reply data. Everything it prints goes to the printer sink as
// 40-column lines in code page 866.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim_state.h"

namespace vesklink::sim {

// Status words of the replies. 0 is success; every other value has its text for 0xD7.
enum ErrorCode : uint16_t {
    kOk = 0x0000,
    kUnknownCommand = 0x0001,
    kBadFormat = 0x0002,
    kBadAccessCode = 0x0003,
    kBadParameter = 0x0004,
    kNoTable = 0x0005,
    kNotRegistered = 0x0010,
    kAlreadyRegistered = 0x0011,
    kFnClosed = 0x0012,
    kTagNotFound = 0x0013,
    kDocumentNotFound = 0x0014,
    kTaxationNotRegistered = 0x0015,
    kShiftClosed = 0x0020,
    kShiftOpen = 0x0021,
    kShiftExpired = 0x0022,
    kShiftMustBeClosed = 0x0023,
    kNoDocument = 0x0030,
    kNoReceipt = 0x0031,
    kDocumentOpen = 0x0032,
    kWrongPositionType = 0x0033,
    kBadQuantity = 0x0034,
    kEmptyReceipt = 0x0035,
    kPaymentShort = 0x0036,
    kNonCashExceeds = 0x0037,
    kNoCash = 0x0038,
    kBadCorrection = 0x0039,
    kBadAmount = 0x003A,
    kPaperOut = 0x0040,
    kCoverOpen = 0x0041,
    kBadInn = 0x0050,
    kNoTaxation = 0x0051,
    kNoKktNumber = 0x0052,
};

// The text 0xD7 reports for a status word (UTF-8); a status without a text of its own gets
// "Ошибка " and the code in hex.
std::string ErrorTextUtf8(uint16_t code);

constexpr size_t kLineWidth = 40;

struct Reply {
    uint16_t status = 0;
    std::vector<uint8_t> data;
    bool changed = false;  // the state changed and should be saved
};

class Device {
public:
    using Printer = std::function<void(const std::vector<std::string>& lines)>;
    using Clock = std::function<int64_t()>;  // the computer's clock, seconds since the epoch

    explicit Device(DeviceState state);

    Reply Handle(uint8_t command, uint32_t accessCode, const std::vector<uint8_t>& payload);

    DeviceState& State() { return state_; }
    const DeviceState& State() const { return state_; }

    void SetPrinter(Printer printer) { printer_ = std::move(printer); }
    void SetClock(Clock clock) { clock_ = std::move(clock); }
    // The register's clock: the computer's clock plus the state's offset.
    int64_t Now() const;

    // Records a status word as the last error, with its text (or the given UTF-8 text).
    void RecordError(uint16_t code, const std::string& utf8Text = {});

    // Shift state byte of 0xF2: 0 closed, 1 open, 2 open for more than 24 hours.
    uint8_t ShiftStateByte() const;

private:
    Reply Dispatch(uint8_t command, const std::vector<uint8_t>& payload);

    Reply ReadTable(const std::vector<uint8_t>& p);
    Reply WriteTable(const std::vector<uint8_t>& p);
    Reply ReadRecord(const std::vector<uint8_t>& p);
    Reply WriteRecord(const std::vector<uint8_t>& p);
    Reply DeviceTest(const std::vector<uint8_t>& p);
    Reply Register(const std::vector<uint8_t>& p);
    Reply CloseFn(const std::vector<uint8_t>& p);
    Reply SettlementReport(const std::vector<uint8_t>& p);
    Reply OpenDrawer(const std::vector<uint8_t>& p);
    Reply XReport(const std::vector<uint8_t>& p);
    Reply CloseShift(const std::vector<uint8_t>& p);
    Reply CashInOut(bool in, const std::vector<uint8_t>& p);
    Reply AddPosition(uint8_t command, const std::vector<uint8_t>& p);
    Reply CloseReceipt(const std::vector<uint8_t>& p);
    Reply CancelDocument(const std::vector<uint8_t>& p);
    Reply Subtotal(const std::vector<uint8_t>& p);
    Reply PrintCopy(const std::vector<uint8_t>& p);
    Reply OpenReceipt(const std::vector<uint8_t>& p);
    Reply Counters(const std::vector<uint8_t>& p);
    Reply OpenCorrection(const std::vector<uint8_t>& p);
    Reply LastError(const std::vector<uint8_t>& p);
    Reply WriteTag(const std::vector<uint8_t>& p);
    Reply OpenShift(const std::vector<uint8_t>& p);
    Reply OpenTextDocument(const std::vector<uint8_t>& p);
    Reply PrintLine(const std::vector<uint8_t>& p);
    Reply PrintBarcode(const std::vector<uint8_t>& p);
    Reply CloseTextDocument(const std::vector<uint8_t>& p);
    Reply FnState(const std::vector<uint8_t>& p);
    Reply FnSerial(const std::vector<uint8_t>& p);
    Reply DeviceMode(const std::vector<uint8_t>& p);
    Reply Backlog(const std::vector<uint8_t>& p);
    Reply DocumentDate(const std::vector<uint8_t>& p);
    Reply RegistrationRecord(const std::vector<uint8_t>& p);
    Reply RegistrationAttribute(const std::vector<uint8_t>& p);
    Reply ShiftInfo(const std::vector<uint8_t>& p);
    Reply PrinterFlags(const std::vector<uint8_t>& p);
    Reply ShiftState(const std::vector<uint8_t>& p);
    Reply ReceiptState(const std::vector<uint8_t>& p);
    Reply CashBalance(const std::vector<uint8_t>& p);
    Reply DeviceInfo(const std::vector<uint8_t>& p);

    // Common rules; each gives kOk or the status word that refuses the command.
    uint16_t NeedFiscalMode() const;
    uint16_t NeedPrinter() const;
    uint16_t NeedNoDocument() const;
    uint16_t NeedSalesShift() const;

    Document& AddFiscalDocument(uint8_t type, int64_t total);
    void Print(const std::vector<std::string>& lines);
    std::vector<std::string> Header() const;
    std::vector<std::string> FiscalFooter(const Document& doc) const;
    std::string CashierName() const;
    int64_t Subtotal() const;

    DeviceState state_;
    Printer printer_;
    Clock clock_;
};

}  // namespace vesklink::sim
