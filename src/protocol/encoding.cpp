#include "protocol/encoding.h"

#include "util/text.h"

namespace vesklink {

namespace {

// Code page 866, bytes 0x80 to 0xFF.
constexpr char16_t UpperHalf[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

uint8_t EncodeUnit(char16_t unit) {
    if (unit < 0x80) return static_cast<uint8_t>(unit);
    if (unit >= 0x0410 && unit <= 0x043F) return static_cast<uint8_t>(0x80 + (unit - 0x0410));
    if (unit >= 0x0440 && unit <= 0x044F) return static_cast<uint8_t>(0xE0 + (unit - 0x0440));
    if (unit == 0x00AB || unit == 0x00BB) return 0x22;  // guillemets print as the ASCII quote
    for (int i = 0; i < 128; ++i)
        if (UpperHalf[i] == unit) return static_cast<uint8_t>(0x80 + i);
    return 0x3F;
}

int Base64Value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+' || c == '-' || c == '.') return 62;
    if (c == '/' || c == '_' || c == ',') return 63;
    return 0;
}

}  // namespace

int64_t ParseScaledDecimal(std::u16string_view text, int digits) {
    std::u16string s(text);
    size_t separator = s.find(u'.');
    if (separator == std::u16string::npos) separator = s.find(u',');
    const size_t places = digits > 0 ? static_cast<size_t>(digits) : 0;
    if (separator == std::u16string::npos) {
        s.append(places, u'0');
    } else {
        const size_t fraction = s.size() - separator - 1;
        if (fraction >= places)
            s.resize(separator + 1 + places);
        else
            s.append(places - fraction, u'0');
        s.erase(separator, 1);
    }
    return LeadingInteger64(s);
}

int64_t HundredthsFromInteger(int64_t value) { return ParseScaledDecimal(DecimalText(value), 2); }

int64_t HundredthsFromDouble(double value) { return ParseScaledDecimal(Widen(FormatDoubleFixed6(value)), 2); }

double HundredthsToDouble(uint64_t hundredths) { return static_cast<double>(hundredths) * 0.01; }

void AppendDeviceText(Bytes& out, std::u16string_view text) {
    out.reserve(out.size() + text.size());
    for (char16_t unit : text) out.push_back(EncodeUnit(unit));
}

Bytes EncodeDeviceText(std::u16string_view text) {
    Bytes out;
    AppendDeviceText(out, text);
    return out;
}

void AppendFixedDeviceText(Bytes& out, std::u16string_view text, size_t width) {
    AppendDeviceText(out, text.substr(0, width));
    if (text.size() < width) out.insert(out.end(), width - text.size(), 0);
}

std::u16string DecodeDeviceText(const uint8_t* data, size_t count) {
    std::u16string out;
    if (!data) return out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i)
        out.push_back(data[i] < 0x80 ? static_cast<char16_t>(data[i]) : UpperHalf[data[i] - 0x80]);
    return out;
}

std::u16string DecodeDeviceText(const Bytes& bytes) { return DecodeDeviceText(bytes.data(), bytes.size()); }

std::u16string DecodeDeviceText(const Bytes& reply, size_t first, size_t count) {
    if (first >= reply.size()) return {};
    const size_t available = reply.size() - first;
    return DecodeDeviceText(reply.data() + first, count < available ? count : available);
}

std::u16string UpToFirstZero(std::u16string text) {
    const size_t zero = text.find(u'\0');
    if (zero != std::u16string::npos) text.resize(zero);
    return text;
}

std::u16string DecodeFixedDeviceText(const Bytes& reply, size_t first, size_t width) {
    return UpToFirstZero(DecodeDeviceText(reply, first, width));
}

void AppendLengthPrefixedText(Bytes& out, std::u16string_view text) {
    const std::u16string_view sent = text.substr(0, MaximumPrefixedTextUnits);
    AppendLittleEndian(out, sent.size(), 2);
    AppendDeviceText(out, sent);
}

Bytes LengthPrefixedText(std::u16string_view text) {
    Bytes out;
    AppendLengthPrefixedText(out, text);
    return out;
}

bool EncodeDeviceDate(std::u16string& text, Bytes& out) {
    const std::u16string date = std::move(text);
    text.clear();
    if (date.size() <= 10) return false;
    // Digits from `at` up to the first non-digit, at most two of them.
    auto field = [&](size_t at) {
        unsigned value = 0;
        for (size_t i = at; i < at + 2 && date[i] >= u'0' && date[i] <= u'9'; ++i) value = value * 10 + (date[i] - u'0');
        return static_cast<uint8_t>(value);
    };
    out.push_back(field(2));
    out.push_back(field(5));
    out.push_back(field(8));
    return true;
}

std::u16string FormatDeviceDateTime(const Bytes& reply, size_t first) {
    if (first >= reply.size() || reply.size() - first < 5) return {};
    // Each field in two digits at least, followed by its separator.
    std::u16string out = u"20";
    for (size_t i = 0; i < 5; ++i) {
        if (reply[first + i] < 10) out.push_back(u'0');
        out += DecimalTextUnsigned(reply[first + i]) + u"--T::"[i];
    }
    return out + u"00";
}

std::u16string BitListText(uint8_t bits) {
    std::u16string out;
    for (int bit = 0; bit < 8; ++bit) {
        if (!(bits & (1u << bit))) continue;
        if (!out.empty()) out.push_back(u',');
        out.push_back(static_cast<char16_t>(u'0' + bit));
    }
    return out;
}

Bytes DecodeBase64Lenient(std::u16string_view text) {
    Bytes out;
    out.reserve(text.size() / 4 * 3 + 2);
    uint32_t accumulator = 0;
    int bits = 0;
    for (char16_t unit : text) {
        const uint8_t c = static_cast<uint8_t>(unit & 0xFF);
        if (c == '=') break;
        accumulator = (accumulator << 6) | static_cast<uint32_t>(Base64Value(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>((accumulator >> bits) & 0xFF));
        }
    }
    return out;
}

}  // namespace vesklink
