// Command line of vesklink-cli: global options, the command word, typed call arguments and the
// lines of a call script. Pure parsing, no library involved, so every rule can be unit-tested.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vkcli {

// Exit codes of the program. A script's crash line ends it with ExitCrashed, the status a shell
// shows for a process killed with SIGKILL.
enum ExitCode : int { ExitOk = 0, ExitCallFailed = 1, ExitUsage = 2, ExitCrashed = 137 };

// The add-in library of this program's platform and word size, and the characters that separate
// the folders of a path.
#ifdef _WIN32
constexpr const char* kLibraryFile = sizeof(void*) == 8 ? "vesklink_64.dll" : "vesklink.dll";
constexpr const char* kPathSeparators = "\\/";
#else
constexpr const char* kLibraryFile = sizeof(void*) == 8 ? "vesklink_64.so" : "vesklink.so";
constexpr const char* kPathSeparators = "/";
#endif

// Sets error to the message, for a function that fails: false, or no value, to return.
inline bool Fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}
inline std::nullopt_t Refuse(std::string& error, std::string message) {
    error = std::move(message);
    return std::nullopt;
}

// One argument of a method call, as the host will pass it.
struct Argument {
    enum class Kind { Text, Integer, Double, Boolean, Out };
    Kind kind = Kind::Out;
    std::string text;  // Text: UTF-8, already checked
    int32_t integer = 0;
    double number = 0.0;
    bool boolean = false;
};

// Reads a whole file as bytes; the path is UTF-8. Replaceable in tests; the default reads from disk.
using FileReader = bool (*)(const std::string& path, std::string& content, std::string& error);
bool ReadFileBytes(const std::string& path, std::string& content, std::string& error);

// The usage text around `commands`, the commands' lines: the synopsis with the options, the
// argument forms, the lines of a script, the options and the exit codes.
void PrintUsage(std::ostream& out, std::string_view commands);

// One typed argument: "s:TEXT", "@FILE" (UTF-8 text; a leading byte-order mark is dropped),
// "i:N" (32-bit), "d:X" (finite, '.' as the decimal point), "b:true" / "b:false", "out".
// Text must be valid UTF-8 (no overlong forms, no surrogates) without NUL. A relative @FILE path
// is taken relative to baseDir when baseDir is not empty.
std::optional<Argument> ParseArgument(std::string_view token, std::string& error,
                                      const std::string& baseDir = {}, FileReader reader = ReadFileBytes);

// A call as written: the method name and its arguments. In a script, a line `crash` instead ends
// the program at that point, as a till client that is killed ends.
struct CallLine {
    bool crash = false;
    std::string method;
    std::vector<Argument> arguments;
    int lineNumber = 0;  // in a script; 0 on the command line
    std::string text;    // the line as written, for the transcript
};

// Builds a call from METHOD ARG... tokens.
std::optional<CallLine> ParseCall(const std::vector<std::string>& tokens, std::string& error,
                                  const std::string& baseDir = {}, FileReader reader = ReadFileBytes);

// Splits one script line into tokens. Blanks separate tokens; "double" and 'single' quotes group
// blanks into a token; inside double quotes and outside quotes a backslash takes the next
// character literally; '#' at the start of a token begins a comment to the end of the line.
// An unterminated quote or a trailing backslash is an error.
std::optional<std::vector<std::string>> SplitLine(std::string_view line, std::string& error);

// A whole call script: one call (or crash) per line, blank and comment lines skipped. Every line is parsed
// before any call runs; every bad line is reported with its number.
struct ScriptError {
    int line = 0;
    std::string text;  // "FILE:LINE: message"
};
struct Script {
    std::vector<CallLine> calls;
    std::vector<ScriptError> errors;
};
Script ParseScript(std::string_view content, const std::string& name, const std::string& baseDir = {},
                   FileReader reader = ReadFileBytes);

// Global options and the command word with its own arguments.
struct Options {
    std::string library;  // empty: the default next to the program
    std::optional<int32_t> port;
    std::optional<int32_t> speed;
    bool help = false;
    std::string command;
    std::vector<std::string> arguments;  // after the command word
};

// vesklink-cli [--lib PATH] [--port N] [--speed N] COMMAND ARG...; options also as --opt=VALUE.
// Options end at the command word; everything after it belongs to the command.
std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string& error);

// Options of the run command: [--keep-going] FILE.
struct RunOptions {
    bool keepGoing = false;
    std::string file;
};
std::optional<RunOptions> ParseRunOptions(const std::vector<std::string>& arguments, std::string& error);

// Folder part of a path ("" for a bare file name).
std::string DirectoryOf(const std::string& path);

}  // namespace vkcli
