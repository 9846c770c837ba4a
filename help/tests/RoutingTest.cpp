#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "RecordingEngine.h"
#include "ThbAppHelpSocket.h"

using namespace hb;
namespace fs = std::filesystem;

namespace {

struct FakePlatform : HelpPlatform {
  int beeps = 0;
  std::vector<std::string> boxes, errors;
  bool answerOk = true;
  bool devEnv = false;
  struct WinHelpCall {
    std::string file;
    unsigned command;
    intptr_t data;
  };
  std::vector<WinHelpCall> winHelpCalls;
  std::string activeForm;
  void beep(int hz, int ms) override {
    EXPECT_EQ(hz, 1000);
    EXPECT_EQ(ms, 100);
    ++beeps;
  }
  bool okCancelBox(const std::string&, const std::string& text) override {
    boxes.push_back(text);
    return answerOk;
  }
  void errorBox(const std::string& text) override { errors.push_back(text); }
  bool isWindow(uintptr_t h) override { return h == 0 || h == 0x1234 || h == 0x5678; }
  HbRect workArea() override { return {0, 0, 1024, 768}; }
  bool developmentEnvironmentRunning() override { return devEnv; }
  bool winHelp(const std::string& file, unsigned command, intptr_t data) override {
    winHelpCalls.push_back({file, command, data});
    return true;
  }
  std::string activeFormHelpFile() override { return activeForm; }
};

// Engine calls other than the window-type queries around them.
std::vector<HhRecord> requests() {
  std::vector<HhRecord> out;
  for (const auto& r : hhrec_calls())
    if (r.command != HH_GET_WIN_TYPE && r.command != HH_SET_WIN_TYPE) out.push_back(r);
  return out;
}

class Routing : public ::testing::Test {
 protected:
  void SetUp() override {
    hhrec_reset();
    dir = fs::temp_directory_path() /
          ("hbroute-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    app.HelpFile = (dir / "ZRQHelp.chm").string();
    app.Platform = &platform;
    socket = std::make_unique<ThbAppHelpSocket>(app, engine, &platform);
    socket->ShowWarning = false;
  }
  void TearDown() override {
    socket.reset();
    fs::remove_all(dir);
  }
  void writeFile(const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
  }

  fs::path dir;
  HelpTarget app;
  HtmlHelpEngine engine{HB_RECORDER_PATH};
  FakePlatform platform;
  std::unique_ptr<ThbAppHelpSocket> socket;
};

}  // namespace

TEST(TopicLines, MatchRules) {
  struct Row {
    const char* line;
    long number;
    const char* expected;  // null: no match
  } rows[] = {
      {" 12 = intro.htm ", 12, "intro.htm"},
      {"12=intro.htm", 12, "intro.htm"},
      {"12 intro.htm", 12, "intro.htm"},
      {"\t12=tab.htm\r", 12, "tab.htm"},
      {"12=a=b.htm", 12, "a=b.htm"},
      {"12=pop-up text with blanks ", 12, "pop-up text with blanks"},
      {"120=x.htm", 12, nullptr},
      {"12=x.htm", 120, nullptr},
      {"12", 12, nullptr},
      {"12=", 12, nullptr},
      {"=12 x.htm", 12, nullptr},
      {"", 0, nullptr},
      {"-5=neg.htm", -5, "neg.htm"},
      {"#12=comment.htm", 12, nullptr},
  };
  for (const auto& r : rows) {
    auto m = matchTopicLine(r.line, r.number);
    if (r.expected) {
      ASSERT_TRUE(m.has_value()) << r.line;
      EXPECT_EQ(*m, r.expected) << r.line;
    } else {
      EXPECT_FALSE(m.has_value()) << r.line;
    }
  }
}

TEST(TopicLines, SplitAndFirstMatchWins) {
  auto lines = splitLines("1=a.htm\r\n2=b.htm\r3=c.htm\n2=late.htm");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "3=c.htm");
  EXPECT_EQ(*findTopic(lines, 2), "b.htm");
  EXPECT_FALSE(findTopic(lines, 4).has_value());
  EXPECT_TRUE(splitLines("").empty());
}

TEST(TopicLines, DefaultTextFileBesideHelpFile) {
  EXPECT_EQ(defaultTopicFile("/opt/zrq/ZRQHelp.chm", "ali"), "/opt/zrq/ZRQHelp.ali");
  EXPECT_EQ(defaultTopicFile("/opt/zrq/ZRQHelp.CHM>main", "pup"), "/opt/zrq/ZRQHelp.pup");
  EXPECT_EQ(defaultTopicFile("manual.hlp", "ali"), "manual.hlp.ali");
  ThbHHTopics t("ali");
  EXPECT_EQ(t.textFileFor("a/b.chm"), "a/b.ali");
  t.TextFile = "/elsewhere/x.txt";
  EXPECT_EQ(t.textFileFor("a/b.chm"), "/elsewhere/x.txt");
}

TEST(HelpFileText, FileAndWindowParts) {
  EXPECT_EQ(helpFilePart("ZRQHelp.chm>main"), "ZRQHelp.chm");
  EXPECT_EQ(helpWindowPart("ZRQHelp.chm>main"), "main");
  EXPECT_EQ(helpFilePart("ZRQHelp.chm"), "ZRQHelp.chm");
  EXPECT_EQ(helpWindowPart("ZRQHelp.chm"), "");
  EXPECT_TRUE(usesHtmlHelp("/x/ZRQHelp.chm"));
  EXPECT_TRUE(usesHtmlHelp("/x/ZRQHELP.CHM"));
  EXPECT_FALSE(usesHtmlHelp("/x/manual.hlp"));
}

TEST(Translation, EveryRow) {
  using S = ThbHHPopupsSource;
  const char* kw = "dBm";
  const auto kwData = reinterpret_cast<intptr_t>(kw);
  struct Row {
    unsigned command;
    intptr_t data;
    S source;
    unsigned expected;
    uintptr_t expectedData;
    bool byContext;
    bool popupAsTopic;
  } rows[] = {
      {HELP_CONTEXT, 30, S::psHHPopupTopics, HH_NONE, 0, true, false},
      {HELP_QUIT, 0, S::psHHPopupTopics, HH_CLOSE_ALL, 0, false, false},
      {HELP_QUIT, 77, S::psHHPopupTopics, HH_CLOSE_ALL, 0, false, false},
      {HELP_INDEX, 5, S::psHHPopupTopics, HH_DISPLAY_TOC, 0, false, false},
      {HELP_FINDER, 9, S::psHHPopupTopics, HH_DISPLAY_TOC, 0, false, false},
      {HELP_TAB, -1, S::psHHPopupTopics, HH_DISPLAY_SEARCH, 0, false, false},
      {HELP_TAB, -2, S::psHHPopupTopics, HH_DISPLAY_INDEX, 0, false, false},
      {HELP_TAB, -3, S::psHHPopupTopics, HH_DISPLAY_TOC, 0, false, false},
      {HELP_TAB, 4, S::psHHPopupTopics, HH_DISPLAY_TOC, 0, false, false},
      {HELP_KEY, kwData, S::psHHPopupTopics, HH_DISPLAY_INDEX, uintptr_t(kwData), false, false},
      {HELP_PARTIALKEY, kwData, S::psHHPopupTopics, HH_DISPLAY_INDEX, uintptr_t(kwData), false,
       false},
      {HELP_CONTEXTPOPUP, 44, S::psHHPopupTopics, HH_DISPLAY_TEXT_POPUP, 44, false, false},
      {HELP_CONTEXTPOPUP, 44, S::psResourceFile, HH_DISPLAY_TEXT_POPUP, 44, false, false},
      {HELP_CONTEXTPOPUP, 44, S::psHtmlHelpFile, HH_NONE, 0, true, true},
      {HELP_SETPOPUP_POS, 0, S::psHHPopupTopics, HH_NONE, 0, false, false},
      {4, 0, S::psHHPopupTopics, HH_NONE, 0, false, false},
      {12345, 0, S::psHHPopupTopics, HH_NONE, 0, false, false},
  };
  for (const auto& r : rows) {
    auto t = translateHelpCommand(r.command, r.data, r.source);
    SCOPED_TRACE(::testing::Message() << "command " << r.command << " data " << r.data);
    EXPECT_EQ(t.byContext, r.byContext);
    EXPECT_EQ(t.popupAsTopic, r.popupAsTopic);
    if (r.byContext) {
      EXPECT_EQ(t.context, r.data);
    } else {
      EXPECT_EQ(t.command, r.expected);
      EXPECT_EQ(t.data, r.expectedData);
    }
  }
}

TEST(PopupPos, SignedHalves) {
  struct Row {
    intptr_t data;
    int x, y;
  } rows[] = {{0x00640032, 50, 100},
              {0x0064FFF6, -10, 100},
              {intptr_t(0xFFFF8000u), -32768, -1},
              {0x7FFF7FFF, 32767, 32767},
              {intptr_t(0x12345678ABCD0001ll), 1, -21555}};
  for (const auto& r : rows) {
    int x = 0, y = 0;
    unpackPopupPos(r.data, x, y);
    EXPECT_EQ(x, r.x) << std::hex << r.data;
    EXPECT_EQ(y, r.y) << std::hex << r.data;
    unpackPopupPos(packPopupPos(r.x, r.y), x, y);
    EXPECT_EQ(x, r.x);
    EXPECT_EQ(y, r.y);
  }
}

TEST_F(Routing, RequestsReachTheEngineTranslated) {
  socket->HHDefaultSearchQuery = "zero";
  socket->HHDefaultIndexKeyword = "offset";
  socket->HHAliases.Strings = {"30=front_panel.htm"};
  const std::string kw = "dBm";
  struct Row {
    unsigned command;
    intptr_t data;
    unsigned expected;
    std::string file;
    std::string text;
  } rows[] = {
      {HELP_FINDER, 0, HH_DISPLAY_TOC, app.HelpFile, ""},
      {HELP_INDEX, 0, HH_DISPLAY_TOC, app.HelpFile, ""},
      {HELP_TAB, -3, HH_DISPLAY_TOC, app.HelpFile, ""},
      {HELP_TAB, -1, HH_DISPLAY_SEARCH, app.HelpFile, "zero"},
      {HELP_TAB, -2, HH_DISPLAY_INDEX, app.HelpFile, "offset"},
      {HELP_KEY, reinterpret_cast<intptr_t>(kw.c_str()), HH_DISPLAY_INDEX, app.HelpFile, "dBm"},
      {HELP_PARTIALKEY, reinterpret_cast<intptr_t>(kw.c_str()), HH_DISPLAY_INDEX, app.HelpFile,
       "dBm"},
      {HELP_CONTEXT, 30, HH_DISPLAY_TOPIC, app.HelpFile, "front_panel.htm"},
      {HELP_CONTEXT, 99, HH_HELP_CONTEXT, app.HelpFile, ""},
      {HELP_QUIT, 0, HH_CLOSE_ALL, "", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << "command " << r.command);
    hhrec_reset();
    EXPECT_TRUE(app.HelpCommand(r.command, r.data));
    auto calls = requests();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].command, r.expected);
    EXPECT_EQ(calls[0].file, r.file);
    EXPECT_EQ(calls[0].text, r.text);
    if (r.expected == HH_HELP_CONTEXT) {
      EXPECT_EQ(calls[0].data, uintptr_t(99));
    }
    if (r.expected == HH_DISPLAY_SEARCH) {
      EXPECT_EQ(calls[0].x, -1);  // proximity
      EXPECT_EQ(calls[0].y, int(sizeof(HhFtsQuery)));
    }
    if (r.expected == HH_CLOSE_ALL) {
      EXPECT_EQ(calls[0].caller, 0u);
      EXPECT_EQ(calls[0].data, 0u);
    }
    // Nothing is left to the old engine.
    EXPECT_TRUE(platform.winHelpCalls.empty());
  }
}

TEST_F(Routing, UnknownCommandIsNotPassedOn) {
  EXPECT_TRUE(app.HelpCommand(4, 0));
  EXPECT_TRUE(hhrec_calls().empty());
  EXPECT_TRUE(platform.winHelpCalls.empty());
}

TEST_F(Routing, EngineFailureMakesTheHookFalse) {
  hhrec_set_result(0);
  EXPECT_FALSE(app.HelpCommand(HELP_FINDER, 0));
  bool suppressed = false;
  hhrec_set_result(1);
  socket->OnHTMLHelp = [&](unsigned& c, uintptr_t&, bool& callHelp) {
    if (c == HH_DISPLAY_TOC) {
      callHelp = false;
      suppressed = true;
    }
  };
  hhrec_reset();
  EXPECT_FALSE(app.HelpCommand(HELP_FINDER, 0));
  EXPECT_TRUE(suppressed);
  EXPECT_TRUE(requests().empty());
}

TEST_F(Routing, DefaultTopicAndWindowNameFormTheFile) {
  socket->HHDefaultTopic = "index.htm";
  app.HelpCommand(HELP_FINDER, 0);
  EXPECT_EQ(requests().at(0).file, app.HelpFile + "::/index.htm");
  hhrec_reset();
  app.HelpFile += ">main";
  app.HelpCommand(HELP_TAB, -2);
  EXPECT_EQ(requests().at(0).file, dir.string() + "/ZRQHelp.chm::/index.htm>main");
  // A topic keeps the window name with the file.
  hhrec_reset();
  socket->HHAliases.Strings = {"10=index.htm"};
  app.HelpCommand(HELP_CONTEXT, 10);
  EXPECT_EQ(requests().at(0).file, app.HelpFile);
}

TEST_F(Routing, NegativeDataSwapsTopicAndPopup) {
  socket->HHAliases.Strings = {"5=five.htm"};
  socket->HHPopupTopics.Strings = {"5=Five as a pop-up"};
  app.HelpCommand(HELP_CONTEXT, -5);
  auto calls = requests();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].command, HH_DISPLAY_TEXT_POPUP);
  EXPECT_EQ(calls[0].text, "Five as a pop-up");
  EXPECT_EQ(calls[0].caller, platform.desktopWindow());

  hhrec_reset();
  app.HelpCommand(HELP_CONTEXTPOPUP, -5);
  calls = requests();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].command, HH_DISPLAY_TOPIC);
  EXPECT_EQ(calls[0].text, "five.htm");

  // The most negative word has no positive twin: refused, not wrapped around.
  hhrec_reset();
  EXPECT_FALSE(app.HelpCommand(HELP_CONTEXT, INTPTR_MIN));
  EXPECT_TRUE(hhrec_calls().empty());
  EXPECT_TRUE(platform.winHelpCalls.empty());
}

TEST_F(Routing, PopupAtPendingPositionThenForgotten) {
  socket->HHPopupTopics.Strings = {"7=Seven"};
  EXPECT_TRUE(app.HelpCommand(HELP_SETPOPUP_POS, packPopupPos(-20, 300)));
  EXPECT_TRUE(hhrec_calls().empty());
  EXPECT_TRUE(socket->popupPending());
  EXPECT_EQ(socket->popupX(), -20);
  EXPECT_EQ(socket->popupY(), 300);
  app.HelpCommand(HELP_CONTEXTPOPUP, 7);
  auto calls = requests();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].text, "Seven");
  EXPECT_EQ(calls[0].x, -20);
  EXPECT_EQ(calls[0].y, 300);
  EXPECT_FALSE(socket->popupPending());
  hhrec_reset();
  app.HelpCommand(HELP_CONTEXTPOPUP, 8);
  calls = requests();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].x, -1);  // at the cursor
  EXPECT_NE(calls[0].text.find("8"), std::string::npos);
}

TEST_F(Routing, PopupTextsFromFileThenEvent) {
  writeFile("ZRQHelp.pup", "3=From the file\n");
  socket->HHPopupTopics.Strings = {"4=From the strings"};
  EXPECT_EQ(socket->popupText(3), "From the file");
  EXPECT_EQ(socket->popupText(4), "From the strings");
  socket->OnHHGetPopupText = [](long n, std::string& text) {
    if (n == 9) text = "From the owner";
  };
  EXPECT_EQ(socket->popupText(9), "From the owner");
  EXPECT_EQ(socket->popupText(3), "From the file");
}

TEST_F(Routing, AliasFileLoadedOnceBesideHelpFile) {
  writeFile("ZRQHelp.ali", "# topics\r\n 12 = intro.htm \r\n30=front_panel.htm\r\n");
  app.HelpCommand(HELP_CONTEXT, 12);
  EXPECT_EQ(requests().at(0).command, HH_DISPLAY_TOPIC);
  EXPECT_EQ(requests().at(0).text, "intro.htm");
  EXPECT_EQ(socket->lastAliasFile(), "intro.htm");
  // Changes after the first load are not seen.
  writeFile("ZRQHelp.ali", "12=changed.htm\n");
  hhrec_reset();
  app.HelpCommand(HELP_CONTEXT, 12);
  EXPECT_EQ(requests().at(0).text, "intro.htm");
  // Strings come before the file.
  socket->HHAliases.Strings = {"12=strings.htm"};
  hhrec_reset();
  app.HelpCommand(HELP_CONTEXT, 12);
  EXPECT_EQ(requests().at(0).text, "strings.htm");
}

TEST_F(Routing, OwnerAliasEventReplacesTheLists) {
  socket->HHAliases.Strings = {"12=strings.htm"};
  socket->OnHHGetAlias = [](long n, std::string& file) {
    if (n == 1) file = "owner.htm";
  };
  app.HelpCommand(HELP_CONTEXT, 1);
  EXPECT_EQ(requests().at(0).text, "owner.htm");
  hhrec_reset();
  app.HelpCommand(HELP_CONTEXT, 12);
  EXPECT_EQ(requests().at(0).command, HH_HELP_CONTEXT);
  EXPECT_EQ(requests().at(0).data, 12u);
}

TEST_F(Routing, AnAliasFileTooLargeToBeOneIsRefusedUnread) {
  {
    std::ofstream f(dir / "ZRQHelp.ali");
    f << "12=a.htm\n";
  }
  fs::resize_file(dir / "ZRQHelp.ali", kMaxTextFileBytes + 1);
  app.HelpCommand(HELP_CONTEXT, 12);
  ASSERT_EQ(platform.errors.size(), 1u);
  EXPECT_NE(platform.errors[0].find("is too large"), std::string::npos) << platform.errors[0];
}

TEST_F(Routing, UnreadableAliasFileIsReportedOnce) {
  fs::create_directory(dir / "ZRQHelp.ali");  // exists, cannot be read as a file
  app.HelpCommand(HELP_CONTEXT, 12);
  app.HelpCommand(HELP_CONTEXT, 12);
  ASSERT_EQ(platform.errors.size(), 1u);
  EXPECT_NE(platform.errors[0].find("ZRQHelp.ali"), std::string::npos);
  EXPECT_EQ(requests().at(0).command, HH_HELP_CONTEXT);
}

TEST_F(Routing, OldEngineFileGoesToHandlers) {
  app.HelpFile = (dir / "manual.hlp").string();
  std::vector<std::pair<unsigned, intptr_t>> seen;
  socket->OnWinHelp = [&](unsigned c, intptr_t d, bool&) {
    seen.emplace_back(c, d);
    return false;
  };
  // call-help left set: the framework's old engine answers (true here).
  EXPECT_TRUE(app.HelpCommand(HELP_FINDER, 0));
  EXPECT_TRUE(app.HelpCommand(HELP_CONTEXT, 30));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, HELP_FINDER);
  EXPECT_EQ(seen[1].second, 30);
  EXPECT_TRUE(hhrec_calls().empty());
  ASSERT_EQ(platform.winHelpCalls.size(), 2u);
  EXPECT_EQ(platform.winHelpCalls[1].file, app.HelpFile);
  // A handler that clears call-help decides alone.
  socket->OnWinHelp = [&](unsigned, intptr_t, bool& callHelp) {
    callHelp = false;
    return false;
  };
  EXPECT_FALSE(app.HelpCommand(HELP_FINDER, 0));
  EXPECT_EQ(platform.winHelpCalls.size(), 2u);
}

TEST_F(Routing, OldEngineFallsBackToPreviousHandlerThenTrue) {
  socket.reset();
  int previousCalls = 0;
  app.OnHelp = [&](unsigned, intptr_t, bool& callHelp) {
    ++previousCalls;
    callHelp = false;
    return false;
  };
  app.HelpFile = "manual.hlp";
  {
    ThbAppHelpSocket s(app, engine, &platform);
    EXPECT_FALSE(app.HelpCommand(HELP_CONTEXT, 3));
    EXPECT_EQ(previousCalls, 1);
  }
  // Destruction put the previous handler back.
  EXPECT_FALSE(app.HelpCommand(HELP_CONTEXT, 3));
  EXPECT_EQ(previousCalls, 2);
  app.OnHelp = nullptr;
  ThbAppHelpSocket s(app, engine, &platform);
  bool callHelp = true;
  EXPECT_TRUE(s.HelpHook(HELP_CONTEXT, 3, callHelp));
  EXPECT_TRUE(callHelp);
  EXPECT_TRUE(hhrec_calls().empty());
}

TEST_F(Routing, OldEnginePopupSendsPendingPositionFirst) {
  app.HelpFile = "manual.hlp";
  socket->OnWinHelp = [](unsigned, intptr_t, bool&) { return true; };
  app.HelpCommand(HELP_SETPOPUP_POS, packPopupPos(10, 20));
  app.HelpCommand(HELP_CONTEXTPOPUP, 4);
  ASSERT_GE(platform.winHelpCalls.size(), 1u);
  EXPECT_EQ(platform.winHelpCalls[0].command, HELP_SETPOPUP_POS);
  EXPECT_EQ(platform.winHelpCalls[0].data, packPopupPos(10, 20));
  EXPECT_FALSE(socket->popupPending());
}

TEST_F(Routing, PopupsFromOldStyleFileUnderHtmlHelp) {
  socket->HHPopupsSource = ThbHHPopupsSource::psWinHelpFile;
  std::string asked;
  socket->OnGetWinHelpFile = [&](std::string& file) { asked = file; };
  app.HelpCommand(HELP_SETPOPUP_POS, packPopupPos(1, 2));
  EXPECT_TRUE(app.HelpCommand(HELP_CONTEXTPOPUP, 6));
  EXPECT_EQ(asked, (dir / "ZRQHelp").string());
  ASSERT_EQ(platform.winHelpCalls.size(), 2u);
  EXPECT_EQ(platform.winHelpCalls[0].command, HELP_SETPOPUP_POS);
  EXPECT_EQ(platform.winHelpCalls[1].command, HELP_CONTEXTPOPUP);
  EXPECT_EQ(platform.winHelpCalls[1].data, 6);
  EXPECT_TRUE(hhrec_calls().empty());
  // Other requests still go to HTML Help.
  app.HelpCommand(HELP_FINDER, 0);
  EXPECT_EQ(requests().at(0).command, HH_DISPLAY_TOC);
}

TEST_F(Routing, WindowTypeAdjustedAndPopupTopicPlaced) {
  ASSERT_TRUE(platform.isWindow(0x1234));
  socket->SetHHCaller(0x1234);
  hhrec_reset();
  app.HelpCommand(HELP_FINDER, 0);
  const auto& calls = hhrec_calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].command, HH_GET_WIN_TYPE);
  EXPECT_EQ(calls[1].command, HH_SET_WIN_TYPE);
  EXPECT_EQ(calls[1].idNotify, kNotifyId);
  EXPECT_EQ(calls[1].owner, 0x1234u);
  EXPECT_TRUE(calls[1].props & HHWIN_PROP_TRACKING);
  EXPECT_EQ(calls[1].valid & (HHWIN_PARAM_PROPERTIES | HHWIN_PARAM_RECT),
            HHWIN_PARAM_PROPERTIES | HHWIN_PARAM_RECT);
  EXPECT_EQ(calls[1].x, 100);  // not moved without a pop-up
  EXPECT_EQ(calls[2].caller, 0x1234u);

  // A pop-up shown as a topic: centred under the position...
  socket->HHPopupsSource = ThbHHPopupsSource::psHtmlHelpFile;
  socket->HHAliases.Strings = {"44=filter.htm"};
  socket->HHContextWindow = "popup";
  hhrec_reset();
  hhrec_set_wintype(1, 0, 0, 600, 400);
  app.HelpCommand(HELP_SETPOPUP_POS, packPopupPos(400, 300));
  app.HelpCommand(HELP_CONTEXTPOPUP, 44);
  ASSERT_EQ(hhrec_calls().size(), 3u);
  auto set = hhrec_calls()[1];
  EXPECT_EQ(set.x, 100);
  EXPECT_EQ(set.right, 700);
  EXPECT_EQ(set.y, 300);
  EXPECT_EQ(set.bottom, 700);
  EXPECT_EQ(hhrec_calls()[2].file, app.HelpFile + ">popup");
  EXPECT_EQ(hhrec_calls()[2].text, "filter.htm");
  EXPECT_FALSE(socket->popupPending());
  EXPECT_FALSE(socket->popupAsTopic());

  // ...or above it when it would leave the work area.
  hhrec_reset();
  hhrec_set_wintype(1, 0, 0, 600, 400);
  app.HelpCommand(HELP_SETPOPUP_POS, packPopupPos(400, 600));
  app.HelpCommand(HELP_CONTEXTPOPUP, 44);
  set = hhrec_calls()[1];
  EXPECT_EQ(set.bottom, 570);
  EXPECT_EQ(set.y, 170);

  // No window type: nothing is set.
  hhrec_reset();
  hhrec_set_wintype(0, 0, 0, 0, 0);
  app.HelpCommand(HELP_FINDER, 0);
  ASSERT_EQ(hhrec_calls().size(), 2u);
  EXPECT_EQ(hhrec_calls()[1].command, HH_DISPLAY_TOC);
}

TEST_F(Routing, NotificationsReachEventsOfTheCaller) {
  std::string nav, track;
  int created = 0;
  socket->OnHHNavComplete = [&](const std::string& u) { nav = u; };
  socket->OnHHTrack = [&](const std::string& u) { track = u; };
  socket->OnHHWindowCreate = [&] { ++created; };
  app.HelpCommand(HELP_FINDER, 0);
  hhrec_notify(HHN_WINDOW_CREATE, nullptr);
  hhrec_notify(HHN_NAVCOMPLETE, "front_panel.htm");
  hhrec_notify(HHN_TRACK, "zero_cal.htm");
  EXPECT_EQ(created, 1);
  EXPECT_EQ(nav, "front_panel.htm");
  EXPECT_EQ(track, "zero_cal.htm");
  // After the caller changed, the old window's notifications are not ours.
  socket->SetHHCaller(0x5678);
  hhrec_notify(HHN_NAVCOMPLETE, "other.htm");
  EXPECT_EQ(nav, "front_panel.htm");
}

TEST_F(Routing, CallerIgnoresNonWindowsAndClosesOnChange) {
  EXPECT_EQ(socket->GetHHCaller(), platform.desktopWindow());
  socket->SetHHCaller(0x9999);
  EXPECT_EQ(socket->GetHHCaller(), platform.desktopWindow());
  EXPECT_TRUE(hhrec_calls().empty());
  socket->SetHHCaller(0x1234);
  EXPECT_EQ(socket->GetHHCaller(), 0x1234u);
  ASSERT_EQ(hhrec_calls().size(), 1u);
  EXPECT_EQ(hhrec_calls()[0].command, HH_CLOSE_ALL);
  socket->SetHHCaller(0x1234);
  EXPECT_EQ(hhrec_calls().size(), 1u);
}

TEST_F(Routing, ShortcutsGoThroughTheHook) {
  socket->HHAliases.Strings = {"63=log_setup.htm"};
  socket->ShowTOCTab();
  socket->ShowIndexTab();
  socket->ShowSearchTab();
  socket->ShowTopicByID(63);
  socket->CloseAll();
  auto calls = requests();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].command, HH_DISPLAY_TOC);
  EXPECT_EQ(calls[1].command, HH_DISPLAY_INDEX);
  EXPECT_EQ(calls[2].command, HH_DISPLAY_SEARCH);
  EXPECT_EQ(calls[3].command, HH_DISPLAY_TOPIC);
  EXPECT_EQ(calls[3].text, "log_setup.htm");
  EXPECT_EQ(calls[4].command, HH_CLOSE_ALL);
  EXPECT_TRUE(socket->lastAliasFile().empty());
}

TEST_F(Routing, HelpFileChoiceOrder) {
  app.HelpFile = "app.chm";
  platform.activeForm = "form.chm";
  EXPECT_EQ(socket->GetHelpFile(), "form.chm");
  socket->HelpFile = "own.chm";
  EXPECT_EQ(socket->GetHelpFile(), "own.chm");
  std::string during;
  socket->OnHTMLHelp = [&](unsigned&, uintptr_t&, bool&) { during = socket->GetHelpFile(); };
  socket->DoHTMLHelp(0, "call.chm", 0, HH_SYNC);
  EXPECT_EQ(during, "call.chm");
  EXPECT_EQ(socket->GetHelpFile(), "own.chm");
}

TEST_F(Routing, DevelopmentWarningOnceCancelSuppresses) {
  platform.devEnv = true;
  platform.answerOk = false;
  socket->ShowWarning = true;
  EXPECT_EQ(socket->HTMLHelpCommand(HH_DISPLAY_TOC, 0), 0);
  EXPECT_TRUE(hhrec_calls().empty());
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0], ThbAppHelpSocket::developmentWarningText());
  EXPECT_FALSE(socket->ShowWarning);
  EXPECT_NE(socket->HTMLHelpCommand(HH_DISPLAY_TOC, 0), 0);
  EXPECT_EQ(platform.boxes.size(), 1u);
}

TEST_F(Routing, MissingEngineBeepsEveryTimeBoxOnce) {
  HtmlHelpEngine missing((dir / "libhhctrl.so").string());
  ThbAppHelpSocket s(app, missing, &platform);
  s.ShowWarning = false;
  EXPECT_EQ(s.HTMLHelpCommand(HH_DISPLAY_TOC, 0), -1);
  EXPECT_EQ(s.HTMLHelpCommand(HH_CLOSE_ALL, 0), -1);
  EXPECT_EQ(platform.beeps, 3);  // window-type query + TOC, then close
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_NE(platform.boxes[0].find("\"libhhctrl.so\""), std::string::npos);
  EXPECT_NE(platform.boxes[0].find("Reinstall ZRQ"), std::string::npos);
  EXPECT_FALSE(missing.loaded());
}

TEST(Engine, DefaultLibraryIsInProgramFolder) {
  HtmlHelpEngine e;
  EXPECT_EQ(e.libraryPath(), programFolder() + "/libhhctrl.so");
  EXPECT_EQ(programFolder().find("/proc"), std::string::npos);
}
