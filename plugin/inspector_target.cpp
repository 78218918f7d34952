// Hand-over of the preview image target between the event loop and the streaming thread.
#include "plugin/inspector_target.h"

#include <stdexcept>

#include "plugin/image_data_message.h"

InspectorTarget::InspectorTarget() : m_prefix(ImageMessagePrefix("", "")), m_valid(true) {}

void InspectorTarget::Set(const std::string& action, const std::string& context) {
  std::string prefix;
  bool valid = true;
  try {
    prefix = ImageMessagePrefix(action, context);
  } catch (const std::exception&) {
    // Invalid UTF-8 from the host: the image commands for this target could never be serialised.
    valid = false;
  }
  std::lock_guard<std::mutex> hold(m_lock);
  m_prefix.swap(prefix);
  m_valid = valid;
}

bool InspectorTarget::CopyMessagePrefix(std::string& prefix) const {
  std::lock_guard<std::mutex> hold(m_lock);
  if (!m_valid) return false;
  prefix.assign(m_prefix);
  return true;
}
