#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "check/checker.h"
#include "check/fingerprint.h"

using namespace udmhost;

namespace {

const CheckLine* find(const ComplianceReport& report, const std::string& start) {
    for (const CheckLine& line : report.lines)
        if (line.name.rfind(start, 0) == 0) return &line;
    return nullptr;
}

// "name: first fault" of each failed line.
std::vector<std::string> failed(const ComplianceReport& report) {
    std::vector<std::string> names;
    for (const CheckLine& line : report.lines)
        if (line.verdict == Verdict::Fail) names.push_back(line.name + ": " + line.faults.front());
    return names;
}

// A skip for want of something in this build (allocator statistics under a
// sanitizer) is fine; one because another check failed or crashed is not.
void expectNoSkipForAFault(const ComplianceReport& report) {
    for (const CheckLine& line : report.lines) {
        if (line.verdict != Verdict::Skip) continue;
        EXPECT_TRUE(line.detail.rfind("needs: ", 0) != 0 && line.detail.rfind("not run", 0) != 0)
            << line.name << ": " << line.detail;
    }
}

std::vector<std::string> failedNames(const ComplianceReport& report) {
    std::vector<std::string> names;
    for (const CheckLine& line : report.lines)
        if (line.verdict == Verdict::Fail) names.push_back(line.name);
    return names;
}

}  // namespace

TEST(Compliance, AWellBehavedPlugInPassesEveryCheckAndEachResultArrivesOnce) {
    std::vector<std::string> streamed;
    const ComplianceReport report =
        checkCompliance(SAMPLE_GOOD, {}, [&](const CheckLine& line) { streamed.push_back(line.name); });
    EXPECT_TRUE(report.passed());
    EXPECT_EQ(failed(report), std::vector<std::string>{});
    expectNoSkipForAFault(report);
    EXPECT_GE(report.lines.size(), 30u);  // registration, catalogue, life cycle and the demanding host all ran
    ASSERT_EQ(streamed.size(), report.lines.size());
    for (size_t i = 0; i < streamed.size(); ++i) EXPECT_EQ(streamed[i], report.lines[i].name);
    const CheckLine* callbacks = find(report, "callbacks called only where due");
    ASSERT_NE(callbacks, nullptr);
    // The instance whose parameter came as an expression used the callback.
    EXPECT_EQ(callbacks->detail, "1 expression registrations in mode 2, 5 evaluations in mode 3, no messages");
}

TEST(Compliance, EachDefectFailsItsOwnCheckWithEveryFaultCounted) {
    struct Case {
        const char* plugin;
        const char* check;
        const char* firstFault;
        size_t faults;
    };
    const Case cases[] = {
        // Each of the 15 evaluations leaves a lock behind and unlocks out of order.
        {SAMPLE_LEAVES_LOCKED, "every call unlocks what it locked, in reverse order",
         "mode 3 on instance 1 unlocked the component record before the instance block, which it locked later", 30},
        {SAMPLE_WRITES_OUTSIDE, "mode 3 writes the stamp inside the announced entries",
         "instance 1 wrote matrix byte 112 outside its values in mode 3", 3},
        {SAMPLE_CHATTY, "callbacks called only where due", "message (severity 2: step accepted) during mode 4 on instance 1",
         15},
        {SAMPLE_UNLOCK_ORDER, "every call unlocks what it locked, in reverse order",
         "mode 1 on instance 1 unlocked the instance block before the component record, which it locked later", 45},
    };
    for (const Case& c : cases) {
        const ComplianceReport report = checkCompliance(c.plugin);
        EXPECT_FALSE(report.passed()) << c.plugin;
        const CheckLine* line = find(report, c.check);
        ASSERT_NE(line, nullptr) << c.plugin;
        ASSERT_EQ(line->verdict, Verdict::Fail) << c.plugin;
        EXPECT_EQ(line->faults.front(), c.firstFault);
        EXPECT_EQ(line->faultCount, c.faults);
        EXPECT_EQ(line->faults.size(), std::min<size_t>(c.faults, Finding::kKept));
    }
    // Only the sample that writes outside its entries fails a single check.
    EXPECT_EQ(failedNames(checkCompliance(SAMPLE_WRITES_OUTSIDE)),
              std::vector<std::string>{"mode 3 writes the stamp inside the announced entries"});
}

TEST(Compliance, AMissingLibraryFailsAtOnceAndEverythingElseIsSkippedWithTheReason) {
    const ComplianceReport report = checkCompliance("/nonexistent/libnothing.so");
    ASSERT_FALSE(report.lines.empty());
    EXPECT_EQ(report.lines[0].verdict, Verdict::Fail);
    EXPECT_NE(report.lines[0].faults.front().find("does not load"), std::string::npos);
    EXPECT_EQ(report.count(Verdict::Fail), 1u);
    EXPECT_FALSE(report.passed());
    const CheckLine* later = find(report, "release twice is harmless");
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(later->verdict, Verdict::Skip);
    EXPECT_EQ(later->detail.rfind("needs: ", 0), 0u);
}

TEST(Compliance, AnnouncedSizesBeyondTheRecordsFailTheDefinitionWithoutCrashingTheChecker) {
    struct Case {
        const char* plugin;
        const char* fault;
    };
    const Case cases[] = {
        {SAMPLE_ENTRIES_0, "instance 1 announces no matrix entries for its 2 terminals"},
        {SAMPLE_ENTRIES_1025, "instance 1 announces 1025 matrix entries; 2 terminals allow at most 4"},
        {SAMPLE_ENTRIES_65535, "instance 1 announces 65535 matrix entries; 2 terminals allow at most 4"},
    };
    for (const Case& c : cases) {
        const ComplianceReport report = checkCompliance(c.plugin);
        const CheckLine* define = find(report, "mode 1 defines");
        ASSERT_NE(define, nullptr) << c.plugin;
        ASSERT_EQ(define->verdict, Verdict::Fail) << c.plugin;
        EXPECT_EQ(define->faults.front(), c.fault);
        const CheckLine* stamp = find(report, "mode 3 writes the stamp");
        ASSERT_NE(stamp, nullptr);
        EXPECT_EQ(stamp->verdict, Verdict::Skip);
        EXPECT_EQ(stamp->detail, "needs: " + define->name);
        EXPECT_EQ(find(report, "the stamp is written, not added")->verdict, Verdict::Skip);
    }
}

TEST(Compliance, ACrashOrAHangIsAFailNamingTheCallAndTheRestIsStillChecked) {
    const ComplianceReport crashed = checkCompliance(SAMPLE_CRASHES);
    const CheckLine* stamp = find(crashed, "mode 3 writes the stamp");
    ASSERT_NE(stamp, nullptr);
    ASSERT_EQ(stamp->verdict, Verdict::Fail);
    EXPECT_EQ(stamp->faults.front(), "the plug-in crashed with SIGSEGV (Segmentation fault) during mode 3 on instance 1");
    // The checks of the same child that never ran are named, the next child runs anew.
    EXPECT_EQ(find(crashed, "modes 5 and 6 resolve")->verdict, Verdict::Skip);
    EXPECT_EQ(find(crashed, "output selectors")->verdict, Verdict::Fail);
    EXPECT_EQ(find(crashed, "expressions are registered in parameter order")->verdict, Verdict::Pass);

    CheckOptions quick;
    quick.timeoutSeconds = 2;
    const ComplianceReport hung = checkCompliance(SAMPLE_HANGS, quick);
    const CheckLine* pattern = find(hung, "mode 2 writes the matrix pattern");
    ASSERT_NE(pattern, nullptr);
    ASSERT_EQ(pattern->verdict, Verdict::Fail);
    EXPECT_EQ(pattern->faults.front(), "no answer within 2 s during mode 2 on instance 1; the plug-in hangs");
}

TEST(Compliance, TheSwitchPlugInPasses) {
    const ComplianceReport report = checkCompliance(VCSWITCH_PLUGIN_PATH);
    EXPECT_EQ(failed(report), std::vector<std::string>{});
    expectNoSkipForAFault(report);
    EXPECT_TRUE(report.passed());
}

TEST(Fingerprint, ARecordingWithWindowsLineEndingsIsTheSameRecording) {
    const std::string recorded = "# header\ncase 1\nstamp 1 2\ncase 2\nstamp 3 4\n";
    const std::string crlf = "# header\r\ncase 1\r\nstamp 1 2\r\ncase 2\r\nstamp 3 4\r\n";
    size_t total = 99;
    EXPECT_EQ(fingerprintDifferences(crlf, recorded, 10, &total), std::vector<std::string>{});
    EXPECT_EQ(total, 0u);
    // Only line endings are forgiven: a changed value still shows, with its case.
    const std::vector<std::string> changed =
        fingerprintDifferences(crlf, "# header\ncase 1\nstamp 1 2\ncase 2\nstamp 3 5\n", 10, &total);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(total, 1u);
    EXPECT_NE(changed.front().find("line 5 (case 2)"), std::string::npos) << changed.front();
    EXPECT_EQ(fingerprintDifferences(crlf, "# header\ncase 1\nstamp 1 2\ncase 2\n", 10, &total).size(), 1u);
}

TEST(Fingerprint, ARecordingMatchesItsOwnBuildAndShowsAnotherBehaviourLineByLine) {
    std::string error;
    const std::string good = recordFingerprint(SAMPLE_GOOD, 60, &error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(recordFingerprint(SAMPLE_GOOD, 60, &error), good);  // deterministic

    const std::string path = (std::filesystem::temp_directory_path() /
                              ("fingerprint_" + std::to_string(::getpid()) + ".txt")).string();
    {
        std::ofstream file(path, std::ios::binary);
        file << good;
        ASSERT_TRUE(file.flush()) << path;
    }
    CheckOptions against;
    against.againstFile = path;
    const ComplianceReport itself = checkCompliance(SAMPLE_GOOD, against);
    const CheckLine* same = find(itself, "behaviour matches the recorded fingerprint");
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(same->verdict, Verdict::Pass);

    // A plug-in that only adds a message on acceptance passes the stamp checks but not the fingerprint.
    const ComplianceReport chatty = checkCompliance(SAMPLE_CHATTY, against);
    const CheckLine* differs = find(chatty, "behaviour matches the recorded fingerprint");
    ASSERT_NE(differs, nullptr);
    ASSERT_EQ(differs->verdict, Verdict::Fail);
    EXPECT_NE(differs->faults.front().find("message[2: step accepted]"), std::string::npos) << differs->faults.front();
    EXPECT_NE(differs->faults.front().find("(case 1)"), std::string::npos) << differs->faults.front();
    EXPECT_GT(differs->faultCount, Finding::kKept);
    std::filesystem::remove(path);
}
