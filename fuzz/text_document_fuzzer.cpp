// "PrintTextDocument" with the fuzz input as the document, against the simulated register in this
// process: whatever the document holds, no text document stays open on the register.
#include <cstdio>
#include <cstdlib>

#include "fuzz_host.h"
#include "sim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzhost::Host& host = fuzzhost::ConnectedHost();
    vesklink::sim::Simulator& sim = fuzzhost::Simulator();
    sim.Execute("reset\nset shift open");
    sim.ClearJournal();
    sim.ClearTape();
    fuzzhost::Host::Params params(2);
    params.Text(0, u"").Text(1, fuzzhost::HostText(data, size));
    host.Call(u"PrintTextDocument", params);
    if (sim.State().document.kind != vesklink::sim::DocumentKind::None) {
        std::fprintf(stderr, "a text document was left open on the register\n");
        std::abort();
    }
    return 0;
}
