#include "netlist/spice_number.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace udmhost {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool startsWith(std::string_view text, size_t at, std::string_view word) {
    if (text.size() - at < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (lower(text[at + i]) != word[i]) return false;
    return true;
}

}  // namespace

std::optional<double> parseSpiceNumber(std::string_view text, size_t* consumed) {
    size_t at = 0;
    if (at < text.size() && text[at] == '+') ++at;  // from_chars takes no plus sign
    if (at < text.size() && (text[at] == '+' || text[at] == '-') && text[0] == '+') return std::nullopt;
    double value = 0.0;
    // from_chars reads the C locale's notation whatever the process locale is.
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), value,
                                              std::chars_format::general);
    if (error != std::errc() || !std::isfinite(value)) return std::nullopt;
    at = static_cast<size_t>(end - text.data());
    // Hexadecimal and special values are not SPICE numbers.
    double scale = 1.0;
    if (startsWith(text, at, "meg")) {
        scale = 1e6, at += 3;
    } else if (startsWith(text, at, "mil")) {
        scale = 25.4e-6, at += 3;
    } else if (startsWith(text, at, "\xc2\xb5") || startsWith(text, at, "\xce\xbc")) {
        scale = 1e-6, at += 2;  // the micro sign or Greek mu in UTF-8, as ngspice reads them
    } else if (at < text.size()) {
        switch (lower(text[at])) {
            case 'f': scale = 1e-15; break;
            case 'p': scale = 1e-12; break;
            case 'n': scale = 1e-9; break;
            case 'u': scale = 1e-6; break;
            case 'm': scale = 1e-3; break;
            case 'k': scale = 1e3; break;
            case 'g': scale = 1e9; break;
            case 't': scale = 1e12; break;
            default: scale = 0.0; break;
        }
        if (scale != 0.0) ++at;
        else scale = 1.0;
    }
    while (at < text.size() && isLetter(text[at])) ++at;  // units SPICE ignores: 10uF, 5V
    if (consumed != nullptr) *consumed = at;
    const double scaled = value * scale;
    if (!std::isfinite(scaled)) return std::nullopt;
    return scaled;
}

std::optional<double> spiceNumber(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    size_t consumed = 0;
    auto value = parseSpiceNumber(text, &consumed);
    if (!value || consumed != text.size()) return std::nullopt;
    return value;
}

}  // namespace udmhost
