// The shared device commands against a scripted register on a byte stream in memory.
#include <gtest/gtest.h>

#include <functional>

#include "protocol/device_queries.h"
#include "protocol/encoding.h"
#include "support/memory_stream.h"
#include "support/step_clock.h"
#include "support/wire.h"

using namespace vesklink;
using vktest::ReplyFrame;

namespace {

class Queries : public ::testing::Test {
protected:
    void SetUp() override {
        link.SetReplyClock(&clock);
        stream.responder = [this](const Bytes& request) { return script(request); };
    }
    // The payload of the n-th request: after command and access code, before the checksum.
    Bytes Payload(size_t n) {
        const Bytes& request = stream.writes.at(n);
        return Bytes(request.begin() + 8, request.end() - 1);
    }

    vktest::MemoryStream stream;
    DeviceLink link{stream};
    vktest::StepClock clock;
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
    EXPECT_EQ(ReadRegistrationTag(link, 0x02, 1048), (Bytes{0x8E, 0x8E, 0x8E, 0x00}));
    EXPECT_EQ(Payload(0), (Bytes{0x02, 0x18, 0x04}));
    EXPECT_EQ(ReadRegistrationText(link, 0x02, 1048), std::u16string(u"ООО\0", 4));
}

TEST_F(Queries, RegistrationTagNeedsTheWholeValue) {
    // The length promises five bytes, the reply carries four.
    script = [](const Bytes&) { return TagReply(1018, {0x31, 0x32, 0x33, 0x34}, 5); };
    EXPECT_FALSE(ReadRegistrationTag(link, 1, 1018));
    EXPECT_FALSE(ReadRegistrationText(link, 1, 1018));
    // Too short to hold the length at all.
    script = [](const Bytes&) { return ReplyFrame(0xE9, 0, {0x01, 0x02}); };
    EXPECT_FALSE(ReadRegistrationText(link, 1, 1018));
    // Refused by the device.
    script = [](const Bytes&) { return ReplyFrame(0xE9, 2, {0x00, 0x00, 0x01, 0x00, 0x31}); };
    EXPECT_FALSE(ReadRegistrationText(link, 1, 1018));
    // An empty value is a successful read of empty text.
    script = [](const Bytes&) { return TagReply(1018, {}, 0); };
    EXPECT_EQ(ReadRegistrationText(link, 1, 1018), u"");
}

TEST_F(Queries, RegistrationFlag) {
    script = [](const Bytes&) { return TagReply(1056, {}, 0); };
    EXPECT_FALSE(ReadRegistrationFlag(link, 1, 1056));  // empty value
    script = [](const Bytes&) { return TagReply(1056, {0x02}, 1); };
    EXPECT_EQ(ReadRegistrationFlag(link, 1, 1056), true);
    script = [](const Bytes&) { return TagReply(1056, {0x00, 0x01}, 2); };
    EXPECT_EQ(ReadRegistrationFlag(link, 1, 1056), false);
    script = [](const Bytes&) { return ReplyFrame(0xE9, 0x0101); };
    EXPECT_FALSE(ReadRegistrationFlag(link, 1, 1056));
}

TEST_F(Queries, DeviceMode) {
    script = [](const Bytes&) { return ReplyFrame(0xE2, 0, {0, 0, 0, 0, 0x03}); };
    EXPECT_EQ(QueryDeviceMode(link), 3);
    EXPECT_TRUE(Payload(0).empty());
    script = [](const Bytes&) { return ReplyFrame(0xE2, 0, {0, 0, 0}); };  // 12 bytes
    EXPECT_FALSE(QueryDeviceMode(link));
}

TEST_F(Queries, FnState) {
    // Full reply: state 3, warnings 0b101, document 0x01020304 at offsets 34-37.
    Bytes full(30, 0);
    full[0] = 3;
    full[4] = 0x05;
    full[26] = 0x04;
    full[27] = 0x03;
    full[28] = 0x02;
    full[29] = 0x01;
    script = [&](const Bytes&) { return ReplyFrame(0xE0, 0, full); };
    std::optional<FnState> state = QueryFnState(link);
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->FiscalMode);
    EXPECT_TRUE(state->Error);
    EXPECT_FALSE(state->Fail);
    EXPECT_TRUE(state->Overflow);
    EXPECT_EQ(state->LastDocumentNumber, 0x01020304u);

    // A reply of 14 bytes: flags read, the document number is not in it.
    script = [](const Bytes&) { return ReplyFrame(0xE0, 0, {1, 0, 0, 0, 0x02}); };
    state = QueryFnState(link);
    ASSERT_TRUE(state);
    EXPECT_FALSE(state->FiscalMode);
    EXPECT_FALSE(state->Error);
    EXPECT_TRUE(state->Fail);
    EXPECT_FALSE(state->Overflow);
    EXPECT_FALSE(state->LastDocumentNumber);

    // 37 bytes: one short of the document number.
    script = [](const Bytes&) { return ReplyFrame(0xE0, 0, Bytes(28, 0x09)); };
    state = QueryFnState(link);
    ASSERT_TRUE(state);
    EXPECT_FALSE(state->LastDocumentNumber);

    // 13 bytes: no state at all.
    script = [](const Bytes&) { return ReplyFrame(0xE0, 0, {3, 0, 0, 0}); };
    EXPECT_FALSE(QueryFnState(link));
}

}  // namespace
