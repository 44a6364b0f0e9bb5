#include "fuzz_host.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <unistd.h>

#include "component/napi.h"
#include "sim.h"
#include "util/text.h"

extern "C" long GetClassObject(const WCHAR_T* className, IComponentBase** component);
extern "C" long DestroyObject(IComponentBase** component);

namespace fuzzhost {

namespace {

// A fault of the driver that the sanitizers cannot see: stop with the reason.
[[noreturn]] void Fault(const char* what) {
    std::fprintf(stderr, "fuzz host: %s\n", what);
    std::abort();
}

}  // namespace

std::u16string HostText(const uint8_t* data, size_t size) {
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        std::u16string out;
        for (size_t i = 2; i + 1 < size; i += 2) out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
        return out;
    }
    return vesklink::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
}

void QuietLog() {
    static char folder[] = "/tmp/vesklink-fuzz-XXXXXX";
    if (!mkdtemp(folder)) Fault("no temporary folder");
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    setenv("XDG_DOCUMENTS_DIR", folder, 1);
    const std::string logFolder = std::string(folder) + "/VESKLINK";
    std::filesystem::create_directory(logFolder);
    // The logger names its file after the day the object is made.
    const std::string file = logFolder + "/vesklog-" + vesklink::FormatLocalNow("%Y-%m-%d") + ".log";
    std::filesystem::create_symlink("/dev/null", file);
}

// Every block handed out is tracked: a string the component lost, or gave back twice, is a fault.
struct Host::Memory final : public IMemoryManager {
    bool ADDIN_API AllocMemory(void** memory, unsigned long byteCount) override {
        *memory = std::malloc(byteCount ? byteCount : 1);
        if (*memory) live.insert(*memory);
        return *memory != nullptr;
    }
    void ADDIN_API FreeMemory(void** memory) override {
        if (live.erase(*memory) != 1) Fault("a block freed that was not handed out");
        std::free(*memory);
        *memory = nullptr;
    }
    std::set<void*> live;
};

Host::Host() : memory_(std::make_unique<Memory>()) {
    if (GetClassObject(u"CAddInNative", &component_) != 1 || !component_) Fault("GetClassObject");
    component_->setMemManager(memory_.get());
    component_->Init(nullptr);
}

Host::~Host() { DestroyObject(&component_); }

vesklink::nAPI& Host::Object() { return *static_cast<vesklink::nAPI*>(component_); }

void Host::SetPort(int32_t port) {
    tVariant value{};
    value.vt = VTYPE_I4;
    value.value.lVal = port;
    component_->SetPropVal(0, &value);
}

Host::Params& Host::Params::Text(size_t i, std::u16string text) {
    texts_[i] = std::move(text);
    values_[i].vt = VTYPE_PWSTR;
    values_[i].value.wstr.pwstrVal = reinterpret_cast<WCHAR_T*>(texts_[i].data());
    values_[i].value.wstr.wstrLen = static_cast<uint32_t>(texts_[i].size());
    return *this;
}

Host::Params& Host::Params::Int(size_t i, int32_t value) {
    values_[i].vt = VTYPE_I4;
    values_[i].value.lVal = value;
    return *this;
}

Host::Params& Host::Params::Double(size_t i, double value) {
    values_[i].vt = VTYPE_R8;
    values_[i].value.dblVal = value;
    return *this;
}

Host::Params& Host::Params::Bool(size_t i, bool value) {
    values_[i].vt = VTYPE_BOOL;
    values_[i].value.bVal = value;
    return *this;
}

bool Host::Call(const char16_t* method, Params& params) {
    const long index = component_->FindMethod(reinterpret_cast<const WCHAR_T*>(method));
    if (index < 0) Fault("unknown method");
    tVariant result{};
    if (!component_->CallAsFunc(index, &result, params.data(), params.size())) Fault("CallAsFunc refused a known method");
    for (long i = 0; i < params.size(); ++i) {
        tVariant& v = params.data()[i];
        if (v.vt != VTYPE_PWSTR || !memory_->live.count(v.value.wstr.pwstrVal)) continue;
        if (v.value.wstr.pwstrVal[v.value.wstr.wstrLen] != 0) Fault("a returned string without its terminating zero");
        void* block = v.value.wstr.pwstrVal;
        memory_->FreeMemory(&block);
        v.vt = VTYPE_EMPTY;
    }
    if (!memory_->live.empty()) Fault("a string handed to the host was lost");
    return result.vt == VTYPE_BOOL && result.value.bVal;
}

namespace {
constexpr int32_t kSimulatorPort = 71;
}  // namespace

vesklink::sim::Simulator& Simulator() {
    static vesklink::sim::Simulator* simulator = [] {
        auto* s = new vesklink::sim::Simulator();
        const std::string path = s->Start();
        setenv(("VESKLINK_COM" + std::to_string(kSimulatorPort)).c_str(), path.c_str(), 1);
        return s;
    }();
    return *simulator;
}

Host& ConnectedHost() {
    static Host* host = [] {
        QuietLog();
        Simulator();
        auto* h = new Host();
        h->SetPort(kSimulatorPort);
        Host::Params none(1);
        if (!h->Call(u"Open", none)) Fault("Open");
        return h;
    }();
    return *host;
}

}  // namespace fuzzhost
