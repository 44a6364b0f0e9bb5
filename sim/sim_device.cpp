#include "sim_device.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

#include "sim_commands.h"
#include "sim_frame.h"
#include "sim_payload.h"

namespace vesklink::sim {
namespace {

constexpr int64_t kShiftLimitSeconds = 24 * 3600;

// The fiscal sign: a keyed digest of the document, as the FN would compute it.
uint32_t FiscalSign(const std::string& fnSerial, uint32_t number, const DeviceTime& t, int64_t total) {
    uint32_t h = 2166136261u;
    auto mix = [&](uint8_t b) {
        h ^= b;
        h *= 16777619u;
    };
    for (char c : fnSerial) mix(static_cast<uint8_t>(c));
    for (int i = 0; i < 4; ++i) mix(static_cast<uint8_t>(number >> (8 * i)));
    for (uint8_t b : t) mix(b);
    for (int i = 0; i < 8; ++i) mix(static_cast<uint8_t>(static_cast<uint64_t>(total) >> (8 * i)));
    return h ? h : 1;
}

struct ErrorText {
    uint16_t code;
    const char* utf8;
};

constexpr ErrorText kErrorTexts[] = {
    {kOk, "Ошибок нет"},
    {kUnknownCommand, "Неизвестная команда"},
    {kBadFormat, "Неверный формат команды"},
    {kBadAccessCode, "Неверный пароль доступа"},
    {kBadParameter, "Неверное значение параметра"},
    {kNoTable, "Таблица или запись не найдена"},
    {kNotRegistered, "ФН не зарегистрирован"},
    {kAlreadyRegistered, "ФН уже зарегистрирован"},
    {kFnClosed, "Архив ФН закрыт"},
    {kTagNotFound, "Реквизит не найден"},
    {kDocumentNotFound, "Документ не найден"},
    {kTaxationNotRegistered, "СНО не зарегистрирована в ККТ"},
    {kShiftClosed, "Смена не открыта"},
    {kShiftOpen, "Смена уже открыта"},
    {kShiftExpired, "Смена превысила 24 часа"},
    {kShiftMustBeClosed, "Операция невозможна при открытой смене"},
    {kNoDocument, "Документ не открыт"},
    {kNoReceipt, "Чек не открыт"},
    {kDocumentOpen, "Открыт другой документ"},
    {kWrongPositionType, "Тип позиции не совпадает с типом чека"},
    {kBadQuantity, "Неверное количество или цена"},
    {kEmptyReceipt, "В чеке нет позиций"},
    {kPaymentShort, "Сумма оплаты меньше суммы чека"},
    {kNonCashExceeds, "Безналичная оплата больше суммы чека"},
    {kNoCash, "Недостаточно наличных в кассе"},
    {kBadCorrection, "Недопустимая коррекция суммы чека"},
    {kBadAmount, "Неверная сумма"},
    {kPaperOut, "Нет бумаги"},
    {kCoverOpen, "Открыта крышка принтера"},
    {kBadInn, "Некорректный ИНН"},
    {kNoTaxation, "Не задана система налогообложения"},
    {kNoKktNumber, "Не задан регистрационный номер ККТ"},
};

}  // namespace

bool ValidInn(std::string_view inn) {
    return (inn.size() == 10 || inn.size() == 12) &&
           std::all_of(inn.begin(), inn.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string ErrorTextUtf8(uint16_t code) {
    for (const auto& e : kErrorTexts) {
        if (e.code == code) return e.utf8;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "Ошибка 0x%04X", code);
    return buf;
}

// The command table: every command the register knows, by code, with the name scripts use.
std::span<const Device::Command> Device::Commands() {
    static constexpr Command kTable[] = {
        {cmd::kReadTable, "read-table", &Device::ReadTable},
        {cmd::kWriteTable, "write-table", &Device::WriteTable},
        {cmd::kReadRecord, "read-record", &Device::ReadRecord},
        {cmd::kWriteRecord, "write-record", &Device::WriteRecord},
        {cmd::kDeviceTest, "device-test", &Device::DeviceTest},
        {cmd::kFiscalRegistration, "fiscal-registration", &Device::FiscalRegistration},
        {cmd::kCloseFn, "close-fn", &Device::CloseFn},
        {cmd::kSettlementReport, "settlement-report", &Device::SettlementReport},
        {cmd::kOpenDrawer, "open-drawer", &Device::OpenDrawer},
        {cmd::kXReport, "x-report", &Device::XReport},
        {cmd::kCloseShift, "close-shift", &Device::CloseShift},
        {cmd::kCashIn, "cash-in", &Device::CashInOut<true>},
        {cmd::kCashOut, "cash-out", &Device::CashInOut<false>},
        {cmd::kSalePosition, "sale-position", &Device::AddPosition<0>},
        {cmd::kPurchasePosition, "purchase-position", &Device::AddPosition<2>},
        {cmd::kSaleReturnPosition, "sale-return-position", &Device::AddPosition<1>},
        {cmd::kPurchaseReturnPosition, "purchase-return-position", &Device::AddPosition<3>},
        {cmd::kCloseReceipt, "close-receipt", &Device::CloseReceipt},
        {cmd::kCancelDocument, "cancel-document", &Device::CancelDocument},
        {cmd::kSubtotal, "subtotal", &Device::Subtotal},
        {cmd::kPrintCopy, "print-copy", &Device::PrintCopy},
        {cmd::kOpenReceipt, "open-receipt", &Device::OpenReceipt},
        {cmd::kCounters, "counters", &Device::Counters},
        {cmd::kOpenCorrection, "open-correction", &Device::OpenCorrection},
        {cmd::kLastError, "last-error", &Device::LastError},
        {cmd::kWriteTag, "write-tag", &Device::WriteTag},
        {cmd::kOpenShift, "open-shift", &Device::OpenShift},
        {cmd::kOpenTextDocument, "open-text-document", &Device::OpenTextDocument},
        {cmd::kPrintLine, "print-line", &Device::PrintLine},
        {cmd::kPrintBarcode, "print-barcode", &Device::PrintBarcode},
        {cmd::kCloseTextDocument, "close-text-document", &Device::CloseTextDocument},
        {cmd::kFnState, "fn-state", &Device::FnState},
        {cmd::kFnSerial, "fn-serial", &Device::FnSerial},
        {cmd::kDeviceMode, "device-mode", &Device::DeviceMode},
        {cmd::kBacklog, "backlog", &Device::Backlog},
        {cmd::kDocumentDate, "document-date", &Device::DocumentDate},
        {cmd::kRegistrationRecord, "registration-record", &Device::RegistrationRecord},
        {cmd::kRegistrationAttribute, "registration-attribute", &Device::RegistrationAttribute},
        {cmd::kShiftInfo, "shift-info", &Device::ShiftInfo},
        {cmd::kPrinterFlags, "printer-flags", &Device::PrinterFlags},
        {cmd::kShiftState, "shift-state", &Device::ShiftState},
        {cmd::kReceiptState, "receipt-state", &Device::ReceiptState},
        {cmd::kCashBalance, "cash-balance", &Device::CashBalance},
        {cmd::kDeviceInfo, "device-info", &Device::DeviceInfo},
    };
    return kTable;
}

std::optional<uint8_t> Device::CommandNamed(std::string_view name) {
    for (const auto& c : Commands()) {
        if (c.name == name) return c.code;
    }
    return std::nullopt;
}

Reply Device::Dispatch(uint8_t command, const Payload& p) {
    for (const auto& c : Commands()) {
        if (c.code == command) return (this->*c.handler)(p);
    }
    return Fail(kUnknownCommand);
}

Device::Device(DeviceState state) : state_(std::move(state)) {
    clock_ = [] {
        return static_cast<int64_t>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
    };
}

int64_t Device::Now() const { return clock_() + state_.clockOffset; }

void Device::RecordError(uint16_t code, const std::string& utf8Text) {
    state_.lastErrorCode = code;
    state_.lastErrorText = C(utf8Text.empty() ? ErrorTextUtf8(code) : utf8Text);
    if (state_.lastErrorText.size() > kLineWidth) state_.lastErrorText.resize(kLineWidth);
}

uint8_t Device::ShiftStateByte() const {
    if (!state_.shiftOpen) return 0;
    return Now() - state_.shiftOpenedAt >= kShiftLimitSeconds ? 2 : 1;
}

Reply Device::Handle(uint8_t command, uint32_t accessCode, const std::vector<uint8_t>& payload) {
    Reply r = accessCode == kAccessCode ? Dispatch(command, payload) : Fail(kBadAccessCode);
    if (r.status != kOk) {
        RecordError(r.status);
        r.data.clear();
        r.changed = true;
    }
    return r;
}

// ---- rules ----

uint16_t Device::NeedFiscalMode() const {
    if (state_.fnState == 7) return kFnClosed;
    if (!state_.registered) return kNotRegistered;
    return kOk;
}

uint16_t Device::NeedPrinter() const {
    if (state_.coverOpen) return kCoverOpen;
    if (state_.paperOut) return kPaperOut;
    return kOk;
}

uint16_t Device::NeedNoDocument() const {
    return state_.document.kind == DocumentKind::None ? kOk : kDocumentOpen;
}

uint16_t Device::NeedSalesShift() const {
    if (!state_.shiftOpen) return kShiftClosed;
    if (ShiftStateByte() == 2) return kShiftExpired;
    return kOk;
}

uint32_t Device::UnsentDocuments() const {
    return state_.lastDocumentNumber - std::min(state_.lastSentDocument, state_.lastDocumentNumber);
}

// ---- the FN's journal ----

Document& Device::AddFiscalDocument(uint8_t type, int64_t total) {
    Document doc;
    doc.number = ++state_.lastDocumentNumber;
    doc.type = type;
    doc.time = ToDeviceTime(Now());
    doc.fiscalSign = FiscalSign(state_.fnSerial, doc.number, doc.time, total);
    if (state_.ofdOnline) state_.lastSentDocument = doc.number;
    state_.journal.push_back(std::move(doc));
    return state_.journal.back();
}

}  // namespace vesklink::sim
