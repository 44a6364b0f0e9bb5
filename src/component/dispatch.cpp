// Method and property dispatch: name lookup, the two properties and CallAsFunc.
#include <cmath>
#include <limits>

#include "component/names.h"
#include "component/napi.h"
#include "component/variant.h"
#include "util/text.h"

namespace vesklink {

namespace {

// Failure lines that the dispatcher itself writes; the other methods write their own.
const char16_t* DispatcherFailureLine(long method) {
    switch (method) {
        case GetParametersMethod: return u"GetParameters error";
        case GetAdditionalActionsMethod: return u"GetAdditionalActions";
        case GetDataKKTMethod: return u"GetDataKKT error";
        case OperationFNMethod: return u"OperationFN error";
        case ProcessCorrectionCheckMethod: return u"ProcessCorrectionCheck";
        case PrintTextDocumentMethod: return u"PrintTextDocument error";
        case GetCurrentStatusMethod: return u"GetCurrentStatus error";
        case ReportCurrentStatusOfSettlementsMethod: return u"ReportCurrentStatusOfSettlements error";
        default: return nullptr;
    }
}

// A property value set from a host variant: integers as they are, a double by its integer part,
// text by the leading-integer rule. Other types are refused.
bool PropertyValue(const tVariant& variant, int32_t& out) {
    int64_t number = 0;
    if (VariantInteger(variant, number)) {
    } else if (variant.vt == VTYPE_R8 || variant.vt == VTYPE_R4) {
        const double value = variant.vt == VTYPE_R8 ? variant.value.dblVal : variant.value.fltVal;
        if (std::isnan(value)) return false;
        const double whole = std::trunc(value);
        if (whole >= static_cast<double>(std::numeric_limits<int32_t>::max()))
            number = std::numeric_limits<int32_t>::max();
        else if (whole <= static_cast<double>(std::numeric_limits<int32_t>::min()))
            number = std::numeric_limits<int32_t>::min();
        else
            number = static_cast<int64_t>(whole);
    } else if (variant.vt == VTYPE_PWSTR) {
        number = LeadingInteger32(VariantString(variant));
    } else {
        return false;
    }
    if (number > std::numeric_limits<int32_t>::max()) number = std::numeric_limits<int32_t>::max();
    if (number < std::numeric_limits<int32_t>::min()) number = std::numeric_limits<int32_t>::min();
    out = static_cast<int32_t>(number);
    return true;
}

}  // namespace

long ADDIN_API nAPI::GetNProps() { return kPropertyCount; }

long ADDIN_API nAPI::FindProp(const WCHAR_T* propName) {
    if (!propName) return -1;
    try {
        std::u16string storage;
        return FindName(HostName(propName, storage), PropertyNamesEnglish, PropertyNamesRussian, kPropertyCount);
    } catch (...) {
        return -1;
    }
}

const WCHAR_T* ADDIN_API nAPI::GetPropName(long propNum, long propAlias) {
    if (propNum < 0 || propNum >= kPropertyCount || (propAlias != 0 && propAlias != 1)) return nullptr;
    try {
        return CopyToHost(propAlias == 0 ? PropertyNamesEnglish[propNum] : PropertyNamesRussian[propNum]);
    } catch (...) {
        return nullptr;
    }
}

bool ADDIN_API nAPI::GetPropVal(const long propNum, tVariant* value) {
    if (!value || propNum < 0 || propNum >= kPropertyCount) return false;
    try {
        const bool port = propNum == PortProperty;
        const int32_t number = port ? PortNumber : PortSpeed;
        SetInt32Variant(value, number);
        Log((port ? u"Get Portnumber " : u"Get PortSpeed ") + DecimalText(number), Info);
        return true;
    } catch (...) {
        return false;
    }
}

bool ADDIN_API nAPI::SetPropVal(const long propNum, tVariant* value) {
    if (!value || propNum < 0 || propNum >= kPropertyCount) return false;
    try {
        int32_t number = 0;
        if (!PropertyValue(*value, number)) return false;
        const bool port = propNum == PortProperty;
        (port ? PortNumber : PortSpeed) = number;
        Log((port ? u"Set Portnumber " : u"Set PortSpeed ") + DecimalText(number), Info);
        return true;
    } catch (...) {
        return false;
    }
}

bool ADDIN_API nAPI::IsPropReadable(const long) { return true; }
bool ADDIN_API nAPI::IsPropWritable(const long) { return true; }
long ADDIN_API nAPI::GetNMethods() { return kMethodCount; }

long ADDIN_API nAPI::FindMethod(const WCHAR_T* methodName) {
    if (!methodName) return -1;
    try {
        std::u16string storage;
        return FindName(HostName(methodName, storage), MethodNamesEnglish, MethodNamesRussian, kMethodCount);
    } catch (...) {
        return -1;
    }
}

const WCHAR_T* ADDIN_API nAPI::GetMethodName(const long methodNum, const long methodAlias) {
    if (methodNum < 0 || methodNum >= kMethodCount || (methodAlias != 0 && methodAlias != 1)) return nullptr;
    try {
        return CopyToHost(methodAlias == 0 ? MethodNamesEnglish[methodNum] : MethodNamesRussian[methodNum]);
    } catch (...) {
        return nullptr;
    }
}

long ADDIN_API nAPI::GetNParams(const long methodNum) {
    if (methodNum < 0 || methodNum >= kMethodCount) return 0;
    return MethodParamCounts[methodNum];
}

bool ADDIN_API nAPI::GetParamDefValue(const long, const long, tVariant*) { return false; }
bool ADDIN_API nAPI::HasRetVal(const long) { return true; }
bool ADDIN_API nAPI::CallAsProc(const long, tVariant*, const long) { return false; }

bool ADDIN_API nAPI::CallAsFunc(const long methodNum, tVariant* retValue, tVariant* params, const long paramCount) {
    if (methodNum < 0 || methodNum >= kMethodCount || !retValue) return false;
    // A call with fewer parameters than the method takes would read past the host's array.
    if (paramCount < MethodParamCounts[methodNum] || (MethodParamCounts[methodNum] > 0 && !params)) return false;
    try {
        CallStrings.clear();
        Dispatch(methodNum, retValue, params);
        CallStrings.clear();
        return true;
    } catch (...) {
        return false;
    }
}

bool nAPI::SetParameter(tVariant* params) {
    if (params[0].vt != VTYPE_PWSTR || params[1].vt != VTYPE_PWSTR) {
        Log(u"Неверный тип одного из параметров, должена быть строка", Error);
        return false;
    }
    const std::u16string name = VariantString(params[0]);
    const int32_t value = LeadingInteger32(VariantString(params[1]));
    const long index = FindName(name, PropertyNamesEnglish, PropertyNamesRussian, kPropertyCount);
    if (index == PortProperty) PortNumber = value;
    if (index == SpeedProperty) PortSpeed = value;
    return true;
}

bool nAPI::Dispatch(long method, tVariant* retValue, tVariant* params) {
    bool ok = false;
    switch (method) {
        case GetInterfaceRevisionMethod:
            SetUInt32Variant(retValue, InterfaceRevision);
            return true;
        case GetDescriptionMethod:
            // The result variant is left as the host passed it.
            GetDescription(params);
            return true;
        case GetLastErrorMethod:
            GetLastError(retValue, params);
            return true;
        case GetParametersMethod: ok = GetParameters(params); break;
        case SetParameterMethod: ok = SetParameter(params); break;
        case OpenMethod: ok = Open(); break;
        case CloseMethod: ok = Close(); break;
        case DeviceTestMethod: ok = DeviceTest(params); break;
        case GetAdditionalActionsMethod: ok = GetAdditionalActions(params); break;
        case DoAdditionalActionMethod: ok = true; break;
        case GetDataKKTMethod: ok = GetDataKKT(params); break;
        case OperationFNMethod: ok = OperationFN(params); break;
        case OpenShiftMethod: ok = OpenShift(params); break;
        case CloseShiftMethod: ok = CloseShift(params); break;
        case ProcessCheckMethod: ok = RegisterReceipt(params, false); break;
        case ProcessCorrectionCheckMethod: ok = RegisterReceipt(params, true); break;
        case PrintTextDocumentMethod:
            if (params[1].vt != VTYPE_PWSTR) {
                SetBoolVariant(retValue, false);
                return false;
            }
            ok = PrintTextDocument(VariantString(params[1]));
            break;
        case CashInOutcomeMethod: ok = CashInOutcome(params); break;
        case PrintXReportMethod: ok = PrintXReport(); break;
        case PrintCheckCopyMethod: ok = PrintCheckCopy(params); break;
        case GetCurrentStatusMethod: ok = GetCurrentStatus(params); break;
        case ReportCurrentStatusOfSettlementsMethod: ok = ReportCurrentStatusOfSettlements(params); break;
        case OpenCashDrawerMethod: ok = OpenCashDrawer(); break;
        case GetLineLengthMethod:
            SetUInt32Variant(&params[1], LineLength);
            ok = true;
            break;
        default:
            return false;
    }
    if (!ok) {
        if (const char16_t* line = DispatcherFailureLine(method)) Log(line, Error);
    }
    SetBoolVariant(retValue, ok);
    return ok;
}

}  // namespace vesklink
