// The switch's parameters, in the order a definition text lists them: the one
// table the catalogue, the outputs and the instance record are built from.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace vcswitch {

enum SlotIndex { kRon = 0, kRoff = 1, kVthres = 2, kVhyst = 3, kCtrl0 = 4, kSlotCount = 5 };

enum class ParameterKind {
    Real,   // any number
    State,  // only a whole 32-bit number counts; anything else is 0
};

struct Parameter {
    std::string_view name;
    ParameterKind kind;
    unsigned textId;               // description in the string table
    std::string_view defaultText;  // as the catalogue shows it
    SlotIndex slot;
};

inline constexpr std::array<Parameter, kSlotCount> kParameters = {{
    {"RON", ParameterKind::Real, 120, "1.0e-3", kRon},
    {"ROFF", ParameterKind::Real, 121, "1.0e9", kRoff},
    {"VTHRES", ParameterKind::Real, 122, "0.0", kVthres},
    {"VHYST", ParameterKind::Real, 123, "0.0", kVhyst},
    {"CTRL0", ParameterKind::State, 124, "0.0", kCtrl0},
}};

static_assert([] {
    for (std::size_t i = 0; i < kParameters.size(); ++i)
        if (kParameters[i].slot != static_cast<SlotIndex>(i)) return false;
    return true;
}(), "a parameter's slot is its position in the definition text");

}  // namespace vcswitch
