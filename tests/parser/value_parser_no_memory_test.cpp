// A parse whose working copy cannot be allocated leaves every output at 0.
// The working copy comes from malloc, which this binary refuses on demand:
// on Linux its own malloc comes first, on Windows its import of the C
// library's malloc is pointed here. Sanitizer builds own malloc, so there
// the test does not run.
#include <gtest/gtest.h>

#include <cstdlib>

#include "import_redirect.h"
#include "parse_result.h"
#include "value_parser.h"

namespace {
bool g_refuse = false;
int g_refused = 0;
}  // namespace

#if defined(_WIN32)

namespace {

void* (*g_realMalloc)(std::size_t) = nullptr;

void* __cdecl refusingMalloc(std::size_t size) {
    if (g_refuse) {
        ++g_refused;
        return nullptr;
    }
    return g_realMalloc(size);
}

bool watchAllocations() {
    static const bool redirected = [] {
        void* real = udmtest::redirectImport(GetModuleHandleA(nullptr), "msvcrt.dll", "malloc",
                                             reinterpret_cast<void*>(&refusingMalloc));
        g_realMalloc = reinterpret_cast<void* (*)(std::size_t)>(real);
        return real != nullptr;
    }();
    return redirected;
}

}  // namespace

#elif defined(UDM_TEST_SANITIZED)

namespace {
bool watchAllocations() { return false; }
}  // namespace

#else

extern "C" void* __libc_malloc(std::size_t bytes);

extern "C" void* malloc(std::size_t size) noexcept {
    if (g_refuse) {
        ++g_refused;
        return nullptr;
    }
    return __libc_malloc(size);
}

namespace {
bool watchAllocations() { return true; }
}  // namespace

#endif

namespace {

using namespace parsertest;

TEST(ValueParserNoMemory, AllOutputsStayReset) {
    if (!watchAllocations()) GTEST_SKIP() << "allocations cannot be refused in this build";
    (void)parse("1");  // what the parser sets up once per process is done before refusing
    g_refuse = true;
    const ParsedValue number = parse("4.7k");
    const ParsedValue keyword = parse("on");
    const int32_t answer = vcswitch::parseDefinitionToken("10");
    g_refuse = false;

    EXPECT_EQ(g_refused, 3);
    EXPECT_TRUE(sameBits(number, ParsedValue{})) << describe(number);
    EXPECT_TRUE(sameBits(keyword, ParsedValue{})) << describe(keyword);
    EXPECT_EQ(answer, 0);
    EXPECT_TRUE(sameBits(vcswitch::lastParsedValue(), ParsedValue{}));

    // Memory back, the same text parses again.
    EXPECT_TRUE(parsesTo("4.7k", parsertest::number(4700.0, 4700.0f, 4700)));
}

}  // namespace
