// Per-port communication statistics: one grid row per opened port with its
// name, state, serial number, success rate and counts. The counting and the
// texts live here; the grid is a thin view (a table widget in the connection
// window, an in-memory table in tests).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zrq::comm {

class StatsGrid {
 public:
  virtual ~StatsGrid() = default;
  virtual int rowCount() const = 0;
  virtual void setRowCount(int rows) = 0;
  virtual void setCell(int column, int row, const std::string& text) = 0;
};

class MemoryStatsGrid : public StatsGrid {
 public:
  explicit MemoryStatsGrid(int rows = 10, int columns = 6);
  int rowCount() const override;
  void setRowCount(int rows) override;
  void setCell(int column, int row, const std::string& text) override;
  std::string cell(int column, int row) const;

 private:
  mutable std::mutex mutex_;
  int columns_;
  std::vector<std::vector<std::string>> cells_;  // [row][column]
};

enum class PortStatus { Open = 0, Init = 1, ContRd = 2, Closed = 3, Error = 4, ComErr = 5 };
extern const char* const portStatusNames[6];
const char* portStatusName(PortStatus status);

// "97.50%": two decimals whatever the process locale.
std::string successRateText(std::uint32_t total, std::uint32_t fails);

class TKS7730Stats {
 public:
  static constexpr int kColumns = 6;
  static constexpr const char* HEADERS[kColumns] = {"Port Name", "Status",    "SN",
                                                    "Success",   "Total Rds", "Total Fails"};

  // The grid must outlive the statistics object.
  explicit TKS7730Stats(StatsGrid* grid);
  virtual ~TKS7730Stats();
  TKS7730Stats(const TKS7730Stats&) = delete;
  TKS7730Stats& operator=(const TKS7730Stats&) = delete;

  // Rows count from 1 (row 0 is the header); the grid grows when needed.
  virtual int addPortRow(const std::string& portName);
  virtual void clearRows();
  virtual void showStatus(int row, const char* status);
  void showStatus(int row, PortStatus status) { showStatus(row, portStatusName(status)); }
  virtual void showSerialNumber(int row, const char* sn);
  virtual void showCounts(int row, std::uint32_t total, std::uint32_t fails);
  virtual void putCell(int row, int column, const std::string& text);
  int usedRows() const;

 private:
  void checkGrid() const;

  StatsGrid* grid_;
  mutable std::recursive_mutex lock_;
  std::int32_t usedRows_ = 0;
};

}  // namespace zrq::comm
