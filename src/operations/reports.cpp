// PrintXReport and PrintCheckCopy: documents the register prints from what it holds.
#include "operations/operations.h"
#include "protocol/commands.h"
#include "protocol/encoding.h"

namespace vesklink {

bool PrintXReport(CashRegister& device) {
    return device.Link.Exchange(cmd::XReport).Executed();
}

bool PrintCheckCopy(CashRegister& device, uint32_t documentNumber) {
    // The range of documents to copy: from this one to this one.
    Bytes payload = LittleEndianBytes(documentNumber, 4);
    AppendLittleEndian(payload, documentNumber, 4);
    payload.push_back(0x02);
    payload.push_back(0x00);
    return device.Link.Exchange(cmd::PrintCopy, payload).Executed();
}

}  // namespace vesklink
