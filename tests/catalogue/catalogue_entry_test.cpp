// The catalogue writer pointed at a test module whose descriptions are longer
// than the record's field or missing altogether.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <string>

#include "catalogue_entry.h"
#include "host_records.h"
#include "language_environment.h"

namespace {

using udmtest::LanguageEnvironment;

constexpr uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 16;

HMODULE sampleModule() {
    static void* library = dlopen(UDM_SAMPLE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) throw std::runtime_error(dlerror());
    Dl_info info{};
    if (dladdr(dlsym(library, "UdmSampleAnchor"), &info) == 0) throw std::runtime_error("dladdr failed");
    return info.dli_fbase;
}

// The record with guard bytes on both sides, all filled with the guard.
struct GuardedRecord {
    std::array<unsigned char, kGuardBytes + UDM_CATALOGUE_ENTRY_BYTES + kGuardBytes> bytes;
    GuardedRecord() { bytes.fill(kGuard); }
    unsigned char* record() { return bytes.data() + kGuardBytes; }
    bool guardsIntact() const {
        for (std::size_t i = 0; i < kGuardBytes; ++i) {
            if (bytes[i] != kGuard || bytes[bytes.size() - 1 - i] != kGuard) return false;
        }
        return true;
    }
};

using udm::CatalogueEntryView;
using udm::CatalogueText;

std::string description(const unsigned char* record) { return std::string(CatalogueEntryView(record).description()); }

TEST(CatalogueEntry, LongDescriptionIsCutToFiftyBytesAndItsTerminatingZero) {
    LanguageEnvironment env;
    const std::string english = "A description far longer than the fifty bytes of a catalogue field";
    const std::string german = "Eine Beschreibung, die l\xE4nger ist als die f\xFCnfzig Bytes eines Feldes";
    for (const auto& [locale, full] : {std::pair{"en_US", english}, std::pair{"de_DE", german}}) {
        SCOPED_TRACE(locale);
        env.use(locale);
        GuardedRecord guarded;
        unsigned char* record = guarded.record();
        ASSERT_TRUE(vcswitch::writeCatalogueEntry(record, 5, sampleModule()));
        EXPECT_EQ(description(record), full.substr(0, 50));
        const CatalogueEntryView entry(record);
        EXPECT_EQ(entry.raw(CatalogueText::Description)[50], 0);
        EXPECT_EQ(entry.defaultText(), "1.0e-3");
        EXPECT_TRUE(entry.terminated(CatalogueText::Default));
        EXPECT_EQ(entry.kind(), 2);
        EXPECT_TRUE(guarded.guardsIntact());
    }
}

TEST(CatalogueEntry, MissingDescriptionLeavesAnEmptyFieldAndTheDefaultUntouched) {
    GuardedRecord guarded;
    unsigned char* record = guarded.record();
    ASSERT_TRUE(vcswitch::writeCatalogueEntry(record, 0, sampleModule()));  // text 110 is not there
    const CatalogueEntryView entry(record);
    EXPECT_EQ(entry.name(), "STATE");
    EXPECT_TRUE(entry.terminated(CatalogueText::Name));
    const auto text = entry.raw(CatalogueText::Description);
    for (std::size_t i = 0; i < text.size(); ++i) EXPECT_EQ(text[i], 0) << i;
    const auto defaultField = entry.raw(CatalogueText::Default);
    for (std::size_t i = 0; i < defaultField.size(); ++i) ASSERT_EQ(defaultField[i], kGuard) << i;
    EXPECT_TRUE(guarded.guardsIntact());
}

TEST(CatalogueEntry, IndexBeyondTheCatalogueWritesNothing) {
    GuardedRecord guarded;
    EXPECT_FALSE(vcswitch::writeCatalogueEntry(guarded.record(), vcswitch::kCatalogueEntries, sampleModule()));
    EXPECT_FALSE(vcswitch::writeCatalogueEntry(guarded.record(), 4294967295u, sampleModule()));
    for (unsigned char byte : guarded.bytes) ASSERT_EQ(byte, kGuard);
}

}  // namespace
