// The catalogue of terminals, parameters and outputs, one entry per call.
#include "catalogue_entry.h"
#include "registration.h"
#include "udm_interface.h"

namespace {

// One record for the whole process; the host reads it until the next call.
alignas(8) unsigned char gCatalogueRecord[UDM_CATALOGUE_ENTRY_BYTES] = {};

}  // namespace

extern "C" UDM_EXPORT void* UDM_CALL ListNodeInfo(uint32_t index) {
    if (!vcswitch::writeCatalogueEntry(gCatalogueRecord, index, vcswitch::moduleHandle())) return nullptr;
    return gCatalogueRecord;
}
