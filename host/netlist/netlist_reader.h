// Reads a netlist (a SPICE subset with plug-in instances) into a Circuit.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "netlist/circuit.h"
#include "pluginhost/plugin_library.h"

namespace udmhost {

// The catalogue of the plug-in library at `path`; throws std::runtime_error
// when it cannot be loaded.
using CatalogueLoader = std::function<std::vector<CatalogueItem>(const std::string& path)>;

// Loads the library, registers with callbacks that do nothing (the interface
// wants registration before the catalogue is read) and reads the catalogue.
std::vector<CatalogueItem> loadCatalogue(const std::string& path);

// Reads the netlist file; relative .plugin paths are taken from its folder.
// Throws NetlistError (file:line:column: message) for every fault found,
// std::runtime_error when the file cannot be read.
// `pluginPaths` (lower-case plug-in name -> path) replaces the paths of
// .plugin lines, for running a netlist against another build.
using PluginPaths = std::map<std::string, std::string>;
Circuit readNetlistFile(const std::string& path, const CatalogueLoader& catalogues = loadCatalogue,
                        const PluginPaths& pluginPaths = {});

// The same for netlist text in memory; `file` names it in messages.
Circuit readNetlist(std::string_view text, const std::string& file, const std::string& folder,
                    const CatalogueLoader& catalogues = loadCatalogue, const PluginPaths& pluginPaths = {});

}  // namespace udmhost
