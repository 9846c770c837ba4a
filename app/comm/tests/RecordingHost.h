// A main window stand-in that records what the connection sequences asked of it.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "CommHost.h"

namespace zrq::comm::test {

class RecordingHost : public CommHost {
 public:
  core::InstrumentState state;
  std::vector<std::string> calls;
  bool logging = true;
  bool ownHelp = true;
  bool running[3] = {false, false, false};
  int interval[3] = {500, 600, 250};
  std::string lblText;
  LabelColor lblColor = LabelColor::Red;

  core::InstrumentState& instrument() override { return state; }
  void clearAllSegments() override { calls.push_back("clearAllSegments"); }
  void applyMeasType() override { calls.push_back("applyMeasType"); }
  void resetPortMenu() override { calls.push_back("resetPortMenu"); }
  void updateDisplay() override { calls.push_back("updateDisplay"); }
  void followState() override { calls.push_back("followState"); }
  void setLblComm(LabelColor color, const std::string& text) override {
    lblColor = color;
    lblText = text;
    calls.push_back(std::string("lblComm ") + (color == LabelColor::Red ? "red " : "green ") +
                    text);
  }
  void showDisconnectedCaption() override { calls.push_back("disconnectedCaption"); }
  void enableStreamingMenus(bool meter) override {
    calls.push_back(std::string("streamingMenus meter=") + (meter ? "on" : "off"));
  }
  void setProgressPosition(int p) override { calls.push_back("progress " + std::to_string(p)); }
  void setProgressMaximum(int m) override { calls.push_back("progressMax " + std::to_string(m)); }
  void setZeroCalCaption(const std::string& c) override {
    calls.push_back("lblZeroCal '" + c + "'");
  }
  void showZeroCalButton() override { calls.push_back("showBtnZeroCal"); }
  void stopTimer(CommTimer t) override {
    running[static_cast<int>(t)] = false;
    calls.push_back("stop " + name(t));
  }
  void startTimer(CommTimer t) override {
    running[static_cast<int>(t)] = true;
    calls.push_back("start " + name(t));
  }
  void setTimerInterval(CommTimer t, int ms) override {
    interval[static_cast<int>(t)] = ms;
    calls.push_back("interval " + name(t) + " " + std::to_string(ms));
  }
  void setCurrPortName(const std::string& n) override { calls.push_back("currPortName " + n); }
  void portAdded(const std::string& n, int index) override {
    calls.push_back("portAdded " + n + " " + std::to_string(index));
  }
  void closeChildWindows() override { calls.push_back("closeChildWindows"); }
  bool helpFileIsOwn() override { return ownHelp; }
  void sendHelpQuit() override { calls.push_back("helpQuit"); }
  bool loggingActive() override { return logging; }
  void closeLogFile() override {
    logging = false;
    calls.push_back("closeLogFile");
  }
  void hideAuxWindows() override { calls.push_back("hideAuxWindows"); }
  void closeMainWindow() override { calls.push_back("closeMainWindow"); }
  void terminateApplication() override { calls.push_back("terminate"); }

  bool isRunning(CommTimer t) const { return running[static_cast<int>(t)]; }
  int count(const std::string& call) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
  }
  // The calls from the first `first` on, for sequence checks.
  std::vector<std::string> from(const std::string& first) const {
    auto it = std::find(calls.begin(), calls.end(), first);
    return std::vector<std::string>(it, calls.end());
  }

  static std::string name(CommTimer t) {
    switch (t) {
      case CommTimer::DataPoll:
        return "dataPollTimer";
      case CommTimer::ReadData:
        return "readDataTimer";
      case CommTimer::Display:
        return "displayTimer";
    }
    return "?";
  }
};

}  // namespace zrq::comm::test
