#include "sim/linear_solver.h"

#include <stdexcept>

#include "sim/eigen_solver.h"
#include "sim/klu_solver.h"

namespace udmhost::sim {

std::unique_ptr<LinearSolver> makeLinearSolver(const std::string& name) {
    if (name == "klu") return std::make_unique<KluSolver>();
    if (name == "eigen") return std::make_unique<EigenSolver>();
    throw std::invalid_argument("unknown solver '" + name + "' (expected klu or eigen)");
}

}  // namespace udmhost::sim
