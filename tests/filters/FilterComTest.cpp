// The COM contract of the filter base: interfaces, null pointers, enumerators, identity and counts.

#include "filters/ClassFactory.h"
#include "tests/filters/TestFilters.h"

#include <iterator>
#include <utility>

using namespace filter_tests;

namespace {

using FilterComTest = FilterTest;

bool Offers(IUnknown* object, REFIID iid)
{
    ComPtr<IUnknown> found;
    const HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(found.GetAddressOf()));
    EXPECT_EQ(SUCCEEDED(hr), found != nullptr);
    return hr == S_OK;
}

TEST_F(FilterComTest, FiltersAndPinsOfferTheirInterfacesAndIdentity)
{
    IUnknown* source = static_cast<IBaseFilter*>(source_.Get());
    IUnknown* sink = static_cast<IBaseFilter*>(sink_.Get());
    IUnknown* output = source_->Pin(0);
    IUnknown* input = static_cast<IPin*>(sink_->InputPin());
    const struct {
        IUnknown* object;
        const IID& iid;
        bool offered;
    } cases[] = {
        {source, IID_IUnknown, true}, {source, IID_IPersist, true}, {source, IID_IMediaFilter, true},
        {source, IID_IBaseFilter, true},
        // Sources seek on their pins, not on the filter; and a source is no renderer.
        {source, IID_IMediaSeeking, false}, {source, IID_IAMFilterMiscFlags, false}, {source, IID_IPin, false},
        {source, IID_IFileSourceFilter, false}, {source, IID_IMemInputPin, false},
        {sink, IID_IBaseFilter, true}, {sink, IID_IMediaSeeking, true}, {sink, IID_IAMFilterMiscFlags, true},
        {sink, IID_IFileSinkFilter, false},
        {output, IID_IPin, true}, {output, IID_IMediaSeeking, true}, {output, IID_IMemInputPin, false},
        {output, IID_IBaseFilter, false},
        {input, IID_IPin, true}, {input, IID_IMemInputPin, true}, {input, IID_IMediaSeeking, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].offered, Offers(cases[i].object, cases[i].iid)) << "case " << i;

    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(S_OK, sink_.As(&flags));
    EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_RENDERER), flags->GetMiscFlags());
    // Every interface leads back to the same object.
    ComPtr<IUnknown> fromFilter, fromSeeking, fromPin;
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, sink_.As(&fromFilter));
    ASSERT_EQ(S_OK, sink_.As(&seeking));
    ASSERT_EQ(S_OK, seeking.As(&fromSeeking));
    EXPECT_EQ(fromFilter.Get(), fromSeeking.Get());
    ASSERT_EQ(S_OK, input->QueryInterface(IID_PPV_ARGS(&fromPin)));
    EXPECT_EQ(input, fromPin.Get());
    fromPin.Reset();

    PIN_INFO info = {};
    ASSERT_EQ(S_OK, source_->Pin(0)->QueryPinInfo(&info));
    EXPECT_STREQ(L"Out", info.achName);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_EQ(static_cast<IBaseFilter*>(source_.Get()), info.pFilter);
    info.pFilter->Release();
    ComPtr<IPin> found;
    ASSERT_EQ(S_OK, sink_->FindPin(L"In", &found));
    EXPECT_EQ(input, found.Get());
    EXPECT_EQ(VFW_E_NOT_FOUND, sink_->FindPin(L"in", found.ReleaseAndGetAddressOf()));
    EXPECT_EQ(nullptr, found.Get());

    // A pin is part of its filter: holding the pin holds the filter.
    const ULONG before = RefCount(sink);
    ComPtr<IMemInputPin> memInput;
    ASSERT_EQ(S_OK, input->QueryInterface(IID_PPV_ARGS(&memInput)));
    EXPECT_EQ(before + 1, RefCount(sink));
    memInput.Reset();
    EXPECT_EQ(before, RefCount(sink));
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

    for (IPin* tested : {static_cast<IPin*>(source_->Pin(0)), static_cast<IPin*>(sink_->InputPin())}) {
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

    IMemInputPin* input = sink_->InputPin();
    EXPECT_EQ(E_POINTER, input->Receive(nullptr));
    EXPECT_EQ(E_POINTER, input->GetAllocator(nullptr));
    long processed = 0;
    EXPECT_EQ(E_POINTER, input->ReceiveMultiple(nullptr, 1, &processed));
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, filter->EnumPins(&pins));
    EXPECT_EQ(E_POINTER, pins->Next(1, nullptr, nullptr));
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, source_->Pin(0)->EnumMediaTypes(&types));
    EXPECT_EQ(E_POINTER, types->Next(1, nullptr, nullptr));
    ComPtr<IMediaSeeking> renderer;
    ASSERT_EQ(S_OK, sink_.As(&renderer));
    for (IMediaSeeking* seeking : {static_cast<IMediaSeeking*>(&source_->Pin(0)->Seeking()), renderer.Get()}) {
        EXPECT_EQ(E_POINTER, seeking->GetDuration(nullptr));
        EXPECT_EQ(E_POINTER, seeking->GetCurrentPosition(nullptr));
    }
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

    // A change of pins makes open enumerators stale until they are reset.
    source_->AddPin(L"Third");
    ASSERT_EQ(VFW_E_ENUM_OUT_OF_SYNC, clone->Next(1, got, nullptr));
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, clone->Skip(1));
    ASSERT_EQ(S_OK, clone->Reset());
    EXPECT_EQ(S_OK, clone->Skip(3));
    EXPECT_EQ(S_FALSE, clone->Next(1, got, &fetched));
    ASSERT_EQ(S_OK, pins->Reset());
    ASSERT_EQ(S_OK, pins->Next(3, got, &fetched));
    EXPECT_EQ(3u, fetched);
    for (IPin* each : got)
        each->Release();
}

TEST_F(FilterComTest, MediaTypeEnumeratorGivesThePinsTypesThenFalse)
{
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, source_->Pin(0)->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* got[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(S_FALSE, types->Next(2, got, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(MEDIATYPE_Video, got[0]->majortype);
    DeleteMediaType(got[0]);
    EXPECT_EQ(S_FALSE, types->Skip(1));
    ASSERT_EQ(S_OK, types->Reset());
    ComPtr<IEnumMediaTypes> clone;
    ASSERT_EQ(S_OK, types->Clone(&clone));
    ASSERT_EQ(S_OK, clone->Next(1, got, nullptr));
    DeleteMediaType(got[0]);

    // The renderer prefers nothing; it only judges what it is offered.
    ASSERT_EQ(S_OK, sink_->InputPin()->EnumMediaTypes(&types));
    EXPECT_EQ(S_FALSE, types->Next(1, got, &fetched));
    EXPECT_EQ(0u, fetched);
}

TEST_F(FilterComTest, GraphAndClockReferencesAreKeptAsTheContractSays)
{
    // The graph is held weakly, but the filter information hands out a counted reference.
    const ULONG before = graph_->References();
    ASSERT_EQ(S_OK, sink_->JoinFilterGraph(graph_.Get(), L"Renderer"));
    EXPECT_EQ(before, graph_->References());
    FILTER_INFO info = {};
    ASSERT_EQ(S_OK, sink_->QueryFilterInfo(&info));
    EXPECT_STREQ(L"Renderer", info.achName);
    EXPECT_EQ(static_cast<IFilterGraph*>(graph_.Get()), info.pGraph);
    EXPECT_EQ(before + 1, graph_->References());
    info.pGraph->Release();
    ASSERT_EQ(S_OK, sink_->JoinFilterGraph(nullptr, nullptr));
    ASSERT_EQ(S_OK, sink_->QueryFilterInfo(&info));
    EXPECT_EQ(nullptr, info.pGraph);
    EXPECT_EQ(E_UNEXPECTED, sink_->NotifyEvent(EC_COMPLETE, S_OK, 0)); // nobody to tell

    // The sync source is held until replaced.
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&clock)));
    const ULONG clockCount = RefCount(clock.Get());
    ASSERT_EQ(S_OK, source_->SetSyncSource(clock.Get()));
    EXPECT_EQ(clockCount + 1, RefCount(clock.Get()));
    ComPtr<IReferenceClock> got;
    ASSERT_EQ(S_OK, source_->GetSyncSource(&got));
    EXPECT_EQ(clock.Get(), got.Get());
    got.Reset();
    ASSERT_EQ(S_OK, source_->SetSyncSource(nullptr));
    EXPECT_EQ(clockCount, RefCount(clock.Get()));
}

TEST_F(FilterComTest, ClassFactoryMakesFiltersAndCountsLocks)
{
    ComPtr<IClassFactory> factory = Adopt<IClassFactory>(new CFilterClassFactory([](IUnknown** object) -> HRESULT {
        *object = static_cast<IBaseFilter*>(new CTestSink());
        return S_OK;
    }));
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(static_cast<IBaseFilter*>(sink_.Get()), IID_IBaseFilter,
                                                             reinterpret_cast<void**>(filter.GetAddressOf())));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr));
    const LONG locks = ModuleLockCount();
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IFileSinkFilter, reinterpret_cast<void**>(filter.GetAddressOf())));
    EXPECT_EQ(nullptr, filter.Get());
    EXPECT_EQ(locks, ModuleLockCount()); // the refused object is gone again
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf())));
    EXPECT_EQ(0u, filter.Reset());
    ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(locks + 1, ModuleLockCount());
    ASSERT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(locks, ModuleLockCount());
    EXPECT_EQ(0u, factory.Reset());
}

TEST(MediaTypeTest, CopiesAreDeepAndPartialTypesMatchOnWhatTheyGive)
{
    AM_MEDIA_TYPE raw = {MEDIATYPE_Video, MEDIASUBTYPE_RGB24, TRUE, FALSE, 0, FORMAT_VideoInfo, nullptr, 7,
                         reinterpret_cast<BYTE*>(const_cast<char*>("format"))};
    CMediaType original(raw);
    ASSERT_NE(raw.pbFormat, original.Get().pbFormat); // the literal is not the holder's
    CMediaType copy = original;
    EXPECT_NE(original.Get().pbFormat, copy.Get().pbFormat);
    EXPECT_STREQ("format", reinterpret_cast<const char*>(copy.Get().pbFormat));
    copy = copy; // no self-inflicted free
    const BYTE* block = copy.Get().pbFormat;
    CMediaType moved = std::move(copy);
    EXPECT_EQ(block, moved.Get().pbFormat);
    EXPECT_TRUE(copy.IsEmpty());
    AM_MEDIA_TYPE* handedOut = CreateMediaTypeCopy(moved.Get());
    ASSERT_NE(nullptr, handedOut);
    EXPECT_NE(moved.Get().pbFormat, handedOut->pbFormat);
    DeleteMediaType(handedOut);

    // A partial type matches on what it gives.
    AM_MEDIA_TYPE pattern = {};
    EXPECT_TRUE(MediaTypeMatches(pattern, original.Get()));
    EXPECT_FALSE(IsFullySpecified(pattern));
    for (const GUID* subtype : {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24}) {
        pattern.majortype = MEDIATYPE_Video;
        pattern.subtype = *subtype;
        EXPECT_EQ(*subtype == MEDIASUBTYPE_RGB24, MediaTypeMatches(pattern, original.Get()));
    }
    pattern.formattype = FORMAT_WaveFormatEx;
    EXPECT_FALSE(MediaTypeMatches(pattern, original.Get()));
    pattern.formattype = FORMAT_VideoInfo;
    EXPECT_TRUE(IsFullySpecified(pattern));
    pattern.majortype = MEDIATYPE_Audio;
    EXPECT_FALSE(MediaTypeMatches(pattern, original.Get()));
}

} // namespace
