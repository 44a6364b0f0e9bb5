// How long a 10-position sale takes through the Windows add-in library at a till, against the
// simulated register paced at 57600 baud with 2 ms of processing per command (run by
// `make bench` through tests/with-sim.sh). The library's own imports are redirected so that its
// timing is the one of Windows (timer tick) and of a USB virtual COM port (bus frame), in the
// four combinations. Each receipt's time is set against its ideal: what the simulated line and
// register spend (every request byte at line speed before the register acts on it, its
// processing, then the reply at line speed, the first byte at once) plus one bus frame per
// request frame where the USB port is emulated. Whatever the receipt takes beyond it is the
// driver's, Wine's and the machine's doing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "host/receipt_fixture.h"
#include "wine/till_emulation.h"

using namespace vktest;
using namespace vesklink::testing;

namespace {

constexpr unsigned Baud = 57600;
constexpr double ProcessingMs = 2;
constexpr double ByteMs = 10'000.0 / Baud;  // ten bits a byte
constexpr int Receipts = 15;

std::string TenPositionSale() {
    std::string lines;
    for (int i = 1; i <= 10; ++i) lines += Position("Товар " + std::to_string(i), "2", "12.25", "24.50");
    return Sale(lines, "Cash=\"245\"");
}

struct Receipt {
    double millis = 0;
    double ideal = 0;
    size_t frames = 0;
    long writes = 0;
    long reads = 0;
};

class ReceiptAtATill : public ReceiptFixture {
protected:
    // The receipt of median time under the given conditions; false when a sale failed or left
    // an overlapped operation behind.
    bool Measure(bool tick, bool usb, Receipt& median) {
        SetTimerTick(tick);
        SetUsbFrame(usb);
        std::vector<Receipt> runs;
        for (int i = 0; i < Receipts; ++i) {
            SimRegister::ClearJournal();
            ResetCounts();
            const auto start = std::chrono::steady_clock::now();
            const bool ok = Check(TenPositionSale());
            const auto elapsed = std::chrono::steady_clock::now() - start;
            const TillCounts c = Counts();
            if (!ok || c.pending != 0) return false;
            Receipt r;
            r.millis = std::chrono::duration<double, std::milli>(elapsed).count();
            size_t requestBytes = 0;
            for (const Request& request : SimRegister::Journal()) requestBytes += request.frame.size();
            r.frames = SimRegister::Journal().size();
            r.writes = c.writeCalls;
            r.reads = c.readCalls;
            const double fixed = static_cast<double>(r.frames) * (ProcessingMs + (usb ? UsbFrameMs : 0));
            r.ideal = fixed + static_cast<double>(requestBytes + c.bytesRead - r.frames) * ByteMs;
            runs.push_back(r);
            exchanges_ += static_cast<long>(r.frames);
            cancels_ += c.cancels;
            slowestCancelMs_ = std::max(slowestCancelMs_, c.slowestCancelMs);
        }
        SetTimerTick(false);
        SetUsbFrame(false);
        std::sort(runs.begin(), runs.end(), [](const Receipt& a, const Receipt& b) { return a.millis < b.millis; });
        median = runs[runs.size() / 2];
        return true;
    }

    long exchanges_ = 0;
    long cancels_ = 0;
    double slowestCancelMs_ = 0;
};

TEST_F(ReceiptAtATill, TenPositionSale) {
    ASSERT_TRUE(RedirectImports(static_cast<HMODULE>(library_.handle)));
    SimRegister::Execute("set baud " + std::to_string(Baud) + "\nset processing " + std::to_string(int(ProcessingMs)));
    ASSERT_TRUE(Check(TenPositionSale()));  // the line settings apply from this receipt on

    struct Condition {
        const char* name;
        bool tick, usb;
    };
    const Condition conditions[] = {{"Wine as it is", false, false},
                                    {"timer tick 15.625 ms", true, false},
                                    {"USB frame 1 ms per write", false, true},
                                    {"timer tick and USB frame", true, true}};
    std::printf("%s: 10-position sale at %u baud, %.0f ms processing per command; median of %d receipts\n",
                VESKLINK_LIBRARY, Baud, ProcessingMs, Receipts);
    std::printf("%-26s %10s %10s %6s %7s %7s %7s\n", "conditions", "receipt", "ideal", "ratio", "frames", "writes",
                "reads");
    for (const Condition& c : conditions) {
        Receipt r;
        ASSERT_TRUE(Measure(c.tick, c.usb, r)) << c.name << ": a sale failed or left an operation pending";
        std::printf("%-26s %7.1f ms %7.1f ms %6.2f %7zu %7ld %7ld\n", c.name, r.millis, r.ideal, r.millis / r.ideal,
                    r.frames, r.writes, r.reads);
    }
    // A register slower than the exchange's wait, behind a port driver that ignores the read
    // time-outs: every wait for a reply runs out at least once and is ended by cancelling its
    // read, which shows how long such a cancellation takes.
    exchanges_ = cancels_ = 0;
    slowestCancelMs_ = 0;
    SimRegister::Execute("set processing 25");
    SetDeafDriver(true);
    Receipt slow;
    const bool slowSale = Measure(true, true, slow);
    SetDeafDriver(false);
    ASSERT_TRUE(slowSale) << "slow register: a sale failed or left an operation pending";
    std::printf("register answering after 25 ms, driver ignoring read time-outs, timer tick and USB frame: %ld "
                "exchanges, %ld waits ended by a cancel, slowest completion after a cancel %.2f ms, none left "
                "pending\n",
                exchanges_, cancels_, slowestCancelMs_);
}

}  // namespace
