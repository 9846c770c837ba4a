#include "QtCommViews.h"

#include <QMetaObject>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QThread>

namespace zrq::comm {

QtStatsGrid::QtStatsGrid(QTableWidget* table) : table_(table) {}

int QtStatsGrid::rowCount() const { return table_->rowCount() + 1; }

void QtStatsGrid::setRowCount(int rows) { table_->setRowCount(rows > 0 ? rows - 1 : 0); }

void QtStatsGrid::setCell(int column, int row, const std::string& text) {
  const bool here = QThread::currentThread() == table_->thread();
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back({column, row, text});
    if (!here && !drainQueued_) post = drainQueued_ = true;
  }
  if (here)
    drain();
  else if (post)
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void QtStatsGrid::flush() { drain(); }

void QtStatsGrid::drain() {
  std::deque<Cell> cells;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cells.swap(pending_);
    drainQueued_ = false;
  }
  for (const Cell& c : cells) applyCell(c.column, c.row, QString::fromStdString(c.text));
}

void QtStatsGrid::applyCell(int column, int row, const QString& text) {
  if (column < 0 || column >= table_->columnCount() || row < 0) return;
  if (row == 0) {
    table_->setHorizontalHeaderItem(column, new QTableWidgetItem(text));
    return;
  }
  if (row - 1 >= table_->rowCount()) return;
  QTableWidgetItem* item = table_->item(row - 1, column);
  if (!item) {
    item = new QTableWidgetItem;
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    table_->setItem(row - 1, column, item);
  }
  item->setText(text);
}

QtStatusMemo::QtStatusMemo(QPlainTextEdit* memo) : memo_(memo) {}

void QtStatusMemo::push(Op op) {
  const bool here = QThread::currentThread() == memo_->thread();
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(op));
    if (!here && !drainQueued_) post = drainQueued_ = true;
  }
  if (here)
    drain();
  else if (post)
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void QtStatusMemo::appendLine(const std::string& line) { push({false, line}); }

void QtStatusMemo::clearLines() { push({true, {}}); }

void QtStatusMemo::flush() { drain(); }

void QtStatusMemo::drain() {
  std::deque<Op> ops;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ops.swap(pending_);
    drainQueued_ = false;
  }
  for (const Op& op : ops) {
    if (op.clear)
      memo_->clear();
    else
      memo_->appendPlainText(QString::fromStdString(op.line));
  }
}

}  // namespace zrq::comm
