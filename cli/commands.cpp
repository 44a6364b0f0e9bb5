#include "commands.h"

#include <iostream>
#include <iterator>

#include "platform.h"
#include "runner.h"

namespace vkcli {

void Complain(const Context& context, const std::string& message) {
    context.err << "vesklink-cli: " << message << '\n';
}

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
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
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : Commands())
        if (name == command.name) return &command;
    return nullptr;
}

void PrintUsage(std::ostream& out) {
    out << "usage: vesklink-cli " << OptionSynopsis() << " COMMAND ...\n\ncommands:\n";
    for (const Command& command : Commands())
        out << "  " << command.synopsis << "\n      " << command.summary << '\n';
    out << "\narguments of a call:\n";
    PrintArgumentForms(out);
    out << "\noptions:\n";
    PrintOptions(out);
    out << "\nexit codes: 0 every call succeeded, 1 a call failed, 2 bad input or no library\n";
}

std::string DefaultLibrary() {
    const std::string folder = ProgramDirectory();
    const std::string beside = folder.empty() ? std::string() : folder + kPathSeparators[0] + kLibraryFile;
    if (FileExists(beside)) return beside;
#ifdef VESKLINK_BUILD_LIBRARY
    if (FileExists(VESKLINK_BUILD_LIBRARY)) return VESKLINK_BUILD_LIBRARY;
#endif
    return beside.empty() ? std::string(kLibraryFile) : beside;
}

std::unique_ptr<Session> OpenSession(const Context& context, int& exitCode) {
    const std::string path = LibraryPath(context.options.library.empty() ? DefaultLibrary() : context.options.library);
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
    const std::vector<ResolvedCall> calls = runner.ResolveScript(script, name);
    if (!script.errors.empty()) {
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
