#include "check/interface_checks.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

#include "check/harness.h"
#include "check/library_probe.h"
#include "check/user_language.h"
#include "host_records.h"

namespace udmhost {

namespace {

const char* const kExports = "exports GetPlugIn, UDMInit, GetVersionNumber, ListNodeInfo, UDMMain";
const char* const kMemory = "platform memory functions reachable from the library";
const char* const kGetPlugIn = "GetPlugIn returns 2 and hands out UDMInit";
const char* const kInit = "UDMInit returns 0 and fills the registration record (17, block size, 0)";
const char* const kVersion = "GetVersionNumber returns 2";
const char* const kEnds = "catalogue enumeration ends in null";
const char* const kNames = "catalogue names are unique, non-empty and terminated";
const char* const kKinds = "catalogue kinds are terminal, parameter or output";
const char* const kEncoding = "descriptions are Windows-1252 text (no UTF-8 sequences)";
const char* const kLanguage = "descriptions follow LC_ALL, then LC_MESSAGES, then LANG";
const char* const kQuiet = "no callback during registration and enumeration";

// A description byte sequence that reads as UTF-8 beyond ASCII, or a byte
// that Windows-1252 leaves undefined.
std::string encodingFault(const std::string& text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.c_str());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = s[i];
        if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D)
            return "byte " + std::to_string(c) + " at " + std::to_string(i) + " is undefined in Windows-1252";
        if (c < 0x20 || c == 0x7F) return "control byte at " + std::to_string(i);
        const size_t follow = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
        if (follow == 0 || i + follow >= text.size() + 0) continue;
        bool continuation = true;
        for (size_t k = 1; k <= follow; ++k) continuation = continuation && (s[i + k] & 0xC0) == 0x80;
        if (continuation) return "a UTF-8 sequence at byte " + std::to_string(i) + " (\"" + text + "\")";
    }
    return "";
}

std::vector<std::string> descriptionsUnder(const PluginLibrary& lib, const char* all, const char* messages,
                                           const char* lang) {
    setUserLanguage(all, messages, lang);
    std::vector<std::string> texts;
    for (const CatalogueItem& item : lib.catalogue()) texts.push_back(item.description);
    return texts;
}

void checkLanguages(const PluginLibrary& lib, const std::vector<CatalogueItem>& catalogue, CheckChannel& channel) {
    channel.begin(kEncoding);
    Finding encoding(kEncoding);
    Finding language(kLanguage);
    const auto german = descriptionsUnder(lib, nullptr, nullptr, "de_DE.UTF-8");
    const auto english = descriptionsUnder(lib, nullptr, nullptr, "en_US.UTF-8");
    for (const auto* texts : {&german, &english})
        for (size_t i = 0; i < texts->size(); ++i) {
            const std::string fault = encodingFault((*texts)[i]);
            if (!fault.empty()) encoding.fault("entry " + std::to_string(i) + ": " + fault);
        }
    encoding.see(std::to_string(catalogue.size()) + " descriptions in two languages");
    channel.emit(encoding.line());

    channel.begin(kLanguage);
    struct Case {
        const char *all, *messages, *lang;
        const char* same;  // the language that must win
    };
    const Case cases[] = {
        {"de_DE.UTF-8", "en_US.UTF-8", "en_US.UTF-8", "de"}, {"en_US.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8", "en"},
        {nullptr, "de_DE.UTF-8", "en_US.UTF-8", "de"},       {nullptr, "en_US.UTF-8", "de_DE.UTF-8", "en"},
        {"", "", "de_DE.UTF-8", "de"},                       {"", "en_US.UTF-8", "de_DE.UTF-8", "en"},
    };
    for (const Case& c : cases) {
        const auto& expected = std::string(c.same) == "de" ? german : english;
        if (descriptionsUnder(lib, c.all, c.messages, c.lang) != expected)
            language.fault(std::string("LC_ALL=") + (c.all ? c.all : "(unset)") + " LC_MESSAGES=" + c.messages +
                           " LANG=" + c.lang + " does not give the descriptions of " + c.same);
    }
    descriptionsUnder(lib, "C", nullptr, nullptr);
    language.see(german == english ? "one language" : "German and English descriptions");
    channel.emit(language.line());
}

std::vector<CatalogueItem> checkCatalogue(const PluginLibrary& lib, CheckChannel& channel) {
    constexpr uint32_t kLimit = 4096;
    channel.begin(kEnds);
    Finding ends(kEnds), names(kNames), kinds(kKinds);
    std::vector<CatalogueItem> catalogue;
    std::set<std::string> seen;
    uint32_t index = 0;
    int terminals = 0, parameters = 0, outputs = 0;
    for (; index < kLimit; ++index) {
        noteActivity("ListNodeInfo(" + std::to_string(index) + ")");
        const void* record = lib.listNodeInfo(index);
        if (record == nullptr) break;
        const udm::CatalogueEntryView entry(record);
        CatalogueItem item;
        using udm::CatalogueText;
        if (!entry.terminated(CatalogueText::Name) || !entry.terminated(CatalogueText::Description) ||
            !entry.terminated(CatalogueText::Default))
            names.fault("entry " + std::to_string(index) + " has a text field without a terminating zero");
        item.name = std::string(entry.name());
        item.kind = entry.kind();
        if (item.name.empty()) names.fault("entry " + std::to_string(index) + " has an empty name");
        if (!seen.insert(item.name).second) names.fault("name " + item.name + " appears twice");
        if (item.kind == UDM_KIND_TERMINAL) ++terminals;
        else if (item.kind == UDM_KIND_PARAMETER) ++parameters;
        else if (item.kind == UDM_KIND_OUTPUT) ++outputs;
        else kinds.fault("entry " + std::to_string(index) + " (" + item.name + ") has kind " + std::to_string(item.kind));
        catalogue.push_back(std::move(item));
    }
    noteActivity("ListNodeInfo(4294967295)");
    if (index == kLimit) ends.fault("no null within " + std::to_string(kLimit) + " entries");
    if (lib.listNodeInfo(0xFFFFFFFFu) != nullptr) ends.fault("index 4294967295 yields an entry");
    noteActivity("");
    ends.see(std::to_string(index) + " entries, null at index " + std::to_string(index) + " and at 4294967295");
    if (terminals == 0) kinds.fault("no terminal");
    names.see(std::to_string(seen.size()) + " distinct names");
    kinds.see(std::to_string(terminals) + " terminals, " + std::to_string(parameters) + " parameters, " +
              std::to_string(outputs) + " outputs");
    for (const Finding* f : {&ends, &names, &kinds}) channel.emit(f->line());
    return catalogue;
}

}  // namespace

std::vector<std::string> interfaceCheckNames() {
    return {kExports, kMemory, kGetPlugIn, kInit, kVersion, kEnds, kNames, kKinds, kEncoding, kLanguage, kQuiet};
}

void runInterfaceChecks(const std::string& path, CheckChannel& channel) {
    channel.begin(kExports);
    noteActivity("loading the library");
    std::string loadError;
    auto probe = LibraryProbe::open(path, &loadError);
    if (!probe) {
        Finding load(kExports);
        load.fault("the library does not load: " + loadError);
        channel.emit(load.line());
        return;
    }
    Finding exports(kExports), memory(kMemory);
    for (const char* name : {"GetPlugIn", "UDMInit", "GetVersionNumber", "ListNodeInfo", "UDMMain"})
        if (probe->symbol(name) == nullptr) exports.fault("missing: " + std::string(name));
    for (const std::string& name : probe->missingMemoryFunctions()) memory.fault("missing: " + name);
    void* exportedInit = probe->symbol("UDMInit");
    exports.see("all five present");
    memory.see("GlobalAlloc ... GlobalSize");
    channel.emit(exports.line());
    channel.emit(memory.line());
    if (!exports.clean() || !memory.clean()) return;
    auto lib = std::make_unique<PluginLibrary>(path, LockBinding::Watched);
    probe.reset();  // the PluginLibrary keeps its own reference

    Recorder& rec = recorder();
    rec.activity = "registration";
    channel.begin(kGetPlugIn);
    noteActivity("GetPlugIn");
    Finding getPlugIn(kGetPlugIn);
    UDMInitFn slot = nullptr;
    const int pluginVersion = lib->getPlugin(&slot);
    if (pluginVersion != 2) getPlugIn.fault("returned " + std::to_string(pluginVersion));
    if (slot == nullptr) getPlugIn.fault("slot left empty");
    else if (reinterpret_cast<void*>(slot) != exportedInit) getPlugIn.fault("slot holds another function than UDMInit");
    getPlugIn.see("returned 2, slot holds UDMInit");
    channel.emit(getPlugIn.line());

    channel.begin(kInit);
    noteActivity("UDMInit");
    Finding init(kInit);
    RegistrationRecord record{0xFFFF, 0xFFFF, 0xFFFF};
    const int initResult = (slot != nullptr ? slot : lib->init)(recordingMessageCallback(), recordingExpressionCallback(), &record);
    const std::string values = "returned " + std::to_string(initResult) + ", record " + std::to_string(record.interfaceCode) +
                               ", " + std::to_string(record.instanceBytes) + ", " + std::to_string(record.reserved);
    if (initResult != 0 || record.interfaceCode != UDM_REG_INTERFACE || record.instanceBytes == 0 ||
        record.instanceBytes == 0xFFFF || record.reserved != 0)
        init.fault(values);
    init.see(values);
    channel.emit(init.line());

    channel.begin(kVersion);
    noteActivity("GetVersionNumber");
    Finding version(kVersion);
    const int interfaceVersion = lib->getVersionNumber();
    if (interfaceVersion != 2) version.fault("returned " + std::to_string(interfaceVersion));
    version.see("returned 2");
    channel.emit(version.line());

    rec.activity = "catalogue enumeration";
    const std::vector<CatalogueItem> catalogue = checkCatalogue(*lib, channel);
    checkLanguages(*lib, catalogue, channel);
    channel.begin(kQuiet);
    Finding quiet(kQuiet);
    for (const std::string& v : rec.violations) quiet.fault(v);
    quiet.see("none");
    channel.emit(quiet.line());
}

}  // namespace udmhost
