#include "text/name_hint.h"

#include <algorithm>

#include "text/lower_case.h"

namespace udmhost {

namespace {

size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + cost});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string closestName(const std::string& name, const std::vector<std::string>& candidates) {
    // Close means at most a third of the name changed (one edit for short
    // names), and never the whole name.
    std::string best;
    size_t bestDistance = std::max<size_t>(1, name.size() / 3) + 1;
    const std::string lower = lowerCase(name);
    for (const std::string& candidate : candidates) {
        const size_t distance = editDistance(lower, lowerCase(candidate));
        if (distance < bestDistance && distance < name.size()) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

std::string didYouMean(const std::string& name, const std::vector<std::string>& candidates,
                       const std::string& otherwise) {
    const std::string hint = closestName(name, candidates);
    return hint.empty() ? otherwise : ", did you mean " + hint + "?";
}

}  // namespace udmhost
