#include "Mqtt.h"

#include <mosquitto.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "core/InstrumentState.h"

namespace zrq::service {

namespace {
std::once_flag libraryInit;

// At most this often the publishes of the sensors go out, together.
constexpr std::int64_t kBatchMs = 50;

// Held back while a batch is written, so a reading's messages leave in as
// few segments as the data allows.
void cork(int sock, int on) { ::setsockopt(sock, IPPROTO_TCP, TCP_CORK, &on, sizeof on); }
}  // namespace

MqttPublisher::MqttPublisher(MqttConfig config)
    : config_(std::move(config)), statusTopic_(config_.base + "/status") {}

MqttPublisher::~MqttPublisher() { stop(); }

bool MqttPublisher::start(std::string* why) {
  std::call_once(libraryInit, [] { mosquitto_lib_init(); });
  auto fail = [&](const std::string& text) {
    if (why) *why = text;
    mosquitto_destroy(client_);
    client_ = nullptr;
    return false;
  };
  client_ = mosquitto_new(config_.clientId.c_str(), true, this);
  if (!client_) return fail("the MQTT client cannot be created");
  // Callers publish from their own threads; the network loop is ours.
  mosquitto_threaded_set(client_, true);
  mosquitto_connect_callback_set(client_, &MqttPublisher::onConnectThunk);
  mosquitto_disconnect_callback_set(client_, &MqttPublisher::onDisconnectThunk);
  mosquitto_message_callback_set(client_, &MqttPublisher::onMessageThunk);
  mosquitto_log_callback_set(client_, &MqttPublisher::onLogThunk);
  if (!config_.username.empty() &&
      mosquitto_username_pw_set(client_, config_.username.c_str(),
                                config_.password.empty() ? nullptr : config_.password.c_str()) !=
          MOSQ_ERR_SUCCESS)
    return fail("the MQTT user name cannot be set");
  if (config_.tls) {
    const char* ca = config_.caFile.empty() ? nullptr : config_.caFile.c_str();
    // Without a CA file the system's certificates decide.
    const char* caPath = ca ? nullptr : "/etc/ssl/certs";
    const int rc = mosquitto_tls_set(
        client_, ca, caPath, config_.certFile.empty() ? nullptr : config_.certFile.c_str(),
        config_.keyFile.empty() ? nullptr : config_.keyFile.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
      return fail(std::string("the TLS files cannot be used: ") + mosquitto_strerror(rc));
  }
  const std::string offline = "offline";
  if (mosquitto_will_set(client_, statusTopic_.c_str(), static_cast<int>(offline.size()),
                         offline.data(), 1, true) != MOSQ_ERR_SUCCESS)
    return fail("the last will cannot be set on " + statusTopic_);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) return fail("the MQTT thread cannot be woken (no eventfd)");
  // A broker that is down now is retried by the network thread.
  mosquitto_connect_async(client_, config_.host.c_str(), config_.port, config_.keepAliveS);
  stopping_.store(false);
  net_ = std::thread(&MqttPublisher::netLoop, this);
  return true;
}

void MqttPublisher::wakeNet() {
  if (wakePending_.exchange(true)) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

int MqttPublisher::reconnectDelayMs() {
  // 1 s, 4 s, 9 s, ... at most 30 s, as the library's own loop backs off.
  const int s = std::min(30, (attempts_ + 1) * (attempts_ + 1));
  if (s < 30) ++attempts_;
  return s * 1000;
}

void MqttPublisher::netLoop() {
  pthread_setname_np(pthread_self(), "zrqd mqtt");
  std::int64_t nextAttempt = 0;  // no socket: when to try again
  std::int64_t lastMisc = core::steadyNowMs();
  std::int64_t deadline = 0;   // stopping: the last moment to send what is queued
  std::int64_t holdUntil = 0;  // a batch is waiting to be written then
  std::int64_t lastFlush = 0;
  for (;;) {
    const bool stopping = stopping_.load();
    if (stopping && deadline == 0) deadline = core::steadyNowMs() + 2000;
    if (reconnected_.exchange(false)) attempts_ = 0;
    const int sock = mosquitto_socket(client_);
    if (sock < 0) {
      if (stopping) return;
      const std::int64_t now = core::steadyNowMs();
      if (nextAttempt == 0) nextAttempt = now + reconnectDelayMs();
      if (now < nextAttempt) {
        pollfd wake{wakeFd_, POLLIN, 0};
        ::poll(&wake, 1, static_cast<int>(nextAttempt - now));
        std::uint64_t n;
        if (wake.revents & POLLIN && ::read(wakeFd_, &n, sizeof n) > 0) wakePending_.store(false);
        continue;
      }
      nextAttempt = 0;
      mosquitto_reconnect_async(client_);
      continue;
    }
    if (stopping && (!mosquitto_want_write(client_) || core::steadyNowMs() > deadline)) return;
    // Woken by a publish, the batch waits until kBatchMs after the last one:
    // the messages of many readings, of every sensor, leave together.
    const std::int64_t now = core::steadyNowMs();
    const bool holding = holdUntil != 0 && now < holdUntil && !stopping;
    const bool writeWanted = !holding && mosquitto_want_write(client_);
    pollfd fds[2] = {{sock, static_cast<short>(POLLIN | (writeWanted ? POLLOUT : 0)), 0},
                     {wakeFd_, POLLIN, 0}};
    const int timeout = holding ? static_cast<int>(holdUntil - now) : stopping ? 100 : 1000;
    ::poll(fds, 2, timeout);
    if (fds[1].revents & POLLIN) {
      std::uint64_t n;
      if (::read(wakeFd_, &n, sizeof n) > 0 && holdUntil == 0)
        holdUntil = std::max(core::steadyNowMs(), lastFlush + kBatchMs);
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) rc = mosquitto_loop_read(client_, 1);
    const bool batchDue = holdUntil != 0 && (core::steadyNowMs() >= holdUntil || stopping);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(client_) == sock &&
        (batchDue || (fds[0].revents & POLLOUT) ||
         (holdUntil == 0 && mosquitto_want_write(client_)))) {
      if (batchDue) {
        // From here a publish wakes this thread again; what came before goes now.
        holdUntil = 0;
        lastFlush = core::steadyNowMs();
        wakePending_.store(false);
      }
      cork(sock, 1);
      rc = mosquitto_loop_write(client_, 1);
      if (mosquitto_socket(client_) == sock) cork(sock, 0);
    }
    if (rc == MOSQ_ERR_SUCCESS && core::steadyNowMs() - lastMisc >= 1000) {
      lastMisc = core::steadyNowMs();
      mosquitto_loop_misc(client_);
    }
  }
}

void MqttPublisher::stop() {
  if (!client_) return;
  if (connected_.load()) {
    const std::string offline = "offline";
    int mid = 0;
    mosquitto_publish(client_, &mid, statusTopic_.c_str(), static_cast<int>(offline.size()),
                      offline.data(), 1, true);
  }
  mosquitto_disconnect(client_);
  // The network thread sends what is queued (at most 2 s) and ends.
  stopping_.store(true);
  if (net_.joinable()) {
    wakeNet();
    net_.join();
  }
  mosquitto_destroy(client_);
  client_ = nullptr;
  if (wakeFd_ >= 0) ::close(wakeFd_);
  wakeFd_ = -1;
  connected_.store(false);
}

bool MqttPublisher::publish(const std::string& topic, const std::string& payload, bool retain) {
  if (!client_ || !connected_.load()) {
    dropped_.fetch_add(1);
    return false;
  }
  const int rc = mosquitto_publish(client_, nullptr, topic.c_str(),
                                   static_cast<int>(payload.size()), payload.data(), 0, retain);
  if (rc != MOSQ_ERR_SUCCESS) {
    dropped_.fetch_add(1);
    return false;
  }
  wakeNet();
  return true;
}

void MqttPublisher::publishReliable(const std::string& topic, const std::string& payload) {
  std::lock_guard<std::mutex> lock(queueMutex_);
  if (client_ && connected_.load() && queue_.empty() &&
      mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), 1, false) == MOSQ_ERR_SUCCESS) {
    wakeNet();
    return;
  }
  if (queue_.size() >= static_cast<std::size_t>(config_.queueLimit)) {
    // The oldest goes: the latest state of an alarm matters most.
    queue_.pop_front();
    dropped_.fetch_add(1);
  }
  queue_.emplace_back(topic, payload);
}

void MqttPublisher::onConnectThunk(mosquitto*, void* self, int rc) {
  auto* me = static_cast<MqttPublisher*>(self);
  if (rc == 0) {
    me->refused_.store(0);
    me->reconnected_.store(true);
    return me->connectedNow();
  }
  // Said once, not at every retry: a wrong password stays wrong.
  if (me->refused_.exchange(rc) != rc)
    std::fprintf(stderr, "zrqd: the broker %s:%d refused the connection: %s\n",
                 me->config_.host.c_str(), me->config_.port, mosquitto_connack_string(rc));
}

void MqttPublisher::onLogThunk(mosquitto*, void* self, int level, const char* text) {
  if (level != MOSQ_LOG_ERR || !text) return;
  auto* me = static_cast<MqttPublisher*>(self);
  // A TLS failure repeats with every retry: the first of a run is enough.
  std::lock_guard<std::mutex> lock(me->errorMutex_);
  if (me->lastError_ == text) return;
  me->lastError_ = text;
  std::fprintf(stderr, "zrqd: MQTT: %s\n", text);
}

std::string MqttPublisher::refusal() const {
  const int rc = refused_.load();
  return rc ? mosquitto_connack_string(rc) : std::string();
}

void MqttPublisher::onDisconnectThunk(mosquitto*, void* self, int) {
  static_cast<MqttPublisher*>(self)->connected_.store(false);
}

void MqttPublisher::onMessageThunk(mosquitto*, void* self, const mosquitto_message* m) {
  auto* me = static_cast<MqttPublisher*>(self);
  if (!m || m->retain || !m->topic || !me->onCommand_) return;
  const std::string payload = m->payload && m->payloadlen > 0
                                  ? std::string(static_cast<const char*>(m->payload),
                                                static_cast<std::size_t>(m->payloadlen))
                                  : std::string();
  me->onCommand_(m->topic, payload);
}

void MqttPublisher::connectedNow() {
  const std::string online = "online";
  mosquitto_publish(client_, nullptr, statusTopic_.c_str(), static_cast<int>(online.size()),
                    online.data(), 1, true);
  if (!commandFilter_.empty()) mosquitto_subscribe(client_, nullptr, commandFilter_.c_str(), 1);
  if (onConnect_) onConnect_();
  std::lock_guard<std::mutex> lock(queueMutex_);
  while (!queue_.empty()) {
    const auto& [topic, payload] = queue_.front();
    if (mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, false) != MOSQ_ERR_SUCCESS)
      break;
    queue_.pop_front();
  }
  connected_.store(true);
  connections_.fetch_add(1);
}

}  // namespace zrq::service
