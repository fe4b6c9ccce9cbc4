#include "sim/call_in_progress.h"

namespace udmhost::sim {

std::string modeName(int32_t mode) {
    static const char* const kNames[] = {"define (mode 1)", "prepare (mode 2)", "evaluate (mode 3)",
                                         "accept (mode 4)", "output index (mode 5)", "output value (mode 6)",
                                         "release (mode 7)"};
    if (mode >= 1 && mode <= 7) return kNames[mode - 1];
    return "mode " + std::to_string(mode);
}

}  // namespace udmhost::sim
