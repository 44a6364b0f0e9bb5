// The COM port the cash register hangs on: opened exclusively, configured as a raw 8N1 line
// without flow control, and driven synchronously by the frame exchange. Every operation on a
// closed port does nothing and reports 0 (or true for ClosePort).
//
// Windows opens \\.\COM<port> with overlapped I/O; Linux opens the device that PortDevice names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesklink {

// What the last OpenPort found out, for the log: the device it tried (empty when the port number
// names none), why opening it failed (empty after success), and what was wrong in the files that
// name the ports (Linux: each malformed line of a ports.conf that was read).
struct PortOpenNotes {
    std::string device;
    std::string failure;
    std::vector<std::string> warnings;
};

#ifndef _WIN32
// The Linux device of port N: the variable VESKLINK_COM<N>, else the line "COM<N> = <device>" of
// the user's ports.conf ($XDG_CONFIG_HOME/vesklink/, else ~/.config/vesklink/), else of the
// system's (systemFile), else /dev/ttyS<N-1>; empty for port 0 without a mapping. Lines are
// "COM3 = /dev/ttyACM0", '#' starts a comment. A malformed line is skipped and described in
// warnings; only the files actually consulted are read.
std::string PortDevice(uint32_t port, std::vector<std::string>& warnings,
                       const std::string& systemFile = "/etc/vesklink/ports.conf");
#endif

class SerialPort {
public:
    SerialPort() noexcept;
    ~SerialPort();  // closes the port
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // True if the port is open afterwards. An open port stays as it is: a changed port number or
    // speed takes effect only after ClosePort. A speed the line cannot run at fails the open.
    bool OpenPort(uint32_t port, uint32_t speed);
    bool ClosePort();  // always true
    bool IsOpen() const;

    // Received bytes not yet read; pending line errors are cleared on the way.
    int32_t QueuedBytes();
    // Reads at most `maximum` of the bytes already queued, without waiting for more; returns the
    // number of bytes delivered into `buffer`.
    int32_t ReadBytes(uint8_t* buffer, int32_t maximum);
    // Writes the bytes with a bounded wait; returns how many actually went out.
    int32_t WriteBytes(const uint8_t* data, int32_t count);
    // Waits up to `milliseconds` for input to be queued; returns at once when bytes are waiting.
    // True when input is waiting afterwards.
    bool WaitForInput(int milliseconds);

    // The notes of the last OpenPort that tried to open the port (one on an open port does not).
    const PortOpenNotes& OpenNotes() const { return notes_; }

private:
    struct State;  // the platform's handles, created by the first OpenPort
    std::unique_ptr<State> state_;
    PortOpenNotes notes_;
};

}  // namespace vesklink
