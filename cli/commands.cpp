#include "commands.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>

#include "platform.h"

namespace vkcli {

namespace {

// Characters in UTF-8 text (continuation bytes are not counted), for lining up columns.
size_t Width(const std::string& text) {
    const auto counted = [](unsigned char c) { return (c & 0xC0) != 0x80; };
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), counted));
}

std::string Pad(const std::string& text, size_t width) {
    const size_t w = Width(text);
    return w >= width ? text : text + std::string(width - w, ' ');
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Where the log file ends now (0 when there is none yet).
std::streamoff LogEnd(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

// The lines written to the log file after `from`; all of them when the file is new since then.
void PrintLogSince(std::ostream& out, const std::string& path, std::streamoff from) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(LogEnd(path) < from ? 0 : from);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out << "log: " << line << '\n';
    }
}

// "label: value" with the value on one line: "true", "40 (uint)", "\"Test OK\"", "empty" …; or
// "label:" followed by the text itself when the text spans lines.
void PrintValue(std::ostream& out, const std::string& label, const Value& value) {
    out << label << ':';
    switch (value.kind) {
        case Value::Kind::Empty: out << " empty"; break;
        case Value::Kind::Bool: out << (value.boolean ? " true" : " false"); break;
        case Value::Kind::Int: out << ' ' << std::to_string(value.integer) << " (int)"; break;
        case Value::Kind::UInt: out << ' ' << std::to_string(value.integer) << " (uint)"; break;
        case Value::Kind::Double: {
            char buf[64];
            const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value.number);
            out << ' ' << (ec == std::errc() ? std::string(buf, end) : std::string("?")) << " (double)";
            break;
        }
        case Value::Kind::Text:
            if (value.text.find('\n') == std::string::npos) {
                out << " \"" << value.text << '"';
                break;
            }
            out << '\n' << value.text;
            if (value.text.back() == '\n') return;
            break;
        case Value::Kind::Other: out << " a value of host type " << std::to_string(value.type); break;
    }
    out << '\n';
}

// GetLastError's text and code, which say why a method failed.
void PrintLastError(Session& session, std::ostream& out) {
    const long method = session.FindMethod("GetLastError");
    const CallOutcome error = method < 0 ? CallOutcome{} : session.Call(method, {Argument{}});
    if (!error.accepted) {
        out << "error: GetLastError did not answer\n";
        return;
    }
    const Value text = error.params.empty() ? Value{} : error.params[0];
    out << "error: " << (text.kind == Value::Kind::Text && !text.text.empty() ? text.text : "(no text)");
    if (error.result.kind == Value::Kind::Int || error.result.kind == Value::Kind::UInt)
        out << " (code " << std::to_string(error.result.integer) << ")";
    out << '\n';
}

// Calls on one component, each printed with what it gave back: the result, every out-parameter
// (text exactly as the component returned it) and, when the method fails, GetLastError's text and
// code and the lines the call added to the driver's log ("log: ..." each).
struct Runner {
    Session& session;
    std::ostream& out;
    size_t calls = 0;

    // The method a call names, which must take at least as many parameters as were given;
    // -1 for a crash line, which needs none.
    std::optional<long> Resolve(const CallLine& call, std::string& error) {
        if (call.crash) return -1;
        const long method = session.FindMethod(call.method);
        if (method < 0) {
            error = "unknown method '" + call.method + "'";
            const std::vector<MethodInfo> methods = session.Methods();  // for a suggestion
            const auto same = std::find_if(methods.begin(), methods.end(), [&](const MethodInfo& m) {
                return std::equal(m.english.begin(), m.english.end(), call.method.begin(), call.method.end(),
                                  [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
            });
            if (same != methods.end())
                error += " (names are case-sensitive: did you mean " + same->english + "?)";
            error += "; 'vesklink-cli methods' lists them";
            return std::nullopt;
        }
        const long count = session.ParamCount(method);
        if (static_cast<long>(call.arguments.size()) <= count) return method;
        return Refuse(error, call.method + " takes " + std::to_string(count) + " parameter(s), " +
                                 std::to_string(call.arguments.size()) + " given");
    }

    // Makes the call and prints its transcript; true when the method succeeded. A crash line
    // prints itself and ends the process there.
    bool Run(const CallLine& call, long method) {
        if (calls++ > 0) out << '\n';
        out << "> " << call.text << '\n';
        if (call.crash) {
            // What was printed stays; nothing else of this process runs.
            out.flush();
            std::fflush(nullptr);
            EndProcessAtOnce();
        }
        const std::streamoff logMark = LogEnd(session.LogFile());
        const CallOutcome outcome = session.Call(method, call.arguments);
        if (outcome.accepted)
            PrintValue(out, "result", outcome.result);
        else
            out << "result: not accepted (CallAsFunc answered false)\n";
        for (size_t i = 0; i < outcome.params.size(); ++i)
            if (outcome.shown[i]) PrintValue(out, "param " + std::to_string(i), outcome.params[i]);
        if (outcome.Succeeded()) return true;
        PrintLastError(session, out);
        // What the driver wrote to its log during the call usually says why.
        PrintLogSince(out, session.LogFile(), logMark);
        return false;
    }
};

// The library used without --lib: the one of this program's word size next to the program,
// else (Linux) the one in the build tree the program was built in.
std::string DefaultLibrary() {
    const std::string folder = ProgramDirectory();
    const std::string beside = folder.empty() ? std::string() : folder + kPathSeparators[0] + kLibraryFile;
    if (FileExists(beside)) return beside;
#ifdef VESKLINK_BUILD_LIBRARY
    if (FileExists(VESKLINK_BUILD_LIBRARY)) return VESKLINK_BUILD_LIBRARY;
#endif
    return beside.empty() ? std::string(kLibraryFile) : beside;
}

int CallCommand(const Context& context) {
    std::string error;
    const auto call = ParseCall(context.options.arguments, error);
    if (!call) return Complain(context, "call: " + error);
    return WithSession(context, [&](Session& session) -> int {
        Runner runner{session, context.out};
        const auto method = runner.Resolve(*call, error);
        if (!method) return Complain(context, "call: " + error);
        return runner.Run(*call, *method) ? ExitOk : ExitCallFailed;
    });
}

int RunCommand(const Context& context) {
    std::string error;
    const auto options = ParseRunOptions(context.options.arguments, error);
    if (!options) return Complain(context, error);
    const bool fromStdin = options->file == "-";
    std::string content;
    if (fromStdin)
        content.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    else if (!ReadFileBytes(options->file, content, error))
        return Complain(context, "run: " + error);
    const std::string name = fromStdin ? "<stdin>" : options->file;
    Script script = ParseScript(content, name, fromStdin ? std::string() : DirectoryOf(options->file));
    return WithSession(context, [&](Session& session) -> int {
        const auto run = RunScript(context, session, script, name, options->keepGoing, "");
        if (!run) return Complain(context, "run: nothing was called");
        if (run->failed == 0) return ExitOk;
        if (options->keepGoing || run->ran == run->calls)
            return Complain(context, "run: " + std::to_string(run->failed) + " of " +
                                         std::to_string(run->calls) + " call(s) failed", ExitCallFailed);
        const CallLine& last = script.calls[run->ran - 1];  // the call that failed
        return Complain(context, "run: stopped at " + name + ":" + std::to_string(last.lineNumber) + " (" +
                                     last.method + " failed); " + std::to_string(run->calls - run->ran) +
                                     " call(s) not made", ExitCallFailed);
    });
}

int MethodsCommand(const Context& context) {
    if (!context.options.arguments.empty()) return Complain(context, "methods: takes no arguments");
    return WithSession(context, [&](Session& session) {
        // Index, English name, Russian name and parameter count, the names lined up by characters.
        const std::vector<MethodInfo> methods = session.Methods();
        size_t english = 7, russian = 7;
        for (const MethodInfo& m : methods) {
            english = std::max(english, Width(m.english));
            russian = std::max(russian, Width(m.russian));
        }
        const auto row = [&](const auto& index, const auto& en, const auto& ru, const auto& count) {
            context.out << std::setw(2) << index << "  " << Pad(en, english) << "  " << Pad(ru, russian)
                        << "  " << count << '\n';
        };
        row("#", "English", "Russian", "Params");
        for (const MethodInfo& m : methods) row(m.index, m.english, m.russian, m.params);
        return ExitOk;
    });
}

constexpr Command kCommands[] = {
    {"call", "call METHOD [ARG...]", "call one method and print its result and out-parameters", CallCommand},
    {"run", "run [--keep-going] FILE",
     "call the methods listed in FILE (one call per line, '-' for standard input) on one component",
     RunCommand},
    {"methods", "methods", "list the methods: index, English and Russian name, parameter count",
     MethodsCommand},
#ifdef _WIN32
    {"demo", "demo", "Linux only: vesklink-sim runs on a Linux pseudo-terminal", DemoCommand},
#else
    {"demo", "demo", "run a whole day at a till against the simulator (vesklink-sim next to this program)",
     DemoCommand},
#endif
};

}  // namespace

const Command* FindCommand(const std::string& name) {
    for (const Command& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

int Complain(const Context& context, const std::string& message, int exitCode) {
    context.err << "vesklink-cli: " << message << '\n';
    return exitCode;
}

int WithSession(const Context& context, const std::function<int(Session&)>& body) {
    const Options& options = context.options;
    std::string error;
    std::unique_ptr<Session> session =
        Session::Open(LibraryPath(options.library.empty() ? DefaultLibrary() : options.library), error);
    if (!session) return Complain(context, "cannot load the add-in: " + error);
    const auto set = [&](const char* option, const char* property, std::optional<int32_t> value) {
        if (!value || session->SetProperty(property, *value, error)) return true;
        Complain(context, std::string(option) + ": " + error);
        return false;
    };
    if (!set("--port", "Port", options.port) || !set("--speed", "Speed", options.speed))
        return ExitCallFailed;
    const int exitCode = body(*session);
    context.out.flush();
    const std::string imbalance = session->Finish();
    if (imbalance.empty()) return exitCode;
    return Complain(context, "memory manager: " + imbalance, exitCode == ExitOk ? ExitCallFailed : exitCode);
}

std::optional<ScriptRun> RunScript(const Context& context, Session& session, Script& script,
                                   const std::string& name, bool keepGoing, const std::string& prefix) {
    // Every line is checked before the first call, so a typo late in the script cannot leave the
    // register halfway through a day.
    Runner runner{session, context.out};
    std::vector<long> methods;  // of each call in turn
    std::string error;
    for (const CallLine& call : script.calls) {
        if (const auto method = runner.Resolve(call, error))
            methods.push_back(*method);
        else
            script.errors.push_back({call.lineNumber, name + ":" + std::to_string(call.lineNumber) + ": " + error});
    }
    if (!script.errors.empty()) {
        std::stable_sort(script.errors.begin(), script.errors.end(),
                         [](const ScriptError& a, const ScriptError& b) { return a.line < b.line; });
        for (const ScriptError& e : script.errors) Complain(context, prefix + e.text);
        return std::nullopt;
    }
    ScriptRun run{methods.size(), 0, 0};
    for (; run.ran < run.calls && (run.failed == 0 || keepGoing); ++run.ran)
        if (!runner.Run(script.calls[run.ran], methods[run.ran])) ++run.failed;
    context.out.flush();
    return run;
}

void PrintUsage(std::ostream& out) {
    std::string commands;
    for (const Command& command : kCommands)
        commands += std::string("  ") + command.synopsis + "\n      " + command.summary + '\n';
    PrintUsage(out, commands);
}

}  // namespace vkcli
