// The charge a pn junction stores, as the SPICE diode has it: the depletion
// charge of a graded junction, continued by its tangent capacitance's
// straight line beyond FC * VJ (where the law's capacitance would grow
// without bound), and the diffusion charge TT * I of the carriers the
// current injects. Pure functions, shared by every device with a junction.
#pragma once

namespace udmdiode {

struct ChargeAndCapacitance {
    double charge;       // coulombs
    double capacitance;  // d charge / d voltage, farads
};

// The grading coefficient and the forward-bias coefficient are taken at
// most these, as in SPICE: at M = 1 the law's charge has no closed form,
// and as FC nears 1 the linear extension starts where the capacitance is
// already unbounded.
constexpr double kLargestGrading = 0.9;
constexpr double kLargestForwardCoefficient = 0.95;

// Depletion charge at junction voltage `v` of a junction with zero-bias
// capacitance `zeroBias` (CJO, area included), built-in potential `potential`
// (VJ > 0), grading coefficient `grading` (M >= 0) and forward-bias
// coefficient `forward` (FC >= 0); the charge is zero at v = 0.
ChargeAndCapacitance depletionCharge(double zeroBias, double potential, double grading, double forward, double v);

// Diffusion charge TT * I for the junction current `current` and its
// conductance (d current / d junction voltage).
inline ChargeAndCapacitance diffusionCharge(double transitTime, double current, double conductance) {
    return {transitTime * current, transitTime * conductance};
}

}  // namespace udmdiode
