// A scripted cash register on the far end of a real pseudo-terminal: the driver opens the pty's
// device through VESKLINK_COM<N>, and a thread answers each request frame it reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vesklink::testing {

using Bytes = std::vector<uint8_t>;

class PtyPeer {
public:
    // Returns the bytes to send back for one request frame (empty: stay silent).
    using Responder = std::function<Bytes(const Bytes& request)>;

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Ok() const { return master_ >= 0; }
    const std::string& DevicePath() const { return path_; }
    // Sets VESKLINK_COM<port> to the pty's device.
    void MapPort(uint32_t port) const;
    // The speed the driver set the line to (a termios speed code such as B57600).
    unsigned LineSpeed() const;

    // Starts the answering thread.
    void Start(Responder responder);
    void Stop();

    // Every complete request frame received so far.
    std::vector<Bytes> Requests();

    // Direct use of the line without the thread.
    void Send(const Bytes& bytes) const;
    // Reads until `count` bytes came or `timeoutMs` passed.
    Bytes Receive(size_t count, int timeoutMs) const;

private:
    void Run();

    int master_ = -1;
    std::string path_;
    Responder responder_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Bytes> requests_;
};

}  // namespace vesklink::testing
