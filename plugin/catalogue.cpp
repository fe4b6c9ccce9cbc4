// The catalogue of terminals, parameters and outputs.
#include "udm_interface.h"

extern "C" UDM_EXPORT void* UDM_CALL ListNodeInfo(uint32_t) { return nullptr; }
