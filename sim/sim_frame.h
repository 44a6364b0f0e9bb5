// The register's side of the line protocol: request frames in, acknowledgement and reply frames
// out. Written apart from the driver's frame code on purpose: the simulator is its independent check.
//
//   request: 01, L (2, LE), command, access code (4, LE), payload, checksum   L = 5 + payload
//   reply:   ACK, 01, L (2, LE), command, status (2, LE), 00, data, checksum   L = 4 + data
//
// The checksum covers everything after the start byte: the bytes are summed into 32 bits and the
// four bytes of the sum are XORed together.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vesklink::sim {

constexpr uint8_t kStartByte = 0x01;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint32_t kAccessCode = 482917;

uint8_t FrameChecksum(const uint8_t* data, size_t size);

// ACK followed by the reply frame.
std::vector<uint8_t> BuildReply(uint8_t command, uint16_t status, const std::vector<uint8_t>& data);

// A request frame (start byte to checksum) read.
struct Request {
    bool checksumOk = false;
    bool wellFormed = false;  // long enough for a command and an access code
    uint8_t command = 0;
    uint32_t accessCode = 0;
    std::vector<uint8_t> payload;
};

Request ParseRequest(const std::vector<uint8_t>& frame);

// Collects request frames from the byte stream. Bytes outside a frame (line noise, a late byte of
// an abandoned exchange) are dropped while it waits for the start byte. A frame whose bytes stop
// arriving is abandoned (Reset) after the inter-byte time limit, so a cut request never glues
// itself to the next one.
class FrameAssembler {
public:
    // One byte in; a complete frame out when this byte finished one.
    std::optional<std::vector<uint8_t>> Push(uint8_t byte);
    bool InFrame() const { return !buffer_.empty(); }
    void Reset() { buffer_.clear(); }

private:
    std::vector<uint8_t> buffer_;
};

// The register's answer to one request frame: the bytes to send (none for silence) and how long
// after the request's arrival they leave.
struct LineReply {
    std::vector<uint8_t> bytes;
    uint32_t delayMs = 0;
};

// What the line asks of the register; each is called from the line's thread.
struct LinePeer {
    std::function<unsigned()> baud;  // the line speed for the next request, 0 for no pacing
    std::function<LineReply(const std::vector<uint8_t>& frame)> respond;
    std::function<void()> handled;  // the request's reply has been sent (or deliberately not)
};

// The line the register serves: a new pseudo-terminal or a given terminal device, raw 8N1 without
// flow control, read and written by a background thread. The thread assembles request frames,
// waits for each as a paced line would deliver it, hands it to the register and sends the reply
// byte by byte at the line's speed.
class Line {
public:
    ~Line() { Stop(); }  // not copyable: it owns its thread

    // Opens a new pseudo-terminal and serves it; returns the slave's path. Throws
    // std::runtime_error on failure.
    std::string ServePty(LinePeer peer);
    // Serves an existing terminal device at this speed (0 keeps its speed).
    void ServeTty(const std::string& path, unsigned baud, LinePeer peer);
    // Stops the thread and closes the line. Safe to call twice.
    void Stop();
    bool Running() const { return thread_.joinable(); }

private:
    void Launch(LinePeer peer);
    void Serve();
    void Answer(const std::vector<uint8_t>& frame, std::chrono::steady_clock::time_point frameStart);
    bool Pause(std::chrono::steady_clock::time_point until);
    bool WriteAll(const uint8_t* data, size_t size);
    void Send(const std::vector<uint8_t>& bytes, unsigned baud);
    void CloseAll();

    LinePeer peer_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    int lineFd_ = -1;
    int slaveFd_ = -1;  // our own hold on a pty's slave, so the pty lives while no client has it open
    int wakeFd_[2] = {-1, -1};
    std::string path_;
};

}  // namespace vesklink::sim
