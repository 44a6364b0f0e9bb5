// How long a 10-position sale takes through the Windows add-in library at a till, against the
// simulated register paced at 57600 baud with 2 ms of processing per command (run by
// bench/wine-runs.sh through tests/with-sim.sh, once per run on a fresh process). The library's
// own imports are redirected so that its timing is the one of Windows (timer tick) and of a USB
// virtual COM port (bus frame), in the four combinations. Each receipt's time is set against its
// ideal: what the simulated line and register spend (every request byte at line speed before the
// register acts on it, its processing, then the reply at line speed, the first byte at once) plus
// one bus frame per request frame where the USB port is emulated. Whatever the receipt takes
// beyond it is the driver's, Wine's and the machine's doing.
//
// Besides the table, every condition prints one line for bench/wine-runs.sh:
//   run|<condition>|<median ms>|<its ideal ms>|<slowest receipt's ratio>|<receipts>|<waits run out>|
//      <reads complete at once with nothing>|<pending reads complete with nothing>
// and every receipt one line "receipt|<condition>|<ms>|<ideal ms>|<waits run out>|<empty reads>|
// <empty completions>|<reads>" for reading a slow run.
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
constexpr int Receipts = 7;

std::string TenPositionSale() {
    std::string lines;
    for (int i = 1; i <= 10; ++i) lines += Position("Товар " + std::to_string(i), "2", "12.25", "24.50");
    return Sale(lines, "Cash=\"245\"");
}

struct Receipt {
    double millis = 0;
    double ideal = 0;
    size_t frames = 0;
    TillCounts counts;
    double Ratio() const { return millis / ideal; }
};

// The receipts of one condition in one process.
struct ReceiptRun {
    std::vector<Receipt> receipts;  // in order of time taken
    const Receipt& Median() const { return receipts[receipts.size() / 2]; }
    const Receipt& Slowest() const { return receipts.back(); }
    long Total(long TillCounts::*count) const {
        long sum = 0;
        for (const Receipt& r : receipts) sum += r.counts.*count;
        return sum;
    }
};

class ReceiptAtATill : public ReceiptFixture {
protected:
    void SetUp() override {
        ReceiptFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(RedirectImports(static_cast<HMODULE>(library_.handle)));
        SimRegister::Execute("set baud " + std::to_string(Baud) + "\nset processing " + std::to_string(int(ProcessingMs)));
        ASSERT_TRUE(Check(TenPositionSale()));  // the line settings apply from this receipt on
    }

    // One receipt under the conditions in force; false when the sale failed or left an
    // overlapped operation behind.
    bool Measure(bool usb, Receipt& r) {
        SimRegister::ClearJournal();
        ResetCounts();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = Check(TenPositionSale());
        const auto elapsed = std::chrono::steady_clock::now() - start;
        r.counts = Counts();
        if (!ok || r.counts.pending != 0) return false;
        r.millis = std::chrono::duration<double, std::milli>(elapsed).count();
        size_t requestBytes = 0;
        for (const Request& request : SimRegister::Journal()) requestBytes += request.frame.size();
        r.frames = SimRegister::Journal().size();
        const double fixed = static_cast<double>(r.frames) * (ProcessingMs + (usb ? UsbFrameMs : 0));
        r.ideal = fixed + static_cast<double>(requestBytes + r.counts.bytesRead - r.frames) * ByteMs;
        return true;
    }

    bool MeasureRun(bool tick, bool usb, ReceiptRun& run) {
        SetTimerTick(tick);
        SetUsbFrame(usb);
        bool ok = true;
        for (int i = 0; i < Receipts && ok; ++i) {
            Receipt r;
            ok = Measure(usb, r);
            if (ok) run.receipts.push_back(r);
        }
        SetTimerTick(false);
        SetUsbFrame(false);
        std::sort(run.receipts.begin(), run.receipts.end(),
                  [](const Receipt& a, const Receipt& b) { return a.Ratio() < b.Ratio(); });
        return ok;
    }
};

void PrintRun(const char* name, const ReceiptRun& run) {
    for (const Receipt& r : run.receipts)
        std::printf("receipt|%s|%.2f|%.2f|%ld|%ld|%ld|%ld\n", name, r.millis, r.ideal, r.counts.waitsRunOut,
                    r.counts.emptyReads, r.counts.emptyCompletions, r.counts.readCalls);
    const Receipt& m = run.Median();
    std::printf("run|%s|%.2f|%.2f|%.4f|%zu|%ld|%ld|%ld\n", name, m.millis, m.ideal, run.Slowest().Ratio(),
                run.receipts.size(), run.Total(&TillCounts::waitsRunOut), run.Total(&TillCounts::emptyReads),
                run.Total(&TillCounts::emptyCompletions));
    std::printf("%-26s %7.1f ms %7.1f ms %6.2f %6.2f %7zu %7ld %7ld %8ld\n", name, m.millis, m.ideal, m.Ratio(),
                run.Slowest().Ratio(), m.frames, m.counts.writeCalls, m.counts.readCalls,
                run.Total(&TillCounts::waitsRunOut));
}

TEST_F(ReceiptAtATill, TenPositionSale) {
    struct Condition {
        const char* name;
        bool tick, usb;
    };
    const Condition conditions[] = {{"Wine as it is", false, false},
                                    {"timer tick 15.625 ms", true, false},
                                    {"USB frame 1 ms per write", false, true},
                                    {"timer tick and USB frame", true, true}};
    std::printf("%s: 10-position sale at %u baud, %.0f ms processing per command; %d receipts\n", VESKLINK_LIBRARY,
                Baud, ProcessingMs, Receipts);
    std::printf("%-26s %10s %10s %6s %6s %7s %7s %7s %8s\n", "conditions", "median", "ideal", "ratio", "worst",
                "frames", "writes", "reads", "run-outs");
    for (const Condition& c : conditions) {
        ReceiptRun run;
        ASSERT_TRUE(MeasureRun(c.tick, c.usb, run)) << c.name << ": a sale failed or left an operation pending";
        PrintRun(c.name, run);
    }
}

TEST_F(ReceiptAtATill, SlowRegisterBehindADeafDriver) {
    // A register slower than the exchange's wait, behind a port driver that ignores the read
    // time-outs: every wait for a reply runs out at least once and is ended by cancelling its
    // read, which shows how long such a cancellation takes.
    SimRegister::Execute("set processing 25");
    SetDeafDriver(true);
    ReceiptRun slow;
    const bool slowSale = MeasureRun(true, true, slow);
    SetDeafDriver(false);
    ASSERT_TRUE(slowSale) << "slow register: a sale failed or left an operation pending";
    long exchanges = 0, cancels = 0;
    double slowestCancelMs = 0;
    for (const Receipt& r : slow.receipts) {
        exchanges += static_cast<long>(r.frames);
        cancels += r.counts.cancels;
        slowestCancelMs = std::max(slowestCancelMs, r.counts.slowestCancelMs);
    }
    std::printf("register answering after 25 ms, driver ignoring read time-outs, timer tick and USB frame: %ld "
                "exchanges, %ld waits ended by a cancel, slowest completion after a cancel %.2f ms, none left "
                "pending\n",
                exchanges, cancels, slowestCancelMs);
}

}  // namespace
