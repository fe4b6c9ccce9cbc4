// Process-wide state that registration leaves behind.
#pragma once

#include "udm_interface.h"

namespace vcswitch {

struct HostCallbacks {
    MessageCallback message = nullptr;
    ExpressionCallback expression = nullptr;
};

// Set by UDMInit; read by every call, so inline.
extern HostCallbacks g_hostCallbacks;
inline HostCallbacks& hostCallbacks() { return g_hostCallbacks; }

// This library's own module handle, kept when the library is loaded.
HINSTANCE moduleHandle();

}  // namespace vcswitch
