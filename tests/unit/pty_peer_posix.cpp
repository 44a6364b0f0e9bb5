#include "pty_peer_posix.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace vesklink::testing {

PtyPeer::PtyPeer() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return;
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        close(master_);
        master_ = -1;
        return;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        close(master_);
        master_ = -1;
        return;
    }
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer() {
    Stop();
    if (master_ >= 0) close(master_);
}

void PtyPeer::MapPort(uint32_t port) const {
    setenv(("VESKLINK_COM" + std::to_string(port)).c_str(), path_.c_str(), 1);
}

unsigned PtyPeer::LineSpeed() const {
    termios line{};  // the master reads the settings of its terminal side
    return tcgetattr(master_, &line) == 0 ? static_cast<unsigned>(cfgetospeed(&line)) : 0;
}

void PtyPeer::Start(Responder responder) {
    responder_ = std::move(responder);
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void PtyPeer::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

std::vector<Bytes> PtyPeer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void PtyPeer::Send(const Bytes& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = write(master_, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) return;
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 100);
    }
}

Bytes PtyPeer::Receive(size_t count, int timeoutMs) const {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        uint8_t buffer[512];
        const size_t want = count - out.size() < sizeof buffer ? count - out.size() : sizeof buffer;
        const ssize_t got = read(master_, buffer, want);
        if (got > 0)
            out.insert(out.end(), buffer, buffer + got);
        else
            usleep(1000);  // the device side is not open yet (EIO) or closed again
    }
    return out;
}

void PtyPeer::Run() {
    Bytes pending;
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        const int ready = poll(&p, 1, 20);
        if (ready <= 0) continue;
        uint8_t buffer[4096];
        const ssize_t got = read(master_, buffer, sizeof buffer);
        if (got <= 0) {
            usleep(2000);  // no device side open: poll reports a hang-up until the driver opens it
            continue;
        }
        pending.insert(pending.end(), buffer, buffer + got);
        // Cut complete frames: 0x01, L (2 bytes), L bytes, checksum.
        for (;;) {
            size_t start = 0;
            while (start < pending.size() && pending[start] != 0x01) ++start;
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(start));
            if (pending.size() < 3) break;
            const size_t total = 4 + (pending[1] | (static_cast<size_t>(pending[2]) << 8));
            if (pending.size() < total) break;
            Bytes request(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(total));
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(total));
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            const Bytes answer = responder_ ? responder_(request) : Bytes{};
            if (!answer.empty()) Send(answer);
        }
    }
}

}  // namespace vesklink::testing
