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
#ifdef UDM_BREAK_ZERO_RESISTANCE  // fault: a resistance of zero is inverted as it is
    return resistance;
#endif
    return resistance < 0.0 || resistance > 0.0 ? resistance : kZeroResistanceSubstitute;
}

// The state (0 open, 1 closed) reached from `acceptedState` at `control` volts.
inline int32_t decideState(double threshold, double hysteresis, int32_t acceptedState, double control) {
    // Written as "stays ... unless": a NaN anywhere fails the comparison and
    // leaves the switch closed from either side.
#ifdef UDM_BREAK_HYSTERESIS_INVERTED  // fault: the band's edges swapped, closing below and opening above
    if (acceptedState == 1) return control <= threshold + hysteresis ? 0 : 1;
    return control < threshold - hysteresis ? 0 : 1;
#endif
#ifdef UDM_BREAK_OPENING_THRESHOLD  // fault: the opening threshold itself no longer opens
    if (acceptedState == 1) return control < threshold - hysteresis ? 0 : 1;
#else
    if (acceptedState == 1) return control <= threshold - hysteresis ? 0 : 1;
#endif
    return control < threshold + hysteresis ? 0 : 1;
}

struct SwitchStep {
    int32_t state;          // 0 open, 1 closed
    int32_t acceptedState;  // where the next decision starts
    double conductance;     // siemens
};

// Before the start time (or with unordered times) the initial state rules.
inline bool hasStarted(double time, double startTime) { return time >= startTime; }

// After the start: the law decides from the accepted state, which stays.
inline SwitchStep decidedStep(const double (&values)[kSlotCount], double control, int32_t acceptedState) {
    const int32_t state = decideState(values[kVthres], values[kVhyst], acceptedState, control);
    return {state, acceptedState, 1.0 / values[state == 1 ? kRon : kRoff]};
}

// Before the start: CTRL0 gives the state and, as given, the accepted state.
inline SwitchStep initialStep(const double (&values)[kSlotCount]) {
    const int32_t initial = truncateToInt32OrZero(values[kCtrl0]);
    const int32_t state = initial == 1 ? 1 : 0;
    return {state, initial, 1.0 / values[state == 1 ? kRon : kRoff]};
}

}  // namespace vcswitch
