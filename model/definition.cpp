// Modes 1 and 7: reading an instance's parameter list, releasing its texts.
#include "switch_instance.h"

namespace vcswitch {

void DefineInstance(InstanceData&, udm::ComponentRecordView, char*, MessageCallback) {}

void ReleaseInstance(InstanceData&) {}

}  // namespace vcswitch
