// The words of the command language: statements split into words, numbers, amounts, hex bytes,
// command codes and dates; a word that does not read throws ScriptError with the reason. And the
// words of the state file: hex bytes, escaped register text, decimal numbers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace vesklink::sim {

struct ScriptError {
    std::string text;
};

using WordList = std::vector<std::string_view>;

// The index of word among the words; their count when it is none of them.
inline size_t IndexOf(std::string_view word, std::initializer_list<std::string_view> words) {
    return static_cast<size_t>(std::find(words.begin(), words.end(), word) - words.begin());
}

// The words of a line, split at any of the blanks.
WordList SplitWords(std::string_view line, std::string_view blanks = " \t\n\v\f\r");
// Text after the first n words of a line, blanks around it trimmed.
std::string_view TextAfter(std::string_view line, const WordList& words, size_t n);

// Decimal, 0x-prefixed or h-suffixed hex, at most max.
uint64_t Unsigned(std::string_view text, uint64_t max, std::string_view what);
// Currency units with up to two decimals, to hundredths.
int64_t Amount(std::string_view text);
std::vector<uint8_t> HexBytes(std::string_view text);
// A command code, a command's name ("close-receipt"), or all (-1).
int CommandCode(std::string_view text);
// Local date and time "YYYY-MM-DDThh:mm[:ss]" to seconds since the epoch.
int64_t LocalTime(std::string_view text);

std::string Hex(std::string_view bytes, bool upper = false);
// Hex digits to bytes; "-" stands for none.
bool Unhex(std::string_view text, std::string& out);
// Register text (code page 866) as readable UTF-8; control characters and "%" are escaped so
// that one value always stays on one line.
std::string EscapeText(std::string_view cp866);
bool UnescapeText(std::string_view text, std::string& cp866);

// A decimal number, "-" before it for a negative one.
template <typename T>
bool Number(std::string_view text, T& out) {
    if (text.empty()) return false;
    const bool negative = text[0] == '-';
    if (negative && text.size() == 1) return false;
    unsigned long long value = 0;
    for (size_t i = negative ? 1 : 0; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    out = negative ? static_cast<T>(-static_cast<long long>(value)) : static_cast<T>(value);
    return true;
}

}  // namespace vesklink::sim
