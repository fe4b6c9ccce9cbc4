// The fuzzer's properties in the normal suite: over the stored fuzz corpus and
// over a fixed stream of generated texts, shaped like numbers with units.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "fuzz_text.h"
#include "parser_properties.h"

namespace {

using parsertest::checkParserProperties;

TEST(ValueParserProperties, HoldOnTheStoredFuzzCorpus) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PARSER_FUZZ_CORPUS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string text = parsertest::textFromFuzzInput(
            reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(checkParserProperties(text.c_str()), "") << entry.path();
        ++files;
    }
    EXPECT_GT(files, 10);
}

// Texts assembled from the pieces the grammar is made of, so that most of
// them get past strtod and reach the unit, guard and scaling steps.
class TextGenerator {
public:
    explicit TextGenerator(uint32_t seed) : rng_(seed) {}

    std::string next() {
        switch (pick(4)) {
            case 0: return pieces();
            case 1: return formattedDouble();
            default: return bytes();
        }
    }

private:
    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

    template <size_t N>
    const char* oneOf(const char* const (&options)[N]) {
        return options[pick(N)];
    }

    std::string pieces() {
        static const char* const kPieces[] = {
            "0", "1", "2", "5", "9", "47", ".", "e", "E", "+", "-", "e-3", "e308", "e-308", "e9",
            "f", "p", "n", "u", "m", "k", "g", "t", "F", "M", "K", "T", "x", "0x", "p-2", " ",
            "\t", "\r\n", "on", "off", "ja", "nein", "q", "help", "?", "inf", "nan", "meg", "\xA0"};
        std::string s;
        for (size_t i = 0, count = 1 + pick(6); i < count; ++i) s += oneOf(kPieces);
        return s;
    }

    std::string formattedDouble() {
        uint8_t input[parsertest::kStructuredSize] = {parsertest::kStructuredInput};
        for (size_t i = 1; i < sizeof input; ++i) input[i] = static_cast<uint8_t>(pick(256));
        return parsertest::textFromFuzzInput(input, sizeof input);
    }

    std::string bytes() {
        std::string s;
        for (size_t i = 0, count = pick(12); i < count; ++i) s += static_cast<char>(1 + pick(255));
        return s;
    }

    std::mt19937 rng_;
};

TEST(ValueParserProperties, HoldOnGeneratedTexts) {
    TextGenerator generator(20261207u);
    int broken = 0;
    for (int i = 0; i < 60000 && broken < 10; ++i) {
        const std::string text = generator.next();
        const std::string problem = checkParserProperties(text.c_str());
        if (!problem.empty()) {
            ADD_FAILURE() << "text \"" << text << "\": " << problem;
            ++broken;
        }
    }
}

}  // namespace
