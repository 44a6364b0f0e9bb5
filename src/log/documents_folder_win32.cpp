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

void CreateFolder(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

namespace {

std::string SystemReason() {
    const DWORD code = GetLastError();
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) reason.pop_back();
    return reason + " (" + std::to_string(code) + ")";
}

}  // namespace

std::string PutFileInPlace(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return {};
    return SystemReason();
}

std::string RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) ? std::string() : SystemReason(); }

}  // namespace vesklink
