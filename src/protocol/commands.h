// The register's command codes and where the fields of their replies lie. Offsets count from the
// first byte of the reply as received (0 acknowledgement, 1 start byte, 2-3 length, 5-6 status
// word, 8 onward the command's data); a Minimum is the reply length that holds every field read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesklink::cmd {

inline constexpr uint8_t ReadTable = 0x04, WriteTable = 0x05, ReadCashier = 0x09, WriteCashier = 0x0A,
                         DeviceTest = 0x13, RegisterKkt = 0x1D, CloseFn = 0x1E, SettlementReport = 0x1F,
                         OpenCashDrawer = 0x28, XReport = 0x40, CloseShift = 0x41, CashIn = 0x50, CashOut = 0x51,
                         Sale = 0x80, Purchase = 0x81, ReturnOfSale = 0x82, ReturnOfPurchase = 0x83,
                         CloseReceipt = 0x85, CancelReceipt = 0x88, Subtotal = 0x89, PrintCopy = 0x8C,
                         OpenReceipt = 0x8D, OperationCounters = 0xC0, OpenCorrectionReceipt = 0xD6,
                         DeviceError = 0xD7, WriteTag = 0xD8, OpenShift = 0xD9, OpenTextDocument = 0xDA,
                         PrintLine = 0xDB, PrintBarcode = 0xDE, FinishTextDocument = 0xDF, FnState = 0xE0,
                         FnSerial = 0xE1, DeviceMode = 0xE2, Backlog = 0xE4, DocumentDate = 0xE5,
                         RegistrationRecord = 0xE8, RegistrationTag = 0xE9, Shift = 0xEC, PrinterFlags = 0xF1,
                         ShiftState = 0xF2, ReceiptState = 0xF3, CashBalance = 0xFA, DeviceInfo = 0xFF;

// 0x04: parameter block 20, 13 bytes from offset 8.
namespace read_table { inline constexpr size_t Minimum = 22, Block = 8, BlockSize = 13; }
// 0x09: the cashier record, 96 bytes from offset 8: name (64 bytes at 3), INN (12 at 67), the rest.
namespace cashier {
inline constexpr size_t Minimum = 105, Record = 8, RecordSize = 96, Name = 3, NameWidth = 64, Inn = 67,
                        InnWidth = 12, Tail = 79;
}
// 0x41 and 0xD9: the shift number (8-9) and the document number (10-13).
namespace shift_document { inline constexpr size_t Minimum = 15, Shift = 8, Document = 10; }
// 0x85: flags (bit 7 of 15: payment short), shift 16-17, receipt in shift 18-19, document 20-23,
// fiscal sign 24-27.
namespace closing {
inline constexpr size_t Minimum = 29, Flags = 15, Shift = 16, ShiftReceipt = 18, Document = 20, FiscalSign = 24;
}
// 0x89: the receipt's subtotal at 8-15.
namespace subtotal { inline constexpr size_t Minimum = 16, Amount = 8; }
// 0xC0: per operation type t, all receipts (count, amount) at 14 + 76 t, correction receipts at
// 322 + 10 t; each a 4-byte count and a 6-byte amount.
namespace counters { inline constexpr size_t Minimum = 362, All = 14, AllStep = 76, Correction = 322, CorrectionStep = 10; }
// 0xD7: the error code (8-9) and 40 bytes of text from 10.
namespace device_error { inline constexpr size_t Minimum = 51, Code = 8, Text = 10, TextWidth = 40; }
// 0xE0: the state byte (3: fiscal mode), warning bits at 12 (0 error, 1 fail, 2 overflow), the
// last document number at 34-37 in a reply long enough to hold it.
namespace fn_state { inline constexpr size_t Minimum = 14, State = 8, Warnings = 12, Document = 34, WithDocument = 38; }
// 0xE1: the FN serial number, 16 bytes from 8.
namespace fn_serial { inline constexpr size_t Minimum = 24, Serial = 8, Width = 16; }
// 0xE2: the device mode byte (0: the FN is not registered).
namespace device_mode { inline constexpr size_t Minimum = 13, Mode = 12; }
// 0xE4: unsent documents (10-11), the first one's number (12-15) and date (16-20).
namespace backlog { inline constexpr size_t Minimum = 22, Count = 10, First = 12, Date = 16, DateLast = 20; }
// 0xE5: the document's date and time from 10.
namespace document_date { inline constexpr size_t Minimum = 16, DateTime = 10; }
// 0xE8: the registration record: date (8), KKT number (20 bytes at 25), taxation systems (45),
// document number (48-51). Receipts need it up to 51, GetDataKKT up to 52.
namespace registration_record {
inline constexpr size_t ForReceipt = 52, Minimum = 53, Date = 8, KktNumber = 25, KktNumberWidth = 20,
                        Taxation = 45, Document = 48;
}
// 0xE9: the value's 16-bit length at 10-11, the value from 12.
namespace registration_tag { inline constexpr size_t Length = 10, Value = 12; }
// 0xEC: shift number (9-10), receipts in the shift (11-12).
namespace shift { inline constexpr size_t Minimum = 14, Number = 9, Receipts = 11; }
// 0xF1: printer flags at 8 (bit 0 cover open, bit 1 paper out).
namespace printer_flags { inline constexpr size_t Minimum = 12, Flags = 8; }
// 0xF2: the shift state code at 8 (0 closed, 1 open, 2 expired).
namespace shift_state { inline constexpr size_t Minimum = 9, State = 8; }
// 0xF3: a receipt or a correction receipt open (8 and 9).
namespace receipt_state { inline constexpr size_t Minimum = 12, Receipt = 8, Correction = 9; }
// 0xFA: cash in the drawer at 8-15.
namespace cash_balance { inline constexpr size_t Minimum = 37, Amount = 8; }
// 0xFF: the KKT serial number (20 bytes at 40), the FN's FFD version code (77; 2 is 1.05).
namespace device_info { inline constexpr size_t Minimum = 78, Serial = 40, SerialWidth = 20, FfdCode = 77; }

}  // namespace vesklink::cmd
