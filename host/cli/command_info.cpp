// udmhost info PLUGIN: what a host learns from a plug-in.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "pluginhost/plugin_library.h"
#include "pluginhost/text_encoding.h"
#include "pluginhost/version_record.h"

namespace udmhost {

namespace {

void printTable(const std::string& heading, const std::vector<std::vector<std::string>>& rows) {
    if (rows.size() <= 1) return;
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], displayWidth(row[c]));
    std::cout << "\n" << heading << "\n";
    for (const auto& row : rows) {
        std::string line = " ";
        for (size_t c = 0; c < row.size(); ++c) {
            line += " " + row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - displayWidth(row[c]) + 1, ' ');
        }
        std::cout << line << "\n";
    }
}

}  // namespace

int infoCommand(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::cerr << "usage: udmhost info PLUGIN\n";
        return kExitUsage;
    }
    try {
        PluginLibrary library(args[0]);
        const Registration reg = library.registerWith([](int, const char*) { return 0; },
                                                      [](int, const char*, double*, double* out) {
                                                          if (out != nullptr) out[0] = out[1] = 0.0;
                                                          return 0;
                                                      });
        std::cout << "plug-in       " << library.path() << "\n"
                  << "interface     GetPlugIn " << reg.version << ", GetVersionNumber " << reg.interfaceVersion << "\n"
                  << "registration  " << reg.record.interfaceCode << ", " << reg.record.instanceBytes << ", "
                  << reg.record.reserved << "  (instance block of " << reg.record.instanceBytes << " bytes)\n";
        if (const auto version = readVersionRecord(library)) {
            std::cout << "version       file " << versionText(version->fileVersion) << ", product "
                      << versionText(version->productVersion) << "\n"
                      << "comments      " << codePageToUtf8(version->comments) << "\n";
        } else {
            std::cout << "version       no version record\n";
        }
        const std::vector<CatalogueItem> catalogue = library.catalogue();
        std::vector<std::vector<std::string>> terminals{{"#", "name", "description"}};
        std::vector<std::vector<std::string>> parameters{{"name", "default", "description"}};
        std::vector<std::vector<std::string>> outputs{{"name", "description"}};
        for (const CatalogueItem& item : catalogue) {
            const std::string description = codePageToUtf8(item.description);
            if (item.kind == UDM_KIND_TERMINAL)
                terminals.push_back({std::to_string(terminals.size()), item.name, description});
            else if (item.kind == UDM_KIND_PARAMETER)
                parameters.push_back({item.name, item.defaultText, description});
            else if (item.kind == UDM_KIND_OUTPUT)
                outputs.push_back({item.name, description});
            else
                outputs.push_back({item.name, "(unknown kind " + std::to_string(item.kind) + ") " + description});
        }
        std::cout << "catalogue     " << catalogue.size() << " entries\n";
        printTable("Terminals (in the order an instance line gives its nodes)", terminals);
        printTable("Parameters", parameters);
        printTable("Outputs", outputs);
        return kExitOk;
    } catch (const std::exception& error) {
        std::cerr << "udmhost: " << error.what() << "\n";
        return kExitFailure;
    }
}

}  // namespace udmhost
