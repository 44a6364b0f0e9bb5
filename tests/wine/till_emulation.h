// A Windows till under Wine: redirects a loaded module's KERNEL32 imports so that its timing is
// the one of a till on Windows with its register on a USB virtual COM port, and counts what the
// module asks of the port.
//
// - Timer tick: Sleep, SleepEx and a WaitForSingleObject(Ex) that times out end on the next
//   boundary of a 15.625 ms system timer (a wait on an object that is signalled still returns at
//   once). Wine alone ends them within about a millisecond.
// - USB bus frame: every WriteFile takes 1 ms more before its bytes go out.
// Both are off until switched on; the counts run always.
#pragma once

#include <cstdint>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace vesklink::testing {

constexpr double TimerTickMs = 15.625;
constexpr double UsbFrameMs = 1.0;

struct TillCounts {
    long writeCalls = 0;        // WriteFile calls
    long readCalls = 0;         // ReadFile calls
    uint64_t bytesRead = 0;     // bytes ReadFile delivered, at once or on completion
    long pending = 0;           // overlapped operations started and not yet completed
    long cancels = 0;           // CancelIoEx calls
    double slowestCancelMs = 0; // longest time from a CancelIoEx to its operation's completion
    long waitsRunOut = 0;       // sleeps, and waits that ran to their time-out: what a tick ends
    long emptyReads = 0;        // ReadFile calls that completed at once with no byte
    long emptyCompletions = 0;  // pending reads that completed with no byte
};

// Patches the module's imports; true when WriteFile, ReadFile and GetOverlappedResult were among
// them (every count needs those). Patching a module twice changes nothing.
bool RedirectImports(HMODULE module);
void SetTimerTick(bool on);
void SetUsbFrame(bool on);
// A cancellation that comes too late: CancelIoEx first lets the operation complete (up to 2 s),
// as when a byte lands while a read is being cancelled.
void SetLateCancel(bool on);
// A port driver that ignores the read time-outs, so that only the wait's own limit ends a read.
void SetDeafDriver(bool on);
TillCounts Counts();
void ResetCounts();
// Returns just after a tick boundary, so that a wait started now has a whole tick before the
// next one.
void WaitForTickStart();

}  // namespace vesklink::testing
