// How long a 10-position sale takes through the Linux add-in library against the simulated
// register paced at 57600 baud with 2 ms of processing per command (run by `make bench` through
// tests/with-sim.sh): the median and the fastest of 15 receipts, and the line's share of them
// (every request byte at line speed, the processing, each request's reply at line speed).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "sale.h"

using namespace vktest;

namespace {

constexpr unsigned Baud = 57600;
constexpr int ProcessingMs = 2;
constexpr int Receipts = 15;

class ReceiptOnLinux : public ReceiptFixture {};

TEST_F(ReceiptOnLinux, TenPositionSale) {
    SimRegister::Execute("set baud " + std::to_string(Baud) + "\nset processing " + std::to_string(ProcessingMs));
    ASSERT_TRUE(Check(TenPositionSale()));  // the line settings apply from this receipt on
    std::vector<double> millis;
    size_t frames = 0, requestBytes = 0;
    for (int i = 0; i < Receipts; ++i) {
        SimRegister::ClearJournal();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(Check(TenPositionSale()));
        millis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        frames = SimRegister::Journal().size();
        requestBytes = 0;
        for (const Request& r : SimRegister::Journal()) requestBytes += r.frame.size();
    }
    std::sort(millis.begin(), millis.end());
    const double requestsMs = static_cast<double>(requestBytes) * 10'000.0 / Baud + double(frames) * ProcessingMs;
    std::printf("%s: 10-position sale at %u baud, %d ms processing, %zu exchanges: median %.1f ms, fastest %.1f ms "
                "of %d receipts; requests and processing alone %.1f ms\n",
                VESKLINK_LIBRARY, Baud, ProcessingMs, frames, millis[millis.size() / 2], millis.front(), Receipts,
                requestsMs);
}

}  // namespace
