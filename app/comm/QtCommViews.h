// The Qt views of the connection side: the statistics grid on a table widget
// and the status memo on a plain-text edit.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "AppStatus.h"
#include "USB/TKS7730Stats.h"

class QPlainTextEdit;
class QTableWidget;

namespace zrq::comm {

// Items pushed from any thread are applied on the widget's thread in the order
// they were pushed: at once when the pushing thread is that one, else on its
// next event-loop turn (one queued drain at a time; dropped with `context`).
template <typename Item>
class UiThreadQueue {
 public:
  using Apply = std::function<void(const Item&)>;
  UiThreadQueue(QObject* context, QObject* widget, Apply apply)
      : context_(context), widget_(widget), apply_(std::move(apply)) {}

  void push(Item item) {
    const bool here = QThread::currentThread() == widget_->thread();
    bool post = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending_.push_back(std::move(item));
      if (!here && !drainQueued_) post = drainQueued_ = true;
    }
    if (here)
      drain();
    else if (post)
      QMetaObject::invokeMethod(
          context_, [this] { drain(); }, Qt::QueuedConnection);
  }

  // Widget thread only.
  void drain() {
    std::deque<Item> items;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      items.swap(pending_);
      drainQueued_ = false;
    }
    for (const Item& i : items) apply_(i);
  }

 private:
  QObject* context_;
  QObject* widget_;
  Apply apply_;
  std::mutex mutex_;
  std::deque<Item> pending_;
  bool drainQueued_ = false;
};

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
  void applyCell(int column, int row, const QString& text);
  struct Cell {
    int column, row;
    std::string text;
  };
  QTableWidget* table_;
  UiThreadQueue<Cell> cells_;
};

// Lines from any thread reach the memo in the order they were appended: they
// wait in one queue, which the interface thread drains (at once when it is
// the one appending, else on its next event-loop turn). While the memo is
// hidden they are kept aside (as many as it shows) and appended together when
// it is shown: laying out a line nobody sees cost more than the fetch that
// said it.
class QtStatusMemo : public QObject, public StatusMemo {
  Q_OBJECT
 public:
  explicit QtStatusMemo(QPlainTextEdit* memo);
  void appendLine(const std::string& line) override;
  void clearLines() override;
  // Appends every waiting line now, hidden or not (interface thread only).
  void flush();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Op {
    bool clear;
    std::string line;
  };
  void apply(const Op& op);
  void appendHidden();
  QPlainTextEdit* memo_;
  std::deque<QString> hidden_;
  UiThreadQueue<Op> ops_;
};

}  // namespace zrq::comm
