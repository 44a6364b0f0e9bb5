// Arbitrary bytes from the line: the reply receiver and every operation that reads a reply. The
// driver talks over a pseudo-terminal to this program, which plays a register that answers each
// request with the next piece of the fuzz input, whatever it holds. Input: one byte choosing the
// host method (called with fixed, valid parameters), then the replies, each a 16-bit
// little-endian count and that many bytes. A reply clock makes time pass only while the line is
// silent, so a missing or short reply ends its exchange within a millisecond.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "component/napi.h"
#include "fuzz_host.h"

namespace {

constexpr int32_t kPort = 72;

class ScriptedLine final : public vesklink::ReplyClock {
public:
    ScriptedLine() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) std::abort();
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        setenv(("VESKLINK_COM" + std::to_string(kPort)).c_str(), ptsname(master_), 1);
        std::thread([this] { ReadRequests(); }).detach();
    }

    // The replies of the next method call, in order.
    void Load(std::vector<std::vector<uint8_t>> replies) {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_ = std::move(replies);
        next_ = 0;
        answered_ = requests_;
        pending_.clear();
        at_ = 0;
    }

    std::chrono::steady_clock::duration Now() override { return now_; }

    void WaitForInput(vesklink::ByteStream& port, int) override {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // A request the driver finished writing gets the next reply.
            changed_.wait_for(lock, std::chrono::microseconds(100), [this] { return requests_ > answered_; });
            if (requests_ > answered_) {
                answered_ = requests_;
                pending_ = next_ < replies_.size() ? replies_[next_++] : std::vector<uint8_t>{};
                at_ = 0;
            }
        }
        bool wrote = false;
        while (at_ < pending_.size()) {
            const ssize_t n = write(master_, pending_.data() + at_, pending_.size() - at_);
            if (n <= 0) break;  // the line's buffer is full: the driver reads, then more follows
            at_ += static_cast<size_t>(n);
            wrote = true;
        }
        // Bytes on their way take no time of the exchange; a silent line ends it after five waits.
        if (port.WaitForInput(wrote ? 2 : 0) || at_ < pending_.size()) return;
        now_ += std::chrono::seconds(2);
    }

private:
    // Counts the request frames the driver writes: 0x01, a 16-bit length L, L bytes, a checksum.
    void ReadRequests() {
        std::vector<uint8_t> frame;
        for (;;) {
            pollfd p{master_, POLLIN, 0};
            poll(&p, 1, 100);
            uint8_t buffer[4096];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i) {
                if (frame.empty() && buffer[i] != 0x01) continue;
                frame.push_back(buffer[i]);
                if (frame.size() >= 3 && frame.size() == 4u + (frame[1] | (frame[2] << 8))) {
                    frame.clear();
                    std::lock_guard<std::mutex> lock(mutex_);
                    ++requests_;
                    changed_.notify_all();
                }
            }
        }
    }

    int master_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t requests_ = 0, answered_ = 0;
    std::vector<std::vector<uint8_t>> replies_;
    size_t next_ = 0;
    std::vector<uint8_t> pending_;
    size_t at_ = 0;
    std::chrono::steady_clock::duration now_{};
};

struct Harness {
    ScriptedLine line;
    fuzzhost::Host* host = nullptr;
    Harness() {
        fuzzhost::QuietLog();
        host = new fuzzhost::Host();
        host->SetPort(kPort);
        host->Object().Device.Link.SetReplyClock(&line);
    }
};

const char16_t kSale[] =
    u"<CheckPackage><Parameters OperationType=\"1\" TaxationSystem=\"0\" CustomerEmail=\"a@b.ru\" />"
    u"<Positions><FiscalString Name=\"Кофе\" Quantity=\"1\" PriceWithDiscount=\"150\" AmountWithDiscount=\"150\" "
    u"VATRate=\"20\" DiscountAmount=\"15\"><AgentData AgentPhone=\"+7\" /></FiscalString><TextString Text=\"Спасибо\" />"
    u"<Barcode Type=\"QR\" ValueBase64=\"MTIz\" /></Positions><Payments Cash=\"200\" /></CheckPackage>";
const char16_t kCorrection[] =
    u"<CheckPackage><Parameters OperationType=\"1\" TaxationSystem=\"1\"><CorrectionData Type=\"0\" Description=\"x\" "
    u"Date=\"2021-03-05T10:00:00\" Number=\"7\" /></Parameters><Positions><FiscalString Name=\"x\" Quantity=\"1\" "
    u"PriceWithDiscount=\"9.99\" AmountWithDiscount=\"9.99\" VATRate=\"none\" /></Positions><Payments Cash=\"9.99\" />"
    u"</CheckPackage>";
const char16_t kText[] =
    u"<Document><Positions><TextString Text=\"Строка\" /><Barcode Type=\"EAN13\" ValueBase64=\"NDYwMDAwMDAwMDAwMw==\" />"
    u"</Positions></Document>";
const char16_t kCashier[] = u"<InputParameters><Parameters CashierName=\"Иванов\" CashierINN=\"7701234567\" /></InputParameters>";
const char16_t kRegistration[] =
    u"<Parameters CashierName=\"Иванов\" RegistrationReasonCode=\"4\" KKTNumber=\"0000000001012345\" CompanyName=\"ООО\" "
    u"INN=\"7701234567\" SaleAddress=\"Москва\" TaxationSystems=\"0,1\" AgentTypes=\"1\" />";

void CallMethod(fuzzhost::Host& host, uint8_t which) {
    using Params = fuzzhost::Host::Params;
    switch (which % 17) {
        case 0: { Params p(1); host.Call(u"GetLastError", p); break; }
        case 1: { Params p(1); host.Call(u"Open", p); break; }
        case 2: { Params p(2); host.Call(u"DeviceTest", p); break; }
        case 3: { Params p(2); host.Call(u"PrintXReport", p); break; }
        case 4: { Params p(2); p.Text(1, u"15"); host.Call(u"PrintCheckCopy", p); break; }
        case 5: { Params p(1); host.Call(u"OpenCashDrawer", p); break; }
        case 6: { Params p(2); host.Call(u"GetDataKKT", p); break; }
        case 7: { Params p(3); p.Int(1, 1 + which / 17 % 3).Text(2, kRegistration); host.Call(u"OperationFN", p); break; }
        case 8: { Params p(3); p.Text(1, kCashier); host.Call(u"OpenShift", p); break; }
        case 9: { Params p(3); p.Text(1, kCashier); host.Call(u"CloseShift", p); break; }
        case 10: { Params p(4); p.Bool(1, which & 0x80).Text(2, kSale); host.Call(u"ProcessCheck", p); break; }
        case 11: { Params p(3); p.Text(1, kCorrection); host.Call(u"ProcessCorrectionCheck", p); break; }
        case 12: { Params p(2); p.Text(1, kText); host.Call(u"PrintTextDocument", p); break; }
        case 13: { Params p(3); p.Double(2, which & 0x80 ? -20.5 : 100.25); host.Call(u"CashInOutcome", p); break; }
        case 14: { Params p(3); host.Call(u"GetCurrentStatus", p); break; }
        case 15: { Params p(3); host.Call(u"ReportCurrentStatusOfSettlements", p); break; }
        case 16: { Params p(2); host.Call(u"GetParameters", p); break; }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static Harness* harness = new Harness();
    fuzzhost::Host& host = *harness->host;
    // A failed device test or Close leaves the port closed; the next input finds it open again.
    if (!host.Object().Device.Port.IsOpen()) {
        harness->line.Load({});
        fuzzhost::Host::Params p(1);
        host.Call(u"Open", p);
    }
    std::vector<std::vector<uint8_t>> replies;
    for (size_t at = 1; at + 2 <= size;) {
        const size_t length = data[at] | (data[at + 1] << 8);
        at += 2;
        const size_t taken = length < size - at ? length : size - at;
        replies.emplace_back(data + at, data + at + taken);
        at += taken;
    }
    harness->line.Load(std::move(replies));
    CallMethod(host, data[0]);
    return 0;
}
