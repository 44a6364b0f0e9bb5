// vesklink-sim in-process: a virtual cash register served on a pseudo-terminal (or a given tty)
// by a background thread. Tests start it, point the driver (or their own frames) at the returned
// path, script faults and tweak the state with the command language (sim/README.md), and read
// back the request journal, the state and the paper tape (sim/README.md shows a session).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim_state.h"

namespace vesklink::sim {

struct Options {
    bool unregistered = false;  // a new register starts with an FN ready for registration
    std::string stateFile;  // keep and resume the state here; empty keeps it in memory only
    std::string tapeFile;  // also append the paper tape here; "-" is standard output
    std::string controlDir;  // control folder: DIR/journal, DIR/commands, DIR/results
    unsigned baud = 0;  // pace reply bytes at this line speed; 0 sends them at once
    unsigned processingMs = 0;  // device processing time before every reply
    std::function<int64_t()> clock;  // the computer's clock in seconds; empty: the system clock
};

struct JournalEntry {
    std::vector<uint8_t> frame;  // start byte to checksum, as received
    uint8_t command = 0;  // 0 when the frame is too short to hold one
    bool checksumOk = false;
};

class Simulator {
public:
    // Loads the state file when it exists. Throws std::runtime_error when it cannot be read or
    // parsed: a damaged fiscal journal is never silently replaced by a new register.
    explicit Simulator(Options options = {});
    ~Simulator();  // not copyable: it owns the serving thread

    // Opens a pseudo-terminal, serves it in a background thread and returns the slave's path.
    // Throws std::runtime_error on failure or when already running.
    std::string Start();
    // Serves an existing terminal device instead (a serial port, one end of a tty pair).
    void StartOnTty(const std::string& path);
    // Stops the thread and closes the line. Safe to call twice.
    void Stop();

    // Runs statements of the command language; returns empty text or the errors, one per line.
    std::string Execute(std::string_view script);

    // A copy of the register's state; Modify changes it in place (and saves it).
    DeviceState State() const;
    void Modify(const std::function<void(DeviceState&)>& change);

    // Every request frame received, bad ones included (the latest 100000 at most).
    std::vector<JournalEntry> Journal() const;
    void ClearJournal();
    // Requests handled so far (answered or deliberately left unanswered).
    size_t RequestCount() const;
    bool WaitForRequests(size_t count, std::chrono::milliseconds limit) const;

    // The paper tape, UTF-8, every printed line followed by a line feed.
    std::string Tape() const;
    void ClearTape();

    // One request frame in, the bytes the register sends back out (empty for silence), without
    // any line: the same handling as on the line, faults included, but no delay or pacing.
    std::vector<uint8_t> Exchange(const std::vector<uint8_t>& frame);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vesklink::sim
