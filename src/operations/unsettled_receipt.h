// A receipt whose closing command may have reached the register without the driver learning what
// became of it: the line died, or the host process was ended, between the closing command and its
// answer. A retry of such a receipt must never register the sale a second time.
//
// The driver writes a record of the receipt into a small file beside the log (one per port,
// unsettled-COM<port>.xml) before the closing command goes out, and removes it as soon as the
// outcome is known. Until then the receipt is unsettled: the next call that reaches the register,
// in this component object or in a new one after a crash, first asks the register (0xF3) and
// settles it. A receipt still open was not registered and is cancelled; no receipt open means the
// closing was carried out (the driver holds the port alone, and only a closing or a cancel ends an
// open receipt), unless the register's last document number is no higher than before the receipt
// (a register that restarted drops its open receipt). A receipt settled as registered answers a
// retry of the same package with its numbers while the register has made no fiscal document since.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesklink {

class CashRegister;

struct UnsettledReceipt {
    bool Correction = false;  // ProcessCorrectionCheck; else ProcessCheck
    bool Electronic = false;
    std::u16string Package;   // exactly as the host passed it
    uint32_t Port = 0;
    std::string Time;         // local time the closing command was sent, YYYY-MM-DDThh:mm:ss
    // The register's last fiscal document before the receipt, where the driver knew it.
    std::optional<uint64_t> LastDocumentBefore;

    bool SameReceipt(bool correction, bool electronic, std::u16string_view package) const {
        return Correction == correction && Electronic == electronic && Package == package;
    }
};

// The numbers of a registered receipt, for its result document.
struct ReceiptNumbers {
    uint64_t Shift = 0, ShiftReceipt = 0, Document = 0;
    std::u16string FiscalSign, SiteAddress, DateTime;
};

// A receipt settled as registered: an identical retry is answered with it.
struct RegisteredReceipt {
    UnsettledReceipt Receipt;
    ReceiptNumbers Numbers;
};

// What the register tells after a closing whose reply did not come: the receipt is still open (the
// closing was not carried out), it was registered (its numbers are read: 0xE0, 0xEC, tag 1060,
// 0xE5), it was dropped (no receipt open, and no document after the last one known from before
// the receipt), or the register does not answer. Without a number known from before, a number
// the register cannot tell is reported as 0 unless `numberRequired`.
enum class ClosingFound { StillOpen, Registered, Dropped, NoAnswer };
ClosingFound AskAfterClosing(CashRegister& device, const UnsettledReceipt& record, bool numberRequired,
                             ReceiptNumbers& numbers);

// A receipt call measured against a receipt settled as registered.
enum class RetryAnswer {
    NotARetry,  // another receipt, or the register has made a document since: registered as usual
    Answered,   // the same receipt: answered with the registered one's numbers
    NoAnswer,   // the same receipt, but the register cannot tell whether it made a document since
};

// The name of a port's record file in the log folder.
std::string UnsettledReceiptName(uint32_t port);
// Writes the record whole to a file of its own, then puts it in place of the record file, so a
// process ended at any moment leaves either the whole record or none. Empty text on success, else
// what went wrong.
std::string WriteUnsettledReceiptFile(const std::string& path, const UnsettledReceipt& record);
// The record in a port's file. Nothing, with `problem` empty, when there is no file; nothing, with
// `problem` saying why, when the file cannot be read or holds no record of this port.
std::optional<UnsettledReceipt> ReadUnsettledReceiptFile(const std::string& path, uint32_t port,
                                                         std::string& problem);
// Empty text when the file is gone afterwards, else why it is not.
std::string RemoveUnsettledReceiptFile(const std::string& path);

// What a component object knows about the receipts it may have left unsettled on its port.
class ReceiptSafeguard {
public:
    // The record of the port just opened, from its file (a record for another port is dropped
    // from memory; its file stays for that port). A file that holds no record is reported once.
    void LoadRecord(CashRegister& device, uint32_t port);
    // Before the closing command: the record is kept in memory and in its file. A file that cannot
    // be written is reported once and does not stop the sale.
    void BeginClosing(CashRegister& device, UnsettledReceipt record);
    // The outcome of the closing is known: the record goes.
    void EndClosing(CashRegister& device);
    // The closing's outcome could not be learnt in the call: the next call asks.
    void LeaveUnsettled() { askedThisCall_ = true; }

    // The register cancelled the open receipt: one left unsettled was not registered.
    void ReceiptCancelled(CashRegister& device);

    // A new host call: a record left unsettled may be asked about again.
    void BeginCall() { askedThisCall_ = false; }
    // Before any exchange: an unsettled record of the open port is settled first, once per call.
    void SettleIfDue(CashRegister& device);
    bool HasUnsettled() const { return unsettled_.has_value(); }

    // A retry of a receipt settled as registered is answered with its numbers while the register
    // has made no fiscal document since (0xE0). Any other receipt forgets it.
    RetryAnswer AnswerRetry(CashRegister& device, bool correction, bool electronic, std::u16string_view package,
                            ReceiptNumbers& numbers);
    // A fiscal document is about to be made: a registered receipt no longer answers a retry.
    void Forget() { registered_.reset(); }

private:
    void Settle(CashRegister& device);
    void Drop(CashRegister& device);

    std::optional<UnsettledReceipt> unsettled_;
    std::optional<RegisteredReceipt> registered_;
    bool onFile_ = false;  // the record in memory is the one in its file
    bool askedThisCall_ = false;
    bool settling_ = false;
    bool writeReported_ = false;
    std::string reportedFile_;  // the bad record file already reported, with what is wrong
};

}  // namespace vesklink
