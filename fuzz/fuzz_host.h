// The host as the fuzz targets play it: one component object made by the library's own entry
// point (GetClassObject), a memory manager that takes back every string the component hands
// over, methods found by name and called through CallAsFunc, as the platform calls them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostapi/addin_interfaces.h"

namespace vesklink {
class nAPI;
namespace sim {
class Simulator;
}
}  // namespace vesklink

namespace fuzzhost {

// Host text from fuzz bytes: UTF-8 (malformed sequences become U+FFFD), or, after the two bytes
// FF FE, UTF-16 little-endian, which also reaches lone surrogates and every other code unit.
std::u16string HostText(const uint8_t* data, size_t size);

// Points the component's log at a fresh folder whose log file is /dev/null: every line is still
// built and written, nothing fills the disk. Call before the first component is made.
void QuietLog();

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The component's own object, for what a host cannot reach (the reply clock).
    vesklink::nAPI& Object();

    void SetPort(int32_t port);  // the "Port" property, through SetPropVal

    // One parameter array: text, numbers, booleans and empty out-parameters.
    class Params {
    public:
        explicit Params(size_t count) : values_(count), texts_(count) {}
        Params& Text(size_t i, std::u16string text);
        Params& Int(size_t i, int32_t value);
        Params& Double(size_t i, double value);
        Params& Bool(size_t i, bool value);
        tVariant* data() { return values_.data(); }
        long size() const { return static_cast<long>(values_.size()); }

    private:
        std::vector<tVariant> values_;
        std::vector<std::u16string> texts_;  // the host's own strings live here
    };

    // Calls the method by its English name; the result's boolean (false when it is none). Strings
    // the component returned are checked for their terminating zero and given back.
    bool Call(const char16_t* method, Params& params);

private:
    struct Memory;
    std::unique_ptr<Memory> memory_;
    IComponentBase* component_ = nullptr;
};

// The simulated register in this process, on a pseudo-terminal, started at the first call.
vesklink::sim::Simulator& Simulator();
// The component connected to it (Port set, Open called), made at the first call.
Host& ConnectedHost();

}  // namespace fuzzhost
