// Direct solution of the circuit's sparse linear system. The sparsity
// pattern is fixed for a run: it is analysed once, and every Newton
// iteration only supplies new values.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace udmhost::sim {

// Compressed sparse columns of a square matrix.
struct SparsePattern {
    int size = 0;
    std::vector<int> columnStarts;  // size + 1 entries
    std::vector<int> rowIndices;    // sorted within each column
    int nonZeros() const { return static_cast<int>(rowIndices.size()); }
};

class LinearSolver {
public:
    virtual ~LinearSolver() = default;
    // Analyses the pattern (ordering, symbolic structure).
    virtual void analyse(const SparsePattern& pattern) = 0;
    // Factorises the matrix with these values, one per pattern entry, in the
    // pattern's order. False when the matrix is singular.
    virtual bool factorise(const double* values) = 0;
    // Solves A x = b in place with the latest factorisation.
    virtual void solve(double* rhsInSolutionOut) = 0;
    // After a failed factorisation: the column (unknown) found singular,
    // or -1 when the solver does not tell.
    virtual int singularColumn() const { return -1; }
    // Fresh factorisations (with pivot search) since analyse().
    virtual long fullFactorisations() const = 0;
};

// "klu" (default) or "eigen"; throws std::invalid_argument for others.
std::unique_ptr<LinearSolver> makeLinearSolver(const std::string& name);

}  // namespace udmhost::sim
