#include "text/lower_case.h"

#include <cctype>

namespace udmhost {

std::string lowerCase(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

}  // namespace udmhost
