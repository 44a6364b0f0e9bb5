// The names the host looks the component's methods and properties up by.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hostapi/addin_types.h"

namespace vesklink {

constexpr long kMethodCount = 24;
constexpr long kPropertyCount = 2;

enum Method : long {
    GetInterfaceRevisionMethod = 0,
    GetDescriptionMethod = 1,
    GetLastErrorMethod = 2,
    GetParametersMethod = 3,
    SetParameterMethod = 4,
    OpenMethod = 5,
    CloseMethod = 6,
    DeviceTestMethod = 7,
    GetAdditionalActionsMethod = 8,
    DoAdditionalActionMethod = 9,
    GetDataKKTMethod = 10,
    OperationFNMethod = 11,
    OpenShiftMethod = 12,
    CloseShiftMethod = 13,
    ProcessCheckMethod = 14,
    ProcessCorrectionCheckMethod = 15,
    PrintTextDocumentMethod = 16,
    CashInOutcomeMethod = 17,
    PrintXReportMethod = 18,
    PrintCheckCopyMethod = 19,
    GetCurrentStatusMethod = 20,
    ReportCurrentStatusOfSettlementsMethod = 21,
    OpenCashDrawerMethod = 22,
    GetLineLengthMethod = 23,
};

enum Property : long { PortProperty = 0, SpeedProperty = 1 };

extern const char16_t* const MethodNamesEnglish[kMethodCount];
extern const char16_t* const MethodNamesRussian[kMethodCount];
extern const long MethodParamCounts[kMethodCount];
extern const char16_t* const PropertyNamesEnglish[kPropertyCount];
extern const char16_t* const PropertyNamesRussian[kPropertyCount];

extern const char16_t ExtensionName[];
constexpr long InterfaceRevision = 3003;

// Index of the name in the English table, else in the Russian one, else -1. Exact, case-sensitive.
long FindName(std::u16string_view name, const char16_t* const* english, const char16_t* const* russian, long count);

}  // namespace vesklink
