// Which solutions become output rows: by default the points of the TSTEP
// grid (linearly interpolated between the accepted points around them) plus
// every switching instant and the stop time; on request every accepted point.
#pragma once

#include <vector>

#include "output/row_store.h"

namespace udmhost {

class RowSampler {
public:
    // Rows are appended to `rows`; only rows at or after `start` are kept.
    RowSampler(double gridStep, double start, double stop, bool everyPoint, RowStore& rows);

    // A solution accepted at row[0]. `switched`: a switching happened at it,
    // so the step that ends there is a jump that is not interpolated.
    void add(const std::vector<double>& row, bool switched);

    // The number of grid rows from `start` to `stop`.
    static double gridRows(double gridStep, double start, double stop);

    // What each row is, for a caller that interpolates between them: a
    // switching's row follows a jump; accepted points that are not printed
    // are added (as unprinted rows) when rows are tagged, so that the
    // trajectory between printed rows is known as well as it was computed.
    enum class RowKind : unsigned char { Printed, Switching, Unprinted };
    // From now on rows are tagged in `kinds`, one per row.
    // `unprinted`: add the unprinted points too (not needed when the rows
    // carry nothing but the time).
    void tagRows(std::vector<RowKind>* kinds, bool unprinted) {
        kinds_ = kinds;
        unprinted_ = unprinted;
    }

private:
    double gridTime() const { return static_cast<double>(nextGrid_) * gridStep_; }
    void emit(const std::vector<double>& row, RowKind kind = RowKind::Printed);

    double gridStep_, start_, stop_;
    bool everyPoint_;
    RowStore& rows_;
    std::vector<double> previous_;
    std::vector<RowKind>* kinds_ = nullptr;
    bool unprinted_ = false;
    unsigned long long nextGrid_ = 0;
};

}  // namespace udmhost
