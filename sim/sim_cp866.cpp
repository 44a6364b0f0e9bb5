#include "sim_cp866.h"

#include <cstdint>

#include "common/utf8.h"

namespace vesklink::sim {
namespace {

// Unicode of the upper half, bytes 0x80 to 0xFF: the Cyrillic letters in two runs (А..п from
// 0x80, р..я from 0xE0), the shades and box drawing between them, the signs after them.
constexpr char16_t kBoxDrawing[48] = {
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580};
constexpr char16_t kSigns[16] = {0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
                                 0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0};

uint32_t CodePointOf(uint8_t b) {
    if (b < 0x80) return b;
    if (b < 0xB0) return 0x0410u + (b - 0x80u);
    if (b < 0xE0) return kBoxDrawing[b - 0xB0];
    if (b < 0xF0) return 0x0440u + (b - 0xE0u);
    return kSigns[b - 0xF0];
}

char ByteForCodePoint(uint32_t cp) {
    if (cp < 0x80) return static_cast<char>(cp);
    if (cp == 0x00AB || cp == 0x00BB) return '"';
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        if (CodePointOf(static_cast<uint8_t>(b)) == cp) return static_cast<char>(b);
    }
    return '?';
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
        return;
    }
    if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (cp & 0x3F));
}

}  // namespace

std::string Cp866FromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        const common::Utf8CodePoint next = common::DecodeUtf8(utf8);
        out += next.status == common::Utf8Status::Ok ? ByteForCodePoint(next.value) : '?';
        utf8.remove_prefix(next.length);
    }
    return out;
}

std::string Utf8FromCp866(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) AppendUtf8(out, CodePointOf(static_cast<uint8_t>(c)));
    return out;
}

}  // namespace vesklink::sim
