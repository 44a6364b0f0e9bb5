// What vesklink-cli asks of the operating system, one file per platform (platform_posix.cpp,
// platform_win32.cpp). Every path and every argument is UTF-8 on both.
#pragma once

#include <string>
#include <vector>

namespace vkcli {

// The program's arguments as UTF-8, argv[0] first (Windows: read from the wide command line, not
// the ANSI code page), after the standard streams are set to pass bytes unchanged and the console
// to show UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Folder of the running program; empty when the system cannot tell.
std::string ProgramDirectory();

bool FileExists(const std::string& path);

// The path the library is loaded from: a relative path (a bare file name too) means the file below
// the current folder, never a search of the system's library folders or PATH.
std::string LibraryPath(const std::string& path);

// Ends the process at once, the way a till client ends when it is killed: no destructor, no atexit
// handler, no stream flushed; exit status ExitCrashed (SIGKILL on Linux).
[[noreturn]] void EndProcessAtOnce();

}  // namespace vkcli
