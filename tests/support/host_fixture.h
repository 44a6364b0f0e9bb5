// A host session for the tests: the real add-in library loaded through the C host harness, one
// component object created and initialised the way the platform does it, and a memory manager
// that fails the test on a leaked or twice-freed block.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vk_host.h"

namespace vktest {

// The Documents folder the component writes its log under, for this test process. On Linux the
// tests point XDG_DOCUMENTS_DIR at a fresh folder before any object exists.
std::string DocumentsFolder();
// Today's log file of the component, as the component names it.
std::string TodayLogPath();
std::string ReadFile(const std::string& path);
void RemoveFile(const std::string& path);
std::string Today(const char* format = "%Y-%m-%d");
// Line end in the log file: the file is written in text mode.
#if defined(_WIN32)
inline const char* const kLogEol = "\r\n";
#else
inline const char* const kLogEol = "\n";
#endif

// Host text.
std::u16string U16(const char* utf8);
std::string Utf8(const vk_wchar* text);

// A parameter array of host variants; strings the host put in are freed, strings the component
// returned go back through the memory manager.
class Params {
public:
    Params(vk_memory* memory, size_t count);
    ~Params();
    Params(const Params&) = delete;
    Params& operator=(const Params&) = delete;

    Params& Str(size_t i, const std::string& utf8);
    Params& Int(size_t i, int32_t value);
    Params& Dbl(size_t i, double value);
    Params& Bool(size_t i, bool value);
    vk_variant* data() { return values_.data(); }
    long size() const { return static_cast<long>(values_.size()); }
    vk_variant& operator[](size_t i) { return values_[i]; }
    // UTF-8 of a string the component returned in parameter i ("" for another type).
    std::string Text(size_t i) const;

private:
    void Clear(size_t i);
    vk_memory* memory_;
    std::vector<vk_variant> values_;
    std::vector<vk_wchar*> hostStrings_;  // the strings the host put in, owned by the host
};

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Method index by name, through FindMethod.
    long Method(const char* utf8Name);
    // Calls a method by name; the result variant is left in result_.
    bool Call(const char* utf8Name, Params& params);
    bool CallBool(const char* utf8Name, Params& params);  // the result variant's boolean
    // Calls GetLastError and returns the text; code receives the result variant's number.
    std::string LastError(uint32_t* code = nullptr);

    vk_library library_{};
    vk_memory memory_{};
    vk_connection connection_{};
    void* component_ = nullptr;
    vk_variant result_{};
};

}  // namespace vktest
