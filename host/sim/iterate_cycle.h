// Whether a Newton solve has come round to where it was a few iterations
// before: two consecutive iterates equal, bit for bit, to two consecutive
// earlier ones. The plug-ins limit a step from the iterate before, so a
// single repeated iterate may still go on differently; a repeated pair
// starts the same cycle again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace udmhost::sim {

class IterateCycle {
public:
    void clear();
    // Each plug-in instance's share of the stamp vector, in order.
    void setSegments(std::vector<std::size_t> lengths);
    // Records the stamps of an iterate (`before`: the iterate before's);
    // true when an instance has twice come back, bit for bit, to a stamp it
    // had left in this solve beyond the tolerances: a switch whose state the
    // iterates keep turning over (its control follows what it switches, and
    // no state holds over the whole step).
    bool flipsBack(const std::vector<double>& stamp, const std::vector<double>& before, double reltol, double abstol);
    // Records `x`; true when it and the iterate before equal a pair among
    // the last kKept recorded (not the same pair: a fixed point is no cycle).
    bool repeats(const std::vector<double>& x);

private:
    static constexpr std::size_t kKept = 16;
    bool same(std::size_t older, std::size_t newer) const;  // by record number
    std::array<std::uint64_t, kKept> hashes_{};
    std::vector<std::vector<double>> kept_ = std::vector<std::vector<double>>(kKept);
    std::size_t count_ = 0;
    bool stampsSeen_ = false;  // flipsBack has had this solve's first stamps

    struct Segment {
        std::size_t from = 0, length = 0;
        std::array<std::uint64_t, 4> seen{};  // the distinct stamps it had, newest first
        std::size_t known = 0;  // 0: still the stamp it had first
        int flips = 0;
    };
    std::vector<Segment> segments_;
};

}  // namespace udmhost::sim
