#include "support/host_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#include <shlobj.h>
#else
#include <unistd.h>
#endif

namespace vktest {

std::string DocumentsFolder() {
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, path) != S_OK) return {};
    return path;
#else
    static std::string folder = [] {
        char pattern[] = "/tmp/vesklink-docs-XXXXXX";
        const char* made = mkdtemp(pattern);
        std::string path = made ? made : "/tmp";
        setenv("XDG_DOCUMENTS_DIR", path.c_str(), 1);
        return path;
    }();
    return folder;
#endif
}

std::string Today(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char buf[64];
    return std::string(buf, std::strftime(buf, sizeof buf, format, &local));
}

std::string TodayLogPath() {
#if defined(_WIN32)
    const char sep = '\\';
#else
    const char sep = '/';
#endif
    return DocumentsFolder() + sep + "VESKLINK" + sep + "vesklog-" + Today() + ".log";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void RemoveFile(const std::string& path) { std::remove(path.c_str()); }

std::u16string U16(const char* utf8) {
    vk_wchar* wide = vk_utf16_from_utf8(utf8);
    std::u16string out(reinterpret_cast<const char16_t*>(wide), vk_wcslen(wide));
    free(wide);
    return out;
}

std::string Utf8(const vk_wchar* text) {
    if (!text) return {};
    char* narrow = vk_utf8_from_utf16(text, vk_wcslen(text));
    std::string out(narrow);
    free(narrow);
    return out;
}

Params::Params(vk_memory* memory, size_t count) : memory_(memory), values_(count), hostStrings_(count, nullptr) {
    for (auto& v : values_) vk_variant_set_empty(&v);
}

Params::~Params() {
    for (size_t i = 0; i < values_.size(); ++i) Clear(i);
}

void Params::Clear(size_t i) {
    // A string the component wrote over the host's one came from the memory manager.
    vk_variant& v = values_[i];
    if (v.vt == VK_PWSTR && v.value.wstr.pwstrVal && v.value.wstr.pwstrVal != hostStrings_[i])
        vk_memory_free(memory_, v.value.wstr.pwstrVal);
    free(hostStrings_[i]);
    hostStrings_[i] = nullptr;
    vk_variant_set_empty(&v);
}

Params& Params::Str(size_t i, const std::string& utf8) {
    Clear(i);
    vk_variant_set_string(&values_[i], utf8.c_str());
    hostStrings_[i] = values_[i].value.wstr.pwstrVal;
    return *this;
}

Params& Params::Int(size_t i, int32_t value) {
    Clear(i);
    vk_variant_set_int(&values_[i], value);
    return *this;
}

Params& Params::Dbl(size_t i, double value) {
    Clear(i);
    vk_variant_set_double(&values_[i], value);
    return *this;
}

Params& Params::Bool(size_t i, bool value) {
    Clear(i);
    vk_variant_set_bool(&values_[i], value);
    return *this;
}

std::string Params::Text(size_t i) const {
    char* text = vk_variant_utf8(&values_[i]);
    if (!text) return {};
    std::string out(text);
    free(text);
    return out;
}

namespace {

// The add-in library beside the test program (every program and library of a build lands in one
// folder). Windows looks there for a bare name itself.
std::string LibraryPath() {
#if defined(_WIN32)
    return VESKLINK_LIBRARY;
#else
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof self) return VESKLINK_LIBRARY;
    const std::string program(self, static_cast<size_t>(length));
    return program.substr(0, program.rfind('/') + 1) + VESKLINK_LIBRARY;
#endif
}

}  // namespace

void HostFixture::SetUp() {
    DocumentsFolder();  // before the object exists: the log path is fixed at construction
    char error[512] = {};
    ASSERT_TRUE(vk_library_load(&library_, LibraryPath().c_str(), error, sizeof error)) << error;
    vk_memory_init(&memory_);
    vk_connection_init(&connection_);
    ASSERT_NE(library_.get_class_object(nullptr, &component_), 0);
    ASSERT_NE(component_, nullptr);
    ASSERT_TRUE(vk_init(component_, &connection_));
    ASSERT_TRUE(vk_set_mem_manager(component_, &memory_));
    vk_variant_set_empty(&result_);
}

void HostFixture::TearDown() {
    if (component_) {
        EXPECT_EQ(library_.destroy_object(&component_), 0);
        EXPECT_EQ(component_, nullptr);
    }
    EXPECT_EQ(vk_memory_live(&memory_), 0u) << "blocks handed to the host and never freed";
    EXPECT_EQ(memory_.bad_frees, 0) << "blocks freed twice or not allocated by the host";
    vk_memory_release(&memory_);
    vk_library_unload(&library_);
}

long HostFixture::Method(const char* utf8Name) {
    std::u16string name = U16(utf8Name);
    return vk_find_method(component_, reinterpret_cast<const vk_wchar*>(name.c_str()));
}

bool HostFixture::Call(const char* utf8Name, Params& params) {
    const long index = Method(utf8Name);
    EXPECT_GE(index, 0) << utf8Name;
    vk_variant_set_empty(&result_);
    return vk_call_as_func(component_, index, &result_, params.data(), params.size());
}

bool HostFixture::CallBool(const char* utf8Name, Params& params) {
    EXPECT_TRUE(Call(utf8Name, params)) << utf8Name;
    EXPECT_EQ(result_.vt, VK_BOOL) << utf8Name;
    return result_.vt == VK_BOOL && result_.value.bVal;
}

std::string HostFixture::LastError(uint32_t* code) {
    Params p(&memory_, 1);
    EXPECT_TRUE(Call("GetLastError", p));
    if (code) *code = result_.value.ulVal;
    return p.Text(0);
}

}  // namespace vktest
