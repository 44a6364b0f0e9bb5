// Serial port on Linux: a tty device opened exclusively and set to raw 8N1 without flow control.
#include "serial/serial_port.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vesklink {

struct SerialPort::State {
    int fd = -1;
};

namespace {

// Write time-out of the whole request, and the longest stall of the line before it gives up.
constexpr int WriteTotalTimeoutMs = 5000;
constexpr int WriteStallTimeoutMs = 1000;

struct SpeedCode {
    uint32_t baud;
    speed_t code;
};

constexpr SpeedCode Speeds[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool SpeedFor(uint32_t baud, speed_t& code) {
    for (const SpeedCode& s : Speeds)
        if (s.baud == baud) {
            code = s.code;
            return true;
        }
    return false;
}

// VESKLINK_COM<N> names the device of port N; otherwise COM1 is /dev/ttyS0 and so on.
std::string DevicePath(uint32_t port) {
    const std::string variable = "VESKLINK_COM" + std::to_string(port);
    if (const char* path = std::getenv(variable.c_str()); path && *path) return path;
    if (port == 0) return {};
    return "/dev/ttyS" + std::to_string(port - 1);
}

void Release(int fd) {
    ioctl(fd, TIOCNXCL);  // the exclusive flag outlives the descriptor on a pty; drop it first
    close(fd);            // also releases the flock
}

bool Configure(int fd, uint32_t speed) {
    speed_t code;
    if (!SpeedFor(speed, code)) return false;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, code) != 0 || cfsetospeed(&tio, code) != 0) return false;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
    // tcsetattr succeeds when any of the changes took; check that the line runs as asked.
    termios check{};
    if (tcgetattr(fd, &check) != 0) return false;
    return cfgetospeed(&check) == code && (check.c_cflag & CSIZE) == CS8 && !(check.c_cflag & PARENB) &&
           !(check.c_iflag & (IXON | IXOFF)) && !(check.c_lflag & ICANON);
}

}  // namespace

SerialPort::SerialPort() noexcept = default;

SerialPort::~SerialPort() { ClosePort(); }

bool SerialPort::IsOpen() const { return state_ && state_->fd >= 0; }

bool SerialPort::OpenPort(uint32_t port, uint32_t speed) {
    if (IsOpen()) return true;
    try {
        const std::string path = DevicePath(port);
        if (path.empty()) return false;
        if (!state_) state_ = std::make_unique<State>();
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        // Exclusive: another program holding the lock, or the tty's exclusive mode, refuses us.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return false;
        }
        if (!isatty(fd) || ioctl(fd, TIOCEXCL) != 0 || !Configure(fd, speed)) {
            Release(fd);
            return false;
        }
        tcflush(fd, TCIOFLUSH);
        state_->fd = fd;
        return true;
    } catch (...) {
        return false;
    }
}

bool SerialPort::ClosePort() {
    if (!IsOpen()) return true;
    Release(state_->fd);
    state_->fd = -1;
    return true;
}

int32_t SerialPort::QueuedBytes() {
    if (!IsOpen()) return 0;
    int queued = 0;
    if (ioctl(state_->fd, FIONREAD, &queued) != 0 || queued < 0) return 0;
    return queued;
}

int32_t SerialPort::ReadBytes(uint8_t* buffer, int32_t maximum) {
    if (!IsOpen() || !buffer || maximum <= 0) return 0;
    const int32_t queued = QueuedBytes();
    if (queued <= 0) return 0;
    const size_t wanted = static_cast<size_t>(queued < maximum ? queued : maximum);
    for (;;) {
        const ssize_t got = read(state_->fd, buffer, wanted);
        if (got > 0) return static_cast<int32_t>(got);
        if (got < 0 && errno == EINTR) continue;
        return 0;
    }
}

int32_t SerialPort::WriteBytes(const uint8_t* data, int32_t count) {
    if (!IsOpen() || !data || count <= 0) return 0;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(WriteTotalTimeoutMs);
    int32_t written = 0;
    while (written < count) {
        const ssize_t put = write(state_->fd, data + written, static_cast<size_t>(count - written));
        if (put > 0) {
            written += static_cast<int32_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
        // The output queue is full: wait for room, within both limits.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{state_->fd, POLLOUT, 0};
        const int ready = poll(&p, 1, static_cast<int>(left < WriteStallTimeoutMs ? left : WriteStallTimeoutMs));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) break;
    }
    return written;
}

bool SerialPort::WaitForInput(int milliseconds) {
    if (!IsOpen()) return false;
    if (QueuedBytes() > 0) return true;
    if (milliseconds <= 0) return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return QueuedBytes() > 0;
        pollfd p{state_->fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (QueuedBytes() > 0) return true;
        if (ready == 0) return false;
        // A hang-up (the other end of a pty closed) keeps poll from blocking: wait out the rest
        // of the interval instead of spinning.
        std::this_thread::sleep_until(deadline);
        return QueuedBytes() > 0;
    }
}

}  // namespace vesklink
