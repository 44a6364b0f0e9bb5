// Runs calls on a session and prints what they gave back: the result, every out-parameter (text
// exactly as the component returned it) and, when a method fails, GetLastError's text and code
// and the lines the call added to the driver's log ("log: ..." each).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "args.h"
#include "session.h"

namespace vkcli {

// A call checked against the library: the method exists and takes at least as many parameters
// as were given.
struct ResolvedCall {
    CallLine line;
    long method = -1;
    long paramCount = 0;
};

// One line for a value: "true", "40 (uint)", "\"Test OK\"", "empty" … Text with a line break in
// it is not a one-liner; PrintValue prints it as a block.
std::string FormatValue(const Value& value);
// "label: value", or "label:" followed by the text itself when the text spans lines.
void PrintValue(std::ostream& out, const std::string& label, const Value& value);
// The method table: index, English name, Russian name, parameter count.
void PrintMethods(std::ostream& out, const std::vector<MethodInfo>& methods);

class Runner {
public:
    Runner(Session& session, std::ostream& out) : session_(session), out_(out) {}

    // A crash line needs no method; a call needs one the library has, taking at least as many
    // parameters as were given.
    std::optional<ResolvedCall> Resolve(const CallLine& call, std::string& error);
    // Every call of a script checked: a call that fails the check is added to script.errors as
    // "NAME:LINE: why", and the errors are put in line order. The calls that passed, in order.
    std::vector<ResolvedCall> ResolveScript(Script& script, const std::string& name);
    // Runs one call and prints its transcript; true when the method succeeded. The values the
    // call gave back are copied to outcome when it is given. A crash line prints itself and ends
    // the process there.
    bool Run(const ResolvedCall& call, CallOutcome* outcome = nullptr);
    // Runs calls in order; stops after the first failure unless keepGoing. Returns the number of
    // failed calls; ranUntil receives how many calls were made.
    size_t RunAll(const std::vector<ResolvedCall>& calls, bool keepGoing, size_t* ranUntil = nullptr);

private:
    Session& session_;
    std::ostream& out_;
    std::vector<MethodInfo> methods_;  // read on the first unknown name, for suggestions
    size_t calls_ = 0;
};

}  // namespace vkcli
