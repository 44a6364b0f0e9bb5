// The cashier input of "OpenShift" and "CloseShift" (parameter 1), against the simulated register
// in this process. The input's first bit chooses the method; OpenShift meets a closed shift or,
// by the second bit, one left open, which it closes first.
#include "fuzz_host.h"
#include "sim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzhost::Host& host = fuzzhost::ConnectedHost();
    vesklink::sim::Simulator& sim = fuzzhost::Simulator();
    const bool open = size & 1;
    sim.Execute(open || (size & 2) ? "reset\nset shift open" : "reset");
    sim.ClearJournal();
    sim.ClearTape();
    fuzzhost::Host::Params params(3);
    params.Text(0, u"").Text(1, fuzzhost::HostText(data, size));
    host.Call(open ? u"CloseShift" : u"OpenShift", params);
    return 0;
}
