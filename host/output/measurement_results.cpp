#include "output/measurement_results.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace udmhost {

namespace {

// One signal over time, read front to back from the rows: every pass
// costs a read of the store, and nothing but running values stays in memory.
class Trace {
public:
    Trace(const RowStore& rows, size_t column) : rows_(rows), column_(column) {}

    // f(time, value) for every row in turn; stops early when f returns false.
    template <class F>
    void scan(F f) const {
        RowStore::Reader reader = rows_.reader();
        std::vector<double> row;
        while (reader.next(row))
            if (!f(row[0], row[column_])) return;
    }

    // Linear between rows; held beyond the ends.
    double at(double t) const {
        if (t <= rows_.front()[0]) return rows_.front()[column_];
        // The first row at or after t has one before it: t is past the first.
        double t0 = 0.0, v0 = 0.0, result = rows_.back()[column_];
        scan([&](double t1, double v1) {
            if (t1 >= t) {
                result = t1 > t0 ? v0 + (v1 - v0) * (t - t0) / (t1 - t0) : v1;
                return false;
            }
            t0 = t1, v0 = v1;
            return true;
        });
        return result;
    }

private:
    const RowStore& rows_;
    size_t column_;
};

size_t columnOf(const std::vector<std::string>& columns, const std::string& label) {
    const auto found = std::find(columns.begin(), columns.end(), label);
    if (found == columns.end()) throw std::logic_error("measured signal " + label + " was not recorded");
    return static_cast<size_t>(found - columns.begin());
}

// The instant the condition names, if it occurs.
std::optional<double> instant(const Measurement::Condition& c, const std::vector<std::string>& columns,
                              const RowStore& rows) {
    if (c.count == 0) return c.delay;  // AT=
    std::optional<double> last, found;
    int seen = 0;
    bool first = true;
    double t0 = 0.0, v0 = 0.0;
    Trace(rows, columnOf(columns, c.signal.label)).scan([&](double t1, double v1) {
        const bool after = !first;
        const double a = v0 - c.value, b = v1 - c.value, previous = t0;
        t0 = t1, v0 = v1, first = false;
        if (!after) return true;
        const bool rise = a < 0.0 && b >= 0.0, fall = a > 0.0 && b <= 0.0;
        const bool wanted = c.edge == Measurement::Condition::Edge::Rise   ? rise
                            : c.edge == Measurement::Condition::Edge::Fall ? fall
                                                                           : rise || fall;
        if (!wanted) return true;
        const double t = previous + (t1 - previous) * a / (a - b);
        if (t < c.delay) return true;
        last = t;
        if (++seen == c.count) found = t;
        return !found;
    });
    if (found) return found;
    return c.count < 0 ? last : std::nullopt;
}

// AVG, RMS, INTEG, MAX, MIN, PP over [from, to], endpoints interpolated.
double overWindow(const Measurement& m, const Trace& trace, double from, double to) {
    double t0 = from, a = trace.at(from), integral = 0.0, squares = 0.0, high = a, low = a;
    const auto add = [&](double t1, double b) {
        high = std::max(high, b);
        low = std::min(low, b);
        const double dt = t1 - t0;
        integral += dt * (a + b) / 2.0;
        squares += dt * (a * a + a * b + b * b) / 3.0;  // exact for the straight segment
        t0 = t1, a = b;
    };
    trace.scan([&](double t, double value) {
        if (t >= to) return false;
        if (t > from) add(t, value);
        return true;
    });
    add(to, trace.at(to));
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
                                                    const RowStore& rows) {
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
