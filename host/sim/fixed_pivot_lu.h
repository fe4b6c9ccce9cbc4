// LU factors of a matrix whose pattern and pivot order are fixed: the
// elimination is worked out once, symbolically, and every refactorisation
// then only runs through its flat lists. A general sparse refactorisation
// walks the same structure through permutations, scale factors and block
// bookkeeping that cost more than the arithmetic on circuit matrices of a
// few hundred unknowns.
#pragma once

#include <vector>

#include "sim/linear_solver.h"

namespace udmhost::sim {

class FixedPivotLu {
public:
    // The pivot order: pivot k is row rowOrder[k] of the matrix and column
    // columnOrder[k]; the permuted matrix is block upper triangular, block b
    // spanning pivots blockStarts[b] to blockStarts[b + 1]. False (and
    // nothing to factorise) when an entry on the permuted diagonal is
    // structurally zero or one lies below the blocks.
    bool build(const SparsePattern& pattern, const int* rowOrder, const int* columnOrder,
               const std::vector<int>& blockStarts);
    bool built() const { return built_; }
    // The matrix with these values (in the pattern's order) factorised with
    // the pivots built. False on a pivot that is not finite or that rounding
    // left of a cancellation.
    bool factorise(const double* values);
    // Solves A x = b in place with the latest factors.
    void solve(double* rhsInSolutionOut);
    // How well the pivots suit the values factorised: each pivot over the
    // largest magnitude in its column of the row-scaled matrix, the
    // smallest of these over the largest.
    double pivotRatio() const;
    bool samePivots(const int* rowOrder, const int* columnOrder) const;

private:
    int n_ = 0;
    bool built_ = false;
    std::vector<int> rowOrder_, columnOrder_, blockStarts_;
    // Column j of the permuted matrix within its diagonal block, and above
    // it: rows (permuted) and value indices.
    std::vector<int> aStart_, aRow_, aValue_, fStart_, fRow_, fValue_;
    // The entries above the blocks, each pivot's column largest and each
    // permuted row's largest magnitude, of the values last factorised.
    std::vector<double> fCopy_, columnLargest_, rowScale_;
    // U above the diagonal by column, rows ascending; the diagonal apart.
    std::vector<int> uStart_, uRow_;
    std::vector<double> uValue_, diagonal_;
    // L below its unit diagonal by column.
    std::vector<int> lStart_, lRow_;
    std::vector<double> lValue_;
    std::vector<double> work_;
};

}  // namespace udmhost::sim
