// What the plug-in's owners send to the host: key images, settings, inspector messages, and the one repeating
// timer. ConnectionPort serves it over the host connection; the tests give a recording fake. Event-loop thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

class PnxConnectionManager;

class HostPort {
 public:
  virtual ~HostPort() = default;
  virtual void SetImage(const std::string& image, const std::string& context) = 0;
  virtual void SetSettings(const nlohmann::json& settings, const std::string& context) = 0;
  virtual void SendToPropertyInspector(const std::string& action, const std::string& context,
                                       const nlohmann::json& payload) = 0;
  // tick runs on the event loop once a period until StopRepeatingTimer; starting it again replaces it.
  virtual void StartRepeatingTimer(std::chrono::milliseconds period, std::function<void()> tick) = 0;
  virtual void StopRepeatingTimer() = 0;
  // Bytes sent but not yet taken by the host (queued or being written), for back-pressure.
  virtual size_t UnsentBytes() const { return 0; }
};

// The host connection as a HostPort. It reads the connection through `connection`, which the plug-in's base
// sets after construction; while that is null every call does nothing.
class ConnectionPort : public HostPort {
 public:
  explicit ConnectionPort(PnxConnectionManager* const& connection) : m_connection(connection) {}
  void SetImage(const std::string& image, const std::string& context) override;
  void SetSettings(const nlohmann::json& settings, const std::string& context) override;
  void SendToPropertyInspector(const std::string& action, const std::string& context,
                               const nlohmann::json& payload) override;
  void StartRepeatingTimer(std::chrono::milliseconds period, std::function<void()> tick) override;
  void StopRepeatingTimer() override;
  size_t UnsentBytes() const override;

 private:
  PnxConnectionManager* const& m_connection;
};
