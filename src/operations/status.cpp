// GetCurrentStatus and ReportCurrentStatusOfSettlements: the register's shift, backlog of unsent
// documents, cash in the drawer and counters; and the close-shift sequence with its report, which
// both shift methods run.
#include "operations/operations.h"
#include "protocol/commands.h"
#include "protocol/encoding.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

// The cash balance as the host reads it: the hundredths taken as an unsigned number.
double BalanceTimesHundredth(int64_t hundredths) { return HundredthsToDouble(static_cast<uint64_t>(hundredths)); }

void AppendBacklog(pugi::xml_node node, const Backlog& backlog) {
    AppendUnsigned(node, "BacklogDocumentsCounter", backlog.Count);
    AppendUnsigned(node, "BacklogDocumentFirstNumber", backlog.FirstNumber);
    AppendText(node, "BacklogDocumentFirstDateTime", backlog.FirstDateTime);
}

void AppendCounters(pugi::xml_node parameters, const ShiftCounters& counters) {
    for (int type = 0; type < 4; ++type) {
        const ShiftCounters::Type& t = counters.Types[type];
        const std::string name = "CountersOperationType" + std::to_string(type + 1);
        pugi::xml_node node = parameters.append_child(ToXmlText(Widen(name)).c_str());
        AppendUnsigned(node, "CheckCount", t.Receipts);
        AppendAmount(node, "TotalChecksAmount", HundredthsToDouble(t.ReceiptsAmount));
        AppendUnsigned(node, "CorrectionCheckCount", t.Corrections);
        AppendAmount(node, "TotalCorrectionChecksAmount", HundredthsToDouble(t.CorrectionsAmount));
    }
}

}  // namespace

std::optional<std::u16string> CloseShiftWithReport(CashRegister& device) {
    // The counters are read first: they are the totals of the shift about to be closed.
    const std::optional<ShiftCounters> counters = QueryShiftCounters(device.Link);
    if (!counters || !device.SendShiftCommand(cmd::CloseShift)) return {};
    const std::optional<FnState> fn = device.QueryFnState();
    if (!fn) return {};
    const std::optional<Backlog> backlog = QueryBacklog(device.Link);
    if (!backlog || !device.QueryShift() || !device.QueryDocumentDate(device.LastDocumentNumber) ||
        !device.QueryCashBalance())
        return {};

    pugi::xml_document document;
    pugi::xml_node parameters = AppendOutputParameters(document);
    AppendText(parameters, "DateTime", device.DeviceDateTime);
    AppendBacklog(parameters, *backlog);
    AppendFlag(parameters, "FNError", fn->Error);
    AppendFlag(parameters, "FNFail", fn->Fail);
    AppendFlag(parameters, "FNOverflow", fn->Overflow);
    AppendSigned(parameters, "ShiftState", device.ShiftState);
    AppendAmount(parameters, "CashBalance", BalanceTimesHundredth(device.CashBalance));
    AppendCounters(parameters, *counters);
    return SerializeDocument(document);
}

std::optional<std::u16string> GetCurrentStatus(CashRegister& device) {
    const std::optional<ShiftNumbers> shift = device.QueryShift();
    if (!shift) return {};
    const std::optional<Backlog> backlog = QueryBacklog(device.Link);
    if (!backlog || !device.QueryFnState()) return {};
    pugi::xml_document document;
    pugi::xml_node parameters = AppendOutputParameters(document);
    AppendSigned(parameters, "ShiftNumber", static_cast<int64_t>(shift->Shift));
    AppendSigned(parameters, "ShiftState", device.ShiftState);
    AppendSigned(parameters, "ShiftClosingCheckNumber", static_cast<int64_t>(shift->Receipts));
    AppendUnsigned(parameters, "CheckNumber", device.LastDocumentNumber);
    // The balance of the last settlement report or shift close; this method does not ask for it.
    // "Cachebalance" is spelled so on purpose: the host reads this document's attribute by it.
    AppendAmount(parameters, "Cachebalance", static_cast<double>(static_cast<uint64_t>(device.CashBalance)) / 100);
    AppendBacklog(parameters, *backlog);
    return SerializeDocument(document);
}

std::optional<std::u16string> ReportCurrentStatusOfSettlements(CashRegister& device) {
    if (!device.QueryCashBalance() || !device.QueryShift()) return {};
    const std::optional<Backlog> backlog = QueryBacklog(device.Link);
    if (!backlog) return {};
    device.FiscalDocumentAhead();
    if (!device.Link.Exchange(cmd::SettlementReport, {0x00, 0x00}).Executed()) return {};
    pugi::xml_document document;
    pugi::xml_node parameters = AppendOutputParameters(document);
    AppendSigned(parameters, "ShiftState", device.ShiftState);
    AppendAmount(parameters, "CashBalance", BalanceTimesHundredth(device.CashBalance));
    AppendBacklog(parameters, *backlog);
    return SerializeDocument(document);
}

}  // namespace vesklink
