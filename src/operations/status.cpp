// The register's state: shift, backlog of unsent documents, cash in the drawer and the counters
// of the shift, reported by GetCurrentStatus and ReportCurrentStatusOfSettlements, and the
// close-shift sequence with its report.
#include "component/napi.h"
#include "protocol/device_queries.h"
#include "protocol/encoding.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr uint8_t kSettlementReport = 0x1F;
constexpr uint8_t kCloseShift = 0x41;
constexpr uint8_t kOperationCounters = 0xC0;
constexpr uint8_t kBacklog = 0xE4;
constexpr uint8_t kDocumentDate = 0xE5;
constexpr uint8_t kShift = 0xEC;
constexpr uint8_t kShiftState = 0xF2;
constexpr uint8_t kCashBalance = 0xFA;

// The cash balance as the host reads it: the hundredths taken as an unsigned number.
double BalanceTimesHundredth(int64_t hundredths) { return HundredthsToDouble(static_cast<uint64_t>(hundredths)); }

// OutputParameters/Parameters, the frame of every status document.
pugi::xml_node OutputParameters(pugi::xml_document& document) {
    return document.append_child(PUGIXML_TEXT("OutputParameters")).append_child(PUGIXML_TEXT("Parameters"));
}

void AppendBacklog(pugi::xml_node node, const nAPI& api) {
    AppendUnsigned(node, "BacklogDocumentsCounter", api.BacklogCount);
    AppendUnsigned(node, "BacklogDocumentFirstNumber", api.BacklogFirstNumber);
    AppendText(node, "BacklogDocumentFirstDateTime", api.BacklogFirstDateTime);
}

}  // namespace

bool nAPI::QueryShiftState() {
    if (!Link.ExecuteCommand(kShiftState)) return false;
    ShiftState = Link.ReplyBuffer[8];  // the device's code: 0 means no shift is open
    return true;
}

bool nAPI::QueryShiftNumbers() {
    if (!Link.ExecuteCommand(kShift) || Link.ReplyBuffer.size() < 14) return false;
    ShiftNumber = Link.ReplyInteger(9, 10);
    ShiftReceiptNumber = Link.ReplyInteger(11, 12);
    return true;
}

bool nAPI::QueryShift() {
    if (!QueryShiftNumbers()) return false;
    // The host's code: 1 closed, 2 open, 3 expired. Without a fresh device byte the state is
    // left as it was rather than converted a second time.
    if (QueryShiftState() && ShiftState != 3) ShiftState += 1;
    return true;
}

bool nAPI::QueryBacklog() {
    if (!Link.ExecuteCommand(kBacklog) || Link.ReplyBuffer.size() < 22) return false;
    BacklogCount = Link.ReplyInteger(10, 11);
    BacklogFirstNumber = Link.ReplyInteger(12, 15);
    bool dated = false;
    for (size_t i = 16; i <= 20; ++i) dated = dated || Link.ReplyBuffer[i] != 0;
    // Nothing waiting: the device gives no date, the computer's own time is reported.
    BacklogFirstDateTime = dated ? FormatDeviceDateTime(Link.ReplyBuffer, 16) : Widen(FormatLocalNow("%Y-%m-%dT%H:%M:%S"));
    return true;
}

bool nAPI::QueryDocumentDate(uint64_t documentNumber) {
    Link.PayloadBuffer = LittleEndianBytes(documentNumber, 4);
    if (!Link.ExecuteCommand(kDocumentDate, Link.PayloadBuffer) || Link.ReplyBuffer.size() < 16) return false;
    DeviceDateTime = FormatDeviceDateTime(Link.ReplyBuffer, 10);
    return true;
}

bool nAPI::QueryCashBalance() {
    if (!Link.ExecuteCommand(kCashBalance) || Link.ReplyBuffer.size() < 37) return false;
    CashBalance = static_cast<int64_t>(Link.ReplyInteger(8, 15));
    return true;
}

bool nAPI::QueryOperationCounters() {
    Link.PayloadBuffer = {0x00};
    if (!Link.ExecuteCommand(kOperationCounters, Link.PayloadBuffer) || Link.ReplyBuffer.size() < 362) return false;
    for (size_t type = 0; type < 4; ++type) {
        const size_t all = 14 + 76 * type;         // all receipts of the type: count, amount
        const size_t correction = 322 + 10 * type;  // correction receipts of the type: count, amount
        const uint64_t allCount = Link.ReplyInteger(all, all + 3);
        const uint64_t allAmount = Link.ReplyInteger(all + 4, all + 9);
        const uint64_t correctionCount = Link.ReplyInteger(correction, correction + 3);
        const uint64_t correctionAmount = Link.ReplyInteger(correction + 4, correction + 9);
        OperationCounters[4 * type + 0] = allCount - correctionCount;
        OperationCounters[4 * type + 1] = correctionCount;
        OperationCounters[4 * type + 2] = allAmount - correctionAmount;
        OperationCounters[4 * type + 3] = correctionAmount;
    }
    return true;
}

bool nAPI::SendCloseShift() {
    Link.PayloadBuffer = {0x00, 0x00};
    if (!Link.ExecuteCommand(kCloseShift, Link.PayloadBuffer) || Link.ReplyBuffer.size() < 15) return false;
    ShiftNumber = Link.ReplyInteger(8, 9);
    LastDocumentNumber = Link.ReplyInteger(10, 13);
    return true;
}

bool nAPI::QueryDeviceMode() { return vesklink::QueryDeviceMode(Link, DeviceModeByte); }

bool nAPI::QueryFnState() {
    return vesklink::QueryFnState(Link, FnFiscalMode, FnError, FnFail, FnOverflow, LastDocumentNumber);
}

bool nAPI::CloseShiftSequence(tVariant* params) {
    // The counters are read first: they are the totals of the shift about to be closed.
    if (!QueryOperationCounters() || !SendCloseShift() || !QueryFnState() || !QueryBacklog() || !QueryShift() ||
        !QueryDocumentDate(LastDocumentNumber) || !QueryCashBalance())
        return false;

    pugi::xml_document document;
    pugi::xml_node parameters = OutputParameters(document);
    AppendText(parameters, "DateTime", DeviceDateTime);
    AppendBacklog(parameters, *this);
    AppendFlag(parameters, "FNError", FnError);
    AppendFlag(parameters, "FNFail", FnFail);
    AppendFlag(parameters, "FNOverflow", FnOverflow);
    AppendSigned(parameters, "ShiftState", ShiftState);
    AppendAmount(parameters, "CashBalance", BalanceTimesHundredth(CashBalance));
    for (int type = 0; type < 4; ++type) {
        const std::string name = "CountersOperationType" + std::to_string(type + 1);
        pugi::xml_node counters = parameters.append_child(ToXmlText(Widen(name)).c_str());
        AppendUnsigned(counters, "CheckCount", OperationCounters[4 * type + 0]);
        AppendAmount(counters, "TotalChecksAmount", HundredthsToDouble(OperationCounters[4 * type + 2]));
        AppendUnsigned(counters, "CorrectionCheckCount", OperationCounters[4 * type + 1]);
        AppendAmount(counters, "TotalCorrectionChecksAmount", HundredthsToDouble(OperationCounters[4 * type + 3]));
    }
    ReturnString(SerializeDocument(document), &params[2]);
    return true;
}

bool nAPI::GetCurrentStatus(tVariant* params) {
    if (!QueryShift() || !QueryBacklog() || !QueryFnState()) return false;
    pugi::xml_document document;
    pugi::xml_node parameters = OutputParameters(document);
    AppendSigned(parameters, "ShiftNumber", static_cast<int64_t>(ShiftNumber));
    AppendSigned(parameters, "ShiftState", ShiftState);
    AppendSigned(parameters, "ShiftClosingCheckNumber", static_cast<int64_t>(ShiftReceiptNumber));
    AppendUnsigned(parameters, "CheckNumber", LastDocumentNumber);
    // The balance of the last settlement report or shift close; this method does not ask for it.
    AppendAmount(parameters, "Cachebalance", static_cast<double>(static_cast<uint64_t>(CashBalance)) / 100);
    AppendBacklog(parameters, *this);
    ReturnString(SerializeDocument(document), &params[2]);
    return true;
}

bool nAPI::ReportCurrentStatusOfSettlements(tVariant* params) {
    if (!QueryCashBalance() || !QueryShift() || !QueryBacklog()) return false;
    Link.PayloadBuffer = {0x00, 0x00};
    if (!Link.ExecuteCommand(kSettlementReport, Link.PayloadBuffer)) return false;
    pugi::xml_document document;
    pugi::xml_node parameters = OutputParameters(document);
    AppendSigned(parameters, "ShiftState", ShiftState);
    AppendAmount(parameters, "CashBalance", BalanceTimesHundredth(CashBalance));
    AppendBacklog(parameters, *this);
    ReturnString(SerializeDocument(document), &params[2]);
    return true;
}

}  // namespace vesklink
