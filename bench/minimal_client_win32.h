// The floor the Windows sale benchmark sets the driver against: a receipt's request frames sent
// to the same simulated register, through the same COM port and the same till emulation, by the
// least a Win32 client can do. Whatever it takes beyond the ideal is Wine's, the
// pseudo-terminal's and the machine's, not the driver's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vesklink::testing {

// Opens \\.\COM<port> (raw 8N1 at `speed`), and for each frame writes it in one request, then
// reads its reply in two: the acknowledgement, start byte and length, then the rest the length
// counts. Every operation is overlapped and waited for until it completes, without a read
// time-out. Returns the bytes of all the replies; 0 when the port cannot be opened or a reply
// does not come whole within 2 s.
size_t MinimalClientExchanges(uint32_t port, uint32_t speed, const std::vector<std::vector<uint8_t>>& frames);

}  // namespace vesklink::testing
