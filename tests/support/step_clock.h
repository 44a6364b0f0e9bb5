// Virtual time for the exchange's 10-second limit: a wait that finds no input within a short real
// interval moves the clock on by a step, so a silent register times out in a fraction of a second.
#pragma once

#include <chrono>
#include <functional>

#include "protocol/device_link.h"

namespace vktest {

class StepClock final : public vesklink::ReplyClock {
public:
    explicit StepClock(int realWaitMs = 50, std::chrono::seconds step = std::chrono::seconds(1))
        : realWaitMs_(realWaitMs), step_(step) {}

    std::chrono::steady_clock::duration Now() override { return now; }
    void WaitForInput(vesklink::ByteStream& stream, int) override {
        ++waits;
        if (during) during();
        if (!stream.WaitForInput(realWaitMs_)) now += step_;
    }
    double Seconds() const { return std::chrono::duration<double>(now).count(); }

    std::chrono::steady_clock::duration now{};
    int waits = 0;
    std::function<void()> during;  // runs before each wait: what happens while an exchange waits

private:
    int realWaitMs_;
    std::chrono::seconds step_;
};

}  // namespace vktest
