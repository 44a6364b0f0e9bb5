// CashInOutcome and OpenCashDrawer: cash put into or taken out of the drawer, and the drawer.
#include "operations/operations.h"
#include "protocol/commands.h"
#include "protocol/encoding.h"
#include "util/text.h"

namespace vesklink {

bool CashInOutcome(CashRegister& device, int64_t amount) {
    if (amount == 0) {
        device.Log(u"Внесение в кассу нулевой суммы", Info);
        return true;
    }
    const bool out = amount < 0;
    // The magnitude as an unsigned number, so even the most negative amount has one.
    const uint64_t magnitude = out ? 0 - static_cast<uint64_t>(amount) : static_cast<uint64_t>(amount);
    device.Log((out ? u"Выемка из кассы: " : u"Внесение в кассу: ") + DecimalTextUnsigned(magnitude), Info);
    device.FiscalDocumentAhead();
    return device.Link.Exchange(out ? cmd::CashOut : cmd::CashIn, LittleEndianBytes(magnitude, 8)).Executed();
}

bool OpenCashDrawer(CashRegister& device) {
    return device.Link.Exchange(cmd::OpenCashDrawer, {0x00}).Executed();
}

}  // namespace vesklink
