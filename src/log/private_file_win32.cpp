// The driver's folder and files on Windows: they lie in the user's own Documents folder and take
// its permissions.
#include <windows.h>

#include "log/logger.h"

namespace vesklink {

void CreatePrivateFolder(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

std::FILE* OpenPrivateFile(const std::string& path, const char* mode) {
    return mode && *mode ? std::fopen(path.c_str(), mode) : nullptr;
}

}  // namespace vesklink
