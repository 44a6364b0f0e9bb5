#include "vk_host.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

/* Interface tables. Linux hosts follow the Itanium C++ ABI: a virtual destructor takes two
 * slots. Windows hosts follow MSVC: one slot, and on 32-bit every method is __stdcall. */
#if defined(_WIN32)
#define VK_DTOR_SLOTS 1
#if defined(__i386__) || defined(_M_IX86)
#define VK_CALL __stdcall
#else
#define VK_CALL
#endif
#else
#define VK_DTOR_SLOTS 2
#define VK_CALL
#endif

typedef void (*vk_fn)(void);

/* Slot n (after the destructor slots) of the interface table at interface offset k. */
static vk_fn slot(void* component, int interface_index, int n) {
    void** object = (void**)component + interface_index;
    vk_fn* table = *(vk_fn**)object;
    return table[VK_DTOR_SLOTS + n];
}
static void* iface(void* component, int interface_index) { return (void**)component + interface_index; }

enum { INIT_DONE = 0, LANGUAGE_EXTENDER = 1, LOCALE = 2, USER_LANGUAGE = 3 };

/* ---- memory manager ---- */

static bool VK_CALL memory_alloc(vk_memory* self, void** block, unsigned long size) {
    if (!block) return false;
    if (self->refuse_after >= 0 && self->allocations >= self->refuse_after) return false;
    void* p = malloc(size ? size : 1);
    if (!p) return false;
    if (self->live_count == self->live_capacity) {
        size_t capacity = self->live_capacity ? self->live_capacity * 2 : 64;
        void** grown = (void**)realloc(self->live, capacity * sizeof(void*));
        if (!grown) {
            free(p);
            return false;
        }
        self->live = grown;
        self->live_capacity = capacity;
    }
    self->live[self->live_count++] = p;
    self->allocations++;
    *block = p;
    return true;
}

void vk_memory_free(vk_memory* self, void* block) {
    for (size_t i = 0; i < self->live_count; ++i) {
        if (self->live[i] == block) {
            self->live[i] = self->live[--self->live_count];
            self->frees++;
            free(block);
            return;
        }
    }
    self->bad_frees++; /* not ours, or already given back */
}

static void VK_CALL memory_free(vk_memory* self, void** block) {
    if (!block || !*block) return;
    vk_memory_free(self, *block);
    *block = NULL;
}

static void VK_CALL noop_dtor(void* self) { (void)self; }

static const vk_fn memory_table[] = {
    (vk_fn)noop_dtor,
#if VK_DTOR_SLOTS == 2
    (vk_fn)noop_dtor,
#endif
    (vk_fn)memory_alloc, (vk_fn)memory_free,
};

void vk_memory_init(vk_memory* memory) {
    memset(memory, 0, sizeof *memory);
    memory->vtable = memory_table;
    memory->refuse_after = -1;
}

size_t vk_memory_live(const vk_memory* memory) { return memory->live_count; }

void vk_memory_release(vk_memory* memory) {
    for (size_t i = 0; i < memory->live_count; ++i) free(memory->live[i]);
    free(memory->live);
    memory->live = NULL;
    memory->live_count = memory->live_capacity = 0;
}

/* ---- connection ---- */

static bool VK_CALL conn_add_error(vk_connection* self, unsigned short code, const vk_wchar* source,
                                   const vk_wchar* descr, long scode) {
    (void)code; (void)source; (void)descr; (void)scode;
    self->errors_added++;
    return true;
}
static bool VK_CALL conn_read(void* self, vk_wchar* name, vk_variant* value, long* error, vk_wchar** descr) {
    (void)self; (void)name; (void)value; (void)error; (void)descr;
    return false;
}
static bool VK_CALL conn_write(void* self, vk_wchar* name, vk_variant* value) {
    (void)self; (void)name; (void)value;
    return false;
}
static bool VK_CALL conn_register_profile(void* self, vk_wchar* name) { (void)self; (void)name; return true; }
static bool VK_CALL conn_set_depth(void* self, long depth) { (void)self; (void)depth; return true; }
static long VK_CALL conn_get_depth(void* self) { (void)self; return 1; }
static bool VK_CALL conn_external_event(void* self, vk_wchar* s, vk_wchar* m, vk_wchar* d) {
    (void)self; (void)s; (void)m; (void)d;
    return true;
}
static void VK_CALL conn_clean(void* self) { (void)self; }
static bool VK_CALL conn_set_status(void* self, vk_wchar* line) { (void)self; (void)line; return true; }
static void VK_CALL conn_reset_status(void* self) { (void)self; }

static const vk_fn connection_table[] = {
    (vk_fn)noop_dtor,
#if VK_DTOR_SLOTS == 2
    (vk_fn)noop_dtor,
#endif
    (vk_fn)conn_add_error, (vk_fn)conn_read, (vk_fn)conn_write, (vk_fn)conn_register_profile,
    (vk_fn)conn_set_depth, (vk_fn)conn_get_depth, (vk_fn)conn_external_event, (vk_fn)conn_clean,
    (vk_fn)conn_set_status, (vk_fn)conn_reset_status,
};

void vk_connection_init(vk_connection* connection) {
    memset(connection, 0, sizeof *connection);
    connection->vtable = connection_table;
}

/* ---- library ---- */

static void* find_symbol(void* handle, const char* name) {
#if defined(_WIN32)
    return (void*)GetProcAddress((HMODULE)handle, name);
#else
    return dlsym(handle, name);
#endif
}

bool vk_library_load(vk_library* library, const char* path, char* error, size_t error_size) {
    memset(library, 0, sizeof *library);
#if defined(_WIN32)
    /* The path is UTF-8, as every text of the harness: a folder such as C:\Users\Иван loads too. */
    wchar_t wide[4096];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, (int)(sizeof wide / sizeof *wide)) > 0)
        library->handle = (void*)LoadLibraryW(wide);
    if (!library->handle) {
        snprintf(error, error_size, "LoadLibrary(%s) failed: %lu", path, (unsigned long)GetLastError());
        return false;
    }
#else
    library->handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library->handle) {
        snprintf(error, error_size, "dlopen(%s) failed: %s", path, dlerror());
        return false;
    }
#endif
    void* a = find_symbol(library->handle, "GetClassObject");
    void* b = find_symbol(library->handle, "DestroyObject");
    void* c = find_symbol(library->handle, "GetClassNames");
    void* d = find_symbol(library->handle, "SetPlatformCapabilities");
    if (!a || !b || !c || !d) {
        snprintf(error, error_size, "%s lacks an add-in entry point", path);
        vk_library_unload(library);
        return false;
    }
    memcpy(&library->get_class_object, &a, sizeof a);
    memcpy(&library->destroy_object, &b, sizeof b);
    memcpy(&library->get_class_names, &c, sizeof c);
    memcpy(&library->set_platform_capabilities, &d, sizeof d);
    return true;
}

void vk_library_unload(vk_library* library) {
    if (!library->handle) return;
#if defined(_WIN32)
    FreeLibrary((HMODULE)library->handle);
#else
    dlclose(library->handle);
#endif
    library->handle = NULL;
}

/* ---- component calls ---- */

bool vk_init(void* c, vk_connection* connection) {
    return ((bool(VK_CALL*)(void*, void*))slot(c, INIT_DONE, 0))(iface(c, INIT_DONE), connection);
}
bool vk_set_mem_manager(void* c, vk_memory* memory) {
    return ((bool(VK_CALL*)(void*, void*))slot(c, INIT_DONE, 1))(iface(c, INIT_DONE), memory);
}
long vk_get_info(void* c) { return ((long(VK_CALL*)(void*))slot(c, INIT_DONE, 2))(iface(c, INIT_DONE)); }
void vk_done(void* c) { ((void(VK_CALL*)(void*))slot(c, INIT_DONE, 3))(iface(c, INIT_DONE)); }

#define LE(n, type, ...) ((type)slot(c, LANGUAGE_EXTENDER, n))(iface(c, LANGUAGE_EXTENDER), __VA_ARGS__)
#define LE0(n, type) ((type)slot(c, LANGUAGE_EXTENDER, n))(iface(c, LANGUAGE_EXTENDER))

bool vk_register_extension_as(void* c, vk_wchar** name) { return LE(0, bool(VK_CALL*)(void*, vk_wchar**), name); }
long vk_get_n_props(void* c) { return LE0(1, long(VK_CALL*)(void*)); }
long vk_find_prop(void* c, const vk_wchar* name) { return LE(2, long(VK_CALL*)(void*, const vk_wchar*), name); }
const vk_wchar* vk_get_prop_name(void* c, long index, long alias) {
    return LE(3, const vk_wchar*(VK_CALL*)(void*, long, long), index, alias);
}
bool vk_get_prop_val(void* c, long index, vk_variant* value) {
    return LE(4, bool(VK_CALL*)(void*, long, vk_variant*), index, value);
}
bool vk_set_prop_val(void* c, long index, vk_variant* value) {
    return LE(5, bool(VK_CALL*)(void*, long, vk_variant*), index, value);
}
bool vk_is_prop_readable(void* c, long index) { return LE(6, bool(VK_CALL*)(void*, long), index); }
bool vk_is_prop_writable(void* c, long index) { return LE(7, bool(VK_CALL*)(void*, long), index); }
long vk_get_n_methods(void* c) { return LE0(8, long(VK_CALL*)(void*)); }
long vk_find_method(void* c, const vk_wchar* name) { return LE(9, long(VK_CALL*)(void*, const vk_wchar*), name); }
const vk_wchar* vk_get_method_name(void* c, long index, long alias) {
    return LE(10, const vk_wchar*(VK_CALL*)(void*, long, long), index, alias);
}
long vk_get_n_params(void* c, long index) { return LE(11, long(VK_CALL*)(void*, long), index); }
bool vk_get_param_def_value(void* c, long method, long param, vk_variant* value) {
    return LE(12, bool(VK_CALL*)(void*, long, long, vk_variant*), method, param, value);
}
bool vk_has_ret_val(void* c, long index) { return LE(13, bool(VK_CALL*)(void*, long), index); }
bool vk_call_as_proc(void* c, long index, vk_variant* params, long count) {
    return LE(14, bool(VK_CALL*)(void*, long, vk_variant*, long), index, params, count);
}
bool vk_call_as_func(void* c, long index, vk_variant* result, vk_variant* params, long count) {
    return LE(15, bool(VK_CALL*)(void*, long, vk_variant*, vk_variant*, long), index, result, params, count);
}

void vk_set_locale(void* c, const vk_wchar* locale) {
    ((void(VK_CALL*)(void*, const vk_wchar*))slot(c, LOCALE, 0))(iface(c, LOCALE), locale);
}
void vk_set_user_interface_language_code(void* c, const vk_wchar* code) {
    ((void(VK_CALL*)(void*, const vk_wchar*))slot(c, USER_LANGUAGE, 0))(iface(c, USER_LANGUAGE), code);
}

/* ---- text ---- */
/* The harness is C, so it keeps its own UTF-8 conversions instead of the C++ decoder of common/. */

size_t vk_wcslen(const vk_wchar* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

vk_wchar* vk_utf16_from_utf8(const char* text) {
    size_t length = strlen(text);
    vk_wchar* out = (vk_wchar*)malloc((length + 1) * sizeof(vk_wchar));
    size_t n = 0, i = 0;
    if (!out) return NULL;
    while (i < length) {
        unsigned char b = (unsigned char)text[i];
        uint32_t cp;
        int extra;
        if (b < 0x80) { cp = b; extra = 0; }
        else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; extra = 2; }
        else { cp = b & 0x07; extra = 3; }
        ++i;
        while (extra-- > 0 && i < length) cp = (cp << 6) | ((unsigned char)text[i++] & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out[n++] = (vk_wchar)(0xD800 + (cp >> 10));
            out[n++] = (vk_wchar)(0xDC00 + (cp & 0x3FF));
        } else {
            out[n++] = (vk_wchar)cp;
        }
    }
    out[n] = 0;
    return out;
}

char* vk_utf8_from_utf16(const vk_wchar* text, size_t length) {
    char* out = (char*)malloc(length * 4 + 1);
    size_t n = 0;
    if (!out) return NULL;
    for (size_t i = 0; i < length; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) out[n++] = (char)cp;
        else if (cp < 0x800) { out[n++] = (char)(0xC0 | (cp >> 6)); out[n++] = (char)(0x80 | (cp & 0x3F)); }
        else if (cp < 0x10000) {
            out[n++] = (char)(0xE0 | (cp >> 12));
            out[n++] = (char)(0x80 | ((cp >> 6) & 0x3F));
            out[n++] = (char)(0x80 | (cp & 0x3F));
        } else {
            out[n++] = (char)(0xF0 | (cp >> 18));
            out[n++] = (char)(0x80 | ((cp >> 12) & 0x3F));
            out[n++] = (char)(0x80 | ((cp >> 6) & 0x3F));
            out[n++] = (char)(0x80 | (cp & 0x3F));
        }
    }
    out[n] = 0;
    return out;
}

/* ---- variants ---- */

void vk_variant_set_empty(vk_variant* variant) { memset(variant, 0, sizeof *variant); }

void vk_variant_set_string(vk_variant* variant, const char* utf8) {
    vk_variant_set_empty(variant);
    variant->vt = VK_PWSTR;
    variant->value.wstr.pwstrVal = vk_utf16_from_utf8(utf8);
    variant->value.wstr.wstrLen = (uint32_t)vk_wcslen(variant->value.wstr.pwstrVal);
}

void vk_variant_set_int(vk_variant* variant, int32_t value) {
    vk_variant_set_empty(variant);
    variant->vt = VK_I4;
    variant->value.lVal = value;
}

void vk_variant_set_double(vk_variant* variant, double value) {
    vk_variant_set_empty(variant);
    variant->vt = VK_R8;
    variant->value.dblVal = value;
}

void vk_variant_set_bool(vk_variant* variant, bool value) {
    vk_variant_set_empty(variant);
    variant->vt = VK_BOOL;
    variant->value.bVal = value;
}

char* vk_variant_utf8(const vk_variant* variant) {
    if (variant->vt != VK_PWSTR || !variant->value.wstr.pwstrVal) return NULL;
    return vk_utf8_from_utf16(variant->value.wstr.pwstrVal, variant->value.wstr.wstrLen);
}

void vk_variant_clear(vk_memory* memory, vk_variant* variant, bool host_owned) {
    if (variant->vt == VK_PWSTR && variant->value.wstr.pwstrVal) {
        if (host_owned) free(variant->value.wstr.pwstrVal);
        else vk_memory_free(memory, variant->value.wstr.pwstrVal);
    }
    vk_variant_set_empty(variant);
}
