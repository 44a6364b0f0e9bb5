#include "args.h"

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/utf8.h"

namespace vkcli {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string ResolvePath(const std::string& path, const std::string& baseDir) {
    if (path.empty() || path[0] == '/' || baseDir.empty()) return path;
    return baseDir + "/" + path;
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::string& content, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + " is a folder, not a file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    content = out.str();
    return true;
}

bool IsCleanUtf8(std::string_view text, std::string& error) {
    for (size_t i = 0; i < text.size();) {
        const vesklink::common::Utf8CodePoint next = vesklink::common::DecodeUtf8(text.substr(i));
        if (next.status == vesklink::common::Utf8Status::Ok && next.value != 0) {
            i += next.length;
            continue;
        }
        const std::string at = " at offset " + std::to_string(i);
        if (next.status == vesklink::common::Utf8Status::Ok)
            error = "contains a NUL byte" + at;
        else if (next.status == vesklink::common::Utf8Status::CutShort)
            error = "is not valid UTF-8" + at + " (sequence cut short)";
        else
            error = "is not valid UTF-8" + at;
        return false;
    }
    return true;
}

std::optional<int32_t> ParseInt32(std::string_view text) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-') return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> ParseDouble(std::string_view text) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-') return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::optional<Argument> ParseArgument(std::string_view token, std::string& error, const std::string& baseDir,
                                      FileReader reader) {
    Argument arg;
    arg.source = std::string(token);
    if (token == "out") {
        arg.kind = Argument::Kind::Out;
        return arg;
    }
    if (StartsWith(token, "s:")) {
        arg.kind = Argument::Kind::Text;
        arg.text = std::string(token.substr(2));
        std::string why;
        if (!IsCleanUtf8(arg.text, why)) {
            error = "argument '" + arg.source + "': the text " + why;
            return std::nullopt;
        }
        return arg;
    }
    if (StartsWith(token, "@")) {
        const std::string path = std::string(token.substr(1));
        if (path.empty()) {
            error = "argument '@': a file name must follow '@'";
            return std::nullopt;
        }
        std::string content, why;
        if (!reader(ResolvePath(path, baseDir), content, why)) {
            error = "argument '" + arg.source + "': " + why;
            return std::nullopt;
        }
        if (StartsWith(content, "\xEF\xBB\xBF")) content.erase(0, 3);
        if (!IsCleanUtf8(content, why)) {
            error = "argument '" + arg.source + "': the file " + why;
            return std::nullopt;
        }
        arg.kind = Argument::Kind::Text;
        arg.text = std::move(content);
        return arg;
    }
    if (StartsWith(token, "i:")) {
        const auto value = ParseInt32(token.substr(2));
        if (!value) {
            error = "argument '" + arg.source + "': expected a whole number from -2147483648 to 2147483647";
            return std::nullopt;
        }
        arg.kind = Argument::Kind::Integer;
        arg.integer = *value;
        return arg;
    }
    if (StartsWith(token, "d:")) {
        const auto value = ParseDouble(token.substr(2));
        if (!value) {
            error = "argument '" + arg.source + "': expected a finite number with '.' as the decimal point";
            return std::nullopt;
        }
        arg.kind = Argument::Kind::Double;
        arg.number = *value;
        return arg;
    }
    if (StartsWith(token, "b:")) {
        const std::string_view value = token.substr(2);
        if (value != "true" && value != "false") {
            error = "argument '" + arg.source + "': expected b:true or b:false";
            return std::nullopt;
        }
        arg.kind = Argument::Kind::Boolean;
        arg.boolean = value == "true";
        return arg;
    }
    error = "argument '" + arg.source + "': unknown form; use s:TEXT, @FILE, i:N, d:X, b:true|false or out";
    return std::nullopt;
}

std::optional<CallLine> ParseCall(const std::vector<std::string>& tokens, std::string& error,
                                  const std::string& baseDir, FileReader reader) {
    if (tokens.empty() || tokens[0].empty()) {
        error = "a method name is missing";
        return std::nullopt;
    }
    CallLine call;
    call.method = tokens[0];
    std::string why;
    if (!IsCleanUtf8(call.method, why)) {
        error = "method name " + why;
        return std::nullopt;
    }
    call.text = tokens[0];
    for (size_t i = 1; i < tokens.size(); ++i) {
        auto arg = ParseArgument(tokens[i], error, baseDir, reader);
        if (!arg) return std::nullopt;
        call.arguments.push_back(std::move(*arg));
        call.text += ' ';
        call.text += tokens[i];
    }
    return call;
}

std::optional<std::vector<std::string>> SplitLine(std::string_view line, std::string& error) {
    std::vector<std::string> tokens;
    std::string current;
    bool inToken = false;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (IsBlank(c)) {
            if (inToken) tokens.push_back(std::move(current));
            current.clear();
            inToken = false;
            ++i;
            continue;
        }
        if (c == '#' && !inToken) break;
        inToken = true;
        if (c == '\\') {
            if (i + 1 >= line.size()) {
                error = "a backslash ends the line";
                return std::nullopt;
            }
            current += line[i + 1];
            i += 2;
            continue;
        }
        if (c == '\'') {
            const size_t close = line.find('\'', i + 1);
            if (close == std::string_view::npos) {
                error = "unterminated ' quote";
                return std::nullopt;
            }
            current.append(line.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        if (c == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (line[i] == '\\' && i + 1 < line.size()) {
                    current += line[i + 1];
                    i += 2;
                    continue;
                }
                current += line[i++];
            }
            if (!closed) {
                error = "unterminated \" quote";
                return std::nullopt;
            }
            continue;
        }
        current += c;
        ++i;
    }
    if (inToken) tokens.push_back(std::move(current));
    return tokens;
}

Script ParseScript(std::string_view content, const std::string& name, const std::string& baseDir,
                   FileReader reader) {
    Script script;
    if (StartsWith(content, "\xEF\xBB\xBF")) content.remove_prefix(3);
    int number = 0;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string_view::npos) end = content.size();
        const std::string_view line = content.substr(start, end - start);
        start = end + 1;
        ++number;
        const std::string where = name + ":" + std::to_string(number) + ": ";
        std::string error;
        const auto tokens = SplitLine(line, error);
        if (!tokens) {
            script.errors.push_back({number, where + error});
            continue;
        }
        if (tokens->empty()) continue;
        auto call = ParseCall(*tokens, error, baseDir, reader);
        if (!call) {
            script.errors.push_back({number, where + error});
            continue;
        }
        call->lineNumber = number;
        script.calls.push_back(std::move(*call));
    }
    return script;
}

std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string& error) {
    Options options;
    int i = 1;
    // The value of an option given as "--name VALUE" or "--name=VALUE".
    auto value = [&](std::string_view arg, std::string_view name, std::string& out) -> int {
        if (arg == name) {
            if (i + 1 >= argc) {
                error = "option " + std::string(name) + " needs a value";
                return -1;
            }
            out = argv[++i];
            return 1;
        }
        if (StartsWith(arg, name) && arg.size() > name.size() && arg[name.size()] == '=') {
            out = std::string(arg.substr(name.size() + 1));
            return 1;
        }
        return 0;
    };
    auto positive = [&](std::string_view name, const std::string& text) -> std::optional<int32_t> {
        const auto number = ParseInt32(text);
        if (!number || *number <= 0) {
            error = "option " + std::string(name) + ": expected a positive whole number, got '" + text + "'";
            return std::nullopt;
        }
        return number;
    };
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string text;
        int found;
        if ((found = value(arg, "--lib", text)) != 0) {
            if (found < 0) return std::nullopt;
            if (text.empty()) {
                error = "option --lib: the path is empty";
                return std::nullopt;
            }
            options.library = text;
        } else if ((found = value(arg, "--port", text)) != 0) {
            if (found < 0) return std::nullopt;
            options.port = positive("--port", text);
            if (!options.port) return std::nullopt;
        } else if ((found = value(arg, "--speed", text)) != 0) {
            if (found < 0) return std::nullopt;
            options.speed = positive("--speed", text);
            if (!options.speed) return std::nullopt;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (StartsWith(arg, "-")) {
            error = "unknown option '" + std::string(arg) + "'";
            return std::nullopt;
        } else {
            options.command = std::string(arg);
            for (++i; i < argc; ++i) options.arguments.emplace_back(argv[i]);
            break;
        }
    }
    if (options.command.empty() && !options.help) {
        error = "a command is missing";
        return std::nullopt;
    }
    return options;
}

std::optional<RunOptions> ParseRunOptions(const std::vector<std::string>& arguments, std::string& error) {
    RunOptions options;
    for (const std::string& arg : arguments) {
        if (arg == "--keep-going") {
            options.keepGoing = true;
        } else if (StartsWith(arg, "-") && arg != "-") {
            error = "run: unknown option '" + arg + "'";
            return std::nullopt;
        } else if (options.file.empty()) {
            options.file = arg;
        } else {
            error = "run: only one script file may be given";
            return std::nullopt;
        }
    }
    if (options.file.empty()) {
        error = "run: a script file is missing";
        return std::nullopt;
    }
    return options;
}

}  // namespace vkcli
