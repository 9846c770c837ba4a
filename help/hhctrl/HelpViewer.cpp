#include "HelpViewer.h"

#include <QAction>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <functional>
#include <QVBoxLayout>

#include "Sitemap.h"

namespace hhc {

namespace {
constexpr int kPathRole = Qt::UserRole;
constexpr int kTargetsRole = Qt::UserRole + 1;

QString withSlash(const QString& p) { return p.startsWith('/') ? p : QLatin1Char('/') + p; }
QUrl topicUrl(const QString& path) {
  QUrl u;
  u.setScheme(QStringLiteral("chm"));
  u.setPath(withSlash(path));
  return u;
}
QString htmlEscape(const QString& s) { return s.toHtmlEscaped(); }
// The rich-text engine loads a linked style sheet only when its type is given.
QString withStyleSheetTypes(const QString& html) {
  static const QRegularExpression link(QStringLiteral("<link\\b([^>]*)>"),
                                       QRegularExpression::CaseInsensitiveOption);
  QString out;
  qsizetype last = 0;
  for (auto it = link.globalMatch(html); it.hasNext();) {
    const auto m = it.next();
    const QString attrs = m.captured(1);
    out += html.mid(last, m.capturedStart() - last);
    if (attrs.contains(QLatin1String("stylesheet"), Qt::CaseInsensitive) &&
        !attrs.contains(QLatin1String("type="), Qt::CaseInsensitive))
      out += QStringLiteral("<link type=\"text/css\"") + attrs + QLatin1Char('>');
    else
      out += m.captured(0);
    last = m.capturedEnd();
  }
  return out + html.mid(last);
}
}  // namespace

QVariant ChmBrowser::loadResource(int type, const QUrl& name) {
  if (name.scheme() == QLatin1String("chm") && chm_) {
    const std::string path = name.path().toStdString();
    if (auto data = chm_->read(path)) {
      if (type == QTextDocument::ImageResource) return QByteArray::fromStdString(*data);
      if (const std::string why = pageProblem(*data); !why.empty()) {
        damaged_ << name.path();
        if (type != QTextDocument::HtmlResource) return {};
        return QStringLiteral(
                   "<html><body><h2>Page cannot be shown</h2><p>The help file's page \"%1\" is "
                   "damaged: %2. Install the program again to repair the help "
                   "file.</p></body></html>")
            .arg(htmlEscape(name.path()), QString::fromStdString(why));
      }
      QString text = QString::fromUtf8(data->data(), static_cast<qsizetype>(data->size()));
      if (type == QTextDocument::HtmlResource) text = withStyleSheetTypes(text);
      return text;
    }
    missing_ << name.path();
    if (type == QTextDocument::HtmlResource)
      return QStringLiteral(
                 "<html><body><h2>Topic not found</h2><p>The help file has no page "
                 "\"%1\".</p></body></html>")
          .arg(htmlEscape(name.path()));
    return {};
  }
  if (name.scheme() == QLatin1String("chm")) return {};
  return QTextBrowser::loadResource(type, name);
}

HelpViewer::HelpViewer(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("ZRQHelpViewer"));
  setAttribute(Qt::WA_QuitOnClose, false);
  buildUi();
  resize(900, 640);
}

HelpViewer::~HelpViewer() = default;

void HelpViewer::buildUi() {
  auto* nav = addToolBar(QStringLiteral("Navigation"));
  nav->setObjectName(QStringLiteral("navigation"));
  nav->setMovable(false);
  browser_ = new ChmBrowser;
  browser_->setObjectName(QStringLiteral("topic"));
  browser_->setOpenLinks(false);
  auto* back = nav->addAction(QStringLiteral("Back"), browser_, &QTextBrowser::backward);
  back->setShortcut(QKeySequence::Back);
  back->setEnabled(false);
  auto* fwd = nav->addAction(QStringLiteral("Forward"), browser_, &QTextBrowser::forward);
  fwd->setShortcut(QKeySequence::Forward);
  fwd->setEnabled(false);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, fwd, &QAction::setEnabled);
  nav->addAction(QStringLiteral("Home"), this, &HelpViewer::goHome);
  nav->addSeparator();
  auto* find = nav->addAction(QStringLiteral("Find"), this, [this] {
    findBar_->show();
    findEdit_->setFocus();
    findEdit_->selectAll();
  });
  find->setShortcut(QKeySequence::Find);
  auto* zin = nav->addAction(QStringLiteral("Zoom in"), this, [this] { zoom(1); });
  zin->setShortcut(QKeySequence::ZoomIn);
  auto* zout = nav->addAction(QStringLiteral("Zoom out"), this, [this] { zoom(-1); });
  zout->setShortcut(QKeySequence::ZoomOut);

  tabs_ = new QTabWidget;
  tabs_->setObjectName(QStringLiteral("tabs"));
  contents_ = new QTreeWidget;
  contents_->setObjectName(QStringLiteral("contents"));
  contents_->setHeaderHidden(true);
  tabs_->addTab(contents_, QStringLiteral("Contents"));
  connect(contents_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    const QString p = item->data(0, kPathRole).toString();
    if (!p.isEmpty()) navigate(p, {});
  });
  connect(contents_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    const QString p = item->data(0, kPathRole).toString();
    if (!p.isEmpty()) navigate(p, {});
  });

  auto* indexPage = new QWidget;
  auto* il = new QVBoxLayout(indexPage);
  il->addWidget(new QLabel(QStringLiteral("Type in the keyword to find:")));
  indexEdit_ = new QLineEdit;
  indexEdit_->setObjectName(QStringLiteral("indexEdit"));
  il->addWidget(indexEdit_);
  indexList_ = new QListWidget;
  indexList_->setObjectName(QStringLiteral("indexList"));
  il->addWidget(indexList_, 3);
  indexTopics_ = new QListWidget;
  indexTopics_->setObjectName(QStringLiteral("indexTopics"));
  indexTopics_->setVisible(false);
  il->addWidget(indexTopics_, 1);
  auto* display = new QPushButton(QStringLiteral("Display"));
  il->addWidget(display);
  tabs_->addTab(indexPage, QStringLiteral("Index"));
  connect(indexEdit_, &QLineEdit::textChanged, this, &HelpViewer::filterIndex);
  connect(indexEdit_, &QLineEdit::returnPressed, this,
          [this] { openIndexItem(indexList_->currentItem()); });
  connect(display, &QPushButton::clicked, this,
          [this] { openIndexItem(indexList_->currentItem()); });
  connect(indexList_, &QListWidget::itemActivated, this, &HelpViewer::openIndexItem);
  connect(indexTopics_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { navigate(item->data(kPathRole).toString(), {}); });

  auto* searchPage = new QWidget;
  auto* sl = new QVBoxLayout(searchPage);
  sl->addWidget(new QLabel(QStringLiteral("Type in the word(s) to search for:")));
  auto* row = new QHBoxLayout;
  searchEdit_ = new QLineEdit;
  searchEdit_->setObjectName(QStringLiteral("searchEdit"));
  row->addWidget(searchEdit_);
  auto* list = new QPushButton(QStringLiteral("List Topics"));
  row->addWidget(list);
  sl->addLayout(row);
  searchStatus_ = new QLabel;
  searchStatus_->setObjectName(QStringLiteral("searchStatus"));
  sl->addWidget(searchStatus_);
  searchResults_ = new QListWidget;
  searchResults_->setObjectName(QStringLiteral("searchResults"));
  sl->addWidget(searchResults_);
  tabs_->addTab(searchPage, QStringLiteral("Search"));
  connect(list, &QPushButton::clicked, this, [this] { runSearch(); });
  connect(searchEdit_, &QLineEdit::returnPressed, this, [this] { runSearch(); });
  auto openResult = [this](QListWidgetItem* item) {
    searchResults_->setCurrentItem(item);
    navigate(item->data(kPathRole).toString(),
             searchEdit_->text().split(QRegularExpression(QStringLiteral("[^\\w]+")),
                                       Qt::SkipEmptyParts));
  };
  connect(searchResults_, &QListWidget::itemActivated, this, openResult);
  connect(searchResults_, &QListWidget::itemClicked, this, openResult);
  connect(tabs_, &QTabWidget::currentChanged, this,
          [this](int) { notify(hb::HHN_TRACK, currentTopic()); });

  auto* right = new QWidget;
  auto* rl = new QVBoxLayout(right);
  rl->setContentsMargins(0, 0, 0, 0);
  rl->addWidget(browser_);
  findBar_ = new QToolBar;
  findEdit_ = new QLineEdit;
  findEdit_->setObjectName(QStringLiteral("findEdit"));
  findEdit_->setPlaceholderText(QStringLiteral("Find in this topic"));
  findBar_->addWidget(new QLabel(QStringLiteral("Find: ")));
  findBar_->addWidget(findEdit_);
  findBar_->addAction(QStringLiteral("Next"), this, [this] { findInPage(findEdit_->text()); });
  findBar_->addAction(QStringLiteral("Previous"), this,
                      [this] { findInPage(findEdit_->text(), true); });
  findBar_->addAction(QStringLiteral("Close"), findBar_, &QWidget::hide);
  findBar_->hide();
  rl->addWidget(findBar_);
  connect(findEdit_, &QLineEdit::returnPressed, this, [this] { findInPage(findEdit_->text()); });

  auto* split = new QSplitter;
  split->addWidget(tabs_);
  split->addWidget(right);
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  split->setSizes({260, 640});
  setCentralWidget(split);

  connect(browser_, &QTextBrowser::anchorClicked, this, &HelpViewer::anchorClicked);
  connect(browser_, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
    highlight_ = pendingHighlight_;
    pendingHighlight_.clear();
    applyHighlight();
    const QString title = browser_->documentTitle();
    setWindowTitle(title.isEmpty() ? QString::fromStdString(chm_.title()) : title);
    syncContents(url.path());
    emit topicShown(url.path());
    notify(hb::HHN_NAVCOMPLETE, url.path());
  });
}

bool HelpViewer::openFile(const QString& path) {
  path_ = path;
  error_.clear();
  index_.reset();
  contents_->clear();
  indexList_->clear();
  searchResults_->clear();
  browser_->setFile(nullptr);
  std::string err;
  if (!chm_.open(path.toStdString(), &err)) {
    error_ = QString::fromStdString(err);
    browser_->setHtml(
        QStringLiteral("<h2>The help cannot be shown</h2><p>%1</p>").arg(htmlEscape(error_)));
    setWindowTitle(QStringLiteral("Help"));
    return false;
  }
  browser_->setFile(&chm_);
  setWindowTitle(QString::fromStdString(chm_.title().empty() ? std::string("Help") : chm_.title()));
  fillContents();
  fillIndex();
  return true;
}

void HelpViewer::fillContents() {
  auto data = chm_.read(chm_.contentsFile());
  if (!data) return;
  const auto entries = parseSitemap(*data);
  std::function<void(QTreeWidgetItem*, const std::vector<SitemapEntry>&)> add =
      [&](QTreeWidgetItem* parent, const std::vector<SitemapEntry>& list) {
        for (const auto& e : list) {
          auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(contents_);
          item->setText(0, QString::fromStdString(e.name));
          if (!e.local.empty())
            item->setData(0, kPathRole,
                          QString::fromStdString(resolveInside(chm_.contentsFile(), e.local)));
          add(item, e.children);
        }
      };
  add(nullptr, entries);
  contents_->expandAll();
}

void HelpViewer::fillIndex() {
  auto data = chm_.read(chm_.indexFile());
  if (!data) return;
  for (const auto& e : parseSitemap(*data)) {
    auto* item = new QListWidgetItem(QString::fromStdString(e.name), indexList_);
    QVariantList targets;
    for (const auto& [title, local] : e.targets)
      targets << QStringList{QString::fromStdString(title),
                             QString::fromStdString(resolveInside(chm_.indexFile(), local))};
    item->setData(kTargetsRole, targets);
  }
}

void HelpViewer::filterIndex(const QString& prefix) {
  // Leading blanks do not count; trailing ones do ("greek " skips "greek").
  const QString typed = QString(prefix).remove(QRegularExpression(QStringLiteral("^\\s+")));
  QListWidgetItem* first = nullptr;
  for (int i = 0; i < indexList_->count(); ++i) {
    auto* item = indexList_->item(i);
    const bool match = item->text().startsWith(typed, Qt::CaseInsensitive);
    item->setHidden(!match);
    if (match && !first) first = item;
  }
  if (first) indexList_->setCurrentItem(first);
}

void HelpViewer::openIndexItem(QListWidgetItem* item) {
  if (!item || item->isHidden()) return;
  const QVariantList targets = item->data(kTargetsRole).toList();
  indexTopics_->clear();
  for (const auto& t : targets) {
    const QStringList pair = t.toStringList();
    auto* ti = new QListWidgetItem(pair.value(0), indexTopics_);
    ti->setData(kPathRole, pair.value(1));
  }
  indexTopics_->setVisible(targets.size() > 1);
  if (!targets.isEmpty()) navigate(targets.first().toStringList().value(1), {});
}

const TopicIndex& HelpViewer::searchIndex() {
  if (!index_) {
    index_ = std::make_unique<TopicIndex>();
    for (const auto& f : chm_.files()) {
      const QString lower = QString::fromStdString(f).toLower();
      if (!lower.endsWith(QLatin1String(".htm")) && !lower.endsWith(QLatin1String(".html")))
        continue;
      if (auto html = chm_.read(f); html && pageProblem(*html).empty()) index_->add(f, *html);
    }
  }
  return *index_;
}

int HelpViewer::runSearch() {
  searchResults_->clear();
  const QString q = searchEdit_->text().trimmed();
  if (q.isEmpty() || !chm_.isOpen()) {
    searchStatus_->setText(QStringLiteral("Type a word to search for."));
    return 0;
  }
  const auto& idx = searchIndex();
  const auto hits = idx.search(q.toStdString());
  for (size_t i : hits) {
    const auto& page = idx.pages()[i];
    auto* item = new QListWidgetItem(QString::fromStdString(page.title), searchResults_);
    item->setData(kPathRole, QString::fromStdString(page.path));
  }
  searchStatus_->setText(hits.empty() ? QStringLiteral("No topics found.")
                                      : QStringLiteral("%1 topic(s) found.").arg(hits.size()));
  if (!hits.empty()) searchResults_->setCurrentRow(0);
  return static_cast<int>(hits.size());
}

void HelpViewer::navigate(const QString& path, const QStringList& highlight) {
  if (!chm_.isOpen()) return;
  pendingHighlight_ = highlight;
  const QUrl url = topicUrl(path.section('#', 0, 0));
  QUrl full = url;
  if (path.contains('#')) full.setFragment(path.section('#', 1));
  if (browser_->source() == full) {
    highlight_ = pendingHighlight_;
    pendingHighlight_.clear();
    applyHighlight();
    return;
  }
  browser_->setSource(full);
}

bool HelpViewer::showTopic(const QString& topic) {
  if (!chm_.isOpen()) return false;
  const std::string p = resolveInside("/", topic.section('#', 0, 0).toStdString());
  if (!chm_.exists(p)) return false;
  navigate(topic.startsWith('/') ? topic : QLatin1Char('/') + topic, {});
  return true;
}

void HelpViewer::goHome() {
  if (chm_.isOpen()) navigate(QString::fromStdString(chm_.defaultTopic()), {});
}

void HelpViewer::showTab(Tab tab) { tabs_->setCurrentIndex(static_cast<int>(tab)); }
HelpViewer::Tab HelpViewer::currentTab() const { return static_cast<Tab>(tabs_->currentIndex()); }

void HelpViewer::showIndex(const QString& keyword) {
  showTab(Tab::Index);
  indexEdit_->setText(keyword);
  filterIndex(keyword);
  indexEdit_->setFocus();
}

void HelpViewer::showSearch(const QString& query, bool run) {
  showTab(Tab::Search);
  searchEdit_->setText(query);
  searchEdit_->setFocus();
  if (run) runSearch();
}

QString HelpViewer::currentTopic() const {
  return browser_->source().scheme() == QLatin1String("chm") ? browser_->source().path()
                                                             : QString();
}

void HelpViewer::anchorClicked(const QUrl& url) {
  const QString scheme = url.scheme();
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
      scheme == QLatin1String("mailto") || scheme == QLatin1String("ftp")) {
    QDesktopServices::openUrl(url);
    return;
  }
  QUrl target = url.isRelative() ? browser_->source().resolved(url) : url;
  if (target.scheme() != QLatin1String("chm")) return;
  if (target.path() == browser_->source().path() && target.hasFragment()) {
    browser_->scrollToAnchor(target.fragment());
    return;
  }
  QString p = target.path();
  if (target.hasFragment()) p += '#' + target.fragment();
  navigate(p, {});
}

void HelpViewer::applyHighlight() {
  QList<QTextEdit::ExtraSelection> sels;
  QTextCharFormat fmt;
  fmt.setBackground(QColor(255, 230, 80));
  QTextDocument* doc = browser_->document();
  bool first = true;
  for (const QString& w : highlight_) {
    QTextCursor c(doc);
    while (true) {
      c = doc->find(w, c, QTextDocument::FindWholeWords);
      if (c.isNull()) break;
      sels.append({c, fmt});
      if (first) {
        browser_->setTextCursor(QTextCursor(c.block()));
        browser_->ensureCursorVisible();
        first = false;
      }
    }
  }
  browser_->setExtraSelections(sels);
}

int HelpViewer::highlightCount() const {
  return static_cast<int>(browser_->extraSelections().size());
}

void HelpViewer::findInPage(const QString& text, bool backward) {
  if (text.isEmpty()) return;
  const auto flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
  if (!browser_->find(text, flags)) {
    // Wrap around once.
    QTextCursor c = browser_->textCursor();
    c.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
    browser_->setTextCursor(c);
    browser_->find(text, flags);
  }
}

void HelpViewer::zoom(int steps) {
  if (steps > 0) browser_->zoomIn(steps);
  if (steps < 0) browser_->zoomOut(-steps);
}

void HelpViewer::syncContents(const QString& topic) {
  const QString p = withSlash(topic.section('#', 0, 0));
  for (QTreeWidgetItemIterator it(contents_); *it; ++it) {
    if ((*it)->data(0, kPathRole).toString().compare(p, Qt::CaseInsensitive) == 0) {
      QSignalBlocker block(contents_);
      contents_->setCurrentItem(*it);
      return;
    }
  }
}

void HelpViewer::setNotify(hb::HhNotifyFn fn, void* context, uintptr_t owner, int id) {
  notifyFn_ = fn;
  notifyContext_ = context;
  notifyOwner_ = owner;
  notifyId_ = id;
}

void HelpViewer::notify(int code, const QString& url) {
  if (!notifyFn_) return;
  const QByteArray u = url.toUtf8();
  notifyFn_(notifyContext_, notifyOwner_, notifyId_, code, u.constData());
}

}  // namespace hhc
