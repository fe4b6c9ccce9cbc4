// Windows: udmhost.exe draws no plots (gnuplot is not part of it).
#include "output/plotter_process.h"

#include <stdexcept>

namespace udmhost {

std::string runPlotter(const std::function<void(std::ostream&)>&, int, const std::string& what) {
    throw std::runtime_error("cannot draw " + what +
                             ": the Windows build of udmhost draws no plots; write the results with -o or --raw "
                             "and plot them elsewhere");
}

}  // namespace udmhost
