// The component shell as the platform sees it: exports, lifecycle, names, properties, dispatch.
#include <cstring>
#include <utility>

#include "support/host_fixture.h"

using namespace vktest;

namespace {

const char* const kEnglish[24] = {
    "GetInterfaceRevision", "GetDescription", "GetLastError", "GetParameters", "SetParameter", "Open",
    "Close", "DeviceTest", "GetAdditionalActions", "DoAdditionalAction", "GetDataKKT", "OperationFN",
    "OpenShift", "CloseShift", "ProcessCheck", "ProcessCorrectionCheck", "PrintTextDocument",
    "CashInOutcome", "PrintXReport", "PrintCheckCopy", "GetCurrentStatus",
    "ReportCurrentStatusOfSettlements", "OpenCashDrawer", "GetLineLength"};
const char* const kRussian[24] = {
    "ПолучитьРевизиюИнтерфейса", "ПолучитьОписание", "ПолучитьОшибку", "ПолучитьПараметры",
    "УстановитьПараметр", "Подключить", "Отключить", "ТестУстройства", "ПолучитьДополнительныеДействия",
    "ВыполнитьДополнительноеДействие", "ПолучитьПараметрыККТ", "ОперацияФН", "ОткрытьСмену", "ЗакрытьСмену",
    "СформироватьЧек", "СформироватьЧекКоррекции", "НапечататьТекстовыйДокумент",
    "НапечататьЧекВнесенияВыемки", "НапечататьОтчетБезГашения", "НапечататьКопиюЧека",
    "ПолучитьТекущееСостояние", "ОтчетОТекущемСостоянииРасчетов", "ОткрытьДенежныйЯщик",
    "ПолучитьШиринуСтроки"};
const long kParams[24] = {0, 1, 1, 1, 2, 1, 1, 2, 1, 0, 2, 3, 3, 3, 4, 3, 2, 3, 2, 2, 3, 3, 1, 2};

class Shell : public HostFixture {
protected:
    std::string Name(const vk_wchar* text) {
        std::string out = Utf8(text);
        if (text) vk_memory_free(&memory_, const_cast<vk_wchar*>(text));
        return out;
    }
    int32_t Property(long index) {
        vk_variant v;
        vk_variant_set_empty(&v);
        EXPECT_TRUE(vk_get_prop_val(component_, index, &v));
        EXPECT_EQ(v.vt, VK_I4);
        return v.value.lVal;
    }
};

TEST_F(Shell, ExportsAndObjectLifecycle) {
    EXPECT_EQ(Utf8(library_.get_class_names()), "CAddInNative");
    EXPECT_EQ(library_.set_platform_capabilities(2), 1);
    // An out pointer that already holds an object is left alone.
    void* existing = component_;
    EXPECT_EQ(library_.get_class_object(nullptr, &existing), 0);
    EXPECT_EQ(existing, component_);
    void* none = nullptr;
    EXPECT_EQ(library_.destroy_object(&none), -1);
    // Any class name is accepted and gives a second, independent object.
    void* second = nullptr;
    std::u16string other = U16("Whatever");
    ASSERT_NE(library_.get_class_object(reinterpret_cast<const vk_wchar*>(other.c_str()), &second), 0);
    EXPECT_NE(second, component_);
    EXPECT_EQ(vk_get_info(second), 3003);  // without Init
    EXPECT_FALSE(vk_init(second, nullptr));
    EXPECT_FALSE(vk_set_mem_manager(second, nullptr));
    vk_wchar* name = nullptr;
    EXPECT_FALSE(vk_register_extension_as(second, &name));  // no memory manager
    EXPECT_EQ(library_.destroy_object(&second), 0);
    EXPECT_EQ(second, nullptr);
    vk_done(component_);
    EXPECT_EQ(vk_get_info(component_), 3003);
}

TEST_F(Shell, RegisterExtensionAsAllocatesTheNameInHostMemory) {
    vk_wchar* name = nullptr;
    ASSERT_TRUE(vk_register_extension_as(component_, &name));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(vk_memory_live(&memory_), 1u);
    EXPECT_EQ(Name(name), "vesklink");
    // A refused allocation leaves the out argument alone and still answers true.
    memory_.refuse_after = memory_.allocations;
    vk_wchar* untouched = nullptr;
    EXPECT_TRUE(vk_register_extension_as(component_, &untouched));
    EXPECT_EQ(untouched, nullptr);
}

TEST_F(Shell, MethodNamesInBothLanguages) {
    EXPECT_EQ(vk_get_n_methods(component_), 24);
    for (long i = 0; i < 24; ++i) {
        EXPECT_EQ(Method(kEnglish[i]), i) << kEnglish[i];
        EXPECT_EQ(Method(kRussian[i]), i) << kRussian[i];
        EXPECT_EQ(Name(vk_get_method_name(component_, i, 0)), kEnglish[i]);
        EXPECT_EQ(Name(vk_get_method_name(component_, i, 1)), kRussian[i]);
        EXPECT_EQ(vk_get_n_params(component_, i), kParams[i]) << kEnglish[i];
        EXPECT_TRUE(vk_has_ret_val(component_, i));
        vk_variant v;
        vk_variant_set_empty(&v);
        EXPECT_FALSE(vk_get_param_def_value(component_, i, 0, &v));
        EXPECT_FALSE(vk_call_as_proc(component_, i, nullptr, 0));
    }
    EXPECT_EQ(Method("processcheck"), -1);  // case-sensitive
    EXPECT_EQ(Method("ProcessCheck "), -1);  // no trimming
    EXPECT_EQ(Method(""), -1);
    EXPECT_EQ(vk_get_method_name(component_, 24, 0), nullptr);
    EXPECT_EQ(vk_get_method_name(component_, 0, 2), nullptr);
    EXPECT_EQ(vk_get_method_name(component_, -1, 0), nullptr);
    EXPECT_EQ(vk_get_n_params(component_, 24), 0);
    EXPECT_EQ(vk_get_n_params(component_, -1), 0);
}

TEST_F(Shell, MethodNameWithoutMemoryIsNull) {
    memory_.refuse_after = memory_.allocations;
    EXPECT_EQ(vk_get_method_name(component_, 0, 0), nullptr);
    EXPECT_EQ(vk_get_prop_name(component_, 0, 0), nullptr);
}

TEST_F(Shell, Properties) {
    EXPECT_EQ(vk_get_n_props(component_), 2);
    EXPECT_EQ(vk_find_prop(component_, reinterpret_cast<const vk_wchar*>(U16("Port").c_str())), 0);
    EXPECT_EQ(vk_find_prop(component_, reinterpret_cast<const vk_wchar*>(U16("Скорость").c_str())), 1);
    EXPECT_EQ(vk_find_prop(component_, reinterpret_cast<const vk_wchar*>(U16("port").c_str())), -1);
    EXPECT_EQ(Name(vk_get_prop_name(component_, 0, 0)), "Port");
    EXPECT_EQ(Name(vk_get_prop_name(component_, 0, 1)), "Порт");
    EXPECT_EQ(Name(vk_get_prop_name(component_, 1, 0)), "Speed");
    EXPECT_EQ(Name(vk_get_prop_name(component_, 1, 1)), "Скорость");
    EXPECT_EQ(vk_get_prop_name(component_, 2, 0), nullptr);
    EXPECT_TRUE(vk_is_prop_readable(component_, 0));
    EXPECT_TRUE(vk_is_prop_writable(component_, 7));

    // A fresh object: port 1 and speed 57600.
    EXPECT_EQ(Property(0), 1);
    EXPECT_EQ(Property(1), 57600);
    vk_variant v;
    vk_variant_set_int(&v, 3);
    EXPECT_TRUE(vk_set_prop_val(component_, 0, &v));
    EXPECT_EQ(Property(0), 3);
    // A double sets its integer part, text its leading integer.
    vk_variant_set_double(&v, 7.9);
    EXPECT_TRUE(vk_set_prop_val(component_, 0, &v));
    EXPECT_EQ(Property(0), 7);
    // An unsigned 64-bit number above the signed range saturates rather than turning negative.
    v.vt = 18;
    v.value.ullVal = 0x8000000000000000ull;
    EXPECT_TRUE(vk_set_prop_val(component_, 0, &v));
    EXPECT_EQ(Property(0), INT32_MAX);
    vk_variant_set_string(&v, " 19200 baud");
    EXPECT_TRUE(vk_set_prop_val(component_, 1, &v));
    free(v.value.wstr.pwstrVal);
    EXPECT_EQ(Property(1), 19200);
    // Any other type is refused and changes nothing.
    vk_variant_set_bool(&v, true);
    EXPECT_FALSE(vk_set_prop_val(component_, 1, &v));
    EXPECT_EQ(Property(1), 19200);
    vk_variant_set_int(&v, 5);
    EXPECT_FALSE(vk_set_prop_val(component_, 2, &v));
    EXPECT_FALSE(vk_get_prop_val(component_, 2, &v));
}

TEST_F(Shell, SetParameter) {
    Params p(&memory_, 2);
    p.Str(0, "Speed").Str(1, "19200");
    EXPECT_TRUE(CallBool("SetParameter", p));
    EXPECT_EQ(Property(1), 19200);
    p.Str(0, "Порт").Str(1, "12");
    EXPECT_TRUE(CallBool("SetParameter", p));
    EXPECT_EQ(Property(0), 12);
    // The form offers its ports as "COM1" to "COM64": the number after the letters, in any case;
    // any other text by its leading integer.
    const std::pair<const char*, int> ports[] = {{"COM1", 1},  {"com12", 12}, {"Com 7", 7}, {"COM", 0},
                                                 {"COMX3", 0}, {" COM4", 0},  {"CO5", 0},   {"8COM", 8}};
    for (const auto& [text, port] : ports) {
        p.Str(0, "Port").Str(1, text);
        EXPECT_TRUE(CallBool("SetParameter", p));
        EXPECT_EQ(Property(0), port) << text;
    }
    // An unknown name changes nothing and still succeeds.
    p.Str(0, "Baud").Str(1, "9600");
    EXPECT_TRUE(CallBool("SetParameter", p));
    EXPECT_EQ(Property(1), 19200);
    // Both parameters must be strings.
    p.Str(0, "Speed").Int(1, 9600);
    EXPECT_FALSE(CallBool("SetParameter", p));
    EXPECT_EQ(Property(1), 19200);
}

TEST_F(Shell, FixedAnswers) {
    Params none(&memory_, 0);
    ASSERT_TRUE(Call("GetInterfaceRevision", none));
    EXPECT_EQ(result_.vt, VK_UI4);
    EXPECT_EQ(result_.value.ulVal, 3003u);

    Params line(&memory_, 2);
    EXPECT_TRUE(CallBool("GetLineLength", line));
    EXPECT_EQ(line[1].vt, VK_UI4);
    EXPECT_EQ(line[1].value.ulVal, 40u);

    EXPECT_TRUE(CallBool("DoAdditionalAction", none));
}

TEST_F(Shell, CallAsFuncRefusesUnknownIndicesAndShortParameterArrays) {
    vk_variant result;
    vk_variant_set_int(&result, 77);
    EXPECT_FALSE(vk_call_as_func(component_, 24, &result, nullptr, 0));
    EXPECT_FALSE(vk_call_as_func(component_, -1, &result, nullptr, 0));
    EXPECT_EQ(result.vt, VK_I4);
    EXPECT_EQ(result.value.lVal, 77);
    // Fewer parameters than the method takes: refused without reading past the array.
    Params one(&memory_, 1);
    EXPECT_FALSE(vk_call_as_func(component_, Method("SetParameter"), &result, one.data(), one.size()));
    EXPECT_EQ(result.vt, VK_I4);
}

TEST_F(Shell, PrintTextDocumentRefusesANonStringDocument) {
    Params p(&memory_, 2);
    p.Int(1, 5);
    const std::string before = ReadFile(TodayLogPath());
    EXPECT_FALSE(CallBool("PrintTextDocument", p));
    EXPECT_EQ(ReadFile(TodayLogPath()), before);  // nothing logged
}

TEST_F(Shell, UserLanguageAndLocaleAreAccepted) {
    std::u16string code = U16("ru");
    vk_set_user_interface_language_code(component_, reinterpret_cast<const vk_wchar*>(code.c_str()));
    std::u16string locale = U16("C");
    vk_set_locale(component_, reinterpret_cast<const vk_wchar*>(locale.c_str()));
    EXPECT_EQ(vk_get_info(component_), 3003);
}

}  // namespace
