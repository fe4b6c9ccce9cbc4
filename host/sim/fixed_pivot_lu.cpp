#include "sim/fixed_pivot_lu.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace udmhost::sim {

namespace {

size_t at(int i) { return static_cast<size_t>(i); }

// Of the largest entry in its column: a pivot below this is what is left of
// a cancellation in rounding (a node pair whose common voltage hangs on
// leakage beside a short step's capacitor companion), not a value. The
// factorisation that pivots afresh decides what to do with it.
constexpr double kLostPivot = 1e-14;

}  // namespace

bool FixedPivotLu::build(const SparsePattern& pattern, const int* rowOrder, const int* columnOrder,
                         const std::vector<int>& blockStarts) {
    built_ = false;
    n_ = pattern.size;
    const size_t n = at(n_);
    rowOrder_.assign(rowOrder, rowOrder + n);
    columnOrder_.assign(columnOrder, columnOrder + n);
    blockStarts_ = blockStarts;
    if (blockStarts_.size() < 2 || blockStarts_.front() != 0 || blockStarts_.back() != n_) return false;
    std::vector<int> blockStartOf(n), blockEndOf(n);
    for (size_t b = 0; b + 1 < blockStarts_.size(); ++b) {
        if (blockStarts_[b] >= blockStarts_[b + 1]) return false;
        for (int k = blockStarts_[b]; k < blockStarts_[b + 1]; ++k) {
            blockStartOf[at(k)] = blockStarts_[b];
            blockEndOf[at(k)] = blockStarts_[b + 1];
        }
    }
    std::vector<int> pivotOfRow(n, -1);
    for (size_t k = 0; k < n; ++k) {
        const int row = rowOrder[k];
        if (row < 0 || row >= n_ || pivotOfRow[at(row)] >= 0) return false;
        pivotOfRow[at(row)] = static_cast<int>(k);
    }
    aStart_.assign(1, 0);
    fStart_.assign(1, 0);
    for (auto* v : {&aRow_, &aValue_, &fRow_, &fValue_}) v->clear();
    for (size_t j = 0; j < n; ++j) {
        const int column = columnOrder[j];
        if (column < 0 || column >= n_) return false;
        for (int p = pattern.columnStarts[at(column)]; p < pattern.columnStarts[at(column) + 1]; ++p) {
            const int row = pivotOfRow[at(pattern.rowIndices[at(p)])];
            if (row >= blockEndOf[j]) return false;
            const bool inBlock = row >= blockStartOf[j];
            (inBlock ? aRow_ : fRow_).push_back(row);
            (inBlock ? aValue_ : fValue_).push_back(p);
        }
        aStart_.push_back(static_cast<int>(aRow_.size()));
        fStart_.push_back(static_cast<int>(fRow_.size()));
    }

    // Column j of the factors holds the rows that column j of the permuted
    // matrix reaches through the columns of L already built.
    uStart_.assign(1, 0);
    lStart_.assign(1, 0);
    uRow_.clear();
    lRow_.clear();
    std::vector<int> mark(n, -1), reached, pending;
    for (size_t j = 0; j < n; ++j) {
        const int column = static_cast<int>(j);
        reached.clear();
        auto reach = [&](int row) {
            if (mark[at(row)] == column) return;
            mark[at(row)] = column;
            reached.push_back(row);
            if (row < column) pending.push_back(row);
        };
        for (int p = aStart_[j]; p < aStart_[j + 1]; ++p) reach(aRow_[at(p)]);
        while (!pending.empty()) {
            const int k = pending.back();
            pending.pop_back();
            for (int q = lStart_[at(k)]; q < lStart_[at(k) + 1]; ++q) reach(lRow_[at(q)]);
        }
        if (mark[j] != column) return false;
        std::sort(reached.begin(), reached.end());
        for (int row : reached) {
            if (row < column) uRow_.push_back(row);
            if (row > column) lRow_.push_back(row);
        }
        uStart_.push_back(static_cast<int>(uRow_.size()));
        lStart_.push_back(static_cast<int>(lRow_.size()));
    }
    uValue_.assign(uRow_.size(), 0.0);
    lValue_.assign(lRow_.size(), 0.0);
    fCopy_.assign(fRow_.size(), 0.0);
    diagonal_.assign(n, 0.0);
    columnLargest_.assign(n, 0.0);
    rowScale_.assign(n, 1.0);
    work_.assign(n, 0.0);
    built_ = true;
    return true;
}

bool FixedPivotLu::samePivots(const int* rowOrder, const int* columnOrder) const {
    return std::equal(rowOrder_.begin(), rowOrder_.end(), rowOrder) &&
           std::equal(columnOrder_.begin(), columnOrder_.end(), columnOrder);
}

bool FixedPivotLu::factorise(const double* values) {
    if (!built_) return false;
    // Left-looking: column j is scattered into the work array, updated by
    // the columns of L its upper part reaches (ascending, so each is final
    // when read), and gathered back; the work array is left all zero.
    double* x = work_.data();
    const int *aRow = aRow_.data(), *aValue = aValue_.data(), *uRow = uRow_.data(), *lRow = lRow_.data();
    double *uValue = uValue_.data(), *lValue = lValue_.data();
    // Each row is divided by its largest magnitude first, as KLU does: on
    // rows of a picosiemens beside rows of a hundred siemens the rounding
    // of the unscaled elimination moved a switch's control by 3e-8 V, and
    // the synchronous buck's trials with it.
    double* scale = rowScale_.data();
    std::fill(rowScale_.begin(), rowScale_.end(), 0.0);
    for (size_t p = 0; p < aRow_.size(); ++p) scale[aRow[p]] = std::max(scale[aRow[p]], std::abs(values[aValue[p]]));
    for (size_t p = 0; p < fRow_.size(); ++p) scale[fRow_[p]] = std::max(scale[fRow_[p]], std::abs(values[fValue_[p]]));
    for (double& r : rowScale_) r = r > 0.0 ? r : 1.0;
    for (size_t j = 0; j < at(n_); ++j) {
        double columnLargest = 0.0;
        for (int p = fStart_[j]; p < fStart_[j + 1]; ++p) {
            fCopy_[at(p)] = values[fValue_[at(p)]] / scale[fRow_[at(p)]];
            columnLargest = std::max(columnLargest, std::abs(fCopy_[at(p)]));
        }
        for (int p = aStart_[j]; p < aStart_[j + 1]; ++p) {
            const double v = values[aValue[p]] / scale[aRow[p]];
            x[aRow[p]] = v;
            columnLargest = std::max(columnLargest, std::abs(v));
        }
        columnLargest_[j] = columnLargest;
        for (int q = uStart_[j]; q < uStart_[j + 1]; ++q) {
            const int k = uRow[q];
            const double u = x[k];
            uValue[q] = u;
            x[k] = 0.0;
            if (u == 0.0) continue;
            for (int s = lStart_[at(k)]; s < lStart_[at(k) + 1]; ++s) x[lRow[s]] -= lValue[s] * u;
        }
        const double pivot = x[j];
        x[j] = 0.0;
        diagonal_[j] = pivot;
        if (!(std::abs(pivot) > kLostPivot * columnLargest) || !std::isfinite(pivot)) {
            std::fill(work_.begin(), work_.end(), 0.0);
            return false;
        }
        for (int s = lStart_[j]; s < lStart_[j + 1]; ++s) {
            lValue[s] = x[lRow[s]] / pivot;
            x[lRow[s]] = 0.0;
        }
    }
    return true;
}

void FixedPivotLu::solve(double* rhsInSolutionOut) {
    double* y = work_.data();
    const size_t n = at(n_);
    for (size_t k = 0; k < n; ++k) y[k] = rhsInSolutionOut[rowOrder_[k]] / rowScale_[k];
    const int *uRow = uRow_.data(), *lRow = lRow_.data(), *fRow = fRow_.data();
    const double *uValue = uValue_.data(), *lValue = lValue_.data(), *fValue = fCopy_.data();
    // Block by block from the last: each block's right-hand side has had
    // the later blocks' solution taken out of it by then.
    for (size_t b = blockStarts_.size() - 1; b-- > 0;) {
        const auto first = at(blockStarts_[b]), end = at(blockStarts_[b + 1]);
        for (size_t k = first; k < end; ++k) {
            const double yk = y[k];
            if (yk == 0.0) continue;
            for (int s = lStart_[k]; s < lStart_[k + 1]; ++s) y[lRow[s]] -= lValue[s] * yk;
        }
        for (size_t k = end; k-- > first;) {
            const double yk = y[k] / diagonal_[k];
            y[k] = 0.0;
            rhsInSolutionOut[columnOrder_[k]] = yk;
            if (yk == 0.0) continue;
            for (int q = uStart_[k]; q < uStart_[k + 1]; ++q) y[uRow[q]] -= uValue[q] * yk;
            for (int q = fStart_[k]; q < fStart_[k + 1]; ++q) y[fRow[q]] -= fValue[q] * yk;
        }
    }
}

double FixedPivotLu::pivotRatio() const {
    double smallest = std::numeric_limits<double>::infinity(), largest = 0.0;
    for (size_t j = 0; j < diagonal_.size(); ++j) {
        if (!(columnLargest_[j] > 0.0)) return 0.0;
        const double scaled = std::abs(diagonal_[j]) / columnLargest_[j];
        smallest = std::min(smallest, scaled);
        largest = std::max(largest, scaled);
    }
    return largest > 0.0 ? smallest / largest : 0.0;
}

}  // namespace udmhost::sim
