// Agent, supplier and buyer data of a receipt or of one position, collected from the host's
// receipt package and written to the device as fiscal attributes (tags) before the position or,
// for the receipt-level record, after all positions.
#pragma once

#include <string>

namespace vesklink {

struct ReceiptAttributes {
    std::u16string AcquirerOperatorAddress;  // 1005
    std::u16string CustomerEmail;            // 1008
    std::u16string CustomerPhone;            // 1008, after the e-mail
    std::u16string AcquirerOperatorInn;      // 1016
    std::u16string AcquirerOperatorName;     // 1026
    std::u16string AgentOperation;           // 1044
    std::u16string AgentPhone;               // 1073
    std::u16string PaymentProcessorPhone;    // 1074
    std::u16string AcquirerOperatorPhone;    // 1075
    std::u16string VendorPhone;              // 1171
    std::u16string VendorName;               // 1225
    std::u16string VendorInn;                // 1226
    // Read from the receipt's parameters but never written: the shift operations record the
    // cashier.
    std::u16string CashierName, CashierInn;
};

}  // namespace vesklink
