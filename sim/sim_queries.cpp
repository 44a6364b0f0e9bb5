// Queries: what the register answers about itself without changing anything — the FN's state,
// the mode, the OFD backlog, a document's date, the shift, the printer, the counters, the last
// error, the device's identity and the cash in the drawer.
#include "sim_device.h"

namespace vesklink::sim {

Reply Device::DeviceTest(const Bytes&) { return Ok(Out().U8(0), false); }

// Payload 0: the current (or last closed) shift; 1: the totals since registration.
Reply Device::Counters(const Bytes& p) {
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
    return Ok(out, false);
}

Reply Device::LastError(const Bytes&) {
    return Ok(Out().Le(state_.lastErrorCode, 2).Fixed(state_.lastErrorText, kLineWidth, ' '), false);
}

Reply Device::FnState(const Bytes&) {
    const auto& s = state_;
    const DeviceTime last = s.journal.empty() ? DeviceTime{} : s.journal.back().time;
    return Ok(Out().U8(s.fnState).U8(static_cast<uint8_t>(s.document.kind)).U8(0)
              .U8(s.shiftOpen ? 1 : 0).U8(s.fnWarnings).Raw(last).Fixed(s.fnSerial, 16)
              .Le(s.lastDocumentNumber, 4), false);
}

Reply Device::FnSerial(const Bytes&) { return Ok(Out().Fixed(state_.fnSerial, 16), false); }

Reply Device::DeviceMode(const Bytes&) {
    return Ok(Out().U8(state_.fnState).U8(ShiftStateByte()).U8(static_cast<uint8_t>(state_.document.kind))
              .U8(state_.fnWarnings).U8(state_.modeByte), false);
}

Reply Device::Backlog(const Bytes&) {
    const uint32_t unsent = UnsentDocuments();
    const uint32_t first = unsent ? state_.lastSentDocument + 1 : 0;
    return Ok(Out().U8(state_.ofdOnline ? 1 : 0).U8(0).Le(unsent, 2).Le(first, 4)
              .Raw(unsent ? DocumentTime(state_, first) : DeviceTime{}), false);
}

Reply Device::DocumentDate(const Bytes& p) {
    const auto number = static_cast<uint32_t>(In(p).Le(4));
    for (const auto& d : state_.journal) {
        if (d.number == number) return Ok(Out().Le(d.type, 2).Raw(d.time).Le(d.fiscalSign, 4), false);
    }
    return Fail(kDocumentNotFound);
}

Reply Device::ShiftInfo(const Bytes&) {
    return Ok(Out().U8(ShiftStateByte()).Le(state_.shiftNumber, 2)
              .Le(state_.shiftReceiptNumber, 2).Le(state_.lastDocumentNumber, 4), false);
}

Reply Device::PrinterFlags(const Bytes&) {
    const unsigned flags = (state_.coverOpen ? 0x01 : 0) | (state_.paperOut ? 0x02 : 0);
    return Ok(Out().U8(flags).U8(0).U8(0).U8(0), false);
}

Reply Device::ShiftState(const Bytes&) {
    return Ok(Out().U8(ShiftStateByte()).Le(state_.shiftNumber, 2)
              .Raw(state_.shiftOpen ? ToDeviceTime(state_.shiftOpenedAt) : DeviceTime{}), false);
}

Reply Device::ReceiptState(const Bytes&) {
    const auto& d = state_.document;
    return Ok(Out().U8(d.kind == DocumentKind::Receipt).U8(d.kind == DocumentKind::Correction)
              .U8(d.kind == DocumentKind::Text).U8(d.operation)
              .Le(static_cast<uint64_t>(PositionsTotal()), 8).Le(d.positions.size(), 2), false);
}

Reply Device::CashBalance(const Bytes&) {
    return Ok(Out().Le(static_cast<uint64_t>(state_.cash), 8).Le(state_.shiftCashIn, 8)
              .Le(state_.shiftCashOut, 8).Le(state_.shiftCashOperations, 4).U8(0), false);
}

Reply Device::DeviceInfo(const Bytes&) {
    return Ok(Out().Fixed("VESKLINK-SIM", 32).Fixed(state_.kktSerial, 20).Fixed("1.0", 16).U8(2)
              .U8(state_.ffdCode), false);
}

}  // namespace vesklink::sim
