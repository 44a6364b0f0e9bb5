// The converters between the host's text, the device's bytes and numbers, with the properties
// they must keep. The first input byte chooses the converter, the rest is its input.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "protocol/encoding.h"
#include "util/text.h"

using namespace vesklink;

namespace {

void Check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "converter property broken: %s\n", what);
    std::abort();
}

std::u16string Units(const uint8_t* data, size_t size) {
    std::u16string out;
    for (size_t i = 0; i + 1 < size; i += 2) out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    return out;
}

// Decimal amounts: any text is read without failing; a number written as integer part, "." or
// ",", and fraction digits is scaled exactly, the fraction cut (never rounded) or padded, and
// saturated at the 64-bit limits like the leading-integer rule.
void DecimalAmounts(const uint8_t* data, size_t size) {
    const std::u16string text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    for (int digits = 0; digits <= 3; ++digits) ParseScaledDecimal(text, digits);
    LeadingInteger64(text);
    if (size < 10) return;
    int64_t whole = 0;
    std::memcpy(&whole, data, sizeof whole);
    const int digits = data[8] % 4;
    const bool comma = data[8] & 4;
    std::u16string fraction;
    for (size_t i = 9; i < size && fraction.size() < 6; ++i) fraction.push_back(static_cast<char16_t>(u'0' + data[i] % 10));
    const std::u16string number = DecimalText(whole) + (comma ? u"," : u".") + fraction;
    __int128 expected = whole;
    for (int i = 0; i < digits; ++i) {
        const int digit = i < static_cast<int>(fraction.size()) ? fraction[static_cast<size_t>(i)] - u'0' : 0;
        expected = expected * 10 + (whole < 0 ? -digit : digit);
    }
    if (expected > INT64_MAX) expected = INT64_MAX;
    if (expected < INT64_MIN) expected = INT64_MIN;
    Check(ParseScaledDecimal(number, digits) == static_cast<int64_t>(expected), "scaled decimal");
}

// Base64: what the standard alphabet (or its URL form) encodes, the lenient reading decodes back;
// any text decodes to at most three bytes per four characters.
void Base64(const uint8_t* data, size_t size) {
    static const char standard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const bool urlForm = size > 0 && (data[0] & 1);
    std::u16string encoded;
    for (size_t i = 0; i < size; i += 3) {
        const uint32_t n = (uint32_t{data[i]} << 16) | (i + 1 < size ? uint32_t{data[i + 1]} << 8 : 0) |
                           (i + 2 < size ? data[i + 2] : 0);
        const size_t chars = i + 2 < size ? 4 : i + 1 < size ? 3 : 2;
        for (size_t c = 0; c < chars; ++c) {
            char ch = standard[(n >> (18 - 6 * c)) & 0x3F];
            if (urlForm && ch == '+') ch = '-';
            if (urlForm && ch == '/') ch = '_';
            encoded.push_back(static_cast<char16_t>(ch));
        }
        for (size_t c = chars; c < 4; ++c) encoded.push_back(u'=');
    }
    const Bytes decoded = DecodeBase64Lenient(encoded);
    Check(decoded == Bytes(data, data + size), "Base64 round trip");
    const std::u16string any = Units(data, size);
    Check(DecodeBase64Lenient(any).size() <= any.size() * 3 / 4, "Base64 length");
}

// Code page 866: every byte decodes to its own character and encodes back to itself; a character
// encodes to one byte, which decodes to it unless it has no byte ("?") or is a guillemet.
void CodePage866(const uint8_t* data, size_t size) {
    const Bytes bytes(data, data + size);
    const std::u16string text = DecodeDeviceText(bytes);
    Check(text.size() == bytes.size(), "one character per byte");
    Check(EncodeDeviceText(text) == bytes, "code page 866 round trip");
    const std::u16string units = Units(data, size);
    const Bytes encoded = EncodeDeviceText(units);
    Check(encoded.size() == units.size(), "one byte per unit");
    for (size_t i = 0; i < units.size(); ++i) {
        if (encoded[i] == 0x3F || encoded[i] == 0x22) continue;
        Check(DecodeDeviceText(&encoded[i], 1)[0] == units[i], "code page 866 character");
    }
    Check(DecodeFixedDeviceText(bytes, size / 3, 40).find(u'\0') == std::u16string::npos, "fixed field up to zero");
}

// UTF-16 to UTF-8 and back: well-formed text survives both ways; a lone surrogate becomes
// U+FFFD; whatever comes out is well-formed and stable under a second round.
void Utf(const uint8_t* data, size_t size) {
    const std::u16string units = Units(data, size);
    const std::string utf8 = Utf16ToUtf8(units);
    const std::u16string back = Utf8ToUtf16(utf8);
    std::u16string expected;
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            expected.push_back(u);
            expected.push_back(units[++i]);
        } else {
            expected.push_back(u >= 0xD800 && u <= 0xDFFF ? u'\uFFFD' : u);
        }
    }
    Check(back == expected, "UTF-16 round trip");
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::u16string wide = Utf8ToUtf16(raw);
    const std::string again = Utf16ToUtf8(wide);
    Check(Utf8ToUtf16(again) == wide, "UTF-8 stable");
    if (wide.find(u'\uFFFD') == std::u16string::npos) Check(again == raw, "UTF-8 round trip");
}

// Dates from the host and from replies.
void Dates(const uint8_t* data, size_t size) {
    std::u16string text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    const size_t length = text.size();
    Bytes out;
    Check(EncodeDeviceDate(text, out) == (length > 10) && out.size() == (length > 10 ? 3u : 0u) && text.empty(),
          "device date");
    const Bytes reply(data, data + size);
    const std::u16string formatted = FormatDeviceDateTime(reply, size > 0 ? data[0] % (size + 1) : 0);
    Check(formatted.empty() || formatted.size() >= 19, "device date and time");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t which = data[0];
    ++data;
    --size;
    switch (which % 5) {
        case 0: DecimalAmounts(data, size); break;
        case 1: Base64(data, size); break;
        case 2: CodePage866(data, size); break;
        case 3: Utf(data, size); break;
        case 4: Dates(data, size); break;
    }
    return 0;
}
