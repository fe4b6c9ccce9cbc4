// The rows of one run in time order, all of one width, in bounded memory:
// the newest rows stay in memory up to a budget, older ones go as raw
// doubles to an anonymous temporary file, so that a run of any length can
// be written out afterwards. A reader of spilled rows holds up to one more
// budget's worth while it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace udmhost {

class SpillFile;

class RowStore {
public:
    static constexpr size_t kDefaultBudget = size_t{4} << 20;  // bytes

    explicit RowStore(size_t memoryBudget = kDefaultBudget);
    // A copy of `rows` (tests and small callers).
    explicit RowStore(const std::vector<std::vector<double>>& rows, size_t memoryBudget = kDefaultBudget);
    ~RowStore();
    RowStore(RowStore&& other) noexcept;
    RowStore& operator=(RowStore&& other) noexcept;
    RowStore(const RowStore&) = delete;
    RowStore& operator=(const RowStore&) = delete;

    // The first row fixes the width; a row of another width is a
    // std::logic_error. Throws std::runtime_error when the temporary file
    // cannot take the rows (the row is then not stored).
    void append(const std::vector<double>& row);

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Values in a row as read back: the stored width, or fewer after
    // keepColumns.
    size_t width() const { return kept_; }
    // Copies of the first and the last row; std::out_of_range when empty.
    const std::vector<double>& front() const;
    const std::vector<double>& back() const;
    // Row `i` by value; reads the temporary file when it lies there.
    std::vector<double> operator[](size_t i) const;

    // Drops every row; the next append fixes the width anew. The memory
    // and the temporary file are kept for the rows that follow.
    void clear();

    // Rows read from now on hold only their first `n` values (n <= width):
    // trailing columns are dropped when reading, not rewritten. No rows may
    // be appended after it; on an empty store it does nothing.
    void keepColumns(size_t n);

    // Reads the rows front to back, the spilled ones in large chunks.
    // Appending to the store, or moving it, invalidates its readers.
    class Reader {
    public:
        explicit Reader(const RowStore& store) : store_(&store) {}
        // The next row into `row`; false after the last.
        bool next(std::vector<double>& row);

    private:
        const RowStore* store_;
        size_t at_ = 0;
        size_t chunkFirst_ = 0, chunkRows_ = 0;
        std::vector<double> chunk_;
    };
    Reader reader() const { return Reader(*this); }

    // For range-for: each row in turn, as a Reader gives them.
    class Iterator {
    public:
        explicit Iterator(const RowStore& store) : reader_(store) { ++*this; }
        const std::vector<double>& operator*() const { return row_; }
        const std::vector<double>* operator->() const { return &row_; }
        Iterator& operator++() {
            more_ = reader_.next(row_);
            return *this;
        }
        struct End {};
        bool operator!=(End) const { return more_; }
        bool operator==(End) const { return !more_; }

    private:
        Reader reader_;
        std::vector<double> row_;
        bool more_ = false;
    };
    Iterator begin() const { return Iterator(*this); }
    Iterator::End end() const { return {}; }

private:
    void spill();
    void readSpilled(double* into, size_t first, size_t count) const;

    size_t budget_;
    size_t stride_ = 0;              // values per stored row
    size_t kept_ = 0;                // values per row read back
    size_t size_ = 0;
    size_t spilled_ = 0;             // rows in the file, the oldest ones
    std::vector<double> memory_;     // rows after them, stride_ values each
    std::vector<double> front_, back_;
    std::unique_ptr<SpillFile> file_;
};

}  // namespace udmhost
