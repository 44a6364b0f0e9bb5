// The Documents folder on Linux: XDG_DOCUMENTS_DIR, else the folder named in the user's
// user-dirs.dirs, else $HOME/Documents.
#include <cstdlib>
#include <fstream>
#include <string>

#include "log/logger.h"

namespace vesklink {

const char kPathSeparator = '/';

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Reads XDG_DOCUMENTS_DIR="$HOME/Documents" from user-dirs.dirs, expanding a leading $HOME.
std::string FromUserDirs(const std::string& home) {
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty()) {
        if (home.empty()) return {};
        config = home + "/.config";
    }
    std::ifstream file(config + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(file, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
        std::string value = line.substr(start + key.size());
        if (value.size() >= 2 && value.front() == '"') {
            const size_t close = value.find('"', 1);
            if (close == std::string::npos) continue;
            value = value.substr(1, close - 1);
        }
        if (value.rfind("$HOME", 0) == 0) {
            if (home.empty()) continue;
            value = home + value.substr(5);
        }
        if (!value.empty() && value.front() == '/') return value;
    }
    return {};
}

}  // namespace

std::string DocumentsFolder() {
    std::string folder = Env("XDG_DOCUMENTS_DIR");
    if (!folder.empty()) return folder;
    const std::string home = Env("HOME");
    folder = FromUserDirs(home);
    if (!folder.empty()) return folder;
    if (home.empty()) return {};
    return home + "/Documents";
}

}  // namespace vesklink
