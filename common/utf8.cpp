#include "utf8.h"

namespace vesklink::common {

namespace {

struct LeadByte {
    size_t length;               // bytes in the whole sequence
    char32_t bits;               // the payload bits of the lead byte
    unsigned char low, high;     // the range the second byte must lie in
};

// The well-formed sequences: the second byte's range excludes overlong forms (after E0 and F0),
// surrogates (after ED) and values beyond U+10FFFF (after F4). C0, C1 and F5 to FF never lead.
bool ReadLead(unsigned char b, LeadByte& lead) {
    if (b >= 0xC2 && b <= 0xDF) lead = {2, b & 0x1Fu, 0x80, 0xBF};
    else if (b == 0xE0) lead = {3, 0x0, 0xA0, 0xBF};
    else if (b == 0xED) lead = {3, 0xD, 0x80, 0x9F};
    else if (b >= 0xE1 && b <= 0xEF) lead = {3, b & 0x0Fu, 0x80, 0xBF};
    else if (b == 0xF0) lead = {4, 0x0, 0x90, 0xBF};
    else if (b >= 0xF1 && b <= 0xF3) lead = {4, b & 0x07u, 0x80, 0xBF};
    else if (b == 0xF4) lead = {4, 0x4, 0x80, 0x8F};
    else return false;
    return true;
}

Utf8CodePoint Failed(Utf8Status status) { return {0, 1, status}; }

}  // namespace

Utf8CodePoint DecodeUtf8(std::string_view text) {
    if (text.empty()) return {0, 0, Utf8Status::CutShort};
    const auto first = static_cast<unsigned char>(text[0]);
    if (first < 0x80) return {first, 1, Utf8Status::Ok};
    LeadByte lead{};
    if (!ReadLead(first, lead)) return Failed(Utf8Status::Invalid);
    char32_t value = lead.bits;
    for (size_t k = 1; k < lead.length; ++k) {
        if (k >= text.size()) return Failed(Utf8Status::CutShort);
        const auto next = static_cast<unsigned char>(text[k]);
        const unsigned char low = k == 1 ? lead.low : 0x80, high = k == 1 ? lead.high : 0xBF;
        if (next < low || next > high) return Failed(Utf8Status::Invalid);
        value = (value << 6) | (next & 0x3Fu);
    }
    return {value, lead.length, Utf8Status::Ok};
}

}  // namespace vesklink::common
