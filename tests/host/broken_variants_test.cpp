// Our own plug-in, broken on purpose one fault at a time: the checker must
// fail each build on the check that covers the fault.
#include <gtest/gtest.h>

#include "check/checker.h"

using namespace udmhost;

namespace {

struct Variant {
    const char* definition;
    const char* plugin;
    const char* check;
};

const Variant kVariants[] = {
#include "broken_variants.inc"
};

}  // namespace

TEST(BrokenVariants, EachFailsOnTheCheckForItsFault) {
    for (const Variant& v : kVariants) {
        const ComplianceReport report = checkCompliance(v.plugin);
        EXPECT_FALSE(report.passed()) << v.definition;
        bool found = false;
        std::string failures;
        for (const CheckLine& line : report.lines) {
            if (line.verdict != Verdict::Fail) continue;
            failures += "\n  " + line.name + ": " + line.faults.front();
            found = found || line.name == v.check;
        }
        EXPECT_TRUE(found) << v.definition << " should fail \"" << v.check << "\"; failed:" << failures;
    }
}

TEST(BrokenVariants, TheUnbrokenBuildPassesEveryCheck) {
    const ComplianceReport report = checkCompliance(VCSWITCH_PLUGIN_PATH);
    for (const CheckLine& line : report.lines) EXPECT_NE(line.verdict, Verdict::Fail) << line.name;
    EXPECT_TRUE(report.passed());
}
