// The SimulationRecord handed to the evaluation and output phases.
#pragma once

#include "record_fields.h"

namespace udm {

class SimulationRecordView {
public:
    explicit SimulationRecordView(const void* base) : base_(base) {}
    double selector() const { return loadAt<double>(base_, UDM_SIM_SELECTOR); }
    double time() const { return loadAt<double>(base_, UDM_SIM_TIME); }
    double startTime() const { return loadAt<double>(base_, UDM_SIM_START_TIME); }
    // The weights of the integration rule (see UDM_SIM_RATE_NEW).
    double rateOfNew() const { return loadAt<double>(base_, UDM_SIM_RATE_NEW); }
    double rateOfOlder() const { return loadAt<double>(base_, UDM_SIM_RATE_OLDER); }
    double rateOfLastDerivative() const { return loadAt<double>(base_, UDM_SIM_RATE_LAST_DERIVATIVE); }
    double newtonSolve() const { return loadAt<double>(base_, UDM_SIM_NEWTON_SOLVE); }

private:
    const void* base_;
};

// Host side: a writable SimulationRecord.
class SimulationRecordWriter {
public:
    explicit SimulationRecordWriter(void* base) : base_(base) {}
    void setSelector(double v) const { storeAt<double>(base_, UDM_SIM_SELECTOR, v); }
    void setTime(double v) const { storeAt<double>(base_, UDM_SIM_TIME, v); }
    void setStartTime(double v) const { storeAt<double>(base_, UDM_SIM_START_TIME, v); }
    void setRates(double ofNew, double ofOlder, double ofLastDerivative) const {
        storeAt<double>(base_, UDM_SIM_RATE_NEW, ofNew);
        storeAt<double>(base_, UDM_SIM_RATE_OLDER, ofOlder);
        storeAt<double>(base_, UDM_SIM_RATE_LAST_DERIVATIVE, ofLastDerivative);
    }
    void setNewtonSolve(double serial) const { storeAt<double>(base_, UDM_SIM_NEWTON_SOLVE, serial); }

private:
    void* base_;
};

}  // namespace udm
