// The command language that scripts faults and tweaks the register's state. The same parser
// serves the program's options (--fault, --script), the control folder's commands file and the
// in-process API, so every test talks to the simulator in one language. sim/README.md lists the
// statements; a line whose first non-blank character is "#" is a comment.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim_device.h"
#include "sim_parse.h"

namespace vesklink::sim {

// Faults on demand: what the register does wrong with the requests of one command (or all), and
// how many times. A fault statement of the command language adds one.

enum class FaultKind { Silence, Nak, Garbage, Cut, Status, Delay, Reply, LostReply, PaperOut, CoverOpen, Dead };

// What becomes of the request that kills the line.
enum class DeadMoment {
    Lost,  // it never reaches the register: not executed
    Executed,  // the register carries it out; its reply is lost
    Restart,  // the register restarts before carrying it out and drops its open document
};

// A line that dies with a request and stays dead for a number of further requests or for a time
// on the simulator's steady clock: every request in that period is lost (no ACK, no reply, not
// executed).
struct DeadLine {
    DeadMoment moment = DeadMoment::Lost;
    uint64_t requests = 0;  // the further requests lost, when not timed
    bool timed = false;
    std::chrono::milliseconds time{0};  // how long the line stays dead, when timed
};

struct Fault {
    int command = -1;  // -1: every command
    FaultKind kind = FaultKind::Silence;
    uint32_t value = 0;  // cut length, status word or delay in milliseconds
    std::vector<uint8_t> bytes;  // garbage bytes or reply data
    int64_t remaining = -1;  // applications left, -1 for always
    uint64_t skip = 0;  // matching requests let through before the fault applies
    DeadLine dead;  // for a dead line
};

// What the faults make of one request.
struct FaultPlan {
    // The first fault that decides the request's fate: silence, nak, status, reply, lost-reply,
    // paper-out, cover-open or dead. None: the register handles it.
    std::optional<Fault> outcome;
    std::vector<uint8_t> garbage;
    std::optional<size_t> cut;
    uint32_t delayMs = 0;

    bool Is(FaultKind kind) const { return outcome && outcome->kind == kind; }
};

class FaultTable {
public:
    void Add(Fault fault) { faults_.push_back(std::move(fault)); }
    // Removes every fault and brings a dead line back, or removes the faults of one command.
    void Clear(int command = -1);
    // The faults that hit a request with this command; their counts are used up.
    FaultPlan Take(uint8_t command);

    // The line dies now, as the dead line says.
    void KillLine(const DeadLine& dead);
    // Whether the line is dead for the request that arrives now; a request lost to a count of
    // requests uses one up.
    bool LineDead();

private:
    std::vector<Fault> faults_;
    uint64_t deadRequests_ = 0;
    std::optional<std::chrono::steady_clock::time_point> deadUntil_;
};

// The fault statement's words after "fault": CMD KIND [ARGS] [once | always | times N]
// [after N | from N]. Throws ScriptError when they do not make a fault.
Fault ReadFault(const WordList& words);

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
