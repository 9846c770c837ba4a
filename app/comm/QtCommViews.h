// The Qt views of the connection side: the statistics grid on a table widget
// and the status memo on a plain-text edit.
#pragma once

#include <QObject>

#include <deque>
#include <mutex>
#include <string>

#include "AppStatus.h"
#include "USB/TKS7730Stats.h"

class QPlainTextEdit;
class QTableWidget;

namespace zrq::comm {

// Grid row 0 is the table's horizontal header; grid row r > 0 is table row
// r - 1. Cell writes from any thread reach the table in the order they were
// made, like the memo's lines. Rows are counted and added on the interface
// thread only.
class QtStatsGrid : public QObject, public StatsGrid {
  Q_OBJECT
 public:
  explicit QtStatsGrid(QTableWidget* table);
  int rowCount() const override;
  void setRowCount(int rows) override;
  void setCell(int column, int row, const std::string& text) override;
  void flush();

 private:
  Q_INVOKABLE void drain();
  void applyCell(int column, int row, const QString& text);
  struct Cell {
    int column, row;
    std::string text;
  };
  QTableWidget* table_;
  std::mutex mutex_;
  std::deque<Cell> pending_;
  bool drainQueued_ = false;
};

// Lines from any thread reach the memo in the order they were appended: they
// wait in one queue, which the interface thread drains (at once when it is
// the one appending, else on its next event-loop turn).
class QtStatusMemo : public QObject, public StatusMemo {
  Q_OBJECT
 public:
  explicit QtStatusMemo(QPlainTextEdit* memo);
  void appendLine(const std::string& line) override;
  void clearLines() override;
  // Appends every waiting line now (interface thread only).
  void flush();

 private:
  Q_INVOKABLE void drain();
  struct Op {
    bool clear;
    std::string line;
  };
  void push(Op op);
  QPlainTextEdit* memo_;
  std::mutex mutex_;
  std::deque<Op> pending_;
  bool drainQueued_ = false;
};

}  // namespace zrq::comm
