// The first step after a switching, remembered per switch and direction.
// That step is sized from the pace before the switching and taken again
// when its own estimate shows it far too long; a switch that closes the same
// way period after period would pay that retry every time. The step its last
// switching the same way allowed is where the next one starts (never longer
// than the pace would have it), and the check of the first step stays.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "output/simulation_output.h"

namespace udmhost::sim {

class FirstStepMemory {
public:
    // The switchings `events` of one point start a restart whose first step
    // would be `fromPace`, and at least `floor`: the first step to take.
    double firstStep(const std::vector<SwitchEvent>& events, double fromPace, double floor);
    // The first step of that restart allowed `allowed`.
    void learn(double allowed);

private:
    std::map<std::pair<std::string, int>, double> allowed_;
    std::vector<std::pair<std::string, int>> restart_;  // the switchings of the latest restart
};

}  // namespace udmhost::sim
