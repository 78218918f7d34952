// EnumMediaTypes: the IEnumMediaTypes handed out by PinBase::EnumMediaTypes, over the pin's GetMediaType.
// Used by one thread at a time; it holds a counted reference to its pin (and so to the pin's filter).
#pragma once

#include "platform/com_enumerator.h"
#include "platform/com_ptr.h"

class PinBase;

// After the pin's types have changed, Next, Skip and Clone answer VFW_E_ENUM_OUT_OF_SYNC until Reset.
class EnumMediaTypes final : public pnx::Enumerator<EnumMediaTypes, IEnumMediaTypes, AM_MEDIA_TYPE> {
 public:
  explicit EnumMediaTypes(PinBase* pin);

 private:
  size_t Count() override { return m_count; }
  HRESULT Make(size_t index, AM_MEDIA_TYPE** slot) override;
  bool InSync() override;
  void Restart() override;

  const ComPtr<PinBase> m_pin;
  size_t m_count = 0;  // how many types the pin offered at the start
  LONG m_version = 0;
};
