#pragma once
// Filters in Wine's own Filter Graph Manager, with the graph and every module lock gone at the end.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "filters/ModuleLock.h"
#include "base/ScopedWin.h"
#include "tests/support/TestSupport.h"

class GraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        moduleLocks_ = ModuleLockCount();
        directory_ = testing_support::MakeScratchDirectory("filter-graph");
    }

    // Derived fixtures release their filters, which must then go with their last reference, first.
    void TearDown() override { EXPECT_EQ(moduleLocks_, ModuleLockCount()); }

    // One of the built-in filters, made as its class factory makes it.
    static HRESULT MakeFilter(HRESULT (*create)(IUnknown**), Microsoft::WRL::ComPtr<IBaseFilter>& filter)
    {
        Microsoft::WRL::ComPtr<IUnknown> made;
        const HRESULT hr = create(&made);
        return FAILED(hr) ? hr : made.As(&filter);
    }

    // A new graph with these filters in it; ReleaseGraph stops them and lets the graph go.
    HRESULT MakeGraph(std::initializer_list<IBaseFilter*> filters)
    {
        HRESULT hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_));
        if (SUCCEEDED(hr))
            hr = graph_.As(&control_);
        if (SUCCEEDED(hr))
            hr = graph_->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events_.GetAddressOf()));
        for (IBaseFilter* filter : filters)
            hr = SUCCEEDED(hr) ? graph_->AddFilter(filter, nullptr) : hr;
        filters_ = filters;
        return hr;
    }

    HRESULT Connect(IPin* output, IBaseFilter* to, const wchar_t* name)
    {
        Microsoft::WRL::ComPtr<IPin> input;
        HRESULT hr = to->FindPin(name, &input);
        return FAILED(hr) ? hr : graph_->ConnectDirect(output, input.Get(), nullptr);
    }

    // Takes the queued events into `events` up to the first of these codes; false when time ran out.
    bool WaitForEvent(std::initializer_list<long> codes, DWORD timeoutMs = 60000)
    {
        return testing_support::WaitUntil(
            [&] {
                long code = 0;
                LONG_PTR first = 0, second = 0;
                while (events_->GetEvent(&code, &first, &second, 0) == S_OK) {
                    events.emplace_back(code, first);
                    events_->FreeEventParams(code, first, second);
                    if (std::find(codes.begin(), codes.end(), code) != codes.end())
                        return true;
                }
                return false;
            },
            timeoutMs);
    }

    // The failure the last EC_ERRORABORT taken so far carried; S_OK when none came.
    HRESULT AbortError() const
    {
        const auto abort = std::find_if(events.rbegin(), events.rend(), [](const auto& e) { return e.first == EC_ERRORABORT; });
        return abort == events.rend() ? S_OK : static_cast<HRESULT>(abort->second);
    }

    void ReleaseGraph()
    {
        if (control_)
            control_->Stop();
        for (IBaseFilter* filter : filters_)
            filter->Stop();
        filters_.clear();
        events.clear();
        events_.Reset();
        control_.Reset();
        // The filters hold their graph weakly, so it goes, and with it their connections.
        EXPECT_EQ(0u, graph_.Reset());
    }

    ScopedComInit com_;
    LONG moduleLocks_ = 0;
    std::string directory_;
    Microsoft::WRL::ComPtr<IGraphBuilder> graph_;
    Microsoft::WRL::ComPtr<IMediaControl> control_;
    Microsoft::WRL::ComPtr<IMediaEventEx> events_;
    std::vector<std::pair<long, LONG_PTR>> events;
    std::vector<IBaseFilter*> filters_;
};
