// EnumPins: the IEnumPins handed out by FilterBase::EnumPins. Used by one thread at a time, like every COM
// enumerator; it holds a counted reference to its filter.
#pragma once

#include <vector>

#include "platform/com_enumerator.h"
#include "platform/com_ptr.h"

class FilterBase;

// After the filter's pins have changed, Next starts over but hands out no pin twice; Skip and Clone answer
// VFW_E_ENUM_OUT_OF_SYNC until Reset.
class EnumPins final : public pnx::Enumerator<EnumPins, IEnumPins, IPin> {
 public:
  explicit EnumPins(FilterBase* filter);

 private:
  size_t Count() override { return m_pinCount; }
  HRESULT Make(size_t index, IPin** slot) override;
  bool InSync() override;
  bool StartOver() override;
  void Restart() override;

  const ComPtr<FilterBase> m_filter;
  size_t m_pinCount = 0;
  LONG m_version = 0;
  // Identity of pins already handed out since the last Reset, so that Next after a change skips them.
  std::vector<IPin*> m_seen;
};
