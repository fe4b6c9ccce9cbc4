// libFuzzer target: every text, raw or built from a double (fuzz_text.h),
// must keep every parser property (parser_properties.h).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_text.h"
#include "parser_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = parsertest::textFromFuzzInput(data, size);
    const std::string problem = parsertest::checkParserProperties(text.c_str());
    if (!problem.empty()) {
        std::fprintf(stderr, "parser property broken for \"%s\": %s\n", text.c_str(), problem.c_str());
        std::abort();
    }
    return 0;
}
