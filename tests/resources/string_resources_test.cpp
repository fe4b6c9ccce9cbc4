// LoadStringA and UdmGetVersionInfo on real modules: a test module compiled
// from sample_module.rc, the plug-in, and modules without resources.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "language_environment.h"
#include "plugin_loader.h"
#include "udm_platform.h"

namespace {

using udmtest::LanguageEnvironment;

// The handle of a module as a host takes it: the base dladdr reports for
// one of its symbols.
HMODULE baseOf(const void* symbol) {
    Dl_info info{};
    if (dladdr(symbol, &info) == 0) throw std::runtime_error("dladdr failed");
    return info.dli_fbase;
}

HMODULE sampleModule() {
    static void* library = dlopen(UDM_SAMPLE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) throw std::runtime_error(dlerror());
    return baseOf(dlsym(library, "UdmSampleAnchor"));
}

HMODULE pluginModule() { return baseOf(reinterpret_cast<const void*>(udmtest::plugin().getPlugIn)); }

std::string load(HMODULE module, UINT id) {
    char buffer[256];
    const int n = LoadStringA(module, id, buffer, sizeof buffer);
    EXPECT_EQ(n, static_cast<int>(std::strlen(buffer)));
    return buffer;
}

const char kLongEnglish[] = "A description far longer than the fifty bytes of a catalogue field";

TEST(LoadString, PicksTheTableOfTheUserLanguageAtEveryCall) {
    LanguageEnvironment env;
    env.use("en_US.UTF-8");
    EXPECT_EQ(load(sampleModule(), 120), kLongEnglish);
    env.use("de_DE.UTF-8");
    EXPECT_EQ(load(sampleModule(), 120), "Eine Beschreibung, die l\xE4nger ist als die f\xFCnfzig Bytes eines Feldes");
    EXPECT_EQ(load(sampleModule(), 7), "Sieben");
    env.use("en_GB");
    EXPECT_EQ(load(sampleModule(), 120), kLongEnglish);
}

TEST(LoadString, LanguageComesFromTheFirstNonEmptyOfLcAllLcMessagesLang) {
    LanguageEnvironment env;
    EXPECT_EQ(load(pluginModule(), 101), "node 1 of switch component");  // none set: English
    env.set("LANG", "de_AT.UTF-8");
    EXPECT_EQ(load(pluginModule(), 101), "Knoten 1 des Schalters");
    env.set("LC_MESSAGES", "C");
    EXPECT_EQ(load(pluginModule(), 101), "node 1 of switch component");
    env.set("LC_ALL", "");  // empty counts as unset
    EXPECT_EQ(load(pluginModule(), 101), "node 1 of switch component");
    env.set("LC_ALL", "de_CH");
    EXPECT_EQ(load(pluginModule(), 101), "Knoten 1 des Schalters");
    env.use("fr_FR.UTF-8");  // neither English nor German: English
    EXPECT_EQ(load(pluginModule(), 101), "node 1 of switch component");
    env.use("deutsch");
    EXPECT_EQ(load(pluginModule(), 101), "Knoten 1 des Schalters");
}

TEST(LoadString, MissingInTheUserLanguageFallsBackToEnglishThenToAnyLanguage) {
    LanguageEnvironment env;
    env.use("de_DE");
    EXPECT_EQ(load(sampleModule(), 200), "English only");
    EXPECT_EQ(load(sampleModule(), 300), "seulement en fran\xE7" "ais");
    env.use("en_US");
    EXPECT_EQ(load(sampleModule(), 7), "Sieben");  // only in German
    EXPECT_EQ(load(sampleModule(), 201), "say \"hello\", \\o/");
}

TEST(LoadString, CopiesAtMostCapacityMinusOneBytesAndAlwaysTerminates) {
    LanguageEnvironment env;
    env.use("en_US");
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(LoadStringA(sampleModule(), 120, buffer, 0), 0);
    EXPECT_EQ(buffer[0], 'x');  // no room at all: untouched
    EXPECT_EQ(LoadStringA(sampleModule(), 120, buffer, -5), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(LoadStringA(sampleModule(), 120, nullptr, 8), 0);
    EXPECT_EQ(LoadStringA(sampleModule(), 120, buffer, 1), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(LoadStringA(sampleModule(), 120, buffer, 5), 4);
    EXPECT_STREQ(buffer, "A de");
    EXPECT_EQ(buffer[5], 'x');
    EXPECT_EQ(LoadStringA(pluginModule(), 111, buffer, sizeof buffer), 7);  // "voltage" fits exactly
    EXPECT_STREQ(buffer, "voltage");
}

TEST(LoadString, MissingEntryOrUnknownModuleYieldsZeroAndAnEmptyBuffer) {
    LanguageEnvironment env;
    int local = 0;
    const HMODULE unknown[] = {
        &local,                                              // not a module at all
        baseOf(reinterpret_cast<const void*>(&GlobalAlloc)),  // a module without resources
        nullptr,                                             // the test program: none either
    };
    char buffer[16];
    for (HMODULE module : unknown) {
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(LoadStringA(module, 101, buffer, sizeof buffer), 0);
        EXPECT_EQ(buffer[0], '\0');
    }
    for (UINT id : {0u, 105u, 65535u, 65536u + 101u}) {
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(LoadStringA(pluginModule(), id, buffer, sizeof buffer), 0) << id;
        EXPECT_EQ(buffer[0], '\0');
    }
}

TEST(VersionInfo, PluginCarriesItsVersionsAndCommentsInBothLanguages) {
    UdmVersionInfo info;
    std::memset(&info, 0x5A, sizeof info);
    ASSERT_NE(UdmGetVersionInfo(pluginModule(), 1033, &info), 0);
    EXPECT_EQ(info.fileVersion[0], 6);
    EXPECT_EQ(info.fileVersion[1], 0);
    EXPECT_EQ(info.fileVersion[2], 0);
    EXPECT_EQ(info.fileVersion[3], 3);
    EXPECT_EQ(info.productVersion[0], 6);
    EXPECT_EQ(info.productVersion[1], 0);
    EXPECT_EQ(info.productVersion[2], 0);
    EXPECT_EQ(info.productVersion[3], 0);
    EXPECT_STREQ(info.comments, "Voltage Controlled Switch for TRAN");
    ASSERT_NE(UdmGetVersionInfo(pluginModule(), 1031, &info), 0);
    EXPECT_STREQ(info.comments, "Spannungsgesteuerter Schalter f\xFCr TRAN");
}

TEST(VersionInfo, LanguageZeroFollowsTheUserAndUnknownLanguagesFallBackToEnglish) {
    LanguageEnvironment env;
    UdmVersionInfo info{};
    env.use("de_DE");
    ASSERT_NE(UdmGetVersionInfo(sampleModule(), 0, &info), 0);
    EXPECT_STREQ(info.comments, "Pr\xFC" "fmodul");
    env.use("en_US");
    ASSERT_NE(UdmGetVersionInfo(sampleModule(), 0, &info), 0);
    EXPECT_STREQ(info.comments, "Test module");
    ASSERT_NE(UdmGetVersionInfo(sampleModule(), 1036, &info), 0);
    EXPECT_STREQ(info.comments, "Test module");
    EXPECT_EQ(info.fileVersion[3], 4);
    EXPECT_EQ(info.productVersion[3], 0x100);
}

TEST(VersionInfo, ModulesWithoutAVersionRecordYieldZero) {
    UdmVersionInfo info{};
    int local = 0;
    EXPECT_EQ(UdmGetVersionInfo(baseOf(reinterpret_cast<const void*>(&GlobalAlloc)), 0, &info), 0);
    EXPECT_EQ(UdmGetVersionInfo(&local, 0, &info), 0);
    EXPECT_EQ(UdmGetVersionInfo(pluginModule(), 0, nullptr), 0);
}

}  // namespace
