// A host session connected to the simulated register: the component's port points at the
// simulator, which starts every test as a new registered register with its shift closed.
#pragma once

#include "support/host_fixture.h"
#include "support/sim_register.h"

namespace vktest {

class DeviceFixture : public HostFixture {
protected:
    void SetUp() override;

    // Calls a method whose parameters are (device id, input text, out) and returns the output
    // document, empty when the method failed.
    std::string CallWithDocument(const char* method, const std::string& input, bool* result = nullptr);
    bool Open();
    // Requests the simulator received since the journal was last cleared.
    std::vector<uint8_t> Sent() { return SimRegister::Commands(); }
    std::vector<uint8_t> PayloadOf(uint8_t command);  // of the last such request
    std::string LogText() { return ReadFile(TodayLogPath()); }
};

}  // namespace vktest
