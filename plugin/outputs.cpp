// Modes 5 and 6: output names and values.
#include <cstring>

#include "block_locks.h"
#include "host_numbers.h"
#include "parameters.h"
#include "switch_instance.h"

namespace vcswitch {

namespace {

// Output names in index order, starting at index 1; the parameters follow.
constexpr const char* kMeasureNames[] = {"STATE", "V", "I", "dV", "dI"};
constexpr uint16_t kMeasureCount = sizeof kMeasureNames / sizeof kMeasureNames[0];
constexpr uint16_t kOutputCount = kMeasureCount + kSlotCount;

enum OutputIndex : uint16_t { kState = 1, kVoltage, kCurrent, kVoltageRate, kCurrentRate, kFirstParameter };
static_assert(kFirstParameter == kMeasureCount + 1);

bool outputNameIs(uint16_t i, const char* name) {
#ifdef UDM_BREAK_NAME_PREFIX  // fault: compares only as many characters as the table's name has
    if (i < kMeasureCount) return std::strncmp(name, kMeasureNames[i], std::strlen(kMeasureNames[i])) == 0;
#endif
    if (i < kMeasureCount) return std::strcmp(name, kMeasureNames[i]) == 0;
    return kParameters[i - kMeasureCount].name == name;
}

double outputValue(const InstanceData& inst, const udm::VectorBlockView& vector, uint16_t index) {
    switch (index) {
        case kState:
            return static_cast<double>(inst.state);
        case kVoltage:
#ifdef UDM_BREAK_WRONG_NODES  // fault: the voltage across the switch is read from the control pair
            return vector.node(2) - vector.node(3);
#endif
            return vector.node(0) - vector.node(1);
        case kCurrent:
            return (vector.node(0) - vector.node(1)) * inst.conductance;
        case kVoltageRate:
#ifdef UDM_BREAK_DERIVATIVE_OFFSET  // fault: the derivative is read where the node values lie
            return vector.node(0) - vector.node(1);
#endif
            return vector.derivative(0) - vector.derivative(1);
        case kCurrentRate:
            return (vector.derivative(0) - vector.derivative(1)) * inst.conductance;
        default:
#ifdef UDM_BREAK_PARAMETER_INDEX  // fault: counts the parameter outputs from index 5, not 6
            if (index >= kFirstParameter && index <= kOutputCount)
                return index - kMeasureCount < kSlotCount ? inst.slots[index - kMeasureCount].value : 0.0;
#endif
            if (index >= kFirstParameter && index <= kOutputCount) return inst.slots[index - kFirstParameter].value;
#ifdef UDM_BREAK_SELECTOR  // fault: an unknown output reads as NaN
            return __builtin_nan("");
#endif
            return 0.0;
    }
}

}  // namespace

void resolveOutputIndex(const char* name, double* out) {
    if (out == nullptr) return;
    uint16_t index = 0;
    if (name != nullptr) {
        for (uint16_t i = 0; i < kOutputCount; ++i) {
            if (outputNameIs(i, name)) {
                index = static_cast<uint16_t>(i + 1);
                break;
            }
        }
    }
    *out = static_cast<double>(index);
}

int32_t readOutputValue(const InstanceData& inst, udm::ComponentRecordView comp, const void* simulation,
                        double* out) {
    if (simulation == nullptr) return UDM_ERR_NULL_HANDLE;
    const BlockLocks<1> blocks({comp.vectorBlock()});
    if (blocks.status() != UDM_OK) return blocks.status();
    const uint16_t index = outputIndexFromSelector(udm::SimulationRecordView(simulation).selector());
    const double value = outputValue(inst, udm::VectorBlockView(blocks.block(0), comp), index);
    if (out != nullptr) *out = value;
    return UDM_OK;
}

}  // namespace vcswitch
