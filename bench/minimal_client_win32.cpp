#include "minimal_client_win32.h"

#include <cstdio>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace vesklink::testing {

namespace {

constexpr DWORD ReplyWaitMs = 2000;

struct Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    ~Port() {
        if (overlapped.hEvent) CloseHandle(overlapped.hEvent);
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }

    bool Open(uint32_t port, uint32_t speed) {
        char path[32];
        std::snprintf(path, sizeof path, "\\\\.\\COM%u", static_cast<unsigned>(port));
        handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                             nullptr);
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (handle == INVALID_HANDLE_VALUE || !overlapped.hEvent || !GetCommState(handle, &dcb)) return false;
        dcb.BaudRate = speed;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = dcb.fOutX = dcb.fInX = dcb.fNull = dcb.fErrorChar = dcb.fAbortOnError = FALSE;
        COMMTIMEOUTS timeouts{};  // reads wait for all their bytes
        return SetCommState(handle, &dcb) && SetCommTimeouts(handle, &timeouts);
    }

    // A write or a read of exactly `size` bytes; false when it did not complete whole in time.
    bool Transfer(bool write, uint8_t* buffer, DWORD size) {
        DWORD done = 0;
        const BOOL atOnce = write ? WriteFile(handle, buffer, size, &done, &overlapped)
                                   : ReadFile(handle, buffer, size, &done, &overlapped);
        if (!atOnce && GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(overlapped.hEvent, ReplyWaitMs) != WAIT_OBJECT_0) CancelIoEx(handle, &overlapped);
            if (!GetOverlappedResult(handle, &overlapped, &done, TRUE)) return false;
        }
        return done == size;
    }
};

}  // namespace

size_t MinimalClientExchanges(uint32_t port, uint32_t speed, const std::vector<std::vector<uint8_t>>& frames) {
    Port p;
    if (!p.Open(port, speed)) return 0;
    size_t replyBytes = 0;
    for (std::vector<uint8_t> frame : frames) {
        uint8_t head[4];
        if (!p.Transfer(true, frame.data(), static_cast<DWORD>(frame.size())) || !p.Transfer(false, head, 4)) return 0;
        std::vector<uint8_t> rest(static_cast<size_t>(head[2] | head[3] << 8) + 1);
        if (!p.Transfer(false, rest.data(), static_cast<DWORD>(rest.size()))) return 0;
        replyBytes += sizeof head + rest.size();
    }
    return replyBytes;
}

}  // namespace vesklink::testing
