#include "Faults.h"

#include "SignalModel.h"

#include <charconv>

namespace tks7730sim {
namespace {

struct KindName {
  FaultKind kind;
  const char* name;
};
constexpr KindName kKinds[] = {
    {FaultKind::Garbage, "garbage"},      {FaultKind::Truncate, "truncate"},
    {FaultKind::Layout, "layout"},        {FaultKind::NotANumber, "nan"},
    {FaultKind::WrongType, "wrong-type"}, {FaultKind::Stall, "stall"},
    {FaultKind::Hangup, "hangup"},        {FaultKind::RefuseF, "refuse-f"},
    {FaultKind::RefuseG, "refuse-g"},     {FaultKind::Silence, "silence"},
    {FaultKind::NoUReply, "no-u-reply"},
};

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

template <class T>
bool num(std::string_view v, T& out) {
  auto r = std::from_chars(v.data(), v.data() + v.size(), out);
  return r.ec == std::errc() && r.ptr == v.data() + v.size();
}

}  // namespace

const char* faultName(FaultKind k) {
  for (const auto& kn : kKinds)
    if (kn.kind == k) return kn.name;
  return "?";
}

bool isStreamFault(FaultKind k) {
  switch (k) {
    case FaultKind::Garbage:
    case FaultKind::Truncate:
    case FaultKind::Layout:
    case FaultKind::NotANumber:
    case FaultKind::WrongType:
    case FaultKind::Stall:
    case FaultKind::Hangup:
      return true;
    default:
      return false;
  }
}

std::optional<FaultSpec> parseFault(std::string_view text, std::string& error) {
  text = trim(text);
  FaultSpec s;
  auto comma = text.find(',');
  std::string_view kind = trim(text.substr(0, comma));
  bool known = false;
  for (const auto& kn : kKinds)
    if (kind == kn.name) {
      s.kind = kn.kind;
      known = true;
    }
  if (!known) {
    error = "unknown fault kind '" + std::string(kind) + "'";
    return std::nullopt;
  }
  bool countGiven = false;
  while (comma != std::string_view::npos) {
    text.remove_prefix(comma + 1);
    comma = text.find(',');
    std::string_view kv = trim(text.substr(0, comma));
    auto eq = kv.find('=');
    if (eq == std::string_view::npos) {
      error = "fault parameter '" + std::string(kv) + "' needs key=value";
      return std::nullopt;
    }
    std::string_view k = trim(kv.substr(0, eq)), v = trim(kv.substr(eq + 1));
    bool ok = true;
    if (k == "rate")
      ok = num(v, s.rate) && s.rate >= 0 && s.rate <= 1;
    else if (k == "every")
      ok = num(v, s.every) && s.every > 0;
    else if (k == "at") {
      int64_t at = 0;
      ok = num(v, at) && at >= 0;
      s.atMs = at;
    } else if (k == "count") {
      ok = num(v, s.count) && s.count >= 0;
      countGiven = true;
    } else if (k == "for")
      ok = num(v, s.forMs) && s.forMs >= 0;
    else if (k == "cmd") {
      ok = v.size() == 1;
      if (ok) s.cmd = v[0];
    } else if (k == "field")
      ok = num(v, s.field) && s.field >= 1 && s.field <= 11 && s.field != 8;
    else if (k == "on") {
      s.on = std::string(v);
      ok = !v.empty();
    } else {
      error = "unknown fault parameter '" + std::string(k) + "'";
      return std::nullopt;
    }
    if (!ok) {
      error = "bad value '" + std::string(v) + "' for fault parameter '" + std::string(k) + "'";
      return std::nullopt;
    }
  }
  // Without a trigger a fault strikes once, at the first chance; "at" also means once.
  if (!countGiven && ((s.rate < 0 && s.every == 0) || s.atMs)) s.count = 1;
  if (s.forMs == 0) {
    if (s.kind == FaultKind::Stall || s.kind == FaultKind::Hangup) s.forMs = 2000;
    if (s.kind == FaultKind::Silence) s.forMs = 3000;
  }
  return s;
}

bool parseFaultScript(std::string_view text, std::vector<FaultSpec>& out, std::string& error) {
  int lineNo = 0;
  while (!text.empty()) {
    auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    ++lineNo;
    auto hash = line.find('#');
    line = trim(line.substr(0, hash));
    if (line.empty()) continue;
    auto f = parseFault(line, error);
    if (!f) {
      error = "line " + std::to_string(lineNo) + ": " + error;
      return false;
    }
    out.push_back(*f);
  }
  return true;
}

bool FaultState::chance(int64_t nowMs, Rng& rng) {
  if (spec.count >= 0 && strikes >= spec.count) return false;
  if (spec.atMs && nowMs < *spec.atMs) return false;
  ++chances;
  bool hit;
  if (spec.every > 0)
    hit = chances % spec.every == 0;
  else if (spec.rate >= 0)
    hit = rng.uniform() < spec.rate;
  else
    hit = true;
  if (hit) ++strikes;
  return hit;
}

}  // namespace tks7730sim
