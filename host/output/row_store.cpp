#include "output/row_store.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "output/spill_file.h"

namespace udmhost {

namespace {

// Rows that fit in `budget` bytes, at least one.
size_t rowsWithin(size_t budget, size_t stride) { return std::max<size_t>(1, budget / (stride * sizeof(double))); }

}  // namespace

RowStore::RowStore(size_t memoryBudget) : budget_(memoryBudget) {}

RowStore::RowStore(const std::vector<std::vector<double>>& rows, size_t memoryBudget) : RowStore(memoryBudget) {
    for (const std::vector<double>& row : rows) append(row);
}

RowStore::~RowStore() = default;

RowStore::RowStore(RowStore&& other) noexcept
    : budget_(other.budget_),
      stride_(std::exchange(other.stride_, 0)),
      kept_(std::exchange(other.kept_, 0)),
      size_(std::exchange(other.size_, 0)),
      spilled_(std::exchange(other.spilled_, 0)),
      memory_(std::move(other.memory_)),
      front_(std::move(other.front_)),
      back_(std::move(other.back_)),
      file_(std::move(other.file_)) {}

RowStore& RowStore::operator=(RowStore&& other) noexcept {
    if (this != &other) {
        budget_ = other.budget_;
        stride_ = std::exchange(other.stride_, 0);
        kept_ = std::exchange(other.kept_, 0);
        size_ = std::exchange(other.size_, 0);
        spilled_ = std::exchange(other.spilled_, 0);
        memory_ = std::move(other.memory_);
        front_ = std::move(other.front_);
        back_ = std::move(other.back_);
        file_ = std::move(other.file_);
    }
    return *this;
}

void RowStore::append(const std::vector<double>& row) {
    if (size_ == 0 && stride_ == 0) {
        if (row.empty()) throw std::logic_error("a row without values");
        stride_ = kept_ = row.size();
        memory_.reserve(rowsWithin(budget_, stride_) * stride_);
        front_ = row;
    }
    if (row.size() != stride_)
        throw std::logic_error("a row of " + std::to_string(row.size()) + " values among rows of " +
                               std::to_string(stride_));
    if (kept_ != stride_) throw std::logic_error("a row appended after columns were dropped");
    if (memory_.size() + stride_ > rowsWithin(budget_, stride_) * stride_) spill();
    memory_.insert(memory_.end(), row.begin(), row.end());
    back_ = row;
    ++size_;
}

void RowStore::spill() {
    if (!file_) file_ = std::make_unique<SpillFile>();
    const std::uint64_t offset = static_cast<std::uint64_t>(spilled_) * stride_ * sizeof(double);
    file_->write(memory_.data(), memory_.size() * sizeof(double), offset);
    spilled_ += memory_.size() / stride_;
    memory_.clear();
}

void RowStore::clear() {
    stride_ = kept_ = size_ = spilled_ = 0;
    memory_.clear();
    front_.clear();
    back_.clear();
}

const std::vector<double>& RowStore::front() const {
    if (empty()) throw std::out_of_range("the first row of no rows");
    return front_;
}

const std::vector<double>& RowStore::back() const {
    if (empty()) throw std::out_of_range("the last row of no rows");
    return back_;
}

void RowStore::readSpilled(double* into, size_t first, size_t count) const {
    file_->read(into, count * stride_ * sizeof(double), static_cast<std::uint64_t>(first) * stride_ * sizeof(double));
}

std::vector<double> RowStore::operator[](size_t i) const {
    if (i >= size_) throw std::out_of_range("row " + std::to_string(i) + " of " + std::to_string(size_));
    std::vector<double> row(stride_);
    if (i < spilled_) readSpilled(row.data(), i, 1);
    else std::copy_n(memory_.begin() + static_cast<std::ptrdiff_t>((i - spilled_) * stride_), stride_, row.begin());
    row.resize(kept_);
    return row;
}

void RowStore::keepColumns(size_t n) {
    if (empty()) return;  // no width yet: nothing to narrow
    if (n > kept_)
        throw std::logic_error("cannot keep " + std::to_string(n) + " of " + std::to_string(kept_) + " columns");
    kept_ = n;
    front_.resize(std::min(front_.size(), n));
    back_.resize(std::min(back_.size(), n));
}

bool RowStore::Reader::next(std::vector<double>& row) {
    const RowStore& s = *store_;
    if (at_ >= s.size_) return false;
    const double* values = nullptr;
    if (at_ < s.spilled_) {
        if (at_ < chunkFirst_ || at_ >= chunkFirst_ + chunkRows_) {
            chunkFirst_ = at_;
            chunkRows_ = std::min(rowsWithin(s.budget_, s.stride_), s.spilled_ - at_);
            chunk_.resize(chunkRows_ * s.stride_);
            s.readSpilled(chunk_.data(), chunkFirst_, chunkRows_);
        }
        values = chunk_.data() + (at_ - chunkFirst_) * s.stride_;
    } else {
        values = s.memory_.data() + (at_ - s.spilled_) * s.stride_;
    }
    row.assign(values, values + s.kept_);
    ++at_;
    return true;
}

}  // namespace udmhost
