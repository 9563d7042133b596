// The COM contract of the filter base: interfaces, null pointers, enumerators, identity and counts.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "filters/ClassFactory.h"
#include "filters/Adopt.h"
#include "filters/ModuleLock.h"
#include "framework/ScopedWin.h"
#include "tests/filters/TestFilters.h"

using Microsoft::WRL::ComPtr;
using namespace filter_tests;

namespace {

class FilterComTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        baseline_ = ModuleLockCount();
        source_ = Adopt(CTestSource::Create());
        sink_ = Adopt(CTestSink::Create());
    }

    void TearDown() override
    {
        // Nothing a test did may leave a reference behind.
        EXPECT_EQ(0u, source_.Reset());
        EXPECT_EQ(0u, sink_.Reset());
        EXPECT_EQ(baseline_, ModuleLockCount());
    }

    IPin* SourcePin() { return source_->Pin(0); }
    IPin* SinkPin() { return sink_->Pin(); }

    ScopedComInit com_;
    LONG baseline_ = 0;
    ComPtr<CTestSource> source_;
    ComPtr<CTestSink> sink_;
};

bool Offers(IUnknown* object, REFIID iid)
{
    ComPtr<IUnknown> found;
    const HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(found.GetAddressOf()));
    EXPECT_EQ(SUCCEEDED(hr), found != nullptr);
    return hr == S_OK;
}

TEST_F(FilterComTest, FiltersOfferTheirInterfacesAndNoOthers)
{
    IBaseFilter* source = source_.Get();
    EXPECT_TRUE(Offers(source, IID_IUnknown));
    EXPECT_TRUE(Offers(source, IID_IPersist));
    EXPECT_TRUE(Offers(source, IID_IMediaFilter));
    EXPECT_TRUE(Offers(source, IID_IBaseFilter));
    // Sources seek on their pins, not on the filter; and a source is no renderer.
    EXPECT_FALSE(Offers(source, IID_IMediaSeeking));
    EXPECT_FALSE(Offers(source, IID_IAMFilterMiscFlags));
    EXPECT_FALSE(Offers(source, IID_IPin));
    EXPECT_FALSE(Offers(source, IID_IFileSourceFilter));
    EXPECT_FALSE(Offers(source, IID_IMemInputPin));

    IBaseFilter* sink = sink_.Get();
    EXPECT_TRUE(Offers(sink, IID_IBaseFilter));
    EXPECT_TRUE(Offers(sink, IID_IMediaSeeking));
    EXPECT_TRUE(Offers(sink, IID_IAMFilterMiscFlags));
    EXPECT_FALSE(Offers(sink, IID_IFileSinkFilter));
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(S_OK, sink_.As(&flags));
    EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_RENDERER), flags->GetMiscFlags());

    // Every interface leads back to the same object.
    ComPtr<IUnknown> fromFilter, fromSeeking;
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, sink_.As(&fromFilter));
    ASSERT_EQ(S_OK, sink_.As(&seeking));
    ASSERT_EQ(S_OK, seeking.As(&fromSeeking));
    EXPECT_EQ(fromFilter.Get(), fromSeeking.Get());
    ComPtr<IBaseFilter> back;
    ASSERT_EQ(S_OK, flags.As(&back));
    EXPECT_EQ(sink_.Get(), static_cast<CTestSink*>(back.Get()));
}

TEST_F(FilterComTest, PinsOfferTheirInterfacesAndCountOnTheirFilter)
{
    EXPECT_TRUE(Offers(SourcePin(), IID_IPin));
    EXPECT_TRUE(Offers(SourcePin(), IID_IMediaSeeking));
    EXPECT_FALSE(Offers(SourcePin(), IID_IMemInputPin));
    EXPECT_FALSE(Offers(SourcePin(), IID_IBaseFilter));
    EXPECT_TRUE(Offers(SinkPin(), IID_IPin));
    EXPECT_TRUE(Offers(SinkPin(), IID_IMemInputPin));
    EXPECT_FALSE(Offers(SinkPin(), IID_IMediaSeeking));

    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, SinkPin()->QueryInterface(IID_PPV_ARGS(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(SinkPin()), identity.Get());
    identity.Reset();

    // A pin is part of its filter: holding the pin holds the filter.
    const ULONG before = RefCount(static_cast<IBaseFilter*>(sink_.Get()));
    ComPtr<IMemInputPin> input;
    ASSERT_EQ(S_OK, SinkPin()->QueryInterface(IID_PPV_ARGS(&input)));
    EXPECT_EQ(before + 1, RefCount(static_cast<IBaseFilter*>(sink_.Get())));
    input.Reset();
    EXPECT_EQ(before, RefCount(static_cast<IBaseFilter*>(sink_.Get())));
}

TEST_F(FilterComTest, NullPointersAreRefused)
{
    IBaseFilter* filter = source_.Get();
    EXPECT_EQ(E_POINTER, filter->QueryInterface(IID_IBaseFilter, nullptr));
    EXPECT_EQ(E_POINTER, filter->GetClassID(nullptr));
    EXPECT_EQ(E_POINTER, filter->GetState(0, nullptr));
    EXPECT_EQ(E_POINTER, filter->GetSyncSource(nullptr));
    EXPECT_EQ(E_POINTER, filter->EnumPins(nullptr));
    EXPECT_EQ(E_POINTER, filter->FindPin(L"Out", nullptr));
    IPin* pin = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(E_POINTER, filter->FindPin(nullptr, &pin));
    EXPECT_EQ(nullptr, pin);
    EXPECT_EQ(E_POINTER, filter->QueryFilterInfo(nullptr));
    EXPECT_EQ(E_POINTER, filter->QueryVendorInfo(nullptr));

    for (IPin* tested : {SourcePin(), SinkPin()}) {
        EXPECT_EQ(E_POINTER, tested->QueryInterface(IID_IPin, nullptr));
        EXPECT_EQ(E_POINTER, tested->Connect(nullptr, nullptr));
        EXPECT_EQ(E_POINTER, tested->ReceiveConnection(nullptr, nullptr));
        EXPECT_EQ(E_POINTER, tested->ConnectedTo(nullptr));
        EXPECT_EQ(E_POINTER, tested->ConnectionMediaType(nullptr));
        EXPECT_EQ(E_POINTER, tested->QueryPinInfo(nullptr));
        EXPECT_EQ(E_POINTER, tested->QueryDirection(nullptr));
        EXPECT_EQ(E_POINTER, tested->QueryId(nullptr));
        EXPECT_EQ(E_POINTER, tested->QueryAccept(nullptr));
        EXPECT_EQ(E_POINTER, tested->EnumMediaTypes(nullptr));
    }

    ComPtr<IMemInputPin> input;
    ASSERT_EQ(S_OK, SinkPin()->QueryInterface(IID_PPV_ARGS(&input)));
    EXPECT_EQ(E_POINTER, input->Receive(nullptr));
    EXPECT_EQ(E_POINTER, input->GetAllocator(nullptr));
    EXPECT_EQ(E_POINTER, input->NotifyAllocator(nullptr, FALSE));
    EXPECT_EQ(E_POINTER, input->GetAllocatorRequirements(nullptr));
    long processed = 0;
    EXPECT_EQ(E_POINTER, input->ReceiveMultiple(nullptr, 1, &processed));

    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, filter->EnumPins(&pins));
    EXPECT_EQ(E_POINTER, pins->Next(1, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, pins->Clone(nullptr));
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, SourcePin()->EnumMediaTypes(&types));
    EXPECT_EQ(E_POINTER, types->Next(1, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, types->Clone(nullptr));

    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, SourcePin()->QueryInterface(IID_PPV_ARGS(&seeking)));
    EXPECT_EQ(E_POINTER, seeking->GetDuration(nullptr));
    EXPECT_EQ(E_POINTER, seeking->GetCurrentPosition(nullptr));
    EXPECT_EQ(E_POINTER, seeking->GetPositions(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, seeking->IsFormatSupported(nullptr));
    ASSERT_EQ(S_OK, sink_.As(&seeking));
    EXPECT_EQ(E_POINTER, seeking->GetDuration(nullptr));
    EXPECT_EQ(E_POINTER, seeking->GetCapabilities(nullptr));
}

TEST_F(FilterComTest, PinEnumeratorGivesPinsInOrderThenFalse)
{
    source_->AddPin(L"Second");
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, source_->EnumPins(&pins));

    IPin* got[3] = {};
    ULONG fetched = 99;
    ASSERT_EQ(S_OK, pins->Next(1, got, &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(static_cast<IPin*>(source_->Pin(0)), got[0]);
    got[0]->Release();

    ComPtr<IEnumPins> clone;
    ASSERT_EQ(S_OK, pins->Clone(&clone));
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, got, nullptr));
    ASSERT_EQ(S_FALSE, pins->Next(3, got, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(static_cast<IPin*>(source_->Pin(1)), got[0]);
    got[0]->Release();
    EXPECT_EQ(S_FALSE, pins->Next(1, got, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_FALSE, pins->Skip(1));

    // The clone goes on from where the original was when cloned.
    ASSERT_EQ(S_OK, clone->Next(1, got, nullptr));
    EXPECT_EQ(static_cast<IPin*>(source_->Pin(1)), got[0]);
    got[0]->Release();

    ASSERT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Skip(2));
    EXPECT_EQ(S_FALSE, pins->Next(1, got, nullptr));

    // A change of pins makes open enumerators stale until they are reset.
    source_->AddPin(L"Third");
    ASSERT_EQ(S_OK, pins->Reset());
    ASSERT_EQ(VFW_E_ENUM_OUT_OF_SYNC, clone->Next(1, got, nullptr));
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, clone->Skip(1));
    ASSERT_EQ(S_OK, clone->Reset());
    EXPECT_EQ(S_OK, clone->Skip(3));
    EXPECT_EQ(S_FALSE, clone->Next(1, got, &fetched));
    ASSERT_EQ(S_OK, pins->Next(3, got, &fetched));
    EXPECT_EQ(3u, fetched);
    for (ULONG i = 0; i < fetched; ++i)
        got[i]->Release();
}

TEST_F(FilterComTest, MediaTypeEnumeratorGivesThePinsTypesThenFalse)
{
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, SourcePin()->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* got[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(S_FALSE, types->Next(2, got, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(MEDIATYPE_Video, got[0]->majortype);
    EXPECT_EQ(MEDIASUBTYPE_None, got[0]->subtype);
    DeleteMediaType(got[0]);
    EXPECT_EQ(S_FALSE, types->Next(1, got, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_FALSE, types->Skip(1));
    ASSERT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Skip(1));
    ASSERT_EQ(S_OK, types->Reset());
    ComPtr<IEnumMediaTypes> clone;
    ASSERT_EQ(S_OK, types->Clone(&clone));
    ASSERT_EQ(S_OK, clone->Next(1, got, nullptr));
    DeleteMediaType(got[0]);

    // The sink prefers nothing; it only judges what it is offered.
    ComPtr<IEnumMediaTypes> none;
    ASSERT_EQ(S_OK, SinkPin()->EnumMediaTypes(&none));
    EXPECT_EQ(S_FALSE, none->Next(1, got, &fetched));
    EXPECT_EQ(0u, fetched);
}

TEST_F(FilterComTest, PinsTellWhoTheyAre)
{
    PIN_INFO info = {};
    ASSERT_EQ(S_OK, SourcePin()->QueryPinInfo(&info));
    EXPECT_STREQ(L"Out", info.achName);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_EQ(static_cast<IBaseFilter*>(source_.Get()), info.pFilter);
    info.pFilter->Release();

    PIN_DIRECTION direction = PINDIR_OUTPUT;
    ASSERT_EQ(S_OK, SinkPin()->QueryDirection(&direction));
    EXPECT_EQ(PINDIR_INPUT, direction);
    LPWSTR id = nullptr;
    ASSERT_EQ(S_OK, SinkPin()->QueryId(&id));
    EXPECT_STREQ(L"In", id);
    ::CoTaskMemFree(id);

    ComPtr<IPin> found;
    ASSERT_EQ(S_OK, sink_->FindPin(L"In", &found));
    EXPECT_EQ(SinkPin(), found.Get());
    found.Reset();
    EXPECT_EQ(VFW_E_NOT_FOUND, sink_->FindPin(L"in", &found));
    EXPECT_EQ(nullptr, found.Get());

    CLSID classId = GUID_NULL;
    ASSERT_EQ(S_OK, sink_->GetClassID(&classId));
    EXPECT_EQ(TestSinkClsid, classId);
}

TEST_F(FilterComTest, GraphReferenceIsWeakButFilterInfoCountsIt)
{
    ComPtr<CFakeGraph> graph;
    graph = Adopt(new CFakeGraph());
    const ULONG before = graph->References();
    ASSERT_EQ(S_OK, sink_->JoinFilterGraph(graph.Get(), L"Renderer"));
    EXPECT_EQ(before, graph->References());

    FILTER_INFO info = {};
    ASSERT_EQ(S_OK, sink_->QueryFilterInfo(&info));
    EXPECT_STREQ(L"Renderer", info.achName);
    EXPECT_EQ(static_cast<IFilterGraph*>(graph.Get()), info.pGraph);
    EXPECT_EQ(before + 1, graph->References());
    info.pGraph->Release();

    ASSERT_EQ(S_OK, sink_->JoinFilterGraph(nullptr, nullptr));
    ASSERT_EQ(S_OK, sink_->QueryFilterInfo(&info));
    EXPECT_EQ(nullptr, info.pGraph);
    EXPECT_STREQ(L"", info.achName);
    // Outside a graph there is nobody to tell.
    EXPECT_EQ(E_UNEXPECTED, sink_->NotifyEvent(EC_COMPLETE, S_OK, 0));
    EXPECT_EQ(0u, graph.Reset());
}

TEST_F(FilterComTest, SyncSourceIsHeldUntilReplaced)
{
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&clock)));
    ComPtr<IReferenceClock> got;
    ASSERT_EQ(S_OK, source_->GetSyncSource(&got));
    EXPECT_EQ(nullptr, got.Get());

    const ULONG before = RefCount(clock.Get());
    ASSERT_EQ(S_OK, source_->SetSyncSource(clock.Get()));
    EXPECT_EQ(before + 1, RefCount(clock.Get()));
    ASSERT_EQ(S_OK, source_->GetSyncSource(&got));
    EXPECT_EQ(clock.Get(), got.Get());
    got.Reset();
    ASSERT_EQ(S_OK, source_->SetSyncSource(nullptr));
    EXPECT_EQ(before, RefCount(clock.Get()));
}

TEST_F(FilterComTest, ClassFactoryMakesFiltersAndCountsLocks)
{
    ComPtr<IClassFactory> factory;
    factory = Adopt(new CFilterClassFactory([](IUnknown** object) -> HRESULT {
        *object = static_cast<IBaseFilter*>(CTestSink::Create());
        return S_OK;
    }));
    ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, sink_.As(&outer));
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(outer.Get(), IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf())));
    outer.Reset();
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr));

    const LONG locks = ModuleLockCount();
    ComPtr<IFileSinkFilter> wrong;
    EXPECT_EQ(E_NOINTERFACE,
              factory->CreateInstance(nullptr, IID_IFileSinkFilter, reinterpret_cast<void**>(wrong.GetAddressOf())));
    EXPECT_EQ(nullptr, wrong.Get());
    EXPECT_EQ(locks, ModuleLockCount()); // the refused object is gone again

    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf())));
    CLSID classId = GUID_NULL;
    filter->GetClassID(&classId);
    EXPECT_EQ(TestSinkClsid, classId);
    EXPECT_EQ(0u, filter.Reset());

    ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(locks + 1, ModuleLockCount());
    ASSERT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(locks, ModuleLockCount());
    EXPECT_EQ(0u, factory.Reset());
}

} // namespace
