// Which nodes each element's equations depend on and which it drives: the
// edges of the circuit's dependency graph. A plug-in drives the nodes of its
// matrix rows; its other terminals (a switch's control) are only read.
#pragma once

#include <vector>

#include "netlist/circuit.h"

namespace udmhost::sim {

struct ElementRoles {
    std::vector<int> drives;  // nodes whose equations the element's stamp enters
    std::vector<int> reads;   // nodes its stamp depends on (the driven ones included)
};

// What a plug-in is taken to drive: every terminal, none, or the rows of
// its matrix entries, learnt by defining an instance of it (when that
// fails, every terminal: the run itself then reports the failure).
enum class PluginDrives { AllTerminals, NoTerminal, MatrixRows };

// One per element.
std::vector<ElementRoles> elementRoles(const Circuit& circuit, PluginDrives pluginDrives);

}  // namespace udmhost::sim
