// Method and property dispatch: name lookup, the two properties, and the method table that
// turns each call's host values into one operation's arguments and its result back.
#include <iterator>
#include <optional>

#include "component/names.h"
#include "component/napi.h"
#include "component/variant.h"
#include "operations/operations.h"
#include "protocol/encoding.h"
#include "util/text.h"

namespace vesklink {

namespace {

// The index of a name the host looks up, or -1.
template <typename Entry, size_t N>
long FindHostName(const WCHAR_T* name, const Entry (&table)[N]) {
    if (!name) return -1;
    try {
        return FindName(HostText(name), table);
    } catch (...) {
        return -1;
    }
}

// A name in host memory: alias 0 the English one, 1 the Russian one.
template <typename Entry, size_t N>
const WCHAR_T* NameForHost(nAPI& component, long index, long alias, const Entry (&table)[N]) {
    if (index < 0 || index >= static_cast<long>(N) || (alias != 0 && alias != 1)) return nullptr;
    try {
        return component.CopyToHost(alias == 0 ? table[index].English : table[index].Russian);
    } catch (...) {
        return nullptr;
    }
}

PortSettings Settings(const nAPI& component) {
    return {static_cast<uint32_t>(component.PortNumber), static_cast<uint32_t>(component.PortSpeed)};
}

// The operation type of OperationFN: a whole number that fits its one byte; 259 must never close
// the FN as if it were 3.
std::optional<uint8_t> OperationType(const tVariant& variant) {
    int64_t number = 0;
    if (!VariantWholeNumber(variant, number) || number < 0 || number > 0xFF) return {};
    return static_cast<uint8_t>(number);
}

// The cash amount of CashInOutcome in hundredths: a number, or decimal text.
std::optional<int64_t> CashAmount(const tVariant& variant) {
    int64_t whole = 0;
    if (VariantInteger(variant, whole)) return HundredthsFromInteger(whole);
    if (variant.vt == VTYPE_R8) return HundredthsFromDouble(variant.value.dblVal);
    if (variant.vt == VTYPE_R4) return HundredthsFromDouble(variant.value.fltVal);
    if (variant.vt == VTYPE_PWSTR) return ParseScaledDecimal(VariantString(variant), 2);
    return {};
}

// "ProcessCheck" passes the electronic flag as a boolean; an integer counts as set when it is not zero.
bool ElectronicFlag(const tVariant& variant) {
    if (variant.vt == VTYPE_BOOL) return variant.value.bVal;
    int64_t number = 0;
    return VariantInteger(variant, number) && number != 0;
}

// What a handler made of a call. Succeeded and Failed become the method's boolean result, and a
// failing method's line, where it has one, is logged after the handler; Answered means the
// handler has set the result variant itself, or leaves it as the host passed it.
enum class Result { Succeeded, Failed, Answered };

Result Outcome(bool ok) { return ok ? Result::Succeeded : Result::Failed; }

// A result document handed to the host, when the operation produced one; the operation's success.
Result Hand(nAPI& component, const std::optional<std::u16string>& document, tVariant* out) {
    if (document) component.ReturnString(*document, out);
    return Outcome(document.has_value());
}

Result Hand(nAPI& component, const DocumentResult& result, tVariant* out) {
    Hand(component, result.Document, out);
    return Outcome(result.Ok);
}

bool SetParameter(nAPI& component, tVariant* params) {
    if (params[0].vt != VTYPE_PWSTR || params[1].vt != VTYPE_PWSTR) {
        // "должена" is spelled so on purpose: the host contract's own text.
        component.Log(u"Неверный тип одного из параметров, должена быть строка", Error);
        return false;
    }
    const int32_t value = LeadingInteger32(VariantString(params[1]));
    const long index = FindName(VariantString(params[0]), PropertyNames);
    if (index == PortProperty) component.PortNumber = PortFromSettingText(VariantString(params[1]));
    if (index == SpeedProperty) component.PortSpeed = value;
    return true;
}

void AnswerLastError(nAPI& component, tVariant* retValue, tVariant* params) {
    ErrorState& error = component.Device.LastError;
    // A text the driver recorded itself is answered once; after that the device is asked.
    if (error.AskDevice) component.Device.QueryDeviceError();
    component.ReturnString(error.Text, &params[0]);
    SetUInt32Variant(retValue, static_cast<uint32_t>(error.Code));
    error.AskDevice = true;
}

// One entry per host method, in the host's order (its index is the method's number): its names,
// how many parameters it takes, its handler and its failure line.
struct Method : HostName {
    long Params;
    Result (*Call)(nAPI& component, tVariant* retValue, tVariant* params);
    const char16_t* FailureLine = nullptr;
};

const Method kMethods[] = {
    {{u"GetInterfaceRevision", u"ПолучитьРевизиюИнтерфейса"}, 0,
     [](nAPI&, tVariant* r, tVariant*) {
         SetUInt32Variant(r, InterfaceRevision);
         return Result::Answered;
     }},
    {{u"GetDescription", u"ПолучитьОписание"}, 1,
     [](nAPI& c, tVariant*, tVariant* p) {
         const std::u16string description = BuildDescription();
         // No blank after "is", on purpose: the host contract's own line.
         c.Log(u"Description is" + description, Info);
         c.ReturnString(description, &p[0]);
         return Result::Answered;  // the result variant stays as the host passed it
     }},
    {{u"GetLastError", u"ПолучитьОшибку"}, 1,
     [](nAPI& c, tVariant* r, tVariant* p) {
         AnswerLastError(c, r, p);
         return Result::Answered;
     }},
    {{u"GetParameters", u"ПолучитьПараметры"}, 1,
     [](nAPI& c, tVariant*, tVariant* p) { return Outcome(c.ReturnString(BuildSettingsForm(), &p[0])); },
     u"GetParameters error"},
    {{u"SetParameter", u"УстановитьПараметр"}, 2,
     [](nAPI& c, tVariant*, tVariant* p) { return Outcome(SetParameter(c, p)); }},
    {{u"Open", u"Подключить"}, 1,
     [](nAPI& c, tVariant*, tVariant*) { return Outcome(Open(c.Device, Settings(c))); }, u"Open error"},
    {{u"Close", u"Отключить"}, 1,
     [](nAPI& c, tVariant*, tVariant*) {
         Close(c.Device);
         return Result::Succeeded;
     }},
    {{u"DeviceTest", u"ТестУстройства"}, 2,
     [](nAPI& c, tVariant*, tVariant* p) {
         c.ReturnString(u"", &p[1]);
         const bool ok = DeviceTest(c.Device, Settings(c));
         c.ReturnString(ok ? u"Test OK" : u"Test not OK", &p[0]);
         return Outcome(ok);
     },
     u"Ошибка теста устройства!"},
    {{u"GetAdditionalActions", u"ПолучитьДополнительныеДействия"}, 1,
     [](nAPI& c, tVariant*, tVariant* p) { return Outcome(c.ReturnString(BuildActions(), &p[0])); },
     u"GetAdditionalActions"},
    {{u"DoAdditionalAction", u"ВыполнитьДополнительноеДействие"}, 0,
     [](nAPI&, tVariant*, tVariant*) { return Result::Succeeded; }},
    {{u"GetDataKKT", u"ПолучитьПараметрыККТ"}, 2,
     [](nAPI& c, tVariant*, tVariant* p) {
         // A document the host never receives is no success.
         const std::optional<std::u16string> document = GetDataKKT(c.Device);
         return Outcome(document && c.ReturnString(*document, &p[1]));
     },
     u"GetDataKKT error"},
    {{u"OperationFN", u"ОперацияФН"}, 3,
     [](nAPI& c, tVariant*, tVariant* p) {
         return Outcome(OperationFN(c.Device, OperationType(p[1]), VariantString(p[2])));
     },
     u"OperationFN error"},
    {{u"OpenShift", u"ОткрытьСмену"}, 3,
     [](nAPI& c, tVariant*, tVariant* p) { return Hand(c, OpenShift(c.Device, VariantTextLenient(p[1])), &p[2]); },
     u"Ошибка открытия смены"},
    {{u"CloseShift", u"ЗакрытьСмену"}, 3,
     [](nAPI& c, tVariant*, tVariant* p) { return Hand(c, CloseShift(c.Device), &p[2]); },
     u"Ошибка закрытия смены"},
    {{u"ProcessCheck", u"СформироватьЧек"}, 4,
     [](nAPI& c, tVariant*, tVariant* p) {
         return Hand(c, RegisterReceipt(c.Device, VariantString(p[2]), false, ElectronicFlag(p[1])), &p[3]);
     }},
    {{u"ProcessCorrectionCheck", u"СформироватьЧекКоррекции"}, 3,
     [](nAPI& c, tVariant*, tVariant* p) {
         return Hand(c, RegisterReceipt(c.Device, VariantString(p[1]), true, false), &p[2]);
     },
     u"ProcessCorrectionCheck"},
    {{u"PrintTextDocument", u"НапечататьТекстовыйДокумент"}, 2,
     [](nAPI& c, tVariant* r, tVariant* p) {
         if (p[1].vt == VTYPE_PWSTR) return Outcome(PrintTextDocument(c.Device, VariantString(p[1])));
         SetBoolVariant(r, false);  // a package that is no text fails without the failure line
         return Result::Answered;
     },
     u"PrintTextDocument error"},
    {{u"CashInOutcome", u"НапечататьЧекВнесенияВыемки"}, 3,
     [](nAPI& c, tVariant*, tVariant* p) {
         const std::optional<int64_t> amount = CashAmount(p[2]);
         if (!amount) return Outcome(c.Device.SetError(u"Сумма внесения или выемки должна быть числом или строкой"));
         return Outcome(CashInOutcome(c.Device, *amount));
     }},
    {{u"PrintXReport", u"НапечататьОтчетБезГашения"}, 2,
     [](nAPI& c, tVariant*, tVariant*) { return Outcome(PrintXReport(c.Device)); }, u"PrintXReport error"},
    {{u"PrintCheckCopy", u"НапечататьКопиюЧека"}, 2,
     [](nAPI& c, tVariant*, tVariant* p) {
         return Outcome(PrintCheckCopy(c.Device, static_cast<uint32_t>(LeadingInteger32(VariantTextLenient(p[1])))));
     },
     u"PrintCheckCopy error"},
    {{u"GetCurrentStatus", u"ПолучитьТекущееСостояние"}, 3,
     [](nAPI& c, tVariant*, tVariant* p) { return Hand(c, GetCurrentStatus(c.Device), &p[2]); },
     u"GetCurrentStatus error"},
    {{u"ReportCurrentStatusOfSettlements", u"ОтчетОТекущемСостоянииРасчетов"}, 3,
     [](nAPI& c, tVariant*, tVariant* p) { return Hand(c, ReportCurrentStatusOfSettlements(c.Device), &p[2]); },
     u"ReportCurrentStatusOfSettlements error"},
    {{u"OpenCashDrawer", u"ОткрытьДенежныйЯщик"}, 1,
     [](nAPI& c, tVariant*, tVariant*) { return Outcome(OpenCashDrawer(c.Device)); }, u"OpenCashDrawer error"},
    {{u"GetLineLength", u"ПолучитьШиринуСтроки"}, 2,
     [](nAPI&, tVariant*, tVariant* p) {
         SetUInt32Variant(&p[1], LineLength);
         return Result::Succeeded;
     }},
};
constexpr long kMethodCount = std::size(kMethods);

}  // namespace

long ADDIN_API nAPI::GetNProps() { return kPropertyCount; }

long ADDIN_API nAPI::FindProp(const WCHAR_T* propName) {
    return FindHostName(propName, PropertyNames);
}

const WCHAR_T* ADDIN_API nAPI::GetPropName(long propNum, long propAlias) {
    return NameForHost(*this, propNum, propAlias, PropertyNames);
}

bool ADDIN_API nAPI::GetPropVal(const long propNum, tVariant* value) {
    if (!value || propNum < 0 || propNum >= kPropertyCount) return false;
    try {
        const bool port = propNum == PortProperty;
        const int32_t number = port ? PortNumber : PortSpeed;
        SetInt32Variant(value, number);
        // "Portnumber" is spelled so on purpose: the host contract's own text.
        Log((port ? u"Get Portnumber " : u"Get PortSpeed ") + DecimalText(number), Info);
        return true;
    } catch (...) {
        return false;
    }
}

bool ADDIN_API nAPI::SetPropVal(const long propNum, tVariant* value) {
    if (!value || propNum < 0 || propNum >= kPropertyCount) return false;
    try {
        // A whole number (see VariantWholeNumber), held to the 32-bit range; other types are refused.
        int64_t whole = 0;
        if (!VariantWholeNumber(*value, whole)) return false;
        const int32_t number = ClampToInt32(whole);
        const bool port = propNum == PortProperty;
        (port ? PortNumber : PortSpeed) = number;
        // "Portnumber" is spelled so on purpose, as in the reading above.
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
    return FindHostName(methodName, kMethods);
}

const WCHAR_T* ADDIN_API nAPI::GetMethodName(const long methodNum, const long methodAlias) {
    return NameForHost(*this, methodNum, methodAlias, kMethods);
}

long ADDIN_API nAPI::GetNParams(const long methodNum) {
    if (methodNum < 0 || methodNum >= kMethodCount) return 0;
    return kMethods[methodNum].Params;
}

bool ADDIN_API nAPI::GetParamDefValue(const long, const long, tVariant*) { return false; }
bool ADDIN_API nAPI::HasRetVal(const long) { return true; }
bool ADDIN_API nAPI::CallAsProc(const long, tVariant*, const long) { return false; }

bool ADDIN_API nAPI::CallAsFunc(const long methodNum, tVariant* retValue, tVariant* params, const long paramCount) {
    if (methodNum < 0 || methodNum >= kMethodCount || !retValue) return false;
    // A call with fewer parameters than the method takes would read past the host's array.
    if (paramCount < kMethods[methodNum].Params || (kMethods[methodNum].Params > 0 && !params)) return false;
    try {
        Dispatch(methodNum, retValue, params);
        return true;
    } catch (...) {
        return false;
    }
}

void nAPI::Dispatch(long method, tVariant* retValue, tVariant* params) {
    const Method& entry = kMethods[method];
    // A receipt left unsettled is asked about at most once per call.
    Device.Safeguard.BeginCall();
    const Result result = entry.Call(*this, retValue, params);
    if (result == Result::Answered) return;
    const bool ok = result == Result::Succeeded;
    if (!ok && entry.FailureLine) Log(entry.FailureLine, Error);
    SetBoolVariant(retValue, ok);
}

}  // namespace vesklink
