// A byte stream in memory, so that the frame exchange is tested the same on every target without
// a pseudo-terminal: every write is recorded and answered by a responder, whose bytes wait to be
// read as if the register had sent them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "serial/byte_stream.h"

namespace vktest {

class MemoryStream final : public vesklink::ByteStream {
public:
    using Bytes = std::vector<uint8_t>;

    // The bytes the register sends back for one write (none: it stays silent).
    std::function<Bytes(const Bytes& written)> responder;
    std::vector<Bytes> writes;      // every write, as it went out
    std::vector<int32_t> expected;  // every count ExpectBytes was told, in order
    bool open = true;               // false: closed, or the device went away
    int32_t writeLimit = -1;        // the most bytes one write takes (-1: all of them)
    int waits = 0;                  // WaitForInput calls

    // Bytes that arrive from the register.
    void Send(const Bytes& bytes) { input_.insert(input_.end(), bytes.begin(), bytes.end()); }
    size_t Waiting() const { return input_.size(); }

    bool Reconnect() override { return open; }
    bool IsOpen() const override { return open; }
    int32_t PollInput() override { return open ? static_cast<int32_t>(input_.size()) : 0; }
    int32_t ReadBytes(uint8_t* buffer, int32_t maximum) override {
        int32_t got = 0;
        for (; open && got < maximum && !input_.empty(); ++got) {
            buffer[got] = input_.front();
            input_.pop_front();
        }
        return got;
    }
    int32_t WriteBytes(const uint8_t* data, int32_t count) override {
        if (!open || count <= 0) return 0;
        const int32_t taken = writeLimit >= 0 && writeLimit < count ? writeLimit : count;
        writes.emplace_back(data, data + taken);
        if (responder) Send(responder(writes.back()));
        return taken;
    }
    bool WaitForInput(int) override {
        ++waits;
        return PollInput() > 0;
    }
    void ExpectBytes(int32_t count) override { expected.push_back(count); }

private:
    std::deque<uint8_t> input_;
};

}  // namespace vktest
