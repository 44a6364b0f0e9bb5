// Median time of one command exchange against a device that answers at once, over a real
// pseudo-terminal: the bare round trip of the same bytes, Exchange as built (waiting for
// input between polls), and Exchange with a blind 10 ms sleep between polls for comparison.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "protocol/device_link.h"
#include "serial/serial_port.h"
#include "pty_peer_posix.h"
#include "support/wire.h"

using namespace vesklink;
using vesklink::testing::PtyPeer;
using vktest::ReplyFrame;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t Port = 61;

class BlindSleepClock final : public ReplyClock {
public:
    Clock::duration Now() override { return Clock::now().time_since_epoch(); }
    void WaitForInput(ByteStream&, int milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// The same request and reply bytes moved with no protocol logic: write, then read as soon as
// anything arrives until the whole reply is in.
double RoundTripMicros(SerialPort& port, const Bytes& frame, size_t replySize) {
    std::vector<uint8_t> buffer(replySize + 64);
    const auto start = Clock::now();
    port.WriteBytes(frame.data(), static_cast<int32_t>(frame.size()));
    size_t got = 0;
    while (got < replySize) {
        if (!port.WaitForInput(1000)) return -1;
        const int32_t n = port.ReadBytes(buffer.data() + got, static_cast<int32_t>(buffer.size() - got));
        if (n > 0) got += static_cast<size_t>(n);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// -1 unless the whole reply came.
double ExchangeMicros(DeviceLink& link, uint8_t command, size_t replySize) {
    const auto start = Clock::now();
    const Reply reply = link.Exchange(command);
    const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    return reply.Executed() && reply.Size() == replySize ? micros : -1;
}

bool Measure(SerialPort& port, DeviceLink& link, uint8_t command, size_t replySize, int rounds, int blindRounds) {
    std::vector<double> raw, exchange, blind;
    const Bytes frame = BuildFrame(command, LittleEndianBytes(link.AccessCode, 4));
    for (int i = 0; i < rounds; ++i) {
        const double r = RoundTripMicros(port, frame, replySize);
        const double e = ExchangeMicros(link, command, replySize);
        if (r < 0 || e < 0) {
            std::fprintf(stderr, "exchange failed\n");
            return false;
        }
        raw.push_back(r);
        exchange.push_back(e);
    }
    BlindSleepClock sleeper;
    link.SetReplyClock(&sleeper);
    for (int i = 0; i < blindRounds; ++i) {
        const double b = ExchangeMicros(link, command, replySize);
        if (b < 0) return false;
        blind.push_back(b);
    }
    link.SetReplyClock(nullptr);
    const double rawMedian = Median(raw), exchangeMedian = Median(exchange);
    std::printf("0x%02X, %3zu-byte reply %11.1f us %15.1f us %9.1f us %17.1f us\n", command, replySize, rawMedian,
                exchangeMedian, exchangeMedian - rawMedian, Median(blind));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    PtyPeer peer;
    if (!peer.Ok()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    peer.MapPort(Port);
    const Bytes testReply = ReplyFrame(0x13, 0);
    const Bytes longReply = ReplyFrame(0xFF, 0, Bytes(300 - 9, 0x5A));
    peer.Start([&](const Bytes& request) { return request[3] == 0x13 ? testReply : longReply; });

    SerialPort port;
    DeviceLink link(port);
    if (!port.OpenPort(Port, 115200)) {
        std::fprintf(stderr, "cannot open %s\n", peer.DevicePath().c_str());
        return 1;
    }
    std::printf("one exchange over a pty, device answering at once; median of %d (blind sleep: of %d)\n", rounds,
                std::min(rounds, 50));
    std::printf("%-21s %14s %18s %12s %20s\n", "command", "round trip", "Exchange", "overhead",
                "blind 10 ms sleep");
    const bool ok = Measure(port, link, 0x13, testReply.size(), rounds, std::min(rounds, 50)) &&
                    Measure(port, link, 0xFF, longReply.size(), rounds, std::min(rounds, 50));
    return ok ? 0 : 1;
}
