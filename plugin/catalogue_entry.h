// The component's catalogue and the writer of one CatalogueEntry record.
#pragma once

#include <cstdint>

#include "udm_interface.h"

namespace vcswitch {

inline constexpr uint32_t kCatalogueEntries = 14;

// Writes entry `index` into `record` (UDM_CATALOGUE_ENTRY_BYTES bytes): name,
// kind, the description from `module`'s string table and, for parameters
// only, the default text; other entries leave the default field as it was.
// Returns false, touching nothing, for an index beyond the catalogue.
bool writeCatalogueEntry(unsigned char* record, uint32_t index, HINSTANCE module);

}  // namespace vcswitch
