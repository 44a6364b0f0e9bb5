#include "component/names.h"

namespace vesklink {

const char16_t* const MethodNamesEnglish[kMethodCount] = {
    u"GetInterfaceRevision", u"GetDescription", u"GetLastError", u"GetParameters",
    u"SetParameter", u"Open", u"Close", u"DeviceTest",
    u"GetAdditionalActions", u"DoAdditionalAction", u"GetDataKKT", u"OperationFN",
    u"OpenShift", u"CloseShift", u"ProcessCheck", u"ProcessCorrectionCheck",
    u"PrintTextDocument", u"CashInOutcome", u"PrintXReport", u"PrintCheckCopy",
    u"GetCurrentStatus", u"ReportCurrentStatusOfSettlements", u"OpenCashDrawer", u"GetLineLength",
};

const char16_t* const MethodNamesRussian[kMethodCount] = {
    u"ПолучитьРевизиюИнтерфейса", u"ПолучитьОписание", u"ПолучитьОшибку", u"ПолучитьПараметры",
    u"УстановитьПараметр", u"Подключить", u"Отключить", u"ТестУстройства",
    u"ПолучитьДополнительныеДействия", u"ВыполнитьДополнительноеДействие", u"ПолучитьПараметрыККТ", u"ОперацияФН",
    u"ОткрытьСмену", u"ЗакрытьСмену", u"СформироватьЧек", u"СформироватьЧекКоррекции",
    u"НапечататьТекстовыйДокумент", u"НапечататьЧекВнесенияВыемки", u"НапечататьОтчетБезГашения", u"НапечататьКопиюЧека",
    u"ПолучитьТекущееСостояние", u"ОтчетОТекущемСостоянииРасчетов", u"ОткрытьДенежныйЯщик", u"ПолучитьШиринуСтроки",
};

const long MethodParamCounts[kMethodCount] = {
    0, 1, 1, 1, 2, 1, 1, 2, 1, 0, 2, 3, 3, 3, 4, 3, 2, 3, 2, 2, 3, 3, 1, 2,
};

const char16_t* const PropertyNamesEnglish[kPropertyCount] = {u"Port", u"Speed"};
const char16_t* const PropertyNamesRussian[kPropertyCount] = {u"Порт", u"Скорость"};

const char16_t ExtensionName[] = u"vesklink";

long FindName(std::u16string_view name, const char16_t* const* english, const char16_t* const* russian, long count) {
    for (long i = 0; i < count; ++i)
        if (name == english[i]) return i;
    for (long i = 0; i < count; ++i)
        if (name == russian[i]) return i;
    return -1;
}

}  // namespace vesklink
