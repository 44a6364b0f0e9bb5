// The COM port the cash register hangs on: opened exclusively, configured as a raw 8N1 line
// without flow control, and driven synchronously by the frame exchange. Every operation on a
// closed port does nothing and reports 0 (or true for ClosePort).
//
// Windows opens \\.\COM<port> with overlapped I/O; Linux opens the device named by the variable
// VESKLINK_COM<port>, else /dev/ttyS<port-1>.
#pragma once

#include <cstdint>
#include <memory>

namespace vesklink {

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

private:
    struct State;  // the platform's handles, created by the first OpenPort
    std::unique_ptr<State> state_;
};

}  // namespace vesklink
