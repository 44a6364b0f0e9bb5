#include "sim_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "sim_cp866.h"
#include "sim_frame.h"

namespace vesklink::sim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int64_t kShiftLimitSeconds = 24 * 3600;

// UTF-8 literal to register text.
std::string C(std::string_view utf8) { return Cp866FromUtf8(utf8); }

// Reply data under construction.
class Out {
public:
    Out& U8(unsigned v) {
        data_.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Out& Le(uint64_t v, size_t width) {
        for (size_t i = 0; i < width; ++i) data_.push_back(static_cast<uint8_t>(i < 8 ? (v >> (8 * i)) & 0xFF : 0));
        return *this;
    }
    // Text cut to the width or filled up to it.
    Out& Fixed(std::string_view text, size_t width, char fill = '\0') {
        for (size_t i = 0; i < width; ++i) data_.push_back(static_cast<uint8_t>(i < text.size() ? text[i] : fill));
        return *this;
    }
    Out& Time(const DeviceTime& t) {
        data_.insert(data_.end(), t.begin(), t.end());
        return *this;
    }
    Out& Raw(std::string_view bytes) {
        data_.insert(data_.end(), bytes.begin(), bytes.end());
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
        if (pos_ + width > p_.size()) {
            ok_ = false;
            pos_ = p_.size();
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < width; ++i) v |= static_cast<uint64_t>(p_[pos_ + i]) << (8 * i);
        pos_ += width;
        return v;
    }
    uint8_t U8() { return static_cast<uint8_t>(Le(1)); }
    std::string Span(size_t n) {
        if (pos_ + n > p_.size()) {
            ok_ = false;
            pos_ = p_.size();
            return {};
        }
        std::string s(p_.begin() + static_cast<std::ptrdiff_t>(pos_), p_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return s;
    }
    // A fixed-width text field; the text ends at its first zero byte.
    std::string Fixed(size_t n) {
        std::string s = Span(n);
        const auto zero = s.find('\0');
        if (zero != std::string::npos) s.resize(zero);
        return s;
    }
    // A 16-bit count and that many bytes.
    std::string Counted() {
        const size_t n = static_cast<size_t>(Le(2));
        return Span(n);
    }
    size_t Remaining() const { return p_.size() - pos_; }
    bool Ok() const { return ok_; }
    bool Done() const { return ok_ && pos_ == p_.size(); }

private:
    const Bytes& p_;
    size_t pos_ = 0;
    bool ok_ = true;
};

Reply Fail(uint16_t code) {
    Reply r;
    r.status = code;
    return r;
}

Reply Ok(Bytes data, bool changed) {
    Reply r;
    r.data = std::move(data);
    r.changed = changed;
    return r;
}

// Printing helpers: every line is at most 40 characters of code page 866.
std::string Money(int64_t v) {
    char buf[32];
    const uint64_t a = v < 0 ? static_cast<uint64_t>(-(v + 1)) + 1 : static_cast<uint64_t>(v);
    std::snprintf(buf, sizeof buf, "%s%llu.%02llu", v < 0 ? "-" : "", static_cast<unsigned long long>(a / 100),
                  static_cast<unsigned long long>(a % 100));
    return buf;
}

std::string Quantity(uint64_t thousandths) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu.%03llu", static_cast<unsigned long long>(thousandths / 1000),
                  static_cast<unsigned long long>(thousandths % 1000));
    return buf;
}

std::string DateText(const DeviceTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u.%02u.%02u %02u:%02u", t[2], t[1], t[0], t[3], t[4]);
    return buf;
}

std::string Center(std::string_view text) {
    if (text.size() >= kLineWidth) return std::string(text.substr(0, kLineWidth));
    return std::string((kLineWidth - text.size()) / 2, ' ') + std::string(text);
}

// Long text broken into lines of 40.
void Wrap(std::vector<std::string>& out, std::string_view text, size_t indent = 0) {
    if (text.empty()) {
        out.emplace_back();
        return;
    }
    const size_t width = kLineWidth - indent;
    for (size_t i = 0; i < text.size(); i += width) {
        out.push_back(std::string(indent, ' ') + std::string(text.substr(i, width)));
    }
}

// A label on the left and a value on the right; on two lines when they do not fit on one.
void Both(std::vector<std::string>& out, std::string_view left, std::string_view right) {
    if (left.size() + right.size() + 1 <= kLineWidth) {
        out.push_back(std::string(left) + std::string(kLineWidth - left.size() - right.size(), ' ') +
                      std::string(right));
        return;
    }
    Wrap(out, left);
    const std::string r(right.substr(0, kLineWidth));
    out.push_back(std::string(kLineWidth - r.size(), ' ') + r);
}

std::string Rule(char c = '-') { return std::string(kLineWidth, c); }

std::string OperationName(uint8_t operation) {
    switch (operation) {
        case 0: return C("ПРИХОД");
        case 1: return C("ВОЗВРАТ ПРИХОДА");
        case 2: return C("РАСХОД");
        default: return C("ВОЗВРАТ РАСХОДА");
    }
}

std::string VatName(uint8_t code) {
    switch (code) {
        case 1: return C("НДС 20%");
        case 2: return C("НДС 10%");
        case 3: return C("НДС 0%");
        case 4: return C("БЕЗ НДС");
        case 5: return C("НДС 20/120");
        case 6: return C("НДС 10/110");
        default: return C("НДС ?");
    }
}

std::string TaxationName(uint8_t bit) {
    switch (bit) {
        case 0x01: return C("ОСН");
        case 0x02: return C("УСН ДОХОД");
        case 0x04: return C("УСН ДОХОД-РАСХОД");
        case 0x08: return C("ЕНВД");
        case 0x10: return C("ЕСХН");
        case 0x20: return C("ПСН");
        default: return "?";
    }
}

std::string TagName(uint16_t tag) {
    switch (tag) {
        case 1005: return C("АДР. ОПЕР. ПЕРЕВОДА");
        case 1008: return C("ПОКУПАТЕЛЬ");
        case 1016: return C("ИНН ОПЕР. ПЕРЕВОДА");
        case 1026: return C("ОПЕРАТОР ПЕРЕВОДА");
        case 1044: return C("ОПЕРАЦИЯ АГЕНТА");
        case 1073: return C("ТЕЛ. АГЕНТА");
        case 1074: return C("ТЕЛ. ОПЕР. ПО ПРИЕМУ");
        case 1075: return C("ТЕЛ. ОПЕР. ПЕРЕВОДА");
        case 1171: return C("ТЕЛ. ПОСТАВЩИКА");
        case 1225: return C("ПОСТАВЩИК");
        case 1226: return C("ИНН ПОСТАВЩИКА");
        default: return C("РЕКВИЗИТ ") + std::to_string(tag);
    }
}

void PrintTags(std::vector<std::string>& out, const std::vector<FiscalTag>& tags, size_t indent) {
    for (const auto& t : tags) Wrap(out, TagName(t.tag) + ": " + t.value, indent);
}

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

bool DigitsOnly(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// INN of a company or a person: 10 or 12 digits.
bool ValidInn(std::string_view inn) { return (inn.size() == 10 || inn.size() == 12) && DigitsOnly(inn); }

size_t CommandIndexOfOperation(uint8_t command) {
    switch (command) {
        case 0x80: return 0;
        case 0x82: return 1;
        case 0x81: return 2;
        default: return 3;
    }
}

}  // namespace

std::string ErrorTextUtf8(uint16_t code) {
    switch (code) {
        case kOk: return "Ошибок нет";
        case kUnknownCommand: return "Неизвестная команда";
        case kBadFormat: return "Неверный формат команды";
        case kBadAccessCode: return "Неверный пароль доступа";
        case kBadParameter: return "Неверное значение параметра";
        case kNoTable: return "Таблица или запись не найдена";
        case kNotRegistered: return "ФН не зарегистрирован";
        case kAlreadyRegistered: return "ФН уже зарегистрирован";
        case kFnClosed: return "Архив ФН закрыт";
        case kTagNotFound: return "Реквизит не найден";
        case kDocumentNotFound: return "Документ не найден";
        case kTaxationNotRegistered: return "СНО не зарегистрирована в ККТ";
        case kShiftClosed: return "Смена не открыта";
        case kShiftOpen: return "Смена уже открыта";
        case kShiftExpired: return "Смена превысила 24 часа";
        case kShiftMustBeClosed: return "Операция невозможна при открытой смене";
        case kNoDocument: return "Документ не открыт";
        case kNoReceipt: return "Чек не открыт";
        case kDocumentOpen: return "Открыт другой документ";
        case kWrongPositionType: return "Тип позиции не совпадает с типом чека";
        case kBadQuantity: return "Неверное количество или цена";
        case kEmptyReceipt: return "В чеке нет позиций";
        case kPaymentShort: return "Сумма оплаты меньше суммы чека";
        case kNonCashExceeds: return "Безналичная оплата больше суммы чека";
        case kNoCash: return "Недостаточно наличных в кассе";
        case kBadCorrection: return "Недопустимая коррекция суммы чека";
        case kBadAmount: return "Неверная сумма";
        case kPaperOut: return "Нет бумаги";
        case kCoverOpen: return "Открыта крышка принтера";
        case kBadInn: return "Некорректный ИНН";
        case kNoTaxation: return "Не задана система налогообложения";
        case kNoKktNumber: return "Не задан регистрационный номер ККТ";
        default: {
            char buf[32];
            std::snprintf(buf, sizeof buf, "Ошибка 0x%04X", code);
            return buf;
        }
    }
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

Reply Device::Dispatch(uint8_t command, const std::vector<uint8_t>& p) {
    switch (command) {
        case 0x04: return ReadTable(p);
        case 0x05: return WriteTable(p);
        case 0x09: return ReadRecord(p);
        case 0x0A: return WriteRecord(p);
        case 0x13: return DeviceTest(p);
        case 0x1D: return Register(p);
        case 0x1E: return CloseFn(p);
        case 0x1F: return SettlementReport(p);
        case 0x28: return OpenDrawer(p);
        case 0x40: return XReport(p);
        case 0x41: return CloseShift(p);
        case 0x50: return CashInOut(true, p);
        case 0x51: return CashInOut(false, p);
        case 0x80:
        case 0x81:
        case 0x82:
        case 0x83: return AddPosition(command, p);
        case 0x85: return CloseReceipt(p);
        case 0x88: return CancelDocument(p);
        case 0x89: return Subtotal(p);
        case 0x8C: return PrintCopy(p);
        case 0x8D: return OpenReceipt(p);
        case 0xC0: return Counters(p);
        case 0xD6: return OpenCorrection(p);
        case 0xD7: return LastError(p);
        case 0xD8: return WriteTag(p);
        case 0xD9: return OpenShift(p);
        case 0xDA: return OpenTextDocument(p);
        case 0xDB: return PrintLine(p);
        case 0xDE: return PrintBarcode(p);
        case 0xDF: return CloseTextDocument(p);
        case 0xE0: return FnState(p);
        case 0xE1: return FnSerial(p);
        case 0xE2: return DeviceMode(p);
        case 0xE4: return Backlog(p);
        case 0xE5: return DocumentDate(p);
        case 0xE8: return RegistrationRecord(p);
        case 0xE9: return RegistrationAttribute(p);
        case 0xEC: return ShiftInfo(p);
        case 0xF1: return PrinterFlags(p);
        case 0xF2: return ShiftState(p);
        case 0xF3: return ReceiptState(p);
        case 0xFA: return CashBalance(p);
        case 0xFF: return DeviceInfo(p);
        default: return Fail(kUnknownCommand);
    }
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

// ---- printing and the journal ----

void Device::Print(const std::vector<std::string>& lines) {
    if (printer_) printer_(lines);
}

std::string Device::CashierName() const {
    std::string name(state_.cashier.begin() + 3, state_.cashier.begin() + 67);
    const auto zero = name.find('\0');
    if (zero != std::string::npos) name.resize(zero);
    return name;
}

std::vector<std::string> Device::Header() const {
    std::vector<std::string> out;
    const auto& attrs = state_.registration.attributes;
    for (uint16_t tag : {1048, 1009}) {
        const auto it = attrs.find(tag);
        if (it != attrs.end() && !it->second.empty()) {
            std::vector<std::string> wrapped;
            Wrap(wrapped, it->second);
            for (auto& l : wrapped) out.push_back(Center(TrimRight(l)));
        }
    }
    return out;
}

std::vector<std::string> Device::FiscalFooter(const Document& doc) const {
    std::vector<std::string> out;
    const auto& r = state_.registration;
    Both(out, C("РН ККТ:"), r.kktNumber);
    Both(out, C("ЗН ККТ:"), state_.kktSerial);
    Both(out, C("ФН:"), state_.fnSerial);
    Both(out, C("ИНН:"), r.inn);
    Both(out, C("ФД:") + std::to_string(doc.number), C("ФП:") + std::to_string(doc.fiscalSign));
    Both(out, "", DateText(doc.time));
    return out;
}

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

int64_t Device::Subtotal() const {
    int64_t sum = 0;
    for (const auto& p : state_.document.positions) sum += p.amount;
    return sum;
}

// ---- tables ----

Reply Device::ReadTable(const Bytes& p) {
    In in(p);
    const auto table = in.Le(2);
    if (!in.Done()) return Fail(kBadFormat);
    if (table != 20) return Fail(kNoTable);
    return Ok(Bytes(state_.receiptSettings.begin(), state_.receiptSettings.end()), false);
}

Reply Device::WriteTable(const Bytes& p) {
    In in(p);
    const auto table = in.Le(2);
    if (p.size() < 2) return Fail(kBadFormat);
    if (table != 20) return Fail(kNoTable);
    if (p.size() != 2 + state_.receiptSettings.size()) return Fail(kBadFormat);
    std::copy(p.begin() + 2, p.end(), state_.receiptSettings.begin());
    return Ok({}, true);
}

Reply Device::ReadRecord(const Bytes& p) {
    In in(p);
    const auto table = in.Le(2);
    const auto record = in.Le(2);
    if (!in.Done()) return Fail(kBadFormat);
    if (table != 320 || record != 1) return Fail(kNoTable);
    return Ok(Bytes(state_.cashier.begin(), state_.cashier.end()), false);
}

Reply Device::WriteRecord(const Bytes& p) {
    In in(p);
    const auto table = in.Le(2);
    const auto record = in.Le(2);
    if (!in.Ok()) return Fail(kBadFormat);
    if (table != 320 || record != 1) return Fail(kNoTable);
    if (p.size() != 4 + state_.cashier.size()) return Fail(kBadFormat);
    std::string inn(p.begin() + 4 + 67, p.begin() + 4 + 79);
    const auto zero = inn.find('\0');
    if (zero != std::string::npos) inn.resize(zero);
    inn = TrimRight(inn);
    if (!inn.empty() && !ValidInn(inn)) return Fail(kBadInn);
    std::copy(p.begin() + 4, p.end(), state_.cashier.begin());
    return Ok({}, true);
}

// ---- device actions ----

Reply Device::DeviceTest(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    return Ok(Out().U8(0).Take(), false);
}

Reply Device::OpenDrawer(const Bytes& p) {
    if (p.size() != 1) return Fail(kBadFormat);
    ++state_.drawerOpenings;
    return Ok({}, true);
}

Reply Device::XReport(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    if (auto e = NeedNoDocument()) return Fail(e);
    if (auto e = NeedPrinter()) return Fail(e);
    std::vector<std::string> out = Header();
    out.push_back(Center(C("X-ОТЧЕТ")));
    Both(out, C("СМЕНА №"), std::to_string(state_.shiftNumber));
    const uint8_t shift = ShiftStateByte();
    Both(out, C("СОСТОЯНИЕ СМЕНЫ"), shift == 0 ? C("ЗАКРЫТА") : shift == 1 ? C("ОТКРЫТА") : C("ИСТЕКЛА"));
    Both(out, C("ЧЕКОВ ЗА СМЕНУ"), std::to_string(state_.shiftReceiptNumber));
    for (size_t k = 0; k < 4; ++k) {
        const auto& c = state_.shiftCounters[k];
        Both(out, OperationName(static_cast<uint8_t>(k)) + " (" + std::to_string(c.count) + ")",
             "=" + Money(static_cast<int64_t>(c.amount)));
    }
    Both(out, C("ВНЕСЕНИЙ"), "=" + Money(static_cast<int64_t>(state_.shiftCashIn)));
    Both(out, C("ВЫПЛАТ"), "=" + Money(static_cast<int64_t>(state_.shiftCashOut)));
    Both(out, C("НАЛИЧНЫХ В КАССЕ"), "=" + Money(state_.cash));
    Both(out, C("КАССИР"), CashierName());
    Both(out, "", DateText(ToDeviceTime(Now())));
    out.push_back(Rule('='));
    Print(out);
    return Ok({}, false);
}

Reply Device::CashInOut(bool in, const Bytes& p) {
    In reader(p);
    const auto amount = reader.Le(8);
    if (!reader.Done()) return Fail(kBadFormat);
    if (auto e = NeedFiscalMode()) return Fail(e);
    if (auto e = NeedNoDocument()) return Fail(e);
    if (auto e = NeedSalesShift()) return Fail(e);
    if (auto e = NeedPrinter()) return Fail(e);
    if (amount == 0 || amount > 100000000000ull) return Fail(kBadAmount);
    const auto value = static_cast<int64_t>(amount);
    if (!in && value > state_.cash) return Fail(kNoCash);
    state_.cash += in ? value : -value;
    (in ? state_.shiftCashIn : state_.shiftCashOut) += amount;
    ++state_.shiftCashOperations;
    std::vector<std::string> out = Header();
    out.push_back(Center(in ? C("ВНЕСЕНИЕ") : C("ВЫПЛАТА")));
    Both(out, C("СМЕНА №"), std::to_string(state_.shiftNumber));
    Both(out, C("СУММА"), "=" + Money(value));
    Both(out, C("НАЛИЧНЫХ В КАССЕ"), "=" + Money(state_.cash));
    Both(out, C("КАССИР"), CashierName());
    Both(out, "", DateText(ToDeviceTime(Now())));
    out.push_back(Rule('='));
    Print(out);
    return Ok(Out().Le(static_cast<uint64_t>(state_.cash), 8).Take(), true);
}

// ---- shifts ----

Reply Device::OpenShift(const Bytes& p) {
    if (p.size() != 2) return Fail(kBadFormat);
    if (auto e = NeedFiscalMode()) return Fail(e);
    if (auto e = NeedNoDocument()) return Fail(e);
    if (state_.shiftOpen) return Fail(ShiftStateByte() == 2 ? kShiftExpired : kShiftOpen);
    if (auto e = NeedPrinter()) return Fail(e);
    state_.shiftOpen = true;
    ++state_.shiftNumber;
    state_.shiftOpenedAt = Now();
    state_.shiftReceiptNumber = 0;
    state_.shiftCounters = {};
    state_.shiftCashIn = state_.shiftCashOut = 0;
    state_.shiftCashOperations = 0;
    Document& doc = AddFiscalDocument(kDocShiftOpen, state_.shiftNumber);
    std::vector<std::string> lines = Header();
    lines.push_back(Center(C("ОТЧЕТ ОБ ОТКРЫТИИ СМЕНЫ")));
    Both(lines, C("СМЕНА №"), std::to_string(state_.shiftNumber));
    Both(lines, C("КАССИР"), CashierName());
    for (auto& l : FiscalFooter(doc)) lines.push_back(l);
    lines.push_back(Rule('='));
    doc.lines = lines;
    Print(lines);
    return Ok(Out()
                  .Le(state_.shiftNumber, 2)
                  .Le(doc.number, 4)
                  .Le(doc.fiscalSign, 4)
                  .Take(),
              true);
}

Reply Device::CloseShift(const Bytes& p) {
    if (p.size() != 2) return Fail(kBadFormat);
    if (auto e = NeedFiscalMode()) return Fail(e);
    if (auto e = NeedNoDocument()) return Fail(e);
    if (!state_.shiftOpen) return Fail(kShiftClosed);
    if (auto e = NeedPrinter()) return Fail(e);
    state_.shiftOpen = false;
    Document& doc = AddFiscalDocument(kDocShiftClose, state_.shiftNumber);
    std::vector<std::string> lines = Header();
    lines.push_back(Center(C("ОТЧЕТ О ЗАКРЫТИИ СМЕНЫ")));
    Both(lines, C("СМЕНА №"), std::to_string(state_.shiftNumber));
    Both(lines, C("ЧЕКОВ ЗА СМЕНУ"), std::to_string(state_.shiftReceiptNumber));
    for (size_t k = 0; k < 4; ++k) {
        const auto& c = state_.shiftCounters[k];
        Both(lines, OperationName(static_cast<uint8_t>(k)) + " (" + std::to_string(c.count) + ")",
             "=" + Money(static_cast<int64_t>(c.amount)));
        if (c.correctionCount) {
            Both(lines, C("  КОРРЕКЦИЙ (") + std::to_string(c.correctionCount) + ")",
                 "=" + Money(static_cast<int64_t>(c.correctionAmount)));
        }
    }
    Both(lines, C("НАЛИЧНЫХ В КАССЕ"), "=" + Money(state_.cash));
    const uint32_t unsent = state_.lastDocumentNumber - std::min(state_.lastSentDocument, state_.lastDocumentNumber);
    Both(lines, C("НЕПЕРЕДАННЫХ ФД"), std::to_string(unsent));
    Both(lines, C("КАССИР"), CashierName());
    for (auto& l : FiscalFooter(doc)) lines.push_back(l);
    lines.push_back(Rule('='));
    doc.lines = lines;
    Print(lines);
    return Ok(Out().Le(state_.shiftNumber, 2).Le(doc.number, 4).Le(doc.fiscalSign, 4).Take(), true);
}

Reply Device::SettlementReport(const Bytes& p) {
    if (p.size() != 2) return Fail(kBadFormat);
    if (auto e = NeedFiscalMode()) return Fail(e);
    if (auto e = NeedNoDocument()) return Fail(e);
    if (auto e = NeedPrinter()) return Fail(e);
    const uint32_t unsent = state_.lastDocumentNumber - std::min(state_.lastSentDocument, state_.lastDocumentNumber);
    const uint32_t firstUnsent = state_.lastSentDocument + 1;
    DeviceTime firstTime{};
    for (const auto& d : state_.journal) {
        if (unsent && d.number == firstUnsent) firstTime = d.time;
    }
    Document& doc = AddFiscalDocument(kDocSettlementReport, state_.cash);
    std::vector<std::string> lines = Header();
    lines.push_back(Center(C("ОТЧЕТ О ТЕКУЩЕМ СОСТОЯНИИ")));
    lines.push_back(Center(C("РАСЧЕТОВ")));
    Both(lines, C("НЕПЕРЕДАННЫХ ФД"), std::to_string(unsent));
    if (unsent) Both(lines, C("ПЕРВЫЙ НЕПЕРЕДАННЫЙ"), DateText(firstTime));
    Both(lines, C("НАЛИЧНЫХ В КАССЕ"), "=" + Money(state_.cash));
    for (auto& l : FiscalFooter(doc)) lines.push_back(l);
    lines.push_back(Rule('='));
    doc.lines = lines;
    Print(lines);
    return Ok(Out().Le(doc.number, 4).Le(doc.fiscalSign, 4).Take(), true);
}

// ---- registration and the FN ----

Reply Device::Register(const Bytes& p) {
    In in(p);
    in.Le(2);
    in.U8();
    const uint8_t operation = in.U8();
    const uint8_t reason = in.U8();
    const std::string address = in.Counted();
    const std::string location = in.Counted();
    const std::string company = in.Counted();
    const std::string inn = TrimRight(in.Fixed(12));
    const std::string kktNumber = TrimRight(in.Fixed(16));
    const std::string cashier = in.Counted();
    const uint8_t encrypted = in.U8();
    const uint8_t offline = in.U8();
    const std::string fnsUrl = in.Counted();
    const std::string ofd = in.Counted();
    const std::string ofdInn = TrimRight(in.Fixed(12));
    const std::string senderEmail = in.Counted();
    const uint8_t automatic = in.U8();
    const std::string automatNumber = in.Fixed(20);
    uint8_t flags[7];
    for (auto& f : flags) f = in.U8();  // service, BSO, online only, automatic printer, excise, gambling, lottery
    uint8_t agentTypes = 0, taxation = 0;
    for (int i = 0; i < 7; ++i) agentTypes |= static_cast<uint8_t>(in.U8() ? (1u << i) : 0u);
    for (int i = 0; i < 6; ++i) taxation |= static_cast<uint8_t>(in.U8() ? (1u << i) : 0u);
    if (!in.Done()) return Fail(kBadFormat);
    if (operation != 0 && operation != 2) return Fail(kBadParameter);
    if (state_.fnState == 7) return Fail(kFnClosed);
    if (operation == 0 && state_.registered) return Fail(kAlreadyRegistered);
    if (operation == 2 && !state_.registered) return Fail(kNotRegistered);
    if (auto e = NeedNoDocument()) return Fail(e);
    if (state_.shiftOpen) return Fail(kShiftMustBeClosed);
    if (!ValidInn(inn)) return Fail(kBadInn);
    if (kktNumber.empty()) return Fail(kNoKktNumber);
    if (taxation == 0) return Fail(kNoTaxation);
    if (auto e = NeedPrinter()) return Fail(e);

    state_.registered = true;
    state_.fnState = 3;
    if (state_.modeByte == 0) state_.modeByte = 1;
    Registration r;
    r.time = ToDeviceTime(Now());
    r.kktNumber = kktNumber;
    r.inn = inn;
    r.taxation = taxation;
    r.agentTypes = agentTypes;
    r.reason = operation == 0 ? 1 : reason;
    r.operatingModes = static_cast<uint8_t>((encrypted ? 0x01 : 0) | (offline ? 0x02 : 0) | (automatic ? 0x04 : 0) |
                                            (flags[0] ? 0x08 : 0) | (flags[1] ? 0x10 : 0) | (flags[2] ? 0x20 : 0));
    auto flag = [&](uint16_t tag, uint8_t v) { r.attributes[tag] = std::string(1, v ? '\x01' : '\x00'); };
    r.attributes[1009] = address;
    r.attributes[1187] = location;
    r.attributes[1048] = company;
    r.attributes[1018] = inn;
    r.attributes[1037] = kktNumber;
    r.attributes[1046] = ofd;
    r.attributes[1017] = ofdInn;
    r.attributes[1060] = fnsUrl;
    r.attributes[1117] = senderEmail;
    r.attributes[1036] = automatNumber;
    flag(1056, encrypted);
    flag(1002, offline);
    flag(1001, automatic);
    flag(1109, flags[0]);
    flag(1110, flags[1]);
    flag(1108, flags[2]);
    flag(1221, flags[3]);
    flag(1207, flags[4]);
    flag(1193, flags[5]);
    flag(1126, flags[6]);
    r.attributes[1057] = std::string(1, static_cast<char>(agentTypes));
    r.attributes[1062] = std::string(1, static_cast<char>(taxation));
    r.attributes[1209] = std::string(1, static_cast<char>(state_.ffdCode));
    state_.registration = std::move(r);

    Document& doc = AddFiscalDocument(operation == 0 ? kDocRegistration : kDocReregistration, taxation);
    state_.registration.documentNumber = doc.number;
    std::vector<std::string> lines = Header();
    if (operation == 0) {
        lines.push_back(Center(C("ОТЧЕТ О РЕГИСТРАЦИИ")));
    } else {
        lines.push_back(Center(C("ОТЧЕТ ОБ ИЗМЕНЕНИИ ПАРАМЕТРОВ")));
        lines.push_back(Center(C("РЕГИСТРАЦИИ")));
        Both(lines, C("ПРИЧИНА"), std::to_string(reason));
    }
    std::string systems;
    for (int i = 0; i < 6; ++i) {
        if (taxation & (1 << i)) systems += (systems.empty() ? "" : ",") + TaxationName(static_cast<uint8_t>(1 << i));
    }
    Wrap(lines, C("СНО: ") + systems);
    Wrap(lines, C("ОФД: ") + ofd);
    Both(lines, C("ИНН ОФД:"), ofdInn);
    Wrap(lines, C("САЙТ ФНС: ") + fnsUrl);
    if (!cashier.empty()) Both(lines, C("КАССИР"), cashier);
    for (auto& l : FiscalFooter(doc)) lines.push_back(l);
    lines.push_back(Rule('='));
    doc.lines = lines;
    Print(lines);
    return Ok(Out().Le(doc.number, 4).Le(doc.fiscalSign, 4).Take(), true);
}

Reply Device::CloseFn(const Bytes& p) {
    if (p.size() != 2) return Fail(kBadFormat);
    if (auto e = NeedFiscalMode()) return Fail(e);
    if (auto e = NeedNoDocument()) return Fail(e);
    if (state_.shiftOpen) return Fail(kShiftMustBeClosed);
    if (auto e = NeedPrinter()) return Fail(e);
    Document& doc = AddFiscalDocument(kDocFnClose, 0);
    state_.fnState = 7;
    std::vector<std::string> lines = Header();
    lines.push_back(Center(C("ОТЧЕТ О ЗАКРЫТИИ ФН")));
    for (auto& l : FiscalFooter(doc)) lines.push_back(l);
    lines.push_back(Rule('='));
    doc.lines = lines;
    Print(lines);
    return Ok(Out().Le(doc.number, 4).Le(doc.fiscalSign, 4).Take(), true);
}

// ---- receipts ----

Reply Device::OpenReceipt(const Bytes& p) {
    In in(p);
    const auto mode = static_cast<uint16_t>(in.Le(2));
    const uint8_t operation = in.U8();
    const uint8_t taxation = in.U8();
    if (!in.Done()) return Fail(kBadFormat);
    if (auto e = NeedFiscalMode()) return Fail(e);
    if (auto e = NeedSalesShift()) return Fail(e);
    if (auto e = NeedNoDocument()) return Fail(e);
    if ((mode != 4 && mode != 6) || operation > 3) return Fail(kBadParameter);
    if (taxation == 0 || (taxation & (taxation - 1)) != 0 || taxation > 0x20) return Fail(kBadParameter);
    if ((state_.registration.taxation & taxation) == 0) return Fail(kTaxationNotRegistered);
    OpenDocument d;
    d.kind = DocumentKind::Receipt;
    d.mode = mode;
    d.operation = operation;
    d.taxation = taxation;
    state_.document = std::move(d);
    return Ok(Out().Le(state_.shiftNumber, 2).Le(state_.shiftReceiptNumber + 1u, 2).Take(), true);
}

Reply Device::OpenCorrection(const Bytes& p) {
    In in(p);
    const auto mode = static_cast<uint16_t>(in.Le(2));
    const uint8_t operation = in.U8();
    const uint8_t taxation = in.U8();
    const uint8_t type = in.U8();
    const std::string description = in.Counted();
    if (!in.Ok()) return Fail(kBadFormat);
    // The date of the correction is optional: the number follows the description directly when
    // the date is left out.
    const Bytes rest(p.end() - static_cast<std::ptrdiff_t>(in.Remaining()), p.end());
    bool hasDate = false;
    std::array<uint8_t, 3> date{};
    std::string number;
    if (rest.size() >= 5 && static_cast<size_t>(rest[3] | (rest[4] << 8)) + 5 == rest.size() && rest[1] >= 1 &&
        rest[1] <= 12 && rest[2] >= 1 && rest[2] <= 31) {
        hasDate = true;
        date = {rest[0], rest[1], rest[2]};
        number.assign(rest.begin() + 5, rest.end());
    } else if (rest.size() >= 2 && static_cast<size_t>(rest[0] | (rest[1] << 8)) + 2 == rest.size()) {
        number.assign(rest.begin() + 2, rest.end());
    } else {
        return Fail(kBadFormat);
    }
    if (auto e = NeedFiscalMode()) return Fail(e);
    if (auto e = NeedSalesShift()) return Fail(e);
    if (auto e = NeedNoDocument()) return Fail(e);
    if ((mode != 4 && mode != 6) || operation > 3 || type > 1) return Fail(kBadParameter);
    if (taxation == 0 || (taxation & (taxation - 1)) != 0 || taxation > 0x20) return Fail(kBadParameter);
    if ((state_.registration.taxation & taxation) == 0) return Fail(kTaxationNotRegistered);
    OpenDocument d;
    d.kind = DocumentKind::Correction;
    d.mode = mode;
    d.operation = operation;
    d.taxation = taxation;
    d.correctionType = type;
    d.correctionDescription = description;
    d.correctionHasDate = hasDate;
    d.correctionDate = date;
    d.correctionNumber = number;
    state_.document = std::move(d);
    return Ok(Out().Le(state_.shiftNumber, 2).Le(state_.shiftReceiptNumber + 1u, 2).Take(), true);
}

Reply Device::AddPosition(uint8_t command, const Bytes& p) {
    auto& d = state_.document;
    if (d.kind != DocumentKind::Receipt && d.kind != DocumentKind::Correction) return Fail(kNoReceipt);
    In in(p);
    Position pos;
    pos.flags = in.U8();
    in.U8();
    pos.paymentMethod = in.U8();
    pos.subject = in.U8();
    pos.country = in.Span(3);
    pos.quantity = in.Le(5);
    pos.price = static_cast<int64_t>(in.Le(8));
    pos.excise = static_cast<int64_t>(in.Le(8));
    pos.vat = in.U8();
    pos.name = in.Counted();
    std::string additional, customs;
    bool marked = false;
    if (pos.flags & 0x02) additional = in.Counted();
    if (pos.flags & 0x04) {
        const size_t length = static_cast<size_t>(in.Le(2));
        const std::string block = in.Span(length);
        if (!in.Ok() || length < 14 || block[4] != 0x06 || block[5] != 0x00 ||
            static_cast<size_t>(static_cast<uint8_t>(block[12]) | (static_cast<uint8_t>(block[13]) << 8)) + 14 !=
                length) {
            return Fail(kBadFormat);
        }
        marked = true;
    }
    if (pos.flags & 0x08) customs = in.Counted();
    if (!in.Done() || (pos.flags & ~0x0E) != 0) return Fail(kBadFormat);
    if (CommandIndexOfOperation(command) != d.operation) return Fail(kWrongPositionType);
    if (pos.vat < 1 || pos.vat > 6) return Fail(kBadParameter);
    if (pos.quantity == 0 || pos.quantity > 99999999ull || pos.price < 0 || pos.price > 10000000000ll ||
        pos.excise < 0) {
        return Fail(kBadQuantity);
    }
    // Amount of the position: price times quantity, rounded half up to the hundredth.
    pos.amount = (static_cast<int64_t>(pos.quantity) * pos.price + 500) / 1000;
    pos.tags = std::move(d.pendingTags);
    d.pendingTags.clear();

    Wrap(d.body, pos.name.empty() ? C("ТОВАР") : pos.name);
    Both(d.body, "  " + Quantity(pos.quantity) + " X " + Money(pos.price), "=" + Money(pos.amount));
    Wrap(d.body, VatName(pos.vat), 2);
    if (pos.excise) Both(d.body, C("  АКЦИЗ"), "=" + Money(pos.excise));
    if (pos.country != "000") Wrap(d.body, C("СТРАНА: ") + pos.country, 2);
    if (!additional.empty()) Wrap(d.body, C("ДОП. РЕКВИЗИТ: ") + additional, 2);
    if (marked) Wrap(d.body, C("[М+] КОД МАРКИРОВКИ"), 2);
    if (!customs.empty()) Wrap(d.body, C("ДЕКЛАРАЦИЯ: ") + customs, 2);
    PrintTags(d.body, pos.tags, 2);
    d.positions.push_back(std::move(pos));
    return Ok(Out().Le(static_cast<uint64_t>(d.positions.back().amount), 8).Le(static_cast<uint64_t>(Subtotal()), 8).Take(),
              true);
}

Reply Device::Subtotal(const Bytes& p) {
    if (p.size() != 2) return Fail(kBadFormat);
    const auto kind = state_.document.kind;
    if (kind != DocumentKind::Receipt && kind != DocumentKind::Correction) return Fail(kNoReceipt);
    return Ok(Out().Le(static_cast<uint64_t>(Subtotal()), 8).Take(), false);
}

Reply Device::WriteTag(const Bytes& p) {
    In in(p);
    FiscalTag t;
    t.tag = static_cast<uint16_t>(in.Le(2));
    in.U8();
    t.value = in.Counted();
    if (!in.Done() || t.value.size() > 1024) return Fail(kBadFormat);
    const auto kind = state_.document.kind;
    if (kind != DocumentKind::Receipt && kind != DocumentKind::Correction) return Fail(kNoReceipt);
    if (t.tag < 1000 || t.tag > 2999) return Fail(kBadParameter);
    state_.document.pendingTags.push_back(std::move(t));
    return Ok({}, true);
}

Reply Device::CloseReceipt(const Bytes& p) {
    In in(p);
    const auto flags = static_cast<uint16_t>(in.Le(2));
    int64_t pay[5];  // cash, electronic, prepayment, postpayment, barter
    for (auto& v : pay) v = static_cast<int64_t>(in.Le(8));
    const bool correct = flags == 0x1000;
    const uint8_t correction = correct ? in.U8() : 0;
    if (!in.Done() || (flags != 0 && flags != 0x1000)) return Fail(kBadFormat);
    auto& d = state_.document;
    if (d.kind != DocumentKind::Receipt && d.kind != DocumentKind::Correction) return Fail(kNoReceipt);
    for (auto v : pay) {
        if (v < 0 || v > 100000000000ll) return Fail(kBadAmount);
    }
    if (d.mode != 6) {
        if (auto e = NeedPrinter()) return Fail(e);
    }
    const int64_t paid = pay[0] + pay[1] + pay[2] + pay[3] + pay[4];
    const int64_t nonCash = paid - pay[0];
    int64_t total = Subtotal();
    int64_t adjustment = 0;
    if (d.positions.empty()) {
        // A correction receipt may carry only amounts: the payments are its total.
        if (d.kind != DocumentKind::Correction) return Fail(kEmptyReceipt);
        total = paid;
    }
    if (correct) {
        // The host's total differs from ours by less than a currency unit; its hundredths are
        // given. Take the total nearest to ours that ends in them.
        if (correction > 99) return Fail(kBadCorrection);
        const int64_t base = total - total % 100;
        int64_t best = base + correction;
        for (int64_t candidate : {base - 100 + correction, base + 100 + correction}) {
            if (candidate >= 0 && std::llabs(candidate - total) < std::llabs(best - total)) best = candidate;
        }
        if (std::llabs(best - total) >= 100 || best < 0) return Fail(kBadCorrection);
        adjustment = best - total;
        total = best;
    }
    Out reply;
    if (paid < total) {
        // Payments short: the receipt stays open, and the reply says so in its flag byte.
        RecordError(kPaymentShort);
        reply.Le(0, 6).U8(d.operation).U8(0x80).Le(state_.shiftNumber, 2).Le(state_.shiftReceiptNumber, 2);
        reply.Le(0, 4).Le(0, 4).Le(static_cast<uint64_t>(total), 8);
        return Ok(reply.Take(), true);
    }
    if (nonCash > total) return Fail(kNonCashExceeds);
    const int64_t change = paid - total;
    const int64_t cashKept = pay[0] - change;
    const bool cashComesIn = d.operation == 0 || d.operation == 3;
    if (!cashComesIn && cashKept > state_.cash) return Fail(kNoCash);

    state_.cash += cashComesIn ? cashKept : -cashKept;
    ++state_.shiftReceiptNumber;
    for (auto* counters : {&state_.shiftCounters, &state_.totalCounters}) {
        auto& c = (*counters)[d.operation];
        ++c.count;
        c.amount += static_cast<uint64_t>(total);
        if (d.kind == DocumentKind::Correction) {
            ++c.correctionCount;
            c.correctionAmount += static_cast<uint64_t>(total);
        }
        c.payments[0] += static_cast<uint64_t>(cashKept);
        for (int i = 1; i < 5; ++i) c.payments[static_cast<size_t>(i)] += static_cast<uint64_t>(pay[i]);
        for (const auto& pos : d.positions) c.vat[pos.vat - 1u] += static_cast<uint64_t>(pos.amount);
    }
    Document& doc = AddFiscalDocument(d.kind == DocumentKind::Correction ? kDocCorrection : kDocReceipt, total);

    std::vector<std::string> lines = Header();
    if (d.kind == DocumentKind::Correction) {
        lines.push_back(Center(C("КАССОВЫЙ ЧЕК КОРРЕКЦИИ")));
    } else {
        lines.push_back(Center(d.mode == 6 ? C("ЭЛЕКТРОННЫЙ ЧЕК") : C("КАССОВЫЙ ЧЕК")));
    }
    Both(lines, OperationName(d.operation), C("ЧЕК №") + std::to_string(state_.shiftReceiptNumber));
    Both(lines, C("СМЕНА №") + std::to_string(state_.shiftNumber), DateText(doc.time));
    if (d.kind == DocumentKind::Correction) {
        Both(lines, C("ТИП КОРРЕКЦИИ"), d.correctionType == 0 ? C("САМОСТОЯТЕЛЬНО") : C("ПО ПРЕДПИСАНИЮ"));
        Wrap(lines, C("ОСНОВАНИЕ: ") + d.correctionDescription);
        char date[16] = "--";
        if (d.correctionHasDate) {
            std::snprintf(date, sizeof date, "%02u.%02u.%02u", d.correctionDate[2], d.correctionDate[1],
                          d.correctionDate[0]);
        }
        Both(lines, C("ДОКУМЕНТ ОСНОВАНИЯ №") + d.correctionNumber, date);
    }
    lines.push_back(Rule());
    lines.insert(lines.end(), d.body.begin(), d.body.end());
    lines.push_back(Rule());
    if (adjustment) Both(lines, C("КОРРЕКЦИЯ СУММЫ"), "=" + Money(adjustment));
    Both(lines, C("ИТОГ"), "=" + Money(total));
    const char* payNames[5] = {"НАЛИЧНЫМИ", "БЕЗНАЛИЧНЫМИ", "ПРЕДВАРИТЕЛЬНАЯ ОПЛАТА", "ПОСЛЕДУЮЩАЯ ОПЛАТА",
                               "ВСТРЕЧНОЕ ПРЕДОСТАВЛЕНИЕ"};
    for (int i = 0; i < 5; ++i) {
        if (pay[i]) Both(lines, C(payNames[i]), "=" + Money(pay[i]));
    }
    if (change) Both(lines, C("СДАЧА"), "=" + Money(change));
    std::array<int64_t, 6> vat{};
    for (const auto& pos : d.positions) vat[pos.vat - 1u] += pos.amount;
    // The tax inside each rate's turnover: 20/120 or 10/110 of it; 0% and "no VAT" carry none.
    for (size_t i = 0; i < 6; ++i) {
        if (!vat[i]) continue;
        const int64_t rate = (i == 0 || i == 4) ? 20 : (i == 1 || i == 5) ? 10 : 0;
        if (i == 3) {
            Both(lines, C("СУММА БЕЗ НДС"), "=" + Money(vat[i]));
        } else {
            Both(lines, VatName(static_cast<uint8_t>(i + 1)), "=" + Money((vat[i] * rate + (100 + rate) / 2) / (100 + rate)));
        }
    }
    PrintTags(lines, d.pendingTags, 0);
    Both(lines, C("СНО"), TaxationName(d.taxation));
    Both(lines, C("КАССИР"), CashierName());
    const auto site = state_.registration.attributes.find(1060);
    if (site != state_.registration.attributes.end()) Both(lines, C("САЙТ ФНС:"), site->second);
    for (auto& l : FiscalFooter(doc)) lines.push_back(l);
    lines.push_back(Rule('='));
    doc.lines = lines;
    Print(lines);

    reply.Le(static_cast<uint64_t>(change), 6).U8(d.operation).U8(0);
    reply.Le(state_.shiftNumber, 2).Le(state_.shiftReceiptNumber, 2).Le(doc.number, 4).Le(doc.fiscalSign, 4);
    reply.Le(static_cast<uint64_t>(total), 8);
    state_.document = {};
    return Ok(reply.Take(), true);
}

Reply Device::CancelDocument(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    auto& d = state_.document;
    if (d.kind == DocumentKind::None) return Fail(kNoDocument);
    std::vector<std::string> lines;
    if (d.kind == DocumentKind::Text) {
        lines.push_back(Center(C("ДОКУМЕНТ АННУЛИРОВАН")));
    } else {
        lines = Header();
        lines.push_back(Center(d.kind == DocumentKind::Correction ? C("КАССОВЫЙ ЧЕК КОРРЕКЦИИ") : C("КАССОВЫЙ ЧЕК")));
        lines.push_back(Center(OperationName(d.operation)));
        lines.push_back(Rule());
        lines.insert(lines.end(), d.body.begin(), d.body.end());
        lines.push_back(Rule());
        lines.push_back(Center(C("ЧЕК АННУЛИРОВАН")));
        Both(lines, "", DateText(ToDeviceTime(Now())));
    }
    lines.push_back(Rule('='));
    state_.document = {};
    Print(lines);
    return Ok({}, true);
}

Reply Device::PrintCopy(const Bytes& p) {
    In in(p);
    const auto first = static_cast<uint32_t>(in.Le(4));
    const auto last = static_cast<uint32_t>(in.Le(4));
    in.Le(2);
    if (!in.Done()) return Fail(kBadFormat);
    if (first == 0 || last < first || last - first > 100) return Fail(kBadParameter);
    if (auto e = NeedNoDocument()) return Fail(e);
    std::vector<const Document*> docs;
    for (uint32_t n = first; n <= last; ++n) {
        const auto it = std::find_if(state_.journal.begin(), state_.journal.end(),
                                     [n](const Document& d) { return d.number == n; });
        if (it == state_.journal.end()) return Fail(kDocumentNotFound);
        docs.push_back(&*it);
    }
    if (auto e = NeedPrinter()) return Fail(e);
    for (const auto* doc : docs) {
        std::vector<std::string> lines;
        lines.push_back(Center(C("*** КОПИЯ ***")));
        lines.insert(lines.end(), doc->lines.begin(), doc->lines.end());
        Print(lines);
    }
    return Ok({}, false);
}

// ---- text documents ----

Reply Device::OpenTextDocument(const Bytes& p) {
    if (p.size() != 2) return Fail(kBadFormat);
    if (auto e = NeedNoDocument()) return Fail(e);
    state_.document = {};
    state_.document.kind = DocumentKind::Text;
    return Ok({}, true);
}

Reply Device::PrintLine(const Bytes& p) {
    if (p.size() < 2) return Fail(kBadFormat);
    if (state_.document.kind == DocumentKind::None) return Fail(kNoDocument);
    const std::string text(p.begin() + 2, p.end());
    Wrap(state_.document.body, text);
    return Ok({}, true);
}

Reply Device::PrintBarcode(const Bytes& p) {
    if (state_.document.kind == DocumentKind::None) return Fail(kNoDocument);
    std::string label;
    size_t header = 0;
    if (p.size() >= 7 && p[0] == 0x01) {
        label = "QR";
        header = 7;
    } else if (p.size() >= 9 && p[0] == 0x00) {
        header = 9;
        switch (p[7]) {
            case 1: label = "EAN"; break;
            case 4: label = "CODE39"; break;
            default: label = C("ШТРИХКОД"); break;
        }
    } else {
        return Fail(kBadFormat);
    }
    const std::string data(p.begin() + static_cast<std::ptrdiff_t>(header), p.end());
    Wrap(state_.document.body, "[" + label + ": " + data + "]");
    return Ok({}, true);
}

Reply Device::CloseTextDocument(const Bytes& p) {
    if (p.size() != 2) return Fail(kBadFormat);
    if (state_.document.kind != DocumentKind::Text) return Fail(kNoDocument);
    if (auto e = NeedPrinter()) return Fail(e);
    std::vector<std::string> lines = state_.document.body;
    lines.push_back(Rule('='));
    state_.document = {};
    Print(lines);
    return Ok({}, true);
}

// ---- queries ----

Reply Device::LastError(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    return Ok(Out().Le(state_.lastErrorCode, 2).Fixed(state_.lastErrorText, kLineWidth, ' ').Take(), false);
}

Reply Device::Counters(const Bytes& p) {
    if (p.size() != 1) return Fail(kBadFormat);
    if (p[0] > 1) return Fail(kBadParameter);
    const auto& all = p[0] == 0 ? state_.shiftCounters : state_.totalCounters;
    Out out;
    uint32_t receipts = 0, corrections = 0;
    for (const auto& c : all) {
        receipts += c.count;
        corrections += c.correctionCount;
    }
    out.Le(state_.shiftNumber, 2).Le(receipts, 4);  // offsets 8..13
    for (const auto& c : all) {  // 14 + 76 k
        out.Le(c.count, 4).Le(c.amount, 6);
        for (auto v : c.payments) out.Le(v, 6);
        for (auto v : c.vat) out.Le(v, 6);
    }
    out.Le(corrections, 4);  // 318..321
    for (const auto& c : all) out.Le(c.correctionCount, 4).Le(c.correctionAmount, 6);  // 322 + 10 k
    return Ok(out.Take(), false);
}

Reply Device::FnState(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    DeviceTime last{};
    if (!state_.journal.empty()) last = state_.journal.back().time;
    return Ok(Out()
                  .U8(state_.fnState)
                  .U8(static_cast<uint8_t>(state_.document.kind))
                  .U8(0)
                  .U8(state_.shiftOpen ? 1 : 0)
                  .U8(state_.fnWarnings)
                  .Time(last)
                  .Fixed(state_.fnSerial, 16)
                  .Le(state_.lastDocumentNumber, 4)
                  .Take(),
              false);
}

Reply Device::FnSerial(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    return Ok(Out().Fixed(state_.fnSerial, 16).Take(), false);
}

Reply Device::DeviceMode(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    return Ok(Out()
                  .U8(state_.fnState)
                  .U8(ShiftStateByte())
                  .U8(static_cast<uint8_t>(state_.document.kind))
                  .U8(state_.fnWarnings)
                  .U8(state_.modeByte)
                  .Take(),
              false);
}

Reply Device::Backlog(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    const uint32_t unsent = state_.lastDocumentNumber - std::min(state_.lastSentDocument, state_.lastDocumentNumber);
    uint32_t first = 0;
    DeviceTime time{};
    if (unsent) {
        first = state_.lastSentDocument + 1;
        for (const auto& d : state_.journal) {
            if (d.number == first) time = d.time;
        }
    }
    return Ok(Out().U8(state_.ofdOnline ? 1 : 0).U8(0).Le(unsent, 2).Le(first, 4).Time(time).Take(), false);
}

Reply Device::DocumentDate(const Bytes& p) {
    In in(p);
    const auto number = static_cast<uint32_t>(in.Le(4));
    if (!in.Done()) return Fail(kBadFormat);
    for (const auto& d : state_.journal) {
        if (d.number == number) return Ok(Out().Le(d.type, 2).Time(d.time).Le(d.fiscalSign, 4).Take(), false);
    }
    return Fail(kDocumentNotFound);
}

Reply Device::RegistrationRecord(const Bytes& p) {
    if (p.size() != 1) return Fail(kBadFormat);
    if (!state_.registered) return Fail(kNotRegistered);
    const auto& r = state_.registration;
    return Ok(Out()
                  .Time(r.time)
                  .Fixed(r.inn, 12)
                  .Fixed(r.kktNumber, 20)
                  .U8(r.taxation)
                  .U8(r.operatingModes)
                  .U8(r.reason)
                  .Le(r.documentNumber, 4)
                  .U8(r.agentTypes)
                  .Take(),
              false);
}

Reply Device::RegistrationAttribute(const Bytes& p) {
    In in(p);
    in.U8();
    const auto tag = static_cast<uint16_t>(in.Le(2));
    if (!in.Done()) return Fail(kBadFormat);
    if (!state_.registered) return Fail(kNotRegistered);
    const auto it = state_.registration.attributes.find(tag);
    if (it == state_.registration.attributes.end()) return Fail(kTagNotFound);
    return Ok(Out().Le(tag, 2).Le(it->second.size(), 2).Raw(it->second).Take(), false);
}

Reply Device::ShiftInfo(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    return Ok(Out()
                  .U8(ShiftStateByte())
                  .Le(state_.shiftNumber, 2)
                  .Le(state_.shiftReceiptNumber, 2)
                  .Le(state_.lastDocumentNumber, 4)
                  .Take(),
              false);
}

Reply Device::PrinterFlags(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    const uint8_t flags = static_cast<uint8_t>((state_.coverOpen ? 0x01 : 0) | (state_.paperOut ? 0x02 : 0));
    return Ok(Out().U8(flags).U8(0).U8(0).U8(0).Take(), false);
}

Reply Device::ShiftState(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    return Ok(Out()
                  .U8(ShiftStateByte())
                  .Le(state_.shiftNumber, 2)
                  .Time(state_.shiftOpen ? ToDeviceTime(state_.shiftOpenedAt) : DeviceTime{})
                  .Take(),
              false);
}

Reply Device::ReceiptState(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    const auto& d = state_.document;
    return Ok(Out()
                  .U8(d.kind == DocumentKind::Receipt ? 1 : 0)
                  .U8(d.kind == DocumentKind::Correction ? 1 : 0)
                  .U8(d.kind == DocumentKind::Text ? 1 : 0)
                  .U8(d.operation)
                  .Le(static_cast<uint64_t>(Subtotal()), 8)
                  .Le(d.positions.size(), 2)
                  .Take(),
              false);
}

Reply Device::CashBalance(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    return Ok(Out()
                  .Le(static_cast<uint64_t>(state_.cash), 8)
                  .Le(state_.shiftCashIn, 8)
                  .Le(state_.shiftCashOut, 8)
                  .Le(state_.shiftCashOperations, 4)
                  .U8(0)
                  .Take(),
              false);
}

Reply Device::DeviceInfo(const Bytes& p) {
    if (!p.empty()) return Fail(kBadFormat);
    return Ok(Out()
                  .Fixed("VESKLINK-SIM", 32)
                  .Fixed(state_.kktSerial, 20)
                  .Fixed("1.0", 16)
                  .U8(2)
                  .U8(state_.ffdCode)
                  .Take(),
              false);
}

}  // namespace vesklink::sim
