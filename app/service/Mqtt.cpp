#include "Mqtt.h"

#include <mosquitto.h>

#include <cstdio>

namespace zrq::service {

namespace {
std::once_flag libraryInit;
}

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
  mosquitto_connect_callback_set(client_, &MqttPublisher::onConnectThunk);
  mosquitto_disconnect_callback_set(client_, &MqttPublisher::onDisconnectThunk);
  mosquitto_message_callback_set(client_, &MqttPublisher::onMessageThunk);
  mosquitto_log_callback_set(client_, &MqttPublisher::onLogThunk);
  mosquitto_reconnect_delay_set(client_, 1, 30, true);
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
  // A broker that is down now is retried by the library's thread.
  mosquitto_connect_async(client_, config_.host.c_str(), config_.port, config_.keepAliveS);
  const int rc = mosquitto_loop_start(client_);
  if (rc != MOSQ_ERR_SUCCESS)
    return fail(std::string("the MQTT thread cannot start: ") + mosquitto_strerror(rc));
  loopRunning_ = true;
  return true;
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
  if (loopRunning_) mosquitto_loop_stop(client_, false);
  loopRunning_ = false;
  mosquitto_destroy(client_);
  client_ = nullptr;
  connected_.store(false);
}

bool MqttPublisher::publish(const std::string& topic, const std::string& payload, bool retain) {
  if (!client_ || !connected_.load()) {
    dropped_.fetch_add(1);
    return false;
  }
  const int rc = mosquitto_publish(client_, nullptr, topic.c_str(),
                                   static_cast<int>(payload.size()), payload.data(), 0, retain);
  if (rc != MOSQ_ERR_SUCCESS) dropped_.fetch_add(1);
  return rc == MOSQ_ERR_SUCCESS;
}

void MqttPublisher::publishReliable(const std::string& topic, const std::string& payload) {
  std::lock_guard<std::mutex> lock(queueMutex_);
  if (client_ && connected_.load() && queue_.empty() &&
      mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), 1, false) == MOSQ_ERR_SUCCESS)
    return;
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
