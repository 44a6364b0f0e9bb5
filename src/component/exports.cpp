// The four entry points the host looks up in the library.
#include <iterator>

#include "component/names.h"
#include "component/napi.h"

#if defined(ADDIN_WINDOWS)
#define VESKLINK_EXPORT
#else
#define VESKLINK_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// The class-name list: one class, no separator, in the host's text units. Lives as long as the
// library.
struct ClassNameList {
    WCHAR_T Text[std::size(vesklink::ClassName)];
};
constexpr ClassNameList kClassNames = [] {
    ClassNameList list{};
    for (size_t i = 0; i < std::size(vesklink::ClassName); ++i) list.Text[i] = vesklink::ClassName[i];
    return list;
}();

// The host's capability value; kept, nothing reads it.
AddinCapabilities g_platformCapabilities = 0;

}  // namespace

extern "C" {

VESKLINK_EXPORT long GetClassObject(const WCHAR_T* /*className*/, IComponentBase** component) {
    if (!component || *component) return 0;
    try {
        *component = new vesklink::nAPI();
        return 1;
    } catch (...) {
        return 0;
    }
}

VESKLINK_EXPORT long DestroyObject(IComponentBase** component) {
    if (!component || !*component) return -1;
    try {
        delete static_cast<vesklink::nAPI*>(*component);
    } catch (...) {
    }
    *component = nullptr;
    return 0;
}

VESKLINK_EXPORT const WCHAR_T* GetClassNames() { return kClassNames.Text; }

VESKLINK_EXPORT AddinCapabilities SetPlatformCapabilities(const AddinCapabilities capabilities) {
    g_platformCapabilities = capabilities;
    return 1;
}

}  // extern "C"
