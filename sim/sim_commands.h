// The register's command codes by name: the one place the simulator spells them. The command
// table (sim_device.cpp) maps each to its handler and to the name scripts may use.
#pragma once

#include <cstdint>

namespace vesklink::sim::cmd {

enum Code : uint8_t {
    // Tables.
    kReadTable = 0x04,
    kWriteTable = 0x05,
    kReadRecord = 0x09,
    kWriteRecord = 0x0A,
    // Registration and the FN.
    kFiscalRegistration = 0x1D,
    kCloseFn = 0x1E,
    kRegistrationRecord = 0xE8,
    kRegistrationAttribute = 0xE9,
    // Shifts, cash and reports.
    kSettlementReport = 0x1F,
    kOpenDrawer = 0x28,
    kXReport = 0x40,
    kCloseShift = 0x41,
    kCashIn = 0x50,
    kCashOut = 0x51,
    kOpenShift = 0xD9,
    // Receipts.
    kSalePosition = 0x80,
    kPurchasePosition = 0x81,
    kSaleReturnPosition = 0x82,
    kPurchaseReturnPosition = 0x83,
    kCloseReceipt = 0x85,
    kCancelDocument = 0x88,
    kSubtotal = 0x89,
    kPrintCopy = 0x8C,
    kOpenReceipt = 0x8D,
    kOpenCorrection = 0xD6,
    kWriteTag = 0xD8,
    // Text documents.
    kOpenTextDocument = 0xDA,
    kPrintLine = 0xDB,
    kPrintBarcode = 0xDE,
    kCloseTextDocument = 0xDF,
    // Queries.
    kDeviceTest = 0x13,
    kCounters = 0xC0,
    kLastError = 0xD7,
    kFnState = 0xE0,
    kFnSerial = 0xE1,
    kDeviceMode = 0xE2,
    kBacklog = 0xE4,
    kDocumentDate = 0xE5,
    kShiftInfo = 0xEC,
    kPrinterFlags = 0xF1,
    kShiftState = 0xF2,
    kReceiptState = 0xF3,
    kCashBalance = 0xFA,
    kDeviceInfo = 0xFF,
};

}  // namespace vesklink::sim::cmd
