// Shifts, the cash drawer and the reports: opening and closing a shift, cash put in and taken
// out, the X report and the report on the state of settlements.
#include "sim_device.h"

namespace vesklink::sim {
namespace {

constexpr uint64_t kLargestCashAmount = 100000000000ull;

// The shift's counters per operation type, one line each, as the reports print them.
void PrintCounters(Lines& out, const std::array<TypeCounters, 4>& counters, bool corrections) {
    for (size_t k = 0; k < 4; ++k) {
        const auto& c = counters[k];
        Both(out, OperationName(static_cast<uint8_t>(k)) + " (" + std::to_string(c.count) + ")",
             "=" + Money(static_cast<int64_t>(c.amount)));
        if (corrections && c.correctionCount) {
            Both(out, C("  КОРРЕКЦИЙ (") + std::to_string(c.correctionCount) + ")",
                 "=" + Money(static_cast<int64_t>(c.correctionAmount)));
        }
    }
}

}  // namespace

// A slip that is no fiscal document (an X report, a cash slip): the cashier, the date, the rule.
void Device::PrintSlip(Lines lines) {
    Both(lines, C("КАССИР"), CashierName());
    Both(lines, "", DateText(ToDeviceTime(Now())));
    lines.push_back(Rule('='));
    Print(lines);
}

Reply Device::OpenShift(const Bytes&) {
    const uint16_t open = !state_.shiftOpen ? kOk : ShiftStateByte() == 2 ? kShiftExpired : kShiftOpen;
    if (auto e = First({NeedFiscalMode(), NeedNoDocument(), open, NeedPrinter()})) return Fail(e);
    state_.shiftOpen = true;
    ++state_.shiftNumber;
    state_.shiftOpenedAt = Now();
    state_.shiftReceiptNumber = 0;
    state_.shiftCounters = {};
    state_.shiftCashIn = state_.shiftCashOut = state_.shiftCashOperations = 0;
    Document& doc = AddFiscalDocument(kDocShiftOpen, state_.shiftNumber);
    Lines lines = Titled({"ОТЧЕТ ОБ ОТКРЫТИИ СМЕНЫ"});
    Both(lines, C("СМЕНА №"), std::to_string(state_.shiftNumber));
    Both(lines, C("КАССИР"), CashierName());
    return FiscalReply(doc, std::move(lines), Out().Le(state_.shiftNumber, 2).Take());
}

Reply Device::CloseShift(const Bytes&) {
    const uint16_t open = state_.shiftOpen ? kOk : kShiftClosed;
    if (auto e = First({NeedFiscalMode(), NeedNoDocument(), open, NeedPrinter()})) return Fail(e);
    state_.shiftOpen = false;
    Document& doc = AddFiscalDocument(kDocShiftClose, state_.shiftNumber);
    Lines lines = Titled({"ОТЧЕТ О ЗАКРЫТИИ СМЕНЫ"});
    Both(lines, C("СМЕНА №"), std::to_string(state_.shiftNumber));
    Both(lines, C("ЧЕКОВ ЗА СМЕНУ"), std::to_string(state_.shiftReceiptNumber));
    PrintCounters(lines, state_.shiftCounters, true);
    Both(lines, C("НАЛИЧНЫХ В КАССЕ"), "=" + Money(state_.cash));
    Both(lines, C("НЕПЕРЕДАННЫХ ФД"), std::to_string(UnsentDocuments()));
    Both(lines, C("КАССИР"), CashierName());
    return FiscalReply(doc, std::move(lines), Out().Le(state_.shiftNumber, 2).Take());
}

Reply Device::XReport(const Bytes&) {
    if (auto e = First({NeedNoDocument(), NeedPrinter()})) return Fail(e);
    Lines out = Titled({"X-ОТЧЕТ"});
    Both(out, C("СМЕНА №"), std::to_string(state_.shiftNumber));
    const uint8_t shift = ShiftStateByte();
    Both(out, C("СОСТОЯНИЕ СМЕНЫ"), shift == 0 ? C("ЗАКРЫТА") : shift == 1 ? C("ОТКРЫТА") : C("ИСТЕКЛА"));
    Both(out, C("ЧЕКОВ ЗА СМЕНУ"), std::to_string(state_.shiftReceiptNumber));
    PrintCounters(out, state_.shiftCounters, false);
    Both(out, C("ВНЕСЕНИЙ"), "=" + Money(static_cast<int64_t>(state_.shiftCashIn)));
    Both(out, C("ВЫПЛАТ"), "=" + Money(static_cast<int64_t>(state_.shiftCashOut)));
    Both(out, C("НАЛИЧНЫХ В КАССЕ"), "=" + Money(state_.cash));
    PrintSlip(std::move(out));
    return Ok({}, false);
}

Reply Device::SettlementReport(const Bytes&) {
    if (auto e = First({NeedFiscalMode(), NeedNoDocument(), NeedPrinter()})) return Fail(e);
    const uint32_t unsent = UnsentDocuments();
    const DeviceTime firstTime = DocumentTime(state_, state_.lastSentDocument + 1);
    Document& doc = AddFiscalDocument(kDocSettlementReport, state_.cash);
    Lines lines = Titled({"ОТЧЕТ О ТЕКУЩЕМ СОСТОЯНИИ", "РАСЧЕТОВ"});
    Both(lines, C("НЕПЕРЕДАННЫХ ФД"), std::to_string(unsent));
    if (unsent) Both(lines, C("ПЕРВЫЙ НЕПЕРЕДАННЫЙ"), DateText(firstTime));
    Both(lines, C("НАЛИЧНЫХ В КАССЕ"), "=" + Money(state_.cash));
    return FiscalReply(doc, std::move(lines));
}

Reply Device::CashIn(const Bytes& p) { return MoveCash(true, p); }
Reply Device::CashOut(const Bytes& p) { return MoveCash(false, p); }

Reply Device::MoveCash(bool in, const Bytes& p) {
    const auto amount = In(p).Le(8);
    if (auto e = First({NeedFiscalMode(), NeedNoDocument(), NeedSalesShift(), NeedPrinter()})) return Fail(e);
    if (amount == 0 || amount > kLargestCashAmount) return Fail(kBadAmount);
    const auto value = static_cast<int64_t>(amount);
    if (!in && value > state_.cash) return Fail(kNoCash);
    state_.cash += in ? value : -value;
    (in ? state_.shiftCashIn : state_.shiftCashOut) += amount;
    ++state_.shiftCashOperations;
    Lines out = Titled({in ? "ВНЕСЕНИЕ" : "ВЫПЛАТА"});
    Both(out, C("СМЕНА №"), std::to_string(state_.shiftNumber));
    Both(out, C("СУММА"), "=" + Money(value));
    Both(out, C("НАЛИЧНЫХ В КАССЕ"), "=" + Money(state_.cash));
    PrintSlip(std::move(out));
    return Ok(Out().Le(static_cast<uint64_t>(state_.cash), 8), true);
}

Reply Device::OpenDrawer(const Bytes&) {
    ++state_.drawerOpenings;
    return Ok({}, true);
}

}  // namespace vesklink::sim
