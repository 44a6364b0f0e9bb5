// The exchange over a real pseudo-terminal against a scripted device.
#include <gtest/gtest.h>

#include <chrono>

#include "protocol/device_link.h"
#include "pty_peer_posix.h"

using namespace vesklink;
using vesklink::testing::PtyPeer;
using vesklink::testing::ReplyFrame;

namespace {

constexpr uint32_t TestPort = 41;

// Virtual time for the 10-second limit: a wait that finds no input within a short real interval
// moves the clock on by a whole second, so a silent device times out in a fraction of a second.
class FakeClock final : public ReplyClock {
public:
    std::chrono::steady_clock::duration Now() override { return now; }
    void WaitForInput(SerialPort& port, int) override {
        ++waits;
        if (!port.WaitForInput(50)) now += std::chrono::seconds(1);
    }
    std::chrono::steady_clock::duration now{};
    int waits = 0;
};

class Exchange : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        peer.MapPort(TestPort);
        link.SetReplyClock(&clock);
    }
    void Open() { ASSERT_TRUE(link.SerialLink.OpenPort(TestPort, 57600)); }
    double Seconds() const { return std::chrono::duration<double>(clock.now).count(); }

    PtyPeer peer;
    DeviceLink link;
    FakeClock clock;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(Exchange, RequestFrameOfTheDeviceTest) {
    Open();
    peer.Start([](const Bytes&) { return ReplyFrame(0x13, 0); });
    EXPECT_TRUE(link.Exchange(0x13).Executed());
    ASSERT_EQ(peer.Requests().size(), 1u);
    // Access code 482917 = 0x075E65; checksum: 05+00+13+65+5E+07+00 = 0xE2.
    EXPECT_EQ(peer.Requests()[0], (Bytes{0x01, 0x05, 0x00, 0x13, 0x65, 0x5E, 0x07, 0x00, 0xE2}));
    EXPECT_EQ(link.ReplyBuffer, ReplyFrame(0x13, 0));
    EXPECT_EQ(link.ReplyBuffer.size(), 9u);
    EXPECT_EQ(clock.now, std::chrono::steady_clock::duration{});
}

TEST_F(Exchange, PayloadFollowsTheAccessCodeAndComesBackUnchanged) {
    Open();
    // Every byte value, XON and XOFF among them, crosses the line unchanged in both directions.
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    peer.Start([](const Bytes& request) {
        return ReplyFrame(request[3], 0, Bytes(request.begin() + 8, request.end() - 1));
    });
    ASSERT_TRUE(link.Exchange(0x11, all).Executed());
    ASSERT_EQ(link.ReplyBuffer.size(), 8u + 256u + 1u);
    EXPECT_EQ(Bytes(link.ReplyBuffer.begin() + 8, link.ReplyBuffer.end() - 1), all);
    const Bytes request = peer.Requests().at(0);
    EXPECT_EQ(request[1] | (request[2] << 8), 5 + 256);
}

TEST_F(Exchange, NoiseBeforeTheAckAndBeforeTheStartByteIsDropped) {
    Open();
    const Bytes reply = ReplyFrame(0x40, 0, {0xAA});
    peer.Start([&](const Bytes&) {
        // Noise, ACK, more noise without a 0x01, then the frame without its ACK.
        return Concat({{0x00, 0xFF, 0x01, 0x13, 0x02}, {0x06}, {0x00, 0xFF, 0x13}, Bytes(reply.begin() + 1, reply.end())});
    });
    EXPECT_TRUE(link.Exchange(0x40).Executed());
    EXPECT_EQ(link.ReplyBuffer, reply);
}

TEST_F(Exchange, StatusWordDecides) {
    Open();
    int call = 0;
    peer.Start([&](const Bytes&) -> Bytes {
        switch (call++) {
            case 0: return ReplyFrame(0x40, 0x1234, {1, 2, 3});
            case 1: return {0x06, 0x01, 0x03, 0x00, 0x40, 0x00, 0x00, 0x5A};  // L = 3: eight bytes, no data
            default: return ReplyFrame(0x40, 0x0100);
        }
    });
    // A refused command keeps the whole reply for the caller to read the status word.
    const Reply refused = link.Exchange(0x40);
    EXPECT_EQ(refused.Outcome(), LinkOutcome::Refused);
    EXPECT_EQ(link.ReplyBuffer, ReplyFrame(0x40, 0x1234, {1, 2, 3}));
    EXPECT_EQ(refused.Data(), link.ReplyBuffer);
    EXPECT_EQ(refused.Integer(5, 6), 0x1234u);
    // Complete and with a zero status word, but only eight bytes: not a reply.
    EXPECT_EQ(link.Exchange(0x40).Outcome(), LinkOutcome::CutFrame);
    EXPECT_EQ(link.ReplyBuffer.size(), 8u);
    // Only the high byte of the status set.
    EXPECT_EQ(link.Exchange(0x40).Outcome(), LinkOutcome::Refused);
    EXPECT_EQ(link.ReplyBuffer.size(), 9u);
}

TEST_F(Exchange, StaleInputIsDiscardedBeforeTheNextRequest) {
    Open();
    int call = 0;
    peer.Start([&](const Bytes&) -> Bytes {
        if (call++ == 0)  // the reply, followed by a late frame that must not be taken for the next one
            return Concat({ReplyFrame(0x13, 0), ReplyFrame(0x77, 0x4444, {9, 9, 9})});
        return ReplyFrame(0x40, 0, {0x01, 0x02});
    });
    ASSERT_TRUE(link.Exchange(0x13).Executed());
    EXPECT_EQ(link.ReplyBuffer, ReplyFrame(0x13, 0));
    // The late frame is on the line before the next request goes out.
    ASSERT_TRUE(link.SerialLink.WaitForInput(2000));
    EXPECT_GT(link.SerialLink.PollInput(), 0);
    EXPECT_TRUE(link.Exchange(0x40).Executed());
    EXPECT_EQ(link.ReplyBuffer, ReplyFrame(0x40, 0, {0x01, 0x02}));
}

TEST_F(Exchange, LongRepliesAreTakenWhole) {
    Open();
    Bytes data(2000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    peer.Start([&](const Bytes&) { return ReplyFrame(0xFF, 0, data); });
    ASSERT_TRUE(link.Exchange(0xFF).Executed());
    EXPECT_EQ(link.ReplyBuffer, ReplyFrame(0xFF, 0, data));
}

TEST_F(Exchange, SilentDeviceTimesOutWithAnEmptyReply) {
    Open();
    peer.Start([](const Bytes&) { return Bytes{}; });
    EXPECT_EQ(link.Exchange(0x13).Outcome(), LinkOutcome::Silence);
    EXPECT_TRUE(link.ReplyBuffer.empty());
    EXPECT_GE(Seconds(), 10.0);
    EXPECT_LT(Seconds(), 11.0);
}

TEST_F(Exchange, NakWithoutAFrameLeavesTheNakByte) {
    Open();
    peer.Start([](const Bytes&) { return Bytes{0x00, 0x15}; });
    EXPECT_EQ(link.Exchange(0x13).Outcome(), LinkOutcome::Nak);
    EXPECT_EQ(link.ReplyBuffer, Bytes{0x15});
    EXPECT_GE(Seconds(), 10.0);
}

TEST_F(Exchange, TheLimitCoversAllPhasesTogether) {
    Open();
    // ACK at once, the start byte after three silent seconds, then nothing.
    peer.Start([](const Bytes&) { return Bytes{0x06}; });
    bool sent = false;
    struct Clock final : ReplyClock {
        FakeClock* inner;
        PtyPeer* peer;
        bool* sent;
        std::chrono::steady_clock::duration Now() override { return inner->Now(); }
        void WaitForInput(SerialPort& port, int ms) override {
            inner->WaitForInput(port, ms);
            if (!*sent && inner->now >= std::chrono::seconds(3)) {
                peer->Send({0x01, 0x20});
                *sent = true;
            }
        }
    } stepped;
    stepped.inner = &clock;
    stepped.peer = &peer;
    stepped.sent = &sent;
    link.SetReplyClock(&stepped);
    EXPECT_FALSE(link.Exchange(0x13).Executed());
    EXPECT_EQ(link.ReplyBuffer, (Bytes{0x06, 0x01, 0x20}));
    EXPECT_GE(Seconds(), 10.0);
    EXPECT_LT(Seconds(), 11.0);
}

TEST_F(Exchange, ReplyCutAtTheTimeLimitIsJudgedByWhatCame) {
    Open();
    int call = 0;
    peer.Start([&](const Bytes&) -> Bytes {
        const Bytes full = ReplyFrame(0xE0, 0, Bytes(30, 0x11));
        // First: nine bytes with a zero status word; second: seven bytes.
        return Bytes(full.begin(), full.begin() + (call++ == 0 ? 9 : 7));
    });
    EXPECT_TRUE(link.Exchange(0xE0).Executed());
    EXPECT_EQ(link.ReplyBuffer.size(), 9u);
    EXPECT_GE(Seconds(), 10.0);
    clock.now = {};
    const Reply cut = link.Exchange(0xE0);
    EXPECT_EQ(cut.Outcome(), LinkOutcome::CutFrame);
    EXPECT_EQ(link.ReplyBuffer.size(), 7u);
    EXPECT_EQ(cut.Integer(2, 3), 34u);
}

TEST_F(Exchange, ClosedPortSendsNothing) {
    peer.Start([](const Bytes&) { return ReplyFrame(0x13, 0); });
    link.ReplyBuffer = {1, 2, 3};
    EXPECT_EQ(link.Exchange(0x13).Outcome(), LinkOutcome::NotSent);
    EXPECT_TRUE(link.ReplyBuffer.empty());
    Open();
    ASSERT_TRUE(link.Exchange(0x13).Executed());
    link.SerialLink.ClosePort();
    clock.waits = 0;
    EXPECT_FALSE(link.Exchange(0x13).Executed());
    EXPECT_TRUE(link.ReplyBuffer.empty());
    EXPECT_EQ(peer.Requests().size(), 1u);
    EXPECT_EQ(clock.waits, 0);
}

TEST_F(Exchange, PayloadTooLongForTheLengthFieldIsRefused) {
    Open();
    peer.Start([](const Bytes&) { return ReplyFrame(0xD8, 0); });
    // 4 access-code bytes + payload + command must fit 16 bits.
    EXPECT_EQ(link.Exchange(0xD8, Bytes(65531, 0x41)).Outcome(), LinkOutcome::NotSent);
    EXPECT_TRUE(link.ReplyBuffer.empty());
    EXPECT_TRUE(link.Exchange(0xD8, Bytes(65530, 0x41)).Executed());
    ASSERT_EQ(peer.Requests().size(), 1u);
    EXPECT_EQ(peer.Requests()[0].size(), 65539u);
    EXPECT_EQ(peer.Requests()[0][1], 0xFF);
    EXPECT_EQ(peer.Requests()[0][2], 0xFF);
}

TEST_F(Exchange, PayloadMayBeTheReplyBufferItself) {
    Open();
    peer.Start([](const Bytes& request) {
        return ReplyFrame(request[3], 0, Bytes(request.begin() + 8, request.end() - 1));
    });
    ASSERT_TRUE(link.Exchange(0x13, Bytes{7, 8}).Executed());
    const Bytes previous = link.ReplyBuffer;
    ASSERT_TRUE(link.Exchange(0x05, link.ReplyBuffer).Executed());
    EXPECT_EQ(Bytes(link.ReplyBuffer.begin() + 8, link.ReplyBuffer.end() - 1), previous);
}

}  // namespace
