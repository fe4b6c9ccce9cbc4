#include "sim/pattern_builder.h"

#include <algorithm>

namespace udmhost::sim {

int PatternBuilder::request(int row, int col) {
    const int64_t key = (row < 0 || col < 0) ? -1 : static_cast<int64_t>(col) * size_ + row;
    keys_.push_back(key);
    return static_cast<int>(keys_.size() - 1);
}

SparsePattern PatternBuilder::build() {
    std::vector<int64_t> unique;
    unique.reserve(keys_.size() + static_cast<size_t>(size_));
    for (int64_t key : keys_)
        if (key >= 0) unique.push_back(key);
    // Every diagonal entry exists, so that pivoting always has a candidate.
    for (int i = 0; i < size_; ++i) unique.push_back(static_cast<int64_t>(i) * size_ + i);
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());

    SparsePattern pattern;
    pattern.size = size_;
    pattern.columnStarts.assign(static_cast<size_t>(size_) + 1, 0);
    pattern.rowIndices.reserve(unique.size());
    for (int64_t key : unique) {
        const auto col = static_cast<size_t>(key / size_);
        pattern.rowIndices.push_back(static_cast<int>(key % size_));
        ++pattern.columnStarts[col + 1];
    }
    for (size_t c = 0; c < static_cast<size_t>(size_); ++c) pattern.columnStarts[c + 1] += pattern.columnStarts[c];

    const int spare = pattern.nonZeros();
    slots_.resize(keys_.size());
    for (size_t t = 0; t < keys_.size(); ++t) {
        if (keys_[t] < 0) {
            slots_[t] = spare;
            continue;
        }
        const auto at = std::lower_bound(unique.begin(), unique.end(), keys_[t]);
        slots_[t] = static_cast<int>(at - unique.begin());
    }
    return pattern;
}

}  // namespace udmhost::sim
