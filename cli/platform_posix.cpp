#include <signal.h>
#include <unistd.h>

#include "args.h"
#include "platform.h"

namespace vkcli {

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }

std::string ProgramDirectory() {
    std::string buffer(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return n <= 0 ? std::string() : DirectoryOf(buffer.substr(0, static_cast<size_t>(n)));
}

bool FileExists(const std::string& path) { return !path.empty() && access(path.c_str(), F_OK) == 0; }

std::string LibraryPath(const std::string& path) {
    // dlopen searches the library folders only for a name without a slash.
    return path.find('/') == std::string::npos ? "./" + path : path;
}

void EndProcessAtOnce() {
    kill(getpid(), SIGKILL);
    _exit(ExitCrashed);  // only if the signal could not be sent
}

}  // namespace vkcli
