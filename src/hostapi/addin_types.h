// Host variant and basic types of the add-in interface, as the host platform lays them out on each
// target. The component exchanges every parameter and result with the host through tVariant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#if defined(_WIN32)
#define ADDIN_WINDOWS 1
#endif

// Calling convention of interface methods: the host is built with MSVC on Windows, where every
// interface method of a 32-bit host is __stdcall.
#if defined(ADDIN_WINDOWS) && defined(__i386__)
#define ADDIN_API __stdcall
#else
#define ADDIN_API
#endif

// Host text is UTF-16 on every platform: two bytes per unit.
#if defined(ADDIN_WINDOWS)
typedef wchar_t WCHAR_T;
#else
typedef char16_t WCHAR_T;
#endif
static_assert(sizeof(WCHAR_T) == 2, "host text units are two bytes");

struct AddinGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef AddinGuid IID;
static_assert(sizeof(IID) == 16, "IID is 16 bytes");

typedef uint16_t TYPEVAR;

// Variant type codes.
enum : TYPEVAR {
    VTYPE_EMPTY = 0,
    VTYPE_NULL = 1,
    VTYPE_I2 = 2,
    VTYPE_I4 = 3,
    VTYPE_R4 = 4,
    VTYPE_R8 = 5,
    VTYPE_DATE = 6,
    VTYPE_TM = 7,
    VTYPE_PSTR = 8,
    VTYPE_INTERFACE = 9,
    VTYPE_ERROR = 10,
    VTYPE_BOOL = 11,
    VTYPE_VARIANT = 12,
    VTYPE_I1 = 13,
    VTYPE_UI1 = 14,
    VTYPE_UI2 = 15,
    VTYPE_UI4 = 16,
    VTYPE_I8 = 17,
    VTYPE_UI8 = 18,
    VTYPE_INT = 19,
    VTYPE_UINT = 20,
    VTYPE_HRESULT = 21,
    VTYPE_PWSTR = 22,
    VTYPE_BLOB = 23,
    VTYPE_CLSID = 24,
};

struct tVariant {
    union {
        int8_t i8Val;
        int16_t shortVal;
        int32_t lVal;
        int intVal;
        unsigned int uintVal;
        int64_t llVal;
        uint8_t ui8Val;
        uint16_t ushortVal;
        uint32_t ulVal;
        uint64_t ullVal;
        int32_t errCode;
        float fltVal;
        double dblVal;
        bool bVal;
        char chVal;
        WCHAR_T wchVal;
        double date;
        IID IDVal;
        tVariant* pvarVal;
        struct tm tmVal;
        struct {
            void* pInterfaceVal;
            IID InterfaceID;
        } iface;
        struct {
            char* pstrVal;
            uint32_t strLen;
        } str;
        struct {
            WCHAR_T* pwstrVal;
            uint32_t wstrLen;
        } wstr;
    } value;
    uint32_t cbElements;
    TYPEVAR vt;
};

// The host reads these offsets directly; a different layout corrupts every call.
#if defined(ADDIN_WINDOWS)
static_assert(sizeof(tVariant) == 48, "tVariant size on Windows");
static_assert(offsetof(tVariant, cbElements) == 40, "tVariant cbElements on Windows");
static_assert(offsetof(tVariant, vt) == 44, "tVariant vt on Windows");
#elif defined(__x86_64__)
static_assert(sizeof(tVariant) == 64, "tVariant size on Linux x86_64");
static_assert(offsetof(tVariant, cbElements) == 56, "tVariant cbElements on Linux x86_64");
static_assert(offsetof(tVariant, vt) == 60, "tVariant vt on Linux x86_64");
#elif defined(__i386__)
static_assert(sizeof(tVariant) == 52, "tVariant size on Linux i386");
static_assert(offsetof(tVariant, cbElements) == 44, "tVariant cbElements on Linux i386");
static_assert(offsetof(tVariant, vt) == 48, "tVariant vt on Linux i386");
#endif
