// An Instrument for the tests: settings kept, readings pushed by hand.
#pragma once

#include <string>

#include "scpi/Engine.h"

namespace zrq::scpi::test {

struct FakeInstrument : Instrument {
  Settings s;
  std::optional<Reading> reading;
  bool stream = true, calRunning = false, refuseCal = false;
  int applied = 0;
  std::uint64_t seq = 0;
  std::size_t channel = 0;  // of a multi-sensor engine
  std::string name;

  Identity identity() const override { return {"123456", "1.07"}; }
  bool streaming() const override { return stream; }
  std::optional<Reading> latest() const override { return reading; }
  Settings settings() const override { return s; }
  void apply(const Settings& n) override {
    s = n;
    ++applied;
  }
  bool startZeroCalibration(std::string* why) override {
    if (refuseCal || !stream) {
      *why = stream ? "already running" : "no sensor";
      return false;
    }
    return calRunning = true;
  }
  bool zeroCalibrationRunning() const override { return calRunning; }
  std::string label() const override { return name; }

  // A reading of the selected function, given to the engine.
  void push(Engine& e, double avgW, Function f) {
    Reading r;
    r.sequence = ++seq;
    r.time = "2026-01-01T00:00:00+00:00";
    r.function = f;
    r.forwardAverageW = avgW;
    if (f == Function::Peak) r.forwardPeakW = 2 * avgW;
    if (f == Function::Crest) r.crestFactorDb = 3;
    r.reflectedW = 0.01;
    r.rho = 0.1;
    r.vswr = 1.2;
    r.returnLossDb = 20;
    r.temperatureC = 25;
    reading = r;
    e.readingAccepted(channel);
  }
  void push(Engine& e, double avgW) { push(e, avgW, s.function); }
};

// Feeds one line and returns what the client answered.
inline std::string ask(Client& c, const std::string& line) {
  c.feed(line + "\n");
  std::string out = c.output();
  c.output().clear();
  return out;
}

}  // namespace zrq::scpi::test
