// The words of the command language: statements split into words, numbers, amounts, hex bytes,
// command codes and dates. A word that does not read throws ScriptError with the reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesklink::sim {

struct ScriptError {
    std::string text;
};

using WordList = std::vector<std::string_view>;

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

}  // namespace vesklink::sim
