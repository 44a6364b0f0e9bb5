// The component object: one per host connection, the host's side of the driver. It owns the
// settings, the log and the register, turns each host call into one operation and hands the
// result back as host values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hostapi/addin_interfaces.h"
#include "log/logger.h"
#include "operations/cash_register.h"

namespace vesklink {

class nAPI final : public IComponentBase {
public:
    nAPI();
#if defined(ADDIN_WINDOWS)
    ~nAPI();
    void* ADDIN_DTOR_CALL DeletingDestructorSlot(unsigned int flags) override;
#else
    ~nAPI() override;
#endif

    // IInitDoneBase
    bool ADDIN_API Init(void* connection) override;
    bool ADDIN_API setMemManager(void* memoryManager) override;
    long ADDIN_API GetInfo() override;
    void ADDIN_API Done() override;

    // ILanguageExtenderBase
    bool ADDIN_API RegisterExtensionAs(WCHAR_T** extensionName) override;
    long ADDIN_API GetNProps() override;
    long ADDIN_API FindProp(const WCHAR_T* propName) override;
    const WCHAR_T* ADDIN_API GetPropName(long propNum, long propAlias) override;
    bool ADDIN_API GetPropVal(const long propNum, tVariant* value) override;
    bool ADDIN_API SetPropVal(const long propNum, tVariant* value) override;
    bool ADDIN_API IsPropReadable(const long propNum) override;
    bool ADDIN_API IsPropWritable(const long propNum) override;
    long ADDIN_API GetNMethods() override;
    long ADDIN_API FindMethod(const WCHAR_T* methodName) override;
    const WCHAR_T* ADDIN_API GetMethodName(const long methodNum, const long methodAlias) override;
    long ADDIN_API GetNParams(const long methodNum) override;
    bool ADDIN_API GetParamDefValue(const long methodNum, const long paramNum, tVariant* defValue) override;
    bool ADDIN_API HasRetVal(const long methodNum) override;
    bool ADDIN_API CallAsProc(const long methodNum, tVariant* params, const long paramCount) override;
    bool ADDIN_API CallAsFunc(const long methodNum, tVariant* retValue, tVariant* params,
                              const long paramCount) override;

    // LocaleBase
    void ADDIN_API SetLocale(const WCHAR_T* locale) override;
    // UserLanguageBase
    void ADDIN_API SetUserInterfaceLanguageCode(const WCHAR_T* languageCode) override;

    // A zero-terminated copy of the text in host memory, set as the variant's string; false
    // without a memory manager or memory.
    bool ReturnString(std::u16string_view text, tVariant* variant);
    WCHAR_T* CopyToHost(std::u16string_view text);
    void Log(std::u16string_view message, int level) { Logger.Log(message, level); }

    // Host interfaces.
    IAddInDefBase* Connection = nullptr;
    IMemoryManager* MemoryManager = nullptr;

    // Settings, used when the port is opened.
    int32_t PortNumber = 1;
    int32_t PortSpeed = 57600;

    // The language code a newer host reports; recorded only.
    std::u16string UserInterfaceLanguage;

    ::vesklink::Logger Logger;
    // The cash register; its port's destructor closes a port still open.
    CashRegister Device{Logger};

private:
    void Dispatch(long method, tVariant* retValue, tVariant* params);
};

}  // namespace vesklink
