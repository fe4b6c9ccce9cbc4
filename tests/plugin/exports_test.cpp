// The plug-in as a host finds it: exported names, registration values.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <set>
#include <string>

#include "plugin_loader.h"

namespace {

using udmtest::plugin;

#ifndef _WIN32  // the Windows build reads the DLL's export directory instead
// Runs a command and returns what it printed.
std::string capture(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 512> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
    pclose(pipe);
    return output;
}

TEST(Exports, ExactlyTheFiveEntryPointsAreExported) {
    const std::string listing =
        capture(std::string("nm -D --defined-only --format=just-symbols ") + VCSWITCH_PLUGIN_PATH);
    std::set<std::string> names;
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        const std::string name = listing.substr(start, end - start);
        // The toolchain's own markers are not functions of ours.
        if (!name.empty() && name.rfind("_", 0) != 0) names.insert(name);
        start = end + 1;
    }
    EXPECT_EQ(names, (std::set<std::string>{"GetPlugIn", "GetVersionNumber", "ListNodeInfo",
                                            "UDMInit", "UDMMain"}));
}

#endif

TEST(Exports, GetPlugInHandsOutUDMInit) {
    UDMInitFn slot = nullptr;
    EXPECT_EQ(plugin().getPlugIn(&slot), 2);
    EXPECT_EQ(slot, plugin().init);
    EXPECT_EQ(plugin().getPlugIn(nullptr), 2);  // nothing to write, no crash
}

TEST(Exports, VersionNumberIsTwo) { EXPECT_EQ(plugin().getVersionNumber(), 2); }

int countingMessage(int, const char*) { return 0; }
int countingExpression(int, const char*, double*, double*) { return 0; }

TEST(Exports, UDMInitFillsTheRegistrationRecord) {
    RegistrationRecord record{0xFFFF, 0xFFFF, 0xFFFF};
    EXPECT_EQ(plugin().init(&countingMessage, &countingExpression, &record), 0);
    EXPECT_EQ(record.interfaceCode, 17);
    EXPECT_EQ(record.instanceBytes, 336);
    EXPECT_EQ(record.reserved, 0);
    EXPECT_EQ(plugin().init(&countingMessage, &countingExpression, nullptr), 0);  // no crash
}

#ifndef _WIN32  // on Windows they are the system's, not the plug-in's
TEST(Exports, PlatformServicesAreReachableThroughThePlugInsHandle) {
    EXPECT_NE(plugin().rawSymbol("GlobalAlloc"), nullptr);
    EXPECT_NE(plugin().rawSymbol("GlobalLock"), nullptr);
    EXPECT_NE(plugin().rawSymbol("GlobalUnlock"), nullptr);
}
#endif

}  // namespace
