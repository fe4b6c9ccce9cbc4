// The switch instance: its record in the host's instance block and the
// handlers of the phases that act on it.
#pragma once

#include <cstdint>

#include "host_records.h"
#include "parameters.h"
#include "udm_interface.h"

namespace vcswitch {

// One parameter of an instance: a number, or an expression the host evaluates.
struct ParamSlot {
    bool isExpression;
    int32_t exprId1;
    int32_t exprId2;
    double value;
    char* exprText;  // owned heap copy of the expression, or null
};

// Lives at the start of the host's instance block, which the host allocates
// zero-filled with the size announced at registration.
struct InstanceData {
    ParamSlot slots[kSlotCount];
    int32_t state;          // decided by the latest evaluation: 0 open, 1 closed
    int32_t acceptedState;  // where the next switching decision starts
    double conductance;     // 1/R of the latest evaluation, siemens
};

static_assert(sizeof(InstanceData) <= UDM_INSTANCE_BYTES,
              "InstanceData must fit the instance block announced at registration");

// Phase handlers; the dispatcher has locked the instance block and the
// component record. They return a UDMMain status code where they can fail.
void defineInstance(InstanceData& inst, udm::ComponentRecordView comp, char* text,
                    MessageCallback message);                                   // mode 1
int32_t prepareInstance(InstanceData& inst, udm::ComponentRecordView comp,
                        ExpressionCallback expression);                         // mode 2
// mode 3: evaluateInstance in evaluation.h
void acceptStep(InstanceData& inst);                                            // mode 4
void resolveOutputIndex(const char* name, double* out);                         // mode 5
int32_t readOutputValue(const InstanceData& inst, udm::ComponentRecordView comp,
                        const void* simulation, double* out);                   // mode 6
void releaseInstance(InstanceData& inst);                                       // mode 7

}  // namespace vcswitch
