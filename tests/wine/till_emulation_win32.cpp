#include "till_emulation.h"

#include <cstring>

namespace vesklink::testing {

namespace {

// The system's own functions, taken from the first import table patched.
decltype(&::Sleep) RealSleep = nullptr;
decltype(&::SleepEx) RealSleepEx = nullptr;
decltype(&::WaitForSingleObject) RealWait = nullptr;
decltype(&::WaitForSingleObjectEx) RealWaitEx = nullptr;
decltype(&::WriteFile) RealWriteFile = nullptr;
decltype(&::ReadFile) RealReadFile = nullptr;
decltype(&::GetOverlappedResult) RealGetOverlappedResult = nullptr;
decltype(&::CancelIoEx) RealCancelIoEx = nullptr;
decltype(&::SetCommTimeouts) RealSetCommTimeouts = nullptr;

bool timerTick = false;
bool usbFrame = false;
bool lateCancel = false;
bool deafDriver = false;
TillCounts counts;

// Overlapped operations the module started and has not yet collected.
struct Outstanding {
    const OVERLAPPED* overlapped = nullptr;
    bool isRead = false;
    LONGLONG cancelledAt = -1;
};
Outstanding outstanding[8];

LONGLONG Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

LONGLONG Frequency() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return frequency;
}

LONGLONG FromMs(double ms) { return static_cast<LONGLONG>(ms * static_cast<double>(Frequency()) / 1000.0); }
double ToMs(LONGLONG ticks) { return static_cast<double>(ticks) * 1000.0 / static_cast<double>(Frequency()); }

// Whole milliseconds until `until`, rounded up.
DWORD MsUntil(LONGLONG until) {
    const LONGLONG left = until - Ticks();
    return left <= 0 ? 0 : static_cast<DWORD>((left * 1000 + Frequency() - 1) / Frequency());
}

// The first timer boundary at or after `at`; the timer started with the first patch.
const LONGLONG timerEpoch = Ticks();
LONGLONG NextBoundary(LONGLONG at) {
    const double tick = static_cast<double>(FromMs(TimerTickMs));
    const double n = static_cast<double>(at - timerEpoch) / tick;
    auto whole = static_cast<LONGLONG>(n);
    if (static_cast<double>(whole) < n) ++whole;
    return timerEpoch + static_cast<LONGLONG>(static_cast<double>(whole) * tick);
}

Outstanding* Find(const OVERLAPPED* overlapped) {
    for (Outstanding& o : outstanding)
        if (o.overlapped == overlapped) return &o;
    return nullptr;
}

void Started(const OVERLAPPED* overlapped, bool isRead) {
    Outstanding* slot = Find(overlapped);
    if (!slot) slot = Find(nullptr);
    if (!slot) return;  // more than the module ever has: nothing to track
    if (!slot->overlapped) ++counts.pending;
    *slot = Outstanding{overlapped, isRead, -1};
}

// A wait with a time-out ends on the next boundary after it, or when the object is signalled.
template <typename Wait>
DWORD TickWait(DWORD milliseconds, Wait wait) {
    if (!timerTick || milliseconds == 0 || milliseconds == INFINITE) return wait(milliseconds);
    const LONGLONG until = NextBoundary(Ticks() + FromMs(milliseconds));
    for (;;) {
        const DWORD result = wait(MsUntil(until));
        if (result != WAIT_TIMEOUT || Ticks() >= until) return result;
    }
}

void WINAPI TillSleep(DWORD milliseconds) {
    if (milliseconds) ++counts.waitsRunOut;
    TickWait(milliseconds, [](DWORD ms) {
        RealSleep(ms);
        return static_cast<DWORD>(WAIT_TIMEOUT);
    });
}

DWORD WINAPI TillSleepEx(DWORD milliseconds, BOOL alertable) {
    const DWORD result = TickWait(milliseconds, [alertable](DWORD ms) {
        return RealSleepEx(ms, alertable) == WAIT_IO_COMPLETION ? static_cast<DWORD>(WAIT_IO_COMPLETION)
                                                                : static_cast<DWORD>(WAIT_TIMEOUT);
    });
    if (milliseconds && result != WAIT_IO_COMPLETION) ++counts.waitsRunOut;
    return result == WAIT_IO_COMPLETION ? result : 0;
}

DWORD CountRunOut(DWORD milliseconds, DWORD result) {
    if (result == WAIT_TIMEOUT && milliseconds != 0 && milliseconds != INFINITE) ++counts.waitsRunOut;
    return result;
}

DWORD WINAPI TillWait(HANDLE handle, DWORD milliseconds) {
    return CountRunOut(milliseconds, TickWait(milliseconds, [handle](DWORD ms) { return RealWait(handle, ms); }));
}

DWORD WINAPI TillWaitEx(HANDLE handle, DWORD milliseconds, BOOL alertable) {
    return CountRunOut(milliseconds, TickWait(milliseconds, [handle, alertable](DWORD ms) {
        return RealWaitEx(handle, ms, alertable);
    }));
}

BOOL WINAPI TillWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    ++counts.writeCalls;
    if (usbFrame) {
        // Slept rather than spun: on a busy machine a thread that spins loses the processor.
        const LONGLONG until = Ticks() + FromMs(UsbFrameMs);
        while (Ticks() < until) RealSleep(MsUntil(until));
    }
    const BOOL done = RealWriteFile(file, data, size, written, overlapped);
    const DWORD error = GetLastError();
    if (!done && error == ERROR_IO_PENDING && overlapped) Started(overlapped, false);
    SetLastError(error);
    return done;
}

BOOL WINAPI TillReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
    ++counts.readCalls;
    const BOOL done = RealReadFile(file, buffer, size, got, overlapped);
    const DWORD error = GetLastError();
    if (done && got) counts.bytesRead += *got;
    if (done && size > 0 && (!got || *got == 0)) ++counts.emptyReads;
    if (!done && error == ERROR_IO_PENDING && overlapped) Started(overlapped, true);
    SetLastError(error);
    return done;
}

BOOL WINAPI TillGetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    const BOOL done = RealGetOverlappedResult(file, overlapped, transferred, wait);
    const DWORD error = GetLastError();
    Outstanding* o = Find(overlapped);
    if (o && (done || error != ERROR_IO_INCOMPLETE)) {
        if (o->isRead) {
            const DWORD bytes = done ? *transferred : static_cast<DWORD>(overlapped->InternalHigh);
            counts.bytesRead += bytes;
            if (bytes == 0) ++counts.emptyCompletions;
        }
        if (o->cancelledAt >= 0) {
            const double ms = ToMs(Ticks() - o->cancelledAt);
            if (ms > counts.slowestCancelMs) counts.slowestCancelMs = ms;
        }
        *o = Outstanding{};
        --counts.pending;
    }
    SetLastError(error);
    return done;
}

BOOL WINAPI TillCancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    ++counts.cancels;
    if (lateCancel && overlapped && overlapped->hEvent) RealWait(overlapped->hEvent, 2000);
    if (Outstanding* o = overlapped ? Find(overlapped) : nullptr) o->cancelledAt = Ticks();
    return RealCancelIoEx(file, overlapped);
}

// A driver that ignores the read time-outs: a read that was to wait a while waits for all its
// bytes, however long they take.
BOOL WINAPI TillSetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    if (!deafDriver || !timeouts || timeouts->ReadTotalTimeoutConstant == 0) return RealSetCommTimeouts(file, timeouts);
    COMMTIMEOUTS ignored = *timeouts;
    ignored.ReadIntervalTimeout = ignored.ReadTotalTimeoutMultiplier = ignored.ReadTotalTimeoutConstant = 0;
    return RealSetCommTimeouts(file, &ignored);
}

struct Redirect {
    const char* name;
    void** real;
    void* replacement;
};

template <typename F>
Redirect Entry(const char* name, F*& real, F* replacement) {
    return {name, reinterpret_cast<void**>(&real), reinterpret_cast<void*>(replacement)};
}

}  // namespace

bool RedirectImports(HMODULE module) {
    const Redirect table[] = {
        Entry("Sleep", RealSleep, &TillSleep),
        Entry("SleepEx", RealSleepEx, &TillSleepEx),
        Entry("WaitForSingleObject", RealWait, &TillWait),
        Entry("WaitForSingleObjectEx", RealWaitEx, &TillWaitEx),
        Entry("WriteFile", RealWriteFile, &TillWriteFile),
        Entry("ReadFile", RealReadFile, &TillReadFile),
        Entry("GetOverlappedResult", RealGetOverlappedResult, &TillGetOverlappedResult),
        Entry("CancelIoEx", RealCancelIoEx, &TillCancelIoEx),
        Entry("SetCommTimeouts", RealSetCommTimeouts, &TillSetCommTimeouts),
    };
    // The replacements call the system's own functions, whatever the patched tables hold.
    const HMODULE kernel = GetModuleHandleA("KERNEL32.dll");
    for (const Redirect& r : table)
        if (!*r.real) *r.real = reinterpret_cast<void*>(GetProcAddress(kernel, r.name));

    auto* base = reinterpret_cast<uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress) return false;
    bool write = false, read = false, result = false;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        if (_stricmp(reinterpret_cast<const char*>(base + d->Name), "KERNEL32.dll") != 0) continue;
        const DWORD nameTable = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + nameTable);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char* name = reinterpret_cast<const char*>(
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
            for (const Redirect& r : table) {
                if (std::strcmp(name, r.name) != 0) continue;
                DWORD old = 0;
                if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) break;
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(r.replacement);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
                write |= r.real == reinterpret_cast<void**>(&RealWriteFile);
                read |= r.real == reinterpret_cast<void**>(&RealReadFile);
                result |= r.real == reinterpret_cast<void**>(&RealGetOverlappedResult);
            }
        }
    }
    return write && read && result;
}

void SetTimerTick(bool on) { timerTick = on; }
void SetUsbFrame(bool on) { usbFrame = on; }
void SetLateCancel(bool on) { lateCancel = on; }
void SetDeafDriver(bool on) { deafDriver = on; }

TillCounts Counts() { return counts; }

void ResetCounts() {
    const long pending = counts.pending;
    counts = TillCounts{};
    counts.pending = pending;  // operations still outstanding stay counted
}

void WaitForTickStart() {
    const LONGLONG boundary = NextBoundary(Ticks());
    while (Ticks() < boundary) {
    }
}

}  // namespace vesklink::testing
