// The four entry points the host looks up in the library.
#include "component/napi.h"

#if defined(ADDIN_WINDOWS)
#define VESKLINK_EXPORT
#else
#define VESKLINK_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// The class-name list: one class, no separator. Lives as long as the library.
const WCHAR_T kClassNames[] = {'C', 'A', 'd', 'd', 'I', 'n', 'N', 'a', 't', 'i', 'v', 'e', 0};

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

VESKLINK_EXPORT const WCHAR_T* GetClassNames() { return kClassNames; }

VESKLINK_EXPORT AddinCapabilities SetPlatformCapabilities(const AddinCapabilities capabilities) {
    g_platformCapabilities = capabilities;
    return 1;
}

}  // extern "C"
