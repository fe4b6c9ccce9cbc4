// Switchings that set off another one within the first step after them (a
// diode turning off picoseconds after its switch closed) do so again each
// period, after about the same delay. Such a chain, seen twice alike, bounds
// the first trial after its next start: the follow-up is approached and
// stepped onto, instead of being shown by a trial that reaches a switch
// node's fast mode at once and places the follow-up late on its chord.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "output/simulation_output.h"

namespace udmhost::sim {

class SwitchingChains {
public:
    // Of a delay: how far the next may differ from it for the chain to
    // count as seen again (at least twice the location's tolerance).
    static constexpr double kAgreement = 0.01;

    // A switching point at `time`: events[from..] are its switchings, and
    // `firstStep` the first trial the restart after it would take. Returns
    // the delay after which the same switchings followed these, the last two
    // times alike, when that is well within the first step and longer than
    // `tolerance`.
    std::optional<double> switched(const std::vector<SwitchEvent>& events, size_t from, double time,
                                   double firstStep, double tolerance);

private:
    struct Chain {
        std::string followUp;
        double delay = 0.0;
        bool seenTwice = false;
    };
    std::unordered_map<std::string, Chain> chains_;
    std::string lastKey_;
    double lastTime_ = 0.0, lastFirstStep_ = 0.0;
};

}  // namespace udmhost::sim
