#include "session.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "log/logger.h"

namespace vkcli {

namespace {

// Host text from UTF-8, owned by a unique_ptr that frees it with free().
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using HostText = std::unique_ptr<vk_wchar, FreeDeleter>;

HostText Wide(const std::string& utf8) { return HostText(vk_utf16_from_utf8(utf8.c_str())); }

std::string Narrow(const vk_wchar* text, size_t length) {
    if (!text) return {};
    std::unique_ptr<char, FreeDeleter> narrow(vk_utf8_from_utf16(text, length));
    return narrow ? std::string(narrow.get()) : std::string();
}

// Whether the component changed a parameter the host filled in.
bool Changed(const vk_variant& before, const vk_variant& after) {
    if (before.vt != after.vt) return true;
    switch (after.vt) {
        case VK_EMPTY: return false;
        case VK_BOOL: return before.value.bVal != after.value.bVal;
        case VK_I4: return before.value.lVal != after.value.lVal;
        case VK_UI4: return before.value.ulVal != after.value.ulVal;
        case VK_R8: return std::memcmp(&before.value.dblVal, &after.value.dblVal, sizeof(double)) != 0;
        case VK_PWSTR:
            return before.value.wstr.pwstrVal != after.value.wstr.pwstrVal ||
                   before.value.wstr.wstrLen != after.value.wstr.wstrLen;
        default: return std::memcmp(&before.value, &after.value, sizeof before.value) != 0;
    }
}

Value::Kind KindOf(uint16_t type) {
    switch (type) {
        case VK_EMPTY: return Value::Kind::Empty;
        case VK_BOOL: return Value::Kind::Bool;
        case VK_I4: return Value::Kind::Int;
        case VK_UI4: return Value::Kind::UInt;
        case VK_R8: return Value::Kind::Double;
        case VK_PWSTR: return Value::Kind::Text;
        default: return Value::Kind::Other;
    }
}

// Fills a parameter as the host does from an argument; false for an out-parameter, which stays
// empty. A string is the host's own (malloc'd), for the caller to free.
bool SetArgument(vk_variant& variant, const Argument& arg) {
    switch (arg.kind) {
        case Argument::Kind::Text: vk_variant_set_string(&variant, arg.text.c_str()); return true;
        case Argument::Kind::Integer: vk_variant_set_int(&variant, arg.integer); return true;
        case Argument::Kind::Double: vk_variant_set_double(&variant, arg.number); return true;
        case Argument::Kind::Boolean: vk_variant_set_bool(&variant, arg.boolean); return true;
        case Argument::Kind::Out: break;
    }
    return false;
}

}  // namespace

std::unique_ptr<Session> Session::Open(const std::string& libraryPath, std::string& error) {
    std::unique_ptr<Session> session(new Session);
    vk_memory_init(&session->memory_);
    vk_connection_init(&session->connection_);
    char reason[1024] = {};
    if (!vk_library_load(&session->library_, libraryPath.c_str(), reason, sizeof reason)) {
        error = reason;
        return nullptr;
    }
    session->loaded_ = true;
    const auto fail = [&](const char* why) {
        error = libraryPath + ": " + why;
        return nullptr;
    };
    void*& component = session->component_;
    const vk_wchar* classNames = session->library_.get_class_names();
    if (session->library_.get_class_object(classNames, &component) == 0 || !component) {
        component = nullptr;
        return fail("GetClassObject created no component");
    }
    if (!vk_init(component, &session->connection_)) return fail("the component refused Init");
    if (!vk_set_mem_manager(component, &session->memory_))
        return fail("the component refused the memory manager");
    vk_wchar* extension = nullptr;
    if (!vk_register_extension_as(component, &extension)) return fail("RegisterExtensionAs failed");
    if (extension) vk_memory_free(&session->memory_, extension);
    // Found the way the driver finds it: the same Documents folder and today's file name.
    session->logFile_ = vesklink::Logger().FilePath();
    return session;
}

std::string Session::Finish() {
    if (finished_) return {};
    finished_ = true;
    if (component_) library_.destroy_object(&component_);
    component_ = nullptr;
    std::string report;
    const size_t live = vk_memory_live(&memory_);
    if (live != 0) report = std::to_string(live) + " block(s) handed over by the component were never freed";
    if (memory_.bad_frees != 0) {
        if (!report.empty()) report += "; ";
        report += std::to_string(memory_.bad_frees) + " block(s) freed that the memory manager did not hand out";
    }
    vk_memory_release(&memory_);
    if (loaded_) vk_library_unload(&library_);
    return report;
}

std::string Session::TakeName(const vk_wchar* name) {
    if (!name) return {};
    std::string out = Narrow(name, vk_wcslen(name));
    vk_memory_free(&memory_, const_cast<vk_wchar*>(name));
    return out;
}

long Session::FindMethod(const std::string& utf8Name) {
    HostText name = Wide(utf8Name);
    return name ? vk_find_method(component_, name.get()) : -1;
}

std::vector<MethodInfo> Session::Methods() {
    std::vector<MethodInfo> methods;
    for (long i = 0, count = vk_get_n_methods(component_); i < count; ++i)
        methods.push_back({i, TakeName(vk_get_method_name(component_, i, 0)),
                           TakeName(vk_get_method_name(component_, i, 1)), ParamCount(i)});
    return methods;
}

bool Session::SetProperty(const std::string& utf8Name, int32_t value, std::string& error) {
    HostText name = Wide(utf8Name);
    const long index = name ? vk_find_prop(component_, name.get()) : -1;
    if (index < 0) return Fail(error, "the component has no property " + utf8Name);
    vk_variant variant;
    vk_variant_set_int(&variant, value);
    return vk_set_prop_val(component_, index, &variant) ||
           Fail(error, "the component refused " + utf8Name + " = " + std::to_string(value));
}

// Copies a variant out. A string the component put there goes back to the memory manager; the
// host's own string (hostString) stays with the caller, who frees it.
Value Session::Take(vk_variant& variant, const vk_wchar* hostString) {
    Value value;
    value.type = variant.vt;
    value.kind = KindOf(variant.vt);
    switch (variant.vt) {
        case VK_BOOL: value.boolean = variant.value.bVal; break;
        case VK_I4: value.integer = variant.value.lVal; break;
        case VK_UI4: value.integer = variant.value.ulVal; break;
        case VK_R8: value.number = variant.value.dblVal; break;
        case VK_PWSTR: {
            vk_wchar* text = variant.value.wstr.pwstrVal;
            value.text = Narrow(text, variant.value.wstr.wstrLen);
            if (text && text != hostString) vk_memory_free(&memory_, text);
            break;
        }
    }
    vk_variant_set_empty(&variant);
    return value;
}

CallOutcome Session::Call(long method, const std::vector<Argument>& arguments) {
    const long declared = ParamCount(method);
    const size_t count = std::max<size_t>(arguments.size(), declared > 0 ? static_cast<size_t>(declared) : 0);
    // One spare element, so a method without parameters still receives a valid array.
    std::vector<vk_variant> params(count + 1);
    std::vector<HostText> hostStrings(count);
    std::vector<bool> filledByCaller(count, false);
    for (auto& p : params) vk_variant_set_empty(&p);
    for (size_t i = 0; i < arguments.size(); ++i) {
        filledByCaller[i] = SetArgument(params[i], arguments[i]);
        if (params[i].vt == VK_PWSTR) hostStrings[i].reset(params[i].value.wstr.pwstrVal);
    }
    const std::vector<vk_variant> before(params.begin(), params.end());

    vk_variant result;
    vk_variant_set_empty(&result);
    CallOutcome outcome;
    outcome.accepted = vk_call_as_func(component_, method, &result, params.data(), static_cast<long>(count));
    outcome.result = Take(result, nullptr);
    for (size_t i = 0; i < count; ++i) {
        const bool explicitOut = i < arguments.size() && arguments[i].kind == Argument::Kind::Out;
        const bool changed = Changed(before[i], params[i]);
        outcome.shown.push_back(explicitOut || changed || (!filledByCaller[i] && params[i].vt != VK_EMPTY));
        outcome.params.push_back(Take(params[i], hostStrings[i].get()));
    }
    return outcome;
}

}  // namespace vkcli
