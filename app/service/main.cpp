// zrqd: the sensors of a site or a rack, run without a window, logged and
// published to the lab's broker.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "Service.h"
#include "ServiceConfig.h"
#include "ZervDComDLL.h"
#include "core/InstrumentState.h"
#include "frame/Version.h"

namespace {

using namespace zrq::service;

constexpr const char* kDefaultConfig = "/etc/zrq/zrqd.toml";

void usage(std::FILE* to) {
  std::fputs(
      "Usage: zrqd [--config FILE] [--foreground] [--seconds S] [--status-file FILE]\n"
      "       zrqd --check-config [--config FILE]\n"
      "       zrqd --status [--status-file FILE]\n"
      "Runs the sensors of the configuration file, logs their readings and publishes\n"
      "them to an MQTT broker.\n"
      "  --config FILE      the configuration (default /etc/zrq/zrqd.toml)\n"
      "  --check-config     check the configuration and exit (0: usable, 2: not)\n"
      "  --foreground       run in the foreground (zrqd never forks; kept for scripts)\n"
      "  --seconds S        stop after S seconds\n"
      "  --status           print each sensor's state from the running service\n"
      "  --status-file FILE where the running service keeps its status\n"
      "  --help             this text\n"
      "  --version          the version\n"
      "Signals: SIGTERM or SIGINT stop it; SIGHUP reads the configuration again.\n",
      to);
}

std::string hostName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') return "localhost";
  return buf;
}

std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

// The service's status file: systemd's runtime folder, else the user's.
std::string defaultStatusFile() {
  if (const char* d = std::getenv("RUNTIME_DIRECTORY"); d && *d) return std::string(d) + "/status";
  if (::access("/run/zrqd", W_OK) == 0) return "/run/zrqd/status";
  return envOr("XDG_RUNTIME_DIR", "/tmp") + "/zrqd.status";
}

int printStatus(const std::optional<std::string>& file) {
  std::vector<std::string> tries;
  if (file)
    tries.push_back(*file);
  else {
    tries.push_back("/run/zrqd/status");
    tries.push_back(envOr("XDG_RUNTIME_DIR", "/tmp") + "/zrqd.status");
  }
  for (const std::string& f : tries) {
    std::ifstream in(f);
    if (!in) continue;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  std::fprintf(stderr, "zrqd: no running service found (no status in %s)\n", tries.front().c_str());
  return 1;
}

// Written whole and renamed, so a reader never sees half of it.
void writeStatus(const std::string& file, const std::string& text) {
  const std::string tmp = file + ".new";
  if (std::FILE* f = std::fopen(tmp.c_str(), "w")) {
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) == 0 && ok) std::rename(tmp.c_str(), file.c_str());
  }
}

std::optional<ServiceConfig> load(const std::string& file) {
  ConfigResult r = loadServiceConfig(file);
  if (!r.config) {
    std::fprintf(stderr, "zrqd: %s\n", r.error.c_str());
    return std::nullopt;
  }
  applyHostDefaults(*r.config, hostName());
  return r.config;
}

}  // namespace

int main(int argc, char** argv) {
  std::string configFile = kDefaultConfig;
  std::optional<std::string> statusFile;
  std::optional<double> seconds;
  bool check = false, status = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "zrqd: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      usage(stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("zrqd %s\n", zrq::frame::kVersionText);
      return 0;
    } else if (a == "--config") {
      configFile = value("--config");
    } else if (a == "--check-config") {
      check = true;
    } else if (a == "--status") {
      status = true;
    } else if (a == "--status-file") {
      statusFile = value("--status-file");
    } else if (a == "--foreground") {
    } else if (a == "--seconds") {
      const std::string v = value("--seconds");
      char* end = nullptr;
      const double s = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(s > 0)) {
        std::fprintf(stderr, "zrqd: --seconds must be a number above 0\n");
        return 2;
      }
      seconds = s;
    } else {
      std::fprintf(stderr, "zrqd: unknown argument: %s\n", a.c_str());
      usage(stderr);
      return 2;
    }
  }
  if (status) return printStatus(statusFile);

  std::optional<ServiceConfig> config = load(configFile);
  if (!config) return 2;
  if (check) {
    std::printf(
        "%s: %zu sensor(s)%s\n", configFile.c_str(), config->sensors.size(),
        config->mqtt.enabled
            ? (", broker " + config->mqtt.host + ":" + std::to_string(config->mqtt.port)).c_str()
            : ", no broker");
    return 0;
  }

  // Blocked before any thread starts, so every thread inherits the mask and
  // only the signal descriptor sees them.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  const int sigFd = ::signalfd(-1, &signals, SFD_CLOEXEC);

  const std::string statusPath = statusFile.value_or(defaultStatusFile());
  int rc = 0;
  {
    Service service(std::move(*config));
    std::string why;
    if (!service.start(&why)) {
      std::fprintf(stderr, "zrqd: %s\n", why.c_str());
      return 1;
    }
    if (const std::string at = service.remoteAddress(); !at.empty()) {
      // Scripts that let it pick a port learn it here.
      std::printf("scpi: %s\n", at.c_str());
      std::fflush(stdout);
    }
    sd_notify(0, "READY=1\nSTATUS=running");
    std::uint64_t watchdogUs = 0;
    const bool watchdog = sd_watchdog_enabled(0, &watchdogUs) > 0;
    const auto start = std::chrono::steady_clock::now();
    std::int64_t lastPetMs = zrq::core::steadyNowMs();
    std::int64_t lastStatusMs = 0, lastTickMs = 0;
    for (;;) {
      // Remote clients' waits are timed on a 250 ms tick.
      int timeoutMs = service.remoteFd() >= 0 ? 250 : 1000;
      if (watchdog) timeoutMs = std::min<int>(timeoutMs, static_cast<int>(watchdogUs / 2000));
      if (seconds) {
        const double left =
            *seconds -
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (left <= 0) break;
        timeoutMs = std::min(timeoutMs, static_cast<int>(left * 1000) + 1);
      }
      pollfd p[3] = {
          {sigFd, POLLIN, 0}, {service.remoteFd(), POLLIN, 0}, {service.notifyFd(), POLLIN, 0}};
      const int ready = ::poll(p, 3, timeoutMs);
      if (ready > 0 && (p[2].revents & POLLIN)) service.remoteNotified();
      if (ready > 0 && (p[1].revents & POLLIN)) service.serviceRemote();
      const std::int64_t nowMs = zrq::core::steadyNowMs();
      if (nowMs - lastTickMs >= 250) {
        service.tickRemote(nowMs);
        lastTickMs = nowMs;
      }
      if (ready > 0 && (p[0].revents & POLLIN)) {
        signalfd_siginfo si{};
        if (::read(sigFd, &si, sizeof si) == static_cast<ssize_t>(sizeof si)) {
          if (si.ssi_signo == SIGHUP) {
            sd_notify(0, "RELOADING=1");
            if (auto fresh = load(configFile)) {
              service.reload(std::move(*fresh));
              std::fprintf(stderr, "zrqd: %s read again\n", configFile.c_str());
            } else {
              std::fprintf(stderr, "zrqd: the configuration was not changed\n");
            }
            sd_notify(0, "READY=1");
          } else {
            break;
          }
        }
      }
      if (nowMs - lastStatusMs >= 1000) {
        writeStatus(statusPath, service.statusText());
        lastStatusMs = nowMs;
      }
      // A worker stuck in a call for this long is no longer supervising its sensor.
      const std::int64_t now = zrq::core::steadyNowMs();
      if (watchdog && service.healthy(now - 45000) && now - lastPetMs >= 0) {
        sd_notify(0, "WATCHDOG=1");
        lastPetMs = now;
      }
    }
    sd_notify(0, "STOPPING=1");
    service.stop();
    writeStatus(statusPath, service.statusText());
  }
  zrq::comm::ZervDComDLL::unload();
  return rc;
}
