// How values travel in payloads and replies: scaled decimals for money and quantities, the
// device's code page 866 text, dates, bit sets and Base64 input from the host's documents.
// All functions are pure and reentrant; the code page tables are constant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/frame.h"

namespace vesklink {

// Decimal text scaled by 10^digits: the first "." (else the first ",") separates the fraction,
// which is cut to `digits` places (never rounded) or padded with zeros; the rest is read with the
// leading-integer rule (white space, one sign, digits). Text without digits gives 0. Money uses 2
// digits (hundredths), quantities 3 (thousandths).
int64_t ParseScaledDecimal(std::u16string_view text, int digits);

// A number the host passed as a variant, in hundredths: an integer through its decimal text, a
// double through "%f" (six fraction digits), then ParseScaledDecimal with 2 digits. 100.5 gives
// 10050, -20 gives -2000.
int64_t HundredthsFromInteger(int64_t value);
int64_t HundredthsFromDouble(double value);

// An amount in hundredths as the double the result documents carry ("%.17g" when written):
// converted and multiplied by 0.01, so 1005 is written 10.050000000000001.
double HundredthsToDouble(uint64_t hundredths);

// Text in the device's code page 866, one byte per UTF-16 unit. Guillemets become the ASCII
// double quote; a unit without a mapping becomes "?".
Bytes EncodeDeviceText(std::u16string_view text);
void AppendDeviceText(Bytes& out, std::u16string_view text);
// A fixed-width field: encoded, then cut to `width` bytes or padded with 0x00 up to it.
void AppendFixedDeviceText(Bytes& out, std::u16string_view text, size_t width);

// Device text back to UTF-16; every byte has a character, 0x00 included.
std::u16string DecodeDeviceText(const uint8_t* data, size_t count);
std::u16string DecodeDeviceText(const Bytes& bytes);
// `count` bytes of a reply from offset `first`, clipped to the reply's end.
std::u16string DecodeDeviceText(const Bytes& reply, size_t first, size_t count);
// Fixed-width device fields are padded with zero bytes: their text ends at the first zero.
std::u16string UpToFirstZero(std::u16string text);
// A fixed-width text field of a reply: DecodeDeviceText up to the field's first zero byte.
std::u16string DecodeFixedDeviceText(const Bytes& reply, size_t first, size_t width);

// A 16-bit little-endian count and the encoded text. The count cannot exceed 65535, so a longer
// text is cut to its first 65535 units; the count always equals the bytes that follow.
inline constexpr size_t MaximumPrefixedTextUnits = 0xFFFF;
Bytes LengthPrefixedText(std::u16string_view text);
void AppendLengthPrefixedText(Bytes& out, std::u16string_view text);

// A date of the form YYYY-MM-DD... (at least 11 characters, as in YYYY-MM-DDThh:mm:ss) as three
// bytes: year within the century, month, day. Appends them to `out` and returns true; text of 10
// characters or fewer appends nothing and returns false. The text is consumed (emptied) either way.
bool EncodeDeviceDate(std::u16string& text, Bytes& out);

// Five reply bytes from `first` (year in the century, month, day, hour, minute) as
// "20YY-MM-DDThh:mm:00". Empty text when the reply does not hold all five bytes.
std::u16string FormatDeviceDateTime(const Bytes& reply, size_t first);

// The numbers of the set bits, ascending, joined by ","; 0x23 gives "0,1,5", 0 gives "".
std::u16string BitListText(uint8_t bits);

// Base64 from the host's documents, read leniently: every UTF-16 unit is reduced to its low byte;
// the standard alphabet, "-" and "." also as 62, "_" and "," also as 63, any other character as 0;
// the first "=" ends the data. Bits that do not make a whole byte are dropped.
Bytes DecodeBase64Lenient(std::u16string_view text);

}  // namespace vesklink
