// A host may run under a locale whose decimal point is a comma; parameter
// texts must still read with a full stop.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "value_parser.h"

namespace {

// Switches LC_NUMERIC for the lifetime of the object.
class NumericLocale {
public:
    explicit NumericLocale(const char* name) {
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        previous_ = current != nullptr ? current : "C";
        active_ = std::setlocale(LC_NUMERIC, name) != nullptr;
    }
    ~NumericLocale() { std::setlocale(LC_NUMERIC, previous_.c_str()); }
    NumericLocale(const NumericLocale&) = delete;
    NumericLocale& operator=(const NumericLocale&) = delete;
    bool active() const { return active_; }

private:
    std::string previous_;
    bool active_ = false;
};

#ifdef _WIN32
constexpr const char* kGermanLocale = "German_Germany.1252";
#else
constexpr const char* kGermanLocale = "de_DE.UTF-8";
#endif

TEST(ValueParserLocale, GermanDecimalCommaDoesNotChangeTheReading) {
    NumericLocale german(kGermanLocale);
    if (!german.active()) GTEST_SKIP() << "no " << kGermanLocale << " locale on this machine (scripts/deps.sh generates it)";
    // The locale really is in force: the C library now stops at the full stop.
    ASSERT_EQ(std::strtod("4.7", nullptr), 4.0);

    ASSERT_EQ(vcswitch::parseDefinitionToken("4.7k"), 1);
    EXPECT_EQ(vcswitch::lastParsedValue().doubleValue, 4700.0);
    EXPECT_EQ(vcswitch::lastParsedValue().intValue, 4700);
    ASSERT_EQ(vcswitch::parseDefinitionToken("2.5"), 1);
    EXPECT_EQ(vcswitch::lastParsedValue().doubleValue, 2.5);
    // A decimal comma is not a number in any locale.
    EXPECT_EQ(vcswitch::parseDefinitionToken("4,7k"), 0);
    EXPECT_EQ(vcswitch::lastParsedValue().hasText, 1);
    // Hexadecimal numbers keep their full stop too.
    ASSERT_EQ(vcswitch::parseDefinitionToken("0x1.8p1k"), 1);
    EXPECT_EQ(vcswitch::lastParsedValue().doubleValue, 3000.0);
}

}  // namespace
