// The plug-in's one WebSocket connection to the host. Run and every handler run on the thread that calls Run
// (the main thread); the send operations and UnsentBytes may be called from any thread: a send from another
// thread is handed to the event loop, which writes each thread's sends in the order they were made.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

class PnxBasePlugin;

class PnxConnectionManager {
 public:
  // Stores the values; plugin is not owned and receives every dispatched event. Nothing connects yet.
  PnxConnectionManager(int32_t port, const std::string& pluginUUID, const std::string& registerEvent,
                       PnxBasePlugin* plugin);
  ~PnxConnectionManager();
  PnxConnectionManager(const PnxConnectionManager&) = delete;
  PnxConnectionManager& operator=(const PnxConnectionManager&) = delete;

  // Connects to ws://127.0.0.1:<port>, registers as soon as the connection opens and runs the event loop on
  // the calling thread until the connection has ended (closed by the host, failed, or never possible).
  // Never throws. Call once.
  void Run();

  // Runs task on the event-loop thread, after what is queued there already. Any thread may call it; while
  // the loop is not running (before Run, after it returned) the task is dropped and the answer is false.
  bool Post(std::function<void()> task);

  // Fire-and-forget commands to the host. Before the connection is open and after it has ended they are
  // dropped silently. Throws the JSON library's type_error when a string is not valid UTF-8.
  void SetImage(const std::string& image, const std::string& context);
  void SetSettings(const nlohmann::json& settings, const std::string& context);
  void SendToPropertyInspector(const std::string& action, const std::string& context,
                               const nlohmann::json& payload);
  // As SendToPropertyInspector, with the payload already serialised as compact JSON text.
  void SendToPropertyInspectorText(const std::string& action, const std::string& context,
                                   const std::string& payloadText);

  // A repeating timer on the event loop: tick runs on the event-loop thread once every period until
  // StopRepeatingTimer, or until the connection has ended. A loop held up for longer than a period (a slow
  // tick or handler) runs tick once when it is free again, and the next one a period later.
  // Starting it again replaces the tick and the period. Event-loop thread only; before the connection
  // runs and after it has ended these do nothing. An exception from tick is discarded like a handler's.
  void StartRepeatingTimer(std::chrono::milliseconds period, std::function<void()> tick);
  void StopRepeatingTimer();

  // Bytes of messages for the host that are not yet written to the socket: those queued and the batch being
  // written. A host that stops reading makes it grow. Any thread; kept as messages are queued and written,
  // so the value is current.
  size_t UnsentBytes();

 private:
  struct Transport;  // the WebSocket client and the connection handle

  void SendText(const std::string& text);

  int32_t port;
  std::string pluginUUID;
  std::string registerEvent;
  std::unique_ptr<Transport> transport;
  PnxBasePlugin* plugin;
};
