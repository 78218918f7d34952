// EnumPins: walks a FilterBase's pins.
#include "platform/filters/enum_pins.h"

#include <algorithm>

#include "platform/filters/filter_base.h"
#include "platform/filters/pin_base.h"

EnumPins::EnumPins(FilterBase* filter) : Enumerator(IID_IEnumPins), m_filter(filter) { StartOver(); }

bool EnumPins::InSync() { return m_version == m_filter->GetPinVersion(); }

bool EnumPins::StartOver() {
  m_version = m_filter->GetPinVersion();
  const int count = m_filter->GetPinCount();
  m_pinCount = count > 0 ? static_cast<size_t>(count) : 0;
  m_position = 0;
  return true;
}

void EnumPins::Restart() {
  StartOver();
  m_seen.clear();
}

HRESULT EnumPins::Make(size_t index, IPin** slot) {
  PinBase* pin = m_filter->GetPin(static_cast<int>(index));
  if (!pin) return S_FALSE;
  IPin* ipin = static_cast<IPin*>(pin);
  if (std::find(m_seen.begin(), m_seen.end(), ipin) != m_seen.end()) return S_FALSE;
  m_seen.push_back(ipin);
  return pnx::HandOut(ipin, reinterpret_cast<void**>(slot));
}
