#include "sim/iterate_cycle.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "sim/newton_tolerance.h"

namespace udmhost::sim {

namespace {

std::uint64_t hashOf(const double* x, std::size_t n) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a over the values' bits
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, x + i, sizeof bits);
        h = (h ^ bits) * 1099511628211ull;
    }
    return h;
}

std::uint64_t hashOf(const std::vector<double>& x) { return hashOf(x.data(), x.size()); }

// An instance whose stamp came back to one it had left this many times is
// going round: once may be Newton's first overshoot.
constexpr int kFlipsBack = 2;

}  // namespace

void IterateCycle::clear() {
    count_ = 0;
    stampsSeen_ = false;
    for (Segment& s : segments_) s.known = 0, s.flips = 0;
}

void IterateCycle::setSegments(std::vector<std::size_t> lengths) {
    segments_.assign(lengths.size(), Segment{});
    std::size_t from = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        segments_[i].from = from;
        segments_[i].length = lengths[i];
        from += lengths[i];
    }
}

bool IterateCycle::flipsBack(const std::vector<double>& stamp, const std::vector<double>& before, double reltol,
                             double abstol) {
    // Each segment's first stamp is recorded once it is left: until then it
    // is `before`'s, bit for bit, and most switches never leave it.
    if (!std::exchange(stampsSeen_, true)) return false;
    bool cycling = false;
    for (Segment& s : segments_) {
        if (s.length == 0 || std::memcmp(stamp.data() + s.from, before.data() + s.from, s.length * sizeof(double)) == 0)
            continue;
        if (s.known == 0) {
            s.seen[0] = hashOf(before.data() + s.from, s.length);
            s.known = 1;
        }
        // A stamp that moved only in its last digits (a junction far
        // forward, converged to rounding) has not left the one before.
        if (allWithinTolerance(stamp.data() + s.from, before.data() + s.from, s.length, reltol, abstol)) continue;
        const std::uint64_t h = hashOf(stamp.data() + s.from, s.length);
        if (s.seen[0] == h) continue;
        const auto end = s.seen.begin() + static_cast<std::ptrdiff_t>(s.known);
        const auto at = std::find(s.seen.begin(), end, h);
        if (at != end && ++s.flips >= kFlipsBack) cycling = true;
        // Newest first; a stamp seen again moves to the front.
        const auto last = at != end ? at : (s.known < s.seen.size() ? end : end - 1);
        std::move_backward(s.seen.begin(), last, last + 1);
        s.seen[0] = h;
        if (at == end && s.known < s.seen.size()) ++s.known;
    }
    return cycling;
}

bool IterateCycle::same(std::size_t older, std::size_t newer) const {
    // The hash finds the candidates; the copies make the match exact.
    return hashes_[older % kKept] == hashes_[newer % kKept] && kept_[older % kKept] == kept_[newer % kKept];
}

bool IterateCycle::repeats(const std::vector<double>& x) {
    const std::size_t now = count_++;
    hashes_[now % kKept] = hashOf(x);
    kept_[now % kKept].assign(x.begin(), x.end());
    if (now < 4) return false;
    // Pairs (j - 1, j) that are still kept, with j at most now - 2.
    const std::size_t oldest = now >= kKept ? now - kKept + 2 : 1;
    for (std::size_t j = oldest; j + 3 <= now; ++j)
        if (same(j, now) && same(j - 1, now - 1)) return true;
    return false;
}

}  // namespace udmhost::sim
