// The line the register serves: a new pseudo-terminal or a given terminal device, raw 8N1 without
// flow control, read and written by a background thread. The thread assembles request frames,
// waits for each as a paced line would deliver it, hands it to the register and sends the reply
// byte by byte at the line's speed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vesklink::sim {

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

class Line {
public:
    Line() = default;
    ~Line() { Stop(); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Opens a new pseudo-terminal and serves it; returns the slave's path. Throws
    // std::runtime_error on failure.
    std::string ServePty(LinePeer peer);
    // Serves an existing terminal device at this speed (0 keeps its speed).
    void ServeTty(const std::string& path, unsigned baud, LinePeer peer);
    // Stops the thread and closes the line. Safe to call twice.
    void Stop();
    bool Running() const { return thread_.joinable(); }
    const std::string& Path() const { return path_; }

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
