// The row operations the address table needs from whatever holds its rows.
#pragma once

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
    const std::vector<TRow>& Rows() const { return rows_; }

  private:
    std::vector<TRow> rows_;
    std::vector<bool> selected_;
};
