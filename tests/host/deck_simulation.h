// A netlist run with the switch and diode plug-ins of this build, for the
// tests of the diode_tests target (which defines the two paths).
#pragma once

#include <sstream>
#include <string>

#include "netlist/netlist_reader.h"
#include "sim/simulator.h"

inline udmhost::SimulationOutput simulateDeck(const std::string& text, const std::string& file = "deck.cir") {
    const udmhost::Circuit c = udmhost::readNetlist(text, file, ".", udmhost::loadCatalogue,
                                                    {{"vcswitch", VCSWITCH_PLUGIN}, {"diode", DIODE_PLUGIN}});
    std::ostringstream messages;
    return udmhost::simulate(c, messages);
}
