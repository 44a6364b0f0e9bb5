// The shared device commands against a scripted device on a pseudo-terminal.
#include <gtest/gtest.h>

#include <functional>

#include "protocol/device_queries.h"
#include "protocol/encoding.h"
#include "pty_peer_posix.h"

using namespace vesklink;
using vesklink::testing::PtyPeer;
using vesklink::testing::ReplyFrame;

namespace {

constexpr uint32_t Port = 44;

// Replies never need the time limit here; a short one keeps a wrong script from hanging a test.
class QuickClock final : public ReplyClock {
public:
    std::chrono::steady_clock::duration Now() override { return now; }
    void WaitForInput(SerialPort& port, int) override {
        if (!port.WaitForInput(200)) now += std::chrono::seconds(5);
    }
    std::chrono::steady_clock::duration now{};
};

class Queries : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        peer.MapPort(Port);
        link.SetReplyClock(&clock);
        ASSERT_TRUE(link.SerialLink.OpenPort(Port, 57600));
        peer.Start([this](const Bytes& request) {
            clock.now = {};
            return script(request);
        });
    }
    // The payload of the n-th request: after command and access code, before the checksum.
    Bytes Payload(size_t n) {
        const Bytes request = peer.Requests().at(n);
        return Bytes(request.begin() + 8, request.end() - 1);
    }

    PtyPeer peer;
    DeviceLink link;
    QuickClock clock;
    std::function<Bytes(const Bytes&)> script = [](const Bytes&) { return Bytes{}; };
};

// 0xE9 reply data: the tag at offsets 8-9, the length at 10-11, then the value.
Bytes TagReply(uint16_t tag, const Bytes& value, size_t claimedLength) {
    Bytes data = LittleEndianBytes(tag, 2);
    AppendLittleEndian(data, claimedLength, 2);
    for (uint8_t b : value) data.push_back(b);
    return ReplyFrame(0xE9, 0, data);
}

TEST_F(Queries, WriteTagPayload) {
    script = [](const Bytes&) { return ReplyFrame(0xD8, 0); };
    EXPECT_TRUE(WriteTag(link, 1008, u"Ок@x"));
    EXPECT_EQ(Payload(0), (Bytes{0xF0, 0x03, 0x00, 0x04, 0x00, 0x8E, 0xAA, 0x40, 0x78}));
    EXPECT_TRUE(WriteTag(link, 1225, u""));
    EXPECT_EQ(Payload(1), (Bytes{0xC9, 0x04, 0x00, 0x00, 0x00}));
    script = [](const Bytes&) { return ReplyFrame(0xD8, 0x0033); };
    EXPECT_FALSE(WriteTag(link, 1008, u"a"));
}

TEST_F(Queries, RegistrationTagRequestAndValue) {
    script = [](const Bytes&) { return TagReply(1048, {0x8E, 0x8E, 0x8E, 0x00}, 4); };
    Bytes value;
    ASSERT_TRUE(ReadRegistrationTag(link, 0x02, 1048, value));
    EXPECT_EQ(Payload(0), (Bytes{0x02, 0x18, 0x04}));
    EXPECT_EQ(value, (Bytes{0x8E, 0x8E, 0x8E, 0x00}));
    std::u16string text = u"old";
    ASSERT_TRUE(ReadRegistrationText(link, 0x02, 1048, text));
    EXPECT_EQ(text, std::u16string(u"ООО\0", 4));
}

TEST_F(Queries, RegistrationTagNeedsTheWholeValue) {
    Bytes value{1};
    std::u16string text = u"kept";
    // The length promises five bytes, the reply carries four.
    script = [](const Bytes&) { return TagReply(1018, {0x31, 0x32, 0x33, 0x34}, 5); };
    EXPECT_FALSE(ReadRegistrationTag(link, 1, 1018, value));
    EXPECT_TRUE(value.empty());
    EXPECT_FALSE(ReadRegistrationText(link, 1, 1018, text));
    EXPECT_EQ(text, u"kept");
    // Too short to hold the length at all.
    script = [](const Bytes&) { return ReplyFrame(0xE9, 0, {0x01, 0x02}); };
    EXPECT_FALSE(ReadRegistrationText(link, 1, 1018, text));
    EXPECT_EQ(text, u"kept");
    // Refused by the device.
    script = [](const Bytes&) { return ReplyFrame(0xE9, 2, {0x00, 0x00, 0x01, 0x00, 0x31}); };
    EXPECT_FALSE(ReadRegistrationText(link, 1, 1018, text));
    EXPECT_EQ(text, u"kept");
    // An empty value is a successful read of empty text.
    script = [](const Bytes&) { return TagReply(1018, {}, 0); };
    EXPECT_TRUE(ReadRegistrationText(link, 1, 1018, text));
    EXPECT_EQ(text, u"");
}

TEST_F(Queries, RegistrationFlag) {
    bool flag = true;
    script = [](const Bytes&) { return TagReply(1056, {}, 0); };
    EXPECT_FALSE(ReadRegistrationFlag(link, 1, 1056, flag));  // empty value
    EXPECT_FALSE(flag);
    script = [](const Bytes&) { return TagReply(1056, {0x02}, 1); };
    EXPECT_TRUE(ReadRegistrationFlag(link, 1, 1056, flag));
    EXPECT_TRUE(flag);
    script = [](const Bytes&) { return TagReply(1056, {0x00, 0x01}, 2); };
    EXPECT_TRUE(ReadRegistrationFlag(link, 1, 1056, flag));
    EXPECT_FALSE(flag);
    flag = true;
    script = [](const Bytes&) { return ReplyFrame(0xE9, 0x0101); };
    EXPECT_FALSE(ReadRegistrationFlag(link, 1, 1056, flag));
    EXPECT_FALSE(flag);
}

TEST_F(Queries, DeviceMode) {
    uint8_t mode = 9;
    script = [](const Bytes&) { return ReplyFrame(0xE2, 0, {0, 0, 0, 0, 0x03}); };
    EXPECT_TRUE(QueryDeviceMode(link, mode));
    EXPECT_EQ(mode, 3);
    EXPECT_TRUE(Payload(0).empty());
    script = [](const Bytes&) { return ReplyFrame(0xE2, 0, {0, 0, 0}); };  // 12 bytes
    EXPECT_FALSE(QueryDeviceMode(link, mode));
    EXPECT_EQ(mode, 3);
}

TEST_F(Queries, FnState) {
    bool fiscal = false, error = true, fail = true, overflow = true;
    uint64_t lastDocument = 77;
    // Full reply: state 3, warnings 0b101, document 0x01020304 at offsets 34-37.
    Bytes full(30, 0);
    full[0] = 3;
    full[4] = 0x05;
    full[26] = 0x04;
    full[27] = 0x03;
    full[28] = 0x02;
    full[29] = 0x01;
    script = [&](const Bytes&) { return ReplyFrame(0xE0, 0, full); };
    ASSERT_TRUE(QueryFnState(link, fiscal, error, fail, overflow, lastDocument));
    EXPECT_TRUE(fiscal);
    EXPECT_TRUE(error);
    EXPECT_FALSE(fail);
    EXPECT_TRUE(overflow);
    EXPECT_EQ(lastDocument, 0x01020304u);

    // A reply of 14 bytes: flags read, fiscal mode stays, the document number is not in it.
    script = [](const Bytes&) { return ReplyFrame(0xE0, 0, {1, 0, 0, 0, 0x02}); };
    ASSERT_TRUE(QueryFnState(link, fiscal, error, fail, overflow, lastDocument));
    EXPECT_TRUE(fiscal);
    EXPECT_FALSE(error);
    EXPECT_TRUE(fail);
    EXPECT_FALSE(overflow);
    EXPECT_EQ(lastDocument, 0x01020304u);

    // 37 bytes: one short of the document number.
    script = [](const Bytes&) { return ReplyFrame(0xE0, 0, Bytes(28, 0x09)); };
    ASSERT_TRUE(QueryFnState(link, fiscal, error, fail, overflow, lastDocument));
    EXPECT_EQ(lastDocument, 0x01020304u);

    // Failure: the warnings are cleared, the rest stays.
    error = fail = overflow = true;
    script = [](const Bytes&) { return ReplyFrame(0xE0, 0, {3, 0, 0, 0}); };  // 13 bytes
    EXPECT_FALSE(QueryFnState(link, fiscal, error, fail, overflow, lastDocument));
    EXPECT_FALSE(error || fail || overflow);
    EXPECT_TRUE(fiscal);
    EXPECT_EQ(lastDocument, 0x01020304u);
}

}  // namespace
