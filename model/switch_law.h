// The switch's physics: which state it takes and what it conducts, as pure
// functions of its parameters, the control voltage, the accepted state and time.
#pragma once

#include <cstdint>

#include "host_numbers.h"
#include "parameters.h"

namespace vcswitch {

// Stands in for a resistance of zero: its reciprocal is exactly the largest
// finite float, so a shorted switch still gives a finite conductance.
inline constexpr double kZeroResistanceSubstitute = 2.938736052218037e-39;

inline double usableResistance(double resistance) {
    // Zero of either sign and NaN all fail both comparisons.
    return resistance < 0.0 || resistance > 0.0 ? resistance : kZeroResistanceSubstitute;
}

// The state (0 open, 1 closed) reached from `acceptedState` at `control` volts.
inline int32_t decideState(double threshold, double hysteresis, int32_t acceptedState, double control) {
    // Written as "stays ... unless": a NaN anywhere fails the comparison and
    // leaves the switch closed from either side.
    if (acceptedState == 1) return control <= threshold - hysteresis ? 0 : 1;
    return control < threshold + hysteresis ? 0 : 1;
}

struct SwitchStep {
    int32_t state;          // 0 open, 1 closed
    int32_t acceptedState;  // where the next decision starts
    double conductance;     // siemens
};

// One evaluation at `time`; before `startTime` (or with unordered times) the
// initial state rules and also becomes the accepted state, as given.
inline SwitchStep switchStep(const double (&values)[kSlotCount], double control, int32_t acceptedState, double time,
                             double startTime) {
    SwitchStep step{0, acceptedState, 0.0};
    if (time >= startTime) {
        step.state = decideState(values[kVthres], values[kVhyst], acceptedState, control);
    } else {
        const int32_t initial = truncateToInt32OrZero(values[kCtrl0]);
        step.state = initial == 1 ? 1 : 0;
        step.acceptedState = initial;
    }
    step.conductance = 1.0 / values[step.state == 1 ? kRon : kRoff];
    return step;
}

}  // namespace vcswitch
