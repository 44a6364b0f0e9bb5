// "OperationFN" against the simulated register in this process: the first input byte is the
// operation type (1 registration, 2 change of parameters, 3 closing the FN, anything else
// refused), the rest the registration parameters. The register is new and unregistered for a
// registration, registered otherwise.
#include "fuzz_host.h"
#include "sim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzzhost::Host& host = fuzzhost::ConnectedHost();
    vesklink::sim::Simulator& sim = fuzzhost::Simulator();
    const int32_t type = data[0] % 5;
    sim.Execute(type == 1 ? "reset unregistered" : "reset");
    sim.ClearJournal();
    fuzzhost::Host::Params params(3);
    params.Text(0, u"").Int(1, type).Text(2, fuzzhost::HostText(data + 1, size - 1));
    host.Call(u"OperationFN", params);
    return 0;
}
