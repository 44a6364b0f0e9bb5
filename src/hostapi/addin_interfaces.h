// Interfaces between the host platform and an add-in component.
//
// Linux hosts are built with g++ (Itanium C++ ABI): a virtual destructor takes two table slots.
// Windows hosts are built with MSVC: a virtual destructor takes one slot. MinGW lays tables out
// the Itanium way, so on Windows every interface starts with one placeholder virtual standing in
// for the MSVC destructor slot; objects are destroyed through DestroyObject, never through it.
#pragma once

#include "addin_types.h"

#if defined(ADDIN_WINDOWS)
#if defined(__i386__)
#define ADDIN_DTOR_CALL __thiscall
#else
#define ADDIN_DTOR_CALL
#endif
// The slot an MSVC host would call as the scalar deleting destructor.
#define ADDIN_DESTRUCTOR_SLOT(Class)                                                            \
public:                                                                                         \
    virtual void* ADDIN_DTOR_CALL DeletingDestructorSlot(unsigned int flags) = 0;               \
                                                                                                \
protected:                                                                                      \
    ~Class() = default;                                                                         \
                                                                                                \
public:
#else
#define ADDIN_DESTRUCTOR_SLOT(Class) \
public:                              \
    virtual ~Class() = default;
#endif

class IMemoryManager {
    ADDIN_DESTRUCTOR_SLOT(IMemoryManager)
    virtual bool ADDIN_API AllocMemory(void** memory, unsigned long byteCount) = 0;
    virtual void ADDIN_API FreeMemory(void** memory) = 0;
};

class IAddInDefBase {
    ADDIN_DESTRUCTOR_SLOT(IAddInDefBase)
    virtual bool ADDIN_API AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* descr,
                                    long scode) = 0;
    virtual bool ADDIN_API Read(WCHAR_T* propName, tVariant* value, long* error, WCHAR_T** errDescriptor) = 0;
    virtual bool ADDIN_API Write(WCHAR_T* propName, tVariant* value) = 0;
    virtual bool ADDIN_API RegisterProfileAs(WCHAR_T* profileName) = 0;
    virtual bool ADDIN_API SetEventBufferDepth(long depth) = 0;
    virtual long ADDIN_API GetEventBufferDepth() = 0;
    virtual bool ADDIN_API ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) = 0;
    virtual void ADDIN_API CleanEventBuffer() = 0;
    virtual bool ADDIN_API SetStatusLine(WCHAR_T* statusLine) = 0;
    virtual void ADDIN_API ResetStatusLine() = 0;
};

class IInitDoneBase {
    ADDIN_DESTRUCTOR_SLOT(IInitDoneBase)
    virtual bool ADDIN_API Init(void* connection) = 0;
    virtual bool ADDIN_API setMemManager(void* memoryManager) = 0;
    virtual long ADDIN_API GetInfo() = 0;
    virtual void ADDIN_API Done() = 0;
};

class ILanguageExtenderBase {
    ADDIN_DESTRUCTOR_SLOT(ILanguageExtenderBase)
    virtual bool ADDIN_API RegisterExtensionAs(WCHAR_T** extensionName) = 0;
    virtual long ADDIN_API GetNProps() = 0;
    virtual long ADDIN_API FindProp(const WCHAR_T* propName) = 0;
    virtual const WCHAR_T* ADDIN_API GetPropName(long propNum, long propAlias) = 0;
    virtual bool ADDIN_API GetPropVal(const long propNum, tVariant* value) = 0;
    virtual bool ADDIN_API SetPropVal(const long propNum, tVariant* value) = 0;
    virtual bool ADDIN_API IsPropReadable(const long propNum) = 0;
    virtual bool ADDIN_API IsPropWritable(const long propNum) = 0;
    virtual long ADDIN_API GetNMethods() = 0;
    virtual long ADDIN_API FindMethod(const WCHAR_T* methodName) = 0;
    virtual const WCHAR_T* ADDIN_API GetMethodName(const long methodNum, const long methodAlias) = 0;
    virtual long ADDIN_API GetNParams(const long methodNum) = 0;
    virtual bool ADDIN_API GetParamDefValue(const long methodNum, const long paramNum, tVariant* defValue) = 0;
    virtual bool ADDIN_API HasRetVal(const long methodNum) = 0;
    virtual bool ADDIN_API CallAsProc(const long methodNum, tVariant* params, const long paramCount) = 0;
    virtual bool ADDIN_API CallAsFunc(const long methodNum, tVariant* retValue, tVariant* params,
                                      const long paramCount) = 0;
};

class LocaleBase {
    ADDIN_DESTRUCTOR_SLOT(LocaleBase)
    virtual void ADDIN_API SetLocale(const WCHAR_T* locale) = 0;
};

class UserLanguageBase {
    ADDIN_DESTRUCTOR_SLOT(UserLanguageBase)
    virtual void ADDIN_API SetUserInterfaceLanguageCode(const WCHAR_T* languageCode) = 0;
};

// The component object as the host sees it: four interface tables, in this order.
class IComponentBase : public IInitDoneBase,
                       public ILanguageExtenderBase,
                       public LocaleBase,
                       public UserLanguageBase {
#if defined(ADDIN_WINDOWS)
protected:
    ~IComponentBase() = default;
#else
public:
    ~IComponentBase() override = default;
#endif
};

typedef int32_t AddinCapabilities;
