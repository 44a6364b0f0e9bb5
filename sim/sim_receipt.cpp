// Receipts and correction receipts: opening, positions, attributes, the subtotal, closing with
// the payments, cancelling (a text document too), and copies of documents from the FN's journal.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <utility>

#include "sim_device.h"

namespace vesklink::sim {
namespace {

constexpr int64_t kLargestAmount = 100000000000ll;
constexpr uint16_t kAdjustTotal = 0x1000;  // closing flag: the host's total ends in the given hundredths
constexpr uint8_t kPaymentShortFlag = 0x80;  // closing reply byte 15: the receipt stays open

bool IsReceipt(DocumentKind kind) { return kind == DocumentKind::Receipt || kind == DocumentKind::Correction; }
// Sales and returns of purchases bring cash in; returns of sales and purchases take it out.
bool CashComesIn(uint8_t operation) { return operation == 0 || operation == 3; }

// The receipt's body between rules.
void AddBody(Lines& lines, const Lines& body) {
    lines.push_back(Rule());
    lines.insert(lines.end(), body.begin(), body.end());
    lines.push_back(Rule());
}

// The host's total differs from ours by less than a currency unit and ends in the given
// hundredths: the total nearest to ours that does. kOk, or the status word that refuses it.
uint16_t AdjustTotal(uint8_t hundredths, int64_t& total, int64_t& adjustment) {
    if (hundredths > 99) return kBadCorrection;
    const int64_t base = total - total % 100;
    int64_t best = base + hundredths;
    for (int64_t candidate : {base - 100 + hundredths, base + 100 + hundredths}) {
        if (candidate >= 0 && std::llabs(candidate - total) < std::llabs(best - total)) best = candidate;
    }
    if (std::llabs(best - total) >= 100 || best < 0) return kBadCorrection;
    adjustment = best - total;
    total = best;
    return kOk;
}

// The tax inside each rate's turnover: 20/120 or 10/110 of it; 0% carries none, and "no VAT"
// prints its turnover instead.
void PrintVat(Lines& lines, const std::vector<Position>& positions) {
    std::array<int64_t, 6> vat{};
    for (const auto& pos : positions) vat[pos.vat - 1u] += pos.amount;
    for (size_t i = 0; i < 6; ++i) {
        if (!vat[i]) continue;
        const int64_t rate = (i == 0 || i == 4) ? 20 : (i == 1 || i == 5) ? 10 : 0;
        const int64_t tax = i == 3 ? vat[i] : (vat[i] * rate + (100 + rate) / 2) / (100 + rate);
        Both(lines, i == 3 ? C("СУММА БЕЗ НДС") : VatName(static_cast<uint8_t>(i + 1)), "=" + Money(tax));
    }
}

// The optional parts of a position record, printed under it.
struct PositionExtras {
    std::string additional, customs;
    bool marked = false;
};

// The position record of 0x80..0x83; false when it is malformed.
bool ReadPosition(const Bytes& p, Position& pos, PositionExtras& extras) {
    In in(p);
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
    if (pos.flags & 0x02) extras.additional = in.Counted();
    if (pos.flags & 0x04) {
        // The marking code block: its own length, a fixed kind 06 00 and a counted code.
        const size_t length = static_cast<size_t>(in.Le(2));
        const std::string block = in.Span(length);
        auto byte = [&](size_t i) { return static_cast<size_t>(static_cast<uint8_t>(block[i])); };
        const bool valid = in.Ok() && length >= 14 && byte(4) == 0x06 && byte(5) == 0x00;
        if (!valid || (byte(12) | byte(13) << 8) + 14 != length) return false;
        extras.marked = true;
    }
    if (pos.flags & 0x08) extras.customs = in.Counted();
    return in.Done() && (pos.flags & ~0x0E) == 0;
}

void PrintPosition(Lines& body, const Position& pos, const PositionExtras& extras) {
    Wrap(body, pos.name.empty() ? C("ТОВАР") : pos.name);
    Both(body, "  " + Quantity(pos.quantity) + " X " + Money(pos.price), "=" + Money(pos.amount));
    Wrap(body, VatName(pos.vat), 2);
    if (pos.excise) Both(body, C("  АКЦИЗ"), "=" + Money(pos.excise));
    if (pos.country != "000") Wrap(body, C("СТРАНА: ") + pos.country, 2);
    if (!extras.additional.empty()) Wrap(body, C("ДОП. РЕКВИЗИТ: ") + extras.additional, 2);
    if (extras.marked) Wrap(body, C("[М+] КОД МАРКИРОВКИ"), 2);
    if (!extras.customs.empty()) Wrap(body, C("ДЕКЛАРАЦИЯ: ") + extras.customs, 2);
    PrintTags(body, pos.tags, 2);
}

// What opening a receipt or a correction receipt starts with: the mode, the operation type and
// the taxation bit.
OpenDocument ReadReceiptStart(In& in, DocumentKind kind) {
    OpenDocument d;
    d.kind = kind;
    d.mode = static_cast<uint16_t>(in.Le(2));
    d.operation = in.U8();
    d.taxation = in.U8();
    return d;
}

}  // namespace

struct Device::Settlement {
    int64_t pay[5] = {};  // cash, electronic, prepayment, postpayment, barter
    int64_t total = 0;
    int64_t adjustment = 0;
    int64_t change = 0;
    int64_t cashKept = 0;  // the cash that stays in the drawer: cash paid less the change
};

// Opens the receipt when the rules allow it: an open shift, no other document, a valid mode,
// operation and taxation bit, and that bit registered.
Reply Device::StartReceipt(OpenDocument d, bool otherwiseValid) {
    const uint8_t tax = d.taxation;
    const bool valid = (d.mode == 4 || d.mode == 6) && d.operation <= 3 && otherwiseValid && tax != 0 &&
                       (tax & (tax - 1)) == 0 && tax <= 0x20;
    const uint16_t registered = (state_.registration.taxation & tax) ? kOk : kTaxationNotRegistered;
    const uint16_t bad = valid ? kOk : kBadParameter;
    if (auto e = First({NeedFiscalMode(), NeedSalesShift(), NeedNoDocument(), bad, registered})) return Fail(e);
    state_.document = std::move(d);
    return Ok(Out().Le(state_.shiftNumber, 2).Le(state_.shiftReceiptNumber + 1u, 2), true);
}

Reply Device::OpenReceipt(const Bytes& p) {
    In in(p);
    return StartReceipt(ReadReceiptStart(in, DocumentKind::Receipt), true);
}

Reply Device::OpenCorrection(const Bytes& p) {
    In in(p);
    OpenDocument d = ReadReceiptStart(in, DocumentKind::Correction);
    d.correctionType = in.U8();
    d.correctionDescription = in.Counted();
    if (!in.Ok()) return Fail(kBadFormat);
    // The date of the correction is optional: the number follows the description directly when
    // the date is left out.
    const Bytes rest(p.end() - static_cast<std::ptrdiff_t>(in.Remaining()), p.end());
    if (rest.size() >= 5 && static_cast<size_t>(rest[3] | (rest[4] << 8)) + 5 == rest.size() && rest[1] >= 1 &&
        rest[1] <= 12 && rest[2] >= 1 && rest[2] <= 31) {
        d.correctionHasDate = true;
        d.correctionDate = {rest[0], rest[1], rest[2]};
        d.correctionNumber.assign(rest.begin() + 5, rest.end());
    } else if (rest.size() >= 2 && static_cast<size_t>(rest[0] | (rest[1] << 8)) + 2 == rest.size()) {
        d.correctionNumber.assign(rest.begin() + 2, rest.end());
    } else {
        return Fail(kBadFormat);
    }
    const bool validType = d.correctionType <= 1;
    return StartReceipt(std::move(d), validType);
}

Reply Device::SalePosition(const Bytes& p) { return AddPosition(0, p); }
Reply Device::SaleReturnPosition(const Bytes& p) { return AddPosition(1, p); }
Reply Device::PurchasePosition(const Bytes& p) { return AddPosition(2, p); }
Reply Device::PurchaseReturnPosition(const Bytes& p) { return AddPosition(3, p); }

Reply Device::AddPosition(uint8_t operation, const Bytes& p) {
    auto& d = state_.document;
    if (!IsReceipt(d.kind)) return Fail(kNoReceipt);
    Position pos;
    PositionExtras extras;
    if (!ReadPosition(p, pos, extras)) return Fail(kBadFormat);
    if (operation != d.operation) return Fail(kWrongPositionType);
    if (pos.vat < 1 || pos.vat > 6) return Fail(kBadParameter);
    if (pos.quantity == 0 || pos.quantity > 99999999ull || pos.price < 0 || pos.price > 10000000000ll ||
        pos.excise < 0) {
        return Fail(kBadQuantity);
    }
    // Amount of the position: price times quantity, rounded half up to the hundredth.
    pos.amount = (static_cast<int64_t>(pos.quantity) * pos.price + 500) / 1000;
    pos.tags = std::exchange(d.pendingTags, {});
    PrintPosition(d.body, pos, extras);
    d.positions.push_back(std::move(pos));
    const auto amount = static_cast<uint64_t>(d.positions.back().amount);
    return Ok(Out().Le(amount, 8).Le(static_cast<uint64_t>(PositionsTotal()), 8), true);
}

int64_t Device::PositionsTotal() const {
    const auto& positions = state_.document.positions;
    return std::accumulate(positions.begin(), positions.end(), int64_t{0},
                           [](int64_t sum, const Position& p) { return sum + p.amount; });
}

Reply Device::Subtotal(const Bytes&) {
    if (!IsReceipt(state_.document.kind)) return Fail(kNoReceipt);
    return Ok(Out().Le(static_cast<uint64_t>(PositionsTotal()), 8), false);
}

Reply Device::WriteTag(const Bytes& p) {
    In in(p);
    FiscalTag t;
    t.tag = static_cast<uint16_t>(in.Le(2));
    in.U8();
    t.value = in.Counted();
    if (!in.Done() || t.value.size() > 1024) return Fail(kBadFormat);
    if (!IsReceipt(state_.document.kind)) return Fail(kNoReceipt);
    if (t.tag < 1000 || t.tag > 2999) return Fail(kBadParameter);
    state_.document.pendingTags.push_back(std::move(t));
    return Ok({}, true);
}

Reply Device::CloseReceipt(const Bytes& p) {
    In in(p);
    Settlement s;
    const auto flags = static_cast<uint16_t>(in.Le(2));
    for (auto& v : s.pay) v = static_cast<int64_t>(in.Le(8));
    const bool adjust = flags == kAdjustTotal;
    const uint8_t hundredths = adjust ? in.U8() : 0;
    if (!in.Done() || (flags != 0 && flags != kAdjustTotal)) return Fail(kBadFormat);
    const auto& d = state_.document;
    if (!IsReceipt(d.kind)) return Fail(kNoReceipt);
    for (auto v : s.pay) {
        if (v < 0 || v > kLargestAmount) return Fail(kBadAmount);
    }
    // An electronic receipt needs no paper.
    if (auto e = d.mode != 6 ? NeedPrinter() : uint16_t{kOk}) return Fail(e);
    const int64_t paid = s.pay[0] + s.pay[1] + s.pay[2] + s.pay[3] + s.pay[4];
    s.total = PositionsTotal();
    if (d.positions.empty()) {
        // A correction receipt may carry only amounts: the payments are its total.
        if (d.kind != DocumentKind::Correction) return Fail(kEmptyReceipt);
        s.total = paid;
    }
    if (auto e = adjust ? AdjustTotal(hundredths, s.total, s.adjustment) : uint16_t{kOk}) return Fail(e);
    if (paid < s.total) {
        // Payments short: the receipt stays open, and the reply says so in its flag byte.
        RecordError(kPaymentShort);
        Out reply;
        reply.Le(0, 6).U8(d.operation).U8(kPaymentShortFlag).Le(state_.shiftNumber, 2).Le(state_.shiftReceiptNumber, 2);
        reply.Le(0, 4).Le(0, 4).Le(static_cast<uint64_t>(s.total), 8);
        return Ok(reply, true);
    }
    if (paid - s.pay[0] > s.total) return Fail(kNonCashExceeds);
    s.change = paid - s.total;
    s.cashKept = s.pay[0] - s.change;
    return SettleReceipt(s);
}

// The receipt is paid: the drawer, the counters, the fiscal document, the tape and the reply.
Reply Device::SettleReceipt(const Settlement& s) {
    const auto& d = state_.document;
    if (!CashComesIn(d.operation) && s.cashKept > state_.cash) return Fail(kNoCash);
    BookReceipt(s);
    Document& doc = AddFiscalDocument(d.kind == DocumentKind::Correction ? kDocCorrection : kDocReceipt, s.total);
    Lines lines = ReceiptHeading(doc);
    AddReceiptTotals(lines, s);
    PrintFiscal(doc, std::move(lines));
    Out reply;
    reply.Le(static_cast<uint64_t>(s.change), 6).U8(d.operation).U8(0);
    reply.Le(state_.shiftNumber, 2).Le(state_.shiftReceiptNumber, 2).Le(doc.number, 4).Le(doc.fiscalSign, 4);
    reply.Le(static_cast<uint64_t>(s.total), 8);
    state_.document = {};
    return Ok(reply, true);
}

void Device::BookReceipt(const Settlement& s) {
    const auto& d = state_.document;
    state_.cash += CashComesIn(d.operation) ? s.cashKept : -s.cashKept;
    ++state_.shiftReceiptNumber;
    for (auto* counters : {&state_.shiftCounters, &state_.totalCounters}) {
        auto& c = (*counters)[d.operation];
        ++c.count;
        c.amount += static_cast<uint64_t>(s.total);
        if (d.kind == DocumentKind::Correction) {
            ++c.correctionCount;
            c.correctionAmount += static_cast<uint64_t>(s.total);
        }
        c.payments[0] += static_cast<uint64_t>(s.cashKept);
        for (size_t i = 1; i < 5; ++i) c.payments[i] += static_cast<uint64_t>(s.pay[i]);
        for (const auto& pos : d.positions) c.vat[pos.vat - 1u] += static_cast<uint64_t>(pos.amount);
    }
}

// The receipt's title, numbers and date, the correction's grounds, and its body between rules.
Lines Device::ReceiptHeading(const Document& doc) const {
    const auto& d = state_.document;
    const bool correction = d.kind == DocumentKind::Correction;
    const char* title = d.mode == 6 ? "ЭЛЕКТРОННЫЙ ЧЕК" : "КАССОВЫЙ ЧЕК";
    Lines lines = Titled({correction ? "КАССОВЫЙ ЧЕК КОРРЕКЦИИ" : title});
    Both(lines, OperationName(d.operation), C("ЧЕК №") + std::to_string(state_.shiftReceiptNumber));
    Both(lines, C("СМЕНА №") + std::to_string(state_.shiftNumber), DateText(doc.time));
    if (correction) {
        Both(lines, C("ТИП КОРРЕКЦИИ"), d.correctionType == 0 ? C("САМОСТОЯТЕЛЬНО") : C("ПО ПРЕДПИСАНИЮ"));
        Wrap(lines, C("ОСНОВАНИЕ: ") + d.correctionDescription);
        // Each byte in at least two digits: a year byte of 100 or more prints whole.
        char date[16] = "--";
        const auto& [year, month, day] = d.correctionDate;
        if (d.correctionHasDate) std::snprintf(date, sizeof date, "%02u.%02u.%02u", day, month, year);
        Both(lines, C("ДОКУМЕНТ ОСНОВАНИЯ №") + d.correctionNumber, date);
    }
    AddBody(lines, d.body);
    return lines;
}

// The total, the payments and the change, the taxes, the attributes and who sold it.
void Device::AddReceiptTotals(Lines& lines, const Settlement& s) const {
    const auto& d = state_.document;
    if (s.adjustment) Both(lines, C("КОРРЕКЦИЯ СУММЫ"), "=" + Money(s.adjustment));
    Both(lines, C("ИТОГ"), "=" + Money(s.total));
    const char* payNames[5] = {"НАЛИЧНЫМИ", "БЕЗНАЛИЧНЫМИ", "ПРЕДВАРИТЕЛЬНАЯ ОПЛАТА", "ПОСЛЕДУЮЩАЯ ОПЛАТА",
                               "ВСТРЕЧНОЕ ПРЕДОСТАВЛЕНИЕ"};
    for (int i = 0; i < 5; ++i) {
        if (s.pay[i]) Both(lines, C(payNames[i]), "=" + Money(s.pay[i]));
    }
    if (s.change) Both(lines, C("СДАЧА"), "=" + Money(s.change));
    PrintVat(lines, d.positions);
    PrintTags(lines, d.pendingTags, 0);
    Both(lines, C("СНО"), TaxationName(d.taxation));
    Both(lines, C("КАССИР"), CashierName());
    const auto site = state_.registration.attributes.find(1060);
    if (site != state_.registration.attributes.end()) Both(lines, C("САЙТ ФНС:"), site->second);
}

Reply Device::CancelDocument(const Bytes&) {
    auto& d = state_.document;
    if (d.kind == DocumentKind::None) return Fail(kNoDocument);
    Lines lines;
    if (d.kind == DocumentKind::Text) {
        lines.push_back(Center(C("ДОКУМЕНТ АННУЛИРОВАН")));
    } else {
        lines = Titled({d.kind == DocumentKind::Correction ? "КАССОВЫЙ ЧЕК КОРРЕКЦИИ" : "КАССОВЫЙ ЧЕК"});
        lines.push_back(Center(OperationName(d.operation)));
        AddBody(lines, d.body);
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
        Lines lines{Center(C("*** КОПИЯ ***"))};
        lines.insert(lines.end(), doc->lines.begin(), doc->lines.end());
        Print(lines);
    }
    return Ok({}, false);
}

}  // namespace vesklink::sim
