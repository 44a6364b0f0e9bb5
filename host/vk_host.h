/* The host platform as the tests and the command-line host see it: loads an add-in library,
 * calls its exports, provides the memory manager and the connection object, and calls the
 * component through interface tables laid out explicitly in the platform's real layout. It never
 * includes the component's own declarations, so a layout mistake cannot hide on both sides. */
#ifndef VK_HOST_H
#define VK_HOST_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint16_t vk_wchar;

/* The host variant. */
typedef struct vk_guid {
    uint32_t data1;
    uint16_t data2, data3;
    uint8_t data4[8];
} vk_guid;

typedef struct vk_variant {
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
        vk_wchar wchVal;
        double date;
        vk_guid IDVal;
        struct vk_variant* pvarVal;
        struct tm tmVal;
        struct {
            void* pInterfaceVal;
            vk_guid InterfaceID;
        } iface;
        struct {
            char* pstrVal;
            uint32_t strLen;
        } str;
        struct {
            vk_wchar* pwstrVal;
            uint32_t wstrLen;
        } wstr;
    } value;
    uint32_t cbElements;
    uint16_t vt;
} vk_variant;

enum {
    VK_EMPTY = 0, VK_I4 = 3, VK_R8 = 5, VK_BOOL = 11, VK_UI4 = 16, VK_PWSTR = 22
};

/* The memory manager: counts every block it hands out and every block given back. */
typedef struct vk_memory {
    const void* vtable;
    void** live;
    size_t live_count, live_capacity;
    long allocations, frees, bad_frees;
    long refuse_after; /* refuse allocations once this many succeeded; -1 never */
} vk_memory;

void vk_memory_init(vk_memory* memory);
/* Blocks handed out and not yet given back. */
size_t vk_memory_live(const vk_memory* memory);
/* Frees a block as the host does when it is done with a string. */
void vk_memory_free(vk_memory* memory, void* block);
void vk_memory_release(vk_memory* memory);

/* The connection object passed to Init. */
typedef struct vk_connection {
    const void* vtable;
    long errors_added;
} vk_connection;

void vk_connection_init(vk_connection* connection);

/* A loaded add-in library and its four exports. */
typedef struct vk_library {
    void* handle;
    long (*get_class_object)(const vk_wchar*, void**);
    long (*destroy_object)(void**);
    const vk_wchar* (*get_class_names)(void);
    int32_t (*set_platform_capabilities)(int32_t);
} vk_library;

/* Loads the library from a UTF-8 path; on failure writes a reason into error and returns false. */
bool vk_library_load(vk_library* library, const char* path, char* error, size_t error_size);
void vk_library_unload(vk_library* library);

/* IInitDoneBase */
bool vk_init(void* component, vk_connection* connection);
bool vk_set_mem_manager(void* component, vk_memory* memory);
long vk_get_info(void* component);
void vk_done(void* component);
/* ILanguageExtenderBase */
bool vk_register_extension_as(void* component, vk_wchar** name);
long vk_get_n_props(void* component);
long vk_find_prop(void* component, const vk_wchar* name);
const vk_wchar* vk_get_prop_name(void* component, long index, long alias);
bool vk_get_prop_val(void* component, long index, vk_variant* value);
bool vk_set_prop_val(void* component, long index, vk_variant* value);
bool vk_is_prop_readable(void* component, long index);
bool vk_is_prop_writable(void* component, long index);
long vk_get_n_methods(void* component);
long vk_find_method(void* component, const vk_wchar* name);
const vk_wchar* vk_get_method_name(void* component, long index, long alias);
long vk_get_n_params(void* component, long index);
bool vk_get_param_def_value(void* component, long method, long param, vk_variant* value);
bool vk_has_ret_val(void* component, long index);
bool vk_call_as_proc(void* component, long index, vk_variant* params, long count);
bool vk_call_as_func(void* component, long index, vk_variant* result, vk_variant* params, long count);
/* LocaleBase and UserLanguageBase */
void vk_set_locale(void* component, const vk_wchar* locale);
void vk_set_user_interface_language_code(void* component, const vk_wchar* code);

/* Text helpers. Results are malloc'd; the caller frees them with free(). */
vk_wchar* vk_utf16_from_utf8(const char* text);
char* vk_utf8_from_utf16(const vk_wchar* text, size_t length);
size_t vk_wcslen(const vk_wchar* text);

/* Variants as the host fills them. Strings passed in are the host's own (malloc'd);
 * vk_variant_clear frees them, and strings the component returned go back to the memory manager. */
void vk_variant_set_string(vk_variant* variant, const char* utf8);
void vk_variant_set_int(vk_variant* variant, int32_t value);
void vk_variant_set_double(vk_variant* variant, double value);
void vk_variant_set_bool(vk_variant* variant, bool value);
void vk_variant_set_empty(vk_variant* variant);
/* UTF-8 copy of a string variant (malloc'd), or NULL for another type. */
char* vk_variant_utf8(const vk_variant* variant);
void vk_variant_clear(vk_memory* memory, vk_variant* variant, bool host_owned);

#ifdef __cplusplus
}
#endif

#endif
