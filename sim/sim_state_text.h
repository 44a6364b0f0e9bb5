// The value texts of the state file: bytes in hex ("-" for none), register text as escaped UTF-8,
// decimal numbers, and a line split into words.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesklink::sim {

std::string Hex(std::string_view bytes);
bool Unhex(std::string_view text, std::string& out);
// Register text (code page 866) as readable UTF-8; control characters and "%" are escaped so
// that one value always stays on one line.
std::string EscapeText(std::string_view cp866);
bool UnescapeText(std::string_view text, std::string& cp866);

template <size_t N>
inline std::string ArrayHex(const std::array<uint8_t, N>& a) {
    return Hex(std::string_view(reinterpret_cast<const char*>(a.data()), a.size()));
}

template <size_t N>
bool ArrayUnhex(std::string_view text, std::array<uint8_t, N>& a) {
    std::string bytes;
    if (!Unhex(text, bytes) || bytes.size() != N) return false;
    for (size_t i = 0; i < N; ++i) a[i] = static_cast<uint8_t>(bytes[i]);
    return true;
}

// A line split into words at blanks.
class Words {
public:
    explicit Words(std::string_view line) : line_(line) {
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && line[i] == ' ') ++i;
            if (i >= line.size()) break;
            size_t j = i;
            while (j < line.size() && line[j] != ' ') ++j;
            starts_.push_back(i);
            words_.push_back(line.substr(i, j - i));
            i = j;
        }
    }
    size_t size() const { return words_.size(); }
    std::string_view operator[](size_t i) const { return i < words_.size() ? words_[i] : std::string_view(); }
    // The raw text after the first n words and the single blank that follows them: a text value
    // keeps its leading blanks.
    std::string_view After(size_t n) const {
        if (n == 0 || n > words_.size()) return {};
        const size_t at = starts_[n - 1] + words_[n - 1].size() + 1;
        return at < line_.size() ? line_.substr(at) : std::string_view();
    }

private:
    std::string_view line_;
    std::vector<std::string_view> words_;
    std::vector<size_t> starts_;
};

template <typename T>
bool Number(std::string_view text, T& out) {
    if (text.empty()) return false;
    bool negative = false;
    size_t i = 0;
    if (text[0] == '-') {
        negative = true;
        i = 1;
        if (text.size() == 1) return false;
    }
    unsigned long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    out = negative ? static_cast<T>(-static_cast<long long>(value)) : static_cast<T>(value);
    return true;
}

}  // namespace vesklink::sim
