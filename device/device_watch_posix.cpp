// The device watch over the emulated device's control file: a thread that sleeps in poll() on an inotify
// descriptor for the file's folder and on a pipe that ends it, and hands each change to the settler.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "device/burst_settler.h"
#include "device/device_watch.h"
#include "platform/emulator/emulator.h"

struct DeviceWatch::Impl {
  explicit Impl(std::function<void()> changed) : settler(kSettleTime, std::move(changed)) {}

  int notify = -1;
  int wake[2] = {-1, -1};
  std::string fileName;
  // A rewrite of the file is several events (create, write, rename), as a device's inputs are on Windows.
  BurstSettler settler;
  std::thread thread;

  ~Impl() {
    for (int fd : {notify, wake[0], wake[1]}) {
      if (fd >= 0) close(fd);
    }
  }

  void Loop() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      pollfd fds[2] = {{notify, POLLIN, 0}, {wake[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents != 0) return;
      // A watch that broke cannot recover; ending it beats spinning on its error.
      if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) return;
      const ssize_t length = read(notify, buffer, sizeof buffer);
      if (length <= 0) continue;
      bool ours = false;
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && fileName == event->name) ours = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
      if (ours) settler.Notify();
    }
  }
};

DeviceWatch::DeviceWatch() = default;
DeviceWatch::~DeviceWatch() { Stop(); }

bool DeviceWatch::Start(std::function<void()> changed) {
  if (m_impl) return true;
  const std::string path = emulator::ControlFilePath();
  if (path.empty()) return false;
  auto impl = std::make_unique<Impl>(std::move(changed));
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  impl->fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  impl->notify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (impl->notify < 0 || pipe2(impl->wake, O_CLOEXEC) != 0) return false;
  if (inotify_add_watch(impl->notify, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE) < 0) {
    return false;
  }
  Impl* raw = impl.get();
  impl->thread = std::thread([raw] { raw->Loop(); });
  m_impl = std::move(impl);
  return true;
}

void DeviceWatch::Stop() {
  if (!m_impl) return;
  const char byte = 0;
  if (write(m_impl->wake[1], &byte, 1) < 0) {
    // The pipe is ours and empty; a failed write leaves nothing to do but wait.
  }
  if (m_impl->thread.joinable()) m_impl->thread.join();
  m_impl->settler.Stop();
  m_impl.reset();
}
