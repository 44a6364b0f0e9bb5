// Line protocol frames (the simulator's own, see sim_frame.h) and the line that serves them.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

#include "sim_frame.h"

namespace vesklink::sim {

uint8_t FrameChecksum(const uint8_t* data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum += data[i];
    return static_cast<uint8_t>((sum & 0xFF) ^ ((sum >> 8) & 0xFF) ^ ((sum >> 16) & 0xFF) ^ (sum >> 24));
}

std::vector<uint8_t> BuildReply(uint8_t command, uint16_t status, const std::vector<uint8_t>& data) {
    const size_t length = 4 + data.size();
    std::vector<uint8_t> out = {kAck, kStartByte, static_cast<uint8_t>(length),
                                static_cast<uint8_t>(length >> 8), command,
                                static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8), 0x00};
    out.reserve(length + 5);  // without it GCC 12 sees a false out-of-bounds copy in the insert
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(FrameChecksum(out.data() + 2, out.size() - 2));
    return out;
}

Request ParseRequest(const std::vector<uint8_t>& f) {
    Request r;
    if (f.size() < 4) return r;
    r.checksumOk = FrameChecksum(f.data() + 1, f.size() - 2) == f.back();
    const size_t length = f[1] | (f[2] << 8);
    if (length < 5 || f.size() != length + 4) return r;
    r.wellFormed = true;
    r.command = f[3];
    r.accessCode = f[4] | (f[5] << 8) | (f[6] << 16) | (static_cast<uint32_t>(f[7]) << 24);
    r.payload.assign(f.begin() + 8, f.end() - 1);
    return r;
}

std::optional<std::vector<uint8_t>> FrameAssembler::Push(uint8_t byte) {
    if (buffer_.empty()) {
        if (byte == kStartByte) buffer_.push_back(byte);
        return std::nullopt;
    }
    buffer_.push_back(byte);
    if (buffer_.size() < 3) return std::nullopt;
    const size_t length = buffer_[1] | (buffer_[2] << 8);
    if (buffer_.size() < length + 4) return std::nullopt;
    return std::exchange(buffer_, {});
}

namespace {

using SteadyClock = std::chrono::steady_clock;

// A partial request whose bytes stop for this long is abandoned.
constexpr auto kInterByteLimit = std::chrono::milliseconds(1000);

// Raw 8N1, no flow control, no echo: binary bytes pass unchanged. A speed without a constant
// keeps the line's own.
void MakeRaw(int fd, unsigned baud) {
    static const std::pair<unsigned, speed_t> kSpeeds[] = {
        {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},    {19200, B19200},
        {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
    };
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    for (const auto& [b, speed] : kSpeeds) {
        if (b == baud) cfsetspeed(&t, speed);
    }
    tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

std::string Line::ServePty(LinePeer peer) {
    if (Running()) throw std::runtime_error("the simulator is already running");
    lineFd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (lineFd_ < 0) {
        throw std::runtime_error(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
    }
    char name[128] = {};
    if (grantpt(lineFd_) != 0 || unlockpt(lineFd_) != 0 || ptsname_r(lineFd_, name, sizeof name) != 0) {
        CloseAll();
        throw std::runtime_error("cannot prepare the pseudo-terminal");
    }
    slaveFd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) {
        CloseAll();
        throw std::runtime_error(std::string("cannot open ") + name);
    }
    MakeRaw(slaveFd_, 0);
    fcntl(lineFd_, F_SETFL, fcntl(lineFd_, F_GETFL) | O_NONBLOCK);
    path_ = name;
    Launch(std::move(peer));
    return path_;
}

void Line::ServeTty(const std::string& path, unsigned baud, LinePeer peer) {
    if (Running()) throw std::runtime_error("the simulator is already running");
    lineFd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (lineFd_ < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    MakeRaw(lineFd_, baud);
    path_ = path;
    Launch(std::move(peer));
}

void Line::Launch(LinePeer peer) {
    if (pipe2(wakeFd_, O_CLOEXEC | O_NONBLOCK) != 0) {
        CloseAll();
        throw std::runtime_error("cannot create a pipe");
    }
    peer_ = std::move(peer);
    stopping_ = false;
    try {
        thread_ = std::thread([this] { Serve(); });
    } catch (...) {
        CloseAll();
        throw;
    }
}

void Line::Stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    const char wake = 1;
    // Should the pipe be full, the flag alone ends the loop within one poll period.
    [[maybe_unused]] const ssize_t woken = write(wakeFd_[1], &wake, 1);
    thread_.join();
    CloseAll();
}

void Line::CloseAll() {
    for (int* fd : {&lineFd_, &slaveFd_, &wakeFd_[0], &wakeFd_[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    path_.clear();
}

// Waits until the given time unless the line is stopping; false when it is. The wait sleeps to
// the microsecond, so pacing a reply byte by byte does not spin a processor.
bool Line::Pause(SteadyClock::time_point until) {
    while (!stopping_) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - SteadyClock::now());
        if (left.count() <= 0) return true;
        const long long micros = std::min<long long>(left.count(), 100'000);
        const timespec wait{static_cast<time_t>(micros / 1'000'000), static_cast<long>(micros % 1'000'000) * 1000};
        pollfd p{wakeFd_[0], POLLIN, 0};
        ppoll(&p, 1, &wait, nullptr);
    }
    return false;
}

bool Line::WriteAll(const uint8_t* data, size_t size) {
    size_t done = 0;
    auto deadline = SteadyClock::now() + std::chrono::seconds(5);
    while (done < size && !stopping_) {
        const ssize_t n = write(lineFd_, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (SteadyClock::now() > deadline) return false;  // nobody drains the line
        pollfd p{lineFd_, POLLOUT, 0};
        poll(&p, 1, 50);
    }
    return done == size;
}

void Line::Send(const std::vector<uint8_t>& bytes, unsigned baud) {
    if (baud == 0) {
        WriteAll(bytes.data(), bytes.size());
        return;
    }
    // Ten bits a byte (start, eight data, stop); each byte leaves when its time has come.
    const auto byteTime = std::chrono::microseconds(10'000'000ull / baud);
    const auto start = SteadyClock::now();
    size_t sent = 0;
    while (sent < bytes.size() && !stopping_) {
        const auto elapsed = SteadyClock::now() - start;
        const size_t due = std::min(bytes.size(), static_cast<size_t>(elapsed / byteTime) + 1);
        if (due > sent) {
            if (!WriteAll(bytes.data() + sent, due - sent)) return;
            sent = due;
        } else if (!Pause(start + byteTime * static_cast<long long>(sent))) {
            return;
        }
    }
}

// One whole request frame: the register's answer, sent when it is due.
void Line::Answer(const std::vector<uint8_t>& frame, SteadyClock::time_point frameStart) {
    const unsigned baud = peer_.baud();
    // A paced line carries a request at its speed too: the register can act on it only once its
    // last byte would have arrived, counted from its first. A pseudo-terminal delivers it at once.
    const auto lineTime = std::chrono::microseconds(baud ? 10'000'000ull * frame.size() / baud : 0);
    const auto arrived = baud ? frameStart + lineTime : SteadyClock::now();
    if (baud && !Pause(arrived)) return;
    const LineReply r = peer_.respond(frame);
    // The processing time counts from the request's arrival: the simulator's own bookkeeping
    // (journal, state file) happens within it, as the register's would.
    if (!Pause(arrived + std::chrono::milliseconds(r.delayMs))) return;
    if (!r.bytes.empty()) Send(r.bytes, baud);
    peer_.handled();
}

void Line::Serve() {
    // A paced line sleeps to the microsecond many times a reply; the default timer slack would
    // add up to 50 us to each of those sleeps.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    FrameAssembler assembler;
    auto lastByte = SteadyClock::now();
    auto frameStart = lastByte;
    uint8_t buf[4096];
    while (!stopping_) {
        pollfd fds[2] = {{lineFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        const int ready = poll(fds, 2, 200);
        if (stopping_) break;
        if (assembler.InFrame() && SteadyClock::now() - lastByte > kInterByteLimit) assembler.Reset();
        if (ready <= 0 || !(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = read(lineFd_, buf, sizeof buf);
        if (n <= 0) {
            // A tty whose other side went away: wait for it to come back.
            Pause(SteadyClock::now() + std::chrono::milliseconds(50));
            continue;
        }
        for (ssize_t i = 0; i < n && !stopping_; ++i) {
            const auto now = SteadyClock::now();
            if (assembler.InFrame() && now - lastByte > kInterByteLimit) assembler.Reset();
            lastByte = now;
            if (!assembler.InFrame()) frameStart = now;
            if (auto frame = assembler.Push(buf[i])) {
                Answer(*frame, frameStart);
                lastByte = SteadyClock::now();
            }
        }
    }
}

}  // namespace vesklink::sim
