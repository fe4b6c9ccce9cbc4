#include "sim/eigen_solver.h"

#include <algorithm>
#include <vector>

namespace udmhost::sim {

void EigenSolver::analyse(const SparsePattern& pattern) {
    std::vector<Eigen::Triplet<double, int>> entries;
    entries.reserve(pattern.rowIndices.size());
    for (int col = 0; col < pattern.size; ++col)
        for (int k = pattern.columnStarts[col]; k < pattern.columnStarts[col + 1]; ++k)
            entries.emplace_back(pattern.rowIndices[k], col, 1.0);
    matrix_.resize(pattern.size, pattern.size);
    matrix_.setFromTriplets(entries.begin(), entries.end());
    matrix_.makeCompressed();
    lu_.analyzePattern(matrix_);
    solution_.resize(pattern.size);
}

bool EigenSolver::factorise(const double* values) {
    // Same compressed layout as the pattern: row indices sorted per column.
    std::copy_n(values, matrix_.nonZeros(), matrix_.valuePtr());
    lu_.factorize(matrix_);
    ++factorisations_;
    return lu_.info() == Eigen::Success;
}

void EigenSolver::solve(double* rhsInSolutionOut) {
    const Eigen::Map<Eigen::VectorXd> rhs(rhsInSolutionOut, matrix_.rows());
    solution_ = lu_.solve(rhs);
    std::copy_n(solution_.data(), solution_.size(), rhsInSolutionOut);
}

}  // namespace udmhost::sim
