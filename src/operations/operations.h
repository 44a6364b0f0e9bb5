// The host methods as device operations: each takes the register and typed inputs and returns
// its success or its result document; the host adapter (component/) turns host values into these
// arguments and the results back. The file of each family is named in its heading.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "operations/cash_register.h"

namespace vesklink {

inline constexpr char16_t DriverVersion[] = u"1.94";
inline constexpr uint32_t LineLength = 40;  // characters of one printed line

struct PortSettings {
    uint32_t Port = 1, Speed = 57600;
};

// A success and the document the host receives (possibly one from a step before a failure).
struct DocumentResult {
    bool Ok = false;
    std::optional<std::u16string> Document;
};

// description.cpp: GetDescription, GetParameters, GetAdditionalActions.
std::u16string BuildDescription();
std::u16string BuildSettingsForm();
std::u16string BuildActions();
// The port number from the text the settings form passes: its leading integer, read after the
// letters "COM" (any case) when the text starts with them, so the form's "COM1" selects port 1.
int32_t PortFromSettingText(std::u16string_view text);

// connection.cpp: Open, Close, DeviceTest.
bool Open(CashRegister& device, PortSettings settings);
void Close(CashRegister& device);
bool DeviceTest(CashRegister& device, PortSettings settings);

// reports.cpp: PrintXReport, PrintCheckCopy.
bool PrintXReport(CashRegister& device);
bool PrintCheckCopy(CashRegister& device, uint32_t documentNumber);

// cash.cpp: CashInOutcome (hundredths; negative takes cash out), OpenCashDrawer.
bool CashInOutcome(CashRegister& device, int64_t amount);
bool OpenCashDrawer(CashRegister& device);

// status.cpp: GetCurrentStatus, ReportCurrentStatusOfSettlements, and the close-shift report of
// both shift methods.
std::optional<std::u16string> GetCurrentStatus(CashRegister& device);
std::optional<std::u16string> ReportCurrentStatusOfSettlements(CashRegister& device);
std::optional<std::u16string> CloseShiftWithReport(CashRegister& device);

// shift.cpp: OpenShift (the cashier from its input document), CloseShift.
DocumentResult OpenShift(CashRegister& device, std::u16string_view cashierXml);
DocumentResult CloseShift(CashRegister& device);

// text_document.cpp: PrintTextDocument, and the text lines and barcodes receipts print too.
bool PrintTextDocument(CashRegister& device, std::u16string_view package);
bool PrintTextLine(CashRegister& device, std::u16string_view text);
void PrintBarcode(CashRegister& device, std::u16string_view type, std::u16string_view valueBase64);

// receipt.cpp: ProcessCheck, ProcessCorrectionCheck; the result document.
std::optional<std::u16string> RegisterReceipt(CashRegister& device, std::u16string_view package, bool correction,
                                              bool electronic);

// registration.cpp: GetDataKKT, OperationFN (type: 1 registration, 2 change of parameters,
// 3 closing the FN; none when the host's value is no such number).
std::optional<std::u16string> GetDataKKT(CashRegister& device);
bool OperationFN(CashRegister& device, std::optional<uint8_t> type, std::u16string_view parameters);

}  // namespace vesklink
