// A catalogue like a four-terminal switch plug-in's, without loading one.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "pluginhost/plugin_library.h"

namespace hosttest {

inline std::vector<udmhost::CatalogueItem> switchCatalogue() {
    using udmhost::CatalogueItem;
    return {
        {"STATE", UDM_KIND_OUTPUT, "state", ""},     {"V", UDM_KIND_OUTPUT, "voltage", ""},
        {"dV", UDM_KIND_OUTPUT, "dV/dt", ""},        {"RON", UDM_KIND_PARAMETER, "on", "1.0e-3"},
        {"ROFF", UDM_KIND_PARAMETER, "off", "1.0e9"}, {"VTHRES", UDM_KIND_PARAMETER, "threshold", "0.0"},
        {"VHYST", UDM_KIND_PARAMETER, "hysteresis", "0.0"}, {"CTRL0", UDM_KIND_PARAMETER, "initial", "0.0"},
        {"N1", UDM_KIND_TERMINAL, "", ""},           {"N2", UDM_KIND_TERMINAL, "", ""},
        {"NC1", UDM_KIND_TERMINAL, "", ""},          {"NC2", UDM_KIND_TERMINAL, "", ""},
    };
}

// Serves the switch catalogue for paths ending in "sw.so"; refuses others.
struct FakeLoader {
    std::vector<std::string>* requested = nullptr;
    std::vector<udmhost::CatalogueItem> operator()(const std::string& path) const {
        if (requested != nullptr) requested->push_back(path);
        if (path.size() < 5 || path.substr(path.size() - 5) != "sw.so")
            throw std::runtime_error("cannot load plug-in: " + path + ": no such file");
        return switchCatalogue();
    }
};

}  // namespace hosttest
