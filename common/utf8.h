// UTF-8 for the tools around the driver (vesklink-cli and vesklink-sim): one code point at a time,
// with the difference between a malformed sequence and one the text ends in the middle of. The
// driver keeps its own conversions in src/util; nothing here includes the driver.
#pragma once

#include <cstddef>
#include <string_view>

namespace vesklink::common {

enum class Utf8Status {
    Ok,
    Invalid,   // a byte that cannot start a character or does not continue it, an overlong form,
               // a surrogate or a value beyond U+10FFFF
    CutShort,  // the text ends inside a sequence that was well formed so far
};

struct Utf8CodePoint {
    char32_t value = 0;  // the code point when status is Ok, else 0
    size_t length = 0;   // bytes taken: the sequence when Ok, 1 otherwise (0 for empty text)
    Utf8Status status = Utf8Status::Ok;
};

// The code point at the start of text. Empty text is CutShort with length 0.
Utf8CodePoint DecodeUtf8(std::string_view text);

}  // namespace vesklink::common
