// Modes 5 and 6: output names and values.
#include <cstring>

#include "host_numbers.h"
#include "switch_instance.h"

namespace vcswitch {

namespace {

// Output names in index order, starting at index 1.
constexpr const char* kOutputNames[] = {"STATE", "V", "I", "dV", "dI", "RON", "ROFF", "VTHRES", "VHYST", "CTRL0"};
constexpr uint16_t kOutputCount = sizeof kOutputNames / sizeof kOutputNames[0];

enum OutputIndex : uint16_t { kState = 1, kVoltage, kCurrent, kVoltageRate, kCurrentRate, kFirstParameter };

double PairDifference(const void* vector, uint16_t offset) {
    return udm::loadAt<double>(vector, offset) - udm::loadAt<double>(vector, offset + 8u);
}

double OutputValue(const InstanceData& inst, udm::ComponentRecordView comp, const void* vector, uint16_t index) {
    switch (index) {
        case kState:
            return static_cast<double>(inst.state);
        case kVoltage:
            return PairDifference(vector, comp.nodeValueOffset());
        case kCurrent:
            return PairDifference(vector, comp.nodeValueOffset()) * inst.conductance;
        case kVoltageRate:
            return PairDifference(vector, comp.nodeDerivOffset());
        case kCurrentRate:
            return PairDifference(vector, comp.nodeDerivOffset()) * inst.conductance;
        default:
            if (index >= kFirstParameter && index <= kOutputCount) return inst.slots[index - kFirstParameter].value;
#ifdef UDM_BREAK_SELECTOR  // fault: an unknown output reads as NaN
            return __builtin_nan("");
#endif
            return 0.0;
    }
}

}  // namespace

void ResolveOutputIndex(const char* name, double* out) {
    if (out == nullptr) return;
    uint16_t index = 0;
    if (name != nullptr) {
        for (uint16_t i = 0; i < kOutputCount; ++i) {
            if (std::strcmp(name, kOutputNames[i]) == 0) {
                index = static_cast<uint16_t>(i + 1);
                break;
            }
        }
    }
    *out = static_cast<double>(index);
}

int32_t ReadOutputValue(const InstanceData& inst, udm::ComponentRecordView comp, const void* simulation,
                        double* out) {
    if (simulation == nullptr) return UDM_ERR_NULL_HANDLE;
    const HGLOBAL vectorHandle = comp.vectorBlock();
    if (vectorHandle == nullptr) return UDM_ERR_NULL_HANDLE;
    const void* vector = GlobalLock(vectorHandle);
    if (vector == nullptr) return UDM_ERR_LOCK_FAILED;
    const uint16_t index = OutputIndexFromSelector(udm::SimulationRecordView(simulation).selector());
    const double value = OutputValue(inst, comp, vector, index);
    if (out != nullptr) *out = value;
    GlobalUnlock(vectorHandle);
    return UDM_OK;
}

}  // namespace vcswitch
