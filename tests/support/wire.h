// The register's side of the wire as the tests read it: the command codes by name, named fields of
// the payloads the tests take apart, and the reply frames a register sends back. The tests keep
// their own reading of the protocol, apart from the driver's, so that a code or an offset the
// driver gets wrong is not mirrored here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace vktest {

namespace wire {

inline constexpr uint8_t ReadTable = 0x04, WriteTable = 0x05, ReadCashier = 0x09, WriteCashier = 0x0A,
                         DeviceTest = 0x13, RegisterKkt = 0x1D, CloseFn = 0x1E, SettlementReport = 0x1F,
                         OpenDrawer = 0x28, XReport = 0x40, CloseShift = 0x41, CashIn = 0x50, CashOut = 0x51,
                         SalePosition = 0x80, PurchasePosition = 0x81, ReturnOfSalePosition = 0x82,
                         ReturnOfPurchasePosition = 0x83, CloseReceipt = 0x85, CancelReceipt = 0x88, Subtotal = 0x89,
                         PrintCopy = 0x8C, OpenReceipt = 0x8D, Counters = 0xC0, OpenCorrection = 0xD6,
                         DeviceError = 0xD7, WriteTag = 0xD8, OpenShift = 0xD9, OpenText = 0xDA, PrintLine = 0xDB,
                         PrintBarcode = 0xDE, CloseText = 0xDF, FnState = 0xE0, FnSerial = 0xE1, DeviceMode = 0xE2,
                         Backlog = 0xE4, DocumentDate = 0xE5, RegistrationRecord = 0xE8, ReadTag = 0xE9,
                         ShiftNumbers = 0xEC, PrinterFlags = 0xF1, ShiftState = 0xF2, ReceiptState = 0xF3,
                         CashBalance = 0xFA, DeviceInfo = 0xFF;

// A field of a payload: its first byte and its size (ToTheEnd: the rest of the payload).
struct Field {
    size_t at, size;
};
inline constexpr size_t ToTheEnd = SIZE_MAX;

// SalePosition and its kin: flags, payment method, subject, country, quantity (thousandths),
// price (hundredths), excise, VAT code, then the name with its length and the optional parts.
namespace position {
inline constexpr Field Flags{0, 1}, Country{4, 3}, Excise{20, 8}, Vat{28, 1}, NameLength{29, 2}, Name{31, ToTheEnd},
                       AfterVat{29, ToTheEnd};
}
// OpenReceipt: flags, the operation type (0 sale ...), the taxation systems as bits.
namespace open_receipt { inline constexpr Field Flags{0, 2}, OperationType{2, 1}, Taxation{3, 1}; }
// CloseReceipt: flags, five payments of 8 bytes, and the subtotal correction when there is one.
namespace close_receipt { inline constexpr Field Flags{0, 2}, Payments{2, 40}, Correction{42, 1}; }
// WriteCashier: the table row asked for, then the record: three bytes as read, name, INN, the rest.
namespace cashier { inline constexpr Field Row{0, 4}, Head{4, 3}, Name{7, 64}, Inn{71, 12}, Tail{83, 17}; }
// RegisterKkt: the operation (0 registration, 2 change) and the reason code.
namespace register_kkt { inline constexpr Field Operation{3, 1}, Reason{4, 1}; }
// WriteTag and ReadTag (after the device mode byte): the tag number.
namespace write_tag { inline constexpr Field Tag{0, 2}; }
namespace read_tag { inline constexpr Field Tag{1, 2}; }
// PrintLine: two bytes of print flags, then the text.
namespace print_line { inline constexpr Field Text{2, ToTheEnd}; }
// PrintBarcode: the head of a QR code.
namespace barcode { inline constexpr Field QrHead{0, 7}; }

// The bytes of a field; those beyond the payload are left out, so a short payload shows.
inline std::vector<uint8_t> Slice(const std::vector<uint8_t>& payload, Field field) {
    if (field.at >= payload.size()) return {};
    const size_t size = field.size < payload.size() - field.at ? field.size : payload.size() - field.at;
    return {payload.begin() + static_cast<std::ptrdiff_t>(field.at),
            payload.begin() + static_cast<std::ptrdiff_t>(field.at + size)};
}
// A field as an unsigned little-endian number.
inline uint64_t Number(const std::vector<uint8_t>& payload, Field field) {
    const std::vector<uint8_t> bytes = Slice(payload, field);
    uint64_t value = 0;
    for (size_t i = bytes.size(); i-- > 0;) value = value << 8 | bytes[i];
    return value;
}
// Command sequences one after another.
inline std::vector<uint8_t> Then(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const std::vector<uint8_t>& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace wire

// ACK, then a reply frame: 0x01, L, the command, the status word, one reserved byte, the data,
// the checksum (the sum of the bytes after the start byte, its four bytes folded by XOR), where
// L = 4 + the data's size.
inline std::vector<uint8_t> ReplyFrame(uint8_t command, uint16_t status, const std::vector<uint8_t>& data = {}) {
    const size_t length = 4 + data.size();
    std::vector<uint8_t> frame;
    frame.reserve(length + 5);
    for (uint8_t b : {uint8_t{0x06}, uint8_t{0x01}, static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8),
                      command, static_cast<uint8_t>(status & 0xFF), static_cast<uint8_t>(status >> 8), uint8_t{0x00}})
        frame.push_back(b);
    for (uint8_t b : data) frame.push_back(b);
    uint32_t sum = 0;
    for (size_t i = 2; i < frame.size(); ++i) sum += frame[i];
    frame.push_back(static_cast<uint8_t>(sum ^ (sum >> 8) ^ (sum >> 16) ^ (sum >> 24)));
    return frame;
}

}  // namespace vktest
