#include "sim/iterate_cycle.h"

#include <cstring>

namespace udmhost::sim {

namespace {

std::uint64_t hashOf(const std::vector<double>& x) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a over the values' bits
    for (double v : x) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        h = (h ^ bits) * 1099511628211ull;
    }
    return h;
}

}  // namespace

bool IterateCycle::same(std::size_t older, std::size_t newer) const {
    // The hash finds the candidates; the copies make the match exact.
    return hashes_[older % kKept] == hashes_[newer % kKept] && kept_[older % kKept] == kept_[newer % kKept];
}

bool IterateCycle::repeats(const std::vector<double>& x) {
    const std::size_t now = count_++;
    hashes_[now % kKept] = hashOf(x);
    kept_[now % kKept].assign(x.begin(), x.end());
    if (now < 3) return false;
    // Pairs (j - 1, j) that are still kept, with j at most now - 2.
    const std::size_t oldest = now >= kKept ? now - kKept + 2 : 1;
    for (std::size_t j = oldest; j + 2 <= now; ++j)
        if (same(j, now) && same(j - 1, now - 1)) return true;
    return false;
}

}  // namespace udmhost::sim
