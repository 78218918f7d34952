// Shared helpers of the platform tests: a fixture that initialises COM and checks for leaked objects, a node
// bound through the system device enumerator, and a graph of one node and the recording sink.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/dshow.h"
#include "platform/emulator_control.h"
#include "platform/media_type.h"
#include "tests/platform/test_sink.h"

// The leak check runs in the destructor, after a derived fixture's members have released their objects.
class PlatformTest : public ::testing::Test {
 protected:
  PlatformTest() {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    emulator::SetTracePath("");
  }
  ~PlatformTest() override {
    CoUninitialize();
    EXPECT_EQ(PnxLiveComObjectCount(), 0) << "COM objects leaked";
    emulator::UseEnvironmentConfiguration();
  }
};

inline const wchar_t* kHdmi1 = L"Brelvon HDMI-1 / Multiview";

// A new instance of clsid asked for iid; empty on failure.
template <typename T>
ComPtr<T> Create(REFCLSID clsid, REFIID iid) {
  ComPtr<T> object;
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.ReceiveVoid());
  return object;
}

// Binds the video input node with that friendly name as a filter; empty when there is none.
inline ComPtr<IBaseFilter> BindNode(const std::wstring& wanted) {
  auto devEnum = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
  ComPtr<IEnumMoniker> monikers;
  ComPtr<IBaseFilter> filter;
  if (!devEnum || devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0) != S_OK) {
    return filter;
  }
  for (ComPtr<IMoniker> moniker; !filter && monikers->Next(1, moniker.Receive(), nullptr) == S_OK;) {
    ComPtr<IPropertyBag> bag;
    VARIANT name;
    VariantInit(&name);
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid())) &&
        SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && wanted == name.bstrVal) {
      moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid());
    }
    VariantClear(&name);
  }
  return filter;
}

// One emulated node connected to the recording sink in a graph.
class GraphTest : public PlatformTest {
 protected:
  void BuildConnected(const char* config) {
    ASSERT_TRUE(emulator::LoadConfigurationText(config));
    ASSERT_TRUE(m_graph = Create<IFilterGraph2>(CLSID_FilterGraph, IID_IFilterGraph2));
    ASSERT_EQ(m_graph.As(IID_IMediaControl, &m_control), S_OK);
    ASSERT_TRUE(m_source = BindNode(kHdmi1));
    ASSERT_TRUE(SUCCEEDED(m_graph->AddFilter(m_source.Get(), kHdmi1)));
    auto builder = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    ASSERT_EQ(builder->FindPin(m_source.Get(), PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0, m_out.Receive()), S_OK);
    m_sink = TestSink::Make();
    ASSERT_EQ(m_graph->AddFilter(m_sink->Filter(), L"Video Sink"), S_OK);
    ASSERT_EQ(m_graph->ConnectDirect(m_out.Get(), m_sink->Pin(), nullptr), S_OK);
  }
  // Runs until count samples arrived, then stops.
  void Capture(size_t count) {
    ASSERT_EQ(m_control->Run(), S_OK);
    EXPECT_TRUE(m_sink->WaitForSamples(count, std::chrono::seconds(10)));
    ASSERT_EQ(m_control->Stop(), S_OK);
  }

  // Declared first, released last: the sink outlives the graph that holds it.
  ComPtr<TestSink> m_sink;
  ComPtr<IFilterGraph2> m_graph;
  ComPtr<IMediaControl> m_control;
  ComPtr<IBaseFilter> m_source;
  ComPtr<IPin> m_out;
};
