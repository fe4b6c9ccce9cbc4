// Modes 2, 3 and 4: preparation, evaluation of the stamp, acceptance.
#include "switch_instance.h"

namespace vcswitch {

int32_t PrepareInstance(InstanceData&, udm::ComponentRecordView, ExpressionCallback) { return UDM_OK; }

int32_t EvaluateInstance(InstanceData&, udm::ComponentRecordView, const void*, ExpressionCallback) {
    return UDM_OK;
}

void AcceptStep(InstanceData&) {}

}  // namespace vcswitch
