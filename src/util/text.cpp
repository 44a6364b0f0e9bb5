#include "util/text.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <limits>

namespace vesklink {

uint32_t NextCodePoint(std::u16string_view text, size_t& i) {
    const uint32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
        return 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
    return unit;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = NextCodePoint(text, i);
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0xFFFD;
        size_t need = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            need = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            need = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            need = 3;
        }
        ++i;
        if (b >= 0x80 && need == 0) {
            out.push_back(0xFFFD);
            continue;
        }
        size_t got = 0;
        while (got < need && i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
            ++i;
            ++got;
        }
        const bool overlong = (need == 1 && cp < 0x80) || (need == 2 && cp < 0x800) || (need == 3 && cp < 0x10000);
        if (got < need || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            continue;
        }
        AppendCodePoint(out, cp);
    }
    return out;
}

void AppendCodePoint(std::u16string& out, uint32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
        return;
    }
    out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
}

std::u16string Widen(std::string_view ascii) {
    std::u16string out;
    out.reserve(ascii.size());
    for (char c : ascii) out.push_back(static_cast<unsigned char>(c));
    return out;
}

namespace {
bool IsBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
}  // namespace

int64_t LeadingInteger64(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulate as a negative number so that the full range down to INT64_MIN fits.
    int64_t value = 0;
    bool overflow = false;
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const int digit = text[i] - u'0';
        if (value < (kMin + digit) / 10) {
            overflow = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (overflow) return negative ? kMin : std::numeric_limits<int64_t>::max();
    if (negative) return value;
    if (value == kMin) return std::numeric_limits<int64_t>::max();
    return -value;
}

int32_t LeadingInteger32(std::u16string_view text) { return ClampToInt32(LeadingInteger64(text)); }

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

template <typename Integer>
std::u16string Decimal(Integer value) {
    char buf[32];
    return Widen(std::string_view(buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, value).ptr - buf)));
}

std::u16string DecimalText(int64_t value) { return Decimal(value); }
std::u16string DecimalTextUnsigned(uint64_t value) { return Decimal(value); }

std::string FormatDouble17g(double value) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 17);
    return std::string(buf, res.ptr);
}

std::string FormatDoubleFixed6(double value) {
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    if (res.ec != std::errc()) return "0.000000";
    return std::string(buf, res.ptr);
}

std::string FormatLocalNow(const char* format) {
    const std::tm local = LocalTime(std::time(nullptr));
    char buf[64];
    return std::string(buf, std::strftime(buf, sizeof buf, format, &local));
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace vesklink
