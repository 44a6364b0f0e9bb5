// The exchange against a scripted register on a byte stream in memory, on every target.
#include <gtest/gtest.h>

#include "protocol/device_link.h"
#include "support/memory_stream.h"
#include "support/step_clock.h"
#include "support/wire.h"

using namespace vesklink;
using vktest::MemoryStream;
using vktest::ReplyFrame;

namespace {

class Exchange : public ::testing::Test {
protected:
    void SetUp() override { link.SetReplyClock(&clock); }
    // Every request is answered with these bytes.
    void AnswerWith(const Bytes& bytes) {
        stream.responder = [bytes](const Bytes&) { return bytes; };
    }

    MemoryStream stream;
    DeviceLink link{stream};
    vktest::StepClock clock;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(Exchange, RequestFrameOfTheDeviceTest) {
    AnswerWith(ReplyFrame(0x13, 0));
    const Reply reply = link.Exchange(0x13);
    EXPECT_TRUE(reply.Executed());
    // Access code 482917 = 0x075E65; checksum: 05+00+13+65+5E+07+00 = 0xE2.
    EXPECT_EQ(stream.writes, (std::vector<Bytes>{{0x01, 0x05, 0x00, 0x13, 0x65, 0x5E, 0x07, 0x00, 0xE2}}));
    EXPECT_EQ(reply.Data(), ReplyFrame(0x13, 0));
    EXPECT_EQ(clock.waits, 0);
}

TEST_F(Exchange, PayloadFollowsTheAccessCodeAndTheReplyComesWhole) {
    Bytes payload(2000);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
    stream.responder = [](const Bytes& request) {
        return ReplyFrame(request[3], 0, Bytes(request.begin() + 8, request.end() - 1));
    };
    const Reply reply = link.Exchange(0x11, payload);
    ASSERT_TRUE(reply.Executed());
    const Bytes& request = stream.writes.at(0);
    EXPECT_EQ(request[1] | (request[2] << 8), 5 + 2000);
    EXPECT_EQ(reply.Data(), ReplyFrame(0x11, 0, payload));
}

TEST_F(Exchange, NoiseBeforeTheAckAndBeforeTheStartByteIsDropped) {
    const Bytes reply = ReplyFrame(0x40, 0, {0xAA});
    // Noise, ACK, more noise without a 0x01, then the frame without its ACK.
    AnswerWith(Concat({{0x00, 0xFF, 0x01, 0x13, 0x02}, {0x06}, {0x00, 0xFF, 0x13}, Bytes(reply.begin() + 1, reply.end())}));
    EXPECT_EQ(link.Exchange(0x40).Data(), reply);
}

TEST_F(Exchange, StatusWordDecides) {
    int call = 0;
    stream.responder = [&](const Bytes&) -> Bytes {
        switch (call++) {
            case 0: return ReplyFrame(0x40, 0x1234, {1, 2, 3});
            case 1: return {0x06, 0x01, 0x03, 0x00, 0x40, 0x00, 0x00, 0x5A};  // L = 3: eight bytes, no data
            default: return ReplyFrame(0x40, 0x0100);
        }
    };
    // A refused command keeps the whole reply for the caller to read the status word.
    const Reply refused = link.Exchange(0x40);
    EXPECT_EQ(refused.Outcome(), LinkOutcome::Refused);
    EXPECT_EQ(refused.Data(), ReplyFrame(0x40, 0x1234, {1, 2, 3}));
    EXPECT_EQ(refused.Integer(5, 6), 0x1234u);
    // Complete and with a zero status word, but only eight bytes: not a reply.
    const Reply eight = link.Exchange(0x40);
    EXPECT_EQ(eight.Outcome(), LinkOutcome::CutFrame);
    EXPECT_EQ(eight.Size(), 8u);
    // Only the high byte of the status set.
    EXPECT_EQ(link.Exchange(0x40).Outcome(), LinkOutcome::Refused);
}

TEST_F(Exchange, StaleInputIsDiscardedBeforeTheNextRequest) {
    int call = 0;
    stream.responder = [&](const Bytes&) -> Bytes {
        if (call++ == 0)  // the reply, followed by a late frame that must not be taken for the next one
            return Concat({ReplyFrame(0x13, 0), ReplyFrame(0x77, 0x4444, {9, 9, 9})});
        return ReplyFrame(0x40, 0, {0x01, 0x02});
    };
    EXPECT_EQ(link.Exchange(0x13).Data(), ReplyFrame(0x13, 0));
    EXPECT_EQ(stream.Waiting(), ReplyFrame(0x77, 0x4444, {9, 9, 9}).size());
    EXPECT_EQ(link.Exchange(0x40).Data(), ReplyFrame(0x40, 0, {0x01, 0x02}));
    EXPECT_EQ(stream.Waiting(), 0u);
}

TEST_F(Exchange, TheLongestFrameIsTakenAndNothingBeyondIt) {
    const Bytes longest = ReplyFrame(0xFF, 0, Bytes(0xFFFF - 4, 0x5A));
    AnswerWith(Concat({longest, {0x06, 0x01}}));
    const Reply reply = link.Exchange(0xFF);
    EXPECT_EQ(reply.Size(), 4u + 0xFFFF + 1);
    EXPECT_EQ(reply.Data(), longest);
    EXPECT_EQ(stream.Waiting(), 2u);
    // The stream is told how much of the reply is still owed: the head, then the rest once the
    // length is known, and one byte again when the reply is in.
    EXPECT_EQ(stream.expected, (std::vector<int32_t>{4, 0xFFFF + 1, 1}));
}

TEST_F(Exchange, SilentDeviceTimesOutWithAnEmptyReply) {
    const Reply reply = link.Exchange(0x13);
    EXPECT_EQ(reply.Outcome(), LinkOutcome::Silence);
    EXPECT_EQ(reply.Size(), 0u);
    EXPECT_GE(clock.Seconds(), 10.0);
    EXPECT_LT(clock.Seconds(), 11.0);
}

TEST_F(Exchange, NakWithoutAFrameLeavesTheNakByte) {
    AnswerWith({0x00, 0x15});
    const Reply reply = link.Exchange(0x13);
    EXPECT_EQ(reply.Outcome(), LinkOutcome::Nak);
    EXPECT_EQ(reply.Data(), Bytes{0x15});
    EXPECT_GE(clock.Seconds(), 10.0);
}

TEST_F(Exchange, TheLimitCoversAllPhasesTogether) {
    // ACK at once, the start byte and one length byte after three silent seconds, then nothing.
    AnswerWith({0x06});
    bool sent = false;
    clock.during = [&] {
        if (sent || clock.now < std::chrono::seconds(3)) return;
        stream.Send({0x01, 0x20});
        sent = true;
    };
    const Reply reply = link.Exchange(0x13);
    EXPECT_FALSE(reply.Executed());
    EXPECT_EQ(reply.Data(), (Bytes{0x06, 0x01, 0x20}));
    EXPECT_GE(clock.Seconds(), 10.0);
    EXPECT_LT(clock.Seconds(), 11.0);
}

TEST_F(Exchange, ReplyCutAtTheTimeLimitIsJudgedByWhatCame) {
    const Bytes full = ReplyFrame(0xE0, 0, Bytes(30, 0x11));
    // Nine bytes with a zero status word count; seven do not.
    AnswerWith(Bytes(full.begin(), full.begin() + 9));
    EXPECT_TRUE(link.Exchange(0xE0).Executed());
    EXPECT_GE(clock.Seconds(), 10.0);
    clock.now = {};
    AnswerWith(Bytes(full.begin(), full.begin() + 7));
    const Reply cut = link.Exchange(0xE0);
    EXPECT_EQ(cut.Outcome(), LinkOutcome::CutFrame);
    EXPECT_EQ(cut.Size(), 7u);
    EXPECT_EQ(cut.Integer(2, 3), 34u);
}

TEST_F(Exchange, NothingIsSentOrWaitedForWithoutAWholeFrameOnAnOpenStream) {
    AnswerWith(ReplyFrame(0x13, 0));
    stream.open = false;
    EXPECT_EQ(link.Exchange(0x13).Outcome(), LinkOutcome::NotSent);
    EXPECT_TRUE(stream.writes.empty());
    // A frame that went out only in part cannot be answered.
    stream.open = true;
    stream.writeLimit = 5;
    EXPECT_EQ(link.Exchange(0x13).Outcome(), LinkOutcome::NotSent);
    EXPECT_EQ(stream.writes.size(), 1u);
    EXPECT_EQ(clock.waits, 0);
}

TEST_F(Exchange, PayloadTooLongForTheLengthFieldIsRefused) {
    AnswerWith(ReplyFrame(0xD8, 0));
    // 4 access-code bytes + payload + command must fit 16 bits.
    EXPECT_EQ(link.Exchange(0xD8, Bytes(65531, 0x41)).Outcome(), LinkOutcome::NotSent);
    EXPECT_TRUE(link.Exchange(0xD8, Bytes(65530, 0x41)).Executed());
    ASSERT_EQ(stream.writes.size(), 1u);
    EXPECT_EQ(stream.writes[0].size(), 65539u);
    EXPECT_EQ(stream.writes[0][1], 0xFF);
    EXPECT_EQ(stream.writes[0][2], 0xFF);
}

}  // namespace
