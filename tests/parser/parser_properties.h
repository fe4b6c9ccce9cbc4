// Properties that every parse must have, whatever the text: shared by the
// libFuzzer target and by the randomised replay test in the normal suite.
#pragma once

#include <string>

namespace parsertest {

// Parses `text` several ways and returns a description of the first broken
// property, or an empty string when all hold.
std::string checkParserProperties(const char* text);

}  // namespace parsertest
