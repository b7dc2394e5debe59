// The row operations the address table needs from whatever holds its rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TRow {
    std::string IP;
    std::string MAC;
    std::string Remark;
};

class TRows {
  public:
    virtual ~TRows() = default;
    virtual int Count() const = 0;
    virtual const TRow& Row(int i) const = 0;
    virtual void SetMAC(int i, const std::string& mac) = 0;
    virtual void SetRemark(int i, const std::string& remark) = 0;
    // Appends (ip, mac, empty remark).
    virtual void Append(const std::string& ip, const std::string& mac) = 0;
    // Inserts (ip, mac, empty remark) before row at (Count() appends); the rows after it move
    // down by one.
    virtual void Insert(int at, const std::string& ip, const std::string& mac);
    // New row k is old row order[k]; order is a permutation of 0..Count()-1.
    virtual void Reorder(const std::vector<int>& order) = 0;
    // Removes every row the user has selected; the rest keep their order.
    virtual void DeleteSelected() = 0;
    // Room for count rows in all, taken before a long run of appends.
    virtual void Reserve(int count) { (void)count; }
};

// A sequence of rows kept in blocks of a few hundred: a row goes in anywhere by moving the rows
// of one block, so that a find costs the same in a list of ten rows or of a million.
class TRowList {
  public:
    std::size_t size() const { return size_; }
    TRow& operator[](std::size_t i);
    const TRow& operator[](std::size_t i) const;
    void push_back(TRow row);
    void insert(std::size_t at, TRow row);
    // Drops the rows from n on.
    void truncate(std::size_t n);
    // Removes the rows first..last-1; the rows after them move up.
    void erase(std::size_t first, std::size_t last);
    void reserve(std::size_t n) { blocks_.reserve(n / kBlock + 1); }

  private:
    static constexpr std::size_t kBlock = 512;
    // The block holding row i.
    std::size_t Locate(std::size_t i) const;

    std::vector<std::vector<TRow>> blocks_;
    std::vector<std::size_t> starts_;  // the index of each block's first row
    std::size_t size_ = 0;
    mutable std::size_t hint_ = 0;  // the block last used: rows are mostly visited in order
};

// Rows held in memory, with a selection of their own.
class TMemoryRows : public TRows {
  public:
    TMemoryRows() = default;
    explicit TMemoryRows(std::vector<TRow> rows);

    int Count() const override;
    const TRow& Row(int i) const override;
    void SetMAC(int i, const std::string& mac) override;
    void SetRemark(int i, const std::string& remark) override;
    void Append(const std::string& ip, const std::string& mac) override;
    void Insert(int at, const std::string& ip, const std::string& mac) override;
    void Reorder(const std::vector<int>& order) override;
    void DeleteSelected() override;
    void Reserve(int count) override;

    void Select(int i, bool selected = true);
    // A copy of every row, in order.
    std::vector<TRow> Rows() const;

  private:
    TRowList rows_;
    std::vector<std::uint8_t> selected_;
};
