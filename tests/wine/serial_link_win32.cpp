// The Windows serial port and the exchange under Wine, against the scripted devices that
// tests/wine_com_peer.py puts on pseudo-terminals mapped to COM ports (VESKLINK_TEST_PORTS).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "protocol/device_link.h"
#include "serial/serial_port.h"
#include "till_emulation.h"

using namespace vesklink;
using namespace vesklink::testing;

namespace {

std::vector<uint32_t> TestPorts() {
    std::vector<uint32_t> ports;
    const char* text = std::getenv("VESKLINK_TEST_PORTS");
    if (!text) return ports;
    std::string list = text;
    size_t at = 0;
    while (at < list.size()) {
        const size_t comma = list.find(',', at);
        ports.push_back(static_cast<uint32_t>(std::stoul(list.substr(at, comma - at))));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return ports;
}

// A wait that finds no input moves virtual time on by a second: a silent device times out after
// about ten short real waits.
class FakeClock final : public ReplyClock {
public:
    std::chrono::steady_clock::duration Now() override { return now; }
    void WaitForInput(ByteStream& port, int) override {
        if (!port.WaitForInput(50)) now += std::chrono::seconds(1);
    }
    std::chrono::steady_clock::duration now{};
};

class WineLink : public ::testing::Test {
protected:
    void SetUp() override {
        ports = TestPorts();
        ASSERT_EQ(ports.size(), 2u) << "run through tests/wine_com_peer.py";
        link.SetReplyClock(&clock);
        port.SetEventSink([this](const PortEvent& e) {
            events.push_back((e.kind == PortEvent::DeviceLost ? "lost COM" : "reopened COM") + std::to_string(e.port) +
                             " " + e.device);
        });
        ASSERT_TRUE(port.OpenPort(ports[1], 57600)) << "COM" << ports[1];
    }
    // One exchange; its reply stays in `last`.
    const Reply& Exchange(uint8_t command, const Bytes& payload = {}) { return last = link.Exchange(command, payload); }
    Bytes Data() const { return Bytes(last.Data().begin() + 8, last.Data().end() - 1); }
    double Seconds() const { return std::chrono::duration<double>(clock.now).count(); }
    // The restart count of the device on the port: 1 until it first restarts, 0 when none answered.
    int Generation() { return Exchange(0x73).Executed() ? last.Byte(8) : 0; }
    std::string Lost() const { return "lost COM" + std::to_string(ports[1]) + " \\\\.\\COM" + std::to_string(ports[1]); }
    std::string Reopened() const {
        return "reopened COM" + std::to_string(ports[1]) + " \\\\.\\COM" + std::to_string(ports[1]);
    }
    static double SecondsSince(std::chrono::steady_clock::time_point start) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    std::vector<uint32_t> ports;
    SerialPort port;
    DeviceLink link{port};
    Reply last;
    FakeClock clock;
    std::vector<std::string> events;
};

Bytes AllByteValues() {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    return all;
}

TEST_F(WineLink, EveryByteValueCrossesALineThatStartedWithXonXoff) {
    // The pty starts as a fresh terminal does (XON/XOFF, canonical input, echo); opening the port
    // made it a raw 8N1 line.
    ASSERT_TRUE(Exchange(0x11, AllByteValues()).Executed());
    EXPECT_EQ(Data(), AllByteValues());
}

TEST_F(WineLink, LineLeftWithFlowControlAndParityIsReset) {
    // Another program leaves the port with XON/XOFF both ways, 7 data bits, even parity and two
    // stop bits; the next open sets the device's line again.
    port.ClosePort();
    const std::string path = "\\\\.\\COM" + std::to_string(ports[1]);
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(other, &dcb));
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.fParity = TRUE;
    dcb.StopBits = TWOSTOPBITS;
    EXPECT_TRUE(SetCommState(other, &dcb));
    CloseHandle(other);

    ASSERT_TRUE(port.OpenPort(ports[1], 57600));
    ASSERT_TRUE(Exchange(0x11, AllByteValues()).Executed());
    EXPECT_EQ(Data(), AllByteValues());
}

TEST_F(WineLink, DeviceTestFrameAndPortNumbersFromTenUp) {
    ASSERT_GE(ports[1], 10u);
    ASSERT_TRUE(Exchange(0x13).Executed());
    EXPECT_EQ(Data(), (Bytes{0x01, 0x05, 0x00, 0x13, 0x65, 0x5E, 0x07, 0x00, 0xE2}));
    ASSERT_TRUE(Exchange(0x71).Executed());
    EXPECT_EQ(Data(), Bytes{static_cast<uint8_t>(ports[1])});
    // Already open: another number and speed change nothing.
    EXPECT_TRUE(port.OpenPort(ports[0], 9600));
    ASSERT_TRUE(Exchange(0x71).Executed());
    EXPECT_EQ(Data(), Bytes{static_cast<uint8_t>(ports[1])});
    // A single-digit port through the same path.
    port.ClosePort();
    ASSERT_TRUE(port.OpenPort(ports[0], 115200));
    ASSERT_TRUE(Exchange(0x71).Executed());
    EXPECT_EQ(Data(), Bytes{static_cast<uint8_t>(ports[0])});
}

TEST_F(WineLink, CloseAndReopen) {
    // (Wine does not refuse a second open of a COM device, so exclusivity is not tested here.)
    port.ClosePort();
    EXPECT_FALSE(port.IsOpen());
    port.ClosePort();
    EXPECT_FALSE(Exchange(0x13).Executed());
    ASSERT_TRUE(port.OpenPort(ports[1], 57600));
    EXPECT_TRUE(Exchange(0x13).Executed());
}

TEST_F(WineLink, ReadsOnlyWhatIsQueued) {
        uint8_t byte = 0;
    EXPECT_EQ(port.ReadBytes(&byte, 1), 0);
    EXPECT_EQ(port.WriteBytes(&byte, 0), 0);
    const Bytes frame = BuildFrame(0x70, LittleEndianBytes(link.AccessCode, 4));
    ASSERT_EQ(port.WriteBytes(frame.data(), static_cast<int32_t>(frame.size())), static_cast<int32_t>(frame.size()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (port.PollInput() < 5 && std::chrono::steady_clock::now() < deadline) port.WaitForInput(100);
    ASSERT_EQ(port.PollInput(), 5);
    EXPECT_EQ(port.ReadBytes(&byte, 1), 1);
    EXPECT_EQ(byte, 0xA1);
    EXPECT_EQ(port.PollInput(), 4);
    uint8_t rest[8] = {};
    EXPECT_EQ(port.ReadBytes(rest, 8), 4);
    EXPECT_EQ(rest[3], 0xA5);
    // Nothing more comes: the wait ends after its interval without input.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitForInput(30));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(WineLink, ExchangeRules) {
    // Noise before the ACK and between the ACK and the start byte.
    ASSERT_TRUE(Exchange(0x40).Executed());
    EXPECT_EQ(last.Data().size(), 10u);
    EXPECT_EQ(last.Data()[0], 0x06);
    EXPECT_EQ(last.Data()[8], 0xAA);
    // Status word.
    const Reply refused = Exchange(0x42);
    EXPECT_EQ(refused.Outcome(), LinkOutcome::Refused);
    EXPECT_EQ(refused.Integer(5, 6), 0x1234u);
    EXPECT_EQ(last.Data().size(), 12u);
    // Eight bytes with a zero status are still a failure.
    EXPECT_FALSE(Exchange(0x43).Executed());
    EXPECT_EQ(last.Data().size(), 8u);
    // A long reply.
    ASSERT_TRUE(Exchange(0xFF).Executed());
    ASSERT_EQ(last.Data().size(), 309u);
    EXPECT_EQ(last.Data()[8 + 299], static_cast<uint8_t>(299 * 7));
    EXPECT_EQ(clock.now, std::chrono::steady_clock::duration{});
}

TEST_F(WineLink, StaleInputIsDiscarded) {
    ASSERT_TRUE(Exchange(0x41).Executed());
    EXPECT_EQ(last.Data().size(), 9u);
    ASSERT_TRUE(port.WaitForInput(2000));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (port.PollInput() < 12 && std::chrono::steady_clock::now() < deadline)
        port.WaitForInput(50);
    EXPECT_EQ(port.PollInput(), 12);
    ASSERT_TRUE(Exchange(0x71).Executed());
    EXPECT_EQ(Data(), Bytes{static_cast<uint8_t>(ports[1])});
}

TEST_F(WineLink, TimeLimit) {
    EXPECT_FALSE(Exchange(0x45).Executed());
    EXPECT_TRUE(last.Data().empty());
    EXPECT_GE(Seconds(), 10.0);
    EXPECT_LT(Seconds(), 11.0);
    // Every wait on the silent line was cancelled by the port itself: none of those aborts is
    // taken for a device that went away.
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(events.empty());
    clock.now = {};
    EXPECT_FALSE(Exchange(0x44).Executed());
    EXPECT_EQ(last.Data(), Bytes{0x15});
    clock.now = {};
    // Cut after nine bytes with a zero status word: judged by what came.
    EXPECT_TRUE(Exchange(0x46).Executed());
    EXPECT_EQ(last.Data().size(), 9u);
    EXPECT_GE(Seconds(), 10.0);
}

TEST_F(WineLink, RealWaitsAreShort) {
    // With the system clock, an answered exchange takes nowhere near a poll interval per byte.
    link.SetReplyClock(nullptr);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(Exchange(0xFF).Executed());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// The register restarts under the same port: the peer re-points the COM link to a new pty and
// closes the old one. The exchange under way when that happens fails as soon as the device goes,
// not at the time limit; the next one opens the port again and reaches the new device.
TEST_F(WineLink, TheNextExchangeReachesTheRestartedDevice) {
    link.SetReplyClock(nullptr);
    const struct {
        const char* when;
        uint8_t command;  // the request after which the device restarts
        bool answered;
    } cases[] = {{"between exchanges", 0x7A, true}, {"during an exchange", 0x7C, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        events.clear();
        const int before = Generation();
        ASSERT_GT(before, 0);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Exchange(c.command).Executed(), c.answered);
        EXPECT_LT(SecondsSince(start), 3.0);
        if (c.answered) Sleep(300);  // the restart comes 50 ms after the reply, while the port is idle
        EXPECT_EQ(Generation(), before + 1);
        EXPECT_EQ(events, (std::vector<std::string>{Lost(), Reopened()}));
    }
}

TEST_F(WineLink, ADeviceThatStaysAwayFailsAtOnceAndIsUsedAgainWhenItReturns) {
    link.SetReplyClock(nullptr);
    const int before = Generation();
    ASSERT_TRUE(Exchange(0x7B).Executed());  // away for 1.5 s from 50 ms after this reply
    Sleep(300);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Generation(), 0);
    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_TRUE(port.IsLost());
    EXPECT_EQ(events, std::vector<std::string>{Lost()});
    int answered = 0;
    for (int i = 0; i < 100 && answered == 0; ++i) {
        answered = Generation();
        if (answered == 0) Sleep(100);
    }
    EXPECT_EQ(answered, before + 1);
    EXPECT_EQ(events, (std::vector<std::string>{Lost(), Reopened()}));
}

// The same line at a till: Windows' timer tick and a USB port's bus frame, emulated for this
// program's own imports (the port code is linked in), and the system clock for the time limit.
class TillLink : public WineLink {
protected:
    void SetUp() override {
        static const bool redirected = RedirectImports(GetModuleHandleA(nullptr));
        ASSERT_TRUE(redirected);
        WineLink::SetUp();
        link.SetReplyClock(nullptr);
        SetTimerTick(true);
        SetUsbFrame(true);
        ResetCounts();
    }
    void TearDown() override {
        SetTimerTick(false);
        SetUsbFrame(false);
        SetLateCancel(false);
        SetDeafDriver(false);
    }
    static double MillisSince(std::chrono::steady_clock::time_point start) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
};

TEST_F(TillLink, EachFrameIsOneWrite) {
    ASSERT_TRUE(Exchange(0x11, AllByteValues()).Executed());
    EXPECT_EQ(Counts().writeCalls, 1);
    EXPECT_EQ(Data(), AllByteValues());
}

TEST_F(TillLink, AnAnsweredExchangeNeverEndsOnATimerTick) {
    // The device answers 3 ms after each request, and each request starts just after a tick. Of
    // 50 exchanges, none may end on a tick: none may sleep or let a wait run to its limit, the
    // only ways a tick ends a wait. Their times say the same as long as the machine is quiet; on
    // a busy one, one in six takes longer than a tick whatever the port does, so the times are
    // held to their median: the reply's 3 ms, the request's bus frame and a few milliseconds.
    std::vector<double> millis;
    for (int i = 0; i < 50; ++i) {
        WaitForTickStart();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(Exchange(0x47).Executed());
        millis.push_back(MillisSince(start));
    }
    EXPECT_EQ(Counts().waitsRunOut, 0);
    std::sort(millis.begin(), millis.end());
    EXPECT_LT(millis[millis.size() / 2], 3 + UsbFrameMs + 7);
}

TEST_F(TillLink, AReplyThatBeginsAsTheWaitEndsIsTakenByTheReadNotCutByTheWait) {
    // The device begins each reply 9.5 ms after the request and sends it a byte every 0.2 ms:
    // the first bytes land as the exchange's first wait (10 ms) ends, and as the time-out of the
    // read under it runs out (Wine drops a read's time-out that fires while the read takes in
    // its first bytes). The read's completion, not the wait's own limit, has to end the wait:
    // a wait that ran to its limit ends on a tick on Windows. The emulated tick would stretch
    // such a wait to the next one and hide it, so it is off here. A wait cut at its limit would
    // take a third to two thirds of them; on a busy machine the device may stall mid-reply for
    // longer than the wait's grace once or twice.
    SetTimerTick(false);
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(link.Exchange(0x48).Executed());
    EXPECT_LE(Counts().waitsRunOut, 2);
}

TEST_F(TillLink, ASilentLineEndsEveryWaitAtItsLimitWithNothingPending) {
    // Dozens of waits in a row that run out, whether the port's driver ends its read at the
    // time-out or ignores it and the wait's own limit cancels the read: none ends early, none
    // hangs, their median outlives the limit by no more than the driver's grace (16 ms, deaf
    // driver only) and the tick that ends it, and none leaves a read behind to swallow what
    // comes next. The median, not each wait, is held to the tick: on a busy machine one wait in
    // twenty is now and then descheduled for longer than a tick whatever the port does.
    for (const bool deaf : {false, true}) {
        const double most = 10 + (deaf ? 16 : 0) + TimerTickMs + 15;
        SetDeafDriver(deaf);
        port.ClosePort();
        ASSERT_TRUE(port.OpenPort(ports[1], 57600));
        ResetCounts();
        std::vector<double> millis;
        for (int i = 0; i < 20; ++i) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_FALSE(port.WaitForInput(10));
            millis.push_back(MillisSince(start));
            EXPECT_GE(millis.back(), 10.0);
            EXPECT_LT(millis.back(), 1000.0);
            EXPECT_EQ(Counts().pending, 0);
        }
        std::sort(millis.begin(), millis.end());
        EXPECT_LT(millis[millis.size() / 2], most);
        EXPECT_EQ(Counts().cancels > 0, deaf);
        ASSERT_TRUE(Exchange(0xFF).Executed());
        ASSERT_EQ(last.Data().size(), 309u);
        EXPECT_EQ(last.Data()[8 + 299], static_cast<uint8_t>(299 * 7));
    }
}

TEST_F(TillLink, AByteThatLandsWhileTheWaitIsCancelledIsKept) {
    SetDeafDriver(true);
    SetLateCancel(true);
        const Bytes frame = BuildFrame(0x72, LittleEndianBytes(link.AccessCode, 4));  // five bytes, 40 ms late
    ASSERT_EQ(port.WriteBytes(frame.data(), static_cast<int32_t>(frame.size())), static_cast<int32_t>(frame.size()));
    EXPECT_TRUE(port.WaitForInput(10));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (port.PollInput() < 5 && std::chrono::steady_clock::now() < deadline) port.WaitForInput(100);
    uint8_t bytes[8] = {};
    ASSERT_EQ(port.ReadBytes(bytes, 8), 5);
    EXPECT_EQ(Bytes(bytes, bytes + 5), (Bytes{0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
}

}  // namespace
