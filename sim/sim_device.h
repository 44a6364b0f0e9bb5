// The register: executes one request (command, access code, payload) against its state and
// answers with a status word and the reply data. Everything it prints goes to the printer sink as
// 40-column lines in code page 866. The command table (sim_device.cpp) names each command and its
// handler; the handlers live in one file per family of commands.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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

    // The register restarts, as after a loss of power: the document being built (a receipt or a
    // text document) is dropped and no fiscal document is made for it; everything else stays.
    void Restart() { state_.document = {}; }

    // The command code of a command's name in the command table ("close-receipt"), if any.
    static std::optional<uint8_t> CommandNamed(std::string_view name);

private:
    using Payload = std::vector<uint8_t>;
    struct Command {
        uint8_t code;
        std::string_view name;
        Reply (Device::*handler)(const Payload&);
    };
    static std::span<const Command> Commands();
    Reply Dispatch(uint8_t command, const Payload& payload);

    // Tables (sim_tables.cpp).
    Reply ReadTable(const Payload& p);
    Reply WriteTable(const Payload& p);
    Reply ReadRecord(const Payload& p);
    Reply WriteRecord(const Payload& p);

    // Shifts, cash and reports (sim_shift.cpp).
    Reply OpenShift(const Payload& p);
    Reply CloseShift(const Payload& p);
    Reply XReport(const Payload& p);
    Reply SettlementReport(const Payload& p);
    template <bool kIn>
    Reply CashInOut(const Payload& p) { return MoveCash(kIn, p); }
    Reply MoveCash(bool in, const Payload& p);
    Reply OpenDrawer(const Payload& p);

    // Receipts (sim_receipt.cpp).
    Reply OpenReceipt(const Payload& p);
    Reply OpenCorrection(const Payload& p);
    template <uint8_t kOperation>
    Reply AddPosition(const Payload& p) { return AddPositionOf(kOperation, p); }
    Reply AddPositionOf(uint8_t operation, const Payload& p);
    Reply Subtotal(const Payload& p);
    Reply WriteTag(const Payload& p);
    Reply CloseReceipt(const Payload& p);
    Reply CancelDocument(const Payload& p);
    Reply PrintCopy(const Payload& p);
    struct Settlement;  // how a closing receipt is paid
    uint16_t ReceiptOpenRefusal(uint16_t mode, uint8_t operation, uint8_t taxation, bool otherwiseValid) const;
    Reply StartReceipt(OpenDocument document);
    int64_t PositionsTotal() const;
    Reply SettleReceipt(const Settlement& s);
    void BookReceipt(const Settlement& s);
    std::vector<std::string> ReceiptHeading(const Document& doc) const;
    std::vector<std::string> ReceiptTotals(const Settlement& s) const;

    // Text documents (sim_text_document.cpp).
    Reply OpenTextDocument(const Payload& p);
    Reply PrintLine(const Payload& p);
    Reply PrintBarcode(const Payload& p);
    Reply CloseTextDocument(const Payload& p);

    // Registration and the FN (sim_registration.cpp).
    Reply FiscalRegistration(const Payload& p);
    Reply CloseFn(const Payload& p);
    Reply RegistrationRecord(const Payload& p);
    Reply RegistrationAttribute(const Payload& p);

    // Queries (sim_queries.cpp).
    Reply DeviceTest(const Payload& p);
    Reply Counters(const Payload& p);
    Reply LastError(const Payload& p);
    Reply FnState(const Payload& p);
    Reply FnSerial(const Payload& p);
    Reply DeviceMode(const Payload& p);
    Reply Backlog(const Payload& p);
    Reply DocumentDate(const Payload& p);
    Reply ShiftInfo(const Payload& p);
    Reply PrinterFlags(const Payload& p);
    Reply ShiftState(const Payload& p);
    Reply ReceiptState(const Payload& p);
    Reply CashBalance(const Payload& p);
    Reply DeviceInfo(const Payload& p);

    // Common rules; each gives kOk or the status word that refuses the command.
    uint16_t NeedFiscalMode() const;
    uint16_t NeedPrinter() const;
    uint16_t NeedNoDocument() const;
    uint16_t NeedSalesShift() const;
    uint32_t UnsentDocuments() const;

    Document& AddFiscalDocument(uint8_t type, int64_t total);

    // The paper tape (sim_tape.cpp).
    void Print(const std::vector<std::string>& lines);
    // A fiscal document's lines: these, the fiscal footer and the closing rule; kept with the
    // document for copies and printed.
    void PrintFiscal(Document& doc, std::vector<std::string> lines);
    std::vector<std::string> Header() const;
    std::vector<std::string> FiscalFooter(const Document& doc) const;
    std::string CashierName() const;

    DeviceState state_;
    Printer printer_;
    Clock clock_;
};

}  // namespace vesklink::sim
