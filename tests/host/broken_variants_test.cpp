// Our own plug-in, broken on purpose one fault at a time: the checker must
// fail each build on the check that covers the fault.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "check/checker.h"
#include "check/fingerprint.h"

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

const std::string kFingerprintCheck = "behaviour matches the recorded fingerprint";

}  // namespace

TEST(BrokenVariants, EachFailsOnTheCheckForItsFault) {
    // Faults of this model's own laws pass every generic check and show only
    // against a fingerprint of the unbroken build.
    std::string error;
    const std::string fingerprint = recordFingerprint(VCSWITCH_PLUGIN_PATH, 60, &error);
    ASSERT_EQ(error, "");
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("vcswitch_" + std::to_string(::getpid()) + ".fingerprint")).string();
    {
        std::ofstream file(path, std::ios::binary);
        file << fingerprint;
        ASSERT_TRUE(file.flush()) << path;
    }
    CheckOptions against;
    against.againstFile = path;
    for (const Variant& v : kVariants) {
        const bool lawOfTheModel = v.check == kFingerprintCheck;
        if (lawOfTheModel) {
            EXPECT_TRUE(checkCompliance(v.plugin).passed()) << v.definition;
        }
        const ComplianceReport report = checkCompliance(v.plugin, lawOfTheModel ? against : CheckOptions{});
        // A check this build cannot run (heap counting under a sanitizer)
        // has nothing to find.
        const bool skippedHere = std::any_of(report.lines.begin(), report.lines.end(), [&](const CheckLine& line) {
            return line.name == v.check && line.verdict == Verdict::Skip;
        });
        if (skippedHere) continue;
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
    std::filesystem::remove(path);
}

TEST(BrokenVariants, TheUnbrokenBuildPassesEveryCheck) {
    const ComplianceReport report = checkCompliance(VCSWITCH_PLUGIN_PATH);
    for (const CheckLine& line : report.lines) EXPECT_NE(line.verdict, Verdict::Fail) << line.name;
    EXPECT_TRUE(report.passed());
}
