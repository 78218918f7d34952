// Placeholder until the emulator library lands: the default configuration's four node names, no filter.
#include "tools/simdevice/emulator_nodes.h"

std::vector<std::wstring> EmulatorNodeNames() {
  return {L"Brelvon HDMI-1 / Multiview", L"Brelvon HDMI-2 / Multiview", L"Brelvon HDMI-3 / Multiview",
          L"Brelvon HDMI-4 / Multiview"};
}

HRESULT CreateEmulatorNodeFilter(size_t, IBaseFilter** filter) {
  if (!filter) return E_POINTER;
  *filter = nullptr;
  return E_NOTIMPL;
}
