#include <gtest/gtest.h>

#include "check/compliance_check.h"

using namespace udmhost;

namespace {

const CheckLine* find(const ComplianceReport& report, const std::string& start) {
    for (const CheckLine& line : report.lines)
        if (line.name.rfind(start, 0) == 0) return &line;
    return nullptr;
}

// Names of the failed lines.
std::vector<std::string> failed(const ComplianceReport& report) {
    std::vector<std::string> names;
    for (const CheckLine& line : report.lines)
        if (!line.passed) names.push_back(line.name + ": " + line.detail);
    return names;
}

}  // namespace

TEST(Compliance, AWellBehavedPlugInPassesEveryCheck) {
    const ComplianceReport report = checkCompliance(SAMPLE_GOOD);
    EXPECT_TRUE(report.passed());
    EXPECT_EQ(failed(report), std::vector<std::string>{});
    EXPECT_GE(report.lines.size(), 15u);  // registration, catalogue and life cycle all ran
    const CheckLine* callbacks = find(report, "callbacks called only where due");
    ASSERT_NE(callbacks, nullptr);
    // The instance whose parameter came as an expression used the callback.
    EXPECT_EQ(callbacks->detail, "1 expression registrations in mode 2, 5 evaluations in mode 3, no messages");
}

TEST(Compliance, EachDefectFailsItsOwnCheck) {
    struct Case {
        const char* plugin;
        const char* check;
        const char* detail;
    };
    const Case cases[] = {
        {SAMPLE_LEAVES_LOCKED, "lock counts back at zero after every call",
         "mode 3 on instance 1 left the instance block locked (count 1) (and 14 more)"},
        {SAMPLE_WRITES_OUTSIDE, "mode 3 writes the stamp inside the announced entries",
         "instance 1 wrote matrix byte 112 outside its values in mode 3 (and 2 more)"},
        {SAMPLE_CHATTY, "callbacks called only where due",
         "message (severity 2) during mode 4: step accepted (and 14 more)"},
    };
    for (const Case& c : cases) {
        const ComplianceReport report = checkCompliance(c.plugin);
        EXPECT_FALSE(report.passed()) << c.plugin;
        const std::vector<std::string> failures = failed(report);
        ASSERT_EQ(failures.size(), 1u) << c.plugin;
        EXPECT_EQ(failures[0], std::string(c.check) + ": " + c.detail);
    }
}

TEST(Compliance, AMissingLibraryFailsAtOnce) {
    const ComplianceReport report = checkCompliance("/nonexistent/libnothing.so");
    ASSERT_EQ(report.lines.size(), 1u);
    EXPECT_EQ(report.lines[0].name, "library loads");
    EXPECT_FALSE(report.passed());
}

TEST(Compliance, TheSwitchPlugInPasses) {
    const ComplianceReport report = checkCompliance(VCSWITCH_PLUGIN_PATH);
    EXPECT_EQ(failed(report), std::vector<std::string>{});
    EXPECT_TRUE(report.passed());
}
