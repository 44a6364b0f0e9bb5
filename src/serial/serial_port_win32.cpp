// Serial port on Windows: \\.\COM<n> opened exclusively with overlapped I/O. Every overlapped
// operation is completed (or cancelled and completed) before the call returns, so no buffer or
// OVERLAPPED record is ever left in the system's hands.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // CancelIoEx
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "serial/serial_port.h"
#include "util/text.h"

namespace vesklink {

namespace {

constexpr DWORD ReadAheadSize = 512;

struct PortState {
    HANDLE PortHandle = nullptr;
    OVERLAPPED ReadOverlapped{};
    OVERLAPPED WriteOverlapped{};
    bool IsOpen = false;
    // Bytes taken off the line and not yet delivered, in arrival order, ahead of anything still
    // in the driver's queue: the byte an input wait received, or the rest of a queue that was
    // read whole while the caller asked for less (it comes back for them one by one, and every
    // read is a round trip through the system).
    uint8_t Ahead[ReadAheadSize];
    DWORD AheadFirst = 0;
    DWORD AheadCount = 0;
    // The read time-outs in force: 0 while reads return at once with what is queued (as the port
    // is opened), else the limit of the last input wait.
    DWORD ReadWaitLimitMs = 0;
    // The first failure of a read, a write, a queue query or a wait on one of them that says the
    // device is gone (ERROR_SUCCESS: none). The call that met it closes the port as it returns.
    DWORD GoneError = ERROR_SUCCESS;
};

constexpr DWORD QueueSize = 10000;
constexpr DWORD ReadWaitMs = 2000;
constexpr DWORD WriteTotalTimeoutMs = 5000;
// How much longer an input wait waits on its read than the read's own time-out. A driver that
// honours the time-out completes the read when it runs out (Windows at the next tick of its
// timer, up to 15.625 ms later; Wine within a millisecond), and that completion, not the end of
// the wait, has to end an input wait: a wait that runs out ends on a timer tick even when the
// reply is already arriving. Only a read that outlives its time-out (a driver that ignores it,
// or Wine, which drops the time-out of a read that fires while the read takes in its first
// bytes) is cancelled when the wait runs out.
constexpr DWORD ReadCompletionSlackMs = 16;

// Closes the port's handles and leaves the state as a fresh port's: nothing taken off the line,
// reads returning at once, no failure recorded.
void Release(PortState& s) {
    for (HANDLE handle : {s.ReadOverlapped.hEvent, s.WriteOverlapped.hEvent, s.PortHandle})
        if (handle) CloseHandle(handle);
    s = PortState{};
}

// Errors that say the device behind the handle is gone rather than that one request failed. A USB
// serial device that is unplugged or switched off fails the requests on its open handle with
// ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE, ERROR_DEVICE_REMOVED,
// ERROR_DEV_NOT_EXIST or ERROR_DEVICE_NOT_CONNECTED (which one depends on its driver), and
// aborts the request pending at that moment with ERROR_OPERATION_ABORTED; ERROR_INVALID_HANDLE
// and ERROR_FILE_NOT_FOUND mean the handle or the device no longer exists. Under Wine, a COM
// port whose pseudo-terminal closed fails with ERROR_NOT_READY, and its reads complete with
// ERROR_BROKEN_PIPE. A device that is there but silent fails nothing: its waits run out.
bool DeviceGone(DWORD error) {
    for (DWORD gone : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_NOT_READY,
                       ERROR_BAD_COMMAND, ERROR_GEN_FAILURE, ERROR_DEV_NOT_EXIST, ERROR_BROKEN_PIPE,
                       ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED})
        if (error == gone) return true;
    return false;
}

std::string GoneText(const PortState& s) { return "error " + std::to_string(s.GoneError); }

void RecordIoError(PortState& s, DWORD error) {
    if (s.GoneError == ERROR_SUCCESS && DeviceGone(error)) s.GoneError = error;
}

// Waits for a pending operation; one that outlives the wait is cancelled. Either way the
// operation has completed when this returns (GetOverlappedResult waits for the completion that
// the cancellation brings), and the result is the number of bytes it actually transferred.
DWORD FinishPending(PortState& s, OVERLAPPED& overlapped, DWORD waitMs) {
    const DWORD waited = WaitForSingleObject(overlapped.hEvent, waitMs);
    if (waited == WAIT_FAILED) RecordIoError(s, GetLastError());
    const bool cancelled = waited != WAIT_OBJECT_0;
    if (cancelled) CancelIoEx(s.PortHandle, &overlapped);
    DWORD transferred = 0;
    if (!GetOverlappedResult(s.PortHandle, &overlapped, &transferred, TRUE)) {
        const DWORD error = GetLastError();
        // The abort that our own cancellation brings ends a wait on a silent line; an abort we
        // did not ask for is the system's, when the device goes away.
        if (!(cancelled && error == ERROR_OPERATION_ABORTED)) RecordIoError(s, error);
        // Cancelled or failed: the record still says how much went through before that.
        transferred = static_cast<DWORD>(overlapped.InternalHigh);
    }
    return transferred;
}

// Starts an overlapped read or write and sees it to its end within waitMs (plus the time a
// cancellation takes to complete). Returns the bytes transferred; `waited` tells whether the
// operation had to be waited for.
template <typename Start>
DWORD Transfer(PortState& s, OVERLAPPED& overlapped, DWORD waitMs, Start start, bool* waited = nullptr) {
    DWORD transferred = 0;
    if (start(&transferred)) return transferred;
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        RecordIoError(s, error);
        return 0;
    }
    if (waited) *waited = true;
    return FinishPending(s, overlapped, waitMs);
}

// Bytes in the driver's input queue; pending line errors (framing, overrun), which would
// otherwise stop the I/O, are cleared on the way.
int32_t DriverQueue(PortState& s) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(s.PortHandle, &errors, &status)) {
        RecordIoError(s, GetLastError());
        return 0;
    }
    constexpr DWORD most = 0x7FFFFFFF - ReadAheadSize;  // leaves room for the bytes read ahead
    return status.cbInQue > most ? static_cast<int32_t>(most) : static_cast<int32_t>(status.cbInQue);
}

// Moves up to `maximum` bytes read ahead into the buffer.
int32_t TakeAhead(PortState& s, uint8_t* buffer, int32_t maximum) {
    const DWORD n = s.AheadCount < static_cast<DWORD>(maximum) ? s.AheadCount : static_cast<DWORD>(maximum);
    std::memcpy(buffer, s.Ahead + s.AheadFirst, n);
    s.AheadFirst = n == s.AheadCount ? 0 : s.AheadFirst + n;
    s.AheadCount -= n;
    return static_cast<int32_t>(n);
}

// Read time-outs: limitMs 0 makes a read return at once with what is queued; otherwise a read
// returns when all the bytes it asks for have arrived, or with those that came after limitMs.
// A write may take up to 5 s.
bool ApplyTimeouts(HANDLE port, DWORD limitMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = limitMs ? 0 : MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = limitMs;
    timeouts.WriteTotalTimeoutConstant = WriteTotalTimeoutMs;
    return SetCommTimeouts(port, &timeouts) != FALSE;
}

bool SetReadWaitLimit(PortState& s, DWORD limitMs) {
    if (s.ReadWaitLimitMs == limitMs) return true;
    if (!ApplyTimeouts(s.PortHandle, limitMs)) {
        RecordIoError(s, GetLastError());
        return false;
    }
    s.ReadWaitLimitMs = limitMs;
    return true;
}

// Reads bytes already queued. Windows completes such a read at once under either set of read
// time-outs; Wine only when reads are set to return at once (otherwise it goes through its
// server as a pending wait, a costly round trip for bytes that are already there).
DWORD ReadQueued(PortState& s, uint8_t* into, DWORD wanted) {
    SetReadWaitLimit(s, 0);
    const DWORD got = Transfer(s, s.ReadOverlapped, ReadWaitMs, [&](DWORD* done) {
        return ReadFile(s.PortHandle, into, wanted, done, &s.ReadOverlapped) != FALSE;
    });
    return got < wanted ? got : wanted;
}

// Line settings of the device: the given speed, 8 data bits, no parity, one stop bit, binary,
// and no software flow control, so every byte value (0x11 and 0x13 included) passes unchanged.
bool ConfigureLine(HANDLE port, uint32_t speed) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(port, &dcb)) return false;
    dcb.BaudRate = speed;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fNull = FALSE;       // zero bytes are data (every status word has them)
    dcb.fErrorChar = FALSE;  // a byte with a parity error is not replaced
    return SetCommState(port, &dcb) != FALSE;
}

// Why the port could not be opened, in the system's words (in the user's language, hence the
// wide form) followed by the error number.
std::string SystemFailure(const char* what, DWORD error) noexcept {
    try {
        wchar_t* text = nullptr;
        const DWORD length =
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        std::u16string message(text ? reinterpret_cast<const char16_t*>(text) : u"", text ? length : 0);
        if (text) LocalFree(text);
        while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n' || message.back() == u' '))
            message.pop_back();
        return what + Utf16ToUtf8(message) + " (error " + std::to_string(error) + ")";
    } catch (...) {
        return {};
    }
}

}  // namespace

struct SerialPort::State : PortState {};

SerialPort::SerialPort() noexcept = default;

SerialPort::~SerialPort() { ClosePort(); }

bool SerialPort::IsOpen() const { return state_ && state_->IsOpen && state_->PortHandle; }

bool SerialPort::OpenDevice(uint32_t port, uint32_t speed) {
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\COM%u", static_cast<unsigned>(port));
    try {
        if (!state_) state_ = std::make_unique<State>();
        notes_ = {};
        notes_.port = port;
        notes_.device = path;
    } catch (...) {
        return false;
    }
    State& s = *state_;
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE || !handle) {
        notes_.failure = SystemFailure("", GetLastError());
        return false;
    }
    // The state is a fresh port's (Release leaves it so): reads return at once with what is queued.
    s.PortHandle = handle;
    ApplyTimeouts(handle, 0);
    s.ReadOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s.WriteOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    const bool configured = ConfigureLine(handle, speed) && SetupComm(handle, QueueSize, QueueSize);
    if (configured && s.ReadOverlapped.hEvent && s.WriteOverlapped.hEvent) {
        s.IsOpen = true;
        return true;
    }
    const DWORD error = GetLastError();
    Release(s);
    notes_.failure = SystemFailure(configured ? "" : "the line settings were refused: ", error);
    return false;
}

void SerialPort::CloseDevice() {
    if (IsOpen()) Release(*state_);
}

// Every call below that uses the handle ends by closing the port when a failure it met said the
// device is gone: by then the handle is no longer in use.

bool SerialPort::CheckDevice() {
    if (!IsOpen()) return false;
    State& s = *state_;
    DriverQueue(s);
    if (s.GoneError) Lose(GoneText(s));
    return IsOpen();
}

int32_t SerialPort::PollInput() {
    if (!IsOpen()) return 0;
    State& s = *state_;
    const int32_t queued = DriverQueue(s) + static_cast<int32_t>(s.AheadCount);
    if (!s.GoneError) return queued;
    Lose(GoneText(s));
    return 0;
}

int32_t SerialPort::ReadBytes(uint8_t* buffer, int32_t maximum) {
    if (!IsOpen() || !buffer || maximum <= 0) return 0;
    State& s = *state_;
    int32_t delivered = TakeAhead(s, buffer, maximum);
    const int32_t queued = delivered < maximum ? DriverQueue(s) : 0;
    const int32_t wanted = maximum - delivered;
    if (queued > 0 && queued <= wanted) {
        delivered += static_cast<int32_t>(ReadQueued(s, buffer + delivered, static_cast<DWORD>(queued)));
    } else if (queued > 0) {
        // More is queued than asked for: one read takes it (up to the read-ahead's size), the
        // rest waits here for the next call. Nothing is read ahead at this point.
        const DWORD ahead = static_cast<DWORD>(queued) < ReadAheadSize ? static_cast<DWORD>(queued) : ReadAheadSize;
        s.AheadFirst = 0;
        s.AheadCount = ReadQueued(s, s.Ahead, ahead);
        delivered += TakeAhead(s, buffer + delivered, wanted);
    }
    if (s.GoneError) Lose(GoneText(s));
    return delivered;
}

int32_t SerialPort::WriteBytes(const uint8_t* data, int32_t count) {
    if (!IsOpen() || !data || count <= 0) return 0;
    State& s = *state_;
    // The whole frame in one request: a USB port completes every request after a bus frame,
    // whatever its size. A write that has not finished within the write time-out is cancelled.
    const DWORD wanted = static_cast<DWORD>(count);
    const DWORD put = Transfer(s, s.WriteOverlapped, WriteTotalTimeoutMs, [&](DWORD* done) {
        return WriteFile(s.PortHandle, data, wanted, done, &s.WriteOverlapped) != FALSE;
    });
    s.WriteOverlapped.Offset += put;
    if (s.GoneError) Lose(GoneText(s));
    return static_cast<int32_t>(put < wanted ? put : wanted);
}

bool SerialPort::WaitForInput(int milliseconds) {
    if (!IsOpen()) return false;
    if (PollInput() > 0) return true;
    if (milliseconds <= 0 || !IsOpen()) return false;
    State& s = *state_;
    const DWORD limit = static_cast<DWORD>(milliseconds);
    // A read of the bytes the reply still owes (one when that is unknown), which the driver
    // completes when the last of them has arrived or when its time-out, the wait's interval,
    // runs out: one wake-up per part of a reply rather than one per byte. The wait on it is
    // bounded here as well, a little beyond the driver's time-out (not every driver honours
    // it): a read still pending then is cancelled and completed, and the bytes that landed
    // meanwhile are kept for the next ReadBytes.
    const DWORD wanted = static_cast<DWORD>(expected_) < ReadAheadSize ? static_cast<DWORD>(expected_) : ReadAheadSize;
    bool waited = false;
    DWORD got = 0;
    // Nothing is read ahead here (PollInput found nothing), so the bytes go to the front.
    if (SetReadWaitLimit(s, limit))
        got = Transfer(s, s.ReadOverlapped, limit + ReadCompletionSlackMs, [&](DWORD* done) {
            return ReadFile(s.PortHandle, s.Ahead, wanted, done, &s.ReadOverlapped) != FALSE;
        }, &waited);
    if (got > 0) {
        s.AheadFirst = 0;
        s.AheadCount = got < wanted ? got : wanted;
        return true;
    }
    if (!waited && !s.GoneError) {
        // The port cannot wait for input: pause for the interval rather than let the caller spin.
        ResetEvent(s.ReadOverlapped.hEvent);
        WaitForSingleObject(s.ReadOverlapped.hEvent, limit);
    }
    const bool waiting = !s.GoneError && DriverQueue(s) > 0;
    if (s.GoneError) Lose(GoneText(s));
    return waiting;
}

}  // namespace vesklink
