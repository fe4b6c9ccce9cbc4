// A value with its partial derivatives by three voltages, for laws whose
// Jacobian is wanted exact: the law is written once, its derivatives follow.
#pragma once

#include <cmath>

namespace udmhost::sim {

struct Dual {
    double v = 0.0, g = 0.0, d = 0.0, b = 0.0;
};

inline Dual constant(double v) { return {v, 0.0, 0.0, 0.0}; }
inline Dual operator+(Dual x, Dual y) { return {x.v + y.v, x.g + y.g, x.d + y.d, x.b + y.b}; }
inline Dual operator-(Dual x, Dual y) { return {x.v - y.v, x.g - y.g, x.d - y.d, x.b - y.b}; }
inline Dual operator*(Dual x, Dual y) {
    return {x.v * y.v, x.g * y.v + x.v * y.g, x.d * y.v + x.v * y.d, x.b * y.v + x.v * y.b};
}
inline Dual operator*(double k, Dual x) { return {k * x.v, k * x.g, k * x.d, k * x.b}; }
inline Dual operator+(Dual x, double k) { return {x.v + k, x.g, x.d, x.b}; }
inline Dual operator+(double k, Dual x) { return x + k; }
inline Dual operator-(Dual x, double k) { return {x.v - k, x.g, x.d, x.b}; }
inline Dual operator-(double k, Dual x) { return constant(k) - x; }
inline Dual operator/(Dual x, Dual y) {
    const double q = x.v / y.v;
    return {q, (x.g - q * y.g) / y.v, (x.d - q * y.d) / y.v, (x.b - q * y.b) / y.v};
}
inline Dual operator/(Dual x, double k) { return (1.0 / k) * x; }
inline Dual operator/(double k, Dual x) { return constant(k) / x; }
// The chain rule with the outer derivative `slope`.
inline Dual through(Dual x, double value, double slope) { return {value, slope * x.g, slope * x.d, slope * x.b}; }
inline Dual sqrt(Dual x) {
    const double r = std::sqrt(x.v);
    return through(x, r, 0.5 / r);
}
inline Dual exp(Dual x) {
    const double e = std::exp(x.v);
    return through(x, e, e);
}
inline const Dual& lesser(const Dual& x, const Dual& y) { return y.v < x.v ? y : x; }
inline const Dual& greater(const Dual& x, const Dual& y) { return y.v > x.v ? y : x; }

}  // namespace udmhost::sim
