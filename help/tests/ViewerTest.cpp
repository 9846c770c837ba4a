// The help viewer offscreen, over a small fixture manual and the real one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTextBlock>
#include <QListWidget>
#include <QTest>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "QtTestApp.h"
#include "HelpViewer.h"
#include "HtmlHelpEngine.h"
#include "ThbAppHelpSocket.h"

using hhc::HelpViewer;
namespace fs = std::filesystem;

namespace {

using zrq::test::qt::ensureApplication;

struct TsvTopic {
  int id, parent;
  std::string file, title;
  std::vector<std::string> keywords;
};

std::vector<TsvTopic> readTsv(const std::string& path) {
  std::vector<TsvTopic> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("id\t", 0) == 0) continue;
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string c;
    while (std::getline(ss, c, '\t')) cols.push_back(c);
    TsvTopic t{std::stoi(cols.at(0)), std::stoi(cols.at(3)), cols.at(1), cols.at(2), {}};
    std::stringstream ks(cols.size() > 4 ? cols[4] : "");
    while (std::getline(ks, c, ';'))
      if (!c.empty()) t.keywords.push_back(c);
    out.push_back(t);
  }
  return out;
}

// The tree as "title>file" lines with indentation, from the list and from the widget.
void expectedTree(const std::vector<TsvTopic>& topics, int parent, int depth, std::string& out) {
  for (const auto& t : topics)
    if (t.parent == parent) {
      out += std::string(depth * 2, ' ') + t.title + ">/" + t.file + "\n";
      expectedTree(topics, t.id, depth + 1, out);
    }
}
void widgetTree(QTreeWidgetItem* item, int depth, std::string& out) {
  out += std::string(depth * 2, ' ') + item->text(0).toStdString() + ">" +
         item->data(0, Qt::UserRole).toString().toStdString() + "\n";
  for (int i = 0; i < item->childCount(); ++i) widgetTree(item->child(i), depth + 1, out);
}
std::string treeOf(QTreeWidget* tree) {
  std::string out;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) widgetTree(tree->topLevelItem(i), 0, out);
  return out;
}

// Every local link, picture and style sheet of every page names a file inside.
using Files = std::map<std::string, std::string>;
std::vector<std::string> brokenReferences(const Files& files) {
  std::vector<std::string> broken;
  const QRegularExpression ref(QStringLiteral("(?:src|href)\\s*=\\s*\"([^\"]*)\""),
                               QRegularExpression::CaseInsensitiveOption);
  size_t pages = 0;
  for (const auto& [f, text] : files) {
    if (f.size() < 4 || f.compare(f.size() - 4, 4, ".htm") != 0) continue;
    ++pages;
    const QString html = QString::fromStdString(text);
    for (auto it = ref.globalMatch(html); it.hasNext();) {
      const QString target = it.next().captured(1);
      if (target.isEmpty() || target.startsWith('#') || target.contains(QLatin1String(":")))
        continue;
      const std::string inside = hhc::resolveInside(f, target.section('#', 0, 0).toStdString());
      if (!files.count(inside)) broken.push_back(f + " -> " + target.toStdString());
    }
  }
  if (pages == 0) broken.push_back("no pages");
  return broken;
}
std::vector<std::string> brokenReferences(const hhc::ChmFile& chm) {
  Files files;
  for (const auto& f : chm.files()) files[f] = chm.read(f).value_or("");
  return brokenReferences(files);
}

std::set<std::string> resultPaths(HelpViewer& v) {
  std::set<std::string> out;
  for (int i = 0; i < v.searchResults()->count(); ++i)
    out.insert(v.searchResults()->item(i)->data(Qt::UserRole).toString().toStdString());
  return out;
}

std::vector<std::string> visibleKeywords(HelpViewer& v) {
  std::vector<std::string> out;
  for (int i = 0; i < v.indexList()->count(); ++i)
    if (!v.indexList()->item(i)->isHidden())
      out.push_back(v.indexList()->item(i)->text().toStdString());
  return out;
}

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QStringList opened;
 public slots:
  void open(const QUrl& url) { opened << url.toString(); }
};

class Viewer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(v.openFile(FIXTURE_CHM)) << v.errorText().toStdString(); }
  QApplication& a = ensureApplication();  // before any widget
  HelpViewer v;
};

}  // namespace

TEST_F(Viewer, ContentsTreeEqualsTheList) {
  std::string want;
  expectedTree(readTsv(FIXTURE_TSV), 0, 0, want);
  EXPECT_EQ(treeOf(v.contentsTree()), want);
  EXPECT_NE(want.find("Beta & more"), std::string::npos);
}

TEST(RealManual, ContentsIndexAndAliasesMatchTheList) {
  ensureApplication();
  HelpViewer v;
  ASSERT_TRUE(v.openFile(REAL_CHM)) << v.errorText().toStdString();
  const auto topics = readTsv(REAL_TSV);
  std::string want;
  expectedTree(topics, 0, 0, want);
  EXPECT_EQ(treeOf(v.contentsTree()), want);
  std::set<std::string> keywords;
  for (const auto& t : topics) keywords.insert(t.keywords.begin(), t.keywords.end());
  EXPECT_GE(keywords.size(), 30u);
  EXPECT_EQ(static_cast<size_t>(v.indexList()->count()), keywords.size());
  // Every page of the list is inside and opens.
  for (const auto& t : topics) EXPECT_TRUE(v.showTopic(QString::fromStdString(t.file))) << t.file;
  EXPECT_TRUE(v.browser()->missing().isEmpty()) << v.browser()->missing().join(", ").toStdString();
  // The alias file beside it maps every context number to its page.
  hb::ThbHHTopics ali("ali");
  for (const auto& t : topics) {
    auto f = ali.find(t.id, REAL_CHM, true);
    ASSERT_TRUE(f.has_value()) << t.id;
    EXPECT_EQ(*f, t.file);
  }
  const auto broken = brokenReferences(v.file());
  EXPECT_TRUE(broken.empty()) << broken.front();
  // A word of one page only.
  v.showSearch("dialout", true);
  EXPECT_TRUE(resultPaths(v).count("/linux_setup.htm"));
}

TEST_F(Viewer, IndexFiltersByTypedPrefix) {
  const int all = v.indexList()->count();
  EXPECT_EQ(all, 7);  // welcome start alpha greek beta gamma "Greek letters"
  v.showIndex("gr");
  EXPECT_EQ(visibleKeywords(v), (std::vector<std::string>{"greek", "Greek letters"}));
  QTest::keyClicks(v.indexEdit(), "eek ");
  EXPECT_EQ(visibleKeywords(v), (std::vector<std::string>{"Greek letters"}));
  v.indexEdit()->clear();
  EXPECT_EQ(static_cast<int>(visibleKeywords(v).size()), all);
  v.showIndex("zz");
  EXPECT_TRUE(visibleKeywords(v).empty());
  // A keyword of two topics lists both and shows the first.
  v.showIndex("greek");
  QTest::keyClick(v.indexEdit(), Qt::Key_Return);
  ASSERT_EQ(v.indexTopics()->count(), 2);
  EXPECT_EQ(v.indexTopics()->item(1)->text().toStdString(), "Beta & more");
  EXPECT_EQ(v.currentTopic().toStdString(), "/alpha.htm");
  EXPECT_EQ(v.currentTab(), HelpViewer::Tab::Index);
}

TEST_F(Viewer, SearchFindsExactlyThePagesHoldingTheWords) {
  struct Row {
    const char* query;
    std::set<std::string> pages;
  } rows[] = {
      {"resonator", {"/alpha.htm", "/beta.htm"}},  // inline tags do not split words
      {"RESONATOR", {"/alpha.htm", "/beta.htm"}},
      {"resonators", {"/sub/gamma.htm"}},      // script text is not searched
      {"zebra", {"/alpha.htm", "/beta.htm"}},  // comments are not searched
      {"zebra hums", {"/alpha.htm"}},
      {"welcome", {"/index.htm"}},
      {"more", {"/beta.htm"}},  // title words count
      {"nowhere", {}},
      {"  ", {}},
  };
  for (const auto& r : rows) {
    v.showSearch(r.query, true);
    EXPECT_EQ(resultPaths(v), r.pages) << r.query;
  }
}

TEST_F(Viewer, SearchHitOpensHighlighted) {
  v.showSearch("zebra", true);
  ASSERT_GE(v.searchResults()->count(), 1);
  QListWidgetItem* hit = v.searchResults()->item(0);
  emit v.searchResults()->itemActivated(hit);
  EXPECT_EQ(v.currentTopic().toStdString(), hit->data(Qt::UserRole).toString().toStdString());
  EXPECT_EQ(v.highlightCount(), 1);
  // A topic opened otherwise is not highlighted.
  v.showTopic("index.htm");
  EXPECT_EQ(v.highlightCount(), 0);
}

TEST_F(Viewer, LinkCheckSeesBrokenReferences) {
  EXPECT_TRUE(brokenReferences(v.file()).empty());
  const Files pages = {
      {"/a.htm", "<a href=\"sub/b.htm#x\">b</a><img src=\"gone.png\"><a href=\"https://x/\">"},
      {"/sub/b.htm", "<a href=\"../a.htm\">a</a><link href=\"../missing.css\">"}};
  EXPECT_EQ(brokenReferences(pages),
            (std::vector<std::string>{"/a.htm -> gone.png", "/sub/b.htm -> ../missing.css"}));
}

TEST_F(Viewer, LinksPicturesAndStyleLoadFromInsideTheFile) {
  ASSERT_TRUE(v.showTopic("index.htm"));
  EXPECT_EQ(v.windowTitle().toStdString(), "Welcome");
  const QVariant pic = v.browser()->document()->resource(QTextDocument::ImageResource,
                                                         QUrl(QStringLiteral("chm:/pic.png")));
  EXPECT_TRUE(pic.isValid());
  EXPECT_TRUE(v.browser()->missing().isEmpty()) << v.browser()->missing().join(", ").toStdString();
  // The style sheet applied: the heading's colour.
  QTextCursor c(v.browser()->document());
  c.movePosition(QTextCursor::NextCharacter);
  EXPECT_EQ(c.charFormat().foreground().color().name().toStdString(), "#204080");

  emit v.browser()->anchorClicked(QUrl(QStringLiteral("sub/gamma.htm")));
  EXPECT_EQ(v.currentTopic().toStdString(), "/sub/gamma.htm");
  EXPECT_TRUE(v.browser()->missing().isEmpty());  // ../pic.png resolved
  emit v.browser()->anchorClicked(QUrl(QStringLiteral("../alpha.htm")));
  EXPECT_EQ(v.currentTopic().toStdString(), "/alpha.htm");
  v.browser()->backward();
  EXPECT_EQ(v.currentTopic().toStdString(), "/sub/gamma.htm");
  v.browser()->forward();
  EXPECT_EQ(v.currentTopic().toStdString(), "/alpha.htm");
  v.goHome();
  EXPECT_EQ(v.currentTopic().toStdString(), "/index.htm");
  // The contents follow the topic.
  ASSERT_NE(v.contentsTree()->currentItem(), nullptr);
  EXPECT_EQ(v.contentsTree()->currentItem()->text(0).toStdString(), "Welcome");
  // Web links go to the desktop's browser; the topic stays.
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
  emit v.browser()->anchorClicked(QUrl(QStringLiteral("https://example.invalid/page")));
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  EXPECT_EQ(catcher.opened, QStringList{QStringLiteral("https://example.invalid/page")});
  EXPECT_EQ(v.currentTopic().toStdString(), "/index.htm");
  // A page the file lacks.
  EXPECT_FALSE(v.showTopic("nothere.htm"));
  emit v.browser()->anchorClicked(QUrl(QStringLiteral("nothere.htm")));
  EXPECT_TRUE(v.browser()->toPlainText().contains(QLatin1String("Topic not found")));
}

TEST_F(Viewer, FindInPageAndZoom) {
  v.showTopic("alpha.htm");
  v.findInPage("zebra");
  EXPECT_EQ(v.browser()->textCursor().selectedText().toStdString(), "zebra");
  v.findInPage("alpha");  // wraps to the top
  EXPECT_EQ(v.browser()->textCursor().selectedText().toLower().toStdString(), "alpha");
  const qreal before = v.browser()->font().pointSizeF();
  v.zoom(2);
  EXPECT_GT(v.browser()->font().pointSizeF(), before);
  v.zoom(-2);
  EXPECT_DOUBLE_EQ(v.browser()->font().pointSizeF(), before);
}

TEST(BadFiles, ClearMessageNeverACrash) {
  ensureApplication();
  const fs::path dir = fs::temp_directory_path() / ("hhbad-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string real;
  {
    std::ifstream in(FIXTURE_CHM, std::ios::binary);
    real.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(real.size(), 1000u);
  struct Case {
    std::string name, bytes;
  } cases[] = {{"empty.chm", ""},
               {"text.chm", "this is not a help file\n"},
               {"head.chm", real.substr(0, 0x60)},
               {"half.chm", real.substr(0, real.size() / 2)},
               {"zeroed.chm", std::string("ITSF") + std::string(real.size() - 4, '\0')}};
  for (const auto& c : cases) {
    std::ofstream(dir / c.name, std::ios::binary) << c.bytes;
    HelpViewer v;
    const bool ok = v.openFile(QString::fromStdString((dir / c.name).string()));
    if (!ok) {
      EXPECT_TRUE(v.errorText().contains(QString::fromStdString(c.name))) << c.name;
      EXPECT_TRUE(v.browser()->toPlainText().contains(QLatin1String("cannot be shown")));
    }
    // Whatever opened, using it must not crash.
    v.goHome();
    v.showSearch("zebra", true);
    v.showIndex("a");
  }
  HelpViewer missing;
  EXPECT_FALSE(missing.openFile(QString::fromStdString((dir / "none.chm").string())));
  EXPECT_TRUE(missing.errorText().contains(QLatin1String("does not exist")));
  fs::remove_all(dir);
}

// The real plug-in, loaded by file name like the program loads it.
class PlugIn : public ::testing::Test {
 protected:
  void SetUp() override { ensureApplication(); }
  void TearDown() override { call(hb::HH_CLOSE_ALL, "", 0); }
  intptr_t call(unsigned command, const std::string& file, uintptr_t data) {
    return engine().call(platform, 0, file.c_str(), command, data);
  }
  static hb::HtmlHelpEngine& engine() {
    static hb::HtmlHelpEngine e(HHCTRL_PATH);
    return e;
  }
  static QMainWindow* viewer() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == QLatin1String("ZRQHelpViewer") && w->isVisible())
        return static_cast<QMainWindow*>(w);
    return nullptr;
  }
  static std::string topicShown() {
    auto* v = viewer();
    auto* b = v ? v->findChild<QTextBrowser*>(QStringLiteral("topic")) : nullptr;
    return b ? b->source().path().toStdString() : std::string();
  }
  hb::HelpPlatform platform;
};

// F1 in a modal dialog: the viewer comes above it, usable, not blocked by it;
// from the main window again it is an ordinary window.
TEST_F(PlugIn, FromAModalDialogTheViewerIsUsable) {
  const std::string chm = FIXTURE_CHM;
  QDialog dialog;
  dialog.setModal(true);
  dialog.show();
  ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
  ASSERT_NE(call(hb::HH_DISPLAY_TOPIC, chm + "::/beta.htm", 0), 0);
  ASSERT_NE(viewer(), nullptr);
  EXPECT_EQ(QApplication::activeModalWidget(), viewer());
  viewer()->close();
  dialog.hide();
  ASSERT_NE(call(hb::HH_DISPLAY_TOPIC, chm + "::/beta.htm", 0), 0);
  EXPECT_EQ(viewer()->windowModality(), Qt::NonModal);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(PlugIn, AnswersTheCommands) {
  const std::string chm = FIXTURE_CHM;
  EXPECT_NE(call(hb::HH_DISPLAY_TOPIC, chm + "::/beta.htm", 0), 0);
  ASSERT_NE(viewer(), nullptr);
  EXPECT_EQ(topicShown(), "/beta.htm");
  const std::string topic = "sub/gamma.htm";
  EXPECT_NE(call(hb::HH_DISPLAY_TOPIC, chm, reinterpret_cast<uintptr_t>(topic.c_str())), 0);
  EXPECT_EQ(topicShown(), "/sub/gamma.htm");
  EXPECT_EQ(call(hb::HH_DISPLAY_TOPIC, chm + "::/missing.htm", 0), 0);
  // Context numbers through the alias file beside the help file.
  EXPECT_NE(call(hb::HH_HELP_CONTEXT, chm, 20), 0);
  EXPECT_EQ(topicShown(), "/alpha.htm");
  EXPECT_EQ(call(hb::HH_HELP_CONTEXT, chm, 999), 0);
  // Search record, executed.
  hb::HhFtsQuery q;
  q.pszSearchQuery = "zebra";
  q.fExecute = 1;
  EXPECT_NE(call(hb::HH_DISPLAY_SEARCH, chm, reinterpret_cast<uintptr_t>(&q)), 0);
  auto* results = viewer()->findChild<QListWidget*>(QStringLiteral("searchResults"));
  ASSERT_NE(results, nullptr);
  EXPECT_EQ(results->count(), 2);
  hb::HhFtsQuery wrong;
  wrong.cbStruct = 3;
  EXPECT_EQ(call(hb::HH_DISPLAY_SEARCH, chm, reinterpret_cast<uintptr_t>(&wrong)), 0);
  // Window type round trip.
  hb::HhWinType wt;
  EXPECT_EQ(call(hb::HH_GET_WIN_TYPE, chm, reinterpret_cast<uintptr_t>(&wt)), 1);
  EXPECT_GT(wt.right - wt.left, 100);
  // Pop-up text.
  hb::HhPopup p;
  p.pszText = "A pop-up text";
  p.x = 200;
  p.y = 150;
  EXPECT_NE(call(hb::HH_DISPLAY_TEXT_POPUP, chm, reinterpret_cast<uintptr_t>(&p)), 0);
  QLabel* popup = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String("ZRQHelpPopup") && w->isVisible())
      popup = static_cast<QLabel*>(w);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->text().toStdString(), "A pop-up text");
  EXPECT_EQ(popup->y(), 150);
  // Close all.
  EXPECT_EQ(call(hb::HH_CLOSE_ALL, "", 0), 1);
  EXPECT_EQ(viewer(), nullptr);
}

TEST_F(PlugIn, MissingFileFailsWithMessage) {
  EXPECT_EQ(call(hb::HH_DISPLAY_TOC, "/nonexistent/ZRQHelp.chm", 0), 0);
  auto* v = viewer();
  ASSERT_NE(v, nullptr);
  auto* b = v->findChild<QTextBrowser*>(QStringLiteral("topic"));
  EXPECT_TRUE(b->toPlainText().contains(QLatin1String("does not exist")));
  EXPECT_EQ(call(hb::HH_DISPLAY_TOC, "", 0), 0);
}

TEST_F(PlugIn, RoutedFromTheSocket) {
  hb::HelpTarget target;
  target.HelpFile = FIXTURE_CHM;
  target.Platform = &platform;
  hb::ThbAppHelpSocket socket(target, engine(), &platform);
  socket.ShowWarning = false;
  std::vector<std::string> navigated;
  socket.OnHHNavComplete = [&](const std::string& url) { navigated.push_back(url); };
  EXPECT_TRUE(target.HelpCommand(hb::HELP_FINDER, 0));
  ASSERT_NE(viewer(), nullptr);
  EXPECT_EQ(topicShown(), "/index.htm");
  socket.ShowTopicByID(21);
  EXPECT_EQ(topicShown(), "/beta.htm");
  EXPECT_EQ(navigated, (std::vector<std::string>{"/index.htm", "/beta.htm"}));
  socket.CloseAll();
  EXPECT_EQ(viewer(), nullptr);
}

#include "ViewerTest.moc"
