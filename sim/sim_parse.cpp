#include "sim_parse.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "sim_cp866.h"
#include "sim_device.h"

namespace vesklink::sim {
namespace {

// A hex digit's value, -1 for none.
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

WordList SplitWords(std::string_view line, std::string_view blanks) {
    WordList words;
    for (size_t i = line.find_first_not_of(blanks); i != std::string_view::npos;) {
        const size_t end = std::min(line.find_first_of(blanks, i), line.size());
        words.push_back(line.substr(i, end - i));
        i = line.find_first_not_of(blanks, end);
    }
    return words;
}

std::string_view TextAfter(std::string_view line, const WordList& words, size_t n) {
    if (n >= words.size()) return {};
    std::string_view rest = line.substr(static_cast<size_t>(words[n].data() - line.data()));
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) rest.remove_suffix(1);
    return rest;
}

uint64_t Unsigned(std::string_view text, uint64_t max, std::string_view what) {
    const bool prefixed = text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X"));
    const bool suffixed = !prefixed && text.size() > 1 && (text.ends_with('h') || text.ends_with('H'));
    const size_t marks = prefixed ? 2 : suffixed ? 1 : 0;  // "0x" before the digits or "h" after them
    const std::string_view digits = text.substr(prefixed ? 2 : 0, text.size() - marks);
    const uint64_t base = prefixed || suffixed ? 16 : 10;
    const ScriptError expected{"expected " + std::string(what) + ", got \"" + std::string(text) + "\""};
    if (digits.empty()) throw expected;
    uint64_t v = 0;
    for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0 || d >= static_cast<int>(base)) throw expected;
        const auto u = static_cast<uint64_t>(d);
        if (u > max || v > (max - u) / base) {
            throw ScriptError{std::string(what) + " out of range: " + std::string(text)};
        }
        v = v * base + u;
    }
    return v;
}

int64_t Amount(std::string_view text) {
    const std::string_view t = text.substr(text.starts_with('-') || text.starts_with('+') ? 1 : 0);
    const size_t dot = t.find_first_of(".,");
    const std::string_view whole = t.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? std::string_view() : t.substr(dot + 1);
    auto digits = [](std::string_view s) {
        return s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (whole.empty() || fraction.size() > 2 || (dot != std::string_view::npos && fraction.empty()) ||
        !digits(whole) || !digits(fraction)) {
        throw ScriptError{"expected an amount such as 123.45, got \"" + std::string(text) + "\""};
    }
    const uint64_t units = Unsigned(whole, 100000000000ull, "amount");
    uint64_t cents = fraction.empty() ? 0 : Unsigned(fraction, 99, "amount");
    if (fraction.size() == 1) cents *= 10;
    const auto value = static_cast<int64_t>(units * 100 + cents);
    return text.starts_with('-') ? -value : value;
}

std::vector<uint8_t> HexBytes(std::string_view text) {
    std::vector<uint8_t> out;
    std::string digits(text);
    std::erase_if(digits, [](unsigned char c) { return std::isspace(c); });
    if (digits.size() % 2) throw ScriptError{"odd number of hex digits"};
    for (size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(Unsigned("0x" + digits.substr(i, 2), 255, "hex bytes")));
    }
    return out;
}

int CommandCode(std::string_view text) {
    if (text == "all" || text == "*") return -1;
    if (const auto named = Device::CommandNamed(text)) return *named;
    return static_cast<int>(Unsigned(text, 255, "a command code"));
}

int64_t LocalTime(std::string_view text) {
    std::tm tm{};
    const std::string s(text);
    const int n = std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                              &tm.tm_hour, &tm.tm_min, &tm.tm_sec);
    if (n < 5 || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
        tm.tm_min > 59 || tm.tm_sec > 59 || tm.tm_year < 2000 || tm.tm_year > 2099) {
        throw ScriptError{"expected a date and time such as 2024-03-07T09:05, got \"" + s + "\""};
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

std::string Hex(std::string_view bytes, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

bool Unhex(std::string_view text, std::string& out) {
    out.clear();
    if (text == "-") return true;  // no bytes
    if (text.size() % 2) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

std::string EscapeText(std::string_view cp866) {
    std::string out;
    for (char c : Utf8FromCp866(cp866)) {
        const auto b = static_cast<unsigned char>(c);
        out += b < 0x20 || b == 0x7F || c == '%' ? "%" + Hex(std::string_view(&c, 1), true) : std::string(1, c);
    }
    return out;
}

bool UnescapeText(std::string_view text, std::string& cp866) {
    std::string utf8, byte;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            utf8 += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !Unhex(text.substr(i + 1, 2), byte)) return false;
        utf8 += byte;
        i += 2;
    }
    cp866 = Cp866FromUtf8(utf8);
    return true;
}

}  // namespace vesklink::sim
