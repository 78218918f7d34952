// The host connection: one websocketpp client on the loopback address, its handlers and the send operations.
#include "host/pnx_connection_manager.h"

#include <atomic>
#include <functional>
#include <mutex>

#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

#include "host/host_protocol.h"
#include "host/pnx_base_plugin.h"
#include "host/websocket_client_frame.h"

using Client = websocketpp::client<websocketpp::config::asio_client>;
using Message = Client::message_ptr::element_type;

struct PnxConnectionManager::Transport {
  // Written once in Run before the connection starts; only read afterwards, from any thread.
  websocketpp::connection_hdl connectionHandle;
  Client client;
  // Ends the event loop when the connection has not opened in time; cancelled on open. Event loop only.
  Client::timer_ptr openDeadline;
  // The frames' masking keys, from the same kind of source the library itself uses (it locks for each key).
  websocketpp::config::asio_client::rng_type maskKeys;

  // Bytes of every message the library still holds, queued or in the batch being written. The library's own
  // count forgets a message as soon as it joins a batch, and a batch takes all that is queued: a host that
  // stops reading would hold that batch and a full queue behind it. Shared with the messages' release, which
  // may come after the transport is gone (with the last connection handler).
  std::shared_ptr<std::atomic<size_t>> unsentBytes = std::make_shared<std::atomic<size_t>>(0);

  // The message as the library gets it: counted in unsentBytes until the library's last copy is released.
  Client::message_ptr Counted(Client::message_ptr message) const;

  // Post hands tasks to the client's loop only while this is true.
  std::mutex postLock;
  bool loopRunning = false;

  // The repeating timer; event-loop thread only. generation tells a wait that was overtaken by a stop or a
  // restart (its handler may already be queued with success) from the current one.
  std::unique_ptr<websocketpp::lib::asio::steady_timer> timer;
  std::function<void()> tick;
  std::chrono::milliseconds period{0};
  uint64_t generation = 0;
  bool timersAllowed = false;  // between init_asio and the end of the connection

  void ArmTimer();
  void StopTimer();

  static void OnOpen(PnxConnectionManager* manager, Client* client, websocketpp::connection_hdl hdl);
  static void OnFail(PnxConnectionManager* manager, Client* client, websocketpp::connection_hdl hdl);
  static void OnClose(PnxConnectionManager* manager, Client* client, websocketpp::connection_hdl hdl);
  static void OnMessage(PnxConnectionManager* manager, websocketpp::connection_hdl hdl,
                        Client::message_ptr message);
  static void OnOpenDeadline(Client* client, const websocketpp::lib::error_code& ec);
};

namespace {

// Later than the library's own limits for name resolution, TCP connect and opening handshake together
// (5 s each): it only ends a loop that the library's failure did not end.
constexpr long kOpenDeadlineMs = 20000;

}  // namespace

void PnxConnectionManager::Transport::OnOpen(PnxConnectionManager* manager, Client* client,
                                             websocketpp::connection_hdl hdl) {
  if (manager->transport->openDeadline) manager->transport->openDeadline->cancel();
  std::string registration;
  try {
    registration = BuildRegistrationMessage(manager->registerEvent, manager->pluginUUID);
  } catch (const nlohmann::json::exception&) {
    // An identifier from the command line that is not valid UTF-8 cannot be written as JSON. Without a
    // registration the host cannot use this process, so end the connection; Run then returns normally.
    websocketpp::lib::error_code ec;
    client->close(hdl, websocketpp::close::status::internal_endpoint_error, "", ec);
    return;
  }
  manager->SendText(registration);
}

// Neither a failed connect nor a close is retried, and the process must not outlive its host: the event loop
// ends here rather than when it runs out of work. (Under Windows a socket the library shuts after a handshake
// time-out can keep its read pending while the host holds the connection, and with it the loop.) No timer is
// started after this.
void PnxConnectionManager::Transport::OnFail(PnxConnectionManager* manager, Client* client,
                                             websocketpp::connection_hdl) {
  manager->transport->StopTimer();
  manager->transport->timersAllowed = false;
  client->stop();
}
void PnxConnectionManager::Transport::OnClose(PnxConnectionManager* manager, Client* client,
                                              websocketpp::connection_hdl) {
  manager->transport->StopTimer();
  manager->transport->timersAllowed = false;
  client->stop();
}

void PnxConnectionManager::Transport::OnOpenDeadline(Client* client, const websocketpp::lib::error_code& ec) {
  if (ec) return;  // cancelled: the connection opened
  client->stop();
}

void PnxConnectionManager::Transport::ArmTimer() {
  const uint64_t armed = generation;
  // The next expiry counts from the previous one, so the ticks do not drift by the time each one takes. When
  // the loop was held up for longer than a period it counts from now: the missed ticks are not made up for
  // in a burst.
  using TimerClock = websocketpp::lib::asio::steady_timer::clock_type;
  const TimerClock::time_point now = TimerClock::now();
  const TimerClock::time_point next = timer->expiry() + period;
  timer->expires_at(next > now ? next : now + period);
  timer->async_wait([this, armed](const websocketpp::lib::asio::error_code& ec) {
    if (ec || armed != generation) return;
    try {
      tick();
    } catch (const std::exception&) {
      // As with a host event: a failure ends this tick only.
    }
    if (armed == generation) ArmTimer();
  });
}

void PnxConnectionManager::Transport::StopTimer() {
  ++generation;
  tick = nullptr;
  if (timer) timer->cancel();
}

void PnxConnectionManager::Transport::OnMessage(PnxConnectionManager* manager, websocketpp::connection_hdl,
                                                Client::message_ptr message) {
  if (!message || message->get_opcode() != websocketpp::frame::opcode::text) return;
  if (!manager->plugin) return;
  DispatchHostMessage(message->get_payload(), *manager->plugin);
}

Client::message_ptr PnxConnectionManager::Transport::Counted(Client::message_ptr message) const {
  const size_t bytes = message->get_header().size() + message->get_payload().size();
  std::shared_ptr<std::atomic<size_t>> counter = unsentBytes;
  *counter += bytes;
  Message* raw = message.get();
  // The deleter owns the library's original message; a failure to make the new owner releases it at once.
  return Client::message_ptr(raw, [owner = std::move(message), counter, bytes](Message*) mutable {
    owner.reset();
    *counter -= bytes;
  });
}

PnxConnectionManager::PnxConnectionManager(int32_t port, const std::string& pluginUUID,
                                           const std::string& registerEvent, PnxBasePlugin* plugin)
    : port(port),
      pluginUUID(pluginUUID),
      registerEvent(registerEvent),
      transport(std::make_unique<Transport>()),
      plugin(plugin) {}

PnxConnectionManager::~PnxConnectionManager() = default;

void PnxConnectionManager::Run() {
  using std::placeholders::_1;
  using std::placeholders::_2;
  Client& client = transport->client;
  try {
    client.clear_access_channels(websocketpp::log::alevel::all);
    client.clear_error_channels(websocketpp::log::elevel::all);
    client.init_asio();
    transport->timersAllowed = true;
    // Handlers first: the connection copies them when it is created.
    client.set_open_handler(std::bind(&Transport::OnOpen, this, &client, _1));
    client.set_fail_handler(std::bind(&Transport::OnFail, this, &client, _1));
    client.set_close_handler(std::bind(&Transport::OnClose, this, &client, _1));
    client.set_message_handler(std::bind(&Transport::OnMessage, this, _1, _2));

    const std::string uri = "ws://127.0.0.1:" + std::to_string(port);
    websocketpp::lib::error_code ec;
    Client::connection_ptr connection = client.get_connection(uri, ec);
    if (ec) return;  // e.g. a port outside 1..65535: nothing is attempted
    transport->connectionHandle = connection->get_handle();
    client.connect(connection);
    transport->openDeadline = client.set_timer(kOpenDeadlineMs, std::bind(&Transport::OnOpenDeadline, &client, _1));
    {
      std::lock_guard<std::mutex> hold(transport->postLock);
      transport->loopRunning = true;
    }
    client.run();
  } catch (const websocketpp::exception&) {
  } catch (const std::exception&) {
    // Anything else escaping the event loop also ends the connection quietly; the process exits normally.
  }
  transport->timersAllowed = false;
  std::lock_guard<std::mutex> hold(transport->postLock);
  transport->loopRunning = false;
}

bool PnxConnectionManager::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> hold(transport->postLock);
  if (!transport->loopRunning || !task) return false;
  transport->client.get_io_service().post(std::move(task));
  return true;
}

void PnxConnectionManager::StartRepeatingTimer(std::chrono::milliseconds period, std::function<void()> tick) {
  Transport& t = *transport;
  if (!t.timersAllowed || !tick || period.count() <= 0) return;
  t.StopTimer();
  if (!t.timer) t.timer = std::make_unique<websocketpp::lib::asio::steady_timer>(t.client.get_io_service());
  t.tick = std::move(tick);
  t.period = period;
  t.timer->expires_at(websocketpp::lib::asio::steady_timer::clock_type::now());
  t.ArmTimer();
}

void PnxConnectionManager::StopRepeatingTimer() { transport->StopTimer(); }

// The frame is built here (see websocket_client_frame.h) and queued as prepared, which the library writes as it is.
void PnxConnectionManager::SendText(const std::string& text) {
  websocketpp::lib::error_code ec;
  Client::connection_ptr connection = transport->client.get_con_from_hdl(transport->connectionHandle, ec);
  if (ec) return;  // not started, or already gone
  Client::message_ptr message = connection->get_message(websocketpp::frame::opcode::text, 0);
  std::string header;
  if (!message || !PrepareMaskedTextFrame(text, transport->maskKeys(), header, message->get_raw_payload())) return;
  message->set_header(header);
  message->set_prepared(true);
  Client::message_ptr counted = transport->Counted(std::move(message));
  // The library ends a connection on the loop's thread without taking the lock its send takes, so a send
  // from another thread (the preview's streaming thread) goes through the loop; after the loop it is dropped.
  if (!transport->client.get_io_service().get_executor().running_in_this_thread()) {
    Post([connection, counted] { connection->send(counted); });
    return;
  }
  // Not open (yet, or any more): the library refuses it and nothing is sent.
  connection->send(counted);
}

size_t PnxConnectionManager::UnsentBytes() { return *transport->unsentBytes; }

void PnxConnectionManager::SetImage(const std::string& image, const std::string& context) {
  SendText(BuildSetImageMessage(image, context));
}

void PnxConnectionManager::SetSettings(const nlohmann::json& settings, const std::string& context) {
  SendText(BuildSetSettingsMessage(settings, context));
}

void PnxConnectionManager::SendToPropertyInspector(const std::string& action, const std::string& context,
                                                   const nlohmann::json& payload) {
  SendText(BuildSendToPropertyInspectorMessage(action, context, payload));
}

void PnxConnectionManager::SendToPropertyInspectorText(const std::string& action, const std::string& context,
                                                       const std::string& payloadText) {
  SendText(BuildSendToPropertyInspectorMessageFromText(action, context, payloadText));
}
