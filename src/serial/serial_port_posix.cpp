// Serial port on Linux: a tty device opened exclusively and set to raw 8N1 without flow control.
// The device of a port number comes from the environment, the user's or the system's ports.conf,
// or the /dev/ttyS<N-1> default.
#include "serial/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>
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

// Every speed Linux can set.
constexpr SpeedCode Speeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedFor(uint32_t baud, speed_t& code) {
    for (const SpeedCode& s : Speeds)
        if (s.baud == baud) {
            code = s.code;
            return true;
        }
    return false;
}

std::string Trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos) return {};
    return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

// "COM3", in any case, gives 3.
bool ParsePortName(const std::string& name, uint32_t& port) {
    if (name.size() < 4 || name.size() > 13) return false;
    for (size_t i = 0; i < 3; ++i)
        if ((name[i] | 0x20) != "com"[i]) return false;
    // Digits only, up to the largest port number.
    const char* end = name.data() + name.size();
    const auto [stop, error] = std::from_chars(name.data() + 3, end, port);
    return error == std::errc() && stop == end;
}

// Looks up the port in one ports.conf; false when the file is absent or does not name it. The
// whole file is read, so every malformed line in it is reported.
bool FindInPortsFile(const std::string& file, uint32_t port, std::string& device,
                     std::vector<std::string>& warnings) {
    std::ifstream in(file);
    if (!in) return false;
    std::vector<uint32_t> named;
    std::string raw;
    bool found = false;
    for (int number = 1; std::getline(in, raw); ++number) {
        const std::string line = Trimmed(raw.substr(0, raw.find('#')));
        if (line.empty()) continue;
        auto skip = [&](const std::string& why) {
            warnings.push_back(file + " line " + std::to_string(number) + " skipped: \"" + line + "\" " + why);
        };
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            skip("has no '=' (lines read COM3 = /dev/ttyACM0)");
            continue;
        }
        const std::string path = Trimmed(line.substr(equals + 1));
        uint32_t n = 0;
        if (!ParsePortName(Trimmed(line.substr(0, equals)), n)) {
            skip("does not start with a port name such as COM3");
        } else if (path.empty() || path[0] != '/') {
            skip("does not name a device by its full path, such as /dev/ttyACM0");
        } else if (std::find(named.begin(), named.end(), n) != named.end()) {
            skip("names COM" + std::to_string(n) + " again; the earlier line holds");
        } else {
            named.push_back(n);
            if (n == port) {
                device = path;
                found = true;
            }
        }
    }
    return found;
}

// The three reasons a user can act on in words of our own, any other in the system's.
std::string OpenFailure(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO: return "no such device";
        case EACCES:
        case EPERM: return "permission denied";
        case EBUSY:
        case EWOULDBLOCK: return "busy: another program has the port open";
        default: return std::generic_category().message(error);
    }
}

// Errors that say the device behind the descriptor is gone, not that the line had a problem: a
// hung-up tty (USB device unplugged or switched off, the other end of a pty closed) fails every
// read, write and ioctl with EIO; ENXIO and ENODEV come from a driver whose device was removed;
// EBADF from a descriptor that is no longer valid.
bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV || error == EBADF; }

// A hang-up or error condition of the descriptor, as poll reports it for a device that is gone.
bool HungUp(const pollfd& p) { return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

std::string ErrorText(int error) { return std::generic_category().message(error); }

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

std::string PortDevice(uint32_t port, std::vector<std::string>& warnings, const std::string& systemFile) {
    const std::string variable = "VESKLINK_COM" + std::to_string(port);
    if (const char* path = std::getenv(variable.c_str()); path && *path) return path;
    std::string device;
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        config = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        config = std::string(home) + "/.config";
    if (!config.empty() && FindInPortsFile(config + "/vesklink/ports.conf", port, device, warnings)) return device;
    if (FindInPortsFile(systemFile, port, device, warnings)) return device;
    if (port == 0) return {};
    return "/dev/ttyS" + std::to_string(port - 1);
}

SerialPort::SerialPort() noexcept = default;

SerialPort::~SerialPort() { ClosePort(); }

bool SerialPort::IsOpen() const { return state_ && state_->fd >= 0; }

bool SerialPort::OpenDevice(uint32_t port, uint32_t speed) {
    try {
        notes_ = {};
        notes_.port = port;
        notes_.device = PortDevice(port, notes_.warnings);
        const std::string& path = notes_.device;
        if (path.empty()) {
            notes_.failure = "no device is named for this port";
            return false;
        }
        if (!state_) state_ = std::make_unique<State>();
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            notes_.failure = OpenFailure(errno);
            return false;
        }
        // Exclusive: another program holding the lock, or the tty's exclusive mode, refuses us.
        // The descriptor is given back before the reason is written down.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            close(fd);
            notes_.failure = OpenFailure(error);
            return false;
        }
        enum { Ready, NotTty, Exclusive, Line } problem = Ready;
        int error = 0;
        if (!isatty(fd)) {
            problem = NotTty;
        } else if (ioctl(fd, TIOCEXCL) != 0) {
            problem = Exclusive;
            error = errno;
        } else if (!Configure(fd, speed)) {
            problem = Line;
        }
        if (problem != Ready) {
            Release(fd);
            notes_.failure = problem == NotTty      ? "not a serial device"
                             : problem == Exclusive ? OpenFailure(error)
                                                    : "the line cannot run at " + std::to_string(speed) + " baud, 8 data bits";
            return false;
        }
        tcflush(fd, TCIOFLUSH);
        state_->fd = fd;
        return true;
    } catch (...) {
        return false;
    }
}

void SerialPort::CloseDevice() {
    if (!IsOpen()) return;
    Release(state_->fd);
    state_->fd = -1;
}

bool SerialPort::CheckDevice() {
    if (!IsOpen()) return false;
    pollfd p{state_->fd, POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && HungUp(p)) {
        Lose("hang-up");
        return false;
    }
    return true;
}

int32_t SerialPort::PollInput() {
    if (!IsOpen()) return 0;
    int queued = 0;
    if (ioctl(state_->fd, FIONREAD, &queued) != 0) {
        if (DeviceGone(errno)) Lose(ErrorText(errno));
        return 0;
    }
    return queued < 0 ? 0 : queued;
}

int32_t SerialPort::ReadBytes(uint8_t* buffer, int32_t maximum) {
    if (!IsOpen() || !buffer || maximum <= 0) return 0;
    const int32_t queued = PollInput();
    if (queued <= 0) return 0;
    const size_t wanted = static_cast<size_t>(queued < maximum ? queued : maximum);
    for (;;) {
        const ssize_t got = read(state_->fd, buffer, wanted);
        if (got > 0) return static_cast<int32_t>(got);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && DeviceGone(errno)) Lose(ErrorText(errno));
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
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (DeviceGone(errno)) Lose(ErrorText(errno));
            break;
        }
        // The output queue is full: wait for room, within both limits.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{state_->fd, POLLOUT, 0};
        const int ready = poll(&p, 1, static_cast<int>(left < WriteStallTimeoutMs ? left : WriteStallTimeoutMs));
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && HungUp(p)) {
            Lose("hang-up");
            break;
        }
        if (ready <= 0) break;
    }
    return written;
}

bool SerialPort::WaitForInput(int milliseconds) {
    if (!IsOpen()) return false;
    if (PollInput() > 0) return true;
    if (milliseconds <= 0 || !IsOpen()) return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return PollInput() > 0;
        pollfd p{state_->fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (ready > 0 && HungUp(p)) {
            // Unplugged, switched off, or the other end of a pty closed: nothing can come any more.
            Lose("hang-up");
            return false;
        }
        if (PollInput() > 0) return true;
        if (ready == 0) return false;
        // Readable without a byte to read: wait out the rest of the interval instead of spinning.
        std::this_thread::sleep_until(deadline);
        return PollInput() > 0;
    }
}

}  // namespace vesklink
