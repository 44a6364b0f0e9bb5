// The commands of vesklink-cli. Each command is one entry of the table that Commands() returns:
// a name, its synopsis, a one-line summary and the function that runs it. A command gets the
// parsed global options and the output streams, opens its own session with OpenSession and
// returns the program's exit code.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "args.h"
#include "session.h"

namespace vkcli {

struct Context {
    const Options& options;
    std::ostream& out;
    std::ostream& err;
};

using CommandFunction = int (*)(const Context& context);

struct Command {
    const char* name;
    const char* synopsis;
    const char* summary;
    CommandFunction run;
};

const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);
void PrintUsage(std::ostream& out);

// The library used without --lib: the one of this program's word size next to the program,
// else (Linux) the one in the build tree the program was built in.
std::string DefaultLibrary();
// "vesklink-cli: " and the message, on the error stream.
void Complain(const Context& context, const std::string& message);

// Loads the library (--lib or the default), creates the component and sets --port and --speed.
// Null on failure, with the message written to context.err and exitCode set.
std::unique_ptr<Session> OpenSession(const Context& context, int& exitCode);
// Ends the session; a memory-manager imbalance is reported and turns success into failure.
int FinishSession(Session& session, const Context& context, int exitCode);

int CallCommand(const Context& context);
int RunCommand(const Context& context);
int MethodsCommand(const Context& context);
int DemoCommand(const Context& context);

}  // namespace vkcli
