// A test's own end of the line to the simulator: builds request frames and collects replies the
// way the driver does (ACK or NAK, start byte, length, data, checksum), independently of the
// simulator's frame code so a fault in one is not mirrored in the other.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <sstream>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "sim.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline uint8_t Checksum(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += p[i];
    return static_cast<uint8_t>(sum ^ (sum >> 8) ^ (sum >> 16) ^ (sum >> 24));
}

inline Bytes Frame(uint8_t command, const Bytes& payload = {}, uint32_t access = 482917) {
    const size_t length = 5 + payload.size();
    Bytes f = {0x01, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), command};
    for (int i = 0; i < 4; ++i) f.push_back(static_cast<uint8_t>(access >> (8 * i)));
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(Checksum(f.data() + 1, f.size() - 1));
    return f;
}

inline Bytes Le(uint64_t v, size_t width) {
    Bytes out;
    for (size_t i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Little-endian integer of reply bytes first..last, as the driver reads fields.
inline uint64_t Field(const Bytes& r, size_t first, size_t last) {
    uint64_t v = 0;
    for (size_t i = last + 1; i-- > first;) v = (v << 8) | (i < r.size() ? r[i] : 0);
    return v;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline uint16_t Status(const Bytes& r) { return r.size() >= 9 ? static_cast<uint16_t>(Field(r, 5, 6)) : 0xFFFF; }

class Link {
public:
    explicit Link(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
        tcsetattr(fd_, TCSANOW, &t);
    }
    // Takes over an open descriptor (the master side of a tty pair).
    explicit Link(int fd) : fd_(fd) {}
    ~Link() {
        if (fd_ >= 0) close(fd_);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    bool Ok() const { return fd_ >= 0; }

    void Write(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            } else {
                pollfd p{fd_, POLLOUT, 0};
                poll(&p, 1, 50);
            }
        }
    }

    // Everything that arrives within the time, or until a whole reply is in.
    Bytes Read(std::chrono::milliseconds limit, bool stopAtReply = true) {
        Bytes raw;
        const auto until = std::chrono::steady_clock::now() + limit;
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            uint8_t buf[1024];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) raw.insert(raw.end(), buf, buf + n);
            if (stopAtReply && !Collect(raw).empty() && Complete(Collect(raw))) break;
        }
        return raw;
    }

    // The reply as the driver stores it: from the ACK or NAK on, with bytes before it and
    // between it and the start byte dropped.
    static Bytes Collect(const Bytes& raw) {
        Bytes out;
        size_t i = 0;
        while (i < raw.size() && raw[i] != 0x06 && raw[i] != 0x15) ++i;
        if (i == raw.size()) return out;
        out.push_back(raw[i++]);
        while (i < raw.size() && raw[i] != 0x01) ++i;
        if (i == raw.size()) return out;
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(i), raw.end());
        return out;
    }

    static bool Complete(const Bytes& r) { return r.size() >= 4 && r.size() >= Field(r, 2, 3) + 5; }

    // One exchange: the request frame out, the reply in.
    Bytes Exchange(uint8_t command, const Bytes& payload = {},
                   std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
        Drain();
        Write(Frame(command, payload));
        Bytes r = Collect(Read(limit));
        if (Complete(r)) r.resize(Field(r, 2, 3) + 5);
        return r;
    }

    void Drain() {
        uint8_t buf[1024];
        while (read(fd_, buf, sizeof buf) > 0) {
        }
    }

private:
    int fd_ = -1;
};

// A reply whose checksum is right and whose echo is the command.
inline bool WellFormedReply(const Bytes& r, uint8_t command) {
    return r.size() >= 9 && r[0] == 0x06 && r[1] == 0x01 && Link::Complete(r) && r.size() == Field(r, 2, 3) + 5 &&
           r[4] == command && Checksum(r.data() + 2, r.size() - 3) == r.back();
}

// Code page 866 of simple Cyrillic text, for building payloads: А-я, Ё, ё; ASCII as is.
inline std::string Cp866(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) out += static_cast<char>(c);
        else if (c >= 0x0410 && c <= 0x043F) out += static_cast<char>(0x80 + (c - 0x0410));
        else if (c >= 0x0440 && c <= 0x044F) out += static_cast<char>(0xE0 + (c - 0x0440));
        else if (c == 0x0401) out += static_cast<char>(0xF0);
        else if (c == 0x0451) out += static_cast<char>(0xF1);
        else out += '?';
    }
    return out;
}

inline Bytes Counted(const std::string& bytes) {
    Bytes out = Le(bytes.size(), 2);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

// The position record of 0x80..0x83 with no optional parts.
inline Bytes Position(const std::string& nameCp866, uint64_t quantity, uint64_t price, uint8_t vat = 1) {
    return Cat({{0x00, 0x00, 0x04, 0x01, '0', '0', '0'}, Le(quantity, 5), Le(price, 8), Le(0, 8), {vat}, Counted(nameCp866)});
}

inline Bytes Close(uint64_t cash, uint64_t card, uint64_t pre = 0, uint64_t post = 0, uint64_t barter = 0) {
    return Cat({Le(0, 2), Le(cash, 8), Le(card, 8), Le(pre, 8), Le(post, 8), Le(barter, 8)});
}

// A simulator on a new pseudo-terminal and the test's end of its line, new for every test.
class SimOnPty : public ::testing::Test {
protected:
    void SetUp() override { Start(); }
    void Start(vesklink::sim::Options options = {}) {
        sim_ = std::make_unique<vesklink::sim::Simulator>(std::move(options));
        link_ = std::make_unique<Link>(sim_->Start());
        ASSERT_TRUE(link_->Ok());
    }
    Bytes Ex(uint8_t command, const Bytes& payload = {}) { return link_->Exchange(command, payload); }

    std::unique_ptr<vesklink::sim::Simulator> sim_;
    std::unique_ptr<Link> link_;
};

}  // namespace simtest
