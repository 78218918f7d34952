// The host connection as a HostPort.
#include "plugin/host_port.h"

#include <utility>

#include "host/pnx_connection_manager.h"

void ConnectionPort::SetImage(const std::string& image, const std::string& context) {
  if (m_connection) m_connection->SetImage(image, context);
}

void ConnectionPort::SetSettings(const nlohmann::json& settings, const std::string& context) {
  if (m_connection) m_connection->SetSettings(settings, context);
}

void ConnectionPort::SendToPropertyInspector(const std::string& action, const std::string& context,
                                             const nlohmann::json& payload) {
  if (m_connection) m_connection->SendToPropertyInspector(action, context, payload);
}

void ConnectionPort::StartRepeatingTimer(std::chrono::milliseconds period, std::function<void()> tick) {
  if (m_connection) m_connection->StartRepeatingTimer(period, std::move(tick));
}

void ConnectionPort::StopRepeatingTimer() {
  if (m_connection) m_connection->StopRepeatingTimer();
}

size_t ConnectionPort::UnsentBytes() const { return m_connection ? m_connection->UnsentBytes() : 0; }
