// The driver's folder and files on Windows: they lie in the user's own Documents folder and take
// its permissions.
#include <windows.h>

#include <string>

#include "log/logger.h"

namespace vesklink {

void CreatePrivateFolder(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

std::FILE* OpenPrivateFile(const std::string& path, const char* mode) {
    return mode && *mode ? std::fopen(path.c_str(), mode) : nullptr;
}

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
