#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <iterator>

#include "runner.h"

namespace vkcli {

namespace {

constexpr const char* kLibraryName = sizeof(void*) == 8 ? "vesklink_64.so" : "vesklink.so";

bool Exists(const std::string& path) { return !path.empty() && access(path.c_str(), F_OK) == 0; }

void Complain(const Context& context, const std::string& message) {
    context.err << "vesklink-cli: " << message << '\n';
}

}  // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"call", "call METHOD [ARG...]", "call one method and print its result and out-parameters", CallCommand},
        {"run", "run [--keep-going] FILE",
         "call the methods listed in FILE (one call per line, '-' for standard input) on one component",
         RunCommand},
        {"methods", "methods", "list the methods: index, English and Russian name, parameter count",
         MethodsCommand},
        {"demo", "demo", "run a whole day at a till against the simulator (vesklink-sim next to this program)",
         DemoCommand},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : Commands())
        if (name == command.name) return &command;
    return nullptr;
}

void PrintUsage(std::ostream& out) {
    out << "usage: vesklink-cli [--lib PATH] [--port N] [--speed N] COMMAND ...\n\ncommands:\n";
    for (const Command& command : Commands())
        out << "  " << command.synopsis << "\n      " << command.summary << '\n';
    out << "\narguments of a call:\n"
           "  s:TEXT        a string\n"
           "  @FILE         a string read from a UTF-8 file (in a script, relative to the script)\n"
           "  i:N           a 32-bit integer\n"
           "  d:X           a double, '.' as the decimal point\n"
           "  b:true|false  a boolean\n"
           "  out           an empty out-parameter\n"
           "  parameters left out at the end are passed empty.\n"
           "\noptions:\n"
           "  --lib PATH    the add-in library (default: "
        << kLibraryName
        << " next to this program)\n"
           "  --port N      set the Port property before the calls\n"
           "  --speed N     set the Speed property before the calls\n"
           "\nexit codes: 0 every call succeeded, 1 a call failed, 2 bad input or no library\n";
}

std::string ProgramDirectory() {
    std::string buffer(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    buffer.resize(static_cast<size_t>(n));
    return DirectoryOf(buffer);
}

std::string DefaultLibrary() {
    const std::string folder = ProgramDirectory();
    const std::string beside = folder.empty() ? std::string() : folder + "/" + kLibraryName;
    if (Exists(beside)) return beside;
#ifdef VESKLINK_BUILD_LIBRARY
    if (Exists(VESKLINK_BUILD_LIBRARY)) return VESKLINK_BUILD_LIBRARY;
#endif
    return beside.empty() ? std::string(kLibraryName) : beside;
}

std::unique_ptr<Session> OpenSession(const Context& context, int& exitCode) {
    std::string path = context.options.library.empty() ? DefaultLibrary() : context.options.library;
    // A bare file name means the file in the current folder, not a search of the system's
    // library folders.
    if (path.find('/') == std::string::npos) path = "./" + path;
    std::string error;
    std::unique_ptr<Session> session = Session::Open(path, error);
    if (!session) {
        Complain(context, "cannot load the add-in: " + error);
        exitCode = ExitUsage;
        return nullptr;
    }
    if (context.options.port && !session->SetProperty("Port", *context.options.port, error)) {
        Complain(context, "--port: " + error);
        exitCode = ExitCallFailed;
        return nullptr;
    }
    if (context.options.speed && !session->SetProperty("Speed", *context.options.speed, error)) {
        Complain(context, "--speed: " + error);
        exitCode = ExitCallFailed;
        return nullptr;
    }
    return session;
}

int FinishSession(Session& session, const Context& context, int exitCode) {
    context.out.flush();
    const std::string imbalance = session.Finish();
    if (imbalance.empty()) return exitCode;
    Complain(context, "memory manager: " + imbalance);
    return exitCode == ExitOk ? ExitCallFailed : exitCode;
}

int CallCommand(const Context& context) {
    std::string error;
    const auto call = ParseCall(context.options.arguments, error);
    if (!call) {
        Complain(context, "call: " + error);
        return ExitUsage;
    }
    int exitCode = ExitOk;
    auto session = OpenSession(context, exitCode);
    if (!session) return exitCode;
    Runner runner(*session, context.out);
    const auto resolved = runner.Resolve(*call, error);
    if (!resolved) {
        Complain(context, "call: " + error);
        return FinishSession(*session, context, ExitUsage);
    }
    const bool ok = runner.Run(*resolved);
    return FinishSession(*session, context, ok ? ExitOk : ExitCallFailed);
}

int RunCommand(const Context& context) {
    std::string error;
    const auto options = ParseRunOptions(context.options.arguments, error);
    if (!options) {
        Complain(context, error);
        return ExitUsage;
    }
    std::string content;
    std::string baseDir;
    if (options->file == "-") {
        content.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        if (!ReadFileBytes(options->file, content, error)) {
            Complain(context, "run: " + error);
            return ExitUsage;
        }
        baseDir = DirectoryOf(options->file);
    }
    const std::string name = options->file == "-" ? "<stdin>" : options->file;
    Script script = ParseScript(content, name, baseDir);

    int exitCode = ExitOk;
    auto session = OpenSession(context, exitCode);
    if (!session) return exitCode;
    // Every line is checked before the first call, so a typo late in the script cannot leave the
    // register halfway through a day.
    Runner runner(*session, context.out);
    std::vector<ResolvedCall> calls;
    for (const CallLine& call : script.calls) {
        if (auto resolved = runner.Resolve(call, error))
            calls.push_back(std::move(*resolved));
        else
            script.errors.push_back({call.lineNumber, name + ":" + std::to_string(call.lineNumber) + ": " + error});
    }
    if (!script.errors.empty()) {
        std::stable_sort(script.errors.begin(), script.errors.end(),
                         [](const ScriptError& a, const ScriptError& b) { return a.line < b.line; });
        for (const ScriptError& e : script.errors) Complain(context, e.text);
        Complain(context, "run: nothing was called");
        return FinishSession(*session, context, ExitUsage);
    }
    size_t ran = 0;
    const size_t failed = runner.RunAll(calls, options->keepGoing, &ran);
    if (failed > 0 && !options->keepGoing && ran < calls.size()) {
        const ResolvedCall& stop = calls[ran - 1];
        Complain(context, "run: stopped at " + name + ":" + std::to_string(stop.line.lineNumber) + " (" +
                              stop.line.method + " failed); " + std::to_string(calls.size() - ran) +
                              " call(s) not made");
    } else if (failed > 0) {
        Complain(context, "run: " + std::to_string(failed) + " of " + std::to_string(calls.size()) +
                              " call(s) failed");
    }
    return FinishSession(*session, context, failed == 0 ? ExitOk : ExitCallFailed);
}

int MethodsCommand(const Context& context) {
    if (!context.options.arguments.empty()) {
        Complain(context, "methods: takes no arguments");
        return ExitUsage;
    }
    int exitCode = ExitOk;
    auto session = OpenSession(context, exitCode);
    if (!session) return exitCode;
    PrintMethods(context.out, session->Methods());
    return FinishSession(*session, context, ExitOk);
}

}  // namespace vkcli
