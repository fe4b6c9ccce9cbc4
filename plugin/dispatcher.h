// The frame of UDMMain: handle checks, locks, and the phase handlers.
#pragma once

#include <cstdint>

#include "udm_interface.h"

namespace vcswitch {

int32_t dispatch(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance,
                 HGLOBAL component);

}  // namespace vcswitch
