#include "sim/klu_solver.h"

#include <algorithm>
#include <stdexcept>

namespace udmhost::sim {

namespace {
// A refactorisation whose pivot ratio fell this far below that of the
// fresh factorisation it reuses gets a fresh pivot search instead; a switch
// that changes its conductance by many decades can make old pivots unusable.
constexpr double kPivotDegradation = 1e-6;
}  // namespace

KluSolver::KluSolver() { klu_defaults(&common_); }

KluSolver::~KluSolver() { release(); }

void KluSolver::release() {
    if (numeric_ != nullptr) klu_free_numeric(&numeric_, &common_);
    if (symbolic_ != nullptr) klu_free_symbolic(&symbolic_, &common_);
}

void KluSolver::analyse(const SparsePattern& pattern) {
    release();
    pattern_ = pattern;
    symbolic_ = klu_analyze(pattern_.size, pattern_.columnStarts.data(), pattern_.rowIndices.data(), &common_);
    if (symbolic_ == nullptr) throw std::runtime_error("sparse matrix analysis failed");
}

bool KluSolver::freshFactorisation(const double* values) {
    if (numeric_ != nullptr) klu_free_numeric(&numeric_, &common_);
    numeric_ = klu_factor(pattern_.columnStarts.data(), pattern_.rowIndices.data(), const_cast<double*>(values),
                          symbolic_, &common_);
    ++fullFactorisations_;
    if (numeric_ == nullptr || common_.status != KLU_OK) return false;
    klu_rcond(symbolic_, numeric_, &common_);
    referenceRcond_ = common_.rcond;
    bestRcond_ = std::max(bestRcond_, referenceRcond_);
    // Pivots chosen for a nearly singular matrix are not reused for the
    // next one: measured against their own poor quality they would pass.
    poorPivots_ = referenceRcond_ < kPivotDegradation * bestRcond_;
    return referenceRcond_ > 0.0;
}

bool KluSolver::factorise(const double* values) {
    if (symbolic_ == nullptr) throw std::logic_error("factorise before analyse");
    if (numeric_ == nullptr || poorPivots_) return freshFactorisation(values);
    auto* a = const_cast<double*>(values);  // KLU takes non-const arrays it does not modify
    if (klu_refactor(pattern_.columnStarts.data(), pattern_.rowIndices.data(), a, symbolic_, numeric_, &common_) &&
        klu_rcond(symbolic_, numeric_, &common_) && common_.rcond > kPivotDegradation * referenceRcond_)
        return true;
    return freshFactorisation(values);
}

void KluSolver::solve(double* rhsInSolutionOut) {
    klu_solve(symbolic_, numeric_, pattern_.size, 1, rhsInSolutionOut, &common_);
}

}  // namespace udmhost::sim
