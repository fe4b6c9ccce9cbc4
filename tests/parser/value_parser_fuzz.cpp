// libFuzzer target: any byte string, cut at its first zero byte, must keep
// every parser property (see parser_properties.h).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "parser_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string problem = parsertest::checkParserProperties(text.c_str());
    if (!problem.empty()) {
        std::fprintf(stderr, "parser property broken: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
