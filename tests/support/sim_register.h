// The simulated register the host tests drive the real library against. The simulator runs as
// its own program (started by tests/with-sim.sh on a pseudo-terminal that the test program sees
// as a COM port) and is steered through its control folder: statements of its command language
// go into DIR/commands and apply before the next request it receives; every request frame it
// received is in DIR/journal; the paper tape is DIR/tape. The same code serves the Linux test
// programs and the Windows ones under Wine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vktest {

struct Request {
    uint8_t command = 0;
    std::vector<uint8_t> frame;    // as received, start byte to checksum
    std::vector<uint8_t> payload;  // after the command byte and the four access-code bytes
};

class SimRegister {
public:
    // False when the test program was not started next to a simulator.
    static bool Available();
    // The COM port number under which the test program reaches the simulator.
    static int Port();

    // Starts a test: a new register (registered FN, shift closed) unless `unregistered`, no faults,
    // empty journal and tape.
    static void Reset(bool unregistered = false);
    // Queues statements of the command language; they apply before the next request.
    static void Execute(const std::string& statements);

    static std::vector<Request> Journal();
    static std::vector<uint8_t> Commands();  // the command codes of the journal, in order
    static void ClearJournal();
    static std::string Tape();
    static void ClearTape();
};

std::string Hex(const std::vector<uint8_t>& bytes);  // "0F 00 02"

}  // namespace vktest
