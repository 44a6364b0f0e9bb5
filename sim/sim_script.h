// The command language that scripts faults and tweaks the register's state. The same parser
// serves the program's options (--fault, --script), the control folder's commands file and the
// in-process API, so every test talks to the simulator in one language. sim/README.md lists the
// statements; a line whose first non-blank character is "#" is a comment.
#pragma once

#include <string>
#include <string_view>

#include "sim_device.h"
#include "sim_faults.h"

namespace vesklink::sim {

// Line timing: the serving loop reads these before each reply.
struct LinkSettings {
    unsigned baud = 0;  // 0: no pacing
    unsigned processingMs = 0;  // device processing time added to every reply
};

// What a script may change.
struct ScriptTarget {
    Device& device;
    FaultTable& faults;
    LinkSettings& settings;
};

// Runs a script. Returns the errors, one line each ("line N: ..."), or empty text when every
// statement was carried out. A failing statement changes nothing; the others still run.
std::string ExecuteScript(std::string_view script, ScriptTarget target);

}  // namespace vesklink::sim
