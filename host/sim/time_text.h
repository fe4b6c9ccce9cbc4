// Times in messages: nine significant digits.
#pragma once

#include <cstdio>
#include <string>

namespace udmhost::sim {

inline std::string timeText(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", t);
    return text;
}

}  // namespace udmhost::sim
