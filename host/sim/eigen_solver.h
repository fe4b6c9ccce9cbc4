// LinearSolver on Eigen's SparseLU: the second implementation, and the
// oracle that the KLU one is tested against.
#pragma once

#include <Eigen/SparseCore>
#include <Eigen/SparseLU>

#include "sim/linear_solver.h"

namespace udmhost::sim {

class EigenSolver final : public LinearSolver {
public:
    void analyse(const SparsePattern& pattern) override;
    bool factorise(const double* values) override;
    void solve(double* rhsInSolutionOut) override;
    long fullFactorisations() const override { return factorisations_; }

private:
    Eigen::SparseMatrix<double, Eigen::ColMajor, int> matrix_;
    Eigen::SparseLU<Eigen::SparseMatrix<double, Eigen::ColMajor, int>> lu_;
    Eigen::VectorXd solution_;
    long factorisations_ = 0;
};

}  // namespace udmhost::sim
