// How long a 10-position sale takes through the Windows add-in library at a till, against the
// simulated register paced at 57600 baud with 2 ms of processing per command (run by
// bench/wine-runs.sh through tests/with-sim.sh, once per run on a fresh process). The library's
// own imports are redirected so that its timing is the one of Windows (timer tick) and of a USB
// virtual COM port (bus frame), in the four combinations. Each receipt's time is set against its
// ideal: what the simulated line and register spend (every request byte at line speed before the
// register acts on it, its processing, then the reply at line speed, the first byte at once) plus
// one bus frame per request frame where the USB port is emulated. Whatever the receipt takes
// beyond it is the driver's, Wine's and the machine's doing; the same frames sent by a minimal
// client under the same conditions (the floor) show how much of it is not the driver's.
//
// Besides the table, every condition prints one line for bench/wine-runs.sh:
//   run|<condition>|<median ms>|<its ideal ms>|<slowest receipt's ratio>|<receipts>|<waits run out>|
//      <reads complete at once with nothing>|<pending reads complete with nothing>|<floor's median ratio>
// and every receipt one line "receipt|<condition>|<ms>|<ideal ms>|<waits run out>|<empty reads>|
// <empty completions>|<reads>" for reading a slow run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "host/receipt_fixture.h"
#include "sale.h"
#include "minimal_client_win32.h"
#include "wine/till_emulation.h"

using namespace vktest;
using namespace vesklink::testing;

namespace {

constexpr unsigned Baud = 57600;
constexpr double ProcessingMs = 2;
constexpr double ByteMs = 10'000.0 / Baud;  // ten bits a byte
constexpr int Receipts = 7;

struct Receipt {
    double millis = 0;
    double ideal = 0;
    size_t frames = 0;
    TillCounts counts;
    double Ratio() const { return millis / ideal; }
};

// What the line and the register spend on these request frames and reply bytes.
double Ideal(const std::vector<std::vector<uint8_t>>& requests, uint64_t replyBytes, bool usb) {
    size_t requestBytes = 0;
    for (const auto& frame : requests) requestBytes += frame.size();
    const double fixed = static_cast<double>(requests.size()) * (ProcessingMs + (usb ? UsbFrameMs : 0));
    return fixed + static_cast<double>(requestBytes + replyBytes - requests.size()) * ByteMs;
}

double MillisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The receipts of one condition in one process, in order of their ratio.
struct ReceiptRun {
    std::vector<Receipt> receipts;
    void Add(const Receipt& r) {
        receipts.insert(std::upper_bound(receipts.begin(), receipts.end(), r,
                                         [](const Receipt& a, const Receipt& b) { return a.Ratio() < b.Ratio(); }),
                        r);
    }
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

    // One receipt through the library under the conditions in force; false when the sale failed
    // or left an overlapped operation behind. Its request frames are kept in `frames_`.
    bool Measure(bool usb, Receipt& r) {
        SimRegister::ClearJournal();
        ResetCounts();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = Check(TenPositionSale());
        r.millis = MillisSince(start);
        r.counts = Counts();
        if (!ok || r.counts.pending != 0) return false;
        frames_.clear();
        for (const Request& request : SimRegister::Journal()) frames_.push_back(request.frame);
        r.frames = frames_.size();
        r.ideal = Ideal(frames_, r.counts.bytesRead, usb);
        return true;
    }

    // The library's receipts, then with its port closed the floor's, under one condition.
    bool MeasureRun(bool tick, bool usb, ReceiptRun& run, ReceiptRun* floor = nullptr) {
        SetTimerTick(tick);
        SetUsbFrame(usb);
        bool ok = true;
        for (int i = 0; i < Receipts && ok; ++i) {
            Receipt r;
            ok = Measure(usb, r);
            if (ok) run.Add(r);
        }
        if (ok && floor) ok = MeasureFloor(usb, *floor);
        SetTimerTick(false);
        SetUsbFrame(false);
        return ok;
    }

    bool MeasureFloor(bool usb, ReceiptRun& floor) {
        Params none(&memory_, 1);
        CallBool("Close", none);
        bool ok = true;
        for (int i = 0; i < Receipts && ok; ++i) {
            Receipt r;
            const auto start = std::chrono::steady_clock::now();
            const size_t replyBytes = MinimalClientExchanges(static_cast<uint32_t>(SimRegister::Port()), Baud, frames_);
            r.millis = MillisSince(start);
            r.ideal = Ideal(frames_, replyBytes, usb);
            ok = replyBytes > 0;
            floor.Add(r);
        }
        return Open() && ok;
    }

    std::vector<std::vector<uint8_t>> frames_;  // of the last receipt through the library
};

void PrintRun(const char* name, const ReceiptRun& run, const ReceiptRun& floor) {
    for (const Receipt& r : run.receipts)
        std::printf("receipt|%s|%.2f|%.2f|%ld|%ld|%ld|%ld\n", name, r.millis, r.ideal, r.counts.waitsRunOut,
                    r.counts.emptyReads, r.counts.emptyCompletions, r.counts.readCalls);
    const Receipt& m = run.Median();
    const long runOuts = run.Total(&TillCounts::waitsRunOut);
    std::printf("run|%s|%.2f|%.2f|%.4f|%zu|%ld|%ld|%ld|%.4f\n", name, m.millis, m.ideal, run.Slowest().Ratio(),
                run.receipts.size(), runOuts, run.Total(&TillCounts::emptyReads),
                run.Total(&TillCounts::emptyCompletions), floor.Median().Ratio());
    std::printf("%-26s %7.1f ms %7.1f ms %6.3f %6.3f %6.3f %7zu %7ld %7ld %8ld\n", name, m.millis, m.ideal, m.Ratio(),
                run.Slowest().Ratio(), floor.Median().Ratio(), m.frames, m.counts.writeCalls, m.counts.readCalls,
                runOuts);
}

TEST_F(ReceiptAtATill, TenPositionSale) {
    // The minimal client lives in this program: its imports get the same timing as the library's.
    ASSERT_TRUE(RedirectImports(GetModuleHandleA(nullptr)));
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
    std::printf("%-26s %10s %10s %6s %6s %6s %7s %7s %7s %8s\n", "conditions", "median", "ideal", "ratio", "worst",
                "floor", "frames", "writes", "reads", "run-outs");
    for (const Condition& c : conditions) {
        ReceiptRun run, floor;
        ASSERT_TRUE(MeasureRun(c.tick, c.usb, run, &floor)) << c.name << ": a sale failed or left an operation pending";
        PrintRun(c.name, run, floor);
    }
}

TEST_F(ReceiptAtATill, SlowRegisterBehindADeafDriver) {
    // A register slower than the exchange's wait, behind a port driver that ignores the read
    // time-outs: every wait for a reply runs out at least once and is ended by cancelling its
    // read, which shows how long such a cancellation takes.
    SimRegister::Execute("set processing 60");
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
    std::printf("register answering after 60 ms, driver ignoring read time-outs, timer tick and USB frame: %ld "
                "exchanges, %ld waits ended by a cancel, slowest completion after a cancel %.2f ms, none left "
                "pending\n",
                exchanges, cancels, slowestCancelMs);
}

}  // namespace
