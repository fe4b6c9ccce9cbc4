// Numbers as SPICE writes them: 4.7k, 1meg, 10uF, 2.5e-3.
#pragma once

#include <optional>
#include <string_view>

namespace udmhost {

// The value of a SPICE number: a decimal number, an optional scale suffix
// (f p n u m k meg g t mil, any case) and any trailing letters, which SPICE
// ignores ("10uF", "5V"). `consumed` receives the length read. Nothing when
// the text does not start with a number.
std::optional<double> parseSpiceNumber(std::string_view text, size_t* consumed = nullptr);

// The whole text must be a SPICE number (surrounding blanks aside).
std::optional<double> spiceNumber(std::string_view text);

}  // namespace udmhost
