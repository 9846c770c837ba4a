// help_bench: how long a help request takes to show its topic, and how long a
// full-text search over the whole manual takes, each against a baseline
// measured in the same run.
//
//   first topic  a context-number request through the routing and the
//                plug-in until the topic pane has painted: cold (new viewer,
//                file opened, contents and index built) and warm (viewer
//                open); baseline: a bare QTextBrowser given the same page's
//                HTML, created and painted
//   search       building the word index over every page plus one query, and
//                a query alone; baseline: reading every page and scanning its
//                text for the word
//
// Usage: help_bench [runs]   (bin/ZRQHelp.chm and bin/libhhctrl.so beside it)
#include <QApplication>
#include <QEvent>
#include <QTextBrowser>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "ChmFile.h"
#include "HtmlHelpEngine.h"
#include "ThbAppHelpSocket.h"
#include "TopicIndex.h"

namespace {

using zrq::bench::Clock;
using zrq::bench::median;
using zrq::bench::ms;

class PaintWatch : public QObject {
 public:
  bool painted = false;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) painted = true;
    return false;
  }
};

QTextBrowser* shownTopic() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String("ZRQHelpViewer") && w->isVisible())
      return w->findChild<QTextBrowser*>(QStringLiteral("topic"));
  return nullptr;
}

// Runs the event loop until the widget's viewport has painted.
void waitPainted(QWidget* viewport) {
  PaintWatch watch;
  viewport->installEventFilter(&watch);
  viewport->update();
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!watch.painted && Clock::now() < deadline)
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  viewport->removeEventFilter(&watch);
  if (!watch.painted) {
    std::fprintf(stderr, "help_bench: the topic never painted\n");
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;
  const std::string chmPath = hb::programFolder() + "/ZRQHelp.chm";

  hhc::ChmFile chm;
  std::string error;
  if (!chm.open(chmPath, &error)) {
    std::fprintf(stderr, "help_bench: %s\n", error.c_str());
    return 1;
  }
  const std::string page = "/front_panel.htm";
  const QString pageHtml = QString::fromStdString(chm.read(page).value_or(""));

  hb::HelpTarget target;
  target.HelpFile = chmPath;
  hb::HelpPlatform platform;
  target.Platform = &platform;
  hb::ThbAppHelpSocket socket(target, hb::HtmlHelpEngine::process(), &platform);
  socket.ShowWarning = false;

  // First ever request: loads the plug-in too.
  auto t0 = Clock::now();
  target.HelpContext(30);
  QTextBrowser* b = shownTopic();
  if (!b || b->source().path().toStdString() != page) {
    std::fprintf(stderr, "help_bench: the request did not show %s\n", page.c_str());
    return 1;
  }
  waitPainted(b->viewport());
  const double firstEver = ms(Clock::now() - t0);

  std::vector<double> cold, warm, base;
  for (int i = 0; i < runs; ++i) {
    socket.CloseAll();
    QApplication::processEvents();
    t0 = Clock::now();
    target.HelpContext(30);
    waitPainted(shownTopic()->viewport());
    cold.push_back(ms(Clock::now() - t0));

    target.HelpContext(i % 2 ? 30 : 50);  // another topic in the open viewer
    t0 = Clock::now();
    target.HelpContext(i % 2 ? 50 : 30);
    waitPainted(shownTopic()->viewport());
    warm.push_back(ms(Clock::now() - t0));

    t0 = Clock::now();
    {
      QTextBrowser bare;
      bare.resize(640, 600);
      bare.setHtml(pageHtml);
      bare.show();
      waitPainted(bare.viewport());
    }
    base.push_back(ms(Clock::now() - t0));
  }
  socket.CloseAll();

  // Search.
  std::vector<std::string> pages;
  for (const auto& f : chm.files())
    if (f.size() > 4 && (f.compare(f.size() - 4, 4, ".htm") == 0)) pages.push_back(f);
  std::vector<double> build, query, scan;
  size_t hits = 0, scanHits = 0;
  for (int i = 0; i < runs; ++i) {
    t0 = Clock::now();
    hhc::TopicIndex idx;
    for (const auto& p : pages) idx.add(p, *chm.read(p));
    hits = idx.search("calibration").size();
    build.push_back(ms(Clock::now() - t0));
    t0 = Clock::now();
    for (int k = 0; k < 100; ++k) hits = idx.search("zero calibration").size();
    query.push_back(ms(Clock::now() - t0) / 100);

    t0 = Clock::now();
    scanHits = 0;
    for (const auto& p : pages) {
      std::string text = *chm.read(p);
      std::transform(text.begin(), text.end(), text.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      scanHits += text.find("calibration") != std::string::npos;
    }
    scan.push_back(ms(Clock::now() - t0));
  }

  std::printf("help_bench: %d runs, %zu pages in %s\n", runs, pages.size(), chmPath.c_str());
  std::printf("first topic, first request (plug-in loaded)  %8.2f ms\n", firstEver);
  std::printf("first topic, cold viewer     median %8.2f ms  (goal < 300 ms)  x%.2f of baseline\n",
              median(cold), median(cold) / median(base));
  std::printf("first topic, open viewer     median %8.2f ms                   x%.2f of baseline\n",
              median(warm), median(warm) / median(base));
  std::printf("baseline: bare browser painting the page  %8.2f ms\n", median(base));
  std::printf("search, index all + query    median %8.2f ms  (goal < 50 ms)   x%.2f of baseline\n",
              median(build), median(build) / median(scan));
  std::printf("search, query on built index median %8.4f ms                   x%.4f of baseline\n",
              median(query), median(query) / median(scan));
  std::printf(
      "baseline: read and scan every page       %8.2f ms (%zu pages hold the word; "
      "index: %zu for both words)\n",
      median(scan), scanHits, hits);
  return 0;
}
