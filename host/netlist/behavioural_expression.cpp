// Forward-mode evaluation of the tape: a stack of values, each with its
// gradient over the expression's inputs. Edge rules follow SPICE's B
// source: a negative base with an integral exponent keeps its sign, any
// other is taken by magnitude; u(0) is 1/2.
#include <cmath>
#include <limits>

#include "netlist/behavioural_expression.h"

namespace udmhost {

namespace {

using Op = BehaviouralExpression::Op;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool isEvent(Op op) {
    return (op >= Op::Lt && op <= Op::Select) || op == Op::U || op == Op::Floor || op == Op::Ceil || op == Op::Sgn ||
           op == Op::Not;
}

double sign(double x) { return x > 0.0 ? 1.0 : x < 0.0 ? -1.0 : 0.0; }

}  // namespace

double BehaviouralExpression::evaluate(const double* in, double* gradient, Branches* branches,
                                       const char** domain) const {
    const size_t n = inputs_.size();
    // Work arrays per call: expressions are short and evaluated once per
    // Newton iteration.
    std::vector<double> v(maxDepth_ + 1), g((maxDepth_ + 1) * n);
    size_t top = 0;  // number of values on the stack
    size_t event = 0;
    if (branches) {
        branches->taken.assign(eventCount_, 0.0);
        branches->argument.assign(eventCount_, kNaN);
    }
    auto grad = [&](size_t slot) { return g.data() + slot * n; };
    auto bad = [&](const char* what) {
        if (domain && !*domain) *domain = what;
        return kNaN;
    };
    // Result of a one-argument function f with derivative df in slot a.
    auto chain = [&](size_t a, double f, double df) {
        double* ga = grad(a);
        for (size_t k = 0; k < n; ++k) ga[k] *= df;
        v[a] = f;
    };
    auto copyGrad = [&](size_t to, size_t from) {
        for (size_t k = 0; k < n; ++k) grad(to)[k] = grad(from)[k];
    };
    auto zeroGrad = [&](size_t a) {
        for (size_t k = 0; k < n; ++k) grad(a)[k] = 0.0;
    };
    // a <- da * a + db * b
    auto combine = [&](size_t a, size_t b, double da, double db) {
        double* ga = grad(a);
        const double* gb = grad(b);
        for (size_t k = 0; k < n; ++k) ga[k] = da * ga[k] + db * gb[k];
    };
    for (const Instruction& ins : tape_) {
        const bool records = isEvent(ins.op);
        double arg = kNaN, taken = 0.0;
        switch (ins.op) {
            case Op::Const:
                v[top] = ins.value, zeroGrad(top), ++top;
                break;
            case Op::Input:
                v[top] = in[ins.arg], zeroGrad(top), grad(top)[ins.arg] = 1.0, ++top;
                break;
            case Op::Neg: chain(top - 1, -v[top - 1], -1.0); break;
            case Op::Not: {
                const size_t a = top - 1;
                arg = v[a], taken = v[a] == 0.0 ? 1.0 : 0.0;
                v[a] = taken, zeroGrad(a);
                break;
            }
            case Op::Add: case Op::Sub: case Op::Mul: case Op::Div: case Op::Pow: case Op::Pwr:
            case Op::Min: case Op::Max: case Op::Lt: case Op::Gt: case Op::Le: case Op::Ge:
            case Op::Eq: case Op::Ne: case Op::And: case Op::Or: {
                const size_t a = top - 2, b = top - 1;
                const double x = v[a], y = v[b];
                --top;
                switch (ins.op) {
                    case Op::Add: v[a] = x + y, combine(a, b, 1.0, 1.0); break;
                    case Op::Sub: v[a] = x - y, combine(a, b, 1.0, -1.0); break;
                    case Op::Mul: v[a] = x * y, combine(a, b, y, x); break;
                    case Op::Div:
                        if (y == 0.0) v[a] = bad("division by zero");
                        else v[a] = x / y, combine(a, b, 1.0 / y, -x / (y * y));
                        break;
                    case Op::Pow:
                    case Op::Pwr: {
                        const bool integral = x < 0.0 && ins.op == Op::Pow && y == std::trunc(y);
                        const double base = integral ? x : std::abs(x);
                        double f = std::pow(base, y);
                        // d/dx of |x|^y is sign(x) y |x|^(y-1); pwr is sign(x) |x|^y.
                        double dx = y == 0.0 ? 0.0 : y * std::pow(base, y - 1.0);
                        if (!integral && ins.op == Op::Pow) dx *= sign(x);
                        double dy = base != 0.0 ? f * std::log(std::abs(base)) : 0.0;
                        if (ins.op == Op::Pwr && x < 0.0) f = -f, dy = -dy;
                        v[a] = f, combine(a, b, dx, dy);
                        break;
                    }
                    case Op::Min:
                    case Op::Max:
                        if ((ins.op == Op::Min) == (y < x)) v[a] = y, copyGrad(a, b);
                        break;
                    case Op::And:
                    case Op::Or:
                        taken = ins.op == Op::And ? (x != 0.0 && y != 0.0) : (x != 0.0 || y != 0.0);
                        v[a] = taken, zeroGrad(a);
                        break;
                    default: {  // comparisons
                        const bool r = ins.op == Op::Lt   ? x < y
                                       : ins.op == Op::Gt ? x > y
                                       : ins.op == Op::Le ? x <= y
                                       : ins.op == Op::Ge ? x >= y
                                       : ins.op == Op::Eq ? x == y
                                                          : x != y;
                        arg = x - y, taken = r ? 1.0 : 0.0;
                        v[a] = taken, zeroGrad(a);
                    }
                }
                break;
            }
            case Op::Select: {
                const size_t c = top - 3, a = top - 2, b = top - 1;
                arg = v[c], taken = v[c] != 0.0 ? 1.0 : 0.0;
                const size_t from = taken != 0.0 ? a : b;
                v[c] = v[from], copyGrad(c, from);
                top -= 2;
                break;
            }
            case Op::Limit: {
                const size_t x = top - 3, lo = top - 2, hi = top - 1;
                if (v[x] < v[lo]) v[x] = v[lo], copyGrad(x, lo);
                else if (v[x] > v[hi]) v[x] = v[hi], copyGrad(x, hi);
                top -= 2;
                break;
            }
            case Op::Pwl: {
                // pwl(x, x1, y1, ...): linear between the points, constant beyond them.
                const size_t count = static_cast<size_t>(ins.arg), x = top - count, pairs = (count - 1) / 2;
                const double at = v[x];
                auto px = [&](size_t i) { return v[x + 1 + 2 * i]; };
                auto py = [&](size_t i) { return v[x + 2 + 2 * i]; };
                size_t i = 0;
                while (i + 1 < pairs && at > px(i + 1)) ++i;
                if (pairs == 1 || at <= px(0)) v[x] = py(0), copyGrad(x, x + 2);
                else if (at >= px(pairs - 1)) v[x] = py(pairs - 1), copyGrad(x, x + 2 * pairs);
                else {
                    const double dx = px(i + 1) - px(i);
                    if (!(dx > 0.0)) {
                        v[x] = bad("pwl with x values not increasing");
                    } else {
                        // Breakpoints and values may be expressions of their own; the
                        // gradient follows x and the two y values (breakpoints taken fixed).
                        const double w = (at - px(i)) / dx, slope = (py(i + 1) - py(i)) / dx;
                        const double y = py(i) + w * (py(i + 1) - py(i));
                        double* gx = grad(x);
                        const double* g0 = grad(x + 2 + 2 * i);
                        const double* g1 = grad(x + 4 + 2 * i);
                        for (size_t k = 0; k < n; ++k) gx[k] = slope * gx[k] + (1.0 - w) * g0[k] + w * g1[k];
                        v[x] = y;
                    }
                }
                top -= count - 1;
                break;
            }
            default: {  // one argument
                const size_t a = top - 1;
                const double x = v[a];
                switch (ins.op) {
                    case Op::Abs: chain(a, std::abs(x), sign(x)); break;
                    case Op::Sqrt:
                        if (x < 0.0) v[a] = bad("sqrt of a negative number");
                        else chain(a, std::sqrt(x), x > 0.0 ? 0.5 / std::sqrt(x) : 0.0);
                        break;
                    case Op::Exp: chain(a, std::exp(x), std::exp(x)); break;
                    case Op::Ln:
                    case Op::Log10: {
                        if (!(x > 0.0)) {
                            v[a] = bad("log of a number not above zero");
                            break;
                        }
                        const double scale = ins.op == Op::Ln ? 1.0 : 1.0 / std::log(10.0);
                        chain(a, std::log(x) * scale, scale / x);
                        break;
                    }
                    case Op::Sin: chain(a, std::sin(x), std::cos(x)); break;
                    case Op::Cos: chain(a, std::cos(x), -std::sin(x)); break;
                    case Op::Tan: chain(a, std::tan(x), 1.0 / (std::cos(x) * std::cos(x))); break;
                    case Op::Atan: chain(a, std::atan(x), 1.0 / (1.0 + x * x)); break;
                    case Op::Sinh: chain(a, std::sinh(x), std::cosh(x)); break;
                    case Op::Cosh: chain(a, std::cosh(x), std::sinh(x)); break;
                    case Op::Tanh: chain(a, std::tanh(x), 1.0 - std::tanh(x) * std::tanh(x)); break;
                    case Op::Uramp: chain(a, x > 0.0 ? x : 0.0, x > 0.0 ? 1.0 : 0.0); break;
                    case Op::U: arg = x, taken = sign(x), chain(a, x > 0.0 ? 1.0 : x < 0.0 ? 0.0 : 0.5, 0.0); break;
                    case Op::Sgn: arg = x, taken = sign(x), chain(a, sign(x), 0.0); break;
                    case Op::Floor: taken = std::floor(x), chain(a, taken, 0.0); break;
                    case Op::Ceil: taken = std::ceil(x), chain(a, taken, 0.0); break;
                    default: break;
                }
            }
        }
        if (records) {
            if (branches) branches->taken[event] = taken, branches->argument[event] = arg;
            ++event;
        }
    }
    for (size_t k = 0; k < n; ++k) gradient[k] = grad(0)[k];
    return v[0];
}

}  // namespace udmhost
