// The Linux serial port against a real pseudo-terminal, and the naming of its devices.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/frame.h"
#include "pty_peer_posix.h"
#include "serial/serial_port.h"
#include "support/temp_folder.h"

using namespace vesklink;
using vesklink::testing::PtyPeer;

namespace {

constexpr uint32_t Port = 42;

// Environment variables set or removed for one test, given back as they were afterwards.
class Environment {
public:
    ~Environment() {
        for (const auto& [name, value] : saved_) Put(name, value ? value->c_str() : nullptr);
    }
    void Set(const std::string& name, const char* value) {
        bool known = false;
        for (const auto& entry : saved_) known = known || entry.first == name;
        if (!known) {
            const char* old = std::getenv(name.c_str());
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        }
        Put(name, value);
    }

private:
    static void Put(const std::string& name, const char* value) {
        if (value)
            setenv(name.c_str(), value, 1);
        else
            unsetenv(name.c_str());
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class PosixPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        peer.MapPort(Port);
    }
    // Waits until `count` bytes are queued (they may arrive in pieces).
    bool WaitQueued(SerialPort& port, int32_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (port.PollInput() < count && std::chrono::steady_clock::now() < deadline) port.WaitForInput(10);
        return port.PollInput() == count;
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
    EXPECT_EQ(port.PollInput(), 0);
    EXPECT_EQ(port.ReadBytes(&byte, 1), 0);
    EXPECT_FALSE(port.WaitForInput(0));
    peer.Send({1, 2, 3, 4, 5});
    ASSERT_TRUE(WaitQueued(port, 5));
    EXPECT_TRUE(port.WaitForInput(0));
    EXPECT_EQ(port.ReadBytes(&byte, 1), 1);
    EXPECT_EQ(byte, 1);
    EXPECT_EQ(port.PollInput(), 4);
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
    EXPECT_EQ(first.OpenNotes().device, peer.DevicePath());
    EXPECT_EQ(first.OpenNotes().failure, "");
    EXPECT_FALSE(second.OpenPort(Port, 57600));
    EXPECT_EQ(second.OpenNotes().failure, "busy: another program has the port open");
    // Already open: other arguments are ignored and the same line stays in use.
    EXPECT_TRUE(first.OpenPort(Port + 100, 12345));
    const uint8_t byte = 0x5A;
    EXPECT_EQ(first.WriteBytes(&byte, 1), 1);
    EXPECT_EQ(peer.Receive(1, 1000), Bytes{0x5A});
    first.ClosePort();
    first.ClosePort();  // closing a closed port changes nothing
    EXPECT_TRUE(second.OpenPort(Port, 57600));
}

TEST_F(PosixPort, UnsupportedSpeedFailsTheOpenAndALaterOpenStartsAfresh) {
    SerialPort port;
    EXPECT_FALSE(port.OpenPort(Port, 12345));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.OpenNotes().failure, "the line cannot run at 12345 baud, 8 data bits");
    EXPECT_FALSE(port.OpenPort(Port, 0));
    // Nothing stayed locked or exclusive.
    EXPECT_TRUE(port.OpenPort(Port, 115200));
}

TEST_F(PosixPort, DeviceNaming) {
    SerialPort port;
    Environment environment;
    // Not a tty.
    environment.Set("VESKLINK_COM43", "/dev/null");
    EXPECT_FALSE(port.OpenPort(43, 9600));
    EXPECT_EQ(port.OpenNotes().failure, "not a serial device");
    // Without a variable, COM250 is /dev/ttyS249, which does not exist; port 0 has no default.
    environment.Set("VESKLINK_COM250", nullptr);
    EXPECT_FALSE(port.OpenPort(250, 9600));
    EXPECT_EQ(port.OpenNotes().device, "/dev/ttyS249");
    EXPECT_EQ(port.OpenNotes().failure, "no such device");
    environment.Set("VESKLINK_COM0", nullptr);
    EXPECT_FALSE(port.OpenPort(0, 9600));
    EXPECT_EQ(port.OpenNotes().device, "");
    EXPECT_EQ(port.OpenNotes().failure, "no device is named for this port");
    // A device the user may not open (root may open anything, so only a user can tell).
    if (geteuid() != 0 && chmod(peer.DevicePath().c_str(), 0) == 0) {
        EXPECT_FALSE(port.OpenPort(Port, 9600));
        EXPECT_EQ(port.OpenNotes().failure, "permission denied");
        chmod(peer.DevicePath().c_str(), 0600);
    }
    environment.Set("VESKLINK_COM0", peer.DevicePath().c_str());
    EXPECT_TRUE(port.OpenPort(0, 9600));
}

// The port map of the user's and the system's ports.conf, under the variables.
class PortsFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp.Path().empty());
        folder = temp.Path();
        user = folder + "/xdg/vesklink/ports.conf";
        system = folder + "/system.conf";
        std::filesystem::create_directories(folder + "/xdg/vesklink");
        std::filesystem::create_directories(folder + "/.config/vesklink");
        std::ofstream(user) << "# the registers of this till\r\n"
                               "COM3 = /dev/ttyACM0\n"
                               "\tcom4=/dev/ttyUSB1   # the spare one\n"
                               "COM5 /dev/ttyS9\n"
                               "COMX = /dev/ttyS1\n"
                               "COM6 = ttyACM1\n"
                               "COM3 = /dev/ttyACM9\n";
        std::ofstream(system) << "COM3 = /dev/system3\nCOM7 = /dev/system7\n=\n";
        std::ofstream(folder + "/.config/vesklink/ports.conf") << "COM7 = /dev/home7\n";
        environment.Set("HOME", folder.c_str());
    }
    vktest::TempFolder temp{"vesklink-ports"};
    std::string folder, user, system;
    Environment environment;
};

TEST_F(PortsFiles, VariableThenUserFileThenSystemFileThenTtyS) {
    struct Case {
        const char* xdg;  // nullptr: unset, so ~/.config is read
        const char* variable;
        uint32_t port;
        const char* device;
        size_t warnings;
    } cases[] = {
        {"/xdg", "/dev/from-variable", 3, "/dev/from-variable", 0},  // the files are not even read
        {"/xdg", nullptr, 3, "/dev/ttyACM0", 4},                      // the user's file wins
        {"/xdg", nullptr, 4, "/dev/ttyUSB1", 4},
        {"/xdg", nullptr, 7, "/dev/system7", 5},                      // then the system's
        {"/xdg", nullptr, 8, "/dev/ttyS7", 5},                        // then the default
        {"/xdg", nullptr, 0, "", 5},
        {nullptr, nullptr, 7, "/dev/home7", 0},                       // ~/.config without the variable
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("COM" + std::to_string(c.port) + (c.variable ? " with variable" : ""));
        environment.Set("XDG_CONFIG_HOME", c.xdg ? (folder + c.xdg).c_str() : nullptr);
        environment.Set("VESKLINK_COM" + std::to_string(c.port), c.variable);
        std::vector<std::string> warnings;
        EXPECT_EQ(PortDevice(c.port, warnings, system), c.device);
        EXPECT_EQ(warnings.size(), c.warnings);
        environment.Set("VESKLINK_COM" + std::to_string(c.port), nullptr);
    }
}

TEST_F(PortsFiles, EveryMalformedLineIsReportedWithItsFileAndNumber) {
    environment.Set("XDG_CONFIG_HOME", (folder + "/xdg").c_str());
    environment.Set("VESKLINK_COM7", nullptr);
    std::vector<std::string> warnings;
    PortDevice(7, warnings, system);
    ASSERT_EQ(warnings.size(), 5u);
    EXPECT_EQ(warnings[0], user + " line 4 skipped: \"COM5 /dev/ttyS9\" has no '=' (lines read COM3 = /dev/ttyACM0)");
    EXPECT_EQ(warnings[1], user + " line 5 skipped: \"COMX = /dev/ttyS1\" does not start with a port name such as COM3");
    EXPECT_EQ(warnings[2], user + " line 6 skipped: \"COM6 = ttyACM1\" does not name a device by its full path, such as /dev/ttyACM0");
    EXPECT_EQ(warnings[3], user + " line 7 skipped: \"COM3 = /dev/ttyACM9\" names COM3 again; the earlier line holds");
    EXPECT_EQ(warnings[4], system + " line 3 skipped: \"=\" does not start with a port name such as COM3");
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
