// Where preview images go: the key instance the property inspector is attached to.
// Threads: Set runs on the event-loop thread, CopyMessagePrefix on the preview's streaming thread; one mutex
// guards the published prefix, held only to copy it.
#pragma once

#include <mutex>
#include <string>

class InspectorTarget {
 public:
  // Starts with the empty action and context.
  InspectorTarget();

  // Publishes a new target. A target whose strings cannot be serialised (not valid UTF-8) gets no images,
  // as the library would refuse every message for it.
  void Set(const std::string& action, const std::string& context);

  // Copies the text that starts every image command for the current target into prefix. False when images
  // for the current target cannot be sent.
  bool CopyMessagePrefix(std::string& prefix) const;

 private:
  mutable std::mutex m_lock;
  std::string m_prefix;
  bool m_valid = false;
};
