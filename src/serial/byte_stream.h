// The byte stream the frame exchange runs over: what the exchange asks of the line to the
// register. SerialPort is the stream the driver runs on; the exchange's tests use one in memory.
#pragma once

#include <cstdint>

namespace vesklink {

class ByteStream {
public:
    virtual ~ByteStream() = default;

    // Ready for a request: true when the stream is open afterwards. A stream whose device went
    // away is opened again here, once; a closed one stays closed.
    virtual bool Reconnect() = 0;
    // False once the stream is closed or its device went away: nothing more can come.
    virtual bool IsOpen() const = 0;
    // The number of received bytes not yet read. A poll that finds the device gone closes the
    // stream and answers 0.
    virtual int32_t PollInput() = 0;
    // Reads at most `maximum` of the bytes already received, without waiting for more; returns
    // the number of bytes delivered into `buffer`.
    virtual int32_t ReadBytes(uint8_t* buffer, int32_t maximum) = 0;
    // Writes the bytes with a bounded wait; returns how many actually went out.
    virtual int32_t WriteBytes(const uint8_t* data, int32_t count) = 0;
    // Waits up to `milliseconds` for input; returns at once when bytes are waiting. True when
    // input is waiting afterwards.
    virtual bool WaitForInput(int milliseconds) = 0;
    // How many bytes the reply under way still owes (at least one), for a stream whose waits can
    // gather several bytes before they return.
    virtual void ExpectBytes(int32_t count) = 0;
};

}  // namespace vesklink
