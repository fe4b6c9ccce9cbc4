// Placeholder so that the host links until the simulator is built here.
#include "simulator.h"

namespace udmhost {

SimulationOutput simulate(const Circuit&, std::ostream&, const ProgressFn&) {
    throw SimulationError("this build of udmhost has no simulator yet");
}

}  // namespace udmhost
