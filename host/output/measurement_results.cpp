#include "output/measurement_results.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace udmhost {

namespace {

struct Trace {
    const std::vector<std::vector<double>>& rows;
    size_t column;
    double time(size_t i) const { return rows[i][0]; }
    double value(size_t i) const { return rows[i][column]; }
    size_t size() const { return rows.size(); }

    // Linear between rows; held beyond the ends.
    double at(double t) const {
        if (t <= time(0)) return value(0);
        const auto after = std::lower_bound(rows.begin(), rows.end(), t,
                                            [](const std::vector<double>& row, double x) { return row[0] < x; });
        if (after == rows.end()) return value(size() - 1);
        const size_t i = static_cast<size_t>(after - rows.begin());
        const double t0 = time(i - 1), t1 = time(i);
        return t1 > t0 ? value(i - 1) + (value(i) - value(i - 1)) * (t - t0) / (t1 - t0) : value(i);
    }
};

size_t columnOf(const std::vector<std::string>& columns, const std::string& label) {
    const auto found = std::find(columns.begin(), columns.end(), label);
    if (found == columns.end()) throw std::logic_error("measured signal " + label + " was not recorded");
    return static_cast<size_t>(found - columns.begin());
}

// The instant the condition names, if it occurs.
std::optional<double> instant(const Measurement::Condition& c, const std::vector<std::string>& columns,
                              const std::vector<std::vector<double>>& rows) {
    if (c.count == 0) return c.delay;  // AT=
    const Trace trace{rows, columnOf(columns, c.signal.label)};
    std::optional<double> last;
    int seen = 0;
    for (size_t i = 1; i < trace.size(); ++i) {
        const double a = trace.value(i - 1) - c.value, b = trace.value(i) - c.value;
        const bool rise = a < 0.0 && b >= 0.0, fall = a > 0.0 && b <= 0.0;
        const bool wanted = c.edge == Measurement::Condition::Edge::Rise   ? rise
                            : c.edge == Measurement::Condition::Edge::Fall ? fall
                                                                           : rise || fall;
        if (!wanted) continue;
        const double t0 = trace.time(i - 1), t1 = trace.time(i);
        const double t = t0 + (t1 - t0) * a / (a - b);
        if (t < c.delay) continue;
        last = t;
        if (++seen == c.count) return t;
    }
    return c.count < 0 ? last : std::nullopt;
}

// AVG, RMS, INTEG, MAX, MIN, PP over [from, to], endpoints interpolated.
double overWindow(const Measurement& m, const Trace& trace, double from, double to) {
    std::vector<std::pair<double, double>> points{{from, trace.at(from)}};
    for (size_t i = 0; i < trace.size(); ++i)
        if (trace.time(i) > from && trace.time(i) < to) points.emplace_back(trace.time(i), trace.value(i));
    points.emplace_back(to, trace.at(to));
    double integral = 0.0, squares = 0.0, high = -INFINITY, low = INFINITY;
    for (size_t i = 0; i < points.size(); ++i) {
        high = std::max(high, points[i].second);
        low = std::min(low, points[i].second);
        if (i == 0) continue;
        const double dt = points[i].first - points[i - 1].first, a = points[i - 1].second, b = points[i].second;
        integral += dt * (a + b) / 2.0;
        squares += dt * (a * a + a * b + b * b) / 3.0;  // exact for the straight segment
    }
    switch (m.kind) {
        case Measurement::Kind::Avg: return integral / (to - from);
        case Measurement::Kind::Rms: return std::sqrt(squares / (to - from));
        case Measurement::Kind::Integral: return integral;
        case Measurement::Kind::Max: return high;
        case Measurement::Kind::Min: return low;
        default: return high - low;
    }
}

}  // namespace

std::vector<MeasurementResult> evaluateMeasurements(const std::vector<Measurement>& measurements,
                                                    const std::vector<std::string>& columns,
                                                    const std::vector<std::vector<double>>& rows) {
    std::vector<MeasurementResult> results;
    for (const Measurement& m : measurements) {
        MeasurementResult r{m.name, std::nullopt, {}};
        if (rows.size() < 2) {
            r.failure = "the run has fewer than two rows";
            results.push_back(r);
            continue;
        }
        const double start = rows.front()[0], end = rows.back()[0];
        switch (m.kind) {
            case Measurement::Kind::TrigTarg: {
                const auto trig = instant(m.trig, columns, rows), targ = instant(m.targ, columns, rows);
                if (trig && targ) r.value = *targ - *trig;
                else r.failure = trig ? "TARG never occurred" : "TRIG never occurred";
                break;
            }
            case Measurement::Kind::When:
            case Measurement::Kind::FindWhen: {
                const auto when = instant(m.trig, columns, rows);
                if (!when) r.failure = "WHEN never occurred";
                else if (m.kind == Measurement::Kind::When) r.value = *when;
                else r.value = Trace{rows, columnOf(columns, m.signal.label)}.at(*when);
                break;
            }
            case Measurement::Kind::FindAt:
                if (m.at < start || m.at > end) r.failure = "AT lies outside the run";
                else r.value = Trace{rows, columnOf(columns, m.signal.label)}.at(m.at);
                break;
            default: {
                const double from = std::max(m.from, start), to = m.to < 0.0 ? end : std::min(m.to, end);
                if (!(to > from)) r.failure = "the window lies outside the run";
                else r.value = overWindow(m, Trace{rows, columnOf(columns, m.signal.label)}, from, to);
            }
        }
        results.push_back(r);
    }
    return results;
}

void printMeasurements(std::ostream& out, const std::vector<MeasurementResult>& results) {
    for (const MeasurementResult& r : results) {
        if (r.value) {
            char text[64];
            std::snprintf(text, sizeof text, "%.9g", *r.value);
            out << r.name << " = " << text << "\n";
        } else {
            out << r.name << ": failed, " << r.failure << "\n";
        }
    }
}

}  // namespace udmhost
