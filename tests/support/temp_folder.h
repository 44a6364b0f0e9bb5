#pragma once
// A folder of a test's own under /tmp, removed with all it holds when the test ends. Path() is
// empty when the folder could not be made; a fixture asserts on that in its SetUp.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vktest {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix) {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace vktest
