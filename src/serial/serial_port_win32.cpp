// Serial port on Windows: \\.\COM<n> opened exclusively with overlapped I/O. Every overlapped
// operation is completed (or cancelled and completed) before the call returns, so no buffer or
// OVERLAPPED record is ever left in the system's hands.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // CancelIoEx, GetTickCount64
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

#include "serial/serial_port.h"
#include "util/text.h"

namespace vesklink {

struct SerialPort::State {
    HANDLE PortHandle = nullptr;
    OVERLAPPED ReadOverlapped{};
    OVERLAPPED WriteOverlapped{};
    bool IsOpen = false;
};

namespace {

constexpr DWORD QueueSize = 10000;
constexpr DWORD ReadWaitMs = 2000;
constexpr DWORD ByteWriteWaitMs = 1000;
constexpr DWORD WriteTotalTimeoutMs = 5000;

void CloseIfSet(HANDLE& handle) {
    if (handle) CloseHandle(handle);
    handle = nullptr;
}

// Waits for a pending operation; one that outlives the wait is cancelled. Either way the
// operation has completed when this returns, and the result is the number of bytes it actually
// transferred.
DWORD FinishPending(HANDLE port, OVERLAPPED& overlapped, DWORD waitMs) {
    DWORD transferred = 0;
    if (WaitForSingleObject(overlapped.hEvent, waitMs) != WAIT_OBJECT_0) CancelIoEx(port, &overlapped);
    if (!GetOverlappedResult(port, &overlapped, &transferred, TRUE)) {
        // Cancelled or failed: the record still says how much went through before that.
        transferred = static_cast<DWORD>(overlapped.InternalHigh);
    }
    return transferred;
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

}  // namespace

SerialPort::SerialPort() noexcept = default;

SerialPort::~SerialPort() { ClosePort(); }

bool SerialPort::IsOpen() const { return state_ && state_->IsOpen && state_->PortHandle; }

bool SerialPort::OpenPort(uint32_t port, uint32_t speed) {
    if (IsOpen()) return true;
    try {
        if (!state_) state_ = std::make_unique<State>();
    } catch (...) {
        return false;
    }
    State& s = *state_;
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\COM%u", static_cast<unsigned>(port));
    // Why the port could not be opened, in the system's words (in the user's language, hence
    // the wide form) followed by the error number. Called once every handle is closed again.
    auto noteFailure = [this](const char* what, DWORD error) noexcept {
        try {
            wchar_t* text = nullptr;
            const DWORD length =
                FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
            std::u16string message(text ? reinterpret_cast<const char16_t*>(text) : u"", text ? length : 0);
            if (text) LocalFree(text);
            while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n' || message.back() == u' '))
                message.pop_back();
            notes_.failure = what + Utf16ToUtf8(message) + " (error " + std::to_string(error) + ")";
        } catch (...) {
        }
    };
    notes_ = {};
    try {
        notes_.device = path;
    } catch (...) {
    }
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE || !handle) {
        noteFailure("", GetLastError());
        return false;
    }
    s.PortHandle = handle;
    s.ReadOverlapped = OVERLAPPED{};
    s.WriteOverlapped = OVERLAPPED{};

    // Reads return at once with what is already queued; a write may take up to 5 s.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = WriteTotalTimeoutMs;
    SetCommTimeouts(handle, &timeouts);

    s.ReadOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s.WriteOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    const bool configured = ConfigureLine(handle, speed) && SetupComm(handle, QueueSize, QueueSize);
    if (configured && s.ReadOverlapped.hEvent && s.WriteOverlapped.hEvent) {
        s.IsOpen = true;
        return true;
    }
    const DWORD error = GetLastError();
    CloseIfSet(s.ReadOverlapped.hEvent);
    CloseIfSet(s.WriteOverlapped.hEvent);
    CloseIfSet(s.PortHandle);
    s.IsOpen = false;
    noteFailure(configured ? "" : "the line settings were refused: ", error);
    return false;
}

bool SerialPort::ClosePort() {
    if (!IsOpen()) return true;
    State& s = *state_;
    CloseIfSet(s.ReadOverlapped.hEvent);
    CloseIfSet(s.WriteOverlapped.hEvent);
    CloseIfSet(s.PortHandle);
    s.IsOpen = false;
    return true;
}

int32_t SerialPort::QueuedBytes() {
    if (!IsOpen()) return 0;
    DWORD errors = 0;
    COMSTAT status{};
    // Also clears pending line errors (framing, overrun), which would otherwise stop the I/O.
    if (!ClearCommError(state_->PortHandle, &errors, &status)) return 0;
    return status.cbInQue > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(status.cbInQue);
}

int32_t SerialPort::ReadBytes(uint8_t* buffer, int32_t maximum) {
    if (!IsOpen() || !buffer || maximum <= 0) return 0;
    const int32_t queued = QueuedBytes();
    if (queued <= 0) return 0;
    State& s = *state_;
    const DWORD wanted = static_cast<DWORD>(queued < maximum ? queued : maximum);
    DWORD got = 0;
    if (ReadFile(s.PortHandle, buffer, wanted, &got, &s.ReadOverlapped)) return static_cast<int32_t>(got);
    if (GetLastError() != ERROR_IO_PENDING) return 0;
    return static_cast<int32_t>(FinishPending(s.PortHandle, s.ReadOverlapped, ReadWaitMs));
}

int32_t SerialPort::WriteBytes(const uint8_t* data, int32_t count) {
    if (!IsOpen() || !data || count <= 0) return 0;
    State& s = *state_;
    int32_t written = 0;
    // One byte per call, each with its own bounded wait. A byte that cannot go out ends the
    // write: the rest of the frame would be useless to the device.
    for (int32_t i = 0; i < count; ++i) {
        DWORD put = 0;
        if (!WriteFile(s.PortHandle, data + i, 1, &put, &s.WriteOverlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) break;
            put = FinishPending(s.PortHandle, s.WriteOverlapped, ByteWriteWaitMs);
            s.WriteOverlapped.Offset += put;
        }
        if (put != 1) break;
        ++written;
    }
    return written;
}

bool SerialPort::WaitForInput(int milliseconds) {
    if (!IsOpen()) return false;
    if (QueuedBytes() > 0) return true;
    if (milliseconds <= 0) return false;
    // Polls the input queue every millisecond. A pending receive-event wait would have to be
    // cancelled on every poll that times out, and not every serial driver completes such a
    // cancellation promptly; a short poll keeps the wait bounded on all of them.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
    while (GetTickCount64() < deadline) {
        Sleep(1);
        if (QueuedBytes() > 0) return true;
    }
    return false;
}

}  // namespace vesklink
