// Money, quantities, device text, dates, bit sets and Base64 input.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "protocol/encoding.h"
#include "util/text.h"

using namespace vesklink;

namespace {

TEST(Encoding, ParseScaledDecimalCutsNeverRounds) {
    EXPECT_EQ(ParseScaledDecimal(u"12,5", 2), 1250);
    EXPECT_EQ(ParseScaledDecimal(u"12.345", 2), 1234);
    EXPECT_EQ(ParseScaledDecimal(u"12.999", 2), 1299);
    EXPECT_EQ(ParseScaledDecimal(u"7", 2), 700);
    EXPECT_EQ(ParseScaledDecimal(u"", 2), 0);
    EXPECT_EQ(ParseScaledDecimal(u"abc", 2), 0);
    EXPECT_EQ(ParseScaledDecimal(u"-3.5", 2), -350);
    EXPECT_EQ(ParseScaledDecimal(u"  +0.07", 2), 7);
    EXPECT_EQ(ParseScaledDecimal(u".5", 2), 50);
    EXPECT_EQ(ParseScaledDecimal(u"1.5", 3), 1500);
    EXPECT_EQ(ParseScaledDecimal(u"2.", 3), 2000);
    // "." wins over an earlier ","; the text after the cut is read up to its first non-digit.
    EXPECT_EQ(ParseScaledDecimal(u"1,000.25", 2), 1);
    EXPECT_EQ(ParseScaledDecimal(u"10 RUB", 2), 10);
    EXPECT_EQ(ParseScaledDecimal(u"99999999999999999999", 2), INT64_MAX);
}

TEST(Encoding, VariantNumbersBecomeHundredthsWhateverTheLocale) {
    const char* active = nullptr;
    for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "Russian_Russia.1251"})
        if ((active = std::setlocale(LC_ALL, name))) break;
    EXPECT_EQ(HundredthsFromDouble(100.5), 10050);
    EXPECT_EQ(HundredthsFromDouble(150.759), 15075);
    EXPECT_EQ(HundredthsFromDouble(-0.015), -1);
    EXPECT_EQ(HundredthsFromDouble(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(HundredthsFromInteger(-20), -2000);
    EXPECT_EQ(HundredthsFromInteger(0), 0);
    std::setlocale(LC_ALL, "C");
}

TEST(Encoding, AmountsIntoDocuments) {
    EXPECT_EQ(FormatDouble17g(HundredthsToDouble(1005)), "10.050000000000001");
    EXPECT_EQ(FormatDouble17g(HundredthsToDouble(150000)), "1500");
    EXPECT_EQ(FormatDouble17g(HundredthsToDouble(0)), "0");
}

TEST(Encoding, DeviceTextCodePage866) {
    EXPECT_EQ(EncodeDeviceText(u"Ёлка"), (Bytes{0xF0, 0xAB, 0xAA, 0xA0}));
    EXPECT_EQ(EncodeDeviceText(u"\u00ABx\u00BB"), (Bytes{0x22, 0x78, 0x22}));
    EXPECT_EQ(EncodeDeviceText(u"\u20AC"), Bytes{0x3F});
    EXPECT_EQ(EncodeDeviceText(u"АЯаяпр№\u00A0"), (Bytes{0x80, 0x9F, 0xA0, 0xEF, 0xAF, 0xE0, 0xFC, 0xFF}));
    // One byte per UTF-16 unit: a surrogate pair is two unmapped units.
    EXPECT_EQ(EncodeDeviceText(u"a\U0001F600b"), (Bytes{0x61, 0x3F, 0x3F, 0x62}));
    EXPECT_EQ(EncodeDeviceText(std::u16string(u"\0\x7F\x80", 3)), (Bytes{0x00, 0x7F, 0x3F}));

    EXPECT_EQ(DecodeDeviceText(Bytes{0x8E, 0x8E, 0x8E}), u"ООО");
    EXPECT_EQ(DecodeDeviceText(Bytes{0xB0, 0xDB, 0xF8, 0x41, 0x00}), std::u16string(u"\u2591\u2588\u00B0A\0", 5));
    // Every upper byte decodes to a character that encodes back to it.
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::u16string text = DecodeDeviceText(Bytes{static_cast<uint8_t>(b)});
        ASSERT_EQ(text.size(), 1u);
        EXPECT_GE(text[0], 0x80) << b;
        EXPECT_EQ(EncodeDeviceText(text), Bytes{static_cast<uint8_t>(b)}) << b;
    }
}

TEST(Encoding, DecodeFromAReplyStaysInsideIt) {
    const Bytes reply = {0x06, 0x01, 0x41, 0x42, 0x43};
    EXPECT_EQ(DecodeDeviceText(reply, 2, 2), u"AB");
    EXPECT_EQ(DecodeDeviceText(reply, 3, 20), u"BC");
    EXPECT_EQ(DecodeDeviceText(reply, 5, 3), u"");
    EXPECT_EQ(DecodeDeviceText(reply, 400, 3), u"");
}

TEST(Encoding, FixedWidthFields) {
    Bytes out;
    AppendFixedDeviceText(out, u"12", 4);
    AppendFixedDeviceText(out, u"абвгд", 3);
    EXPECT_EQ(out, (Bytes{0x31, 0x32, 0, 0, 0xA0, 0xA1, 0xA2}));
}

TEST(Encoding, LengthPrefixedTextCountMatchesItsBytes) {
    EXPECT_EQ(LengthPrefixedText(u""), (Bytes{0, 0}));
    EXPECT_EQ(LengthPrefixedText(u"Ок"), (Bytes{2, 0, 0x8E, 0xAA}));
    const std::u16string longest(65535, u'я');
    const Bytes full = LengthPrefixedText(longest);
    ASSERT_EQ(full.size(), 65537u);
    EXPECT_EQ(full[0], 0xFF);
    EXPECT_EQ(full[1], 0xFF);
    // Longer text cannot be counted in 16 bits: the first 65535 units go out, under their count.
    const Bytes cut = LengthPrefixedText(std::u16string(70000, u'x'));
    ASSERT_EQ(cut.size(), 65537u);
    EXPECT_EQ(cut[0] | (cut[1] << 8), 65535);
    Bytes appended{0x09};
    AppendLengthPrefixedText(appended, u"z");
    EXPECT_EQ(appended, (Bytes{0x09, 1, 0, 0x7A}));
}

TEST(Encoding, DeviceDateConsumesItsText) {
    Bytes out{0xAA};
    std::u16string text = u"2021-03-07T10:00:00";
    EXPECT_TRUE(EncodeDeviceDate(text, out));
    EXPECT_EQ(out, (Bytes{0xAA, 21, 3, 7}));
    EXPECT_TRUE(text.empty());

    text = u"2021-03-07";  // ten characters: refused
    out.clear();
    EXPECT_FALSE(EncodeDeviceDate(text, out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(text.empty());

    text = u"1999-1x-5 T";  // digits up to the first non-digit
    EXPECT_TRUE(EncodeDeviceDate(text, out));
    EXPECT_EQ(out, (Bytes{99, 1, 5}));
}

TEST(Encoding, DeviceDateTimeFromAReply) {
    const Bytes reply = {0, 0, 0x15, 0x03, 0x07, 0x09, 0x05};
    EXPECT_EQ(FormatDeviceDateTime(reply, 2), u"2021-03-07T09:05:00");
    EXPECT_EQ(FormatDeviceDateTime(Bytes{5, 12, 31, 23, 59}, 0), u"2005-12-31T23:59:00");
    EXPECT_EQ(FormatDeviceDateTime(Bytes{200, 0, 0, 0, 0}, 0), u"20200-00-00T00:00:00");
    // Fewer than five bytes from the offset on: nothing is read.
    EXPECT_EQ(FormatDeviceDateTime(reply, 3), u"");
    EXPECT_EQ(FormatDeviceDateTime(reply, 100), u"");
}

TEST(Encoding, BitListText) {
    EXPECT_EQ(BitListText(0), u"");
    EXPECT_EQ(BitListText(0x80), u"7");
    EXPECT_EQ(BitListText(0x23), u"0,1,5");
    EXPECT_EQ(BitListText(0x21), u"0,5");
    EXPECT_EQ(BitListText(0xFF), u"0,1,2,3,4,5,6,7");
}

TEST(Encoding, LenientBase64) {
    auto text = [](const Bytes& b) { return std::string(b.begin(), b.end()); };
    EXPECT_EQ(text(DecodeBase64Lenient(u"TWFu")), "Man");
    EXPECT_EQ(text(DecodeBase64Lenient(u"TWE=")), "Ma");
    EXPECT_EQ(text(DecodeBase64Lenient(u"TQ==")), "M");
    EXPECT_EQ(text(DecodeBase64Lenient(u"TWE")), "Ma");  // padding may be missing
    EXPECT_EQ(DecodeBase64Lenient(u"AAA="), (Bytes{0, 0}));
    EXPECT_TRUE(DecodeBase64Lenient(u"").empty());
    EXPECT_TRUE(DecodeBase64Lenient(u"=AAA").empty());
    // The URL-safe and the comma/point variants of 62 and 63.
    EXPECT_EQ(DecodeBase64Lenient(u"+/+/"), DecodeBase64Lenient(u"-_.,"));
    EXPECT_EQ(DecodeBase64Lenient(u"+/+/"), (Bytes{0xFB, 0xFF, 0xBF}));
    // Any other character counts as 0; each unit is reduced to its low byte (U+0154 -> 'T').
    EXPECT_EQ(DecodeBase64Lenient(u"A A!"), (Bytes{0, 0, 0}));
    EXPECT_EQ(text(DecodeBase64Lenient(u"\u0154WFu")), "Man");
    // A marking code of 8 and more bytes.
    const Bytes code = DecodeBase64Lenient(u"AQIDBAUGBwgJCg==");
    EXPECT_EQ(code, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

}  // namespace
