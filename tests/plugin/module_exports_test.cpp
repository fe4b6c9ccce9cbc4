// What the loaded DLL exports and carries, read from its own image: the
// export directory and the version record.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "plugin_loader.h"

namespace {

using udmtest::plugin;

// The export names of a loaded module, from its PE export directory.
std::set<std::string> exportedNames(HMODULE module) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, base, sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE) return {};
    IMAGE_NT_HEADERS nt;
    std::memcpy(&nt, base + dos.e_lfanew, sizeof nt);
    if (nt.Signature != IMAGE_NT_SIGNATURE) return {};
    const IMAGE_DATA_DIRECTORY directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0) return {};
    IMAGE_EXPORT_DIRECTORY exports;
    std::memcpy(&exports, base + directory.VirtualAddress, sizeof exports);
    std::set<std::string> names;
    for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
        DWORD nameOffset = 0;
        std::memcpy(&nameOffset, base + exports.AddressOfNames + i * sizeof(DWORD), sizeof nameOffset);
        names.insert(reinterpret_cast<const char*>(base + nameOffset));
    }
    return names;
}

TEST(ModuleExports, ExactlyTheFiveUndecoratedEntryPoints) {
    EXPECT_EQ(exportedNames(plugin().module()),
              (std::set<std::string>{"GetPlugIn", "GetVersionNumber", "ListNodeInfo", "UDMInit", "UDMMain"}));
    // Nothing else is reachable by name, decorated or not.
    for (const char* name : {"DllMain", "_GetPlugIn@4", "GetPlugIn@4", "GlobalAlloc", "GlobalLock"})
        EXPECT_EQ(plugin().rawSymbol(name), nullptr) << name;
}

TEST(ModuleExports, ExportedNamesAreTheFunctionsAHostCalls) {
    // The entry found by name behaves as that function.
    EXPECT_EQ(plugin().getVersionNumber(), 2);
    EXPECT_EQ(plugin().listNodeInfo(14), nullptr);
    UDMInitFn slot = nullptr;
    plugin().getPlugIn(&slot);
    EXPECT_EQ(reinterpret_cast<void*>(slot), plugin().rawSymbol("UDMInit"));
}

// The DLL's version record, read as a host's file dialog would.
class VersionRecord : public ::testing::Test {
protected:
    void SetUp() override {
        path_.resize(MAX_PATH);
        const DWORD length = GetModuleFileNameA(plugin().module(), path_.data(), MAX_PATH);
        ASSERT_GT(length, 0u);
        path_.resize(length);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
        ASSERT_GT(size, 0u);
        data_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(path_.c_str(), 0, size, data_.data()));
    }
    std::string value(const char* block, const char* name) {
        const std::string query = std::string("\\StringFileInfo\\") + block + "\\" + name;
        void* text = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(data_.data(), query.c_str(), &text, &length) || text == nullptr) return {};
        return static_cast<const char*>(text);
    }
    std::string path_;
    std::vector<char> data_;
};

TEST_F(VersionRecord, FileAndProductVersions) {
    void* block = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data_.data(), "\\", &block, &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, block, sizeof info);
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(info.dwFileVersionMS, 0x00060000u);
    EXPECT_EQ(info.dwFileVersionLS, 0x00000003u);
    EXPECT_EQ(info.dwProductVersionMS, 0x00060000u);
    EXPECT_EQ(info.dwProductVersionLS, 0x00000000u);
    EXPECT_EQ(info.dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(VersionRecord, CommentsInBothLanguages) {
    EXPECT_EQ(value("040904E4", "Comments"), "Voltage Controlled Switch for TRAN");
    // Read back in the ANSI code page 1252 of both test languages: "\xFC" is the u umlaut.
    EXPECT_EQ(value("040704E4", "Comments"), "Spannungsgesteuerter Schalter f\xFCr TRAN");
    EXPECT_EQ(value("040904E4", "FileVersion"), "6.0.0.3");
    EXPECT_EQ(value("040704E4", "ProductVersion"), "6.0.0.0");
}

}  // namespace
