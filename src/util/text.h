// Text and number conversions shared by every subsystem. Nothing here looks at the process
// locale: the host may switch it to a comma-decimal locale at any time, and the documents, the
// device payloads and the log must not change with it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace vesklink {

// UTF-16 text to UTF-8 and back. Surrogate pairs are combined; a lone surrogate or an invalid
// UTF-8 sequence becomes U+FFFD, so nothing written to the log is malformed.
std::string Utf16ToUtf8(std::u16string_view text);
// The code point at text[i]: a surrogate pair is joined (i then stands on its second unit), a lone
// surrogate is returned as it is.
uint32_t NextCodePoint(std::u16string_view text, size_t& i);
std::u16string Utf8ToUtf16(std::string_view text);
// A code point up to U+10FFFF as one unit, or beyond U+FFFF as a surrogate pair.
void AppendCodePoint(std::u16string& out, uint32_t codePoint);

// ASCII text (literals, formatted numbers) widened unit by unit.
std::u16string Widen(std::string_view ascii);

// The leading-integer rule of the host's text conversions: optional leading white space, one
// optional sign, then decimal digits up to the first other character; no digits gives 0. Values
// beyond the range saturate at the limits, as the runtime library's conversions do.
int64_t LeadingInteger64(std::u16string_view text);
int32_t LeadingInteger32(std::u16string_view text);
int32_t ClampToInt32(int64_t value);

// Decimal forms of integers.
std::u16string DecimalText(int64_t value);
std::u16string DecimalTextUnsigned(uint64_t value);

// "%.17g": 17 significant digits, trailing zeros dropped (12.5 -> 12.5, 0.1 -> 0.10000000000000001).
std::string FormatDouble17g(double value);
// "%f": six fraction digits (100.5 -> 100.500000).
std::string FormatDoubleFixed6(double value);

// The computer's local date and time (local_time_posix.cpp, local_time_win32.cpp), and formatted
// with strftime (digits only in the formats used).
std::tm LocalTime(std::time_t time);
std::string FormatLocalNow(const char* format);

// ASCII-only case folding for the names and enumerated texts the host's documents carry.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace vesklink
