// The receipt package: "ProcessCheck" and "ProcessCorrectionCheck" with the fuzz input as the
// package, against the simulated register in this process. Each input starts from a new register
// with an open shift and cash in the drawer; the input's length decides the electronic flag and
// whether the register is registered for excisable goods, lotteries and gambling.
#include <cstdio>
#include <cstdlib>

#include "fuzz_host.h"
#include "sim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzhost::Host& host = fuzzhost::ConnectedHost();
    vesklink::sim::Simulator& sim = fuzzhost::Simulator();
    const bool flags = size & 2;
    sim.Execute(std::string("reset\nset shift open\nset cash 100000\n") +
                (flags ? "set attr 1207 flag 1\nset attr 1126 flag 1\nset attr 1193 flag 1\n" : ""));
    sim.ClearJournal();
    sim.ClearTape();

    std::u16string package = fuzzhost::HostText(data, size);
    const bool correction = package.find(u"CorrectionData") != std::u16string::npos;
    bool registered = false;
    if (correction) {
        fuzzhost::Host::Params params(3);
        params.Text(0, u"").Text(1, std::move(package));
        registered = host.Call(u"ProcessCorrectionCheck", params);
    } else {
        fuzzhost::Host::Params params(4);
        params.Text(0, u"").Bool(1, size & 1).Text(2, std::move(package));
        registered = host.Call(u"ProcessCheck", params);
    }
    // On a sound line, whatever the package held: true exactly when the register registered one
    // receipt, and no receipt left open.
    const vesklink::sim::DeviceState state = sim.State();
    size_t receipts = 0;
    for (const auto& document : state.journal)
        receipts += document.type == vesklink::sim::kDocReceipt || document.type == vesklink::sim::kDocCorrection;
    if (receipts != (registered ? 1u : 0u)) {
        std::fprintf(stderr, "the method answered %d, the register holds %zu receipts\n", registered, receipts);
        std::abort();
    }
    if (state.document.kind != vesklink::sim::DocumentKind::None) {
        std::fprintf(stderr, "a receipt was left open on the register\n");
        std::abort();
    }
    return 0;
}
