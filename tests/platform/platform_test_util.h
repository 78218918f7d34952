// Shared helpers of the platform tests: a fixture that initialises COM and checks for leaked objects, and
// short ways to reach the emulated nodes through the system device enumerator.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/dshow.h"
#include "platform/emulator_control.h"
#include "platform/media_type.h"

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    emulator::SetTracePath("");
  }
  void TearDown() override {
    CoUninitialize();
    EXPECT_EQ(PnxLiveComObjectCount(), 0) << "COM objects leaked";
    emulator::UseEnvironmentConfiguration();
  }
};

// Names the video input category lists, in order; hr is the class enumerator's answer.
inline std::vector<std::wstring> ListVideoInputs(HRESULT* hr = nullptr) {
  std::vector<std::wstring> names;
  ComPtr<ICreateDevEnum> devEnum;
  HRESULT result = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                    devEnum.ReceiveVoid());
  if (SUCCEEDED(result)) {
    ComPtr<IEnumMoniker> monikers;
    result = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0);
    if (result == S_OK) {
      ComPtr<IMoniker> moniker;
      while (monikers->Next(1, moniker.Receive(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        VARIANT name;
        VariantInit(&name);
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid())) &&
            SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr))) {
          names.push_back(name.bstrVal);
        }
        VariantClear(&name);
      }
    }
  }
  if (hr) *hr = result;
  return names;
}

// Binds the node with that friendly name as a filter; empty when there is none.
inline ComPtr<IBaseFilter> BindNode(const std::wstring& wanted) {
  ComPtr<ICreateDevEnum> devEnum;
  ComPtr<IEnumMoniker> monikers;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              devEnum.ReceiveVoid())) ||
      devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0) != S_OK) {
    return nullptr;
  }
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.Receive(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    VARIANT name;
    VariantInit(&name);
    bool match = SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid())) &&
                 SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && wanted == name.bstrVal;
    VariantClear(&name);
    if (!match) continue;
    ComPtr<IBaseFilter> filter;
    if (SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid()))) return filter;
  }
  return nullptr;
}

inline ComPtr<IPin> OutputPinOf(IBaseFilter* filter) {
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IPin> pin;
  if (SUCCEEDED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_ICaptureGraphBuilder2, builder.ReceiveVoid()))) {
    builder->FindPin(filter, PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0, pin.Receive());
  }
  return pin;
}

inline ComPtr<IFilterGraph2> NewGraph() {
  ComPtr<IFilterGraph2> graph;
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2, graph.ReceiveVoid());
  return graph;
}

inline const wchar_t* kHdmi1 = L"Brelvon HDMI-1 / Multiview";
