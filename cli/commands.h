// The commands of vesklink-cli. Each command is one entry of the table that FindCommand searches:
// a name, its synopsis, a one-line summary and the function that runs it. A command gets the
// parsed global options and the output streams, works on its own session through WithSession and
// returns the program's exit code.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "args.h"
#include "session.h"

namespace vkcli {

struct Context {
    const Options& options;
    std::ostream& out;
    std::ostream& err;
};

struct Command {
    const char* name;
    const char* synopsis;
    const char* summary;
    int (*run)(const Context& context);
};

// The command of that name, null when there is none; the usage text with every command.
const Command* FindCommand(const std::string& name);
void PrintUsage(std::ostream& out);

// "vesklink-cli: " and the message, on the error stream; returns exitCode, for a command to end with.
int Complain(const Context& context, const std::string& message, int exitCode = ExitUsage);

// Loads the library (--lib or the default), creates the component, sets --port and --speed and
// runs `body` on that session, then ends it: the exit code is body's, but a memory-manager
// imbalance is reported and turns success into failure. When the session cannot be opened, the
// reason goes to context.err and body does not run.
int WithSession(const Context& context, const std::function<int(Session&)>& body);

// What the calls of a script came to: how many there are, how many were made (the first ones of
// script.calls) and how many failed.
struct ScriptRun {
    size_t calls = 0, ran = 0, failed = 0;
};
// Checks every call of the script against the library, then makes them in order with their
// transcripts on context.out, stopping after the first failure unless keepGoing. When a line
// fails the check nothing is called: every bad line is complained of after `prefix`, in line
// order, and the result is empty.
std::optional<ScriptRun> RunScript(const Context& context, Session& session, Script& script,
                                   const std::string& name, bool keepGoing, const std::string& prefix);

// A whole day at a till against the simulator; Linux only (demo_posix.cpp, demo_win32.cpp).
int DemoCommand(const Context& context);

}  // namespace vkcli
