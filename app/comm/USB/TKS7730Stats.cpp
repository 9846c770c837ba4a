#include "USB/TKS7730Stats.h"

#include <charconv>

#include "CommAssert.h"

namespace zrq::comm {

namespace {
constexpr const char* kUnit = "USB/TKS7730Stats";
}

const char* const portStatusNames[6] = {"OPEN", "INIT", "CONT RD", "CLOSED", "ERROR", "COM ERR"};

const char* portStatusName(PortStatus status) { return portStatusNames[static_cast<int>(status)]; }

MemoryStatsGrid::MemoryStatsGrid(int rows, int columns)
    : columns_(columns),
      cells_(static_cast<std::size_t>(rows), std::vector<std::string>(columns)) {}

int MemoryStatsGrid::rowCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(cells_.size());
}

void MemoryStatsGrid::setRowCount(int rows) {
  std::lock_guard<std::mutex> lock(mutex_);
  cells_.resize(static_cast<std::size_t>(rows), std::vector<std::string>(columns_));
}

void MemoryStatsGrid::setCell(int column, int row, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row < 0 || column < 0 || column >= columns_ || row >= static_cast<int>(cells_.size())) return;
  cells_[row][column] = text;
}

std::string MemoryStatsGrid::cell(int column, int row) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row < 0 || column < 0 || column >= columns_ || row >= static_cast<int>(cells_.size()))
    return {};
  return cells_[row][column];
}

std::string successRateText(std::uint32_t total, std::uint32_t fails) {
  float success = 0.0f;
  if (fails < total)
    success = static_cast<float>(total - fails) / static_cast<float>(total) * 100.0f;
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf - 1, static_cast<double>(success),
                           std::chars_format::fixed, 2);
  *res.ptr++ = '%';
  return std::string(buf, res.ptr);
}

TKS7730Stats::TKS7730Stats(StatsGrid* grid) : grid_(grid) {
  checkGrid();
  for (int c = 0; c < kColumns; ++c) grid_->setCell(c, 0, HEADERS[c]);
  clearRows();
}

TKS7730Stats::~TKS7730Stats() {
  try {
    clearRows();
  } catch (...) {
  }
}

void TKS7730Stats::checkGrid() const {
  ZRQ_COMM_ASSERT(grid_ != nullptr, "p_stats_ != NULL", kUnit);
}

int TKS7730Stats::addPortRow(const std::string& portName) {
  checkGrid();
  std::lock_guard<std::recursive_mutex> lock(lock_);
  const int row = usedRows_ + 1;
  if (grid_->rowCount() <= row) grid_->setRowCount(grid_->rowCount() + 1);
  putCell(row, 0, portName);
  showStatus(row, PortStatus::Closed);
  showSerialNumber(row, "?");
  showCounts(row, 0, 0);
  ++usedRows_;
  return row;
}

void TKS7730Stats::clearRows() {
  checkGrid();
  std::lock_guard<std::recursive_mutex> lock(lock_);
  for (int row = 1; row <= usedRows_; ++row)
    for (int c = 0; c < kColumns; ++c) putCell(row, c, "");
  usedRows_ = 0;
}

void TKS7730Stats::showStatus(int row, const char* status) {
  checkGrid();
  ZRQ_COMM_ASSERT(status != nullptr, "p_status != NULL", kUnit);
  putCell(row, 1, status);
}

void TKS7730Stats::showSerialNumber(int row, const char* sn) {
  checkGrid();
  ZRQ_COMM_ASSERT(sn != nullptr, "p_sn != NULL", kUnit);
  putCell(row, 2, sn);
}

void TKS7730Stats::showCounts(int row, std::uint32_t total, std::uint32_t fails) {
  checkGrid();
  std::lock_guard<std::recursive_mutex> lock(lock_);
  putCell(row, 3, successRateText(total, fails));
  putCell(row, 4, std::to_string(total));
  putCell(row, 5, std::to_string(fails));
}

void TKS7730Stats::putCell(int row, int column, const std::string& text) {
  checkGrid();
  if (row == 0) return;  // the header row is never overwritten
  std::lock_guard<std::recursive_mutex> lock(lock_);
  grid_->setCell(column, row, text);
}

int TKS7730Stats::usedRows() const {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  return usedRows_;
}

}  // namespace zrq::comm
