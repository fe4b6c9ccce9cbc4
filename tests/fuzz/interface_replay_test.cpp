// The fuzzer's sessions replayed in the ordinary suite: the stored corpus and
// a fixed set of pseudo-random sessions, each checked call by call.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "interface_session.h"

namespace {

using udmfuzz::runInterfaceSession;
using udmfuzz::SessionResult;

struct Totals {
    size_t sessions = 0, calls = 0, refused = 0, stamps = 0;
    void add(const SessionResult& r) {
        ++sessions;
        calls += r.calls;
        refused += r.refused;
        stamps += r.stamps;
    }
};

TEST(InterfaceSessions, StoredCorpusKeepsEveryRule) {
    Totals totals;
    for (const auto& entry : std::filesystem::directory_iterator(INTERFACE_CORPUS)) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const SessionResult r = runInterfaceSession(bytes.data(), bytes.size());
        EXPECT_EQ(r.problem, "") << entry.path().filename();
        totals.add(r);
    }
    // The corpus must reach both answers of the interface, or it tests little.
    EXPECT_GE(totals.sessions, 8u);
    EXPECT_GT(totals.stamps, 0u);
    EXPECT_GT(totals.refused, 0u);
    EXPECT_GT(totals.calls - totals.refused, totals.stamps);
}

TEST(InterfaceSessions, RandomSessionsKeepEveryRule) {
    std::mt19937_64 random(20261207);
    Totals totals;
    for (int n = 0; n < 3000; ++n) {
        std::vector<uint8_t> bytes(random() % 400);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
        const SessionResult r = runInterfaceSession(bytes.data(), bytes.size());
        ASSERT_EQ(r.problem, "") << "session " << n;
        totals.add(r);
    }
    EXPECT_GT(totals.stamps, 100u);
    EXPECT_GT(totals.refused, 100u);
}

}  // namespace
