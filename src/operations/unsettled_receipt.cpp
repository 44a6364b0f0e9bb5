// Settling a receipt whose closing went unanswered, and answering its retry.
#include "operations/unsettled_receipt.h"

#include "operations/cash_register.h"
#include "util/text.h"

namespace vesklink {

namespace {

std::u16string Described(const UnsettledReceipt& record) {
    return u"Чек, закрытие которого не подтверждено (" + Widen(record.Time) + u"), ";
}

}  // namespace

ClosingFound AskAfterClosing(CashRegister& device, const UnsettledReceipt& record, bool numberRequired,
                             ReceiptNumbers& numbers) {
    switch (QueryReceiptOnRegister(device.Link)) {
        case ReceiptOnRegister::Unknown: return ClosingFound::NoAnswer;
        case ReceiptOnRegister::Open: return ClosingFound::StillOpen;
        case ReceiptOnRegister::NotOpen: break;
    }
    // Only the closing reply carries the fiscal sign. A number the register cannot tell either is
    // reported as 0, never as the previous receipt's.
    device.ForgetLastDocument();
    device.DeviceDateTime.clear();
    device.QueryFnState();
    const uint64_t document = device.LastDocumentNumber;
    if (document == 0 && (numberRequired || record.LastDocumentBefore)) return ClosingFound::NoAnswer;
    // A register that restarted dropped the open receipt: no document came after the last one.
    if (record.LastDocumentBefore && document <= *record.LastDocumentBefore) return ClosingFound::Dropped;
    numbers = {};
    numbers.Document = document;
    if (const std::optional<ShiftNumbers> shift = QueryShiftNumbers(device.Link)) {
        numbers.Shift = shift->Shift;
        numbers.ShiftReceipt = shift->Receipts;
    }
    device.ReadFnsSiteAddress();
    if (document != 0) device.QueryDocumentDate(document);
    numbers.SiteAddress = device.FnsSiteAddress;
    numbers.DateTime = device.DeviceDateTime;
    device.Log(u"Чек зарегистрирован, но его фискальный признак не получен", Warning);
    return ClosingFound::Registered;
}

void ReceiptSafeguard::LoadRecord(CashRegister& device, uint32_t port) {
    if (registered_ && registered_->Receipt.Port != port) registered_.reset();
    if (unsettled_ && unsettled_->Port != port) unsettled_.reset();
    const std::string path = device.PathBesideLog(UnsettledReceiptName(port));
    if (unsettled_ || path.empty()) return;
    std::string problem;
    unsettled_ = ReadUnsettledReceiptFile(path, port, problem);
    onFile_ = unsettled_.has_value();
    if (unsettled_) {
        registered_.reset();
        askedThisCall_ = false;
    } else if (!problem.empty() && path + ": " + problem != reportedFile_) {
        // A bad file is reported once: it is left as it is, and never taken for a record.
        reportedFile_ = path + ": " + problem;
        device.Log(u"Файл " + Utf8ToUtf16(path) + u" пропущен: " + Utf8ToUtf16(problem), Warning);
    }
}

void ReceiptSafeguard::BeginClosing(CashRegister& device, UnsettledReceipt record) {
    registered_.reset();
    unsettled_ = std::move(record);
    // The call that sends the closing learns its outcome itself, or leaves it to the next call.
    askedThisCall_ = true;
    const std::string path = device.PathBesideLog(UnsettledReceiptName(unsettled_->Port));
    const std::string problem = path.empty() ? "no log folder" : WriteUnsettledReceiptFile(path, *unsettled_);
    onFile_ = problem.empty();
    if (onFile_ || writeReported_) return;
    writeReported_ = true;
    device.Log(u"Запись о закрытии чека не сохранена (" + Utf8ToUtf16(problem) +
                   u"): повтор чека после сбоя программы не будет распознан",
               Warning);
}

void ReceiptSafeguard::EndClosing(CashRegister& device) { Drop(device); }

void ReceiptSafeguard::Drop(CashRegister& device) {
    if (!unsettled_) return;
    const uint32_t port = unsettled_->Port;
    unsettled_.reset();
    // Only the driver's own record goes: whatever stands there otherwise is left alone.
    if (!onFile_) return;
    onFile_ = false;
    const std::string problem = RemoveUnsettledReceiptFile(device.PathBesideLog(UnsettledReceiptName(port)));
    if (!problem.empty()) device.Log(Utf8ToUtf16(problem), Warning);
}

void ReceiptSafeguard::SettleIfDue(CashRegister& device) {
    if (!unsettled_ || settling_ || askedThisCall_) return;
    // Only the register the receipt was sent to can tell.
    if (device.Port.ConnectedPort() != unsettled_->Port) return;
    settling_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{settling_};
    Settle(device);
}

void ReceiptSafeguard::Settle(CashRegister& device) {
    const std::u16string receipt = Described(*unsettled_);
    ReceiptNumbers numbers;
    switch (AskAfterClosing(device, *unsettled_, true, numbers)) {
        case ClosingFound::NoAnswer: askedThisCall_ = true; return;
        case ClosingFound::StillOpen:
            // The closing was not carried out, whatever becomes of the cancel: the receipt the
            // register still holds goes.
            Drop(device);
            if (device.CancelReceipt())
                device.Log(receipt + u"не зарегистрирован и отменен", Warning);
            else
                device.Log(receipt + u"не зарегистрирован; отменить его не удалось", Warning);
            return;
        case ClosingFound::Dropped: device.Log(receipt + u"не зарегистрирован: ККТ его не закрыла", Warning); break;
        case ClosingFound::Registered:
            device.Log(receipt + u"зарегистрирован, номер документа " + DecimalTextUnsigned(numbers.Document), Warning);
            registered_ = RegisteredReceipt{*unsettled_, numbers};
            break;
    }
    Drop(device);
}

void ReceiptSafeguard::ReceiptCancelled(CashRegister& device) {
    if (!unsettled_) return;
    device.Log(Described(*unsettled_) + u"не зарегистрирован и отменен", Warning);
    Drop(device);
}

RetryAnswer ReceiptSafeguard::AnswerRetry(CashRegister& device, bool correction, bool electronic,
                                          std::u16string_view package, ReceiptNumbers& numbers) {
    if (!registered_) return RetryAnswer::NotARetry;
    if (!registered_->Receipt.SameReceipt(correction, electronic, package)) {
        registered_.reset();
        return RetryAnswer::NotARetry;
    }
    // A port that is not connected reaches no register: the call fails on its own, and the retry
    // after the next Open is still answered.
    if (registered_->Receipt.Port != device.Port.ConnectedPort()) return RetryAnswer::NotARetry;
    const std::optional<FnState> fn = QueryFnState(device.Link);
    if (!fn || !fn->LastDocumentNumber) return RetryAnswer::NoAnswer;
    if (*fn->LastDocumentNumber != registered_->Numbers.Document) {
        // The register has made a document since: the receipt is no longer the last one.
        registered_.reset();
        return RetryAnswer::NotARetry;
    }
    numbers = registered_->Numbers;
    device.Log(u"Повторная отправка чека: ответ из зарегистрированного чека, номер документа " +
                   DecimalTextUnsigned(numbers.Document),
               Warning);
    return RetryAnswer::Answered;
}

}  // namespace vesklink
