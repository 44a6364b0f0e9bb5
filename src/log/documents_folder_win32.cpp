// The Documents folder on Windows, as the shell reports it for the current user.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "log/logger.h"

namespace vesklink {

const char kPathSeparator = '\\';

std::string DocumentsFolder() {
    char path[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, path) != S_OK) return {};
    return path;
}

}  // namespace vesklink
