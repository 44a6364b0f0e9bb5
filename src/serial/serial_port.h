// The COM port the cash register hangs on: opened exclusively, configured as a raw 8N1 line
// without flow control, and driven synchronously by the frame exchange. Every operation on a
// closed port does nothing and reports 0 or false.
//
// A register on USB goes away when it is switched off, unplugged or restarted, and comes back
// under the same name. An I/O error or hang-up that means the device is gone closes the dead
// handle and leaves the port lost: not open, but still connected, so Reconnect (the start of
// every exchange) or OpenPort opens it again with the settings of its first open. A device that
// is there but silent is never taken for a lost one.
//
// Windows opens \\.\COM<port> with overlapped I/O; Linux opens the device that PortDevice names.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "serial/byte_stream.h"

namespace vesklink {

// What the last OpenPort found out, for the log: the device it tried (empty when the port number
// names none), why opening it failed (empty after success), and what was wrong in the files that
// name the ports (Linux: each malformed line of a ports.conf that was read).
struct PortOpenNotes {
    uint32_t port = 0;
    std::string device;
    std::string failure;
    std::vector<std::string> warnings;
};

// What happened to the device of a connected port, for the log: it went away (why: the system's
// error or a hang-up), or it is back and the port was opened again.
struct PortEvent {
    enum Kind { DeviceLost, Reopened } kind = DeviceLost;
    uint32_t port = 0;
    std::string device;
    std::string why;  // DeviceLost only
};
using PortEventSink = std::function<void(const PortEvent&)>;

#ifndef _WIN32
// The Linux device of port N: the variable VESKLINK_COM<N>, else the line "COM<N> = <device>" of
// the user's ports.conf ($XDG_CONFIG_HOME/vesklink/, else ~/.config/vesklink/), else of the
// system's (systemFile), else /dev/ttyS<N-1>; empty for port 0 without a mapping. Lines are
// "COM3 = /dev/ttyACM0", '#' starts a comment. A malformed line is skipped and described in
// warnings; only the files actually consulted are read.
std::string PortDevice(uint32_t port, std::vector<std::string>& warnings,
                       const std::string& systemFile = "/etc/vesklink/ports.conf");
#endif

class SerialPort final : public ByteStream {
public:
    SerialPort() noexcept;
    ~SerialPort() override;  // closes the port
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // True if the port is open afterwards. An open port stays as it is, and a lost one is opened
    // again with the port and speed of its first open: a changed port number or speed takes
    // effect only after ClosePort. A speed the line cannot run at fails the open.
    bool OpenPort(uint32_t port, uint32_t speed);
    void ClosePort();  // a lost port is forgotten too; nothing is reported
    // The device went away under the open port and the port has not been opened again yet.
    bool IsLost() const { return lost_; }
    // The number of the port while it is open or lost; 0 otherwise.
    uint32_t ConnectedPort() const { return IsOpen() || lost_ ? openedPort_ : 0; }
    // Whether the device of an open port is still there, without waiting: a device gone since the
    // last call makes the port lost. False on a port that is not open.
    bool CheckDevice();
    // Who hears that the device went away and that its port was opened again (the log). Events
    // come from inside Reconnect, CheckDevice and the stream's I/O, never from ClosePort.
    void SetEventSink(PortEventSink sink) { events_ = std::move(sink); }

    // The stream, as a COM port: every call that finds the device gone leaves the port lost, and
    // Reconnect opens an open port whose device is gone, or a port lost earlier, again, once.
    // PollInput clears pending line errors on the way.
    bool Reconnect() override;
    bool IsOpen() const override;
    int32_t PollInput() override;
    int32_t ReadBytes(uint8_t* buffer, int32_t maximum) override;
    int32_t WriteBytes(const uint8_t* data, int32_t count) override;
    bool WaitForInput(int milliseconds) override;
    // Where every wake-up costs a round trip through the system (Windows), a wait gathers up to
    // this many bytes before it returns; Linux wakes on the first byte whatever this says.
    void ExpectBytes(int32_t count) override { expected_ = count > 1 ? count : 1; }

    // The notes of the last OpenPort that tried to open the port (one on an open port does not).
    const PortOpenNotes& OpenNotes() const { return notes_; }

private:
    // The platform's part: open the device of a port as OpenPort describes (filling notes_),
    // and close it.
    bool OpenDevice(uint32_t port, uint32_t speed);
    void CloseDevice();
    // Called by the platform's part once the handle is no longer in use in the current call:
    // closes the port whose device has gone, marks it lost and reports it.
    void Lose(const std::string& why);
    void Report(PortEvent::Kind kind, const std::string& why) noexcept;

    struct State;  // the platform's handles, created by the first OpenPort
    std::unique_ptr<State> state_;
    PortOpenNotes notes_;
    // The settings of the first open, kept for opening a lost port again.
    uint32_t openedPort_ = 0;
    uint32_t openedSpeed_ = 0;
    bool lost_ = false;
    int32_t expected_ = 1;
    PortEventSink events_;
};

}  // namespace vesklink
