// "Did you mean" hints for a misspelt name.
#pragma once

#include <string>
#include <vector>

namespace udmhost {

// Closest candidate to `name` (case-insensitive), or empty when none is close.
std::string closestName(const std::string& name, const std::vector<std::string>& candidates);

// ", did you mean CANDIDATE?" for the closest candidate; `otherwise` when
// none is close. Appended to an error message.
std::string didYouMean(const std::string& name, const std::vector<std::string>& candidates,
                       const std::string& otherwise = {});

}  // namespace udmhost
