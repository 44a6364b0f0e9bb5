// The register: executes one request (command, access code, payload) against its state and
// answers with a status word and the reply data. Everything it prints goes to the printer sink as
// 40-column lines in code page 866. The command table below names each command and its handler;
// the handlers live in one file per family of commands.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim_state.h"

namespace vesklink::sim {

// Status words of the replies, each with the text 0xD7 reports for it (UTF-8). 0 is success.
#define VESKLINK_SIM_ERRORS(X) \
    X(kOk, 0x0000, "Ошибок нет") \
    X(kUnknownCommand, 0x0001, "Неизвестная команда") \
    X(kBadFormat, 0x0002, "Неверный формат команды") \
    X(kBadAccessCode, 0x0003, "Неверный пароль доступа") \
    X(kBadParameter, 0x0004, "Неверное значение параметра") \
    X(kNoTable, 0x0005, "Таблица или запись не найдена") \
    X(kNotRegistered, 0x0010, "ФН не зарегистрирован") \
    X(kAlreadyRegistered, 0x0011, "ФН уже зарегистрирован") \
    X(kFnClosed, 0x0012, "Архив ФН закрыт") \
    X(kTagNotFound, 0x0013, "Реквизит не найден") \
    X(kDocumentNotFound, 0x0014, "Документ не найден") \
    X(kTaxationNotRegistered, 0x0015, "СНО не зарегистрирована в ККТ") \
    X(kShiftClosed, 0x0020, "Смена не открыта") \
    X(kShiftOpen, 0x0021, "Смена уже открыта") \
    X(kShiftExpired, 0x0022, "Смена превысила 24 часа") \
    X(kShiftMustBeClosed, 0x0023, "Операция невозможна при открытой смене") \
    X(kNoDocument, 0x0030, "Документ не открыт") \
    X(kNoReceipt, 0x0031, "Чек не открыт") \
    X(kDocumentOpen, 0x0032, "Открыт другой документ") \
    X(kWrongPositionType, 0x0033, "Тип позиции не совпадает с типом чека") \
    X(kBadQuantity, 0x0034, "Неверное количество или цена") \
    X(kEmptyReceipt, 0x0035, "В чеке нет позиций") \
    X(kPaymentShort, 0x0036, "Сумма оплаты меньше суммы чека") \
    X(kNonCashExceeds, 0x0037, "Безналичная оплата больше суммы чека") \
    X(kNoCash, 0x0038, "Недостаточно наличных в кассе") \
    X(kBadCorrection, 0x0039, "Недопустимая коррекция суммы чека") \
    X(kBadAmount, 0x003A, "Неверная сумма") \
    X(kPaperOut, 0x0040, "Нет бумаги") \
    X(kCoverOpen, 0x0041, "Открыта крышка принтера") \
    X(kBadInn, 0x0050, "Некорректный ИНН") \
    X(kNoTaxation, 0x0051, "Не задана система налогообложения") \
    X(kNoKktNumber, 0x0052, "Не задан регистрационный номер ККТ")

#define VESKLINK_SIM_ERROR_CODE(name, code, text) name = code,
enum ErrorCode : uint16_t { VESKLINK_SIM_ERRORS(VESKLINK_SIM_ERROR_CODE) };
#undef VESKLINK_SIM_ERROR_CODE

// The text 0xD7 reports for a status word; one without a text of its own gets "Ошибка 0x" and
// the code in hex.
std::string ErrorTextUtf8(uint16_t code);

constexpr size_t kLineWidth = 40;

struct Reply {
    uint16_t status = 0;
    std::vector<uint8_t> data;
    bool changed = false;  // the state changed and should be saved
};

// The command table: every command the register knows, by code, with the name scripts use and
// its handler, a member of Device in the file of its family. It declares the handlers and fills
// the table (sim_device.cpp).
#define VESKLINK_SIM_COMMANDS(X) \
    /* Tables (sim_tables.cpp). */ \
    X(0x04, "read-table", ReadTable) \
    X(0x05, "write-table", WriteTable) \
    X(0x09, "read-record", ReadRecord) \
    X(0x0A, "write-record", WriteRecord) \
    /* Registration and the FN (sim_registration.cpp). */ \
    X(0x1D, "fiscal-registration", FiscalRegistration) \
    X(0x1E, "close-fn", CloseFn) \
    X(0xE8, "registration-record", RegistrationRecord) \
    X(0xE9, "registration-attribute", RegistrationAttribute) \
    /* Shifts, cash and reports (sim_shift.cpp). */ \
    X(0x1F, "settlement-report", SettlementReport) \
    X(0x28, "open-drawer", OpenDrawer) \
    X(0x40, "x-report", XReport) \
    X(0x41, "close-shift", CloseShift) \
    X(0x50, "cash-in", CashIn) \
    X(0x51, "cash-out", CashOut) \
    X(0xD9, "open-shift", OpenShift) \
    /* Receipts (sim_receipt.cpp). */ \
    X(0x80, "sale-position", SalePosition) \
    X(0x81, "purchase-position", PurchasePosition) \
    X(0x82, "sale-return-position", SaleReturnPosition) \
    X(0x83, "purchase-return-position", PurchaseReturnPosition) \
    X(0x85, "close-receipt", CloseReceipt) \
    X(0x88, "cancel-document", CancelDocument) \
    X(0x89, "subtotal", Subtotal) \
    X(0x8C, "print-copy", PrintCopy) \
    X(0x8D, "open-receipt", OpenReceipt) \
    X(0xD6, "open-correction", OpenCorrection) \
    X(0xD8, "write-tag", WriteTag) \
    /* Text documents (sim_text_document.cpp). */ \
    X(0xDA, "open-text-document", OpenTextDocument) \
    X(0xDB, "print-line", PrintLine) \
    X(0xDE, "print-barcode", PrintBarcode) \
    X(0xDF, "close-text-document", CloseTextDocument) \
    /* Queries (sim_queries.cpp). */ \
    X(0x13, "device-test", DeviceTest) \
    X(0xC0, "counters", Counters) \
    X(0xD7, "last-error", LastError) \
    X(0xE0, "fn-state", FnState) \
    X(0xE1, "fn-serial", FnSerial) \
    X(0xE2, "device-mode", DeviceMode) \
    X(0xE4, "backlog", Backlog) \
    X(0xE5, "document-date", DocumentDate) \
    X(0xEC, "shift-info", ShiftInfo) \
    X(0xF1, "printer-flags", PrinterFlags) \
    X(0xF2, "shift-state", ShiftState) \
    X(0xF3, "receipt-state", ReceiptState) \
    X(0xFA, "cash-balance", CashBalance) \
    X(0xFF, "device-info", DeviceInfo)

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

#define VESKLINK_SIM_HANDLER(code, name, handler) Reply handler(const Payload& p);
    VESKLINK_SIM_COMMANDS(VESKLINK_SIM_HANDLER)
#undef VESKLINK_SIM_HANDLER

    // What the handlers share within their families.
    void PrintSlip(std::vector<std::string> lines);
    Reply ShiftReport(Document& doc, std::vector<std::string> lines);
    Reply MoveCash(bool in, const Payload& p);
    Reply AddPosition(uint8_t operation, const Payload& p);
    struct Settlement;  // how a closing receipt is paid
    Reply StartReceipt(OpenDocument document, bool otherwiseValid);
    int64_t PositionsTotal() const;
    Reply SettleReceipt(const Settlement& s);
    void BookReceipt(const Settlement& s);
    std::vector<std::string> ReceiptHeading(const Document& doc) const;
    std::vector<std::string> ReceiptTotals(const Settlement& s) const;

    // Common rules; each gives kOk or the status word that refuses the command. First gives the
    // first refusal of several.
    static uint16_t First(std::initializer_list<uint16_t> refusals);
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
    std::string CashierName() const;

    DeviceState state_;
    Printer printer_;
    Clock clock_;
};

}  // namespace vesklink::sim
