// A port that is not open, on every platform.
#include <gtest/gtest.h>

#include "serial/serial_port.h"

using namespace vesklink;

namespace {

TEST(SerialPortClosed, EveryOperationDoesNothing) {
    SerialPort port;
    EXPECT_FALSE(port.IsOpen());
    port.ClosePort();
    port.ClosePort();
    uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(port.PollInput(), 0);
    EXPECT_EQ(port.ReadBytes(buffer, 4), 0);
    EXPECT_EQ(port.WriteBytes(buffer, 4), 0);
    EXPECT_FALSE(port.WaitForInput(5));
    EXPECT_EQ(buffer[0], 9);
}

TEST(SerialPortClosed, AbsentPortFailsToOpen) {
    // No COM250 on the test machines (Linux: no variable and no /dev/ttyS249; Wine: no link).
    SerialPort port;
    EXPECT_FALSE(port.OpenPort(250, 57600));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.PollInput(), 0);
    EXPECT_FALSE(port.OpenPort(250, 57600));
}

}  // namespace
