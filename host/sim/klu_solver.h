// LinearSolver on SuiteSparse KLU: one symbolic analysis, pivots chosen by
// KLU's factorisation and reused while they stay sound.
#pragma once

#include <klu.h>

#include "sim/fixed_pivot_lu.h"
#include "sim/linear_solver.h"

namespace udmhost::sim {

class KluSolver final : public LinearSolver {
public:
    KluSolver();
    ~KluSolver() override;
    KluSolver(const KluSolver&) = delete;
    KluSolver& operator=(const KluSolver&) = delete;

    void analyse(const SparsePattern& pattern) override;
    bool factorise(const double* values) override;
    void solve(double* rhsInSolutionOut) override;
    long fullFactorisations() const override { return fullFactorisations_; }
    int singularColumn() const override {
        return common_.status == KLU_SINGULAR ? static_cast<int>(common_.singular_col) : -1;
    }

private:
    bool freshFactorisation(const double* values);
    double pivotRatio();  // of the latest factors
    void release();

    klu_common common_{};
    klu_symbolic* symbolic_ = nullptr;
    klu_numeric* numeric_ = nullptr;
    SparsePattern pattern_;
    FixedPivotLu fixed_;
    bool fixedHasKluPivots_ = false;  // fixed_ is built on the pivots of KLU's latest factors
    bool ownFactors_ = false;         // the latest factors are fixed_'s, else KLU's
    double referenceRcond_ = 0.0;  // of the latest fresh factorisation
    double bestRcond_ = 0.0;       // of all fresh factorisations
    bool poorPivots_ = false;      // the latest fresh one was of a nearly singular matrix
    long fullFactorisations_ = 0;
};

}  // namespace udmhost::sim
