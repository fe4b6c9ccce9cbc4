// Modes 2, 3 and 4: preparation, evaluation of the stamp, acceptance.
#include <cmath>

#include "block_locks.h"
#include "host_numbers.h"
#include "switch_instance.h"

namespace vcswitch {

namespace {

// Stands in for a resistance of zero: its reciprocal is exactly the largest
// finite float, so a shorted switch still gives a finite conductance.
constexpr double kZeroResistanceSubstitute = 2.938736052218037e-39;

// The 2x2 stamp between N1 (0) and N2 (1), entry by entry.
constexpr int32_t kPatternRows[4] = {0, 0, 1, 1};
constexpr int32_t kPatternCols[4] = {0, 1, 0, 1};

inline void SubstituteZeroResistance(double& resistance) {
    // Zero of either sign and NaN all fail both comparisons.
    if (!(resistance < 0.0 || resistance > 0.0)) resistance = kZeroResistanceSubstitute;
}

inline int32_t DecideState(const InstanceData& inst, double controlVoltage) {
    const double threshold = inst.slots[kVthres].value;
    const double hysteresis = inst.slots[kVhyst].value;
    // Written as "stays ... unless": a NaN anywhere fails the comparison and
    // leaves the switch closed from either side.
    if (inst.acceptedState == 1) return controlVoltage <= threshold - hysteresis ? 0 : 1;
    return controlVoltage < threshold + hysteresis ? 0 : 1;
}

}  // namespace

int32_t PrepareInstance(InstanceData& inst, udm::ComponentRecordView comp,
                        ExpressionCallback expression) {
    const VectorMatrixLock blocks(comp);
    if (blocks.status() != UDM_OK) return blocks.status();

    for (size_t s = 0; s < kSlotCount; ++s) {
#ifdef UDM_BREAK_REGISTRATION_ORDER  // fault: registers the last parameter first
        ParamSlot& slot = inst.slots[kSlotCount - 1 - s];
#else
        ParamSlot& slot = inst.slots[s];
#endif
        // A slot whose text could not be copied has nothing to register.
        if (!slot.isExpression || slot.exprText == nullptr) continue;
        double ids[2] = {0.0, 0.0};
        expression(UDM_EXPR_REGISTER, slot.exprText, nullptr, ids);
#ifdef UDM_BREAK_ID_ROUNDED  // fault: rounds the identifiers instead of truncating
        slot.exprId1 = TruncateToInt32OrZero(std::round(ids[0]));
        slot.exprId2 = TruncateToInt32OrZero(std::round(ids[1]));
#else
        slot.exprId1 = TruncateToInt32OrZero(ids[0]);
        slot.exprId2 = TruncateToInt32OrZero(ids[1]);
#endif
    }

    void* matrix = blocks.matrix();
    const uint16_t rows = comp.rowIndexOffset();
    const uint16_t cols = comp.colIndexOffset();
    for (size_t k = 0; k < 4; ++k) {
        udm::storeAt<int32_t>(matrix, rows + 4 * k, kPatternRows[k]);
        udm::storeAt<int32_t>(matrix, cols + 4 * k, kPatternCols[k]);
    }
    return UDM_OK;
}

int32_t EvaluateInstance(InstanceData& inst, udm::ComponentRecordView comp, const void* simulation,
                         ExpressionCallback expression) {
    if (simulation == nullptr) return UDM_ERR_NULL_HANDLE;
    const VectorMatrixLock blocks(comp);
    if (blocks.status() != UDM_OK) return blocks.status();

    for (ParamSlot& slot : inst.slots) {
        if (!slot.isExpression) continue;
        double ids[2] = {static_cast<double>(slot.exprId1), static_cast<double>(slot.exprId2)};
        double result[2] = {0.0, 0.0};
        expression(UDM_EXPR_EVALUATE, nullptr, ids, result);
        slot.value = result[0];
    }
    SubstituteZeroResistance(inst.slots[kRon].value);
    SubstituteZeroResistance(inst.slots[kRoff].value);

    void* vector = blocks.vector();
    const udm::SimulationRecordView sim(simulation);
    int32_t state;
    if (sim.time() >= sim.startTime()) {
#ifdef UDM_BREAK_KEEPS_ADDRESS  // fault: keeps the first vector block address it saw
        static void* kept = nullptr;
        if (kept == nullptr) kept = vector;
        vector = kept;
#endif
        const uint16_t nodes = comp.nodeValueOffset();
        const double control = udm::loadAt<double>(vector, nodes + 16u) - udm::loadAt<double>(vector, nodes + 24u);
#ifdef UDM_BREAK_GLOBAL_STATE  // fault: one accepted state for all instances
        static int32_t shared = 0;
        inst.acceptedState = shared;
        state = DecideState(inst, control);
        shared = state;
#else
        state = DecideState(inst, control);
#endif
#ifdef UDM_BREAK_REJECTED_STEP  // fault: an evaluation moves the starting state
        inst.acceptedState = state;
#endif
    } else {  // before the start (or unordered times): the initial state rules
        const int32_t initial = TruncateToInt32OrZero(inst.slots[kCtrl0].value);
        state = initial == 1 ? 1 : 0;
        inst.acceptedState = initial;
    }
    const double g = 1.0 / inst.slots[state == 1 ? kRon : kRoff].value;
#ifndef UDM_BREAK_STAMP_SKIPPED
    inst.state = state;
#endif

    void* matrix = blocks.matrix();
#ifdef UDM_BREAK_SIGNED_OFFSETS  // fault: reads the offset as a signed 16-bit number
    const auto values = static_cast<int16_t>(comp.matrixValueOffset());
#else
    const uint16_t values = comp.matrixValueOffset();
#endif
#ifdef UDM_BREAK_STAMP_ADDED  // fault: adds to what the entries held
    double held[4];
    for (unsigned k = 0; k < 4; ++k) held[k] = udm::loadAt<double>(matrix, values + 8u * k);
#endif
#ifdef UDM_BREAK_STAMP_SKIPPED  // fault: writes the stamp only when it changed
    if (!(inst.conductance == g && inst.state == state))
#endif
    {
        udm::storeAt<double>(matrix, values, g);
        udm::storeAt<double>(matrix, values + 8u, -g);
        udm::storeAt<double>(matrix, values + 16u, -g);
        udm::storeAt<double>(matrix, values + 24u, g);
    }
#ifdef UDM_BREAK_STAMP_ADDED
    for (unsigned k = 0; k < 4; ++k)
        udm::storeAt<double>(matrix, values + 8u * k, held[k] + udm::loadAt<double>(matrix, values + 8u * k));
#endif
    inst.conductance = g;
#ifdef UDM_BREAK_STAMP_SKIPPED
    inst.state = state;
#endif

    const uint16_t rhs = comp.rhsOffset();
    udm::storeAt<double>(vector, rhs, 0.0);
    udm::storeAt<double>(vector, rhs + 8u, 0.0);
    return UDM_OK;
}

void AcceptStep(InstanceData& inst) { inst.acceptedState = inst.state; }

}  // namespace vcswitch
