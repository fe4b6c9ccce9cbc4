// Modes 5 and 6: output names and values.
#include "switch_instance.h"

namespace vcswitch {

void ResolveOutputIndex(const char*, double*) {}

int32_t ReadOutputValue(const InstanceData&, udm::ComponentRecordView, const void*, double*) { return UDM_OK; }

}  // namespace vcswitch
