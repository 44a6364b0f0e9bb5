#include "sim_state_text.h"

#include <cstdio>

#include "sim_cp866.h"

namespace vesklink::sim {

std::string Hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out.empty() ? "-" : out;
}

bool Unhex(std::string_view text, std::string& out) {
    out.clear();
    if (text == "-") return true;
    if (text.size() % 2) return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

std::string EscapeText(std::string_view cp866) {
    std::string out;
    for (char c : Utf8FromCp866(cp866)) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '%') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", b);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

bool UnescapeText(std::string_view text, std::string& cp866) {
    std::string utf8;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            utf8 += text[i];
            continue;
        }
        std::string byte;
        if (i + 2 >= text.size()) return false;
        if (!Unhex(text.substr(i + 1, 2), byte)) return false;
        utf8 += byte;
        i += 2;
    }
    cp866 = Cp866FromUtf8(utf8);
    return true;
}

}  // namespace vesklink::sim
