#include "args.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <type_traits>

#include "common/utf8.h"

namespace vkcli {

namespace {

using vesklink::common::Utf8Status;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// A path relative to baseDir, unless it is absolute or baseDir is empty.
std::string ResolvePath(const std::string& path, const std::string& baseDir) {
    if (path.empty() || baseDir.empty() || std::strchr(kPathSeparators, path[0])) return path;
#ifdef _WIN32
    if (path.size() > 1 && path[1] == ':') return path;  // a drive letter
#endif
    return baseDir + kPathSeparators[0] + path;
}

// Text the component can take: valid UTF-8 (no overlong forms, no surrogates) without NUL. When
// it is not, error says why, after `subject`.
bool IsCleanUtf8(std::string_view text, const std::string& subject, std::string& error) {
    for (size_t i = 0, length = 0; i < text.size(); i += length) {
        const auto next = vesklink::common::DecodeUtf8(text.substr(i));
        length = next.length;
        if (next.status == Utf8Status::Ok && next.value != 0) continue;
        const std::string at = " at offset " + std::to_string(i);
        if (next.status == Utf8Status::Ok) return Fail(error, subject + "contains a NUL byte" + at);
        const char* why = next.status == Utf8Status::CutShort ? " (sequence cut short)" : "";
        return Fail(error, subject + "is not valid UTF-8" + at + why);
    }
    return true;
}

// A strict decimal number within T's range with an optional sign ("+-" is no number); a double
// must be finite and has '.' as the decimal point, whatever the process locale. False when the
// text is no such number.
template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    if (text.starts_with('+') && !text.starts_with("+-")) text.remove_prefix(1);
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if constexpr (std::is_floating_point_v<T>)
        if (ec == std::errc() && !std::isfinite(value)) return false;
    return ec == std::errc() && stop == end;
}

// What a form's reader gets: the text after the prefix, and where an @FILE name is looked up.
struct FormText {
    std::string_view rest;
    const std::string& baseDir;
    FileReader reader;
};

bool ReadText(const FormText& in, Argument& arg, std::string& why) {
    arg.text = std::string(in.rest);
    return IsCleanUtf8(arg.text, "the text ", why);
}

bool ReadFileText(const FormText& in, Argument& arg, std::string& why) {
    if (in.rest.empty()) return Fail(why, "a file name must follow '@'");
    if (!in.reader(ResolvePath(std::string(in.rest), in.baseDir), arg.text, why)) return false;
    if (arg.text.starts_with(kByteOrderMark)) arg.text.erase(0, kByteOrderMark.size());
    return IsCleanUtf8(arg.text, "the file ", why);
}

// The number of i:N or d:X, into the field of the argument it fills.
template <auto Field>
bool ReadNumber(const FormText& in, Argument& arg, std::string&) { return ParseNumber(in.rest, arg.*Field); }

// One way of writing a call argument: the prefix that selects it ("out" is a whole token), how the
// usage text shows it and what it says of it, the kind of argument it makes and how the text after
// the prefix is read (none for "out"). A reader that refuses the text says why, or leaves that to
// `expected`, in words that follow "argument 'TOKEN': ".
struct ArgumentForm {
    std::string_view prefix;
    bool wholeToken;
    std::string_view shown;
    std::string_view meaning;
    Argument::Kind kind;
    const char* expected;
    bool (*read)(const FormText& in, Argument& arg, std::string& why);
};

constexpr ArgumentForm kArgumentForms[] = {
    {"s:", false, "s:TEXT", "a string", Argument::Kind::Text, "", ReadText},
    {"@", false, "@FILE", "a string read from a UTF-8 file (in a script, relative to the script)",
     Argument::Kind::Text, "", ReadFileText},
    {"i:", false, "i:N", "a 32-bit integer", Argument::Kind::Integer,
     "expected a whole number from -2147483648 to 2147483647", ReadNumber<&Argument::integer>},
    {"d:", false, "d:X", "a double, '.' as the decimal point", Argument::Kind::Double,
     "expected a finite number with '.' as the decimal point", ReadNumber<&Argument::number>},
    {"b:", false, "b:true|false", "a boolean", Argument::Kind::Boolean, "expected b:true or b:false",
     [](const FormText& in, Argument& arg, std::string&) {
         arg.boolean = in.rest == "true";
         return arg.boolean || in.rest == "false";
     }},
    {"out", true, "out", "an empty out-parameter", Argument::Kind::Out, "", nullptr},
};

// One line of the usage text: the thing written, padded to a column, and what it means.
void PrintUsageRow(std::ostream& out, std::string_view shown, std::string_view meaning) {
    out << "  " << std::left << std::setw(12) << shown << "  " << meaning << '\n' << std::right;
}

// One global option: its name, the value it takes and what the usage text says of it, and the
// field of Options its value goes to: a path that must not be empty, or a positive whole number.
struct OptionRow {
    std::string_view name;
    std::string_view value;
    std::string meaning;
    std::string Options::*path;
    std::optional<int32_t> Options::*number;
};

const OptionRow kOptionRows[] = {
    {"--lib", "PATH", std::string("the add-in library (default: ") + kLibraryFile + " next to this program)",
     &Options::library, nullptr},
    {"--port", "N", "set the Port property before the calls", nullptr, &Options::port},
    {"--speed", "N", "set the Speed property before the calls", nullptr, &Options::speed},
};

bool StoreOption(const OptionRow& option, const std::string& value, Options& options, std::string& error) {
    const std::string name(option.name);
    if (option.path) {
        options.*option.path = value;
        return !value.empty() || Fail(error, "option " + name + ": the path is empty");
    }
    int32_t number = 0;
    if (!ParseNumber(value, number) || number <= 0)
        return Fail(error, "option " + name + ": expected a positive whole number, got '" + value + "'");
    options.*option.number = number;
    return true;
}

// The option an argument names, as "--name" or "--name=VALUE"; null when it names none.
const OptionRow* FindOption(std::string_view arg) {
    for (const OptionRow& row : kOptionRows)
        if (arg.starts_with(row.name) && (arg.size() == row.name.size() || arg[row.name.size()] == '='))
            return &row;
    return nullptr;
}

// Appends the inside of the quote that opens at line[i]: in "double" quotes a backslash takes the
// next character literally, in 'single' quotes it is a plain character. The index of the closing
// quote, or npos when it is not closed.
size_t TakeQuoted(std::string_view line, size_t i, std::string& token) {
    const char quote = line[i];
    for (++i; i < line.size(); ++i) {
        if (line[i] == quote) return i;
        if (quote == '"' && line[i] == '\\' && i + 1 < line.size()) ++i;
        token += line[i];
    }
    return std::string_view::npos;
}

// One script line's statement: `crash`, which takes no arguments, or a call.
std::optional<CallLine> ParseStatement(const std::vector<std::string>& tokens, std::string& error,
                                       const std::string& baseDir, FileReader reader) {
    if (tokens[0] != "crash") return ParseCall(tokens, error, baseDir, reader);
    if (tokens.size() > 1) return Refuse(error, "crash takes no arguments");
    CallLine crash;
    crash.crash = true;
    crash.text = tokens[0];
    return crash;
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::string& content, std::string& error) {
    // The path as the file system takes it: the bytes themselves on Linux, UTF-16 on Windows.
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) return Fail(error, path + " is a folder, not a file");
    std::ifstream in(file, std::ios::binary);
    if (!in) return Fail(error, "cannot open " + path + ": " + std::strerror(errno));
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return Fail(error, "cannot read " + path);
    content = out.str();
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of(kPathSeparators);
    // The root folder keeps its separator.
    return slash == std::string::npos ? std::string() : path.substr(0, std::max<size_t>(slash, 1));
}

std::optional<Argument> ParseArgument(std::string_view token, std::string& error, const std::string& baseDir,
                                      FileReader reader) {
    const std::string argument = "argument '" + std::string(token) + "': ";
    for (const ArgumentForm& form : kArgumentForms) {
        if (form.wholeToken ? token != form.prefix : !token.starts_with(form.prefix)) continue;
        Argument arg;
        arg.kind = form.kind;
        std::string why;
        const FormText in{token.substr(form.prefix.size()), baseDir, reader};
        if (!form.read || form.read(in, arg, why)) return arg;
        error = argument + (why.empty() ? form.expected : why);
        return std::nullopt;
    }
    // "s:TEXT, @FILE, i:N, d:X, b:true|false or out"
    error = argument + "unknown form; use ";
    for (const ArgumentForm& form : kArgumentForms) {
        if (&form != kArgumentForms) error += &form == std::end(kArgumentForms) - 1 ? " or " : ", ";
        error += form.shown;
    }
    return std::nullopt;
}

void PrintUsage(std::ostream& out, std::string_view commands) {
    out << "usage: vesklink-cli";
    for (const OptionRow& row : kOptionRows) out << " [" << row.name << " " << row.value << "]";
    out << " COMMAND ...\n\ncommands:\n" << commands << "\narguments of a call:\n";
    for (const ArgumentForm& form : kArgumentForms) PrintUsageRow(out, form.shown, form.meaning);
    out << "  parameters left out at the end are passed empty.\n"
           "\nlines of a script (run):\n";
    PrintUsageRow(out, "METHOD ARG", "one call, its arguments as for call; '#' begins a comment");
    PrintUsageRow(out, "crash", "end the program at once, as a till client that is killed ends: no Close,");
    PrintUsageRow(out, "", "no DestroyObject, nothing cleaned up (exit status 137)");
    out << "\noptions:\n";
    for (const OptionRow& row : kOptionRows)
        PrintUsageRow(out, std::string(row.name) + " " + std::string(row.value), row.meaning);
    out << "\nexit codes: 0 every call succeeded, 1 a call failed, 2 bad input or no library\n";
}

std::optional<CallLine> ParseCall(const std::vector<std::string>& tokens, std::string& error,
                                  const std::string& baseDir, FileReader reader) {
    if (tokens.empty() || tokens[0].empty()) return Refuse(error, "a method name is missing");
    if (!IsCleanUtf8(tokens[0], "method name ", error)) return std::nullopt;
    CallLine call;
    call.method = call.text = tokens[0];
    for (size_t i = 1; i < tokens.size(); ++i) {
        auto arg = ParseArgument(tokens[i], error, baseDir, reader);
        if (!arg) return std::nullopt;
        call.arguments.push_back(std::move(*arg));
        call.text += ' ' + tokens[i];
    }
    return call;
}

std::optional<std::vector<std::string>> SplitLine(std::string_view line, std::string& error) {
    std::vector<std::string> tokens;
    std::string current;
    bool inToken = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (IsBlank(c)) {
            if (inToken) tokens.push_back(std::move(current));
            current.clear();
            inToken = false;
            continue;
        }
        if (c == '#' && !inToken) break;
        inToken = true;
        // A backslash outside quotes takes the next character literally.
        if (c == '\\' && ++i == line.size()) return Refuse(error, "a backslash ends the line");
        if (c == '\'' || c == '"') {
            i = TakeQuoted(line, i, current);
            if (i == std::string_view::npos) return Refuse(error, std::string("unterminated ") + c + " quote");
        } else {
            current += line[i];
        }
    }
    if (inToken) tokens.push_back(std::move(current));
    return tokens;
}

Script ParseScript(std::string_view content, const std::string& name, const std::string& baseDir,
                   FileReader reader) {
    Script script;
    if (content.starts_with(kByteOrderMark)) content.remove_prefix(kByteOrderMark.size());
    int number = 0;
    for (size_t start = 0, end = 0; start < content.size(); start = end + 1) {
        end = std::min(content.find('\n', start), content.size());
        ++number;
        std::string error;
        const auto tokens = SplitLine(content.substr(start, end - start), error);
        if (tokens && tokens->empty()) continue;
        auto call = tokens ? ParseStatement(*tokens, error, baseDir, reader) : std::nullopt;
        if (!call) {
            script.errors.push_back({number, name + ":" + std::to_string(number) + ": " + error});
            continue;
        }
        call->lineNumber = number;
        script.calls.push_back(std::move(*call));
    }
    return script;
}

std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string& error) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            continue;
        }
        if (!arg.starts_with("-")) {
            options.command = std::string(arg);
            options.arguments.assign(argv + i + 1, argv + argc);
            break;
        }
        const OptionRow* option = FindOption(arg);
        if (!option) return Refuse(error, "unknown option '" + std::string(arg) + "'");
        // The value follows '=' in the same argument, or is the next argument.
        const size_t length = option->name.size();
        if (arg.size() == length && i + 1 == argc)
            return Refuse(error, "option " + std::string(option->name) + " needs a value");
        const std::string value(arg.size() > length ? arg.substr(length + 1) : argv[++i]);
        if (!StoreOption(*option, value, options, error)) return std::nullopt;
    }
    if (options.command.empty() && !options.help) return Refuse(error, "a command is missing");
    return options;
}

std::optional<RunOptions> ParseRunOptions(const std::vector<std::string>& arguments, std::string& error) {
    RunOptions options;
    for (const std::string& arg : arguments) {
        if (arg == "--keep-going")
            options.keepGoing = true;
        else if (arg.starts_with("-") && arg != "-")
            return Refuse(error, "run: unknown option '" + arg + "'");
        else if (options.file.empty())
            options.file = arg;
        else
            return Refuse(error, "run: only one script file may be given");
    }
    if (options.file.empty()) return Refuse(error, "run: a script file is missing");
    return options;
}

}  // namespace vkcli
