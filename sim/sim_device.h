// The register: executes one request (command, access code, payload) against its state and
// answers with a status word and the reply data. Everything it prints goes to the printer sink as
// 40-column lines in code page 866. The command table below names each command and its handler;
// the handlers live in one file per family of commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim_cp866.h"
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

// The payload sizes a command accepts; any other size is refused with kBadFormat before the
// handler runs. Commands whose size depends on their content take kAny and check it themselves.
struct PayloadSize {
    size_t min, max;
};
constexpr PayloadSize Exactly(size_t n) { return {n, n}; }
constexpr PayloadSize AtLeast(size_t n) { return {n, SIZE_MAX}; }
constexpr PayloadSize kAny = AtLeast(0);

// The command table: every command the register knows, by code, with the name scripts use, the
// payload size and its handler, a member of Device in the file of its family. It declares the
// handlers and fills the table (sim_device.cpp).
#define VESKLINK_SIM_COMMANDS(X) \
    /* Tables (sim_tables.cpp). */ \
    X(0x04, "read-table", Exactly(2), ReadTable) \
    X(0x05, "write-table", AtLeast(2), WriteTable) \
    X(0x09, "read-record", Exactly(4), ReadRecord) \
    X(0x0A, "write-record", AtLeast(4), WriteRecord) \
    /* Registration and the FN (sim_registration.cpp). */ \
    X(0x1D, "fiscal-registration", kAny, FiscalRegistration) \
    X(0x1E, "close-fn", Exactly(2), CloseFn) \
    X(0xE8, "registration-record", Exactly(1), RegistrationRecord) \
    X(0xE9, "registration-attribute", Exactly(3), RegistrationAttribute) \
    /* Shifts, cash and reports (sim_shift.cpp). */ \
    X(0x1F, "settlement-report", Exactly(2), SettlementReport) \
    X(0x28, "open-drawer", Exactly(1), OpenDrawer) \
    X(0x40, "x-report", Exactly(0), XReport) \
    X(0x41, "close-shift", Exactly(2), CloseShift) \
    X(0x50, "cash-in", Exactly(8), CashIn) \
    X(0x51, "cash-out", Exactly(8), CashOut) \
    X(0xD9, "open-shift", Exactly(2), OpenShift) \
    /* Receipts (sim_receipt.cpp). */ \
    X(0x80, "sale-position", kAny, SalePosition) \
    X(0x81, "purchase-position", kAny, PurchasePosition) \
    X(0x82, "sale-return-position", kAny, SaleReturnPosition) \
    X(0x83, "purchase-return-position", kAny, PurchaseReturnPosition) \
    X(0x85, "close-receipt", kAny, CloseReceipt) \
    X(0x88, "cancel-document", Exactly(0), CancelDocument) \
    X(0x89, "subtotal", Exactly(2), Subtotal) \
    X(0x8C, "print-copy", Exactly(10), PrintCopy) \
    X(0x8D, "open-receipt", Exactly(4), OpenReceipt) \
    X(0xD6, "open-correction", kAny, OpenCorrection) \
    X(0xD8, "write-tag", kAny, WriteTag) \
    /* Text documents (sim_text_document.cpp). */ \
    X(0xDA, "open-text-document", Exactly(2), OpenTextDocument) \
    X(0xDB, "print-line", AtLeast(2), PrintLine) \
    X(0xDE, "print-barcode", kAny, PrintBarcode) \
    X(0xDF, "close-text-document", Exactly(2), CloseTextDocument) \
    /* Queries (sim_queries.cpp). */ \
    X(0x13, "device-test", Exactly(0), DeviceTest) \
    X(0xC0, "counters", Exactly(1), Counters) \
    X(0xD7, "last-error", Exactly(0), LastError) \
    X(0xE0, "fn-state", Exactly(0), FnState) \
    X(0xE1, "fn-serial", Exactly(0), FnSerial) \
    X(0xE2, "device-mode", Exactly(0), DeviceMode) \
    X(0xE4, "backlog", Exactly(0), Backlog) \
    X(0xE5, "document-date", Exactly(4), DocumentDate) \
    X(0xEC, "shift-info", Exactly(0), ShiftInfo) \
    X(0xF1, "printer-flags", Exactly(0), PrinterFlags) \
    X(0xF2, "shift-state", Exactly(0), ShiftState) \
    X(0xF3, "receipt-state", Exactly(0), ReceiptState) \
    X(0xFA, "cash-balance", Exactly(0), CashBalance) \
    X(0xFF, "device-info", Exactly(0), DeviceInfo)

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
        PayloadSize size;
        Reply (Device::*handler)(const Payload&);
    };
    static std::span<const Command> Commands();
    Reply Dispatch(uint8_t command, const Payload& payload);

#define VESKLINK_SIM_HANDLER(code, name, size, handler) Reply handler(const Payload& p);
    VESKLINK_SIM_COMMANDS(VESKLINK_SIM_HANDLER)
#undef VESKLINK_SIM_HANDLER

    // What the handlers share within their families.
    void PrintSlip(std::vector<std::string> lines);
    Reply MoveCash(bool in, const Payload& p);
    Reply AddPosition(uint8_t operation, const Payload& p);
    struct Settlement;  // how a closing receipt is paid
    Reply StartReceipt(OpenDocument document, bool otherwiseValid);
    int64_t PositionsTotal() const;
    Reply SettleReceipt(const Settlement& s);
    void BookReceipt(const Settlement& s);
    std::vector<std::string> ReceiptHeading(const Document& doc) const;
    void AddReceiptTotals(std::vector<std::string>& lines, const Settlement& s) const;

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
    // Prints the fiscal document and answers with these bytes, its number and its fiscal sign.
    Reply FiscalReply(Document& doc, std::vector<std::string> lines, const Payload& before = {});
    std::vector<std::string> Header() const;
    // The header and the titles a document starts with, each centred.
    std::vector<std::string> Titled(std::initializer_list<std::string_view> utf8Titles) const;
    std::string CashierName() const;

    DeviceState state_;
    Printer printer_;
    Clock clock_;
};

// What every command handler of the register shares: the payload reader, the reply writer, the
// two ways a handler answers, and the paper tape's layout (sim_tape.cpp). Internal to the
// register's files.
using Bytes = std::vector<uint8_t>;

// UTF-8 literal to register text.
inline std::string C(std::string_view utf8) { return Cp866FromUtf8(utf8); }

// Reply data under construction.
class Out {
public:
    Out& U8(unsigned v) { return Le(v, 1); }
    Out& Le(uint64_t v, size_t width) {
        for (size_t i = 0; i < width; ++i) data_.push_back(static_cast<uint8_t>(i < 8 ? (v >> (8 * i)) & 0xFF : 0));
        return *this;
    }
    // Text cut to the width or filled up to it.
    Out& Fixed(std::string_view text, size_t width, char fill = '\0') {
        for (size_t i = 0; i < width; ++i) data_.push_back(static_cast<uint8_t>(i < text.size() ? text[i] : fill));
        return *this;
    }
    // Bytes as they are: a date and time, an attribute's value.
    Out& Raw(const auto& bytes) {
        data_.insert(data_.end(), std::begin(bytes), std::end(bytes));
        return *this;
    }
    Bytes Take() { return std::move(data_); }

private:
    Bytes data_;
};

// Payload reader; any read past the end sets the failure flag and yields zeros.
class In {
public:
    explicit In(const Bytes& p) : p_(p) {}
    uint64_t Le(size_t width) {
        uint64_t v = 0;
        const std::string bytes = Span(width);
        for (size_t i = bytes.size(); i-- > 0;) v = v << 8 | static_cast<uint8_t>(bytes[i]);
        return v;
    }
    uint8_t U8() { return static_cast<uint8_t>(Le(1)); }
    std::string Span(size_t n) {
        if (pos_ + n > p_.size()) {
            ok_ = false;
            pos_ = p_.size();
            return {};
        }
        const auto at = p_.begin() + static_cast<std::ptrdiff_t>(pos_);
        pos_ += n;
        return std::string(at, at + static_cast<std::ptrdiff_t>(n));
    }
    // A fixed-width text field; the text ends at its first zero byte.
    std::string Fixed(size_t n) { return UpToZero(Span(n)); }
    // A 16-bit count and that many bytes.
    std::string Counted() { return Span(static_cast<size_t>(Le(2))); }
    size_t Remaining() const { return p_.size() - pos_; }
    bool Ok() const { return ok_; }
    bool Done() const { return ok_ && pos_ == p_.size(); }

private:
    const Bytes& p_;
    size_t pos_ = 0;
    bool ok_ = true;
};

inline Reply Fail(uint16_t code) { return {code, {}, false}; }
inline Reply Ok(Bytes data, bool changed) { return {kOk, std::move(data), changed}; }
inline Reply Ok(Out& data, bool changed) { return Ok(data.Take(), changed); }

// The time of a document of the journal; zeros when there is none.
inline DeviceTime DocumentTime(const DeviceState& s, uint32_t number) {
    DeviceTime time{};
    for (const auto& d : s.journal) {
        if (d.number == number) time = d.time;
    }
    return time;
}

inline std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// INN of a company or a person: 10 or 12 digits.
bool ValidInn(std::string_view inn);

// The paper tape: 40 columns of code page 866. The lines every printed document shares (amounts,
// dates, a label and its value, rules) and the names the register prints for operation types, VAT
// rates, taxation systems and fiscal attributes.
using Lines = std::vector<std::string>;

std::string Money(int64_t hundredths);  // "-12.05"
std::string Quantity(uint64_t thousandths);  // "1.500"
std::string DateText(const DeviceTime& t);  // "07.03.24 09:05"
std::string Center(std::string_view text);
std::string Rule(char c = '-');
// Long text broken into lines of 40, each indented by indent blanks.
void Wrap(Lines& out, std::string_view text, size_t indent = 0);
// A label on the left and a value on the right; on two lines when they do not fit on one.
void Both(Lines& out, std::string_view left, std::string_view right);

std::string OperationName(uint8_t operation);  // 0 sale .. 3 return of purchase
std::string VatName(uint8_t code);  // 1..6
std::string TaxationName(uint8_t bit);  // one bit of the taxation systems
void PrintTags(Lines& out, const std::vector<FiscalTag>& tags, size_t indent);

}  // namespace vesklink::sim
