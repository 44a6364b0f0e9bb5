// Everything the register remembers: the FN and its registration, the shift, the fiscal journal,
// the counters, the cash in the drawer, the tables, the document being built, the last error.
// This is what the state file keeps across restarts.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vesklink::sim {

// Text of a fixed-width field: up to its first zero byte.
inline std::string UpToZero(std::string text) {
    const auto zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

// The cashier record (table 320, record 1) as 0x09 and 0x0A carry it: the cashier's name in the
// 64 bytes from byte 3, the cashier's INN in the 12 bytes from byte 67.
constexpr size_t kCashierRecordSize = 96;
constexpr size_t kCashierNameAt = 3;
constexpr size_t kCashierNameSize = 64;
constexpr size_t kCashierInnAt = 67;
constexpr size_t kCashierInnSize = 12;
using CashierRecord = std::array<uint8_t, kCashierRecordSize>;

std::string CashierName(const uint8_t* record);
std::string CashierInn(const uint8_t* record);
// The name field filled with the name (code page 866), cut to its size, zeros after it.
void SetCashierName(CashierRecord& record, std::string_view cp866);

// Date and time as the register sends it: year within the century, month, day, hour, minute.
using DeviceTime = std::array<uint8_t, 5>;

// Document types kept in the journal (the FN's own numbering of document kinds).
enum DocumentType : uint8_t {
    kDocRegistration = 1,
    kDocShiftOpen = 2,
    kDocReceipt = 3,
    kDocShiftClose = 5,
    kDocFnClose = 6,
    kDocReregistration = 11,
    kDocSettlementReport = 21,
    kDocCorrection = 31,
};

// Counters of one operation type (1 sale, 2 return of sale, 3 purchase, 4 return of purchase).
struct TypeCounters {
    uint32_t count = 0;  // all receipts of the type, correction receipts included
    uint64_t amount = 0;  // hundredths, correction receipts included
    uint32_t correctionCount = 0;
    uint64_t correctionAmount = 0;
    std::array<uint64_t, 5> payments{};  // cash, electronic, prepayment, postpayment, barter
    std::array<uint64_t, 6> vat{};  // turnover per VAT code 1..6
};

struct FiscalTag {
    uint16_t tag = 0;
    std::string value;  // code page 866
};

struct Position {
    uint8_t flags = 0;
    uint8_t paymentMethod = 0;
    uint8_t subject = 0;
    uint8_t vat = 1;
    std::string country = "000";
    uint64_t quantity = 0;  // thousandths
    int64_t price = 0;  // hundredths
    int64_t excise = 0;
    int64_t amount = 0;  // computed by the register
    std::string name;  // code page 866
    std::vector<FiscalTag> tags;  // attributes written just before the position
};

enum class DocumentKind : uint8_t { None = 0, Receipt = 1, Correction = 2, Text = 3 };

// The document being built: a receipt, a correction receipt or a text document.
struct OpenDocument {
    DocumentKind kind = DocumentKind::None;
    uint16_t mode = 4;  // 4 printed, 6 electronic
    uint8_t operation = 0;  // 0 sale, 1 return of sale, 2 purchase, 3 return of purchase
    uint8_t taxation = 0;  // the taxation bit
    uint8_t correctionType = 0;
    std::string correctionDescription;
    bool correctionHasDate = false;
    std::array<uint8_t, 3> correctionDate{};
    std::string correctionNumber;
    std::vector<Position> positions;
    std::vector<FiscalTag> pendingTags;  // written since the last position
    std::vector<std::string> body;  // printed lines so far, code page 866
};

// A fiscal document of the FN's journal, with what was printed for it (for copies).
struct Document {
    uint32_t number = 0;
    uint8_t type = 0;
    DeviceTime time{};
    uint32_t fiscalSign = 0;
    std::vector<std::string> lines;  // code page 866
};

struct Registration {
    DeviceTime time{};
    std::string kktNumber;  // code page 866, up to 20 bytes
    std::string inn;
    uint8_t taxation = 0;  // one bit per taxation system 0..5
    uint8_t agentTypes = 0;
    uint8_t reason = 0;
    uint8_t operatingModes = 0;  // bit 0 encryption, 1 offline, 2 automatic, 3 service, 4 BSO, 5 online only
    uint32_t documentNumber = 0;
    std::map<uint16_t, std::string> attributes;  // raw values as 0xE9 returns them
};

struct DeviceState {
    // The FN.
    bool registered = true;
    uint8_t modeByte = 1;  // reported by 0xE2 while registered; 0 is reported for an unregistered FN
    uint8_t fnState = 3;  // 1 ready for registration, 3 fiscal mode, 7 closed
    uint8_t fnWarnings = 0;  // bit 0 error, bit 1 failure, bit 2 memory nearly full
    std::string fnSerial = "9999078900012345";
    std::string kktSerial = "0001234567890";
    uint8_t ffdCode = 2;  // 2 is FFD 1.05
    Registration registration;

    // The shift.
    bool shiftOpen = false;
    uint16_t shiftNumber = 0;  // number of the last shift opened
    uint16_t shiftReceiptNumber = 0;  // receipts in the current (or last) shift
    int64_t shiftOpenedAt = 0;  // device clock, seconds since the epoch

    // Fiscal documents.
    uint32_t lastDocumentNumber = 0;
    uint32_t lastSentDocument = 0;  // documents after this one wait for the OFD
    bool ofdOnline = false;  // when on, every document counts as sent at once
    std::vector<Document> journal;

    // Counters of the current (or last) shift and since registration.
    std::array<TypeCounters, 4> shiftCounters{};
    std::array<TypeCounters, 4> totalCounters{};

    // Cash in the drawer and the shift's cash operations, hundredths.
    int64_t cash = 0;
    uint64_t shiftCashIn = 0;
    uint64_t shiftCashOut = 0;
    uint32_t shiftCashOperations = 0;
    uint32_t drawerOpenings = 0;

    // Tables: receipt settings (table 20) and the cashier (table 320, record 1).
    std::array<uint8_t, 13> receiptSettings{};
    CashierRecord cashier{};

    OpenDocument document;

    uint16_t lastErrorCode = 0;
    std::string lastErrorText;  // code page 866

    // Printer sensors.
    bool paperOut = false;
    bool coverOpen = false;

    // Seconds added to the computer's clock to give the register's clock.
    int64_t clockOffset = 0;
};

// A new register: registered in fiscal mode with its shift closed, or with an FN ready for
// registration. now is the device clock (seconds since the epoch).
DeviceState NewDeviceState(bool registered, int64_t now);

// Local date and time of a device clock reading, in the register's five-byte form.
DeviceTime ToDeviceTime(int64_t seconds);

std::string SerializeState(const DeviceState& state);
bool ParseState(std::string_view text, DeviceState& state, std::string& error);

// The file is written to a temporary file beside it, flushed to disk and renamed over the old
// one, so a killed simulator leaves either the old or the new state, never a torn one.
bool SaveStateFile(const std::string& path, const DeviceState& state, std::string& error);
// false with an error when the file exists but cannot be read or parsed; a missing file is
// reported through exists = false.
bool LoadStateFile(const std::string& path, DeviceState& state, bool& exists, std::string& error);

// Writes all of the text, again after a signal; false (errno says why) when it cannot.
bool WriteAll(int fd, std::string_view text);
// Reads a whole file: 0, the errno of opening it, or -1 when it cannot be read to its end.
int ReadWholeFile(const std::string& path, std::string& text);

}  // namespace vesklink::sim
