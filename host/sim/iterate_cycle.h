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
    void clear() { count_ = 0; }
    // Records `x`; true when it and the iterate before equal a pair among
    // the last kKept recorded (not the same pair: a fixed point is no cycle).
    bool repeats(const std::vector<double>& x);

private:
    static constexpr std::size_t kKept = 16;
    bool same(std::size_t older, std::size_t newer) const;  // by record number
    std::array<std::uint64_t, kKept> hashes_{};
    std::vector<std::vector<double>> kept_ = std::vector<std::vector<double>>(kKept);
    std::size_t count_ = 0;
};

}  // namespace udmhost::sim
