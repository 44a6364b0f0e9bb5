// Lifecycle of the component object and the interface slots outside method dispatch.
#include "component/napi.h"

#include <clocale>

#include "component/names.h"
#include "component/variant.h"
#include "util/text.h"

namespace vesklink {

nAPI::nAPI() = default;
nAPI::~nAPI() = default;

#if defined(ADDIN_WINDOWS)
void* ADDIN_DTOR_CALL nAPI::DeletingDestructorSlot(unsigned int flags) {
    if (flags & 1) {
        delete this;
        return nullptr;
    }
    this->~nAPI();
    return this;
}
#endif

bool ADDIN_API nAPI::Init(void* connection) {
    Connection = static_cast<IAddInDefBase*>(connection);
    try {
        Log(u"Init", Info);
    } catch (...) {
        return false;  // the log line could not be built; nothing may reach the host
    }
    return Connection != nullptr;
}

bool ADDIN_API nAPI::setMemManager(void* memoryManager) {
    MemoryManager = static_cast<IMemoryManager*>(memoryManager);
    return MemoryManager != nullptr;
}

long ADDIN_API nAPI::GetInfo() { return InterfaceRevision; }

void ADDIN_API nAPI::Done() {}

bool ADDIN_API nAPI::RegisterExtensionAs(WCHAR_T** extensionName) {
    if (!extensionName || !MemoryManager) return false;
    try {
        // Only a missing memory manager is a failure: a refused allocation leaves the out argument
        // as the host passed it and still answers true.
        if (WCHAR_T* name = CopyToHost(ExtensionName)) *extensionName = name;
        return true;
    } catch (...) {
        return false;
    }
}

WCHAR_T* nAPI::CopyToHost(std::u16string_view text) {
    if (!MemoryManager) return nullptr;
    void* block = nullptr;
    if (!MemoryManager->AllocMemory(&block, static_cast<unsigned long>((text.size() + 1) * sizeof(WCHAR_T))) ||
        !block)
        return nullptr;
    auto* out = static_cast<WCHAR_T*>(block);
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<WCHAR_T>(text[i]);
    out[text.size()] = 0;
    return out;
}

void ADDIN_API nAPI::SetLocale(const WCHAR_T* locale) {
    try {
        // The runtime's locale names are narrow; host locale names are ASCII.
        const std::string name = Utf16ToUtf8(HostText(locale));
        std::setlocale(LC_ALL, name.c_str());
    } catch (...) {
    }
}

void ADDIN_API nAPI::SetUserInterfaceLanguageCode(const WCHAR_T* languageCode) {
    try {
        UserInterfaceLanguage = HostText(languageCode);
    } catch (...) {
    }
}

bool nAPI::ReturnString(std::u16string_view text, tVariant* variant) {
    if (!variant) return false;
    WCHAR_T* copy = CopyToHost(text);
    if (!copy) return false;
    variant->vt = VTYPE_PWSTR;
    variant->value.wstr.pwstrVal = copy;
    variant->value.wstr.wstrLen = static_cast<uint32_t>(text.size());
    return true;
}

}  // namespace vesklink
