#include "sim/klu_solver.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

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
    fixed_ = FixedPivotLu();
    ownFactors_ = fixedHasKluPivots_ = false;
    symbolic_ = klu_analyze(pattern_.size, pattern_.columnStarts.data(), pattern_.rowIndices.data(), &common_);
    if (symbolic_ == nullptr) throw std::runtime_error("sparse matrix analysis failed");
}

bool KluSolver::freshFactorisation(const double* values) {
    ownFactors_ = fixedHasKluPivots_ = false;
    if (numeric_ != nullptr) klu_free_numeric(&numeric_, &common_);
    numeric_ = klu_factor(pattern_.columnStarts.data(), pattern_.rowIndices.data(), const_cast<double*>(values),
                          symbolic_, &common_);
    ++fullFactorisations_;
    if (numeric_ == nullptr || common_.status != KLU_OK) return false;
    // KLU chose the pivots; the factors that reuse them come from the flat
    // elimination lists, built again only when the pivots moved.
    const auto n = static_cast<size_t>(pattern_.size);
    std::vector<int> rows(n), columns(n), blocks(n + 1);
    fixedHasKluPivots_ = klu_extract(numeric_, symbolic_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, rows.data(), columns.data(), nullptr, blocks.data(),
                                     &common_) != 0;
    if (fixedHasKluPivots_ && !(fixed_.built() && fixed_.samePivots(rows.data(), columns.data()))) {
        blocks.resize(static_cast<size_t>(symbolic_->nblocks) + 1);
        fixedHasKluPivots_ = fixed_.build(pattern_, rows.data(), columns.data(), blocks);
    }
    ownFactors_ = fixedHasKluPivots_ && fixed_.factorise(values);
    referenceRcond_ = pivotRatio();
    bestRcond_ = std::max(bestRcond_, referenceRcond_);
    // Pivots chosen for a nearly singular matrix are not reused for the
    // next one: measured against their own poor quality they would pass.
    poorPivots_ = referenceRcond_ < kPivotDegradation * bestRcond_;
    return referenceRcond_ > 0.0;
}

double KluSolver::pivotRatio() {
    if (ownFactors_) return fixed_.pivotRatio();
    return klu_rcond(symbolic_, numeric_, &common_) ? common_.rcond : 0.0;
}

bool KluSolver::factorise(const double* values) {
    if (symbolic_ == nullptr) throw std::logic_error("factorise before analyse");
    if (numeric_ == nullptr || poorPivots_) return freshFactorisation(values);
    // KLU's own refactorisation where the flat lists give none: a pivot
    // they find lost in rounding is KLU's to judge, as it was before they
    // were built.
    ownFactors_ = fixedHasKluPivots_ && fixed_.factorise(values);
    if (ownFactors_ && fixed_.pivotRatio() > kPivotDegradation * referenceRcond_) return true;
    ownFactors_ = false;
    auto* a = const_cast<double*>(values);  // KLU takes non-const arrays it does not modify
    if (klu_refactor(pattern_.columnStarts.data(), pattern_.rowIndices.data(), a, symbolic_, numeric_, &common_) &&
        pivotRatio() > kPivotDegradation * referenceRcond_)
        return true;
    return freshFactorisation(values);
}

void KluSolver::solve(double* rhsInSolutionOut) {
    if (ownFactors_) {
        fixed_.solve(rhsInSolutionOut);
        return;
    }
    if (numeric_ == nullptr) throw std::logic_error("solve without factors");
    klu_solve(symbolic_, numeric_, pattern_.size, 1, rhsInSolutionOut, &common_);
}

}  // namespace udmhost::sim
