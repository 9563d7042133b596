#include "convert/BuildGraph.h"
#include "filters/Adopt.h"
#include "filters/BaseFilter.h"
#include "filters/ClassFactory.h"
#include "filters/InputPin.h"
#include "filters/OutputPin.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace {

// Small filters for the cases the stand-ins cannot show. Pins of subtype A connect to A, B to B;
// nothing takes Lonely.
enum Kind { Source, Sink, Picky, Converter, LonelySource, Recording, Mux, Kinds };
enum Subtype { A = 1, B, Lonely };

GUID TestGuid(unsigned long n) { return {0x5e1f0000 + n, 0x1111, 0x4a4a, {0x80, 0, 0, 0, 0, 0, 0, 0x01}}; }
CLSID ClassOf(Kind kind) { return TestGuid(0x100 + kind); }

struct PinLayout {
    const wchar_t* name;
    PIN_DIRECTION direction;
    Subtype subtype;
};
const std::vector<PinLayout> Layouts[Kinds] = {
    {{L"Out 1", PINDIR_OUTPUT, A}, {L"Out 2", PINDIR_OUTPUT, A}},
    {{L"In 1", PINDIR_INPUT, A}, {L"In 2", PINDIR_INPUT, A}},
    {{L"Picky In", PINDIR_INPUT, B}},
    {{L"In", PINDIR_INPUT, A}, {L"Out", PINDIR_OUTPUT, B}},
    {{L"Out", PINDIR_OUTPUT, Lonely}},
    {{L"Audio 1", PINDIR_OUTPUT, A}, {L"Audio 2", PINDIR_OUTPUT, A}, {L"Audio 3", PINDIR_OUTPUT, A},
     {L"Audio 4", PINDIR_OUTPUT, A}},
    {{L"Audio In", PINDIR_INPUT, A}, {L"Audio In 2", PINDIR_INPUT, A}, {L"Audio In 3", PINDIR_INPUT, A}},
};

HRESULT Accept(Subtype subtype, const AM_MEDIA_TYPE& type)
{
    return type.majortype == TestGuid(0) && type.subtype == TestGuid(subtype) ? S_OK : S_FALSE;
}

class CTestInputPin final : public CBaseInputPin {
public:
    CTestInputPin(CBaseFilter* filter, const PinLayout& layout) : CBaseInputPin(filter, layout.name), subtype_(layout.subtype) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override { return Accept(subtype_, type); }

protected:
    HRESULT OnReceive(IMediaSample*) override { return S_OK; }

private:
    const Subtype subtype_;
};

class CTestOutputPin final : public CBaseOutputPin {
public:
    CTestOutputPin(CBaseFilter* filter, const PinLayout& layout) : CBaseOutputPin(filter, layout.name), subtype_(layout.subtype) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override { return Accept(subtype_, type); }
    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        if (index == 0)
            type = CMediaType(TestGuid(0), TestGuid(subtype_));
        return index == 0 ? S_OK : VFW_S_NO_MORE_ITEMS;
    }

protected:
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override { properties = {1, 16, 1, 0}; }

private:
    const Subtype subtype_;
};

class CTestFilter final : public CBaseFilter {
public:
    explicit CTestFilter(Kind kind) : CBaseFilter(ClassOf(kind))
    {
        for (const PinLayout& pin : Layouts[kind]) {
            if (pin.direction == PINDIR_INPUT)
                pins_.push_back(std::make_unique<CTestInputPin>(this, pin));
            else
                pins_.push_back(std::make_unique<CTestOutputPin>(this, pin));
        }
    }

    int PinCount() override { return static_cast<int>(pins_.size()); }
    CBasePin* PinAt(int index) override { return pins_[static_cast<size_t>(index)].get(); }

    template <int K>
    static HRESULT Create(IUnknown** object)
    {
        *object = static_cast<IBaseFilter*>(new CTestFilter(static_cast<Kind>(K)));
        return S_OK;
    }

private:
    std::vector<std::unique_ptr<CBasePin>> pins_;
};

const FilterCreator Creators[Kinds] = {&CTestFilter::Create<0>, &CTestFilter::Create<1>, &CTestFilter::Create<2>,
                                         &CTestFilter::Create<3>, &CTestFilter::Create<4>, &CTestFilter::Create<5>,
                                         &CTestFilter::Create<6>};

std::string Clsid(Kind kind)
{
    wchar_t text[64] = {};
    ::StringFromGUID2(ClassOf(kind), text, 64);
    return testing_support::Utf8(text);
}

std::string F(const std::string& id, Kind kind) { return "\t<FILTER ID=\"" + id + "\" clsid=\"" + Clsid(kind) + "\">"; }

std::string C(const std::string& src, const std::string& srcpin, const std::string& dest, const std::string& destpin,
              bool direct = true)
{
    return std::string("\t<connect direct=\"") + (direct ? "yes" : "no") + "\" src=\"" + src + "\" srcpin=\"" + srcpin
        + "\" dest=\"" + dest + "\" destpin=\"" + destpin + "\"/>";
}

// "filter:pin"
std::string NameOf(IPin* pin)
{
    PIN_INFO pinInfo = {};
    pin->QueryPinInfo(&pinInfo);
    const ComPtr<IBaseFilter> filter = Adopt(pinInfo.pFilter);
    FILTER_INFO filterInfo = {};
    filter->QueryFilterInfo(&filterInfo);
    const ComPtr<IFilterGraph> graph = Adopt(filterInfo.pGraph);
    return testing_support::Utf8(filterInfo.achName) + ":" + testing_support::Utf8(pinInfo.achName);
}

const wchar_t ReportStart[] = L"Converting : C:\\in.dvr-ms";
const char NotAdded[] = "One or more DS filters couldn't be added to the graph.";
const char NoConnect[] = "\nCouldn't connect one or more pins.";
const char AutoRender[] = "\nCouldn't find some pins... trying Auto-Render";

class BuildGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        for (int kind = 0; kind < Kinds; ++kind) {
            ComPtr<IClassFactory> factory = Adopt<IClassFactory>(new CFilterClassFactory(Creators[kind]));
            DWORD cookie = 0;
            ASSERT_EQ(::CoRegisterClassObject(ClassOf(static_cast<Kind>(kind)), factory.Get(), CLSCTX_INPROC_SERVER,
                                              REGCLS_MULTIPLEUSE, &cookie),
                      S_OK);
            cookies_.push_back(cookie);
        }
        NewGraph();
    }

    void TearDown() override
    {
        graph_.Reset();
        for (DWORD cookie : cookies_)
            ::CoRevokeClassObject(cookie);
    }

    void NewGraph()
    {
        report_ = ReportStart;
        ASSERT_EQ(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_)), S_OK);
    }

    HRESULT Build(const std::vector<std::string>& lines)
    {
        GraphDescription description;
        for (const std::string& line : lines) {
            GraphEntry entry;
            EXPECT_TRUE(ParseGraphLine(line, entry)) << line;
            description.Entries.push_back(entry);
        }
        return BuildGraphFromDescription(graph_.Get(), description, L"C:\\in.dvr-ms", L"D:\\out.mpg", report_);
    }

    std::string Messages() const { return testing_support::Utf8(report_.substr(wcslen(ReportStart))); }

    // "out>in, out>in": the graph's connections, sorted. (A filter added after a failure would give
    // the build its success.)
    std::string Links()
    {
        std::set<std::string> links;
        ComPtr<IEnumFilters> list;
        EXPECT_EQ(graph_->EnumFilters(&list), S_OK);
        ComPtr<IBaseFilter> filter;
        while (list->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            ComPtr<IEnumPins> pins;
            filter->EnumPins(&pins);
            ComPtr<IPin> pin, peer;
            PIN_DIRECTION direction;
            while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
                if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_INPUT
                    && SUCCEEDED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf())))
                    links.insert(NameOf(peer.Get()) + ">" + NameOf(pin.Get()));
            }
        }
        std::string text;
        for (const std::string& link : links)
            text += (text.empty() ? "" : ", ") + link;
        return text;
    }

    ScopedComInit com_;
    std::vector<DWORD> cookies_;
    ComPtr<IGraphBuilder> graph_;
    std::wstring report_;
};

} // namespace

TEST_F(BuildGraphTest, EntriesActInOrderUntilTheFirstFails)
{
    const std::string source = Clsid(Source);
    const std::string bothRendered = "Reader:Out 1>Writer:In 1, Reader:Out 2>Writer:In 2";
    const struct {
        std::vector<std::string> lines;
        bool builds;
        std::string messages;
        std::string links;
    } cases[] = {
        {{}, true, "", ""},
        // Not a class identifier: the message follows the text before it without a line break.
        {{F("Reader", Source), "<FILTER ID=\"Bad\" clsid=\"{not-a-clsid}\">", F("Writer", Sink)}, false, NotAdded, ""},
        // Names are neither unique nor required: a filter without ID is found by its clsid text.
        {{F("Twin", Sink), F("Twin", Sink), "<FILTER clsid=\"" + source + "\">", C(source, "Out 1", "Twin", "In 1")},
         true, "", source + ":Out 1>Twin:In 1"},
        {{F("Reader", Source), C("Reader", "Out 1", "Writer", "In 1"), F("Writer", Sink)}, false, NoConnect, ""},
        // "DVR Out - 2" has no fallback: the source's outputs are rendered into the free inputs, and a
        // later entry whose destination the render fed succeeds in silence.
        {{F("Reader", Source), F("Writer", Sink), C("Reader", "DVR Out - 2", "Writer", "In 1"),
          C("Reader", "Missing", "Writer", "In 2")},
         true, AutoRender, bothRendered},
        {{F("Lonely", LonelySource), F("Writer", Sink), C("Lonely", "Missing", "Writer", "In 1")}, false,
         std::string(AutoRender) + NoConnect, ""},
        // A refused connection is rescued by rendering the output, and building goes on.
        {{F("Reader", Source), F("Picky", Picky), F("Writer", Sink), C("Reader", "Out 1", "Picky", "Picky In"),
          C("Reader", "Out 2", "Writer", "In 2")},
         true, "\nSuccessfully renedered pin Out 1", bothRendered},
        {{F("Lonely", LonelySource), F("Writer", Sink), C("Lonely", "Out", "Writer", "In 1"), F("Later", Sink)}, false,
         NoConnect, ""},
        // Only an indirect connection may pass through another filter.
        {{F("Reader", Source), F("Converter", Converter), F("Picky", Picky),
          C("Reader", "Out 1", "Picky", "Picky In", false)},
         true, "", "Converter:Out>Picky:Picky In, Reader:Out 1>Converter:In"},
        // One audio connection extends to every further "Audio N" the source has, into the further
        // inputs the destination has ("Audio In 2" on), from where the entry starts and while both last.
        {{F("Rec", Recording), F("Mux", Mux), C("Rec", "Audio 1", "Mux", "Audio In")},
         true, "", "Rec:Audio 1>Mux:Audio In, Rec:Audio 2>Mux:Audio In 2, Rec:Audio 3>Mux:Audio In 3"},
        {{F("Rec", Recording), F("Mux", Mux), C("Rec", "Audio 3", "Mux", "Audio In 2", false)},
         true, "", "Rec:Audio 3>Mux:Audio In 2, Rec:Audio 4>Mux:Audio In 3"},
        // Only between pins so named: a destination's own inputs stay as the description joins them.
        {{F("Rec", Recording), F("Writer", Sink), C("Rec", "Audio 1", "Writer", "In 1")}, true, "",
         "Rec:Audio 1>Writer:In 1"},
        // A description's names are UTF-8: filters are named and found in any script.
        {{F("Источник", Source), F("書き手 \U0001F4FA", Sink), C("Источник", "Out 1", "書き手 \U0001F4FA", "In 1")}, true, "",
         "Источник:Out 1>書き手 \U0001F4FA:In 1"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        NewGraph();
        EXPECT_EQ(SUCCEEDED(Build(cases[i].lines)), cases[i].builds);
        EXPECT_EQ(Messages(), cases[i].messages);
        EXPECT_EQ(Links(), cases[i].links);
    }
}
