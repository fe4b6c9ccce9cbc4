// What a transient run gives: the printed columns row by row, the switching
// events and the run's counts.
#pragma once

#include <string>
#include <vector>

#include "output/row_store.h"

namespace udmhost {

struct RunStats {
    long accepted = 0;          // time points accepted
    long rejected = 0;          // steps rejected (truncation error, Newton failure, event location)
    long newtonIterations = 0;
    long evaluations = 0;       // plug-in instances evaluated in Newton iterations
    long bypassed = 0;          // of those, kept their stamp without a call (bypass)
    long watchEvaluations = 0;  // evaluated along trajectories, predicting and locating switchings
    long factorisations = 0;    // numeric factorisations; an iteration on unchanged values reuses the last
    long events = 0;            // switching events located
    long parts = 1;             // parts of the circuit integrated each on its own steps
    long fewestPartPoints = 0, mostPartPoints = 0;  // accepted points of a part, when there are several
    double wallSeconds = 0.0;
};

// A plug-in instance changed its state between two accepted time points.
struct SwitchEvent {
    double time = 0.0;
    std::string element;
    int newState = 0;
};

struct SimulationOutput {
    std::vector<std::string> columns;         // "time" first, then one per PrintItem
    RowStore rows;                            // one per accepted time point >= TSTART
    std::vector<SwitchEvent> events;
    RunStats stats;
};

}  // namespace udmhost
