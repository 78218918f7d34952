// The connection manager in this process against a test host on a loopback port.
#include "host/pnx_connection_manager.h"

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_protocol.h"
#include "tests/host/raw_host.h"
#include "tests/host/recording_plugin.h"
#include "tools/devhost/dev_host_server.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const char kRegistration[] = R"({"event":"registerPlugin","uuid":"U-1"})";

// Runs a manager's Run on a thread of its own, as the entry point runs it on the main thread. The future
// joins that thread before the manager goes.
struct RunningManager {
  RunningManager(int32_t port, RecordingPlugin& plugin) : manager(port, "U-1", "registerPlugin", &plugin) {
    plugin.SetConnectionManager(&manager);
  }
  void Start() { done = std::async(std::launch::async, [this] { manager.Run(); }); }
  bool WaitForReturn(milliseconds timeout) { return done.wait_for(timeout) == std::future_status::ready; }

  PnxConnectionManager manager;
  std::future<void> done;
};

// Sends before the connection is open and after it has ended are dropped; only the registration goes out.
TEST(PnxConnectionManager, RegistersFirstDispatchesTextEventsAndDropsSendsOutsideTheConnection) {
  DevHostServer host;
  RecordingPlugin plugin;
  RunningManager running(host.Port(), plugin);
  const auto sendAll = [&] {
    running.manager.SetImage("img", "ctx");
    running.manager.SetSettings({{"a", 1}}, "ctx");
    running.manager.SendToPropertyInspector("act", "ctx", {{"a", 1}});
    running.manager.SendToPropertyInspectorText("act", "ctx", "{}");
  };
  sendAll();
  running.Start();

  DevHostServer::Message message;
  ASSERT_TRUE(host.NextMessage(message, seconds(10)));
  EXPECT_EQ(message.text, kRegistration);
  EXPECT_FALSE(message.binary);

  ASSERT_TRUE(host.SendText(R"({"event":"keyDown","context":"c1","payload":{"a":1}})"));
  ASSERT_TRUE(host.SendBinary(R"({"event":"keyDown","context":"binary"})"));
  ASSERT_TRUE(host.SendText(R"({"event":"keyUp","context":"c2"})"));
  ASSERT_TRUE(plugin.WaitForCalls(2));
  EXPECT_EQ(plugin.Calls(), (std::vector<std::string>{"OnKeyDown||c1|{\"a\":1}|", "OnKeyUp||c2|null|"}));
  EXPECT_TRUE(host.IsConnected());

  host.Close();
  ASSERT_TRUE(running.WaitForReturn(seconds(10)));
  sendAll();
  // Run has returned and the connection is gone: nothing sent now can still be on its way.
  EXPECT_FALSE(host.NextMessage(message, milliseconds(0)));
  EXPECT_EQ(host.ReceivedCount(), 1u);
}

TEST(PnxConnectionManager, SendsFromAnotherThreadWhileEventsArrive) {
  constexpr int kEach = 200;
  DevHostServer host;
  RecordingPlugin plugin;
  std::thread sender;
  std::promise<void> senderStarted;
  std::atomic<bool> stopSending{false};
  // Like the preview path: an event starts a second thread that sends while the loop handles more events,
  // and goes on sending while the host closes the connection.
  plugin.onCall = [&](const std::string& call) {
    if (call.rfind("OnWillAppear", 0) == 0) {
      sender = std::thread([&plugin, &stopSending] {
        for (int i = 0; i < kEach; ++i) {
          plugin.Connection()->SendToPropertyInspector("act", "ctx", {{"n", i}});
        }
        while (!stopSending) plugin.Connection()->SendToPropertyInspector("act", "ctx", {{"tail", true}});
      });
      senderStarted.set_value();
    } else if (call.rfind("OnKeyUp", 0) == 0) {
      plugin.Connection()->SetSettings({{"k", call}}, "ctx");
    }
  };
  RunningManager running(host.Port(), plugin);
  // A failed assertion returns early: the sender is joined all the same, or its destructor would end the run.
  struct JoinSender {
    std::future<void> started;
    std::thread& sender;
    std::atomic<bool>& stop;
    ~JoinSender() {
      stop = true;
      if (started.wait_for(seconds(20)) == std::future_status::ready) sender.join();
    }
  } joinSender{senderStarted.get_future(), sender, stopSending};
  running.Start();
  DevHostServer::Message message;
  ASSERT_TRUE(host.NextMessage(message, seconds(10)));

  ASSERT_TRUE(host.SendText(R"({"event":"willAppear"})"));
  for (int i = 0; i < kEach; ++i) {
    ASSERT_TRUE(host.SendText(R"({"event":"keyUp","context":")" + std::to_string(i) + "\"}"));
  }
  joinSender.started.wait();

  int nextPreview = 0;
  int nextSettings = 0;
  while (nextPreview < kEach || nextSettings < kEach) {
    ASSERT_TRUE(host.NextMessage(message, seconds(20))) << nextPreview << " " << nextSettings;
    const nlohmann::json parsed = nlohmann::json::parse(message.text);
    if (parsed["payload"].contains("tail")) continue;
    if (parsed["event"] == "sendToPropertyInspector") {
      EXPECT_EQ(parsed["payload"]["n"], nextPreview++);
    } else {
      const std::string call = "OnKeyUp||" + std::to_string(nextSettings++) + "|null|";
      EXPECT_EQ(message.text, BuildSetSettingsMessage({{"k", call}}, "ctx"));
    }
  }
  host.Close();
  EXPECT_TRUE(running.WaitForReturn(seconds(10)));
}

// The repeating timer ticks on the event-loop thread, survives a throwing tick, stops when asked, and never
// keeps Run from returning once the host has closed the connection.
TEST(PnxConnectionManager, RepeatingTimerTicksOnTheLoopUntilStoppedOrTheConnectionEnds) {
  DevHostServer host;
  RecordingPlugin plugin;
  RunningManager running(host.Port(), plugin);
  std::atomic<int> ticks{0};
  std::atomic<bool> offLoop{false};
  plugin.onCall = [&](const std::string& call) {
    PnxConnectionManager* connection = plugin.Connection();
    if (call.find("|start|") != std::string::npos) {
      const std::thread::id loop = std::this_thread::get_id();
      connection->StartRepeatingTimer(milliseconds(10), [&, loop] {
        if (std::this_thread::get_id() != loop) offLoop = true;
        if (++ticks == 1) throw std::runtime_error("first tick fails");
      });
    } else if (call.find("|stop|") != std::string::npos) {
      connection->StopRepeatingTimer();
    }
  };
  running.Start();
  DevHostServer::Message message;
  ASSERT_TRUE(host.NextMessage(message, seconds(10)));
  const auto waitForTicks = [&](int count) {
    for (int i = 0; i < 1000 && ticks < count; ++i) std::this_thread::sleep_for(milliseconds(10));
    return ticks >= count;
  };

  ASSERT_TRUE(host.SendText(R"({"event":"keyDown","context":"start"})"));
  EXPECT_TRUE(waitForTicks(3));
  ASSERT_TRUE(host.SendText(R"({"event":"keyDown","context":"stop"})"));
  // A call is recorded before it runs: the next event's call shows that the stop has run on the loop.
  ASSERT_TRUE(host.SendText(R"({"event":"keyDown","context":"after"})"));
  ASSERT_TRUE(plugin.WaitForCalls(3));
  const int stopped = ticks;
  // Ten periods of the timer: no tick can be shown only over its period.
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(ticks, stopped);
  host.Close();
  EXPECT_TRUE(running.WaitForReturn(seconds(10)));
  EXPECT_FALSE(offLoop);
}

// What a host has not read counts until it is written, also once the library has taken it into the batch it
// is writing: a host that stops reading holds all of it. A host that reads leaves nothing counted.
TEST(PnxConnectionManager, UnsentBytesCountTheBatchBeingWrittenUntilItIsWritten) {
  constexpr int kMessages = 48;
  const std::string payload = "\"" + std::string(1 << 20, 'x') + "\"";
  // Sent from one handler, so the library takes all of them into one batch when the handler returns.
  const auto sendAll = [&](RecordingPlugin& plugin) {
    plugin.onCall = [&plugin, &payload](const std::string& call) {
      if (call.find("|burst|") == std::string::npos) return;
      for (int i = 0; i < kMessages; ++i) plugin.Connection()->SendToPropertyInspectorText("a", "P", payload);
    };
  };
  const size_t sent = kMessages * payload.size();
  const std::string burst = R"({"event":"keyDown","context":"burst"})";

  {
    auto host = std::make_unique<RawHost>(RawHost::Mode::kHandshakeThenStall, RawHost::ServerFrame(0x1, burst));
    RecordingPlugin plugin;
    sendAll(plugin);
    RunningManager running(host->Port(), plugin);
    running.Start();
    ASSERT_TRUE(plugin.WaitForCalls(1));
    // The socket takes some megabytes and then nothing more; the rest waits, and all of it counts until
    // written. Read twice, since a value may be one call old.
    for (size_t unread = 0, i = 0; i < 500; ++i) {
      std::this_thread::sleep_for(milliseconds(50));
      const size_t now = host->UnreadBytes();
      if (now > 0 && now == unread) break;
      unread = now;
    }
    size_t unsent = running.manager.UnsentBytes();
    for (int i = 0; i < 1000 && unsent < sent; ++i) {
      std::this_thread::sleep_for(milliseconds(10));
      unsent = running.manager.UnsentBytes();
    }
    EXPECT_GE(unsent, sent) << "unread by the host: " << host->UnreadBytes();
    EXPECT_GT(host->UnreadBytes(), 0u);
    host.reset();
    ASSERT_TRUE(running.WaitForReturn(seconds(20)));
  }
  {
    DevHostServer host;
    RecordingPlugin plugin;
    sendAll(plugin);
    RunningManager running(host.Port(), plugin);
    running.Start();
    DevHostServer::Message message;
    ASSERT_TRUE(host.NextMessage(message, seconds(10)));
    ASSERT_TRUE(host.SendText(burst));
    for (int i = 0; i < kMessages; ++i) ASSERT_TRUE(host.NextMessage(message, seconds(20))) << i;
    size_t unsent = sent;
    for (int i = 0; i < 500 && unsent != 0; ++i) {
      unsent = running.manager.UnsentBytes();
      if (unsent != 0) std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_EQ(unsent, 0u);
    host.Close();
    EXPECT_TRUE(running.WaitForReturn(seconds(10)));
  }
}

// Ports outside the range are covered end to end (plugin_process_test); here a port that was free a moment
// ago, so the connect is refused.
TEST(PnxConnectionManager, RunReturnsWhenNothingListens) {
  const int32_t port = DevHostServer().Port();  // the server is gone at the end of this line
  RecordingPlugin plugin;
  RunningManager running(port, plugin);
  running.Start();
  EXPECT_TRUE(running.WaitForReturn(seconds(10)));
  EXPECT_TRUE(plugin.Calls().empty());
}

}  // namespace
