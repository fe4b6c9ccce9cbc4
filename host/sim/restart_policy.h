// How the time loop starts again after a switching or a source's corner:
// the method of the first two steps (which leave the history second-order
// methods need), and the steps that follow, which the first one after a
// switching sets from how fast the circuit now is.
#pragma once

#include "sim/circuit_equations.h"
#include "sim/step_controller.h"

namespace udmhost::sim {

class RestartPolicy {
public:
    using Kind = Discretisation::Kind;

    // From a switching's point; `onOldStamps`: it was solved on the stamps
    // before the switching. Returns the first step.
    // `at`: its time.
    double afterSwitching(const StepController& steps, bool onOldStamps, double at);
    // From a breakpoint of a source, after the step `step` onto it.
    void atCorner() {
        stepsSinceRestart_ = 0;
        stiffStep_ = steppedOverStiff_ = afterStiff_ = false;
    }
    // Whether the latest backward Euler step passed only on its filtered estimate.
    // One more step follows the last that was: what is left of the mode then
    // goes down by the step over its time constant once more, and the
    // trapezoidal rule, which does not damp it, starts from a flow that
    // carries that much less of it.
    void noteStiffStep(bool stiff) {
        stiffStep_ = stiff || (stiffStep_ && !afterStiff_);
        afterStiff_ = !stiff && stiffStep_;
        steppedOverStiff_ = steppedOverStiff_ || stiff;
    }
    // A backward Euler point's derivative may be taken to second order from
    // the points before it: not across a mode it stepped over, whose decay
    // those points carry; the flow of the step itself is the circuit's own.
    bool smoothHistory() const { return historyFor(1) && !steppedOverStiff_; }
    // A trial step was rejected.
    void rejected() { slowStretch_ = false; }

    // The method of the next step, of order `secondOrder` once the history allows.
    Kind method(Kind secondOrder) const;
    bool historyFor(int points) const { return stepsSinceRestart_ >= points; }
    bool secondStep() const { return stepsSinceRestart_ == 1; }
    bool firstAfterSwitching() const { return stepsSinceRestart_ == 0 && restartedBySwitching_; }
    bool switchedOnOldStamps() const { return switchedOnOldStamps_; }
    bool firstRetried() const { return firstRetried_; }
    void retryFirst() { firstRetried_ = true; }

    // A step accepted with truncation ratio `ratio` (infinity: not
    // estimated); `h` the next step as the error control and the limits set
    // it, `firstLimit` the longest step the first one after a switching
    // allows. Returns the next step.
    double accepted(const StepController& steps, Kind secondOrder, double step, double ratio, bool onLimit,
                    double firstLimit, double h);
    // The pace of the circuit before a switching: the step the truncation
    // estimate allowed at the last accepted point (not the step taken, which
    // a switching just before, or the approach to this one, may have cut
    // short), from which the first step after the switching is a fraction.
    // `ratio`: of that point's step `step` (infinity: not estimated);
    // `cut`: the step was cut short by a limit.
    void notePace(const StepController& steps, double step, double ratio, bool cut);
    double pace = 0.0;
    // The step before a corner that was not shortened by a limit, from
    // which the first step after the corner is a fraction: a source's corner
    // is not checked as a switching's first step is.
    double lastFullStep = 0.0;

private:
    int stepsSinceRestart_ = 0;
    bool restartedBySwitching_ = false;
    bool firstRetried_ = false;         // the first step after the switching was taken again
    bool slowStretch_ = false;          // a switching led into a stretch far slower than its first step
    bool switchedOnOldStamps_ = false;  // the last switching's point was solved on the old stamps
    bool trapezoidalNext_ = false;      // the second step after a switching is trapezoidal
    bool gearNext_ = false;             // ... or a second-order backward difference
    double chainPace_ = 0.0;            // the pace before the first of switchings in a row
    double lastSwitching_ = -1.0;       // the time of the latest switching
    double firstStep_ = 0.0;            // and the first step after it
    bool stiffStep_ = false;            // the last step passed only on its filtered estimate
    bool steppedOverStiff_ = false;     // some step since the restart did
    bool afterStiff_ = false;           // the next step is the one after the last that did
};

}  // namespace udmhost::sim
