#include "QtCommViews.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QTableWidget>

namespace zrq::comm {

QtStatsGrid::QtStatsGrid(QTableWidget* table)
    : table_(table), cells_(this, table, [this](const Cell& c) {
        applyCell(c.column, c.row, QString::fromStdString(c.text));
      }) {}

int QtStatsGrid::rowCount() const { return table_->rowCount() + 1; }

void QtStatsGrid::setRowCount(int rows) { table_->setRowCount(rows > 0 ? rows - 1 : 0); }

void QtStatsGrid::setCell(int column, int row, const std::string& text) {
  cells_.push({column, row, text});
}

void QtStatsGrid::flush() { cells_.drain(); }

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

QtStatusMemo::QtStatusMemo(QPlainTextEdit* memo)
    : memo_(memo), ops_(this, memo, [this](const Op& op) { apply(op); }) {
  memo_->installEventFilter(this);
}

void QtStatusMemo::appendLine(const std::string& line) { ops_.push({false, line}); }

void QtStatusMemo::clearLines() { ops_.push({true, {}}); }

void QtStatusMemo::flush() {
  ops_.drain();
  appendHidden();
}

void QtStatusMemo::apply(const Op& op) {
  if (op.clear) {
    hidden_.clear();
    memo_->clear();
  } else if (memo_->isVisible()) {
    memo_->appendPlainText(QString::fromStdString(op.line));
  } else {
    hidden_.push_back(QString::fromStdString(op.line));
    const int keep = memo_->maximumBlockCount();
    if (keep > 0 && hidden_.size() > static_cast<std::size_t>(keep)) hidden_.pop_front();
  }
}

void QtStatusMemo::appendHidden() {
  if (hidden_.empty()) return;
  QString text;
  for (const QString& line : hidden_) {
    if (!text.isEmpty()) text += QChar::ParagraphSeparator;
    text += line;
  }
  hidden_.clear();
  memo_->appendPlainText(text);
}

bool QtStatusMemo::eventFilter(QObject* watched, QEvent* event) {
  if (watched == memo_ && event->type() == QEvent::Show) appendHidden();
  return QObject::eventFilter(watched, event);
}

}  // namespace zrq::comm
