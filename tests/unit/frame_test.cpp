// Frame layout, checksum and the integer helpers of the protocol.
#include <gtest/gtest.h>

#include "protocol/device_link.h"
#include "protocol/frame.h"

using namespace vesklink;

namespace {

TEST(Frame, ChecksumFoldsTheSumsFourBytes) {
    EXPECT_EQ(FrameChecksum(Bytes{0x61, 0x62, 0x63}), 0x27);  // 0x126 -> 0x01 ^ 0x26
    EXPECT_EQ(FrameChecksum(Bytes{}), 0x00);
    // 300 bytes of 0xFF sum to 0x12AD4: 0x01 ^ 0x2A ^ 0xD4.
    EXPECT_EQ(FrameChecksum(Bytes(300, 0xFF)), 0x01 ^ 0x2A ^ 0xD4);
    // 70000 bytes of 0xFF sum to 0x1105E90 (carries into the fourth byte).
    EXPECT_EQ(FrameChecksum(Bytes(70000, 0xFF)), 0x01 ^ 0x10 ^ 0x5E ^ 0x90);
}

// The frame of a command without payload: Exchange.RequestFrameOfTheDeviceTest.
TEST(Frame, BuildFrameCountsCommandAndBody) {
    const Bytes body = {0x65, 0x5E, 0x07, 0x00, 0x14, 0x00};
    const Bytes withPayload = BuildFrame(0x04, body);
    ASSERT_EQ(withPayload.size(), 11u);
    EXPECT_EQ(withPayload[1], 7);
    EXPECT_EQ(withPayload[2], 0);
    EXPECT_EQ(withPayload[3], 0x04);
    EXPECT_EQ(withPayload.back(), FrameChecksum(Bytes(withPayload.begin() + 1, withPayload.end() - 1)));
}

TEST(Frame, LittleEndianBytes) {
    EXPECT_EQ(LittleEndianBytes(0x0102030405060708ull, 8), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(LittleEndianBytes(0x1234, 1), Bytes{0x34});
    EXPECT_EQ(LittleEndianBytes(1500, 5), (Bytes{0xDC, 0x05, 0, 0, 0}));
    EXPECT_EQ(LittleEndianBytes(0xFFFFFFFFFFFFFFFFull, 10), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(LittleEndianBytes(static_cast<uint64_t>(int64_t{-2}), 8), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(LittleEndianBytes(7, 0).empty());
    Bytes out{0xAA};
    AppendLittleEndian(out, 0x0A0B, 2);
    EXPECT_EQ(out, (Bytes{0xAA, 0x0B, 0x0A}));
}

TEST(Frame, ReplyIntegerStaysInsideTheReply) {
    Reply reply(Bytes{0x06, 0x01, 0x06, 0x00, 0x13, 0x00, 0x00, 0x00, 0x34, 0x12, 0x99}, true);
    EXPECT_EQ(reply.Integer(8, 9), 0x1234u);
    EXPECT_EQ(reply.Integer(10, 10), 0x99u);
    EXPECT_EQ(reply.Integer(9, 8), 0u);
    // Ranges reaching past the end give 0 instead of reading beyond the reply.
    EXPECT_EQ(reply.Integer(8, 11), 0u);
    EXPECT_EQ(reply.Integer(34, 37), 0u);
    EXPECT_EQ(reply.Integer(static_cast<size_t>(-1), static_cast<size_t>(-1)), 0u);
    // Only eight bytes fit the result.
    reply = Reply(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, true);
    EXPECT_EQ(reply.Integer(0, 9), 0x0807060504030201ull);
    reply = Reply();
    EXPECT_EQ(reply.Integer(0, 0), 0u);
}

}  // namespace
