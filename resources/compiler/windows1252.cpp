#include "windows1252.h"

#include <array>
#include <cstdint>

namespace udm::rc {
namespace {

// Code points of the bytes 0x80 to 0x9F; 0 where the code page has a hole.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::optional<char> encode(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(static_cast<unsigned char>(cp));
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] != 0 && kHighControls[i] == cp)
            return static_cast<char>(static_cast<unsigned char>(0x80 + i));
    }
    return std::nullopt;
}

// Decodes one code point at `pos`, advancing it; nothing on malformed input
// (truncated, overlong, surrogate or beyond U+10FFFF).
std::optional<char32_t> decode(std::string_view s, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(s[pos++]);
    if (lead < 0x80) return lead;
    int extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) { extra = 1; cp = lead & 0x1Fu; minimum = 0x80; }
    else if ((lead & 0xF0) == 0xE0) { extra = 2; cp = lead & 0x0Fu; minimum = 0x800; }
    else if ((lead & 0xF8) == 0xF0) { extra = 3; cp = lead & 0x07u; minimum = 0x10000; }
    else return std::nullopt;
    for (int i = 0; i < extra; ++i) {
        if (pos >= s.size()) return std::nullopt;
        const auto next = static_cast<unsigned char>(s[pos++]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (next & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    return cp;
}

}  // namespace

std::optional<std::string> toWindows1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const auto cp = decode(utf8, pos);
        if (!cp) return std::nullopt;
        const auto byte = encode(*cp);
        if (!byte) return std::nullopt;
        out.push_back(*byte);
    }
    return out;
}

}  // namespace udm::rc
