// A register that goes away and comes back under the same name, over pseudo-terminals. The port's
// device is a symbolic link that is re-pointed to a new pty, as a udev name follows a USB device
// plugged in again; closing a pty's far end is the device going away.
#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component/napi.h"
#include "operations/operations.h"
#include "protocol/device_link.h"
#include "pty_peer_posix.h"
#include "support/step_clock.h"
#include "support/wire.h"
#include "support/temp_folder.h"

using namespace vesklink;
using vesklink::testing::PtyPeer;
using vktest::ReplyFrame;

namespace {

constexpr uint32_t kPort = 45;
constexpr uint8_t kWhich = 0x71;  // every device answers with its number, counted from 1

class Replug : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp_.Path().empty());
        folder_ = temp_.Path();
        name_ = folder_ + "/ttyREG";
        setenv(("VESKLINK_COM" + std::to_string(kPort)).c_str(), name_.c_str(), 1);
        link.SetReplyClock(&clock);
        // Why the device counts as gone (a hang-up, or the error of the call that met it) is
        // only checked to be said.
        port.SetEventSink([this](const PortEvent& e) {
            events.push_back((e.kind == PortEvent::DeviceLost ? "lost " : "reopened ") + std::to_string(e.port) + " " +
                             e.device + (e.why.empty() ? "" : " (why)"));
        });
        Plug();
        ASSERT_TRUE(port.OpenPort(kPort, 57600));
    }
    void TearDown() override {
        port.ClosePort();
        devices_.clear();
        unsetenv(("VESKLINK_COM" + std::to_string(kPort)).c_str());
    }

    // A device comes up under the name: a new pty, and the link re-pointed to it in one step.
    void Plug() {
        auto device = std::make_unique<PtyPeer>();
        ASSERT_TRUE(device->Ok());
        const uint8_t number = static_cast<uint8_t>(devices_.size() + 1);
        device->Start([this, number](const Bytes& request) {
            return silent ? Bytes{} : ReplyFrame(request[3], 0, {number});
        });
        const std::string next = name_ + ".new";
        ASSERT_EQ(symlink(device->DevicePath().c_str(), next.c_str()), 0);
        ASSERT_EQ(std::rename(next.c_str(), name_.c_str()), 0);
        devices_.push_back(std::move(device));
    }
    // The last device goes away, and its name with it.
    void Unplug() {
        devices_.back().reset();
        unlink(name_.c_str());
    }
    // The number of the device that answered the exchange, 0 when it failed.
    int Which() {
        const Reply reply = link.Exchange(kWhich);
        return reply.Executed() ? reply.Byte(8) : 0;
    }
    std::string Lost() const { return "lost " + std::to_string(kPort) + " " + name_ + " (why)"; }
    std::string Reopened() const { return "reopened " + std::to_string(kPort) + " " + name_; }

    vktest::TempFolder temp_{"vesklink-replug"};
    std::string folder_, name_;
    std::vector<std::unique_ptr<PtyPeer>> devices_;
    std::atomic<bool> silent{false};
    vktest::StepClock clock;
    SerialPort port;
    DeviceLink link{port};
    std::vector<std::string> events;
};

TEST_F(Replug, TheNextExchangeReachesTheDeviceBackUnderTheName) {
    // The register restarts between two exchanges, or while one waits for its reply: that one
    // fails as soon as the device goes, not at the time limit.
    for (const bool midExchange : {false, true}) {
        SCOPED_TRACE(midExchange ? "during an exchange" : "between exchanges");
        events.clear();
        const int before = static_cast<int>(devices_.size());
        ASSERT_EQ(Which(), before);
        if (midExchange) {
            silent = true;
            bool restarted = false;
            clock.during = [this, &restarted] {
                if (restarted) return;
                restarted = true;
                silent = false;
                Plug();
                devices_[devices_.size() - 2].reset();
            };
            clock.now = {};
            EXPECT_EQ(Which(), 0);
            EXPECT_LT(clock.now, std::chrono::seconds(3));
            clock.during = nullptr;
        } else {
            Unplug();
            Plug();
        }
        EXPECT_EQ(Which(), before + 1);
        EXPECT_EQ(devices_.back()->Requests().size(), 1u);
        EXPECT_EQ(events, (std::vector<std::string>{Lost(), Reopened()}));
        // Opened again as it was first: the same speed, exclusively.
        EXPECT_EQ(devices_.back()->LineSpeed(), static_cast<unsigned>(B57600));
        SerialPort other;
        EXPECT_FALSE(other.OpenPort(kPort, 57600));
    }
}

TEST_F(Replug, ADeviceThatStaysAwayFailsAtOnceAndIsUsedAgainWhenItReturns) {
    ASSERT_EQ(Which(), 1);
    Unplug();
    link.SetReplyClock(nullptr);  // real time: no exchange may wait for a device that is not there
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Which(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(port.IsLost());
    EXPECT_EQ(events, std::vector<std::string>{Lost()});  // once, not once per attempt
    Plug();
    EXPECT_EQ(Which(), 2);
    EXPECT_EQ(events, (std::vector<std::string>{Lost(), Reopened()}));
}

TEST_F(Replug, ASilentDeviceIsNeverReopened) {
    ASSERT_EQ(Which(), 1);
    silent = true;
    Plug();  // another device under the name, while the first one is still there
    EXPECT_EQ(Which(), 0);
    EXPECT_GE(clock.now, DeviceLink::ReplyTimeout);
    EXPECT_TRUE(port.IsOpen());
    silent = false;
    EXPECT_EQ(Which(), 1);
    EXPECT_TRUE(devices_[1]->Requests().empty());
    EXPECT_TRUE(events.empty());
}

TEST_F(Replug, OpenAndTheDeviceTestReconnectWithTheSettingsOfTheFirstOpen) {
    port.ClosePort();
    setenv("XDG_DOCUMENTS_DIR", folder_.c_str(), 1);
    nAPI api;
    api.PortNumber = kPort;
    api.Device.Link.SetReplyClock(&clock);
    // Through the host's methods, which add their failure lines to the log.
    const auto call = [&api](const char16_t* method) {
        tVariant result{}, params[2]{};
        return api.CallAsFunc(api.FindMethod(method), &result, params, 2) && result.vt == VTYPE_BOOL &&
               result.value.bVal;
    };
    ASSERT_TRUE(call(u"Open"));
    // Changed settings apply after Close, not to a port that is opened again.
    api.PortNumber = kPort + 1;
    api.PortSpeed = 9600;
    Unplug();
    EXPECT_FALSE(call(u"Open"));  // still away: false, as for a first open
    Plug();
    EXPECT_TRUE(call(u"Open"));
    ASSERT_FALSE(devices_.back()->Requests().empty());
    EXPECT_EQ(devices_.back()->Requests()[0][3], 0xF3);  // Open's own exchanges reach the new device
    EXPECT_EQ(devices_.back()->LineSpeed(), static_cast<unsigned>(B57600));
    Unplug();
    Plug();
    EXPECT_TRUE(call(u"DeviceTest"));
    EXPECT_TRUE(api.Device.Port.IsOpen());  // a connected port stays connected after the test

    std::vector<std::string> lines;
    for (const auto& file : std::filesystem::directory_iterator(folder_ + "/VESKLINK")) {
        std::ifstream in(file.path());
        for (std::string line; std::getline(in, line);)
            if (line.find("COM") != std::string::npos || line.find("Open error") != std::string::npos)
                lines.push_back(line.substr(line.find("] [") + 2));
    }
    const std::string port = "COM" + std::to_string(kPort) + " (" + name_ + ")";
    EXPECT_EQ(lines, (std::vector<std::string>{"[Warning] " + port + ": device lost (hang-up)",
                                               "[Error] Cannot open " + port + ": no such device",
                                               "[Error] Open error",
                                               "[Warning] " + port + ": reopened",
                                               "[Warning] " + port + ": device lost (hang-up)",
                                               "[Warning] " + port + ": reopened"}));
}

}  // namespace
