#include "pluginhost/text_encoding.h"

#include <cstdint>

namespace udmhost {

namespace {

// Windows-1252 differs from Latin-1 in 0x80..0x9F; zero marks unused codes.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string codePageToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        uint32_t code = byte;
        if (byte >= 0x80 && byte < 0xA0) code = kHighControls[byte - 0x80] != 0 ? kHighControls[byte - 0x80] : 0xFFFD;
        appendUtf8(out, code);
    }
    return out;
}

size_t displayWidth(std::string_view utf8) {
    size_t width = 0;
    for (char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
    return width;
}

}  // namespace udmhost
