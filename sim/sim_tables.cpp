// The register's tables: the receipt settings (table 20) and the cashier (table 320, record 1).
#include <algorithm>

#include "sim_device.h"

namespace vesklink::sim {
namespace {

constexpr uint64_t kReceiptSettingsTable = 20;
constexpr uint64_t kCashierTable = 320;
constexpr uint64_t kCashierRecord = 1;

// 0x09 and 0x0A name the table and the record in their first four bytes.
bool NamesCashier(const Bytes& p) {
    In in(p);
    return in.Le(2) == kCashierTable && in.Le(2) == kCashierRecord;
}

}  // namespace

Reply Device::ReadTable(const Bytes& p) {
    if (In(p).Le(2) != kReceiptSettingsTable) return Fail(kNoTable);
    return Ok(Bytes(state_.receiptSettings.begin(), state_.receiptSettings.end()), false);
}

Reply Device::WriteTable(const Bytes& p) {
    if (In(p).Le(2) != kReceiptSettingsTable) return Fail(kNoTable);
    if (p.size() != 2 + state_.receiptSettings.size()) return Fail(kBadFormat);
    std::copy(p.begin() + 2, p.end(), state_.receiptSettings.begin());
    return Ok({}, true);
}

Reply Device::ReadRecord(const Bytes& p) {
    if (!NamesCashier(p)) return Fail(kNoTable);
    return Ok(Bytes(state_.cashier.begin(), state_.cashier.end()), false);
}

Reply Device::WriteRecord(const Bytes& p) {
    if (!NamesCashier(p)) return Fail(kNoTable);
    if (p.size() != 4 + state_.cashier.size()) return Fail(kBadFormat);
    const std::string inn = TrimRight(CashierInn(p.data() + 4));
    if (!inn.empty() && !ValidInn(inn)) return Fail(kBadInn);
    std::copy(p.begin() + 4, p.end(), state_.cashier.begin());
    return Ok({}, true);
}

}  // namespace vesklink::sim
