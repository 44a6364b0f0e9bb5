// Faults on demand: what the register does wrong with the requests of one command (or all), and
// how many times. A fault statement of the command language (sim_script.h) adds one.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim_parse.h"

namespace vesklink::sim {

enum class FaultKind { Silence, Nak, Garbage, Cut, Status, Delay, Reply, LostReply, PaperOut, CoverOpen };

struct Fault {
    int command = -1;  // -1: every command
    FaultKind kind = FaultKind::Silence;
    uint32_t value = 0;  // cut length, status word or delay in milliseconds
    std::vector<uint8_t> bytes;  // garbage bytes or reply data
    int64_t remaining = -1;  // applications left, -1 for always
    uint64_t skip = 0;  // matching requests let through before the fault applies
};

// What the faults make of one request.
struct FaultPlan {
    bool silence = false;  // request lost, nothing executed, nothing sent
    bool nak = false;
    bool lostReply = false;  // executed, nothing sent
    std::optional<uint16_t> status;
    std::optional<std::vector<uint8_t>> reply;
    bool paperOut = false;
    bool coverOpen = false;
    std::vector<uint8_t> garbage;
    std::optional<size_t> cut;
    uint32_t delayMs = 0;
};

class FaultTable {
public:
    void Add(Fault fault) { faults_.push_back(std::move(fault)); }
    void Clear(int command = -1);
    // The faults that hit a request with this command; their counts are used up.
    FaultPlan Take(uint8_t command);
    const std::vector<Fault>& List() const { return faults_; }

private:
    std::vector<Fault> faults_;
};

// The fault statement's words after "fault": CMD KIND [ARGS] [once | always | times N]
// [after N | from N]. Throws ScriptError when they do not make a fault.
Fault ReadFault(const WordList& words);

}  // namespace vesklink::sim
