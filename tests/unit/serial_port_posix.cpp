// The Linux serial port against a real pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "protocol/frame.h"
#include "pty_peer_posix.h"
#include "serial/serial_port.h"

using namespace vesklink;
using vesklink::testing::PtyPeer;

namespace {

constexpr uint32_t Port = 42;

class PosixPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        peer.MapPort(Port);
    }
    // Waits until `count` bytes are queued (they may arrive in pieces).
    bool WaitQueued(SerialPort& port, int32_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (port.QueuedBytes() < count && std::chrono::steady_clock::now() < deadline) port.WaitForInput(10);
        return port.QueuedBytes() == count;
    }
    PtyPeer peer;
};

TEST_F(PosixPort, RawLinePassesEveryControlByteBothWays) {
    SerialPort port;
    ASSERT_TRUE(port.OpenPort(Port, 57600));
    EXPECT_TRUE(port.IsOpen());
    // XON, XOFF, CR, LF, interrupt, EOF, erase, suspend: a cooked or flow-controlled line would
    // swallow or change each of them.
    const Bytes special = {0x11, 0x13, 0x0D, 0x0A, 0x03, 0x04, 0x7F, 0x1A, 0x00, 0xFF, 0x0D};
    peer.Send(special);
    ASSERT_TRUE(WaitQueued(port, static_cast<int32_t>(special.size())));
    Bytes got(special.size());
    EXPECT_EQ(port.ReadBytes(got.data(), 100), static_cast<int32_t>(special.size()));
    EXPECT_EQ(got, special);

    EXPECT_EQ(port.WriteBytes(special.data(), static_cast<int32_t>(special.size())), static_cast<int32_t>(special.size()));
    EXPECT_EQ(peer.Receive(special.size() + 1, 300), special);  // nothing added (no CR before LF)
}

TEST_F(PosixPort, ReadsOnlyWhatIsQueued) {
    SerialPort port;
    ASSERT_TRUE(port.OpenPort(Port, 9600));
    uint8_t byte = 0;
    EXPECT_EQ(port.QueuedBytes(), 0);
    EXPECT_EQ(port.ReadBytes(&byte, 1), 0);
    EXPECT_FALSE(port.WaitForInput(0));
    peer.Send({1, 2, 3, 4, 5});
    ASSERT_TRUE(WaitQueued(port, 5));
    EXPECT_TRUE(port.WaitForInput(0));
    EXPECT_EQ(port.ReadBytes(&byte, 1), 1);
    EXPECT_EQ(byte, 1);
    EXPECT_EQ(port.QueuedBytes(), 4);
    uint8_t rest[16] = {};
    EXPECT_EQ(port.ReadBytes(rest, 0), 0);
    EXPECT_EQ(port.ReadBytes(rest, 16), 4);
    EXPECT_EQ(rest[3], 5);
}

TEST_F(PosixPort, WaitForInputWakesOnArrival) {
    SerialPort port;
    ASSERT_TRUE(port.OpenPort(Port, 115200));
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        peer.Send({0x42});
    });
    const auto start = std::chrono::steady_clock::now();
    const bool arrived = port.WaitForInput(5000);
    const auto took = std::chrono::steady_clock::now() - start;
    late.join();
    EXPECT_TRUE(arrived);
    EXPECT_LT(took, std::chrono::seconds(2));
    // Nothing more comes: the wait ends with false after its interval.
    uint8_t byte = 0;
    ASSERT_EQ(port.ReadBytes(&byte, 1), 1);
    EXPECT_FALSE(port.WaitForInput(20));
}

TEST_F(PosixPort, OpenIsExclusiveAndKeepsItsSettings) {
    SerialPort first, second;
    ASSERT_TRUE(first.OpenPort(Port, 57600));
    EXPECT_FALSE(second.OpenPort(Port, 57600));
    // Already open: other arguments are ignored and the same line stays in use.
    EXPECT_TRUE(first.OpenPort(Port + 100, 12345));
    const uint8_t byte = 0x5A;
    EXPECT_EQ(first.WriteBytes(&byte, 1), 1);
    EXPECT_EQ(peer.Receive(1, 1000), Bytes{0x5A});
    EXPECT_TRUE(first.ClosePort());
    EXPECT_TRUE(first.ClosePort());
    EXPECT_TRUE(second.OpenPort(Port, 57600));
}

TEST_F(PosixPort, UnsupportedSpeedFailsTheOpenAndALaterOpenStartsAfresh) {
    SerialPort port;
    EXPECT_FALSE(port.OpenPort(Port, 12345));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.OpenPort(Port, 0));
    // Nothing stayed locked or exclusive.
    EXPECT_TRUE(port.OpenPort(Port, 115200));
}

TEST_F(PosixPort, DeviceNaming) {
    SerialPort port;
    // Not a tty.
    setenv("VESKLINK_COM43", "/dev/null", 1);
    EXPECT_FALSE(port.OpenPort(43, 9600));
    unsetenv("VESKLINK_COM43");
    // Without a variable, COM250 is /dev/ttyS249, which does not exist; port 0 has no default.
    unsetenv("VESKLINK_COM250");
    EXPECT_FALSE(port.OpenPort(250, 9600));
    unsetenv("VESKLINK_COM0");
    EXPECT_FALSE(port.OpenPort(0, 9600));
    peer.MapPort(0);
    EXPECT_TRUE(port.OpenPort(0, 9600));
    unsetenv("VESKLINK_COM0");
}

TEST_F(PosixPort, DestructorClosesThePort) {
    {
        SerialPort port;
        ASSERT_TRUE(port.OpenPort(Port, 9600));
    }
    SerialPort again;
    EXPECT_TRUE(again.OpenPort(Port, 9600));
}

}  // namespace
