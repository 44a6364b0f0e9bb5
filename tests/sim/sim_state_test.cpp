// The simulator without a line: its frames, its code page and its state file.
#include <gtest/gtest.h>

#include "sim.h"
#include "sim_cp866.h"
#include "sim_device.h"
#include "sim_state.h"
#include "sim_test_link.h"

using namespace simtest;

namespace {

TEST(SimFrame, ChecksumIsTheXorOfTheSumsBytes) {
    const uint8_t abc[] = {0x61, 0x62, 0x63};
    EXPECT_EQ(Checksum(abc, 3), 0x27);
    vesklink::sim::Simulator sim;
    // A frame for 0x13 is nine bytes, and the reply's checksum covers length to data.
    const Bytes reply = sim.Exchange(Frame(0x13));
    EXPECT_TRUE(WellFormedReply(reply, 0x13));
}

TEST(SimText, CodePage866RoundTripsAndErrorTextsFitTheField) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(vesklink::sim::Cp866FromUtf8(vesklink::sim::Utf8FromCp866(all)), all);
    EXPECT_EQ(vesklink::sim::Cp866FromUtf8("Ёлка «x» €"), "\xF0\xAB\xAA\xA0 \"x\" ?");
    EXPECT_EQ(vesklink::sim::Cp866FromUtf8("a\xC3"), "a?");  // a cut sequence
    for (unsigned code = 0; code < 0x60; ++code) {
        const std::string text = vesklink::sim::Cp866FromUtf8(vesklink::sim::ErrorTextUtf8(static_cast<uint16_t>(code)));
        EXPECT_LE(text.size(), 40u) << code;
        EXPECT_EQ(text.find('?'), std::string::npos) << code;
    }
}

TEST(SimState, EverythingRoundTripsThroughTheStateFile) {
    vesklink::sim::Simulator sim;
    const Bytes header = {0x04, 0x00, 0x00, 0x01, 0x00};
    for (const auto& [command, payload] : std::vector<std::pair<uint8_t, Bytes>>{
             {0xD9, {0, 0}},
             {0x8D, {0x04, 0x00, 0x00, 0x01}},
             {0x80, Position(Cp866(u"Сыр 100%\n\"x\""), 1234, 5678, 2)},
             {0x85, Close(10000, 0)},
             {0xD6, Cat({header, Counted("r"), {0x15, 0x03, 0x05}, Counted("7")})},
             {0xD8, Cat({Le(1008, 2), {0x00}, Counted("a%b")})},
             {0x80, Position("x", 1000, 100)},
             {0xD8, Cat({Le(1225, 2), {0x00}, Counted("v")})},
         }) {
        ASSERT_EQ(Status(sim.Exchange(Frame(command, payload))), 0) << int(command);
    }
    sim.Execute("set attr 1048 text a\tb\nset clock 2024-01-02T03:04\nset paper out");
    const auto state = sim.State();
    const std::string text = vesklink::sim::SerializeState(state);
    vesklink::sim::DeviceState parsed;
    std::string error;
    ASSERT_TRUE(vesklink::sim::ParseState(text, parsed, error)) << error;
    EXPECT_EQ(vesklink::sim::SerializeState(parsed), text);
    EXPECT_EQ(parsed.document.positions.size(), 1u);
    EXPECT_EQ(parsed.document.positions[0].tags.size(), 1u);
    EXPECT_EQ(parsed.document.pendingTags.size(), 1u);
    EXPECT_EQ(parsed.journal.back().lines, state.journal.back().lines);
    EXPECT_TRUE(parsed.paperOut);
    // Unknown keys and bad values are refused, not skipped.
    EXPECT_FALSE(vesklink::sim::ParseState(text.substr(0, text.size() - 4) + "bogus 1\nend\n", parsed, error));
    EXPECT_FALSE(vesklink::sim::ParseState("vesklink-sim state 1\ncash x\nend\n", parsed, error));
}

}  // namespace
