// The help viewer: Contents, Index and Search beside the topic pane, over one
// compiled help file.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTextBrowser>
#include <memory>

#include "ChmFile.h"
#include "HelpConsts.h"
#include "TopicIndex.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QToolBar;

namespace hhc {

// Topics, pictures and style sheets come from inside the help file: URLs of
// the form chm:/path.
class ChmBrowser : public QTextBrowser {
  Q_OBJECT
 public:
  explicit ChmBrowser(QWidget* parent = nullptr) : QTextBrowser(parent) {}
  void setFile(const ChmFile* chm) { chm_ = chm; }
  QVariant loadResource(int type, const QUrl& name) override;
  // Resources asked for that the file does not hold (for tests and the log).
  const QStringList& missing() const { return missing_; }
  // Pages that are there but cannot be shown (damaged: binary, too large).
  const QStringList& damaged() const { return damaged_; }

 private:
  const ChmFile* chm_ = nullptr;
  QStringList missing_, damaged_;
};

class HelpViewer : public QMainWindow {
  Q_OBJECT
 public:
  enum class Tab { Contents = 0, Index = 1, Search = 2 };

  explicit HelpViewer(QWidget* parent = nullptr);
  ~HelpViewer() override;

  // Opens the file; on failure the topic pane shows why and false is returned.
  bool openFile(const QString& path);
  const QString& errorText() const { return error_; }
  bool isFileOpen() const { return chm_.isOpen(); }
  const ChmFile& file() const { return chm_; }

  // Shows `topic` (a path inside the file, with or without "/"); false when
  // the file does not hold it.
  bool showTopic(const QString& topic);
  void showTab(Tab tab);
  Tab currentTab() const;
  void goHome();
  // The index tab with `keyword` typed; the search tab with `query` typed
  // (run at once when `run`).
  void showIndex(const QString& keyword);
  void showSearch(const QString& query, bool run);
  // Runs the search for the search tab's text; the number of topics found.
  int runSearch();
  void findInPage(const QString& text, bool backward = false);
  void zoom(int steps);
  void syncContents(const QString& topic);

  // Notifications to the owner of the window type.
  void setNotify(hb::HhNotifyFn fn, void* context, uintptr_t owner, int id);

  // Widgets, for the owner and for tests.
  ChmBrowser* browser() const { return browser_; }
  QTreeWidget* contentsTree() const { return contents_; }
  QLineEdit* indexEdit() const { return indexEdit_; }
  QListWidget* indexList() const { return indexList_; }
  QListWidget* indexTopics() const { return indexTopics_; }
  QLineEdit* searchEdit() const { return searchEdit_; }
  QListWidget* searchResults() const { return searchResults_; }
  QLineEdit* findEdit() const { return findEdit_; }
  // The current topic's path inside the file ("/x.htm"), empty if none.
  QString currentTopic() const;
  // Words of the last search, highlighted in the topics opened from it.
  const QStringList& highlightWords() const { return highlight_; }
  int highlightCount() const;
  const TopicIndex& searchIndex();

 signals:
  void topicShown(const QString& path);

 private:
  void buildUi();
  void fillContents();
  void fillIndex();
  void filterIndex(const QString& prefix);
  void openIndexItem(QListWidgetItem* item);
  void navigate(const QString& path, const QStringList& highlight);
  void applyHighlight();
  void anchorClicked(const QUrl& url);
  void notify(int code, const QString& url);

  ChmFile chm_;
  std::unique_ptr<TopicIndex> index_;
  QString path_, error_;
  QStringList highlight_, pendingHighlight_;
  QTabWidget* tabs_ = nullptr;
  QTreeWidget* contents_ = nullptr;
  QLineEdit* indexEdit_ = nullptr;
  QListWidget* indexList_ = nullptr;
  QListWidget* indexTopics_ = nullptr;
  QLineEdit* searchEdit_ = nullptr;
  QListWidget* searchResults_ = nullptr;
  QLabel* searchStatus_ = nullptr;
  ChmBrowser* browser_ = nullptr;
  QToolBar* findBar_ = nullptr;
  QLineEdit* findEdit_ = nullptr;
  hb::HhNotifyFn notifyFn_ = nullptr;
  void* notifyContext_ = nullptr;
  uintptr_t notifyOwner_ = 0;
  int notifyId_ = 0;
};

}  // namespace hhc
