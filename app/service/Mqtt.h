// The service's one connection to the broker. Publishing never blocks the
// caller: a network thread of its own sends, reconnects with back-off and
// keeps the retained "online" status with an "offline" last will. Readings sent
// while the broker is away are dropped; alarm messages wait (a bounded
// queue) and go out once it is back.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "ServiceConfig.h"

struct mosquitto;
struct mosquitto_message;

namespace zrq::service {

class MqttPublisher {
 public:
  explicit MqttPublisher(MqttConfig config);
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  // Starts connecting in the background; false with the reason when the
  // client cannot even be set up (bad TLS files, say). A broker that is down
  // is no failure: the client keeps trying.
  bool start(std::string* why);
  // "offline" published, then disconnected (the last will is not sent).
  void stop();

  // Thread-safe. QoS 0; false when it could not be handed to the library.
  bool publish(const std::string& topic, const std::string& payload, bool retain = false);
  // Thread-safe. QoS 1, queued while the broker is away.
  void publishReliable(const std::string& topic, const std::string& payload);

  // Called on the library's thread after every (re)connection, before the
  // queued messages go out (discovery messages, say).
  void setOnConnect(std::function<void()> fn) { onConnect_ = std::move(fn); }
  // A topic filter subscribed at every connection (QoS 1), and what receives
  // its messages on the library's thread; retained ones are not passed on, so
  // a command left on the broker does not act again at each reconnection.
  // Both set before start().
  void setCommands(std::string filter,
                   std::function<void(const std::string& topic, const std::string& payload)> fn) {
    commandFilter_ = std::move(filter);
    onCommand_ = std::move(fn);
  }

  bool connected() const { return connected_.load(); }
  // Why the broker refused the last connection ("not authorised"), or empty.
  std::string refusal() const;
  std::int64_t connections() const { return connections_.load(); }
  std::int64_t dropped() const { return dropped_.load(); }
  const std::string& statusTopic() const { return statusTopic_; }

 private:
  static void onConnectThunk(mosquitto*, void* self, int rc);
  static void onDisconnectThunk(mosquitto*, void* self, int rc);
  static void onLogThunk(mosquitto*, void* self, int level, const char* text);
  static void onMessageThunk(mosquitto*, void* self, const struct mosquitto_message* m);
  void connectedNow();
  // The network loop: one thread for every socket read and write, so the
  // messages of a reading go out in one batch.
  void netLoop();
  void wakeNet();
  // Back-off before the next connection attempt, in ms.
  int reconnectDelayMs();

  int wakeFd_ = -1;
  std::atomic<bool> wakePending_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> reconnected_{false};
  int attempts_ = 0;
  std::thread net_;

  MqttConfig config_;
  std::string statusTopic_;
  mosquitto* client_ = nullptr;
  std::function<void()> onConnect_;
  std::string commandFilter_;
  std::function<void(const std::string&, const std::string&)> onCommand_;
  std::atomic<bool> connected_{false};
  std::atomic<int> refused_{0};
  // Its own lock: the library may log from inside a call made under queueMutex_.
  std::mutex errorMutex_;
  std::string lastError_;
  std::atomic<std::int64_t> connections_{0};
  std::atomic<std::int64_t> dropped_{0};
  std::mutex queueMutex_;
  std::deque<std::pair<std::string, std::string>> queue_;
};

}  // namespace zrq::service
