// A plug-in for tests that records each call as one line "Operation|arg|arg...", payloads as compact JSON.
// Calls come from the event-loop thread; the test thread reads and waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host/pnx_base_plugin.h"

class RecordingPlugin : public PnxBasePlugin {
 public:
  // Runs inside each call after it is recorded (on the event-loop thread); may throw.
  std::function<void(const std::string& call)> onCall;

  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }
  bool WaitForCalls(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_calls.size() >= count; });
  }
  PnxConnectionManager* Connection() const { return connectionManager; }

// The eight operations with action, context, payload and device all record the same way.
#define PNX_RECORD_ACTION_EVENT(Name)                                                                       \
  void Name(const std::string& a, const std::string& c, const nlohmann::json& p, const std::string& d) override { \
    Record(#Name "|" + a + "|" + c + "|" + p.dump() + "|" + d);                                             \
  }
  PNX_RECORD_ACTION_EVENT(OnKeyDown)
  PNX_RECORD_ACTION_EVENT(OnKeyUp)
  PNX_RECORD_ACTION_EVENT(OnWillAppear)
  PNX_RECORD_ACTION_EVENT(OnWillDisappear)
  PNX_RECORD_ACTION_EVENT(OnSendToPlugin)
  PNX_RECORD_ACTION_EVENT(OnDidReceiveSettings)
#undef PNX_RECORD_ACTION_EVENT
  void OnDeviceDidConnect(const std::string& d, const nlohmann::json& info) override {
    Record("OnDeviceDidConnect|" + d + "|" + info.dump());
  }
  void OnDeviceDidDisconnect(const std::string& d) override { Record("OnDeviceDidDisconnect|" + d); }
  void OnApplicationDidLaunch(const nlohmann::json& p) override { Record("OnApplicationDidLaunch|" + p.dump()); }
  void OnApplicationDidTerminate(const nlohmann::json& p) override { Record("OnApplicationDidTerminate|" + p.dump()); }
  void OnPropertyInspectorDidAppear(const std::string& a, const std::string& c, const std::string& d) override {
    Record("OnPropertyInspectorDidAppear|" + a + "|" + c + "|" + d);
  }
  void OnPropertyInspectorDidDisappear(const std::string& a, const std::string& c, const std::string& d) override {
    Record("OnPropertyInspectorDidDisappear|" + a + "|" + c + "|" + d);
  }

 private:
  void Record(const std::string& call) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_calls.push_back(call);
      m_changed.notify_all();
    }
    if (onCall) onCall(call);
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_calls;
};
